#pragma once
// The MME back end's ring of wave headers, written against the few waveOut calls it makes so
// that it runs natively against a scripted driver. A header is filled again only once the
// driver has handed that very header back (its done flag), whatever order the driver returns
// headers in. A device that ran dry (the writer fell behind, say while the machine was busy)
// is an underrun, not a failure: the ring pauses it, queues the pre-roll again and goes on.

#include <atomic>
#include <cstdint>

#include "audio/AudioDevice.h"
#include "audio/mme/WaveWriter.h"

namespace vl::mme {

// The waveOut calls of the ring, by header index.
class WaveDevice {
public:
    virtual ~WaveDevice() = default;
    virtual uint8_t* buffer(int32_t index) = 0;
    // waveOutWrite of the header with this length; false when the driver refused it.
    virtual bool send(int32_t index, uint32_t bytes) = 0;
    // The header is back from the driver (WHDR_DONE) since it was last sent.
    virtual bool returned(int32_t index) = 0;
    // Waits at most ms for the driver to hand back any header; false on timeout.
    virtual bool waitForReturn(uint32_t ms) = 0;
    // Ends the pre-roll pause (waveOutRestart).
    virtual void restart() = 0;
    // Holds playback for a new pre-roll (waveOutPause).
    virtual void pause() = 0;
};

class HeaderRing {
public:
    static constexpr uint32_t kHeaderWaitMs = 2000;

    // Headers queued while the device is paused before playback starts (again).
    static constexpr int32_t kPrerollHeaders = kPrerollIndex + 1;

    void reset(uint32_t headerBytes);
    // The device channels of the two planes (the device has two channels).
    void route(OutputChannels channels);
    // Writes frames as 16-bit stereo, sending every header that fills up. A device that ran
    // dry (every header sent has come back) is paused and counted, and playback resumes once
    // the pre-roll is queued again. false only when a send fails or the header due next did
    // not come back within kHeaderWaitMs.
    bool write(WaveDevice& device, const float* left, const float* right, uint32_t frames);
    // Sends the partly filled header with its shorter length (the normal end).
    bool flush(WaveDevice& device);
    // Waits, bounded per header, until every header sent has come back.
    bool drain(WaveDevice& device);
    bool paused() const { return pausedForPreroll; }
    // Times the device ran dry since reset; any thread may read it.
    uint32_t underruns() const { return underrunCount.load(std::memory_order_relaxed); }

private:
    bool waitUntilFree(WaveDevice& device, int32_t index);
    bool sendFilled(WaveDevice& device, uint32_t bytes);
    bool ranDry(WaveDevice& device);

    uint32_t bufferBytes = 0;
    uint32_t fillPosition = 0;
    int32_t fillIndex = 0;
    bool pausedForPreroll = true;
    int32_t prerollLeft = kPrerollHeaders;  // sends until the paused device is restarted
    bool sent[kHeaderCount] = {};  // with the driver, or back but not yet refilled
    // What each device channel plays: 0 the left plane, 1 the right plane, -1 silence.
    int8_t channelSource[2] = {0, 1};
    std::atomic<uint32_t> underrunCount{0};
};

}  // namespace vl::mme
