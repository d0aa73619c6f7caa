// Engine start and stop, the process cycle's order and the time information it hands out.

#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "CoordinatorRig.h"
#include "support/ProbeModule.h"

using namespace vltest;
using vl::VLVSTHostInterface;

namespace {

// A rig with the probe plug-in loaded through the real loader.
struct ProbeRig {
    explicit ProbeRig(uint32_t type = vl::kDeviceTypeASIO, double rate = 44100.0, uint32_t bufferSize = 64,
                      void (*configure)(probe::Config&) = nullptr)
        : rig(type, rate, bufferSize) {
        if (configure) configure(probe.config());
        loaded = rig.slot.load(probe.path()) == vl::LoadResult::Loaded;
        rig.link();
    }
    ProbeModule probe;
    CoordinatorRig rig;
    bool loaded = false;

    // Opcodes after the load (effOpen) and without the block-by-block ones.
    std::vector<int> configurationOpcodes() const {
        std::vector<int> out;
        for (int op : probe.opcodes())
            if (op != vst::effProcessEvents && op != vst::effOpen) out.push_back(op);
        return out;
    }
};

void synthWithoutInputs(probe::Config& c) {
    c.flags = vst::effFlagsIsSynth | vst::effFlagsCanReplacing;
    c.numInputs = 0;
}

void effectWithInputs(probe::Config& c) {
    c.flags = vst::effFlagsCanReplacing;
    c.numInputs = 2;
}

constexpr double kBlockPpq = 64.0 * 120.0 / 60.0 / 44100.0;

}  // namespace

TEST(CoordinatorLink, NeedsAllFourParts) {
    CoordinatorRig rig;
    rig.settings->tempo = 97.5;
    rig.host.link(&rig.slot, &rig.backends, nullptr, rig.settings.get());
    EXPECT_FALSE(rig.host.linked());
    EXPECT_EQ(rig.host.tempo.load(), 120.0);
    EXPECT_FALSE(rig.host.StartAudioEngine());
    EXPECT_FALSE(rig.host.KeyboardNote('D', true));
    rig.link();
    EXPECT_TRUE(rig.host.linked());
    EXPECT_EQ(rig.host.tempo.load(), 97.5);
}

TEST(EngineStart, SendsTheThreeConfigurationOpcodesAtEveryStart) {
    ProbeRig p(vl::kDeviceTypeASIO, 48000.0, 128, &synthWithoutInputs);
    ASSERT_TRUE(p.loaded);
    EXPECT_EQ(p.probe.opcodes(), std::vector<int>{vst::effOpen});
    ASSERT_TRUE(p.rig.host.StartAudioEngine());
    EXPECT_TRUE(p.rig.host.engineRunning.load());
    ASSERT_TRUE(p.rig.host.StartAudioEngine());  // a restart configures a still-resumed plug-in again
    const std::vector<int> once = {vst::effSetBlockSize, vst::effSetSampleRate, vst::effMainsChanged};
    std::vector<int> twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(p.configurationOpcodes(), twice);
    const probe::Call* blockSize = p.probe.lastCall(vst::effSetBlockSize);
    EXPECT_EQ(blockSize->value, 128);
    EXPECT_EQ(p.probe.lastCall(vst::effSetSampleRate)->opt, 48000.0f);
    EXPECT_EQ(p.probe.lastCall(vst::effMainsChanged)->value, 1);
    EXPECT_EQ(p.rig.slot.timeInfo.sampleRate, 48000.0);
    EXPECT_EQ(p.probe.log().opened, 1);
    EXPECT_EQ(p.rig.backend.queries.load(), 2);  // the output's details before each start
}

