#include "dialogs/models/TempoModel.h"

#include <algorithm>
#include <limits>

#include "dialogs/models/DialogText.h"
#include "host/VLVSTHostInterface.h"
#include "platform/Clock.h"
#include "settings/HostSettings.h"

namespace vl {

TapClock TapClock::system() { return TapClock{&platform::counterNow, platform::counterFrequency()}; }

uint32_t tapIntervalMs(int64_t from, int64_t to, int64_t frequency) {
    if (frequency <= 0 || to <= from) return to == from ? 0 : std::numeric_limits<uint32_t>::max();
    const uint64_t ticks = static_cast<uint64_t>(to) - static_cast<uint64_t>(from);
    const uint64_t f = static_cast<uint64_t>(frequency);
    const uint64_t seconds = ticks / f;
    if (seconds >= std::numeric_limits<uint32_t>::max() / 1000) return std::numeric_limits<uint32_t>::max();
    return static_cast<uint32_t>(seconds * 1000 + (ticks % f) * 1000 / f);
}

TempoModel::TempoModel(VLVSTHostInterface& host, HostSettings& settings, TapClock clock)
    : host(host), settings(settings), clock(std::move(clock)) {}

std::wstring TempoModel::text() const { return decimalText(tempoValue); }

void TempoModel::handOver(double tempo) { host.handOverTempo(tempo); }

void TempoModel::initialise() { tempoValue = roundToHundredths(host.tempo.load(std::memory_order_acquire)); }

void TempoModel::stepSpin(int upSteps) {
    // The step is 0.01 in single precision, as the spin has always stepped.
    const double value = tempoValue + static_cast<double>(static_cast<float>(upSteps) * 0.01f);
    tempoValue = roundToHundredths(std::clamp(value, kMinTempo, kMaxTempo));
    handOver(tempoValue);
}

bool TempoModel::typed(std::wstring_view text) {
    const std::optional<double> value = parseDecimal(text);
    if (!value) return false;
    tempoValue = roundToHundredths(*value);
    if (tempoValue > kTypedTempoLow && tempoValue < kTypedTempoHigh) handOver(tempoValue);
    return true;
}

void TempoModel::tap() {
    const int64_t now = clock.now();
    // The very first tap has no predecessor: it only sets the time base.
    const uint32_t interval = tapped ? tapIntervalMs(lastTapTime, now, clock.frequency)
                                     : std::numeric_limits<uint32_t>::max();
    if (interval <= kTapSeriesGapMs) {
        tapSum += interval;
        tapCount += 1;
    } else {
        tapSum = 0;
        tapCount = 0;
    }
    lastTapTime = now;
    tapped = true;
    if (tapCount == 0) return;
    const uint32_t average = tapSum / static_cast<uint32_t>(tapCount);
    // Two taps at one instant give no interval to divide by: the fastest tempo.
    const double tempo = average == 0 ? kMaxTempo : 60000.0 / static_cast<double>(average);
    tempoValue = roundToHundredths(std::clamp(tempo, kMinTempo, kMaxTempo));
    handOver(tempoValue);
    settings.tempo = tempoValue;
    settings.saveSettings();
}

void TempoModel::close() {
    if (tempoValue > kTypedTempoLow && tempoValue < kTypedTempoHigh) {
        settings.tempo = tempoValue;
        settings.saveSettings();
    }
}

void TempoModel::beginDrag(int x, int y) {
    // The click position picks the digits: the whole beats are the first two or three.
    const int digitsWidth = tempoValue >= 100.0 ? 20 : 14;
    mode = x <= digitsWidth ? DragMode::WholeBeats : DragMode::Tenths;
    lastY = y;
}

void TempoModel::dragTo(int y) {
    if (mode == DragMode::None) return;
    const double step = mode == DragMode::WholeBeats ? 1.0 : 0.1;
    double value = tempoValue;
    if (y < lastY) value += step;  // moved up
    if (y > lastY) value -= step;
    tempoValue = roundToTenths(std::clamp(value, kMinTempo, kMaxTempo));
    handOver(tempoValue);
    lastY = y;
}

}  // namespace vl
