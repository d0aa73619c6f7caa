#pragma once
// MIDI devices, the decoded incoming message, and the abstract MIDI engine.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/RelaxedAtomic.h"

namespace vl {

// One MIDI device with its user options. The same record type fills the engine's list of
// present devices and the settings' list of remembered devices. The option fields are read
// on the MIDI callback thread while the Midi Settings dialog may change them.
struct MidiDeviceRecord {
    int32_t deviceId = -1;      // platform device number; -1 in a settings record: not present
    std::wstring identifier;    // always empty for MIDI devices
    int32_t typeCode = 1;       // the multimedia family code
    std::wstring name;          // product name (at most 31 characters)
    bool isInput = false;
    RelaxedAtomic<bool> active{false};
    RelaxedAtomic<bool> sync{false};
    RelaxedAtomic<bool> syncWhilePlaying{false};
    RelaxedAtomic<int32_t> delay{0};  // sync delay in ms, may be negative
    RelaxedAtomic<bool> filterCCMessages{false};
    RelaxedAtomic<bool> filterProgramChanges{false};
    RelaxedAtomic<int32_t> channel{0};  // 0 = all, 1..16 = only this channel
    RelaxedAtomic<int32_t> keyboardRangeLeft{0};
    RelaxedAtomic<int32_t> keyboardRangeRight{127};
};

// Identifier of the platform's default MIDI output (the MIDI mapper); -1 as a 32-bit number.
constexpr int32_t kMidiMapperId = -1;

// A decoded short message. A close notice has status and command both 0.
struct MidiMessage {
    uint8_t status = 0;   // channel messages: status with channel bits cleared; system: whole byte
    uint8_t command = 0;  // status AND 0xF0
    uint8_t channel = 0;  // status AND 0x0F
    uint8_t data1 = 0;
    uint8_t data2 = 0;
    double deltaMs = 0.0;  // ms since the previous message on any input; 0 for the first
    double timeMs = 0.0;   // arrival in ms on the engine's monotonic clock (0 = its first message)
};

using MidiHandler = void (*)(const MidiMessage* message, void* handlerValue);

class VLMidiBase {
public:
    VLMidiBase() = default;
    virtual ~VLMidiBase() = default;
    VLMidiBase(const VLMidiBase&) = delete;
    VLMidiBase& operator=(const VLMidiBase&) = delete;

    // Opens at most one input (with handler) and at most one output; either pointer may be null.
    virtual bool openDevices(const int32_t* inputDevice, const int32_t* outputDevice, MidiHandler handler,
                             void* handlerValue) = 0;
    virtual void closeDevices() = 0;
    // Sends one packed short message (byte 0 in bits 0-7) to the open output. Does nothing
    // once closeDevices has begun or when no output is open; the check and the send are one
    // step with respect to closeDevices. Called on the audio thread: never blocks.
    virtual void sendShortMessage(uint32_t message) = 0;

    MidiMessage messageRecord{};
    std::vector<std::unique_ptr<MidiDeviceRecord>> devices;
    std::atomic<bool> closed{false};
};

}  // namespace vl
