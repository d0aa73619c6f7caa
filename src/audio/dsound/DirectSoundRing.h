#pragma once
// The DirectSound back end's ring arithmetic, free of Windows headers. The record's bufferSize
// is read as bytes of 16-bit stereo (4 bytes a frame).

#include <cstdint>

namespace vl::dsound {

constexpr uint32_t kBlockCount = 16;
constexpr uint32_t kBytesPerSecond = 176400;  // 44100 Hz, 16-bit stereo

struct Ring {
    uint32_t blockBytes = 0;  // d: bufferSize rounded down to whole frames
    uint32_t ringBytes = 0;   // e = 16 d
    uint32_t waitMs = 0;      // 2 * (bufferSize * 1000 / 176400), integer division
    uint32_t frames() const { return blockBytes / 4; }
    // Byte offset of notification i: the last sample of block i.
    uint32_t notificationOffset(uint32_t i) const { return blockBytes - 4 + i * blockBytes; }
};

Ring ringFor(uint32_t bufferSize);

// The device position has passed the block that starts at readOffset (a position below the
// offset has wrapped round the ring).
inline bool blockReady(const Ring& ring, uint32_t position, uint32_t readOffset) {
    const uint64_t unwrapped = position < readOffset ? uint64_t(position) + ring.ringBytes : position;
    return unwrapped >= uint64_t(readOffset) + ring.blockBytes;
}

inline uint32_t advance(const Ring& ring, uint32_t offset) { return (offset / 4 * 4 + ring.blockBytes) % ring.ringBytes; }

}  // namespace vl::dsound
