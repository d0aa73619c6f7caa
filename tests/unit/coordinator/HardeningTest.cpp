// The coordinator under conditions that a hasty review misses: a plug-in asking for a tempo
// from inside its processing, tempos that are no tempo, clock ticks mixed with other MIDI, an
// input or output that fails to open, devices that hang, and a repeated play request.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <optional>
#include <thread>

#include "CoordinatorRig.h"
#include "support/FakePlugin.h"
#include "support/ProbeModule.h"
#include "support/Wait.h"

using namespace vltest;
using vl::VLVSTHostInterface;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// A synth that records the time information of each block and, inside its processing, asks
// the host for the tempos queued by the test (as some plug-ins follow their own sequencer).
class TempoPlugin : public FakePlugin {
public:
    TempoPlugin() : FakePlugin(0, 2, vst::effFlagsIsSynth | vst::effFlagsCanReplacing) {}
    vl::PluginSlot* slot = nullptr;
    VLVSTHostInterface* host = nullptr;
    vltest::TestSettingsStore* store = nullptr;
    std::vector<float> requests;  // asked for in the next block, in order
    struct AfterRequest {
        double tempo;
        bool pending;
        bool savedMeanwhile;
    };
    std::vector<AfterRequest> afterRequests;
    std::vector<double> ppq, tempos;

protected:
    void onProcess(float** in, float** out, vst::int32 frames) override {
        ppq.push_back(slot->timeInfo.ppqPos);
        tempos.push_back(slot->timeInfo.tempo);
        for (float t : requests) {
            EXPECT_EQ(vl::VLHostCallback(&effect, vst::audioMasterSetTempoPrivate, 0, 0, nullptr, t), 1);
            std::wstring saved;
            afterRequests.push_back({host->tempo.load(), host->tempoChanged.load(),
                                     store->readHostString(*host->settings, L"Tempo", saved)});
        }
        requests.clear();
        FakePlugin::onProcess(in, out, frames);
    }
};

struct TempoRig {
    explicit TempoRig(double rate = 44100.0) : rig(vl::kDeviceTypeASIO, rate) {
        plugin.slot = &rig.slot;
        plugin.host = &rig.host;
        plugin.store = &rig.settingsStore;
        plugin.attach(rig.slot);
        rig.link();
        rig.settings->PluginCanSetTempo = true;
    }
    TempoPlugin plugin;  // outlives the slot
    CoordinatorRig rig;
};

bool savedTempo(TempoRig& t, std::wstring& text) { return t.rig.settingsStore.readHostString(*t.rig.settings, L"Tempo", text); }

}  // namespace

TEST(PluginTempoInTheCycle, NewestValueReplacesThePendingOneAndTheUiThreadSaves) {
    TempoRig t;
    ASSERT_TRUE(t.rig.startAndPump(1));
    t.plugin.requests = {140.0f, 150.0f, 160.0f};
    t.rig.backend.pump(64);
    ASSERT_EQ(t.plugin.afterRequests.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        // Every request returned with its tempo waiting for the next block: no request waited
        // for the cycle it was called from.
        EXPECT_EQ(t.plugin.afterRequests[i].tempo, 140.0 + 10.0 * i) << i;
        EXPECT_TRUE(t.plugin.afterRequests[i].pending) << i;
        EXPECT_FALSE(t.plugin.afterRequests[i].savedMeanwhile) << i;  // no store I/O in the cycle
    }
    std::wstring text;
    EXPECT_FALSE(savedTempo(t, text));
    t.rig.backend.pump(64);
    EXPECT_EQ(t.plugin.tempos.back(), 160.0);
    EXPECT_EQ(static_cast<double>(t.rig.settings->tempo), 120.0);  // not written on the audio thread

    // The main window's timer takes it into the settings and saves it, once.
    t.rig.host.SavePendingTempo();
    EXPECT_EQ(static_cast<double>(t.rig.settings->tempo), 160.0);
    ASSERT_TRUE(savedTempo(t, text));
    EXPECT_EQ(text, L"160");
    t.rig.settings->tempo = 77.0;
    t.rig.host.SavePendingTempo();
    ASSERT_TRUE(savedTempo(t, text));
    EXPECT_EQ(text, L"160");
}