TEST(EngineStart, TimeInformationFollowsTheBlocks) {
    ProbeRig p(vl::kDeviceTypeASIO, 44100.0, 64, &synthWithoutInputs);
    ASSERT_TRUE(p.rig.startAndPump(3));
    ASSERT_EQ(p.probe.blockCount(), 3);
    for (int b = 0; b < 3; ++b) {
        const probe::Block& block = p.probe.block(b);
        ASSERT_TRUE(block.timeValid);
        EXPECT_EQ(block.tempo, 120.0);
        EXPECT_EQ(block.sampleRate, 44100.0);
        EXPECT_EQ(block.samplePos, 0.0);
        EXPECT_NEAR(block.ppqPos, kBlockPpq * b, 1e-12);
        // The request raised at construction stops the transport at the first block.
        EXPECT_EQ(block.timeFlags, 0x600) << b;
        EXPECT_EQ(block.frames, 64);
    }
    p.rig.host.requestTransport(true);
    p.rig.backend.pump(64);
    p.rig.backend.pump(64);
    EXPECT_EQ(p.probe.block(3).timeFlags, 0x602);
    EXPECT_EQ(p.probe.block(3).ppqPos, 0.0);  // starting the transport restarts the position
    EXPECT_NEAR(p.probe.block(4).ppqPos, kBlockPpq, 1e-12);
    EXPECT_TRUE(p.rig.host.transportPlaying());
    p.rig.host.requestTransport(false);
    p.rig.backend.pump(64);
    EXPECT_EQ(p.probe.block(5).timeFlags, 0x600);
}

TEST(EngineStart, PluginNeedingInputWithoutInputDeviceShowsTheMessageAndFails) {
    ProbeRig p(vl::kDeviceTypeMME, 44100.0, 64, &effectWithInputs);
    p.rig.settings->inputDevice = nullptr;
    // Nothing runs, so the start fails; the message told the user already.
    EXPECT_FALSE(p.rig.host.StartAudioEngine());
    EXPECT_TRUE(p.rig.host.startFailureTold());
    ASSERT_EQ(p.rig.messages.shown.size(), 1u);
    EXPECT_EQ(p.rig.messages.shown[0].text, L"Unable to start Audioengine\r\nPlugin needs an Audioinput device!");
    EXPECT_EQ(p.rig.messages.shown[0].caption, L"Error");
    EXPECT_EQ(p.rig.backend.opens.load(), 0);
    EXPECT_FALSE(p.rig.host.engineRunning.load());
    EXPECT_TRUE(p.configurationOpcodes().empty());
}

TEST(EngineStart, SynthRunsWithoutItsInputDevice) {
    ProbeRig p(vl::kDeviceTypeASIO, 44100.0, 64, &synthWithoutInputs);
    p.rig.settings->inputDevice = p.rig.backend.input();
    ASSERT_TRUE(p.rig.host.StartAudioEngine());
    EXPECT_EQ(p.rig.settings->inputDevice, nullptr);
    EXPECT_TRUE(p.rig.messages.shown.empty());
}

TEST(EngineStart, MismatchedDevicesAreRefusedWithTheRightMessage) {
    struct Case {
        uint32_t type;
        double inputRate;
        uint16_t inputBits;
        const wchar_t* text;
    };
    const Case cases[] = {
        {vl::kDeviceTypeWasapiShared, 48000.0, 32,
         L"Different sample rates for input and output device not supported!\r\nAutomatic adjustment failed.\r\n"
         L"Please check your Audio device settings!"},
        {vl::kDeviceTypeWasapiExclusive, 48000.0, 32,
         L"Different sample rates for input and output device not supported!\r\nAutomatic adjustment failed.\r\n"
         L"Please check your Audio device settings!"},
        {vl::kDeviceTypeDirectSound, 48000.0, 32,
         L"Different sample rates for input and output device not supported!\r\nPlease correct and restart "
         L"Application."},
        {vl::kDeviceTypeASIO, 44100.0, 16,
         L"Different bit rates for input and output device not supported!\r\nPlease correct and restart Application."},
    };
    for (const Case& c : cases) {
        ProbeRig p(c.type, 44100.0, 64, &effectWithInputs);
        p.rig.backend.input()->sampleRate = c.inputRate;
        p.rig.backend.input()->bitsPerSample = c.inputBits;
        p.rig.settings->inputDevice = p.rig.backend.input();
        EXPECT_FALSE(p.rig.host.StartAudioEngine());
        ASSERT_EQ(p.rig.messages.shown.size(), 1u);
        EXPECT_EQ(p.rig.messages.shown[0].text, c.text);
        EXPECT_EQ(p.rig.messages.shown[0].caption, L"Error");
        EXPECT_EQ(p.rig.backend.opens.load(), 0);
    }
}

