// The main window's view of the engine follows the real engine, and what the engine reports at
// a caption tick reaches the user once: the real coordinator with a test sound card whose
// device loop ends by itself, fails, or asks for a restart.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "../coordinator/CoordinatorRig.h"
#include "app/EngineWatch.h"
#include "support/FakePlugin.h"
#include "support/Wait.h"

using vl::app::EngineWatch;

namespace {

// Records what the window would show, in order.
struct RecordingView final : vl::app::EngineView {
    std::vector<std::wstring> shown;
    EngineWatch* watch = nullptr;  // a tick arriving inside a message box's loop
    void showEngineState(bool running) override { shown.push_back(running ? L"running" : L"stopped"); }
    void tellDeviceFailed(const std::wstring& device) override {
        shown.push_back(vl::app::deviceFailedText(device));
        if (watch) watch->tick();
    }
    void tellStartFailed() override { shown.push_back(L"start failed"); }
    void offerAudioSettings() override { shown.push_back(L"audio settings"); }
};

using Shown = std::vector<std::wstring>;

struct WatchRig {
    explicit WatchRig(uint32_t type) : rig(type) {
        rig.link();
        view.watch = &watch;
    }
    vltest::CoordinatorRig rig;
    RecordingView view;
    EngineWatch watch{rig.host, view};
};

testing::AssertionResult waitFor(const std::atomic<bool>& flag) {
    return vltest::waitUntil([&] { return flag.load(); }, std::chrono::seconds(5), std::chrono::milliseconds(1));
}

}  // namespace

TEST(EngineWatch, ALoopEndingByItselfIsToldOnceAndOffersTheSettings) {
    WatchRig w(vl::kDeviceTypeMME);
    // Long enough for the start to see the first block on a coarse system timer.
    w.rig.backend.maxBlocks = 200;
    w.rig.backend.paceMicros = 1000;
    ASSERT_TRUE(w.rig.host.StartAudioEngine());
    w.watch.follow();
    ASSERT_TRUE(waitFor(w.rig.host.engineThreadEnded));
    w.watch.tick();
    w.watch.tick();
    EXPECT_EQ(w.view.shown, (Shown{L"running", L"stopped", L"The audio device \"Test Out\" stopped working.",
                                   L"audio settings"}));
    EXPECT_FALSE(w.rig.host.engineRunning.load());
}

TEST(EngineWatch, AReportedFailureStopsARunningAsioEngine) {
    WatchRig w(vl::kDeviceTypeASIO);
    ASSERT_TRUE(w.rig.host.StartAudioEngine());
    w.watch.tick();  // started by someone else (a settings window's Apply): the view follows
    w.rig.backend.reportDeviceEvent(vl::DeviceEvent::Failed);
    w.watch.tick();
    EXPECT_EQ(w.view.shown, (Shown{L"running", L"stopped", L"The audio device \"Test Out\" stopped working.",
                                   L"audio settings"}));
    EXPECT_EQ(w.rig.backend.stops.load(), 1);
}

TEST(EngineWatch, ARestartRequestStartsTheEngineAgain) {
    struct Case {
        const char* name;
        bool outputKept;
        bool driverRefuses;
        Shown expected;
        bool runningAfter;
        int opens;
    };
    // A restart that fails stopped the sound without the user asking: told as the device's failure.
    const Shown toldAsFailed{L"running", L"stopped", L"The audio device \"Test Out\" stopped working.", L"audio settings"};
    const Case cases[] = {
        {"restarts", true, false, {L"running"}, true, 2},
        {"device gone meanwhile", false, false, toldAsFailed, false, 1},
        {"driver refuses to start again", true, true, toldAsFailed, false, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WatchRig w(vl::kDeviceTypeASIO);
        ASSERT_TRUE(w.rig.host.StartAudioEngine());
        w.watch.follow();
        if (!c.outputKept) w.rig.settings->outputDevice = nullptr;
        w.rig.backend.failOpen = c.driverRefuses;
        w.rig.backend.reportDeviceEvent(vl::DeviceEvent::RestartRequested);
        w.watch.tick();
        EXPECT_EQ(w.view.shown, c.expected);
        EXPECT_EQ(w.rig.host.engineRunning.load(), c.runningAfter);
        EXPECT_EQ(w.rig.backend.opens.load(), c.opens);
    }
}

TEST(EngineWatch, TheEngineCommandFollowsTheResult) {
    struct Case {
        const char* name;
        bool beginShutdown;
        bool needsInput;
        Shown expected;
    };
    const Case cases[] = {
        {"starts", false, false, {L"running"}},
        {"refused after the shut-down began", true, false, {L"stopped", L"start failed"}},
        // The engine showed its own message: no second one.
        {"effect without input device", false, true, {L"stopped"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        vltest::FakePlugin effectWithInputs;  // outlives the slot, which closes it
        vltest::CoordinatorRig rig(vl::kDeviceTypeASIO);
        if (c.needsInput) effectWithInputs.attach(rig.slot);
        rig.settings->inputDevice = nullptr;
        rig.link();
        RecordingView view;
        EngineWatch watch(rig.host, view);
        if (c.beginShutdown) rig.host.beginShutdown();
        watch.toggle();
        EXPECT_EQ(view.shown, c.expected);
    }
}
