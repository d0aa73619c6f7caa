// Engine start/stop cycles through the coordinator, per family: no hang, and neither the
// process's handles nor its memory grow.

#include "WinAudioRig.h"

using namespace wintest;

namespace {

constexpr int kCycles = 200;

class WinAudioCycles : public testing::TestWithParam<Family> {};

TEST_P(WinAudioCycles, StartAndStopTwoHundredTimesWithoutGrowth) {
    SinePlugin sine(440.0, 0.25);
    EngineRig rig;
    sine.attach(rig.slot);
    rig.settings->outputDevice = findRecord(GetParam().backend(rig.backends), GetParam().type, false);
    ASSERT_NE(rig.settings->outputDevice, nullptr);
    rig.link();
    // A few cycles first, so that what Wine builds on first use is there before counting.
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(rig.host.StartAudioEngine());
        rig.host.StopAudioEngine();
    }
    const DWORD handlesBefore = handleCount();
    const size_t bytesBefore = privateBytes();
    const auto start = std::chrono::steady_clock::now();
    int started = 0;
    for (int i = 0; i < kCycles; ++i) {
        if (rig.host.StartAudioEngine()) ++started;
        rig.host.StopAudioEngine();
        ASSERT_FALSE(rig.host.engineRunning.load()) << "cycle " << i;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const DWORD handlesAfter = handleCount();
    const size_t bytesAfter = privateBytes();
    std::printf("%s: %d cycles in %.1f s (%d started), %llu blocks; handles %lu -> %lu; private memory %.1f -> %.1f MB\n",
                GetParam().name, kCycles, seconds, started, static_cast<unsigned long long>(sine.blocks.load()),
                handlesBefore, handlesAfter, bytesBefore / 1048576.0, bytesAfter / 1048576.0);
    EXPECT_EQ(started, kCycles);
    // Generous bounds: Wine's own threads come and go; a leak per cycle would pass them by far.
    EXPECT_LE(handlesAfter, handlesBefore + 20);
    EXPECT_LE(bytesAfter, bytesBefore + 8u * 1048576u);
}

INSTANTIATE_TEST_SUITE_P(Families, WinAudioCycles, testing::Values(kWasapiShared, kDirectSound, kMme), familyName);

}  // namespace