TEST(EngineStart, FailuresWithoutAMessage) {
    {
        ProbeRig p(vl::kDeviceTypeMME, 44100.0, 64, &synthWithoutInputs);
        p.rig.settings->outputDevice = nullptr;
        EXPECT_FALSE(p.rig.host.StartAudioEngine());
    }
    for (uint32_t type : {vl::kDeviceTypeASIO, vl::kDeviceTypeMME}) {
        ProbeRig p(type, 44100.0, 64, &synthWithoutInputs);
        p.rig.backend.failOpen = true;
        EXPECT_FALSE(p.rig.host.StartAudioEngine()) << type;
        EXPECT_FALSE(p.rig.host.engineRunning.load());
        EXPECT_TRUE(p.rig.messages.shown.empty());
        // The tempo hook is installed only by a successful start.
        EXPECT_EQ(p.rig.slot.tempoHook.load(), nullptr);
    }
}

TEST(EngineThread, BlockingBackEndRunsOnTheEngineThreadUntilStopped) {
    ProbeRig p(vl::kDeviceTypeDirectSound, 44100.0, 64, &synthWithoutInputs);
    p.rig.backend.paceMicros = 200;
    ASSERT_TRUE(p.rig.host.StartAudioEngine());
    EXPECT_TRUE(p.rig.host.engineRunning.load());
    EXPECT_NE(p.rig.slot.tempoHook.load(), nullptr);
    while (p.rig.backend.blocks.load() < 20) std::this_thread::yield();
    p.rig.host.StopAudioEngine();
    EXPECT_FALSE(p.rig.host.engineRunning.load());
    EXPECT_TRUE(p.rig.host.engineThreadEnded.load());
    EXPECT_FALSE(p.rig.host.engineStopping.load());
    EXPECT_FALSE(p.rig.backend.inLoop.load());
    const uint64_t blocks = p.rig.backend.blocks.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(p.rig.backend.blocks.load(), blocks);
    // And again: the engine can be started after a stop.
    ASSERT_TRUE(p.rig.host.StartAudioEngine());
    p.rig.host.StopAudioEngine();
    EXPECT_EQ(p.rig.backend.opens.load(), 2);
}

TEST(EngineThread, DeviceLoopEndingBeforeTheFirstBlockFailsTheStart) {
    ProbeRig p(vl::kDeviceTypeMME, 44100.0, 64, &synthWithoutInputs);
    p.rig.backend.output()->bufferSize = 0;  // the stand-in cannot open a zero-sized device
    EXPECT_FALSE(p.rig.host.StartAudioEngine());
    EXPECT_TRUE(p.rig.host.engineThreadEnded.load());
}

TEST(ProcessBuffers, PluginGetsSeparateBuffersForEveryDeclaredChannel) {
    ProbeRig p(vl::kDeviceTypeASIO, 44100.0, 64, [](probe::Config& c) {
        c.numInputs = 4;
        c.numOutputs = 6;
        c.processMode = probe::ProcessInputPlusOne;
    });
    p.rig.settings->inputDevice = p.rig.backend.input();
    p.rig.backend.captureLeft.assign(128, 9.0f);
    p.rig.backend.captureRight.assign(128, 9.0f);
    ASSERT_TRUE(p.rig.startAndPump(2));
    for (int b = 0; b < 2; ++b) {
        const probe::Block& block = p.probe.block(b);
        EXPECT_FALSE(block.inputsAliasOutputs);
        EXPECT_TRUE(block.outputsWereClear);
        EXPECT_EQ(block.firstInput[0], 0.25f);
        EXPECT_EQ(block.firstInput[1], -0.25f);
        EXPECT_EQ(block.firstInput[2], 0.0f);  // scratch inputs are silent
        EXPECT_EQ(block.firstInput[3], 0.0f);
    }
    // The first two outputs reach the device: input + 1 (inputs 0 and 1 feed outputs 0 and 1).
    for (size_t i = 0; i < 128; ++i) {
        ASSERT_EQ(p.rig.backend.captureLeft[i], 1.25f) << i;
        ASSERT_EQ(p.rig.backend.captureRight[i], 0.75f) << i;
    }
}

