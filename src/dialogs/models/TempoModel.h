#pragma once
// TempoModel: what the Tempo dialog and its tempo box decide. Every change goes at once to the
// coordinator's tempo through its hand-over; HostSettings keeps the tempo after each tap and
// when the dialog is closed with its Close button (not with the close box or Escape).

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace vl {

class HostSettings;
class VLVSTHostInterface;

constexpr double kMinTempo = 45.0;
constexpr double kMaxTempo = 250.0;
// Typed tempos count only strictly between these (single-precision constants, compared as
// doubles).
constexpr double kTypedTempoLow = static_cast<double>(44.9f);
constexpr double kTypedTempoHigh = static_cast<double>(250.1f);
// Taps further apart than this start a new series.
constexpr uint32_t kTapSeriesGapMs = 1333;

// The high-resolution counter the taps are timed with (tests give their own).
struct TapClock {
    std::function<int64_t()> now;
    int64_t frequency = 1;  // ticks per second
    static TapClock system();
};

// Milliseconds between two counter values without overflow; saturates at the uint32 range.
uint32_t tapIntervalMs(int64_t from, int64_t to, int64_t frequency);

class TempoModel {
public:
    enum class DragMode { None, WholeBeats, Tenths };

    TempoModel(VLVSTHostInterface& host, HostSettings& settings, TapClock clock = TapClock::system());

    // ---- control events ----------------------------------------------------------------
    void initialise();                        // the coordinator's tempo, to hundredths
    void stepSpin(int upSteps);               // up = +0.01 BPM
    bool typed(std::wstring_view text);       // false: not a number (nothing changes)
    void tap();
    void close();                             // the Close button; the close box needs nothing
    // The tempo box: button down at x (pixels inside the edit), moves, button up.
    void beginDrag(int x, int y);
    void dragTo(int y);
    void endDrag() { mode = DragMode::None; }

    // ---- what the dialog shows -----------------------------------------------------------
    double value() const { return tempoValue; }
    std::wstring text() const;
    DragMode dragMode() const { return mode; }

private:
    void handOver(double tempo);

    VLVSTHostInterface& host;
    HostSettings& settings;
    TapClock clock;

    double tempoValue = 120.0;
    bool tapped = false;  // lastTapTime holds a tap
    int64_t lastTapTime = 0;
    uint32_t tapSum = 0;
    int32_t tapCount = 0;
    DragMode mode = DragMode::None;
    int lastY = 0;
};

}  // namespace vl
