#pragma once
// An audio device without hardware, for rendering offline: blocks are produced as fast as the
// plug-in computes them. Like an ASIO driver it starts at once and calls back from a thread of
// its own, here the thread that calls run(); its records therefore carry the ASIO type code,
// so that the coordinator starts it in place instead of on an engine thread.

#include <cstdint>

#include "audio/AudioDevice.h"

namespace vl {

class VLOfflineAudio : public VLAudioBase {
public:
    VLOfflineAudio(double sampleRate, uint32_t blockSize);
    ~VLOfflineAudio() override;

    AudioDeviceRecord* input() { return devices[0].get(); }
    AudioDeviceRecord* output() { return devices[1].get(); }

    // Called before each block with the block's first frame and length, on run()'s thread.
    using BlockHook = void (*)(uint64_t firstFrame, uint32_t frames, void* user);

    // The device loop: renders totalFrames in blocks of the output's bufferSize (the last one
    // shorter), silent input. Ends early when the callback answers false or stop() is called.
    // Answers the frames rendered.
    uint64_t run(uint64_t totalFrames, BlockHook hook = nullptr, void* hookUser = nullptr);

    bool openAndStart(AudioDeviceRecord* input, AudioDeviceRecord* output, RenderBlockProc callback,
                      void* user) override;
    void stop() override;
    bool matchFormats(AudioDeviceRecord* input, AudioDeviceRecord* output) override;
    bool queryDetails(AudioDeviceRecord* record, bool probe) override;

private:
    RenderBlockProc callback = nullptr;
    void* callbackUser = nullptr;
    uint32_t blockFrames = 0;
};

}  // namespace vl
