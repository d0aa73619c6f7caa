#pragma once
// How the Windows back ends turn what a driver family reports into device records. Portable,
// so that the rules (which device is listed, in which order, with which names) are tested
// natively, with cases a real system cannot produce.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audio/AudioDevice.h"

namespace vl {

using DeviceList = std::vector<std::unique_ptr<AudioDeviceRecord>>;

// prefix + " In n" (input) or prefix + " Out n" (output) for n = 1 .. count.
std::vector<std::wstring> numberedChannelNames(const std::wstring& prefix, bool isInput, uint32_t count);

// ---- WASAPI --------------------------------------------------------------------------------

// One active endpoint as its property store answered; an empty optional is a read that failed.
struct EndpointInfo {
    std::optional<std::wstring> id;
    std::optional<std::wstring> friendlyName;
    std::optional<std::wstring> description;
    std::optional<std::vector<uint8_t>> deviceFormat;  // the raw PKEY_AudioEngine_DeviceFormat blob
    bool formFactorRead = false;
};

enum class EndpointOutcome { Listed, Skipped, EndOfDirection };

// Appends the endpoint's two records (exclusive first, then shared) or nothing: an endpoint
// whose id cannot be read ends its direction's enumeration; one whose name, description,
// device format (unreadable or unusable) or form factor cannot be read is skipped.
EndpointOutcome appendEndpointRecords(const EndpointInfo& endpoint, bool isCapture, const std::wstring& defaultId,
                                      DeviceList& devices);

// ---- DirectSound ---------------------------------------------------------------------------

struct DirectSoundDeviceInfo {
    std::wstring guidText;  // empty for the primary device
    std::wstring description;
};

// Capture devices first, then playback devices; each with two channel names.
void appendDirectSoundRecords(const std::vector<DirectSoundDeviceInfo>& capture,
                              const std::vector<DirectSoundDeviceInfo>& playback, DeviceList& devices);

// ---- Wave (MME) ----------------------------------------------------------------------------

struct WaveDeviceInfo {
    int32_t number = 0;
    bool capsRead = false;
    std::wstring productName;
    uint16_t channels = 0;
    bool supports44k16Stereo = false;  // WAVE_FORMAT_4S16
};

// Inputs (every readable device) first, then outputs (readable and 44.1 kHz 16-bit stereo).
void appendWaveRecords(const std::vector<WaveDeviceInfo>& inputs, const std::vector<WaveDeviceInfo>& outputs,
                       DeviceList& devices);

}  // namespace vl
