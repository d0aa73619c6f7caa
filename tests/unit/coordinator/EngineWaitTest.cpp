// The user-interface thread's waits for an engine start and stop: the application's wait hook
// runs while they last (the window answers), every bound still holds, and engine calls that
// arrive through the hook (a menu command, Apply, the close box) never make a second engine.

#include <gtest/gtest.h>

#include <functional>

#include "CoordinatorRig.h"
#include "support/FakePlugin.h"

using namespace vltest;

namespace {

// A device slow to start or to stop, and a hook that stands in for the application's pump.
struct WaitRig {
    WaitRig() {
        plugin.attach(rig.slot);
        rig.link();
        rig.host.engineStartTimeoutMs = 2000;
        rig.host.engineStopTimeoutMs = 2000;
        rig.host.setWaitHook(&WaitRig::hook, this);
    }
    ~WaitRig() { rig.backend.release = true; }
    static void hook(uint32_t maxMs, void* user) {
        auto* self = static_cast<WaitRig*>(user);
        self->hookCalls += 1;
        EXPECT_LE(maxMs, vl::kEngineWaitStepMs);
        if (self->onCall) self->onCall(self->hookCalls);
    }

    FakePlugin plugin{0, 2, vst::effFlagsIsSynth | vst::effFlagsCanReplacing};
    CoordinatorRig rig{vl::kDeviceTypeWasapiShared, 48000.0, 64};
    int hookCalls = 0;
    std::function<void(int)> onCall;
};

}  // namespace

TEST(EngineWaits, TheHookRunsWhileAStartOrAStopIsWaitedFor) {
    WaitRig w;
    w.rig.backend.holdBeforeFirstBlock = true;
    w.onCall = [&](int n) {
        if (n == 5) w.rig.backend.release = true;
    };
    ASSERT_TRUE(w.rig.host.StartAudioEngine());
    EXPECT_GE(w.hookCalls, 5);
    w.hookCalls = 0;
    w.rig.backend.release = false;
    w.rig.backend.holdAfterStop = true;
    w.rig.host.StopAudioEngine();
    EXPECT_GE(w.hookCalls, 5);
    EXPECT_FALSE(w.rig.host.engineRunning.load());
    EXPECT_FALSE(w.rig.host.engineStopping.load());
    EXPECT_FALSE(w.rig.backend.inLoop.load());
}

TEST(EngineWaits, BoundsHoldWithTheHookInstalled) {
    WaitRig w;
    w.rig.host.engineStartTimeoutMs = 100;
    w.rig.host.engineStopTimeoutMs = 100;
    w.rig.backend.holdBeforeFirstBlock = true;  // never delivers a block
    EXPECT_FALSE(w.rig.host.StartAudioEngine());
    EXPECT_GT(w.hookCalls, 0);
    EXPECT_FALSE(w.rig.host.engineRunning.load());
    w.rig.backend.release = true;
}

TEST(EngineWaits, CallsNestedInAStartWaitStartNoSecondEngine) {
    struct Case {
        const char* what;
        std::function<void(WaitRig&)> nested;
        bool outerAnswer;
        int opens;
    } cases[] = {
        {"start again (the engine command, Apply)",
         [](WaitRig& w) { EXPECT_TRUE(w.rig.host.StartAudioEngine()); }, true, 1},
        {"a caption tick", [](WaitRig& w) { EXPECT_EQ(w.rig.host.PollEngine(), vl::EngineNotice::None); }, true, 1},
        {"stop (the close box)",
         [](WaitRig& w) {
             w.rig.host.StopAudioEngine();
             EXPECT_FALSE(w.rig.backend.inLoop.load());  // stopped when the call returns
             EXPECT_FALSE(w.rig.host.StartAudioEngine());  // nor restarted from inside
         },
         false, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WaitRig w;
        w.rig.backend.holdBeforeFirstBlock = true;
        w.onCall = [&](int n) {
            if (n != 3) return;
            w.rig.backend.release = true;
            c.nested(w);
        };
        EXPECT_EQ(w.rig.host.StartAudioEngine(), c.outerAnswer);
        EXPECT_EQ(w.rig.backend.opens.load(), c.opens);
        EXPECT_EQ(w.rig.host.engineRunning.load(), c.outerAnswer);
        w.onCall = nullptr;
        w.rig.host.StopAudioEngine();
        ASSERT_TRUE(w.rig.host.StartAudioEngine());  // nothing left behind
        EXPECT_EQ(w.rig.backend.opens.load(), c.opens + 1);
    }
}

TEST(EngineWaits, AStopNestedInAStopWaitLeavesOneStoppedEngine) {
    WaitRig w;
    ASSERT_TRUE(w.rig.host.StartAudioEngine());
    w.rig.backend.holdAfterStop = true;
    w.hookCalls = 0;
    w.onCall = [&](int n) {
        if (n != 2) return;
        w.rig.backend.release = true;
        w.rig.host.StopAudioEngine();
        EXPECT_FALSE(w.rig.host.StartAudioEngine());  // refused while the stop is under way
    };
    w.rig.host.StopAudioEngine();
    EXPECT_FALSE(w.rig.host.engineRunning.load());
    EXPECT_FALSE(w.rig.host.engineStopping.load());
    EXPECT_FALSE(w.rig.backend.inLoop.load());
    EXPECT_EQ(w.rig.backend.opens.load(), 1);
}
