// The demo instrument as a host meets it: loaded by the real loader, driven through the
// dispatcher, effProcessEvents and processReplacing.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "KnobPanel.h"
#include "LoadedDemo.h"
#include "Parameters.h"
#include "support/SignalAnalysis.h"

using demotest::controller;
using demotest::LoadedDemo;
using demotest::noteOff;
using demotest::noteOn;
using demotest::peakLevel;
using demotest::Spectrum;

namespace {

constexpr size_t kAnalysisFrames = 32768;

vst::intptr silentHost(vst::AEffect*, vst::int32, vst::int32, vst::intptr, void*, float) { return 0; }

// Renders a held note long enough for attack, decay and filter sweep to settle, then answers
// the spectrum of the steady part.
Spectrum steadySpectrum(LoadedDemo& demo) {
    demo.renderSeconds(1.0);
    return Spectrum(demo.render(kAnalysisFrames), demo.rate);
}

std::vector<float> parameters(vst::AEffect& e) {
    std::vector<float> values;
    for (int i = 0; i < e.numParams; ++i) values.push_back(e.getParameter(&e, i));
    return values;
}

class DemoPitch : public ::testing::TestWithParam<float> {};

}  // namespace

TEST(DemoModule, PresentsItselfAsAStereoInstrument) {
    LoadedDemo demo;
    ASSERT_TRUE(demo.ok());
    vst::AEffect& e = demo.effect();
    EXPECT_EQ(demo.slot.effectName(), "Vorlane Demo Synth");
    EXPECT_EQ(demo.slot.vendorString(), "Vorlane Examples");
    EXPECT_FALSE(demo.slot.checkVendor());  // it carries no extension block
    EXPECT_TRUE(demo.slot.isSynth());
    EXPECT_EQ(e.numInputs, 0);
    EXPECT_EQ(e.numOutputs, 2);
    EXPECT_EQ(e.numParams, demo::kNumParams);
    EXPECT_NE(e.uniqueID, 0);
    EXPECT_NE(e.flags & vst::effFlagsCanReplacing, 0);
    EXPECT_NE(e.flags & vst::effFlagsProgramChunks, 0);
#if defined(_WIN32)
    EXPECT_NE(e.flags & vst::effFlagsHasEditor, 0);
#else
    EXPECT_EQ(e.flags & vst::effFlagsHasEditor, 0);
#endif
    EXPECT_TRUE(demo.slot.canDo("receiveVstMidiEvent"));
    for (const char* other : {"receiveVstMidiEven", "receiveVstMidiEvents", "sendVstMidiEvent", "receiveVstEvents",
                              "bypass", ""})
        EXPECT_EQ(demo.slot.dispatch(vst::effCanDo, 0, 0, const_cast<char*>(other)), 0) << other;
}

TEST_P(DemoPitch, HeldA4HasAStableFundamentalAt440Hz) {
    LoadedDemo demo(GetParam());
    ASSERT_TRUE(demo.ok());
    demo.send({noteOn(69)});
    const Spectrum spectrum = steadySpectrum(demo);
    const double fundamental = spectrum.peakFrequency(100.0, 1000.0);
    RecordProperty("fundamental_hz", std::to_string(fundamental));
    EXPECT_NEAR(fundamental, 440.0, 1.0);
    // The fundamental is the strongest partial of the whole sound, not only of this band.
    EXPECT_NEAR(spectrum.peakFrequency(100.0, 8000.0), fundamental, 1e-9);
}

INSTANTIATE_TEST_SUITE_P(Rates, DemoPitch, ::testing::Values(44100.0f, 48000.0f));

TEST(DemoModule, SampleRateChangeRetunesAndBadRatesAreIgnored) {
    LoadedDemo demo(48000.0f);
    ASSERT_TRUE(demo.ok());
    demo.send({noteOn(60)});
    demo.renderSeconds(0.2);
    demo.slot.setSampleRate(44100.0f);
    for (float bad : {0.0f, -48000.0f, std::nanf(""), 1e12f}) demo.slot.setSampleRate(bad);
    demo.rate = 44100.0f;
    demo.send({noteOff(60), noteOn(69)});
    EXPECT_NEAR(steadySpectrum(demo).peakFrequency(100.0, 1000.0), 440.0, 1.0);
}