TEST(ProcessBuffers, MonoOutputIsHeardOnBothSides) {
    ProbeRig p(vl::kDeviceTypeASIO, 44100.0, 64, [](probe::Config& c) {
        c.numInputs = 2;
        c.numOutputs = 1;
        c.processMode = probe::ProcessConstant;
        c.constant = 0.5f;
    });
    p.rig.settings->inputDevice = p.rig.backend.input();
    p.rig.backend.captureLeft.assign(64, 9.0f);
    p.rig.backend.captureRight.assign(64, 9.0f);
    ASSERT_TRUE(p.rig.startAndPump(1));
    for (size_t i = 0; i < 64; ++i) {
        ASSERT_EQ(p.rig.backend.captureLeft[i], 0.5f);
        ASSERT_EQ(p.rig.backend.captureRight[i], 0.5f);  // not the dry input
    }
}

TEST(ProcessBuffers, BlocksLargerThanAnnouncedArriveInPieces) {
    ProbeRig p(vl::kDeviceTypeASIO, 44100.0, 64, &synthWithoutInputs);
    ASSERT_TRUE(p.rig.host.StartAudioEngine());
    // The stand-in's planes hold 64 frames; give the coordinator a bigger pair of its own.
    std::vector<float> left(200, 0.0f), right(200, 0.0f);
    float* planes[2] = {left.data(), right.data()};
    ASSERT_TRUE(VLVSTHostInterface::RenderBlock(planes, planes, 200, &p.rig.host));
    ASSERT_EQ(p.probe.blockCount(), 4);
    EXPECT_EQ(p.probe.block(0).frames, 64);
    EXPECT_EQ(p.probe.block(3).frames, 8);
    EXPECT_NEAR(p.probe.block(3).ppqPos, 192.0 * 120.0 / 60.0 / 44100.0, 1e-12);
}

TEST(TempoHandOver, NeverBlocksWhileNoProcessCycleRuns) {
    CoordinatorRig rig;
    rig.link();
    rig.host.handOverTempo(100.0);
    rig.host.handOverTempo(110.0);  // would wait forever for a cycle that does not run
    rig.host.handOverTempo(130.0);
    EXPECT_EQ(rig.host.tempo.load(), 130.0);
    EXPECT_TRUE(rig.host.tempoChanged.load());
    ProbeModule probe;
    synthWithoutInputs(probe.config());
    ASSERT_EQ(rig.slot.load(probe.path()), vl::LoadResult::Loaded);
    ASSERT_TRUE(rig.startAndPump(1));
    EXPECT_EQ(probe.block(0).tempo, 130.0);  // the newest tempo wins
    EXPECT_FALSE(rig.host.tempoChanged.load());
}

TEST(TempoHandOver, RunningEngineTakesTheChangeAtTheNextBlock) {
    ProbeRig p(vl::kDeviceTypeASIO, 44100.0, 64, &synthWithoutInputs);
    ASSERT_TRUE(p.rig.startAndPump(1));
    p.rig.host.handOverTempo(90.0);
    EXPECT_EQ(p.rig.slot.timeInfo.tempo, 120.0);
    p.rig.backend.pump(64);
    p.rig.backend.pump(64);
    EXPECT_EQ(p.probe.block(1).tempo, 90.0);
    EXPECT_NEAR(p.probe.block(2).ppqPos - p.probe.block(1).ppqPos, 64.0 * 90.0 / 60.0 / 44100.0, 1e-12);
}

