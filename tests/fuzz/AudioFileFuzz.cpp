// libFuzzer target: openRead and readAll of one file format over arbitrary bytes. Built twice,
// with VL_FUZZ_FILE naming VLAudioFileWAV or VLAudioFileAIFF.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "player/AudioFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vl::VL_FUZZ_FILE file;
    const uint32_t frames = file.openRead(std::make_unique<vl::MemoryByteSource>(data, size));
    if (frames == 0) return 0;
    // An accepted header never announces more samples than the input holds, so reading them
    // all must succeed and the arrays can be sized from the frame count.
    if (file.dataOffset() + uint64_t(frames) * vl::bytesPerFrameOf(file.sampleFormat()) > size) __builtin_trap();
    std::vector<float> left(frames), right(frames);
    if (!file.readAll({left.data(), right.data()})) __builtin_trap();
    return 0;
}