TEST(DemoModule, TwoNotesSoundTogether) {
    LoadedDemo demo;
    ASSERT_TRUE(demo.ok());
    demo.send({noteOn(69), noteOn(76)});
    const Spectrum spectrum = steadySpectrum(demo);
    double a4 = 0.0, e5 = 0.0, between = 0.0;
    EXPECT_NEAR(spectrum.peakFrequency(420.0, 460.0, &a4), 440.0, 1.0);
    EXPECT_NEAR(spectrum.peakFrequency(640.0, 680.0, &e5), 659.255, 1.0);
    spectrum.peakFrequency(500.0, 600.0, &between);
    EXPECT_GT(e5, 0.3 * a4);
    EXPECT_GT(a4, 0.3 * e5);
    EXPECT_LT(between, 0.05 * std::min(a4, e5));
}

TEST(DemoModule, NoteOffEndsInSilenceWithinTheRelease) {
    LoadedDemo demo;
    ASSERT_TRUE(demo.ok());
    demo.send({noteOn(57, 127)});
    EXPECT_GT(peakLevel(demo.renderSeconds(0.5)), 0.05f);
    demo.send({noteOff(57)});
    const auto release = demo.renderSeconds(0.5);  // the default release is at most this long
    EXPECT_GT(peakLevel(release, 0, 441), 0.02f);  // fades, does not cut
    EXPECT_LT(peakLevel(demo.renderSeconds(0.5)), 1e-6f);
}

TEST(DemoModule, AllNotesOffSilencesEveryHeldNote) {
    LoadedDemo demo;
    ASSERT_TRUE(demo.ok());
    demo.send({noteOn(48), noteOn(55), noteOn(64), noteOn(72)});
    demo.renderSeconds(0.3);
    demo.send({controller(123)});
    demo.renderSeconds(0.5);
    EXPECT_LT(peakLevel(demo.renderSeconds(0.5)), 1e-6f);
}

TEST(DemoModule, AllSoundOffAndResumeSilenceAtOnce) {
    LoadedDemo demo;
    ASSERT_TRUE(demo.ok());
    demo.send({noteOn(60), noteOn(64)});
    demo.renderSeconds(0.2);
    demo.send({controller(120)});
    EXPECT_EQ(peakLevel(demo.render(512)), 0.0f);

    demo.send({noteOn(60)});
    demo.renderSeconds(0.2);
    demo.slot.dispatch(vst::effMainsChanged, 0, 0);
    demo.slot.resume();
    EXPECT_EQ(peakLevel(demo.render(512)), 0.0f);
}

TEST(DemoModule, EventsTakeEffectAtTheirDeltaFrames) {
    LoadedDemo demo(44100.0f, 512);
    ASSERT_TRUE(demo.ok());
    demo.send({noteOn(60, 127, 300)});
    const auto first = demo.render(512);
    EXPECT_EQ(peakLevel(first, 0, 300), 0.0f);
    EXPECT_GT(peakLevel(first, 300, 512), 1e-3f);

    demo.renderSeconds(0.1);
    demotest::Midi cut = controller(120);
    cut.deltaFrames = 200;
    demo.send({cut});
    const auto second = demo.render(512);
    EXPECT_GT(peakLevel(second, 0, 200), 1e-3f);
    EXPECT_EQ(peakLevel(second, 200, 512), 0.0f);

    // Out of order in the list: still placed by position.
    demo.send({noteOn(64, 127, 400), noteOn(67, 127, 100)});
    const auto third = demo.render(512);
    EXPECT_EQ(peakLevel(third, 0, 100), 0.0f);
    EXPECT_GT(peakLevel(third, 100, 400), 1e-3f);
}