TEST(PluginTempo, FollowedOnlyWhenAllowedAndDifferent) {
    ProbeRig p(vl::kDeviceTypeASIO, 44100.0, 64, &synthWithoutInputs);
    // Before the first engine start the private opcode is not answered.
    EXPECT_EQ(p.probe.callHost(vst::audioMasterSetTempoPrivate, 0, 0, nullptr, 140.0f), 0);
    ASSERT_TRUE(p.rig.startAndPump(1));
    std::wstring saved;
    EXPECT_EQ(p.probe.callHost(vst::audioMasterSetTempoPrivate, 0, 0, nullptr, 140.0f), 1);
    EXPECT_EQ(p.rig.host.tempo.load(), 120.0);  // "PluginCanSetTempo" is off
    EXPECT_FALSE(p.rig.settingsStore.readHostString(*p.rig.settings, L"Tempo", saved));
    p.rig.settings->PluginCanSetTempo = true;
    EXPECT_EQ(p.probe.callHost(vst::audioMasterSetTempoPrivate, 0, 0, nullptr, 120.0f), 1);
    EXPECT_FALSE(p.rig.host.tempoChanged.load());  // the same tempo changes nothing
    EXPECT_FALSE(p.rig.settingsStore.readHostString(*p.rig.settings, L"Tempo", saved));
    EXPECT_EQ(p.probe.callHost(vst::audioMasterSetTempoPrivate, 0, 0, nullptr, 140.0f), 1);
    EXPECT_EQ(p.rig.host.tempo.load(), 140.0);
    // Taken and saved by the user-interface thread's next timer tick, never on the caller's thread.
    EXPECT_FALSE(p.rig.settingsStore.readHostString(*p.rig.settings, L"Tempo", saved));
    p.rig.host.SavePendingTempo();
    EXPECT_EQ(static_cast<double>(p.rig.settings->tempo), 140.0);
    ASSERT_TRUE(p.rig.settingsStore.readHostString(*p.rig.settings, L"Tempo", saved));
    EXPECT_EQ(saved, L"140");
    // The hook stays installed while the engine is stopped.
    p.rig.host.StopAudioEngine();
    EXPECT_EQ(p.probe.callHost(vst::audioMasterSetTempoPrivate, 0, 0, nullptr, 150.0f), 1);
    EXPECT_EQ(p.rig.host.tempo.load(), 150.0);
}

TEST(CpuMeterInTheCycle, MeasuresEveryHundredAndFirstBlock) {
    ProbeRig p(vl::kDeviceTypeASIO, 96000.0, 64, &synthWithoutInputs);
    ASSERT_TRUE(p.rig.startAndPump(100));
    EXPECT_EQ(p.rig.host.cpuPercent.get(), 0);
    p.rig.backend.pump(64);
    // 101 blocks of 64 frames at 96 kHz are 67 ms: less than 250 ms after the priming call,
    // so the figure is the meter's initial -1.
    EXPECT_EQ(p.rig.host.cpuPercent.get(), -1);
    EXPECT_EQ(p.rig.host.blockCounter, 0);
}

