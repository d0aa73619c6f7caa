#pragma once
// VLMMAudio: the back end on the multimedia wave functions (Windows only). Output only: it
// plays through one waveOut device with a ring of 21 wave headers, starting playback once 11
// are queued; wave inputs are listed but never opened. The device loop runs on the thread that
// calls openAndStart (the coordinator's engine thread); the driver's callback thread hands
// played headers back. The lock guards the two ring indices and the two flags between them.

#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <memory>

#include "audio/AudioDevice.h"
#include "audio/mme/WaveWriter.h"

namespace vl {

class VLMMAudio : public VLAudioBase {
public:
    VLMMAudio();
    ~VLMMAudio() override;

    bool openAndStart(AudioDeviceRecord* input, AudioDeviceRecord* output, RenderBlockProc callback,
                      void* user) override;
    void stop() override;
    bool matchFormats(AudioDeviceRecord* input, AudioDeviceRecord* output) override;
    bool queryDetails(AudioDeviceRecord* record, bool probe) override;

    // Bounds of the waits (milliseconds).
    static constexpr DWORD kHeaderWaitMs = 2000;
    static constexpr int kCloseNoticePolls = 60;
    static constexpr DWORD kCloseNoticePollMs = 50;

private:
    struct Header {
        WAVEHDR header{};
        std::unique_ptr<uint8_t[]> buffer;
    };

    void enumerate();
    bool openDevice(const WAVEFORMATEX& format, uint32_t blockFrames, UINT deviceNumber);
    // Returns frames, or -1 when the device is closed, ran dry or a header did not come back.
    int32_t writeBlock(const float* left, const float* right, uint32_t frames);
    // The one close routine: every failure path and the normal end use it; it tolerates a
    // device that was never opened or headers that were never prepared.
    void closeDevice();
    bool waitForHeader();
    static void CALLBACK waveCallback(HWAVEOUT device, UINT message, DWORD_PTR instance, DWORD_PTR p1, DWORD_PTR p2);
    void onDone();

    WAVEFORMATEX waveFormat{};
    HWAVEOUT device = nullptr;
    uint32_t fillPosition = 0;
    uint32_t bufferBytes = 0;
    Header headers[mme::kHeaderCount];
    HANDLE event = nullptr;
    bool waiting = false;    // under lock
    bool allPlayed = false;  // under lock
    int32_t fillIndex = 0;   // under lock
    int32_t returnIndex = 0; // under lock
    // Headers with the driver (under lock). Equal indices mean either none or all of them, so
    // the count tells a full ring from a drained one, whatever order the writer's advance and
    // the driver's return take.
    int32_t queued = 0;
    bool open = false;
    bool paused = false;
    CRITICAL_SECTION lock;
};

}  // namespace vl