TEST(DemoModule, PlaysWithoutEffOpenOrAnyConfiguration) {
    vl::platform::ModuleHandle module = vl::platform::loadModule(demotest::demoModulePath());
    ASSERT_NE(module, nullptr);
    auto entry = reinterpret_cast<vst::PluginEntryProc>(vl::platform::findSymbol(module, "VSTPluginMain"));
    ASSERT_NE(entry, nullptr);
    vst::AEffect* e = entry(&silentHost);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->magic, vst::kEffectMagic);
    EXPECT_EQ(e->dispatcher(e, vst::effCanDo, 0, 0, const_cast<char*>("receiveVstMidiEvent"), 0.0f), 1);

    demotest::EventList events({noteOn(69)});
    EXPECT_EQ(e->dispatcher(e, vst::effProcessEvents, 0, 0, events.get(), 0.0f), 1);
    std::vector<float> left(44100 + kAnalysisFrames), right(left.size());
    float* outputs[2] = {left.data(), right.data()};
    e->processReplacing(e, outputs, outputs, static_cast<vst::int32>(left.size()));  // one long block
    const std::vector<float> steady(left.end() - kAnalysisFrames, left.end());
    EXPECT_NEAR(Spectrum(steady, 44100.0).peakFrequency(100.0, 1000.0), 440.0, 1.0);  // 44.1 kHz assumed
    e->dispatcher(e, vst::effClose, 0, 0, nullptr, 0.0f);
    vl::platform::freeModule(module);
}

TEST(DemoModule, AccumulatingProcessAddsWhatReplacingWrites) {
    LoadedDemo demo;
    ASSERT_TRUE(demo.ok());
    auto entry = reinterpret_cast<vst::PluginEntryProc>(vl::platform::findSymbol(demo.slot.module, "VSTPluginMain"));
    ASSERT_NE(entry, nullptr);
    vst::AEffect* other = entry(&silentHost);
    ASSERT_NE(other, nullptr);
    other->dispatcher(other, vst::effSetSampleRate, 0, 0, nullptr, 44100.0f);

    demo.send({noteOn(62)});
    demotest::EventList events({noteOn(62)});
    other->dispatcher(other, vst::effProcessEvents, 0, 0, events.get(), 0.0f);
    const auto replaced = demo.render(2000);
    std::vector<float> left(2000, 0.25f), right(2000, -0.25f);
    float* outputs[2] = {left.data(), right.data()};
    other->process(other, outputs, outputs, 2000);
    float worst = 0.0f;
    for (size_t i = 0; i < replaced.size(); ++i) {
        worst = std::max(worst, std::abs(left[i] - 0.25f - replaced[i]));
        worst = std::max(worst, std::abs(right[i] + 0.25f - replaced[i]));
    }
    EXPECT_LT(worst, 1e-6f);
    EXPECT_GT(peakLevel(replaced), 0.01f);
    other->dispatcher(other, vst::effClose, 0, 0, nullptr, 0.0f);
}

TEST(DemoModule, ChunkRestoresParametersAndDamagedChunksAreIgnored) {
    LoadedDemo demo;
    ASSERT_TRUE(demo.ok());
    vst::AEffect& e = demo.effect();
    e.setParameter(&e, demo::kCutoff, 0.25f);
    e.setParameter(&e, demo::kRelease, 0.1f);
    e.setParameter(&e, demo::kOscMix, 0.9f);
    const std::vector<float> before = parameters(e);

    void* data = nullptr;
    const vst::intptr size = demo.slot.getChunk(&data);
    ASSERT_GT(size, 0);
    ASSERT_NE(data, nullptr);
    const std::vector<uint8_t> saved(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);

    for (int i = 0; i < e.numParams; ++i) e.setParameter(&e, i, 0.5f);
    ASSERT_NE(parameters(e), before);
    auto setChunk = [&](const void* bytes, vst::intptr length) {
        return demo.slot.dispatch(vst::effSetChunk, 0, length, const_cast<void*>(bytes));
    };
    EXPECT_EQ(setChunk(saved.data(), size), 1);
    EXPECT_EQ(parameters(e), before);

    for (int i = 0; i < e.numParams; ++i) e.setParameter(&e, i, 0.5f);
    const std::vector<float> halfway = parameters(e);
    std::vector<uint8_t> wrongVersion = saved;
    wrongVersion[4] ^= 0x40;
    std::vector<uint8_t> badValue = saved;
    badValue[saved.size() - 1] = 0x7F;  // the last value becomes about 3e38
    EXPECT_EQ(setChunk(wrongVersion.data(), size), 0);
    EXPECT_EQ(setChunk(badValue.data(), size), 0);
    EXPECT_EQ(setChunk(saved.data(), size - 1), 0);
    EXPECT_EQ(setChunk(nullptr, size), 0);
    EXPECT_EQ(setChunk(saved.data(), 0), 0);
    EXPECT_EQ(parameters(e), halfway);

    EXPECT_EQ(demo.slot.dispatch(vst::effGetChunk, 0, 0, nullptr), 0);
}

