#pragma once
// Resonant low-pass: a state-variable filter in trapezoidal (zero-delay feedback) form. It
// stays stable for every positive damping and any cutoff below Nyquist, also when both move
// every few samples, which a direct-form biquad does not guarantee.

#include <algorithm>
#include <cmath>

namespace demo {

class LowPassFilter {
public:
    // Cutoff is clamped to a band the prewarping handles at every sample rate; resonance 0..1
    // maps to a damping that never reaches 0, so the filter cannot self-oscillate or blow up.
    void setCutoff(double cutoffHz, double sampleRate, float resonance) {
        constexpr double kPi = 3.14159265358979323846;
        const double highest = std::min(20000.0, 0.45 * sampleRate);
        const double fc = std::clamp(cutoffHz, 16.0, highest);
        const double g = std::tan(kPi * fc / sampleRate);
        const double k = 2.0 * (1.0 - 0.96 * std::clamp(static_cast<double>(resonance), 0.0, 1.0));
        a1_ = static_cast<float>(1.0 / (1.0 + g * (g + k)));
        a2_ = static_cast<float>(g) * a1_;
        a3_ = static_cast<float>(g) * a2_;
    }

    float process(float input) {
        const float v3 = input - ic2eq_;
        const float v1 = a1_ * ic1eq_ + a2_ * v3;
        const float v2 = ic2eq_ + a2_ * ic1eq_ + a3_ * v3;
        ic1eq_ = 2.0f * v1 - ic1eq_;
        ic2eq_ = 2.0f * v2 - ic2eq_;
        return v2;
    }

    // Called every few samples: states that have decayed to nothing are cleared before they
    // become denormal (slow on x86) on machines where flush-to-zero is off.
    void flushTinyStates() {
        constexpr float kTiny = 1e-15f;
        if (std::abs(ic1eq_) < kTiny) ic1eq_ = 0.0f;
        if (std::abs(ic2eq_) < kTiny) ic2eq_ = 0.0f;
    }

    void reset() {
        ic1eq_ = 0.0f;
        ic2eq_ = 0.0f;
    }

private:
    float a1_ = 1.0f, a2_ = 0.0f, a3_ = 0.0f;
    float ic1eq_ = 0.0f, ic2eq_ = 0.0f;
};

}  // namespace demo
