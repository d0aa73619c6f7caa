#include <algorithm>

#include "WinAudioRig.h"
#include "support/SignalAnalysis.h"

namespace wintest {

SineReport analyseSine(const SinkAudio& audio, double frequency, double amplitude) {
    SineReport report;
    const std::vector<float>& x = audio.left;
    size_t first = 0, last = x.size();
    while (first < last && x[first] == 0.0f) ++first;
    while (last > first && x[last - 1] == 0.0f) --last;
    const size_t margin = static_cast<size_t>(audio.rate * 0.05);  // the stop may cut a wave short
    last = last > first + margin ? last - margin : first;
    if (last <= first + 2) return report;
    report.seconds = static_cast<double>(last - first) / audio.rate;

    // Frequency and level over one second in the middle.
    const size_t window = std::min<size_t>(static_cast<size_t>(audio.rate), last - first);
    const size_t from = first + (last - first - window) / 2;
    const std::vector<float> part = demotest::slice(x, from, window);
    demotest::Spectrum spectrum(part, audio.rate);
    report.frequency = spectrum.peakFrequency(frequency * 0.5, frequency * 1.5);
    double sum = 0.0;
    for (float v : part) sum += double(v) * v;
    const double rms = std::sqrt(sum / static_cast<double>(part.size()));
    report.levelDb = 20.0 * std::log10(rms * std::sqrt(2.0));

    // A sine's largest step between samples is 2 pi f A / rate; a click or a gap is far more.
    const double limit = 2.0 * kPi * frequency * amplitude / audio.rate * 1.25 + 2.0 / 32768.0;
    size_t zeros = 0;
    for (size_t i = first + 1; i < last; ++i) {
        if (std::abs(double(x[i]) - double(x[i - 1])) > limit) report.jumps += 1;
        zeros = x[i] == 0.0f ? zeros + 1 : 0;
        if (zeros == 64) report.silentRuns += 1;
    }
    return report;
}

}  // namespace wintest
