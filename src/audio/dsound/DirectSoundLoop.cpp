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

Span skippedByCorrection(const Ring& ring, uint32_t play, int64_t lead, uint32_t cursorGap, uint32_t newOffset) {
    const uint32_t newLead = (newOffset + ring.ringBytes - play) % ring.ringBytes;
    const uint32_t from = static_cast<uint32_t>(std::max<int64_t>(lead, cursorGap)) / 4 * 4;
    if (newLead <= from) return {};
    return {(play + from) % ring.ringBytes, newLead - from};
}

}  // namespace dsound

namespace {

void fillSilence(float* left, float* right, uint32_t from, uint32_t frames) {
    if (from >= frames) return;
    std::fill(left + from, left + frames, 0.0f);
    std::fill(right + from, right + frames, 0.0f);
}

bool writeSilence(dsound::Buffers& buffers, const dsound::Span& span) {
    dsound::Region r;
    if (!buffers.lockPlay(span.offset, span.bytes, r)) return false;
    if (r.part1) std::fill_n(static_cast<uint8_t*>(r.part1), r.bytes1, uint8_t(0));
    if (r.part2) std::fill_n(static_cast<uint8_t*>(r.part2), r.bytes2, uint8_t(0));
    return buffers.unlockPlay(r);
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

// Capture and playback run on clocks of their own: keeps the next block ahead of the region
// the mixer reads, and never so far ahead that it wraps round the ring. A correction ahead
// writes silence over what it skips, which would otherwise play as the audio of a ring ago.
bool VLDirectSoundLoop::keepLead(dsound::Buffers& buffers, const dsound::Ring& ring, PlayLead& lead,
                                 uint32_t& writeOffset) {
    uint32_t play = 0, write = 0;
    if (!buffers.playCursors(play, write)) return false;
    const uint32_t e = ring.ringBytes;
    const uint32_t gap = (write + e - play) % e;
    lead.bytes = lead.followed ? lead.bytes + ring.blockBytes - (play + e - lead.lastPlay) % e
                               : (writeOffset + e - play) % e;
    lead.followed = true;
    lead.lastPlay = play;
    if (dsound::leadIsSafe(ring, static_cast<uint32_t>(std::clamp<int64_t>(lead.bytes, 0, e)), gap)) return true;
    const uint32_t next = dsound::resyncedWriteOffset(ring, write);
    const dsound::Span skipped = dsound::skippedByCorrection(ring, play, lead.bytes, gap, next);
    if (skipped.bytes > 0) {
        if (!writeSilence(buffers, skipped)) return false;
        silencedGapCount.fetch_add(1, std::memory_order_relaxed);
    }
    writeOffset = next;
    lead.bytes = (next + e - play) % e;
    return true;
}

bool VLDirectSoundLoop::runLoop(dsound::Buffers& buffers, const dsound::Ring& ring, bool withInput,
                                interleaved::InputChannels chosen, OutputChannels out, RenderBlockProc callback,
                                void* user) {
    silencedGapCount.store(0, std::memory_order_relaxed);
    uint32_t readOffset = 0, writeOffset = 0, blocksBeforePlay = withInput ? dsound::leadBlocks(ring) : 0;
    PlayLead lead;
    for (;;) {
        buffers.waitNotification(ring.waitMs);
        if (!waitForBlock(buffers, ring, withInput, readOffset)) break;

        dsound::Region in, region;
        if (withInput && !buffers.lockCapture(readOffset, ring.blockBytes, in)) break;
        if (!buffers.lockPlay(writeOffset, ring.blockBytes, region)) {
            if (withInput) buffers.unlockCapture(in);
            break;
        }
        const uint32_t frames = std::min(region.bytes1 / 4, ring.frames());
        uint32_t captured = 0;
        if (withInput && in.part1) {
            captured = std::min(in.bytes1 / 4, frames);
            interleaved::int16ToChosenPlanes(static_cast<const int16_t*>(in.part1), 2, chosen, leftPlane, rightPlane,
                                             captured);
        }
        fillSilence(leftPlane, rightPlane, captured, frames);
        const bool keepGoing = callback(planePair, planePair, frames, user);
        if (keepGoing && region.part1)
            interleaved::planesToInt16(leftPlane, rightPlane, static_cast<int16_t*>(region.part1), 2, out.left,
                                       out.right, frames);
        const bool unlocked = buffers.unlockPlay(region) && (!withInput || buffers.unlockCapture(in));
        if (!keepGoing) return true;
        if (!unlocked) break;

        readOffset = (readOffset + ring.blockBytes) % ring.ringBytes;
        writeOffset = dsound::advance(ring, writeOffset);
        if (blocksBeforePlay > 0) {
            if (--blocksBeforePlay == 0 && !buffers.startPlayback()) break;
        } else if (withInput) {
            if (!keepLead(buffers, ring, lead, writeOffset)) break;
        }
    }
    reportDeviceEvent(DeviceEvent::Failed);
    return false;
}

}  // namespace vl
