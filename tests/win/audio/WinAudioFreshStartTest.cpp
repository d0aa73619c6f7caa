// What a start may keep from earlier work, under Wine: a shared details query leaves nothing
// for a later start of other devices, and without an input device the plug-in's input is
// silence in every block of every family.

#include "WinAudioRig.h"

using namespace wintest;

namespace {

// An instrument with audio inputs (so the engine starts it without an input device) that
// plays a loud sine and counts every input sample that is not exactly zero.
class InputWatchingSynth : public SinePlugin {
public:
    InputWatchingSynth() : SinePlugin(997.0, 0.5) {
        effect.numInputs = 2;
        effect.flags = vst::effFlagsIsSynth | vst::effFlagsCanReplacing;
    }
    std::atomic<uint64_t> nonZeroInputs{0};

protected:
    void onProcess(float** inputs, float** outputs, vst::int32 n) override {
        uint64_t nonZero = 0;
        for (int c = 0; c < 2; ++c)
            for (vst::int32 i = 0; i < n; ++i) nonZero += inputs[c][i] != 0.0f;
        nonZeroInputs += nonZero;
        SinePlugin::onProcess(inputs, outputs, n);
    }
};

}  // namespace

class WinAudioSilentInput : public testing::TestWithParam<Family> {};

// Failed before: WASAPI and DirectSound handed the plug-in its previous output in most blocks,
// MME in every block.
TEST_P(WinAudioSilentInput, WithoutAnInputDeviceEveryInputSampleIsZero) {
    InputWatchingSynth synth;
    EngineRig rig;
    synth.attach(rig.slot);
    rig.settings->outputDevice = findRecord(GetParam().backend(rig.backends), GetParam().type, false);
    ASSERT_NE(rig.settings->outputDevice, nullptr);
    rig.link();
    ASSERT_TRUE(rig.host.StartAudioEngine());
    EXPECT_EQ(rig.settings->inputDevice, nullptr);
    EXPECT_TRUE(waitFor([&] { return synth.blocks.load() >= 100; }, 20000));
    rig.host.StopAudioEngine();
    std::printf("%s: %llu blocks, %llu input samples not zero\n", GetParam().name,
                static_cast<unsigned long long>(synth.blocks.load()),
                static_cast<unsigned long long>(synth.nonZeroInputs.load()));
    EXPECT_GE(synth.blocks.load(), 100u);
    EXPECT_EQ(synth.nonZeroInputs.load(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Families, WinAudioSilentInput, testing::Values(kWasapiShared, kDirectSound, kMme), familyName);

// Failed before: the shared query's client was kept and the exclusive start ran 200 blocks on
// it (in the shared format, on whatever device the query had opened). Wine refuses exclusive
// streams, so a start on fresh clients only gives no block at all.
TEST(WinAudioFreshClients, ASharedQueryLeavesNothingForAStartOfOtherDevices) {
    SinePlugin sine(997.0, 0.5);
    EngineRig rig;
    sine.attach(rig.slot);
    vl::VLAudioBase& wasapi = rig.backends.wasapi();
    vl::AudioDeviceRecord* shared = findRecord(&wasapi, vl::kDeviceTypeWasapiShared, false);
    vl::AudioDeviceRecord* sharedInput = findRecord(&wasapi, vl::kDeviceTypeWasapiShared, true);
    vl::AudioDeviceRecord* exclusive = findRecord(&wasapi, vl::kDeviceTypeWasapiExclusive, false);
    ASSERT_TRUE(shared && sharedInput && exclusive);
    for (vl::AudioDeviceRecord* r : {shared, sharedInput}) {
        r->detailsKnown = false;
        ASSERT_TRUE(wasapi.queryDetails(r, false));
    }
    rig.settings->outputDevice = exclusive;
    rig.link();
    EXPECT_FALSE(rig.host.StartAudioEngine());
    EXPECT_EQ(sine.blocks.load(), 0u);

    // The shared output itself still starts, on a client of its own, and plays.
    rig.settings->outputDevice = shared;
    ASSERT_TRUE(rig.host.StartAudioEngine());
    EXPECT_TRUE(waitFor([&] { return sine.blocks.load() >= 50; }, 10000));
    rig.host.StopAudioEngine();
    EXPECT_LE(sine.largestBlock.load(), shared->bufferSize);
}
