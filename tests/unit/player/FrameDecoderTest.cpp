// Every sample layout's decoder against the plain reading of its definition: the bytes of each
// sample assembled in the file's byte order, sign-extended and scaled (8-bit WAV unsigned),
// floats taken as they are. Random bytes (NaNs and infinities included) at every length up to
// 40 frames and one long run, each in a buffer of exactly its size, so that the vector paths'
// groups, their tails and any read past the end (under the address sanitizer) show.

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <random>
#include <vector>

#include "player/AudioFileDecode.h"

namespace {

using vl::AudioFileType;
using vl::SampleFormat;

float referenceSample(const uint8_t* p, uint32_t width, bool isFloat, AudioFileType type) {
    const bool big = type == AudioFileType::Aiff;
    uint64_t raw = 0;
    for (uint32_t b = 0; b < width; ++b) raw |= uint64_t(p[big ? width - 1 - b : b]) << (8 * b);
    if (isFloat) return width == 4 ? std::bit_cast<float>(uint32_t(raw)) : static_cast<float>(std::bit_cast<double>(raw));
    const uint32_t bits = 8 * width;
    int64_t value = static_cast<int64_t>(raw << (64 - bits)) >> (64 - bits);
    if (width == 1 && !big) value = int64_t(raw) - 128;  // WAV's 8-bit samples are unsigned
    return static_cast<float>(value) * std::ldexp(1.0f, -int(bits - 1));
}

}  // namespace

TEST(FrameDecoder, EveryLayoutDecodesAsItsDefinition) {
    struct Layout {
        SampleFormat format;
        uint32_t width;
        bool isFloat;
    };
    const Layout layouts[] = {
        {SampleFormat::Mono8, 1, false},      {SampleFormat::Stereo8, 1, false},   {SampleFormat::Mono16, 2, false},
        {SampleFormat::Stereo16, 2, false},   {SampleFormat::Mono24, 3, false},    {SampleFormat::Stereo24, 3, false},
        {SampleFormat::Mono32, 4, false},     {SampleFormat::Stereo32, 4, false},  {SampleFormat::Mono64, 8, false},
        {SampleFormat::Stereo64, 8, false},   {SampleFormat::MonoFloat32, 4, true}, {SampleFormat::StereoFloat32, 4, true},
        {SampleFormat::MonoFloat64, 8, true}, {SampleFormat::StereoFloat64, 8, true},
    };
    std::mt19937 random(7);
    for (const AudioFileType type : {AudioFileType::Wav, AudioFileType::Aiff}) {
        for (const Layout& layout : layouts) {
            SCOPED_TRACE(testing::Message() << "type " << int(type) << " format " << int(layout.format));
            const vl::FrameDecoder decode = vl::frameDecoderFor(layout.format, type);
            ASSERT_NE(decode, nullptr);
            const uint32_t channels = vl::channelsOf(layout.format);
            for (uint32_t frames = 0; frames <= 41; ++frames) {
                const uint32_t n = frames == 41 ? 1003 : frames;
                std::vector<uint8_t> bytes(size_t(n) * channels * layout.width);
                for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
                std::vector<float> left(n), right(n);
                decode(bytes.data(), n, left.data(), right.data());
                for (uint32_t i = 0; i < n; ++i) {
                    const uint8_t* frame = bytes.data() + size_t(i) * channels * layout.width;
                    const float l = referenceSample(frame, layout.width, layout.isFloat, type);
                    const float r = channels == 1 ? l : referenceSample(frame + layout.width, layout.width, layout.isFloat, type);
                    ASSERT_EQ(std::bit_cast<uint32_t>(left[i]), std::bit_cast<uint32_t>(l)) << n << " frames, frame " << i;
                    ASSERT_EQ(std::bit_cast<uint32_t>(right[i]), std::bit_cast<uint32_t>(r)) << n << " frames, frame " << i;
                }
            }
        }
    }
}
