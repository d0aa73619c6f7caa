#pragma once
// Band-limited saw and pulse oscillators (polynomial band-limited steps): the naive waveforms
// alias audibly above a few hundred hertz, and a BLEP costs two comparisons per sample.

#include <algorithm>

namespace demo {

// Correction for a unit step at phase 0, spread over one sample either side of it.
inline float polyBlep(double phase, double increment) {
    if (phase < increment) {
        const double t = phase / increment;
        return static_cast<float>(t + t - t * t - 1.0);
    }
    if (phase > 1.0 - increment) {
        const double t = (phase - 1.0) / increment;
        return static_cast<float>(t * t + t + t + 1.0);
    }
    return 0.0f;
}

class Oscillator {
public:
    // The increment (cycles per sample) must stay below 0.5; callers clamp it.
    // Falling, so that its fundamental adds to the square's instead of cancelling it.
    float saw(double increment) {
        const float value = static_cast<float>(1.0 - 2.0 * phase_) + polyBlep(phase_, increment);
        advance(increment);
        return value;
    }

    float square(double increment) {
        double half = phase_ + 0.5;
        if (half >= 1.0) half -= 1.0;
        const float value =
            (phase_ < 0.5 ? 1.0f : -1.0f) + polyBlep(phase_, increment) - polyBlep(half, increment);
        advance(increment);
        return value;
    }

    void reset(double phase = 0.0) { phase_ = std::clamp(phase, 0.0, 1.0 - 1e-12); }
    double phase() const { return phase_; }

private:
    void advance(double increment) {
        phase_ += increment;
        if (phase_ >= 1.0) phase_ -= 1.0;
    }

    double phase_ = 0.0;  // double: a float phase drifts audibly out of tune over long notes
};

}  // namespace demo