TEST(TempoGuard, EveryWriterIgnoresTemposThatAreNoTempo) {
    const double bad[] = {0.0, -120.0, kNaN, kInf, -kInf, 0.99, 999.5, 1e9};
    TempoRig t;
    ASSERT_TRUE(t.rig.startAndPump(1));
    for (double value : bad) {
        t.rig.host.handOverTempo(value);
        t.plugin.requests = {static_cast<float>(value)};
        t.rig.backend.pump(64);
        t.rig.backend.pump(64);
        EXPECT_EQ(t.rig.host.tempo.load(), 120.0) << value;
        EXPECT_EQ(t.plugin.tempos.back(), 120.0) << value;
        EXPECT_EQ(static_cast<double>(t.rig.settings->tempo), 120.0) << value;
    }
    for (double good : {1.0, 999.0, 87.5}) {
        t.rig.host.handOverTempo(good);
        t.rig.backend.pump(64);
        EXPECT_EQ(t.plugin.tempos.back(), good);
    }
    EXPECT_TRUE(std::isfinite(t.plugin.ppq.back()));

    // A settings tempo that is no tempo is not taken over at the link either.
    CoordinatorRig other;
    other.settings->tempo = kNaN;
    other.link();
    EXPECT_EQ(other.host.tempo.load(), 120.0);
}

TEST(TempoGuard, ClockWindowAcrossALongPauseKeepsTheTempo) {
    TempoRig t;
    auto* input = t.rig.midi.addDevice(3, L"Clock", true, true);
    t.rig.settings->midiDevices.push_back(std::make_unique<vl::MidiDeviceRecord>(*input));
    t.rig.settings->midiDevices.back()->sync = true;
    ASSERT_TRUE(t.rig.host.StartMidiEngine());
    t.rig.midi.deliver(0, 0xF8, 0, 0, 0.0);
    for (int i = 0; i < 23; ++i) t.rig.midi.deliver(0, 0xF8, 0, 0, 20.0);
    t.rig.midi.deliver(0, 0xF8, 0, 0, 30.0 * 60.0 * 1000.0);  // half an hour: 0.0 BPM
    EXPECT_EQ(t.rig.host.tempo.load(), 120.0);
    EXPECT_FALSE(t.rig.host.tempoChanged.load());
    EXPECT_EQ(static_cast<double>(t.rig.settings->tempo), 120.0);
}

TEST(TempoGuard, DeviceRateZeroGivesAFiniteSongPosition) {
    TempoRig t(0.0);
    ASSERT_TRUE(t.rig.startAndPump(2));
    t.rig.host.handOverTempo(90.0);
    t.rig.backend.pump(64);
    t.rig.backend.pump(64);
    ASSERT_EQ(t.plugin.ppq.size(), 4u);
    for (double ppq : t.plugin.ppq) EXPECT_TRUE(std::isfinite(ppq)) << ppq;
}

TEST(ClockThroughTheDecoder, SteadyClockWithActiveSensingAndNotesBetweenTheTicks) {
    TempoRig t;
    for (int32_t id : {3, 4}) {
        auto* input = t.rig.midi.addDevice(id, id == 3 ? L"Clock" : L"Keys", true, true);
        t.rig.settings->midiDevices.push_back(std::make_unique<vl::MidiDeviceRecord>(*input));
    }
    t.rig.settings->midiDevices[0]->sync = true;
    ASSERT_TRUE(t.rig.host.StartMidiEngine());
    ASSERT_EQ(t.rig.midi.inputs.size(), 2u);
    // 120 BPM: 24 ticks per half second, 1/48 s apart. Between the ticks, in time order:
    // active sensing and controllers on the other input, active sensing and notes on the
    // clock's own input.
    constexpr int64_t kTick = FakeMidiEngine::kCounterFrequency / 48;
    int64_t now = 1000;
    for (int tick = 0; tick < 24 * 4 + 1; ++tick) {
        t.rig.midi.deliverPacked(0, 0xF8, now);
        t.rig.midi.deliverPacked(1, 0xFE, now + kTick / 4);
        if (tick % 3 == 0) t.rig.midi.deliverPacked(0, 0xFE, now + kTick / 3);
        if (tick % 5 == 1) t.rig.midi.deliverPacked(0, 0x007F3C90, now + kTick / 2);
        t.rig.midi.deliverPacked(1, 0x004007B0, now + kTick * 3 / 4);
        now += kTick;
    }
    EXPECT_NEAR(t.rig.host.tempo.load(), 120.0, 0.01);
}

TEST(MidiEngineStart, SyncFollowsOnlyAnInputThatOpened) {
    TempoRig t;
    auto* input = t.rig.midi.addDevice(3, L"Clock", true, true);
    t.rig.settings->midiDevices.push_back(std::make_unique<vl::MidiDeviceRecord>(*input));
    t.rig.settings->midiDevices.back()->sync = true;
    t.rig.midi.failingInputs = {3};
    EXPECT_FALSE(t.rig.host.StartMidiEngine());
    EXPECT_FALSE(t.rig.host.syncActive.load());
    // The transport plays and the position runs from the tempo, not frozen at 1/96.
    ASSERT_TRUE(t.rig.startAndPump(1));
    t.rig.host.requestTransport(true);
    t.rig.backend.pump(64);
    t.rig.backend.pump(64);
    EXPECT_GT(t.plugin.ppq.back(), 64.0 * 2.0 / 44100.0 * 0.99);
    EXPECT_NE(t.plugin.ppq.back(), 0.010416666977107525);

    t.rig.midi.failingInputs.clear();
    t.rig.settings->midiDevices.back()->active = true;
    ASSERT_TRUE(t.rig.host.StartMidiEngine());
    EXPECT_TRUE(t.rig.host.syncActive.load());
    t.rig.host.StopMidiEngine();
    EXPECT_FALSE(t.rig.host.syncActive.load());
}

