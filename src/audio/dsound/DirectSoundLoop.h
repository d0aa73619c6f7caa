#pragma once
// The DirectSound device loop, written against the few buffer calls it makes per cycle so that
// it runs natively against scripted cursors. Full duplex starts playback with enough lead over
// the play cursor for a mixer that moves its cursors in steps of about 10 ms, and puts the
// write offset back at that lead whenever the capture and play clocks have drifted too far
// apart, before the distance could be misread across the ring. What a correction ahead skips
// is written with silence, so that the mixer never plays the audio of a ring ago.

#include <atomic>
#include <cstdint>

#include "audio/AudioDevice.h"
#include "audio/SampleConvert.h"
#include "audio/dsound/DirectSoundRing.h"

namespace vl {

namespace dsound {

// The two parts of a locked buffer region.
struct Region {
    void* part1 = nullptr;
    uint32_t bytes1 = 0;
    void* part2 = nullptr;
    uint32_t bytes2 = 0;
};

class Buffers {
public:
    virtual ~Buffers() = default;
    // Waits at most ms for any block notification; the result is not needed.
    virtual void waitNotification(uint32_t ms) = 0;
    virtual bool captureReadPosition(uint32_t& position) = 0;
    virtual bool playCursors(uint32_t& play, uint32_t& write) = 0;
    virtual bool lockCapture(uint32_t offset, uint32_t bytes, Region& region) = 0;
    virtual bool unlockCapture(const Region& region) = 0;
    virtual bool lockPlay(uint32_t offset, uint32_t bytes, Region& region) = 0;
    virtual bool unlockPlay(const Region& region) = 0;
    virtual bool startPlayback() = 0;
    virtual uint64_t nowMs() = 0;
    virtual void sleepMs(uint32_t ms) = 0;
};

// Blocks written before full-duplex playback starts: at least kLeadMs of sound (and two
// blocks), at most half the ring.
constexpr uint32_t kLeadMs = 30;
uint32_t leadBlocks(const Ring& ring);

// The offset to write next so that it lies leadBlocks + 1 ahead of the write cursor's block; used
// when the distance from the play cursor to the write offset left the safe range.
uint32_t resyncedWriteOffset(const Ring& ring, uint32_t writeCursor);

// The write offset, at this distance ahead of the play cursor (bytes, modulo the ring), is
// still safe: beyond the region the mixer is reading, and not so far ahead that it would be
// taken for a position behind it.
bool leadIsSafe(const Ring& ring, uint32_t lead, uint32_t cursorGap);

// Bytes of the ring, from offset on (wrapping round the ring).
struct Span {
    uint32_t offset = 0;
    uint32_t bytes = 0;
};

// What a correction from the write offset at lead (bytes ahead of the play cursor; negative
// once the play cursor has passed it) to newOffset skips and the mixer is still to read: from
// the old write offset, or from the write cursor where the mixer has reached that offset, up
// to newOffset. Nothing for a correction back, which writes the region again.
Span skippedByCorrection(const Ring& ring, uint32_t play, int64_t lead, uint32_t cursorGap, uint32_t newOffset);

}  // namespace dsound

class VLDirectSoundLoop : public VLAudioBase {
public:
    // The longest time the loop waits for the device position to pass a block before the
    // device counts as stalled.
    static constexpr uint32_t kStallMs = 2000;
    // Position polls made without yielding before the poll sleeps between reads.
    static constexpr uint32_t kSpinPolls = 16;

protected:
    // Runs until RenderBlock answers false (true) or a buffer call fails or the position stalls
    // (false, reported as DeviceEvent::Failed). Without input the plug-in's input is silence.
    // Output goes to the stream's two channels as out chooses (see chooseOutputChannels).
    bool runLoop(dsound::Buffers& buffers, const dsound::Ring& ring, bool withInput, interleaved::InputChannels chosen,
                 OutputChannels out, RenderBlockProc callback, void* user);

public:
    // Corrections ahead that wrote silence over what they skipped, since the last start (each
    // a short gap instead of old audio); any thread.
    uint32_t silencedGaps() const { return silencedGapCount.load(std::memory_order_relaxed); }

private:
    // The write offset's distance ahead of the play cursor, followed from cycle to cycle: the
    // ring alone cannot tell an offset far ahead from one the play cursor has passed.
    struct PlayLead {
        int64_t bytes = 0;
        uint32_t lastPlay = 0;
        bool followed = false;
    };
    bool waitForBlock(dsound::Buffers& buffers, const dsound::Ring& ring, bool withInput, uint32_t readOffset);
    bool keepLead(dsound::Buffers& buffers, const dsound::Ring& ring, PlayLead& lead, uint32_t& writeOffset);
    std::atomic<uint32_t> silencedGapCount{0};
};

}  // namespace vl
