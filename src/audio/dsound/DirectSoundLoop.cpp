#include "audio/dsound/DirectSoundLoop.h"

#include <algorithm>

namespace vl {

namespace dsound {

uint32_t leadBlocks(const Ring& ring) {
    const uint32_t blockMs = ring.blockBytes ? std::max<uint32_t>(1, ring.blockBytes * 1000 / kBytesPerSecond) : 1;
    return std::clamp<uint32_t>((kLeadMs + blockMs - 1) / blockMs, 2, kBlockCount / 2);
}

uint32_t resyncedWriteOffset(const Ring& ring, uint32_t writeCursor) {
    const uint32_t block = (writeCursor / ring.blockBytes + leadBlocks(ring) + 1) % kBlockCount;
    return block * ring.blockBytes;
}

bool leadIsSafe(const Ring& ring, uint32_t lead, uint32_t cursorGap) {
    const uint32_t d = ring.blockBytes;
    // Below: by the next write the play cursor has moved a block, and a drifting clock a
    // little more. Above: the latency has grown, and near a ring ahead the distance could no
    // longer be told from one behind.
    const uint32_t least = cursorGap + d + d / 2;
    const uint32_t most = std::min(ring.ringBytes - 2 * d, cursorGap + (leadBlocks(ring) + 4) * d);
    return lead >= least && lead <= most;
}

}  // namespace dsound

namespace {

void fillSilence(float* left, float* right, uint32_t from, uint32_t frames) {
    if (from >= frames) return;
    std::fill(left + from, left + frames, 0.0f);
    std::fill(right + from, right + frames, 0.0f);
}

}  // namespace

// Polls until the device has passed the block. Without input the play cursor is asked, not
// the write cursor: the region between the two may not have been mixed yet, and a block
// rewritten there would sometimes be heard a ring early. The poll spins briefly, then yields a
// millisecond at a time (a spin at time-critical priority keeps the driver's own thread, which
// moves the position, from running), and gives up when the position stops moving.
bool VLDirectSoundLoop::waitForBlock(dsound::Buffers& buffers, const dsound::Ring& ring, bool withInput,
                                     uint32_t readOffset) {
    const uint64_t pollStart = buffers.nowMs();
    for (uint32_t polls = 0;; ++polls) {
        uint32_t position = 0, writeCursor = 0;
        const bool read = withInput ? buffers.captureReadPosition(position) : buffers.playCursors(position, writeCursor);
        if (!read) return false;
        if (dsound::blockReady(ring, position, readOffset)) return true;
        if (buffers.nowMs() - pollStart > kStallMs) return false;
        if (polls >= kSpinPolls) buffers.sleepMs(1);
    }
}

bool VLDirectSoundLoop::runLoop(dsound::Buffers& buffers, const dsound::Ring& ring, bool withInput,
                                interleaved::InputChannels chosen, RenderBlockProc callback, void* user) {
    const uint32_t lead = dsound::leadBlocks(ring);
    uint32_t readOffset = 0, writeOffset = 0, blocksBeforePlay = withInput ? lead : 0;
    for (;;) {
        buffers.waitNotification(ring.waitMs);
        if (!waitForBlock(buffers, ring, withInput, readOffset)) break;

        dsound::Region in, out;
        if (withInput && !buffers.lockCapture(readOffset, ring.blockBytes, in)) break;
        if (!buffers.lockPlay(writeOffset, ring.blockBytes, out)) {
            if (withInput) buffers.unlockCapture(in);
            break;
        }
        const uint32_t frames = std::min(out.bytes1 / 4, ring.frames());
        uint32_t captured = 0;
        if (withInput && in.part1) {
            captured = std::min(in.bytes1 / 4, frames);
            interleaved::int16ToChosenPlanes(static_cast<const int16_t*>(in.part1), 2, chosen, leftPlane, rightPlane,
                                             captured);
        }
        fillSilence(leftPlane, rightPlane, captured, frames);
        const bool keepGoing = callback(planePair, planePair, frames, user);
        if (keepGoing && out.part1)
            interleaved::planesToInt16(leftPlane, rightPlane, static_cast<int16_t*>(out.part1), 2, 0, 1, frames);
        const bool unlocked = buffers.unlockPlay(out) && (!withInput || buffers.unlockCapture(in));
        if (!keepGoing) return true;
        if (!unlocked) break;

        readOffset = (readOffset + ring.blockBytes) % ring.ringBytes;
        writeOffset = dsound::advance(ring, writeOffset);
        if (blocksBeforePlay > 0) {
            if (--blocksBeforePlay == 0 && !buffers.startPlayback()) break;
        } else if (withInput) {
            // Capture and playback run on clocks of their own: keep the next block ahead of
            // the region the mixer reads, and never so far ahead that it wraps round the ring.
            uint32_t play = 0, write = 0;
            if (!buffers.playCursors(play, write)) break;
            const uint32_t leadBytes = (writeOffset + ring.ringBytes - play) % ring.ringBytes;
            const uint32_t gap = (write + ring.ringBytes - play) % ring.ringBytes;
            if (!dsound::leadIsSafe(ring, leadBytes, gap)) writeOffset = dsound::resyncedWriteOffset(ring, write);
        }
    }
    reportDeviceEvent(DeviceEvent::Failed);
    return false;
}

}  // namespace vl
