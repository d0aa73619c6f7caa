#include "audio/mme/WaveWriter.h"

#include <cmath>

namespace vl::mme {

int16_t sampleFromFloat(float x) {
    x = (x == x) ? x : 0.0f;
    x = x < -1.0f ? -1.0f : x;
    x = x > 1.0f ? 1.0f : x;
    const float above = static_cast<float>(std::fabs(static_cast<double>(x) + 1.0));
    const float below = static_cast<float>(std::fabs(static_cast<double>(x) - 1.0));
    const float v = (above - below) * 0.5f * 32767.506f - 0.5f;
    return static_cast<int16_t>(static_cast<int32_t>(v));
}

void writeStereoInt16(const float* left, const float* right, uint8_t* out, uint32_t frames) {
    for (uint32_t i = 0; i < frames; ++i) {
        const int16_t l = left ? sampleFromFloat(left[i]) : 0;
        const int16_t r = right ? sampleFromFloat(right[i]) : 0;
        out[4 * i] = uint8_t(uint16_t(l));
        out[4 * i + 1] = uint8_t(uint16_t(l) >> 8);
        out[4 * i + 2] = uint8_t(uint16_t(r));
        out[4 * i + 3] = uint8_t(uint16_t(r) >> 8);
    }
}

}  // namespace vl::mme
