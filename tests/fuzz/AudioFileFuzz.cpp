// libFuzzer target: openRead and the player's whole-file read of one file format over arbitrary
// bytes. Built twice, with VL_FUZZ_FILE naming VLAudioFileWAV or VLAudioFileAIFF.
//
// Each input is read twice: as it is, and as the head of a sparse file of 16 GiB whose rest
// reads as zeros, so that headers announcing billions of frames (sizes near 2^32, where 32-bit
// frame and size arithmetic wraps) reach the readers and the player's allocation.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "../unit/player/SparseByteSource.h"
#include "player/AudioFile.h"
#include "player/PlayerCore.h"

namespace {

constexpr uint64_t kSparseBytes = uint64_t(1) << 34;
// Frames the target reads from the sparse source: reading gigabytes of a hole takes long and
// finds nothing that a shorter read does not.
constexpr uint32_t kSparseReadFrames = uint32_t(1) << 16;

void check(std::unique_ptr<vl::ByteSource> source, uint32_t readLimit) {
    const uint64_t total = source->size();
    vl::VL_FUZZ_FILE file;
    const uint32_t frames = file.openRead(std::move(source));
    if (frames == 0) return;
    // An accepted header never announces more frames than the player holds, nor more samples
    // than the source holds.
    if (frames > vl::kMaxReadFrames) __builtin_trap();
    if (file.dataOffset() + uint64_t(frames) * vl::bytesPerFrameOf(file.sampleFormat()) > total) __builtin_trap();
    if (frames > readLimit) return;
    // So reading it all into the player's arrays must succeed, the extra element repeating
    // frame 0.
    vl::PlayerSample sample;
    if (!vl::readPlayerSample(file, sample) || sample.frames != frames) __builtin_trap();
    if (std::memcmp(&sample.left[frames], &sample.left[0], sizeof(float)) != 0 ||
        std::memcmp(&sample.right[frames], &sample.right[0], sizeof(float)) != 0)
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    check(std::make_unique<vl::MemoryByteSource>(data, size), UINT32_MAX);
    check(std::make_unique<vl::test::SparseByteSource>(data, size, kSparseBytes), kSparseReadFrames);
    return 0;
}
