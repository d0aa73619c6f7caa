#pragma once
// The resampling player's fill as a plain loop over frames: every frame's position is the running
// sum of the step. The reference the real fill (chunked positions, copy and run shortcuts) is
// compared against bit for bit.

#include <cstdint>

namespace vltest {

inline void referenceFill(const float* l, const float* r, uint32_t fileFrames, bool loop, double step,
                          double& position, bool& ended, float* outL, float* outR, uint32_t frames) {
    for (uint32_t i = 0; i < frames; ++i) {
        if (position >= fileFrames) {
            if (!loop) {
                for (; i < frames; ++i) outL[i] = outR[i] = 0.0f;
                ended = true;
                break;
            }
            position = 0.0;
        }
        const uint32_t n = static_cast<uint32_t>(position);
        const double f = position - n;
        outL[i] = static_cast<float>(static_cast<double>(l[n + 1] - l[n]) * f + l[n]);
        outR[i] = static_cast<float>(static_cast<double>(r[n + 1] - r[n]) * f + r[n]);
        position += step;
    }
}

}  // namespace vltest
