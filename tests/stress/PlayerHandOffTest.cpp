// The player and recorder arrays replaced and freed by the user-interface thread while the
// engine thread runs blocks through them: loads of files at two rates, recorder starts, frees
// and saves. Built with ThreadSanitizer by the tsan preset, which reports any unordered access.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

#include "../unit/coordinator/CoordinatorRig.h"
#include "player/AudioFile.h"
#include "support/FakePlugin.h"
#include "support/ScratchDir.h"

using namespace vltest;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

constexpr float kRampTop = 0.5f;

// Passes its input through and counts samples that are neither the device input nor inside
// the files' range (what a block reading a replaced or freed array would give).
class PassThrough : public FakePlugin {
public:
    std::atomic<uint64_t> strange{0};
    std::atomic<uint64_t> blocks{0};

protected:
    void onProcess(float** in, float** out, vst::int32 frames) override {
        uint64_t bad = 0;
        for (int c = 0; c < 2; ++c) {
            for (vst::int32 i = 0; i < frames; ++i) {
                const float x = in[c][i];
                if (x != 0.25f && x != -0.25f && !(std::fabs(x) <= kRampTop)) bad += 1;
                out[c][i] = x;
            }
        }
        strange += bad;
        blocks += 1;
    }
};

// A 16-bit stereo ramp from 0 to kRampTop.
fs::path writeRamp(const fs::path& path, uint32_t frames, uint32_t rate) {
    std::vector<float> samples(frames);
    for (uint32_t i = 0; i < frames; ++i) samples[i] = kRampTop * static_cast<float>(i) / static_cast<float>(frames);
    std::unique_ptr<vl::VLAudioFileBase> file;
    EXPECT_TRUE(vl::CreateAudioFile(file, path, frames, rate));
    EXPECT_TRUE(file->writeStereo16(vl::StereoBuffer{samples.data(), samples.data()}, frames));
    return path;
}

}  // namespace

TEST(PlayerHandOff, LoadsFreesAndSavesWhileTheEngineThreadRuns) {
    const ScratchDir dir("player-hand-off");
    const fs::path files[2] = {writeRamp(dir / "a.wav", 3000, 44100), writeRamp(dir / "b.wav", 2000, 48000)};
    const double steps[2] = {static_cast<double>(44100.0f / 48000.0f), 1.0};
    PassThrough plugin;
    CoordinatorRig rig(vl::kDeviceTypeWasapiShared, 48000.0, 64);
    plugin.attach(rig.slot);
    rig.backend.paceMicros = 100;
    rig.settings->inputDevice = rig.backend.input();
    rig.link();
    ASSERT_TRUE(rig.host.StartAudioEngine());
    ASSERT_EQ(rig.host.LoadSample(files[0]), 3000u);
    ASSERT_TRUE(rig.host.StartPlayer(vl::Running, true));

    uint64_t saves = 0;
    for (int round = 0; round < 60; ++round) {
        const int which = round % 2;
        ASSERT_EQ(rig.host.LoadSample(files[which]), which ? 2000u : 3000u) << round;
        EXPECT_EQ(rig.host.playerState.load(), vl::Running);
        EXPECT_EQ(rig.host.playStep, steps[which]) << round;  // the new file's own rate
        ASSERT_TRUE(rig.host.StartRecorder(vl::Running, 48000));
        // A few blocks into the recording (bounded: a loaded machine may be slow to run them).
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (rig.host.recordedFrames.get() < 256 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(1ms);
        if (round % 3 == 0) {
            rig.host.FreeRecording();
            EXPECT_EQ(rig.host.recordLeft, nullptr);
            continue;
        }
        // The count is taken once the recorder has stopped: what is saved is all there is.
        if (rig.host.SaveRecording(dir / "take.wav")) {
            saves += 1;
            EXPECT_EQ(rig.host.recorderState.load(), vl::Stopped);
            std::unique_ptr<vl::VLAudioFileBase> saved;
            EXPECT_EQ(vl::OpenAudioFile(saved, dir / "take.wav"), rig.host.recordedFrames.get()) << round;
        }
        rig.host.FreeRecording();
    }
    const uint64_t target = plugin.blocks.load() + 10;
    while (plugin.blocks.load() < target && rig.host.engineRunning.load()) std::this_thread::sleep_for(1ms);
    rig.host.StopAudioEngine();

    EXPECT_EQ(saves, 40u);
    EXPECT_GT(plugin.blocks.load(), 100u);
    EXPECT_EQ(plugin.strange.load(), 0u);
}
