#pragma once
// The device sample conversions written as plain scalar loops, straight from their definitions.
// The conversion tests check the shipped routines against these to the bit, and the audio
// benchmark runs them beside the shipped routines.

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "audio/SampleConvert.h"

namespace vl::plain {

constexpr float kInt16InScale = std::bit_cast<float>(0x3800007Fu);
constexpr float kInt16OutScale = std::bit_cast<float>(0x46FFFF03u);
constexpr float kInt24Scale = 8388608.0f;
constexpr float kInt24InScale = 1.0f / 8388608.0f;

inline float limit(float x) {
    x = (x == x) ? x : 0.0f;
    x = x < -1.0f ? -1.0f : x;
    x = x > 1.0f ? 1.0f : x;
    const float above = std::fabs(x + kLimiterBound);
    const float below = std::fabs(x - kLimiterBound);
    return (above - below) * 0.5f;
}

inline int32_t containerTo24(int32_t s, unsigned bits) {
    return bits < 24 ? static_cast<int32_t>(static_cast<uint32_t>(s) << (24 - bits)) : s >> (bits - 24);
}
inline int32_t int24ToContainer(int32_t y, unsigned bits) {
    return bits < 24 ? y >> (24 - bits) : static_cast<int32_t>(static_cast<uint32_t>(y) << (bits - 24));
}
inline int32_t limitedInt24(float x) { return static_cast<int32_t>(limit(x) * kInt24Scale - 0.5f); }

inline void int16ToFloat(const int16_t* in, float* out, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) out[i] = (static_cast<float>(in[i]) + 0.5f) * kInt16InScale;
}
inline void floatToInt16(const float* in, int16_t* out, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i)
        out[i] = static_cast<int16_t>(static_cast<int32_t>(limit(in[i]) * kInt16OutScale - 0.5f));
}
inline void int24ToFloat(const uint8_t* in, float* out, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t* s = in + size_t(i) * 3;
        const uint32_t raw = uint32_t(s[0]) | uint32_t(s[1]) << 8 | uint32_t(s[2]) << 16;
        out[i] = (static_cast<float>(static_cast<int32_t>(raw << 8) >> 8) + 0.5f) * kInt24InScale;
    }
}
inline void floatToInt24(const float* in, uint8_t* out, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) {
        const auto y = static_cast<uint32_t>(limitedInt24(in[i]));
        uint8_t* s = out + size_t(i) * 3;
        s[0] = static_cast<uint8_t>(y);
        s[1] = static_cast<uint8_t>(y >> 8);
        s[2] = static_cast<uint8_t>(y >> 16);
    }
}
// The first and third byte of every 3-byte sample swapped, in place.
inline void reversePacked24(uint8_t* bytes, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) std::swap(bytes[3 * size_t(i)], bytes[3 * size_t(i) + 2]);
}
// Big-endian 24-bit samples: the device buffer is reversed in place before the input conversion
// and after the output conversion.
inline void int24MSBToFloat(uint8_t* in, float* out, uint32_t n) {
    reversePacked24(in, n);
    int24ToFloat(in, out, n);
}
inline void floatToInt24MSB(const float* in, uint8_t* out, uint32_t n) {
    floatToInt24(in, out, n);
    reversePacked24(out, n);
}
inline void int32ToFloat(const int32_t* in, float* out, uint32_t n, unsigned bits) {
    for (uint32_t i = 0; i < n; ++i) out[i] = (static_cast<float>(containerTo24(in[i], bits)) + 0.5f) * kInt24InScale;
}
inline void floatToInt32(const float* in, int32_t* out, uint32_t n, unsigned bits) {
    for (uint32_t i = 0; i < n; ++i) out[i] = int24ToContainer(limitedInt24(in[i]), bits);
}
inline void floatToFloat64(const float* in, double* out, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) out[i] = static_cast<double>(limit(in[i]));
}
inline int16_t toInterleavedInt16(float x) {
    float v = x * 32767.0f;
    v = (v == v) ? v : 0.0f;
    v = v < -32768.0f ? -32768.0f : v;
    v = v > 32767.0f ? 32767.0f : v;
    return static_cast<int16_t>(static_cast<int32_t>(v));
}
inline int32_t toInterleavedInt32(float x) {
    float v = x * 2147483648.0f;
    v = (v == v) ? v : 0.0f;
    v = v < -2147483648.0f ? -2147483648.0f : v;
    const bool top = v >= 2147483648.0f;
    const auto truncated = static_cast<int32_t>(top ? 0.0f : v);
    return top ? INT32_MAX : truncated;
}
// Interleaved input: the chosen channels of every frame, integers scaled in double precision.
template <typename Sample>
inline void chosenToPlanes(const Sample* in, uint32_t channels, interleaved::InputChannels chosen, float* left,
                           float* right, uint32_t n, double scale) {
    for (uint32_t i = 0; i < n; ++i) {
        left[i] = static_cast<float>(in[size_t(i) * channels + chosen.left] * scale);
        right[i] = static_cast<float>(in[size_t(i) * channels + chosen.right] * scale);
    }
}
inline void float32ToChosenPlanes(const float* in, uint32_t channels, interleaved::InputChannels chosen, float* left,
                                  float* right, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) {
        left[i] = in[size_t(i) * channels + chosen.left];
        right[i] = in[size_t(i) * channels + chosen.right];
    }
}
// The last pair of every frame, a lone channel feeding both planes.
template <typename Sample>
inline void toPlanes(const Sample* in, uint32_t channels, float* left, float* right, uint32_t n, double scale) {
    const uint32_t l = channels == 1 ? 0 : 2 * (channels / 2 - 1);
    chosenToPlanes(in, channels, {l, channels == 1 ? 0 : l + 1}, left, right, n, scale);
}
// The stereo and the chosen-channel layouts of the interleaved output.
template <typename Sample, Sample (*convert)(float)>
inline void fromPlanes(const float* left, const float* right, Sample* out, uint32_t channels, int32_t l, int32_t r,
                uint32_t frames) {
    for (size_t i = 0; i < size_t(frames) * channels; ++i) out[i] = 0;
    const auto selects = [channels](int32_t c) { return c >= 0 && uint32_t(c) < channels; };
    if (selects(r) && r != l)
        for (uint32_t i = 0; i < frames; ++i) out[size_t(i) * channels + uint32_t(r)] = convert(right[i]);
    if (selects(l))
        for (uint32_t i = 0; i < frames; ++i) out[size_t(i) * channels + uint32_t(l)] = convert(left[i]);
}

}  // namespace vl::plain
