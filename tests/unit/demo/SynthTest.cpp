#include "Synth.h"

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <vector>

#include "Parameters.h"
#include "support/SignalAnalysis.h"

using demo::Synth;
using demotest::largestStep;
using demotest::peakLevel;

namespace {

constexpr double kRate = 44100.0;

void midi(Synth& synth, uint8_t status, uint8_t data1, uint8_t data2) {
    const uint8_t message[3] = {status, data1, data2};
    synth.handleMidi(message);
}
void noteOn(Synth& synth, int note, int velocity = 100) { midi(synth, 0x90, uint8_t(note), uint8_t(velocity)); }
void noteOff(Synth& synth, int note) { midi(synth, 0x80, uint8_t(note), 0); }
void controller(Synth& synth, int number, int value) { midi(synth, 0xB0, uint8_t(number), uint8_t(value)); }

std::vector<float> render(Synth& synth, double seconds) {
    std::vector<float> out(static_cast<size_t>(seconds * synth.sampleRate()));
    synth.render(out.data(), static_cast<int>(out.size()));
    return out;
}

// A patch given in plain units over the defaults.
demo::Patch patchWith(std::initializer_list<std::pair<demo::ParamId, float>> plainValues) {
    demo::ParamValues values = demo::defaultParamValues();
    for (const auto& [id, plain] : plainValues) values[id] = demo::paramToNormalized(id, plain);
    return demo::patchFrom(values);
}

// A dark, steady patch whose waveform changes slowly from sample to sample, so that any click
// stands far above the waveform's own steps; velocity fully decides the loudness.
demo::Patch smoothPatch() {
    return patchWith({{demo::kCutoff, 100.0f},
                      {demo::kResonance, 0.0f},
                      {demo::kEnvAmount, 0.0f},
                      {demo::kVelocity, 1.0f},
                      {demo::kSustain, 1.0f},
                      {demo::kVolume, 1.0f}});
}

class SynthTest : public ::testing::Test {
protected:
    void SetUp() override { synth.setSampleRate(kRate); }
    Synth synth;
};

}  // namespace

// ---- voices -----------------------------------------------------------------------------------

TEST_F(SynthTest, NoteOnWithVelocityZeroIsANoteOff) {
    noteOn(synth, 60);
    EXPECT_TRUE(synth.isHeld(60));
    midi(synth, 0x93, 60, 0);  // any channel
    EXPECT_FALSE(synth.isHeld(60));
    EXPECT_TRUE(synth.isSounding(60));  // releasing, not cut
}

TEST_F(SynthTest, RepeatedNoteTakesOverItsOwnVoice) {
    noteOn(synth, 60);
    noteOff(synth, 60);
    noteOn(synth, 60);
    EXPECT_EQ(synth.activeVoiceCount(), 1);
    EXPECT_TRUE(synth.isHeld(60));
}

TEST_F(SynthTest, SeventeenthNoteStealsTheOldestHeldNote) {
    for (int i = 0; i < demo::kMaxVoices; ++i) noteOn(synth, 40 + i);
    render(synth, 0.05);
    noteOn(synth, 90);
    EXPECT_EQ(synth.activeVoiceCount(), demo::kMaxVoices);
    EXPECT_FALSE(synth.isSounding(40));
    EXPECT_TRUE(synth.isHeld(90));
    for (int i = 1; i < demo::kMaxVoices; ++i) EXPECT_TRUE(synth.isHeld(40 + i)) << 40 + i;
}

TEST_F(SynthTest, StealingPrefersReleasedThenPedalHeldVoices) {
    for (int i = 0; i < demo::kMaxVoices; ++i) noteOn(synth, 40 + i);
    noteOff(synth, 45);
    controller(synth, 64, 127);
    noteOff(synth, 47);  // kept by the pedal
    render(synth, 0.01);

    noteOn(synth, 90);
    EXPECT_FALSE(synth.isSounding(45));  // the released one goes first
    EXPECT_TRUE(synth.isSounding(40));
    EXPECT_TRUE(synth.isSounding(47));

    noteOn(synth, 91);
    EXPECT_FALSE(synth.isSounding(47));  // then the one only the pedal holds
    EXPECT_TRUE(synth.isSounding(40));

    noteOn(synth, 92);
    EXPECT_FALSE(synth.isSounding(40));  // then the oldest key
    EXPECT_EQ(synth.activeVoiceCount(), demo::kMaxVoices);
}

