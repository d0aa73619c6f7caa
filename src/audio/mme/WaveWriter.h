#pragma once
// The MME back end's sample writer and ring arithmetic, free of Windows headers.

#include <cstdint>

namespace vl::mme {

constexpr int32_t kHeaderCount = 21;
// Playback starts when the header with this index is sent (the eleventh).
constexpr int32_t kPrerollIndex = 10;

// trunc(c1(x) * 32767.506 - 0.5) with the limiter bound 1.0: 1.0 gives 32767, -1.0 gives -32768.
// Values beyond +-1 give those limits and NaN gives what 0 gives.
int16_t sampleFromFloat(float x);

// Frames of left and right as interleaved 16-bit stereo, low byte first; a null plane is
// written as silence.
void writeStereoInt16(const float* left, const float* right, uint8_t* out, uint32_t frames);

inline int32_t nextHeader(int32_t index) { return index + 1 == kHeaderCount ? 0 : index + 1; }

// Bytes of one header's buffer.
inline uint32_t headerBytes(uint16_t bitsPerSample, uint16_t channels, uint32_t frames) {
    return uint32_t(bitsPerSample / 8) * channels * frames;
}

}  // namespace vl::mme
