// The Tempo dialog's arithmetic: taps timed by a test clock, spin, typing, drag, Close.

#include <gtest/gtest.h>

#include <cmath>

#include "DialogRig.h"
#include "dialogs/models/TempoModel.h"

using namespace vltest;
using vl::TempoModel;

namespace {

// A counter at 10 MHz (as the Windows counter) that the test moves.
struct TestClock {
    int64_t ticks = 0;
    void advanceMs(int64_t ms) { ticks += ms * 10000; }
    vl::TapClock clock() {
        return vl::TapClock{[this] { return ticks; }, 10000000};
    }
};

struct TempoRig {
    explicit TempoRig(double tempo = 120.0) {
        rig.host.tempo = tempo;
        model.initialise();
    }
    double handedOver() const { return rig.host.tempo.load(); }
    DialogRig rig;
    TestClock time;
    TempoModel model{rig.host, *rig.settings, time.clock()};
};

}  // namespace

TEST(TempoTap, SeriesAverageToTwoDecimals) {
    struct Case {
        int64_t intervalMs;
        double tempo;
    };
    for (const Case& c : {Case{500, 120.0}, Case{1000, 60.0}, Case{200, 250.0}, Case{1333, 45.01}, Case{1334, 0.0}}) {
        TempoRig t(100.0);
        t.time.ticks = 987654321;
        t.model.tap();  // only the time base
        EXPECT_EQ(t.handedOver(), 100.0);
        for (int tap = 0; tap < 3; ++tap) {
            t.time.advanceMs(c.intervalMs);
            t.model.tap();
            const double expected = c.tempo == 0.0 ? 100.0 : c.tempo;  // too slow: every tap restarts
            EXPECT_DOUBLE_EQ(t.model.value(), expected) << c.intervalMs << " ms, tap " << tap + 2;
            EXPECT_DOUBLE_EQ(t.handedOver(), expected);
        }
        if (c.tempo != 0.0) {
            EXPECT_EQ(t.rig.savedHostValue(L"Tempo"), t.model.text());
        }
    }
}

TEST(TempoTap, APauseStartsANewSeriesAndAveragesCountEveryInterval) {
    TempoRig t;
    t.time.ticks = 5;
    t.model.tap();
    t.time.advanceMs(500);
    t.model.tap();
    t.time.advanceMs(1000);
    t.model.tap();
    EXPECT_DOUBLE_EQ(t.model.value(), 80.0);  // (500 + 1000) / 2 ms
    t.time.advanceMs(1400);
    t.model.tap();  // after the pause: only the time base
    EXPECT_DOUBLE_EQ(t.model.value(), 80.0);
    t.time.advanceMs(1000);
    t.model.tap();
    EXPECT_DOUBLE_EQ(t.model.value(), 60.0);  // the earlier series no longer counts
}

TEST(TempoTap, TheFirstTapNeverCountsAsAnInterval) {
    // 2^32 ms and 500 ms after the counter's start: a count since 0 cut to 32 bits would read
    // as a 500 ms interval.
    TempoRig t;
    t.time.ticks = (int64_t{1} << 32) * 10000 + 500 * 10000;
    t.model.tap();
    EXPECT_DOUBLE_EQ(t.model.value(), 120.0);
    EXPECT_EQ(t.rig.savedHostValue(L"Tempo"), L"<none>");
    EXPECT_EQ(vl::tapIntervalMs(0, INT64_MAX, 10000000), UINT32_MAX);
    EXPECT_EQ(vl::tapIntervalMs(100, 50, 1000), UINT32_MAX);  // a counter going back: a pause
}

TEST(TempoSpinAndTyping, ClampsAndAcceptance) {
    struct Spin {
        double start;
        int steps;
        double value;
    };
    for (const Spin& s : {Spin{250.0, +1, 250.0}, Spin{45.0, -1, 45.0}, Spin{120.0, +1, 120.01}, Spin{120.0, -3, 119.97}}) {
        TempoRig t(s.start);
        t.model.stepSpin(s.steps);
        EXPECT_DOUBLE_EQ(t.model.value(), s.value) << s.start << " " << s.steps;
        EXPECT_DOUBLE_EQ(t.handedOver(), s.value);
    }
    struct Typed {
        const wchar_t* text;
        double shown;
        double handedOver;  // 100 = unchanged
    };
    for (const Typed& c : {Typed{L"44.5", 44.5, 100.0}, Typed{L"120.456", 120.46, 120.46}, Typed{L"44.9", 44.9, 100.0},
                           Typed{L"44.91", 44.91, 44.91}, Typed{L"250.1", 250.1, 250.1}, Typed{L"250.11", 250.11, 100.0}, Typed{L"250.09", 250.09, 250.09},
                           Typed{L" 98 ", 98.0, 98.0}}) {
        TempoRig t(100.0);
        EXPECT_TRUE(t.model.typed(c.text));
        EXPECT_DOUBLE_EQ(t.model.value(), c.shown) << c.text;
        EXPECT_DOUBLE_EQ(t.handedOver(), c.handedOver) << c.text;
    }
    TempoRig t(100.0);
    EXPECT_FALSE(t.model.typed(L"12a"));
    EXPECT_FALSE(t.model.typed(L""));
    EXPECT_EQ(t.model.text(), L"100");
}

TEST(TempoDrag, DigitsOrTenthsByClickPosition) {
    struct Case {
        double start;
        int x;
        int moves;  // > 0 up, < 0 down
        double value;
    };
    for (const Case& c : {Case{120.5, 10, 3, 123.5}, Case{120.5, 30, 3, 120.8}, Case{120.5, 20, -2, 118.5},
                          Case{99.5, 16, 1, 99.6}, Case{99.5, 14, 1, 100.5}, Case{249.5, 5, 3, 250.0},
                          Case{45.2, 30, -5, 45.0}, Case{120.46, 30, 1, 120.6}}) {
        TempoRig t(c.start);
        t.model.beginDrag(c.x, 100);
        int y = 100;
        for (int i = 0; i < std::abs(c.moves); ++i) {
            y += c.moves > 0 ? -7 : 40;  // one step per move, whatever the distance
            t.model.dragTo(y);
        }
        t.model.dragTo(y);  // no vertical movement: no change
        EXPECT_DOUBLE_EQ(t.model.value(), c.value) << c.start << " at x " << c.x;
        EXPECT_DOUBLE_EQ(t.handedOver(), c.value);
        t.model.endDrag();
        t.model.dragTo(y - 50);
        EXPECT_DOUBLE_EQ(t.model.value(), c.value) << "after the button is up";
    }
}

TEST(TempoClose, StoresOnlyAcceptedTempos) {
    for (const wchar_t* text : {L"133.3", L"44.5"}) {
        TempoRig t;
        t.model.typed(text);
        t.model.close();
        EXPECT_EQ(t.rig.savedHostValue(L"Tempo"), text == std::wstring(L"133.3") ? L"133.3" : L"<none>");
    }
}