// The caption tick learns what the engine did on its own: a loop that ended without a stop
// and a failure reported by the back end both stop the engine; a restart request does not.
TEST(EngineNotices, FailuresStopTheEngineAndRestartRequestsOnlyReport) {
    {
        ProbeRig p(vl::kDeviceTypeMME, 44100.0, 64, &synthWithoutInputs);
        p.rig.backend.maxBlocks = 20;  // the device loop ends by itself after twenty blocks
        p.rig.backend.paceMicros = 1000;
        ASSERT_TRUE(p.rig.host.StartAudioEngine());
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!p.rig.host.engineThreadEnded.load() && std::chrono::steady_clock::now() < until)
            std::this_thread::yield();
        EXPECT_EQ(p.rig.host.PollEngine(), vl::EngineNotice::DeviceFailed);
        EXPECT_EQ(p.rig.host.failedDeviceName(), L"Test Out");
        EXPECT_FALSE(p.rig.host.engineRunning.load());
        EXPECT_EQ(p.rig.host.PollEngine(), vl::EngineNotice::None);
    }
    {
        ProbeRig p(vl::kDeviceTypeASIO, 44100.0, 64, &synthWithoutInputs);
        p.rig.backend.reportDeviceEvent(vl::DeviceEvent::Failed);  // from an earlier run: no news
        ASSERT_TRUE(p.rig.host.StartAudioEngine());
        EXPECT_EQ(p.rig.host.PollEngine(), vl::EngineNotice::None);
        p.rig.backend.reportDeviceEvent(vl::DeviceEvent::RestartRequested);
        EXPECT_EQ(p.rig.host.PollEngine(), vl::EngineNotice::RestartRequested);
        EXPECT_TRUE(p.rig.host.engineRunning.load());
        // A failure is not hidden by a later restart request.
        p.rig.backend.reportDeviceEvent(vl::DeviceEvent::Failed);
        p.rig.backend.reportDeviceEvent(vl::DeviceEvent::RestartRequested);
        EXPECT_EQ(p.rig.host.PollEngine(), vl::EngineNotice::DeviceFailed);
        EXPECT_FALSE(p.rig.host.engineRunning.load());
    }
}

// Once the shut-down has begun no start gets through (a settings window's Apply finishing
// after the plug-in was closed), and the coordinator stops a running ASIO engine when it goes
// away even after its settings link was cut.
TEST(EngineShutdown, RefusesStartsAndTheDestructorAlwaysStops) {
    struct Case {
        const char* name;
        uint32_t type;
    };
    for (const Case& c : {Case{"asio", vl::kDeviceTypeASIO}, Case{"mme", vl::kDeviceTypeMME}}) {
        SCOPED_TRACE(c.name);
        ProbeRig p(c.type, 44100.0, 64, &synthWithoutInputs);
        p.rig.backend.paceMicros = 1000;
        ASSERT_TRUE(p.rig.host.StartAudioEngine());
        EXPECT_FALSE(p.rig.host.startFailureTold());
        p.rig.host.beginShutdown();
        EXPECT_FALSE(p.rig.host.StartAudioEngine());
        EXPECT_FALSE(p.rig.host.startFailureTold());
        EXPECT_EQ(p.rig.backend.opens.load(), 1);
        EXPECT_TRUE(p.rig.host.engineRunning.load());  // a refused start leaves the running engine alone
        const int stopsBefore = p.rig.backend.stops.load();
        p.rig.host.settings = nullptr;  // the main window drops the settings before the coordinator
        p.rig.host.StopAudioEngine();
        EXPECT_FALSE(p.rig.host.engineRunning.load());
        if (c.type == vl::kDeviceTypeASIO) {
            EXPECT_EQ(p.rig.backend.stops.load(), stopsBefore + 1);
        }
        EXPECT_FALSE(p.rig.backend.inLoop.load());
    }
}

// A muted input reaches the plug-in as silence in every block, and unmuting brings the
// device's samples back from the next block on.
TEST(EngineInputMute, MutedInputIsSilenceUntilUnmuted) {
    ProbeRig p(vl::kDeviceTypeASIO, 44100.0, 64, &effectWithInputs);
    p.rig.settings->inputDevice = p.rig.backend.input();
    p.rig.host.inputMuted = true;
    ASSERT_TRUE(p.rig.startAndPump(3));
    for (int b = 0; b < 3; ++b) {
        EXPECT_EQ(p.probe.block(b).firstInput[0], 0.0f) << b;
        EXPECT_EQ(p.probe.block(b).lastInput[1], 0.0f) << b;
    }
    p.rig.host.inputMuted = false;
    p.rig.backend.pump(64);
    EXPECT_EQ(p.probe.block(3).firstInput[0], 0.25f);
    EXPECT_EQ(p.probe.block(3).lastInput[1], -0.25f);
}
