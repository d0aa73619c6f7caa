// Changes to the plug-in's sound made by the user-interface thread (a preset, a program) while
// the engine runs: they wait for a moment between blocks, so no parameter is set while the
// plug-in processes, and the blocks go on meanwhile.

#include <gtest/gtest.h>

#include <chrono>

#include "CoordinatorRig.h"
#include "host/PluginPresets.h"
#include "support/ProbeModule.h"
#include "support/ScratchDir.h"
#include "support/Wait.h"

using namespace vltest;

TEST(EngineBetweenBlocks, PresetLoadsNeverMeetABlockInsideThePlugin) {
    ProbeModule probe;
    auto& cfg = probe.config();
    cfg.flags = vst::effFlagsIsSynth | vst::effFlagsCanReplacing;
    cfg.numInputs = 0;
    cfg.numParams = 8;
    cfg.numPrograms = 2;
    cfg.processMode = probe::ProcessConstant;
    cfg.slowBlockMs = 1;  // a block spends most of its time inside the plug-in
    CoordinatorRig rig(vl::kDeviceTypeMME);
    ASSERT_EQ(rig.slot.load(probe.path()), vl::LoadResult::Loaded);
    rig.link();
    ScratchDir dir("between-blocks");
    const auto file = dir.path() / "sound.fxp";
    ASSERT_TRUE(vl::savePresetFile(rig.slot, file, vl::PresetKind::Program, vl::directly()).ok);
    ASSERT_TRUE(rig.host.StartAudioEngine());

    // Made straight away, a load soon lands inside a block: the probe can tell.
    EXPECT_TRUE(waitUntil(
        [&] {
            vl::loadPresetFile(rig.slot, file, vl::directly());
            return probe.log().changedInsideBlock > 0;
        },
        std::chrono::milliseconds(20000), std::chrono::milliseconds(0)));

    const int32_t inside = probe.log().changedInsideBlock;
    const int32_t setsBefore = probe.log().setParameterCalls;
    const int64_t blocksBefore = probe.log().blockCount.load();
    for (int i = 0; i < 100; ++i) {
        const vl::PresetOutcome outcome = vl::loadPresetFile(rig.slot, file, rig.host.betweenBlocks());
        ASSERT_TRUE(outcome.ok) << outcome.message;
        EXPECT_TRUE(vl::selectProgram(rig.slot, i % 2, rig.host.betweenBlocks()));
    }
    EXPECT_EQ(probe.log().changedInsideBlock, inside);
    EXPECT_EQ(probe.log().setParameterCalls, setsBefore + 100 * 8);
    // The engine kept running through the holds.
    EXPECT_TRUE(waitUntil([&] { return probe.log().blockCount.load() > blocksBefore + 10; },
                          std::chrono::milliseconds(20000)));
    rig.host.StopAudioEngine();
    // Without an engine a change is made at once.
    EXPECT_TRUE(rig.host.RunBetweenBlocks([] {}));
}