TEST(DemoModule, ParameterTextsWriteAtMostEightCharactersAndTheZero) {
    LoadedDemo demo;
    ASSERT_TRUE(demo.ok());
    vst::AEffect& e = demo.effect();
    for (int p = 0; p < e.numParams; ++p) {
        for (float value : {0.0f, 0.33f, 1.0f}) {
            e.setParameter(&e, p, value);
            for (vst::int32 opcode : {vst::effGetParamName, vst::effGetParamDisplay, vst::effGetParamLabel}) {
                char buffer[64];
                std::memset(buffer, 0x7F, sizeof buffer);
                demo.slot.dispatch(opcode, p, 0, buffer);
                const size_t length = strnlen(buffer, sizeof buffer);
                ASSERT_LE(length, 8u) << p << " " << opcode;
                for (size_t i = length + 1; i < sizeof buffer; ++i) ASSERT_EQ(buffer[i], 0x7F) << p << " " << opcode;
            }
        }
    }
    e.setParameter(&e, demo::kSustain, 0.5f);
    char display[16] = {};
    demo.slot.dispatch(vst::effGetParamDisplay, demo::kSustain, 0, display);
    EXPECT_STREQ(display, "50");

    for (vst::int32 index : {-1, e.numParams, 1000}) {
        char untouched[16] = "unchanged";
        demo.slot.dispatch(vst::effGetParamName, index, 0, untouched);
        EXPECT_STREQ(untouched, "unchanged");
        e.setParameter(&e, index, 0.5f);
        EXPECT_EQ(e.getParameter(&e, index), 0.0f);
    }
}

TEST(DemoModule, FloodOfEventsStaysBoundedAndCanBeSilenced) {
    LoadedDemo demo(48000.0f, 256);
    ASSERT_TRUE(demo.ok());
    std::mt19937 random(3);
    std::vector<demotest::Midi> flood;
    for (int i = 0; i < 3000; ++i) {
        const auto note = static_cast<uint8_t>(random() % 128);
        const auto delta = static_cast<int32_t>(random() % 700) - 50;  // some before or past the block
        const uint8_t status = static_cast<uint8_t>((i % 3 == 0 ? 0x80 : 0x90) | (random() % 16));
        flood.push_back({status, note, static_cast<uint8_t>(random() % 128), delta});
    }
    flood.push_back({0xE0, 0x00, 0x00, 10});  // full bend down
    flood.push_back({0xF8, 0x00, 0x00, 20});  // a clock byte: ignored
    demo.send(flood);
    demo.renderSeconds(0.5);  // the harness checks every sample is within [-1, 1]
    demo.send({controller(120)});
    EXPECT_EQ(peakLevel(demo.render(256)), 0.0f);
}

TEST(DemoModule, EditorRectangleMatchesThePlatform) {
    LoadedDemo demo;
    ASSERT_TRUE(demo.ok());
#if defined(_WIN32)
    const auto rect = demo.slot.editGetRect();
    ASSERT_TRUE(rect.has_value());
    EXPECT_EQ(rect->right - rect->left, demo::kEditorWidth);
    EXPECT_EQ(rect->bottom - rect->top, demo::kEditorHeight);
#else
    vst::ERect* rect = nullptr;
    demo.slot.dispatch(vst::effEditGetRect, 0, 0, &rect);
    EXPECT_EQ(rect, nullptr);
    int notAWindow = 0;
    EXPECT_EQ(demo.slot.dispatch(vst::effEditOpen, 0, 0, &notAWindow), 0);
    demo.slot.editIdle();
    demo.slot.editClose();
#endif
}
