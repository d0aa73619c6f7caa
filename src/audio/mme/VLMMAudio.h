#pragma once
// VLMMAudio: the back end on the multimedia wave functions (Windows only). Output only: it
// plays through one waveOut device with a ring of 21 wave headers (mme::HeaderRing), starting
// playback once 11 are queued, and again after the device ran dry (an underrun, counted; only
// a refused write or a header that does not come back stops the engine); wave inputs are
// listed but never opened, so the plug-in's input is silence. The device loop runs on the thread that calls openAndStart (the coordinator's
// engine thread); the driver's callback thread marks each header it hands back and wakes the
// writer. No lock is shared between the two: each header's return is an atomic flag.

#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <memory>

#include "audio/AudioDevice.h"
#include "audio/mme/WaveRing.h"
#include "audio/mme/WaveWriter.h"

namespace vl {

class VLMMAudio : public VLAudioBase, private mme::WaveDevice {
public:
    VLMMAudio();
    ~VLMMAudio() override;

    bool openAndStart(AudioDeviceRecord* input, AudioDeviceRecord* output, RenderBlockProc callback,
                      void* user) override;
    void stop() override;
    bool matchFormats(AudioDeviceRecord* input, AudioDeviceRecord* output) override;
    bool queryDetails(AudioDeviceRecord* record, bool probe) override;

    // Times the device ran dry since the last start; any thread.
    uint32_t underruns() const { return ring.underruns(); }

    // Bounds of the waits (milliseconds).
    static constexpr DWORD kHeaderWaitMs = mme::HeaderRing::kHeaderWaitMs;
    static constexpr int kCloseNoticePolls = 60;
    static constexpr DWORD kCloseNoticePollMs = 50;

private:
    struct Header {
        WAVEHDR header{};
        std::unique_ptr<uint8_t[]> buffer;
        std::atomic<bool> back{false};  // set by the driver's callback when it hands it back
    };

    void enumerate();
    bool openDevice(const WAVEFORMATEX& format, uint32_t blockFrames, UINT deviceNumber);
    // The one close routine: every failure path and the normal end use it; it tolerates a
    // device that was never opened or headers that were never prepared.
    void closeDevice();
    static void CALLBACK waveCallback(HWAVEOUT device, UINT message, DWORD_PTR instance, DWORD_PTR p1, DWORD_PTR p2);

    // mme::WaveDevice
    uint8_t* buffer(int32_t index) override;
    bool send(int32_t index, uint32_t bytes) override;
    bool returned(int32_t index) override;
    bool waitForReturn(uint32_t ms) override;
    void restart() override;
    void pause() override;

    WAVEFORMATEX waveFormat{};
    HWAVEOUT device = nullptr;
    Header headers[mme::kHeaderCount];
    mme::HeaderRing ring;
    HANDLE event = nullptr;  // auto-reset, set on every header handed back
    bool open = false;
};

}  // namespace vl