TEST(MidiEngineStart, OutputHookOnlyWhileAnOutputIsOpen) {
    TempoRig t;
    t.rig.midi.addDevice(7, L"Synth Out", false, true);
    vst::VstMidiEvent event{};
    event.type = vst::kVstMidiType;
    event.byteSize = sizeof event;
    vst::VstEvents list{};
    list.numEvents = 1;
    list.events[0] = reinterpret_cast<vst::VstEvent*>(&event);
    const auto send = [&] {
        return vl::VLHostCallback(&t.plugin.effect, vst::audioMasterProcessEvents, 0, 0, &list, 0.0f);
    };
    ASSERT_TRUE(t.rig.host.StartMidiEngine());
    EXPECT_EQ(send(), 1);
    t.rig.host.StopMidiEngine();
    EXPECT_EQ(send(), 0);  // nothing is sent, so the plug-in is told so
    EXPECT_EQ(t.rig.slot.midiOutHook.load(), nullptr);
    ASSERT_TRUE(t.rig.host.StartMidiEngine());
    t.rig.midi.failOutput = true;
    EXPECT_FALSE(t.rig.host.StartMidiEngine());
    EXPECT_EQ(send(), 0);
}

TEST(Transport, PlayRequestWhilePlayingKeepsTheSongPosition) {
    TempoRig t;
    ASSERT_TRUE(t.rig.startAndPump(1));
    t.rig.host.requestTransport(true);
    for (int i = 0; i < 3; ++i) t.rig.backend.pump(64);
    t.rig.host.requestTransport(true);
    t.rig.backend.pump(64);
    ASSERT_EQ(t.plugin.ppq.size(), 5u);
    EXPECT_EQ(t.plugin.ppq[1], 0.0);
    EXPECT_GT(t.plugin.ppq[4], t.plugin.ppq[3]);
    EXPECT_FALSE(t.rig.host.transportRequest.load());
}

