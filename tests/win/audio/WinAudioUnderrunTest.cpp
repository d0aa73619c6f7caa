// The wave back end on Wine's waveOut when the plug-in holds a block up for longer than the
// 21 queued headers last: the device runs dry, which is an underrun the engine plays through.

#include "WinAudioRig.h"

#include "audio/mme/VLMMAudio.h"

using namespace wintest;

namespace {

// A sine that, once, takes far longer than a block to process (a busy machine).
class StallingSine : public SinePlugin {
public:
    StallingSine() : SinePlugin(997.0, 0.5) {}
    uint64_t stallAt = 40;
    DWORD stallMs = 900;  // 21 headers of 1024 frames at 44.1 kHz last 488 ms

protected:
    void onProcess(float** inputs, float** outputs, vst::int32 n) override {
        if (blocks.load() == stallAt) Sleep(stallMs);
        SinePlugin::onProcess(inputs, outputs, n);
    }
};

}  // namespace

// Failed before: the next write found every header back, closed the device and ended the
// engine, and the user was told the device stopped working.
TEST(WinAudioMme, ADeviceThatRanDryIsAnUnderrunAndPlaybackGoesOn) {
    StallingSine sine;
    EngineRig rig;
    sine.attach(rig.slot);
    auto* mme = dynamic_cast<vl::VLMMAudio*>(rig.backends.mme());
    ASSERT_NE(mme, nullptr);
    rig.settings->outputDevice = findRecord(mme, vl::kDeviceTypeMME, false);
    ASSERT_NE(rig.settings->outputDevice, nullptr);
    rig.link();
    ASSERT_TRUE(rig.host.StartAudioEngine());
    EXPECT_TRUE(waitFor([&] { return sine.blocks.load() >= sine.stallAt + 100; }, 30000));
    EXPECT_EQ(rig.host.PollEngine(), vl::EngineNotice::None);
    EXPECT_TRUE(rig.host.engineRunning.load());
    std::printf("%llu blocks, %u underruns\n", static_cast<unsigned long long>(sine.blocks.load()), mme->underruns());
    EXPECT_GE(mme->underruns(), 1u);
    rig.host.StopAudioEngine();
}
