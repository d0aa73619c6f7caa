#pragma once
// The WASAPI back end's streams and device loop, written against the audio-client interface of
// WasapiClient.h: the same code runs on the Windows audio session interfaces and, in native
// tests, against a scripted device.
//
// Every start and every details query opens fresh clients for exactly its devices and releases
// them before it returns. Shared streams run in the engine's mix format; exclusive streams take
// the first format of the ladder (float32, int32, 24 in 32, packed 24, int16) that the device
// accepts at its own rate, with the period rounded as the device requires. Capture and render
// each signal their own event; every wake drains all waiting capture packets into a small
// FIFO, from which the render side takes its input.

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "audio/AudioDevice.h"
#include "audio/SampleConvert.h"
#include "audio/wasapi/WasapiClient.h"
#include "audio/wasapi/WasapiFormat.h"

namespace vl {

namespace wasapi {

// One opened stream: a fresh client initialised in the format it runs in.
struct Stream {
    std::unique_ptr<Client> client;
    DeviceFormat format;
    SampleKind kind = SampleKind::Unsupported;
    uint32_t bufferFrames = 0;  // the buffer the client granted
    bool exclusive = false;
    bool started = false;

    ~Stream() { close(); }
    void close();
};

// What an exclusive stream's block is: the user's choice, asked for once with its duration
// rounded down to 0.5 ms, or a size the device granted before, asked for with exactly its
// duration (rounding it again would shrink it at every start).
enum class Block { Asked, Granted };

// Opens a stream for the record (exclusive for type 8); blockFrames is the block an exclusive
// stream asks for. An exclusive request below the device's minimum period gets that period;
// AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED is answered once with a new client asking for the aligned
// size. The first failure is returned.
Result openStream(Endpoints& endpoints, const AudioDeviceRecord& record, uint32_t blockFrames, Stream& stream,
                  Block block = Block::Asked);

// Stereo frames passed from the capture side to the render side of one loop. Storage is taken
// once; pushing beyond the capacity drops the oldest frames. Two devices run on clocks of
// their own, so the render side takes its blocks through take(), which holds the level near a
// target instead of letting it wander to the capacity or to empty.
class DuplexFifo {
public:
    struct Counts {
        uint32_t drops = 0;          // steps that dropped an excess (or an overflow)
        uint32_t droppedFrames = 0;  // frames they dropped
        uint32_t underflows = 0;     // blocks given as silence because too little was captured
    };

    bool reserve(uint32_t frames);
    // Frames held back beyond the block the render side takes (one capture period and a
    // margin), and how far the level may rise above that (what one more packet brings) before
    // the excess goes.
    void holdBack(uint32_t target, uint32_t slack);
    void push(const float* left, const float* right, uint32_t frames);
    // Moves up to frames into left and right; returns how many.
    uint32_t pop(float* left, float* right, uint32_t frames);
    // The render side's next block: frames captured frames (the answer), or 0 and nothing
    // written. Silence until the level first reaches the block and the target (priming); a
    // level below the block is an underflow: the block is silence and the frames wait, so the
    // FIFO is a block fuller at the next; above the target and slack the excess is dropped in
    // one step, oldest first.
    uint32_t take(float* left, float* right, uint32_t frames);
    uint32_t available() const { return count; }
    const Counts& counts() const { return tally; }

private:
    void drop(uint32_t frames);

    std::vector<float> left, right;
    uint32_t head = 0, count = 0;
    uint32_t target = 0, slack = 0;
    bool primed = false;
    Counts tally;
};

}  // namespace wasapi

class VLWasapiLoop : public VLAudioBase {
public:
    // Every wait for a stream event, and the longest time the loop may go without handing a
    // block to RenderBlock, before the device counts as stalled.
    static constexpr uint32_t kEventWaitMs = 2000;
    // Held in the duplex FIFO beyond one capture period, for the scheduling of two devices'
    // events.
    static constexpr uint32_t kFifoMarginMs = 2;

    // What the duplex FIFO did since the last start; any thread.
    wasapi::DuplexFifo::Counts duplexCounts() const;

protected:
    // Completes a record from a stream opened (and released) here. Shared records take the
    // client's buffer size and the mix format's rate. An exclusive record is only negotiated
    // when probe is false (an engine start): its bufferSize becomes the block the device
    // grants, which is the block the plug-in is then told, and detailsKnown marks it as
    // granted, so that every later start asks for exactly that block; a probe opens nothing.
    bool queryStreamDetails(wasapi::Endpoints& endpoints, AudioDeviceRecord* record, bool probe);

    // Opens fresh streams for these devices and runs the loop until RenderBlock answers false
    // (true) or the device fails (false; a failure after the streams started is reported as
    // DeviceEvent::Failed). Everything opened is released before it returns.
    bool runStreams(wasapi::Endpoints& endpoints, const AudioDeviceRecord* input, const AudioDeviceRecord& output,
                    RenderBlockProc callback, void* user);

private:
    struct Run;
    bool openRun(wasapi::Endpoints& endpoints, const AudioDeviceRecord* input, const AudioDeviceRecord& output,
                 Run& run);
    bool runLoop(wasapi::Endpoints& endpoints, Run& run, RenderBlockProc callback, void* user);
    wasapi::Result drainCapture(Run& run);

    std::atomic<uint32_t> fifoDrops{0}, fifoDroppedFrames{0}, fifoUnderflows{0};
};

}  // namespace vl