// A host whose parts the test can take down one by one, as the main window does at exit.
struct HangRig {
    explicit HangRig(uint32_t type) : backend(std::make_unique<TestAudioBackend>(type)), settings(store.make()) {
        vl::setHostContext(&slot);
        backends.set(type, backend.get());
        settings->outputDevice = backend->output();
        host.emplace();
        host->engineStartTimeoutMs = 200;
        host->engineStopTimeoutMs = 200;
        probe.config().flags = vst::effFlagsIsSynth | vst::effFlagsCanReplacing;
        probe.config().numInputs = 0;
        EXPECT_EQ(slot.load(probe.path()), vl::LoadResult::Loaded);
        host->link(&slot, &backends, &midi, settings.get());
    }
    ~HangRig() {
        letTheLoopGo();
        host.reset();
        vl::setHostContext(nullptr);
    }
    // The hung device comes back; the back end may be destroyed once the thread has left it.
    void letTheLoopGo() {
        backend->release = true;
        for (int i = 0; i < 5000 && slot.loopMayRun(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ProbeModule probe;
    std::unique_ptr<TestAudioBackend> backend;
    vl::AudioBackendSet backends;
    FakeMidiEngine midi;
    TestSettingsStore store;
    std::unique_ptr<vl::HostSettings> settings;
    vl::PluginSlot slot;
    std::optional<VLVSTHostInterface> host;
};

TEST(EngineBounds, DeviceThatNeverDeliversABlockFailsTheStartAndTheTearDown) {
    HangRig h(vl::kDeviceTypeWasapiShared);
    h.backend->holdBeforeFirstBlock = true;
    EXPECT_FALSE(h.host->StartAudioEngine());
    EXPECT_FALSE(h.host->engineRunning.load());
    EXPECT_TRUE(h.backend->inLoop.load());
    h.host.reset();  // bounded, although the loop still runs
    h.slot.close();  // refused while the loop may still call the plug-in
    EXPECT_EQ(h.probe.log().closed, 0);
    EXPECT_NE(h.slot.effect, nullptr);
    h.letTheLoopGo();
    ASSERT_FALSE(h.slot.loopMayRun());
    EXPECT_EQ(h.probe.blockCount(), 0);  // the left-behind loop never reached the plug-in
    h.slot.close();  // allowed once the loop has ended
    EXPECT_EQ(h.probe.log().closed, 1);
}

TEST(EngineBounds, LoopThatNeverEndsLeavesThePluginOpenAndTheRestartRefused) {
    HangRig h(vl::kDeviceTypeDirectSound);
    h.backend->holdAfterStop = true;
    ASSERT_TRUE(h.host->StartAudioEngine());
    h.host->StopAudioEngine();
    EXPECT_TRUE(h.host->engineStopping.load());  // stays set: the loop has not ended
    EXPECT_FALSE(h.host->StartAudioEngine());
    h.slot.close();
    EXPECT_EQ(h.probe.log().closed, 0);
    h.host.reset();
    h.slot.close();
    EXPECT_EQ(h.probe.log().closed, 0);
}

// An ASIO driver thread inside a block that outlives the stop's wait (a sampler loading a
// program): the plug-in is not closed and the coordinator not torn down under it.
TEST(EngineBounds, AsioBlockOutlivingTheStopHoldsTheTearDownUntilItLeaves) {
    HangRig h(vl::kDeviceTypeASIO);
    h.backend->stopWaitMs = 20;
    h.host->engineStopTimeoutMs = 10000;
    h.probe.config().slowFromBlock = 1;
    h.probe.config().slowBlockMs = 300;
    ASSERT_TRUE(h.host->StartAudioEngine());
    h.backend->pump(64);
    const auto slowBlock = [&] {
        std::thread driver([&] { h.backend->pump(64); });
        EXPECT_TRUE(waitUntil([&] { return h.probe.log().insideBlock.load() == 1; }, std::chrono::milliseconds(5000)));
        return driver;
    };

    // Before the next start: a block still inside refuses it, one that has left lets it run.
    std::thread driver = slowBlock();
    h.host->StopAudioEngine();
    EXPECT_TRUE(h.slot.loopMayRun());
    EXPECT_FALSE(h.host->StartAudioEngine());
    driver.join();
    EXPECT_EQ(h.host->PollEngine(), vl::EngineNotice::None);
    EXPECT_FALSE(h.slot.loopMayRun());
    ASSERT_TRUE(h.host->StartAudioEngine());

    // At exit: the close is refused and the tear-down waits, bounded, for the block to leave.
    driver = slowBlock();
    h.host->StopAudioEngine();
    h.slot.close();
    EXPECT_EQ(h.probe.log().closed, 0);
    h.host.reset();
    EXPECT_EQ(h.probe.log().insideBlock.load(), 0);
    EXPECT_FALSE(h.slot.loopMayRun());
    driver.join();
    h.slot.close();
    EXPECT_EQ(h.probe.log().closed, 1);
    EXPECT_EQ(h.probe.log().closedInsideBlock, 0);
    EXPECT_EQ(h.probe.blockCount(), 3);
}

// A block that never comes back within the bound: the process ends (its state was saved
// before) rather than freeing what the block still uses.
TEST(EngineBoundsDeathTest, AsioBlockThatNeverLeavesEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            HangRig h(vl::kDeviceTypeASIO);
            h.backend->stopWaitMs = 20;
            h.host->engineStopTimeoutMs = 100;
            h.probe.config().slowBlockMs = 20000;
            ASSERT_TRUE(h.host->StartAudioEngine());
            std::thread driver([&] { h.backend->pump(64); });
            driver.detach();
            while (h.probe.log().insideBlock.load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            h.host->StopAudioEngine();
            h.host.reset();
            std::exit(0);  // not reached
        },
        ::testing::ExitedWithCode(vl::kExitEngineHung), "");
}

TEST(EngineBounds, AsioCallbackAfterStopIsRefusedUntilTheNextStart) {
    ProbeModule probe;
    probe.config().flags = vst::effFlagsIsSynth | vst::effFlagsCanReplacing;
    probe.config().numInputs = 0;
    CoordinatorRig rig(vl::kDeviceTypeASIO);
    ASSERT_EQ(rig.slot.load(probe.path()), vl::LoadResult::Loaded);
    rig.link();
    ASSERT_TRUE(rig.startAndPump(1));
    rig.host.StopAudioEngine();
    std::vector<float> left(64), right(64);
    float* planes[2] = {left.data(), right.data()};
    // A driver that is late with its last callback.
    EXPECT_FALSE(VLVSTHostInterface::RenderBlock(planes, planes, 64, &rig.host));
    EXPECT_EQ(probe.blockCount(), 1);
    ASSERT_TRUE(rig.startAndPump(1));
    EXPECT_EQ(probe.blockCount(), 2);
}
