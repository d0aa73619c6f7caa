#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "Envelope.h"
#include "Filter.h"
#include "support/SignalAnalysis.h"

using demo::Envelope;
using demo::EnvelopeSettings;
using demo::LowPassFilter;
using Stage = demo::Envelope::Stage;

namespace {

// Runs the envelope while it stays in its present stage; answers how many samples that took.
int runStage(Envelope& env, const EnvelopeSettings& s, int limit = 10'000'000) {
    const Stage stage = env.stage();
    int samples = 0;
    while (env.stage() == stage && samples < limit) {
        env.next(s);
        ++samples;
    }
    return samples;
}

class EnvelopeAtRate : public ::testing::TestWithParam<double> {};

}  // namespace

TEST_P(EnvelopeAtRate, AttackAndDecayTakeTheirSetTimes) {
    const double rate = GetParam();
    const EnvelopeSettings s = EnvelopeSettings::make(rate, 0.01f, 0.1f, 0.5f, 0.2f);
    Envelope env;
    env.gateOn();
    EXPECT_NEAR(runStage(env, s), 0.01 * rate, 2.0);
    EXPECT_EQ(env.level(), 1.0f);
    ASSERT_EQ(env.stage(), Stage::Decay);
    EXPECT_NEAR(runStage(env, s), 0.1 * rate, 2.0);
    EXPECT_EQ(env.stage(), Stage::Sustain);
    for (int i = 0; i < 1000; ++i) env.next(s);
    EXPECT_EQ(env.level(), 0.5f);
    EXPECT_EQ(env.stage(), Stage::Sustain);
}

TEST_P(EnvelopeAtRate, ReleaseEndsAtExactZeroWithinItsTime) {
    const double rate = GetParam();
    const EnvelopeSettings s = EnvelopeSettings::make(rate, 0.001f, 0.1f, 1.0f, 0.3f);
    Envelope env;
    env.gateOn();
    runStage(env, s);  // attack; with full sustain there is no decay
    env.next(s);
    ASSERT_EQ(env.stage(), Stage::Sustain);
    env.gateOff();
    // From full level the release takes exactly its time, and it sounds for most of it.
    int samples = 0;
    float levelAtHalfTime = 0.0f;
    while (env.active()) {
        env.next(s);
        if (++samples == static_cast<int>(0.15 * rate)) levelAtHalfTime = env.level();
    }
    EXPECT_NEAR(samples, 0.3 * rate, 2.0 + 0.3 * rate * 1e-3);  // float resolution of the curve
    EXPECT_GT(levelAtHalfTime, 0.01f);
    EXPECT_EQ(env.level(), 0.0f);
    EXPECT_EQ(env.next(s), 0.0f);
}

INSTANTIATE_TEST_SUITE_P(Rates, EnvelopeAtRate, ::testing::Values(22050.0, 44100.0, 192000.0));

TEST(Envelope, RetriggerDuringReleaseRisesFromThePresentLevel) {
    const EnvelopeSettings s = EnvelopeSettings::make(44100.0, 0.005f, 0.05f, 0.6f, 0.5f);
    Envelope env;
    env.gateOn();
    for (int i = 0; i < 10000; ++i) env.next(s);
    env.gateOff();
    for (int i = 0; i < 2000; ++i) env.next(s);
    const float before = env.level();
    ASSERT_GT(before, 0.05f);
    ASSERT_LT(before, 0.6f);
    env.gateOn();
    const float after = env.next(s);
    EXPECT_GE(after, before);
    EXPECT_LT(after - before, 0.05f);  // a continuation, not a jump to the top
    EXPECT_EQ(env.stage(), Stage::Attack);
}

// ---- filter ---------------------------------------------------------------------------------

namespace {

// Steady-state gain of the filter for a sine, measured after the transient.
double sineGain(double frequency, double cutoff, float resonance, double rate) {
    LowPassFilter f;
    f.setCutoff(cutoff, rate, resonance);
    const int settle = static_cast<int>(rate / 2), measure = static_cast<int>(rate / 2);
    double peak = 0.0;
    for (int i = 0; i < settle + measure; ++i) {
        const float y = f.process(static_cast<float>(std::sin(2.0 * demotest::kPi * frequency * i / rate)));
        if (i >= settle) peak = std::max(peak, static_cast<double>(std::abs(y)));
    }
    return peak;
}

}  // namespace

TEST(LowPassFilter, StableAndBoundedAtEveryRateCutoffAndResonance) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    std::uniform_real_distribution<double> sweep(0.0, 1.0);
    for (double rate : {22050.0, 44100.0, 48000.0, 96000.0, 192000.0}) {
        for (float resonance : {0.0f, 0.5f, 0.9f, 1.0f}) {
            for (double cutoff : {1.0, 16.0, 1000.0, 20000.0, 0.49 * rate, 1e7}) {
                LowPassFilter f;
                double peak = 0.0;
                for (int i = 0; i < 48000; ++i) {
                    // Modulated every 16 samples, half the time to a random cutoff, as a voice does.
                    if (i % 16 == 0) f.setCutoff(i % 32 == 0 ? cutoff : 20.0 * std::pow(1000.0, sweep(random)), rate,
                                                 resonance);
                    const float y = f.process(noise(random));
                    ASSERT_TRUE(std::isfinite(y)) << rate << " " << cutoff << " " << resonance;
                    peak = std::max(peak, static_cast<double>(std::abs(y)));
                }
                EXPECT_LT(peak, 100.0) << rate << " " << cutoff << " " << resonance;
            }
        }
    }
}

TEST(LowPassFilter, PassesLowsCutsHighsAndResonatesAtTheCutoff) {
    for (double rate : {22050.0, 48000.0, 192000.0}) {
        EXPECT_NEAR(sineGain(50.0, 2000.0, 0.0f, rate), 1.0, 0.02) << rate;
        // Two poles: 40 dB per decade above the cutoff.
        EXPECT_LT(sineGain(8000.0, 500.0, 0.0f, rate), 0.01) << rate;
    }
    EXPECT_NEAR(sineGain(1000.0, 1000.0, 0.0f, 48000.0), 0.5, 0.02);
    const double resonant = sineGain(1000.0, 1000.0, 1.0f, 48000.0);
    EXPECT_GT(resonant, 10.0);
    EXPECT_LT(resonant, 15.0);  // strong but finite: it never turns into an oscillator
}

TEST(LowPassFilter, DecayedStatesAreClearedBeforeTheyTurnDenormal) {
    LowPassFilter f;
    f.setCutoff(20000.0, 44100.0, 0.0f);
    f.process(1.0f);
    float y = 1.0f;
    for (int i = 0; i < 200000; ++i) {
        if (i % 16 == 0) f.flushTinyStates();
        y = f.process(0.0f);
        ASSERT_NE(std::fpclassify(y), FP_SUBNORMAL) << "sample " << i;
    }
    EXPECT_EQ(y, 0.0f);
}
