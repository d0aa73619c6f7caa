#pragma once
// Measurements on rendered audio for the demo instrument's tests.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace demotest {

constexpr double kPi = 3.14159265358979323846;

// Magnitude spectrum of a Hann-windowed signal, evaluated at whole bins (Goertzel per bin).
class Spectrum {
public:
    Spectrum(const std::vector<float>& signal, double sampleRate) : rate_(sampleRate), windowed_(signal.size()) {
        const size_t n = signal.size();
        for (size_t i = 0; i < n; ++i)
            windowed_[i] = signal[i] * (0.5 - 0.5 * std::cos(2.0 * kPi * static_cast<double>(i) / static_cast<double>(n)));
    }

    double binWidth() const { return rate_ / static_cast<double>(windowed_.size()); }

    double magnitude(long bin) const {
        const double w = 2.0 * kPi * static_cast<double>(bin) / static_cast<double>(windowed_.size());
        const double c = 2.0 * std::cos(w);
        double s1 = 0.0, s2 = 0.0;
        for (double x : windowed_) {
            const double s0 = x + c * s1 - s2;
            s2 = s1;
            s1 = s0;
        }
        return std::sqrt(std::max(0.0, s1 * s1 + s2 * s2 - c * s1 * s2));
    }

    // The strongest peak between two frequencies, refined between bins by a parabola through
    // the log magnitudes (near exact for a Hann window's main lobe). Answers Hz; magnitude
    // of the peak bin through peakMagnitude.
    double peakFrequency(double lowHz, double highHz, double* peakMagnitude = nullptr) const {
        const long first = std::max(2L, static_cast<long>(lowHz / binWidth()));
        const long last = static_cast<long>(highHz / binWidth()) + 1;
        long best = first;
        double bestMagnitude = -1.0;
        for (long k = first; k <= last; ++k) {
            const double m = magnitude(k);
            if (m > bestMagnitude) {
                bestMagnitude = m;
                best = k;
            }
        }
        if (peakMagnitude) *peakMagnitude = bestMagnitude;
        const double a = std::log(magnitude(best - 1) + 1e-30);
        const double b = std::log(bestMagnitude + 1e-30);
        const double c = std::log(magnitude(best + 1) + 1e-30);
        const double denominator = a - 2.0 * b + c;
        const double offset = denominator != 0.0 ? 0.5 * (a - c) / denominator : 0.0;
        return (static_cast<double>(best) + offset) * binWidth();
    }

private:
    double rate_;
    std::vector<double> windowed_;
};

inline float peakLevel(const std::vector<float>& x, size_t from = 0, size_t to = SIZE_MAX) {
    float peak = 0.0f;
    for (size_t i = from; i < std::min(to, x.size()); ++i) peak = std::max(peak, std::abs(x[i]));
    return peak;
}

// The largest difference between neighbouring samples: a click shows up as a step far larger
// than the waveform's own.
inline float largestStep(const std::vector<float>& x, size_t from = 1, size_t to = SIZE_MAX) {
    float step = 0.0f;
    for (size_t i = std::max<size_t>(from, 1); i < std::min(to, x.size()); ++i)
        step = std::max(step, std::abs(x[i] - x[i - 1]));
    return step;
}

inline std::vector<float> slice(const std::vector<float>& x, size_t from, size_t count) {
    return std::vector<float>(x.begin() + static_cast<long>(from), x.begin() + static_cast<long>(from + count));
}

}  // namespace demotest
