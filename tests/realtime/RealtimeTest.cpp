// Proves that the process cycle allocates nothing and takes no lock: every operator new of this
// program is counted, and (natively, without sanitizers) every pthread mutex lock, while the
// counting flag of the audio thread is set.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <vector>

#include "../unit/coordinator/CoordinatorRig.h"
#include "player/AudioFile.h"
#include "host/HostCallback.h"
#include "support/FakePlugin.h"
#include "support/ProbeModule.h"
#include "support/ScratchDir.h"

#include "support/CountingAllocator.h"

using namespace vltest;
namespace fs = std::filesystem;

namespace {

// 5000 blocks of 64 frames with the player (a file at fileRate on a 44.1 kHz device, looping),
// the recorder, keyboard notes and tempo hand-overs, counting on the audio thread only.
void runCountedCycles(const char* name, uint32_t fileRate) {
    const ScratchDir dir(name);
    {
        std::vector<float> samples(4410, 0.1f);
        std::unique_ptr<vl::VLAudioFileBase> file;
        ASSERT_TRUE(vl::CreateAudioFile(file, dir / "loop.wav", 4410, fileRate));
        ASSERT_TRUE(file->writeStereo16(vl::StereoBuffer{samples.data(), samples.data()}, 4410));
    }

    ProbeModule probe;
    probe.config().processMode = probe::ProcessPassThrough;
    CoordinatorRig rig(vl::kDeviceTypeASIO, 44100.0, 64);
    ASSERT_EQ(rig.slot.load(probe.path()), vl::LoadResult::Loaded);
    rig.settings->inputDevice = rig.backend.input();
    rig.link();
    ASSERT_EQ(rig.host.LoadSample(dir / "loop.wav"), 4410u);
    ASSERT_TRUE(rig.host.StartPlayer(vl::Running, true));
    ASSERT_TRUE(rig.host.StartRecorder(vl::Running, 0));
    ASSERT_TRUE(rig.host.StartAudioEngine());
    rig.host.requestTransport(true);

    for (int block = 0; block < 5000; ++block) {
        if (block % 3 == 0) rig.host.KeyboardNote('D', block % 2 == 0);
        if (block % 50 == 0) rig.host.handOverTempo(100.0 + block % 40);
        countingHere = true;
        rig.backend.pump(64);
        countingHere = false;
    }
    EXPECT_EQ(allocations.load(), 0);
    EXPECT_EQ(locks.load(), 0);
    EXPECT_EQ(probe.blockCount(), 5000);
    EXPECT_GT(probe.log().eventCount.load(), 1000);
    EXPECT_EQ(rig.host.recordedFrames.get(), 5000u * 64u);
}

}  // namespace

TEST(Realtime, ProcessCycleAllocatesNothingAndTakesNoLock) {
    runCountedCycles("realtime", 44100);
    // The counters do count: a block that allocates is caught.
    countingHere = true;
    void* block = ::operator new(16);  // a direct call: never elided, unlike a new-expression
    countingHere = false;
    ::operator delete(block);
    EXPECT_EQ(allocations.load(), 1);
}

// The resampling player (a 48 kHz file on the 44.1 kHz device) in the same cycle.
TEST(Realtime, ResamplingPlayerAllocatesNothingAndTakesNoLock) {
    allocations.store(0);
    locks.store(0);
    runCountedCycles("realtime-resampling", 48000);
}

// A plug-in that sets the host's tempo from inside its processing: the request neither
// allocates, nor locks, nor touches the settings store on the audio thread.
TEST(Realtime, TempoRequestFromInsideTheProcessCycle) {
    struct TempoSetter : FakePlugin {
        TempoSetter() : FakePlugin(0, 2, vst::effFlagsIsSynth | vst::effFlagsCanReplacing) {}
        int block = 0;
        void onProcess(float** in, float** out, vst::int32 frames) override {
            const float tempo = 100.0f + static_cast<float>(block++ % 40);
            vl::VLHostCallback(&effect, vst::audioMasterSetTempoPrivate, 0, 0, nullptr, tempo);
            FakePlugin::onProcess(in, out, frames);
        }
    } plugin;
    CoordinatorRig rig(vl::kDeviceTypeASIO, 44100.0, 64);
    plugin.attach(rig.slot);
    rig.link();
    rig.settings->PluginCanSetTempo = true;
    ASSERT_TRUE(rig.host.StartAudioEngine());
    allocations = 0;
    locks = 0;
    for (int block = 0; block < 500; ++block) {
        countingHere = true;
        rig.backend.pump(64);
        countingHere = false;
    }
    EXPECT_EQ(allocations.load(), 0);
    EXPECT_EQ(locks.load(), 0);
    EXPECT_EQ(rig.slot.timeInfo.tempo, 100.0 + 498 % 40);  // each block takes the previous one's request
}