TEST_F(SynthTest, SustainPedalHoldsReleasedKeysUntilLiftedOrAllNotesOff) {
    controller(synth, 64, 100);
    noteOn(synth, 50);
    noteOff(synth, 50);
    noteOn(synth, 60);
    render(synth, 1.0);
    EXPECT_TRUE(synth.isSounding(50));
    EXPECT_FALSE(synth.isHeld(50));
    controller(synth, 64, 0);
    EXPECT_TRUE(synth.isHeld(60));     // held by its key, not the pedal
    EXPECT_TRUE(synth.isSounding(50));  // releasing now
    render(synth, 0.6);
    EXPECT_FALSE(synth.isSounding(50));
    EXPECT_TRUE(synth.isHeld(60));

    controller(synth, 64, 127);
    noteOn(synth, 50);
    noteOff(synth, 50);
    controller(synth, 123, 0);  // ends pedal-held and key-held notes alike
    EXPECT_FALSE(synth.isHeld(60));
    const auto tail = render(synth, 0.6);
    EXPECT_GT(peakLevel(tail, 0, 100), 0.01f);  // a release, not a cut
    EXPECT_EQ(synth.activeVoiceCount(), 0);
    EXPECT_EQ(peakLevel(tail, tail.size() - 1000), 0.0f);  // exact zeros: nothing decays into denormals
}

TEST_F(SynthTest, PitchBendMovesTheNoteUpToTwoSemitones) {
    midi(synth, 0xE0, 0x7F, 0x7F);  // full up
    noteOn(synth, 69);
    const auto out = render(synth, 1.5);
    const demotest::Spectrum spectrum(demotest::slice(out, out.size() - 32768, 32768), kRate);
    const double expected = 440.0 * std::exp2(8191.0 / 8192.0 * 2.0 / 12.0);
    EXPECT_NEAR(spectrum.peakFrequency(300.0, 700.0), expected, 1.0);

    midi(synth, 0xB0, 121, 0);  // reset controllers: back to the plain pitch
    const auto reset = render(synth, 1.0);
    const demotest::Spectrum plain(demotest::slice(reset, reset.size() - 32768, 32768), kRate);
    EXPECT_NEAR(plain.peakFrequency(300.0, 700.0), 440.0, 1.0);
}

// ---- sound ------------------------------------------------------------------------------------

TEST_F(SynthTest, NoteStartsWithoutAClick) {
    noteOn(synth, 60, 127);
    const auto out = render(synth, 0.05);
    EXPECT_LT(std::abs(out[0]), 1e-3f);
    EXPECT_LT(largestStep(out, 1, 64), 0.01f);
    EXPECT_GT(peakLevel(out), 0.05f);
}

TEST_F(SynthTest, TakingOverASoundingVoiceDoesNotClick) {
    synth.setPatch(smoothPatch());
    noteOn(synth, 48, 127);  // the oldest, and the only audible voice
    for (int i = 1; i < demo::kMaxVoices; ++i) noteOn(synth, 60 + i, 1);
    std::vector<float> out = render(synth, 0.5);
    // Take the voice over near a crest of the waveform, where cutting it would jump most.
    const float crest = peakLevel(out, out.size() - 2000);
    float last = 0.0f;
    for (int i = 0; i < 2000 && std::abs(last) < 0.8f * crest; ++i) {
        synth.render(&last, 1);
        out.push_back(last);
    }
    const float ownStep = largestStep(out, out.size() - 2000);
    const size_t at = out.size();
    noteOn(synth, 50, 20);  // steals note 48's voice, much softer
    EXPECT_FALSE(synth.isSounding(48));
    const auto after = render(synth, 0.05);
    out.insert(out.end(), after.begin(), after.end());
    EXPECT_LT(largestStep(out, at - 1, at + 400), 2.0f * ownStep);
}

TEST_F(SynthTest, EightLoudNotesStayWithinFullScaleAtExtremeSettings) {
    const demo::Patch extreme = patchWith({{demo::kCutoff, 20000.0f},
                                           {demo::kResonance, 1.0f},
                                           {demo::kEnvAmount, 6.0f},
                                           {demo::kOscMix, 0.5f},
                                           {demo::kVolume, 1.0f}});
    for (const demo::Patch& patch : {demo::patchFrom(demo::defaultParamValues()), extreme}) {
        for (double rate : {22050.0, 48000.0, 192000.0}) {
            Synth s;
            s.setSampleRate(rate);
            s.setPatch(patch);
            for (int note : {36, 43, 48, 52, 55, 60, 64, 67}) noteOn(s, note, 127);
            const auto out = render(s, 0.5);
            for (float x : out) ASSERT_TRUE(std::isfinite(x));
            EXPECT_LE(peakLevel(out), 1.0f) << rate;
            EXPECT_GT(peakLevel(out), 0.1f) << rate;
        }
    }
}

TEST_F(SynthTest, VelocityChangesLoudness) {
    noteOn(synth, 60, 127);
    const float loud = peakLevel(render(synth, 0.3));
    controller(synth, 120, 0);
    noteOn(synth, 60, 30);
    const float soft = peakLevel(render(synth, 0.3));
    EXPECT_LT(soft, 0.6f * loud);
    EXPECT_GT(soft, 0.05f * loud);
}

