// The Audio Settings dialog's decisions: driver families offered, device and channel choice,
// block size and latency, Apply.

#include <gtest/gtest.h>

#include "DialogRig.h"
#include "dialogs/models/AudioSettingsModel.h"
#include "platform/Text.h"

#include <algorithm>

using namespace vltest;
using vl::AudioSettingsModel;
using Side = vl::AudioSettingsModel::Side;

TEST(AudioLatency, SamplesAndMillisecondsConvertAsShown) {
    struct Case {
        int32_t samples;
        double rate;
        double ms;
    };
    for (const Case& c : {Case{512, 44100.0, 11.6}, Case{256, 44100.0, 5.8}, Case{441, 44100.0, 10.0},
                          Case{2, 48000.0, 0.0}, Case{4800, 48000.0, 100.0}, Case{512, 0.0, 0.0}}) {
        EXPECT_DOUBLE_EQ(vl::latencyMsFromSamples(c.samples, c.rate), c.ms) << c.samples << " at " << c.rate;
    }
    EXPECT_EQ(vl::samplesFromLatencyMs(10.0, 44100.0), 441);
    EXPECT_EQ(vl::samplesFromLatencyMs(11.6, 44100.0), 511);  // truncated, not rounded
    EXPECT_EQ(vl::samplesFromLatencyMs(0.2, 48000.0), 9);
    EXPECT_EQ(vl::samplesFromLatencyMs(1e12, 44100.0), INT32_MAX);
}

TEST(AudioTypeList, FamiliesOfferedByDevicesAndInputNeed) {
    struct Case {
        bool wasapi, asio, directSound, noInput;
        std::vector<std::wstring> texts;
    };
    const std::vector<Case> cases = {
        {true, true, true, false, {L"WASAPI (Shared Mode)", L"ASIO"}},
        {true, true, true, true, {L"WASAPI (Shared Mode)", L"WASAPI (Exclusive Mode)", L"ASIO"}},
        {false, true, true, false, {L"ASIO", L"Direct Sound"}},
        {false, false, true, true, {L"Direct Sound"}},
        {false, false, false, true, {}},
    };
    for (const Case& c : cases) {
        DialogRig rig;
        if (c.wasapi) rig.wasapi.add(vl::kDeviceTypeWasapiShared, L"Speakers", false);
        if (c.asio) rig.asio.add(vl::kDeviceTypeASIO, L"Driver", false);
        if (c.directSound) rig.directSound.add(vl::kDeviceTypeDirectSound, L"Primary", false);
        std::vector<std::wstring> texts;
        for (const auto& entry : vl::audioTypeEntries(rig.backends, c.noInput)) texts.push_back(entry.text);
        EXPECT_EQ(texts, c.texts) << c.wasapi << c.asio << c.directSound << c.noInput;
    }
}

TEST(AudioSettingsModel, DeviceSelectionPrefersCurrentThenDefaultThenFirst) {
    struct Case {
        int current;      // index of the current output, -1 = none
        int defaultIndex;  // index of the default output, -1 = none
        int selected;
    };
    for (const Case& c : {Case{2, 1, 2}, Case{-1, 1, 1}, Case{-1, -1, 0}, Case{0, 2, 0}}) {
        DialogRig rig;
        std::vector<vl::AudioDeviceRecord*> outs;
        for (int i = 0; i < 3; ++i)
            outs.push_back(rig.wasapi.add(vl::kDeviceTypeWasapiShared, L"Out" + std::to_wstring(i), false, i == c.defaultIndex));
        rig.wasapi.add(vl::kDeviceTypeWasapiExclusive, L"Other mode", false);  // another code: not listed
        if (c.current >= 0) rig.settings->outputDevice = outs[c.current];
        rig.load();
        AudioSettingsModel model(rig.backends, *rig.settings, rig.host, false, false, &rig.messages);
        model.initialise();
        EXPECT_EQ(model.outputs().devices.size(), 3u);
        EXPECT_EQ(model.outputs().selected, c.selected) << "current " << c.current << " default " << c.defaultIndex;
        EXPECT_FALSE(model.applyEnabled()) << "filling the lists is no change";
    }
}

TEST(AudioSettingsModel, EnablingFollowsFamilyAndPlugin) {
    struct Case {
        uint32_t type;
        bool instrument;
        bool buffer, controlPanel, inputs;
    };
    const std::vector<Case> cases = {
        {vl::kDeviceTypeASIO, false, false, true, true},
        {vl::kDeviceTypeWasapiShared, false, false, false, true},
        {vl::kDeviceTypeWasapiExclusive, true, true, false, false},
        {vl::kDeviceTypeDirectSound, true, true, false, false},
    };
    for (const Case& c : cases) {
        DialogRig rig;
        DeviceBackend& backend = c.type == vl::kDeviceTypeASIO ? rig.asio
                                 : c.type == vl::kDeviceTypeDirectSound ? rig.directSound : rig.wasapi;
        rig.settings->outputDevice = backend.add(c.type, L"Out", false);
        if (c.instrument) rig.makeInstrument();
        rig.load();
        AudioSettingsModel model(rig.backends, *rig.settings, rig.host, vl::takesNoAudioInput(rig.slot), false,
                                 &rig.messages);
        model.initialise();
        ASSERT_GE(model.typeIndex(), 0);
        EXPECT_EQ(model.types()[model.typeIndex()].type, c.type);
        EXPECT_EQ(model.bufferControlsEnabled(), c.buffer) << c.type;
        EXPECT_EQ(model.controlPanelEnabled(), c.controlPanel) << c.type;
        EXPECT_EQ(model.inputControlsEnabled(), c.inputs) << c.type;
    }
}

namespace {

// An instrument on one exclusive-mode WASAPI output, the settings' current device.
vl::AudioDeviceRecord* instrumentOnExclusiveOutput(DialogRig& rig, int channels = 2, uint32_t bufferSize = 512) {
    vl::AudioDeviceRecord* out =
        rig.wasapi.add(vl::kDeviceTypeWasapiExclusive, L"Out", false, false, 44100.0, channels, bufferSize);
    rig.settings->outputDevice = out;
    rig.makeInstrument();
    rig.load();
    return out;
}

}  // namespace

TEST(AudioSettingsModel, SpinsAndEditsClampAndReachTheRecordOnlyOnApply) {
    DialogRig rig;
    vl::AudioDeviceRecord* out = instrumentOnExclusiveOutput(rig, 2, 9094);
    AudioSettingsModel model(rig.backends, *rig.settings, rig.host, true, false, &rig.messages);
    model.initialise();
    EXPECT_EQ(model.samplesText(), L"9094");

    model.stepSamples(+5);
    EXPECT_EQ(model.outputBufferSamples(), 9096);
    EXPECT_TRUE(model.applyEnabled());

    ASSERT_TRUE(model.editSamples(L"3"));
    model.stepSamples(-5);
    EXPECT_EQ(model.outputBufferSamples(), 2);

    ASSERT_TRUE(model.editSamples(L"512"));
    EXPECT_EQ(model.latencyText(), L"11.6");
    ASSERT_TRUE(model.editLatency(L"10"));
    EXPECT_EQ(model.outputBufferSamples(), 441);

    ASSERT_TRUE(model.editLatency(L"0.4"));
    model.stepLatency(-5);
    EXPECT_DOUBLE_EQ(model.outputLatencyMs(), 0.2);
    EXPECT_EQ(model.outputBufferSamples(), 8);  // trunc(0.2 ms * 44.1)
    model.stepLatency(+1);
    EXPECT_EQ(model.latencyText(), L"0.3");
    // Failing first: every step and edit used to be written into the running device's record.
    EXPECT_EQ(out->bufferSize, 9094u);

    // What is not a number of the edit's kind changes nothing.
    EXPECT_FALSE(model.editSamples(L"12a"));
    EXPECT_FALSE(model.editSamples(L"-4"));
    EXPECT_FALSE(model.editLatency(L""));
    EXPECT_EQ(model.outputBufferSamples(), 13);  // from the 0.3 ms step
    EXPECT_TRUE(rig.messages.shown.empty());
    ASSERT_TRUE(model.editLatency(L"0.3"));
    EXPECT_TRUE(model.apply());
    EXPECT_EQ(out->bufferSize, 13u);
    rig.host.StopAudioEngine();
}

// Failing first: "0.5" raised "Error getting Device Infos!" twice, ".5" "Enter a number." at once.
TEST(AudioSettingsModel, TypingRaisesNoMessageAndApplyChecksTheText) {
    struct Case {
        std::vector<std::wstring> keys;  // the edit's text after each key
        bool latency;
        std::wstring applyMessage;  // empty = applied
        int32_t samples;
    };
    const std::vector<Case> cases = {
        {{L"0", L"0.", L"0.5"}, true, L"", 22},
        {{L".", L".5"}, true, L"", 22},
        {{L"1", L"1x"}, true, L"Enter a number.", 0},
        {{L"", L"2", L"25", L"256"}, false, L"", 256},
        {{L"2", L""}, false, L"Enter an integer.", 0},
        {{L"-"}, false, L"Enter an integer.", 0},
    };
    for (const Case& c : cases) {
        DialogRig rig;
        vl::AudioDeviceRecord* out = instrumentOnExclusiveOutput(rig);
        AudioSettingsModel model(rig.backends, *rig.settings, rig.host, true, false, &rig.messages);
        model.initialise();
        rig.wasapi.failQueries = true;  // no query may be needed while typing
        for (const auto& key : c.keys) c.latency ? model.editLatency(key) : model.editSamples(key);
        EXPECT_TRUE(rig.messages.shown.empty()) << vl::platform::wideToUtf8(c.keys.back());
        rig.wasapi.failQueries = false;
        const bool applied = model.apply();
        EXPECT_EQ(applied, c.applyMessage.empty()) << vl::platform::wideToUtf8(c.keys.back());
        if (applied) {
            EXPECT_EQ(out->bufferSize, static_cast<uint32_t>(c.samples));
        } else {
            EXPECT_EQ(rig.messageTexts(), std::vector<std::wstring>{c.applyMessage});
            EXPECT_EQ(out->bufferSize, 512u);
            EXPECT_EQ(rig.asio.opens.load() + rig.wasapi.opens.load(), 0) << "nothing applied";
            EXPECT_TRUE(c.latency ? model.latencyUnreadable() : model.samplesUnreadable());
        }
        rig.host.StopAudioEngine();
    }
}

TEST(AudioSettingsModel, CancelledChoicesNeverReachTheRecordsOrTheNextSave) {
    DialogRig rig;
    vl::AudioDeviceRecord* out = instrumentOnExclusiveOutput(rig, 4);
    {
        AudioSettingsModel model(rig.backends, *rig.settings, rig.host, true, false, &rig.messages);
        model.initialise();
        model.editSamples(L"0");
        model.selectOutputChannel(Side::Left, 3);
    }  // Cancel
    rig.settings->saveSettings();  // a save by another window
    EXPECT_EQ(out->bufferSize, 512u);
    EXPECT_EQ(out->leftChannel, 0);
    EXPECT_NE(rig.savedHostValue(L"AudioDeviceOut Name"), L"<none>");
}

TEST(AudioSettingsModel, ChannelChoicesGoIntoTheRecordsOnApply) {
    DialogRig rig;
    vl::AudioDeviceRecord* in = rig.asio.add(vl::kDeviceTypeASIO, L"Card", true, false, 44100.0, 4);
    vl::AudioDeviceRecord* out = rig.asio.add(vl::kDeviceTypeASIO, L"Card", false, false, 44100.0, 4);
    vl::AudioDeviceRecord* other = rig.asio.add(vl::kDeviceTypeASIO, L"Other", false, false, 44100.0, 4);
    in->leftChannel = 2;
    in->rightChannel = 3;
    other->leftChannel = 3;  // chosen once, never applied
    rig.settings->inputDevice = in;
    rig.settings->outputDevice = out;
    rig.load();
    AudioSettingsModel model(rig.backends, *rig.settings, rig.host, false, false, &rig.messages);
    model.initialise();
    EXPECT_EQ(model.inputChannels().left, 2);  // the current device shows its stored channels
    EXPECT_EQ(model.inputChannels().right, 3);
    EXPECT_EQ(model.inputChannels().names.size(), 4u);

    model.selectInputChannel(Side::Left, 1);
    model.selectInputChannel(Side::Right, 0);
    model.selectOutputChannel(Side::Right, 3);
    EXPECT_EQ(in->leftChannel, 2);
    EXPECT_EQ(out->rightChannel, 1);
    EXPECT_TRUE(model.applyEnabled());
    ASSERT_TRUE(model.apply());
    EXPECT_EQ(in->leftChannel, 1);
    EXPECT_EQ(in->rightChannel, 0);
    EXPECT_EQ(out->rightChannel, 3);
    rig.host.StopAudioEngine();

    // Another device shows channels 0 and 1, and uses them once applied.
    model.selectOutputDevice(1);
    EXPECT_EQ(model.outputChannels().left, 0);
    EXPECT_EQ(model.outputChannels().right, 1);
    EXPECT_EQ(other->leftChannel, 3);
    ASSERT_TRUE(model.apply());
    EXPECT_EQ(other->leftChannel, 0);
    EXPECT_EQ(other->rightChannel, 1);
    rig.host.StopAudioEngine();
}

// Failing first: browsing to a second ASIO driver used to stop the running engine.
TEST(AudioSettingsModel, BrowsingNeverStopsARunningEngine) {
    struct Case {
        const char* name;
        uint32_t runningType;  // the family the engine runs on
        uint32_t browsedType;  // the family of the device browsed to
        bool input;
        bool queried;          // the browsed device's details may be read
    };
    const Case cases[] = {
        {"second ASIO input", vl::kDeviceTypeASIO, vl::kDeviceTypeASIO, true, false},
        {"second ASIO output", vl::kDeviceTypeASIO, vl::kDeviceTypeASIO, false, false},
        {"WASAPI beside ASIO", vl::kDeviceTypeASIO, vl::kDeviceTypeWasapiShared, false, true},
        {"ASIO beside WASAPI", vl::kDeviceTypeWasapiShared, vl::kDeviceTypeASIO, false, true},
    };
    for (const Case& c : cases) {
        DialogRig rig;
        vltest::DeviceBackend& running = c.runningType == vl::kDeviceTypeASIO ? rig.asio : rig.wasapi;
        vltest::DeviceBackend& browsed = c.browsedType == vl::kDeviceTypeASIO ? rig.asio : rig.wasapi;
        rig.settings->inputDevice = running.add(c.runningType, L"Running", true);
        rig.settings->outputDevice = running.add(c.runningType, L"Running", false);
        browsed.add(c.browsedType, L"Second", true);
        vl::AudioDeviceRecord* second = browsed.add(c.browsedType, L"Second", false);
        rig.load();
        ASSERT_TRUE(rig.host.StartAudioEngine());
        AudioSettingsModel model(rig.backends, *rig.settings, rig.host, false, false, &rig.messages);
        model.initialise();
        // The Type list alone changes nothing; then the browsed family's devices.
        for (size_t t = 0; t < model.types().size(); ++t) {
            if (model.types()[t].type == c.browsedType) model.selectType(static_cast<int>(t));
        }
        const int index = static_cast<int>(std::find(model.outputs().devices.begin(), model.outputs().devices.end(),
                                                     second) - model.outputs().devices.begin());
        if (c.input) model.selectInputDevice(c.browsedType == c.runningType ? 1 : 0);
        else model.selectOutputDevice(index);
        EXPECT_EQ(rig.host.RunningDeviceType(), c.runningType) << c.name;
        EXPECT_EQ(rig.asio.queriesWhileRunning, 0) << c.name;
        EXPECT_EQ(c.input ? model.inputChannelsEnabled() : model.outputChannelsEnabled(), c.queried) << c.name;
        EXPECT_TRUE(rig.messages.shown.empty()) << c.name;
        rig.host.StopAudioEngine();
    }
}

TEST(AudioSettingsModel, ApplyTakesTheDriversSizeSavesAndRestarts) {
    struct Case {
        uint32_t preferred;
        int32_t samples;
        std::wstring ms;
    };
    for (const Case& c : {Case{256, 256, L"5.8"}, Case{1, 2, L"0"}, Case{20000, 9096, L"206.3"}}) {
        DialogRig rig;
        rig.asio.add(vl::kDeviceTypeASIO, L"Card", true);
        vl::AudioDeviceRecord* out = rig.asio.add(vl::kDeviceTypeASIO, L"Card", false, false, 44100.0, 2, 512);
        rig.asio.preferredSize = c.preferred;
        rig.load();
        AudioSettingsModel model(rig.backends, *rig.settings, rig.host, false, false, &rig.messages);
        model.initialise();
        model.selectOutputChannel(Side::Left, 1);
        ASSERT_TRUE(model.applyEnabled());

        EXPECT_TRUE(model.apply());
        EXPECT_EQ(model.outputBufferSamples(), c.samples);
        EXPECT_EQ(model.latencyText(), c.ms);
        EXPECT_EQ(out->bufferSize, static_cast<uint32_t>(c.samples));
        EXPECT_EQ(rig.settings->outputDevice, out);
        EXPECT_EQ(rig.savedHostValue(L"AudioDeviceOut Name"), L"Card");
        ASSERT_NE(rig.probe.lastCall(vst::effSetBlockSize), nullptr);
        EXPECT_EQ(rig.probe.lastCall(vst::effSetBlockSize)->value, c.samples);
        EXPECT_FALSE(model.applyEnabled());
        EXPECT_TRUE(rig.messages.shown.empty());
    }
}

TEST(AudioSettingsModel, FailuresAreReportedAndApplyStaysEnabled) {
    DialogRig rig;
    rig.asio.add(vl::kDeviceTypeASIO, L"Card", true);
    rig.asio.add(vl::kDeviceTypeASIO, L"Card", false);
    rig.load();
    AudioSettingsModel model(rig.backends, *rig.settings, rig.host, false, false, &rig.messages);
    rig.asio.failQueries = true;
    // One driver that fails for its input and its output record is one failure: one message,
    // naming it and the driver's reason.
    model.failureReason = [](const vl::AudioDeviceRecord&) { return std::wstring(L"no clock"); };
    model.initialise();
    EXPECT_EQ(rig.messageTexts(), (std::vector<std::wstring>{L"Error getting Device Infos!\r\nCard: no clock"}));
    rig.messages.shown.clear();
    model.selectOutputDevice(0);
    EXPECT_EQ(rig.messageTexts(), (std::vector<std::wstring>{L"Error getting Device Infos!\r\nCard: no clock"}))
        << "picked again: failed again";

    // Apply with that driver: its query and its start fail as one.
    rig.messages.shown.clear();
    model.failureReason = nullptr;
    rig.asio.failOpen = true;
    EXPECT_FALSE(model.apply());
    EXPECT_EQ(rig.messageTexts(), (std::vector<std::wstring>{L"Couldn't start Audioengine\r\nCard"}));

    rig.messages.shown.clear();
    rig.asio.failQueries = false;
    rig.asio.failOpen = true;
    model.stepSamples(1);
    EXPECT_FALSE(model.apply());
    EXPECT_EQ(rig.messageTexts(), (std::vector<std::wstring>{L"Couldn't start Audioengine\r\nCard"}));
    EXPECT_TRUE(model.applyEnabled());

    rig.messages.shown.clear();
    model.pressControlPanel();  // no opener: the panel cannot be opened
    model.openControlPanel = [](vl::AudioDeviceRecord& device) { return device.name == L"Card"; };
    model.pressControlPanel();
    EXPECT_EQ(rig.messageTexts(), (std::vector<std::wstring>{L"Unable to open ASIO Controlpanel!"}));
}

// Failing first: the failed choice was stored before the engine was tried.
TEST(AudioSettingsModel, AFailedApplyPutsTheWorkingChoiceBack) {
    DialogRig rig;
    rig.settings->inputDevice = rig.wasapi.add(vl::kDeviceTypeWasapiShared, L"Mic", true);
    vl::AudioDeviceRecord* speakers = rig.wasapi.add(vl::kDeviceTypeWasapiShared, L"Speakers", false, false, 44100.0, 4);
    speakers->leftChannel = 2;
    speakers->rightChannel = 3;
    rig.settings->outputDevice = speakers;
    vl::AudioDeviceRecord* card = rig.asio.add(vl::kDeviceTypeASIO, L"Card", false, false, 48000.0, 4, 256);
    rig.makeInstrument();
    rig.load();
    ASSERT_TRUE(rig.host.StartAudioEngine());
    rig.settings->saveSettings();
    AudioSettingsModel model(rig.backends, *rig.settings, rig.host, true, false, &rig.messages);
    model.initialise();
    ASSERT_EQ(model.types().back().type, vl::kDeviceTypeASIO);
    model.selectType(static_cast<int>(model.types().size()) - 1);
    model.selectOutputChannel(Side::Left, 3);
    rig.asio.failOpen = true;
    EXPECT_FALSE(model.ok()) << "OK after a failed Apply keeps the window";
    EXPECT_EQ(rig.messageTexts().back(), L"Couldn't start Audioengine\r\nCard");
    EXPECT_EQ(rig.settings->outputDevice, speakers);
    EXPECT_EQ(rig.savedHostValue(L"AudioDeviceOut Name"), L"Speakers");
    EXPECT_EQ(card->leftChannel, 0) << "the failed device's record is as before";
    EXPECT_EQ(card->bufferSize, 256u);
    // The window shows the working choice again, and the engine runs on it.
    EXPECT_EQ(model.types()[model.typeIndex()].type, vl::kDeviceTypeWasapiShared);
    EXPECT_EQ(model.outputs().selectedDevice(), speakers);
    EXPECT_EQ(model.outputChannels().left, 2);
    EXPECT_EQ(rig.host.RunningDeviceType(), vl::kDeviceTypeWasapiShared);
    EXPECT_EQ(rig.wasapi.opens.load(), 2);
    EXPECT_TRUE(model.applyEnabled());
    rig.host.StopAudioEngine();
}

TEST(AudioSettingsModel, AFamilyWithoutInputsLeavesNoInputOfAnotherFamily) {
    for (bool instrument : {false, true}) {
        DialogRig rig;
        if (instrument) rig.makeInstrument();
        rig.settings->inputDevice = rig.directSound.add(vl::kDeviceTypeDirectSound, L"Mic", true);
        rig.settings->outputDevice = rig.directSound.add(vl::kDeviceTypeDirectSound, L"Primary", false);
        vl::AudioDeviceRecord* asioOut = rig.asio.add(vl::kDeviceTypeASIO, L"Output only", false);
        rig.load();
        AudioSettingsModel model(rig.backends, *rig.settings, rig.host, false, false, &rig.messages);
        model.initialise();
        ASSERT_EQ(model.types()[0].text, L"ASIO");
        model.selectType(0);
        EXPECT_TRUE(model.inputs().devices.empty());
        // An instrument runs on the output alone, and no input of another family stays chosen;
        // an effect cannot run without an input: the start says why, once, and the working pair
        // comes back.
        EXPECT_EQ(model.apply(), instrument);
        EXPECT_EQ(rig.settings->outputDevice, instrument ? asioOut : rig.directSound.devices[1].get());
        EXPECT_EQ(rig.settings->inputDevice == nullptr, instrument);
        EXPECT_EQ(rig.messageTexts().size(), instrument ? 0u : 1u);
    }
}

TEST(AudioSettingsModel, OkRestartsOnlyAfterAChange) {
    for (bool change : {false, true}) {
        DialogRig rig;
        rig.asio.add(vl::kDeviceTypeASIO, L"Card", true);
        rig.settings->outputDevice = rig.asio.add(vl::kDeviceTypeASIO, L"Card", false);
        rig.load();
        AudioSettingsModel model(rig.backends, *rig.settings, rig.host, false, false, &rig.messages);
        model.initialise();
        if (change) model.selectOutputChannel(Side::Right, 0);
        EXPECT_TRUE(model.ok());
        EXPECT_EQ(rig.asio.opens.load(), change ? 1 : 0);
    }
    // Opened after a failed engine start, Apply is on from the beginning.
    DialogRig rig;
    AudioSettingsModel model(rig.backends, *rig.settings, rig.host, false, true, &rig.messages);
    model.initialise();
    EXPECT_TRUE(model.applyEnabled());
}

TEST(AudioSettingsModel, ApplyShowsTheSizeTheSharedStreamReports) {
    DialogRig rig;
    rig.wasapi.add(vl::kDeviceTypeWasapiShared, L"Mic", true);
    vl::AudioDeviceRecord* out = rig.wasapi.add(vl::kDeviceTypeWasapiShared, L"Speakers", false, true);
    rig.load();
    AudioSettingsModel model(rig.backends, *rig.settings, rig.host, false, false, &rig.messages);
    model.initialise();
    EXPECT_EQ(model.samplesText(), L"512");
    rig.wasapi.preferredSize = 448;  // what the opened stream will report
    EXPECT_TRUE(model.apply());
    EXPECT_EQ(out->bufferSize, 448u);
    EXPECT_EQ(model.samplesText(), L"448");
    EXPECT_EQ(model.latencyText(), L"10.2");
    rig.host.StopAudioEngine();
}

// Running on stand-ins for a missing interface: only Apply of other devices makes them the
// stored choice; Apply of the running ones' values, or a failed Apply, keeps the stored one.
TEST(AudioSettingsModel, OnlyApplyingOtherDevicesEndsAFallbackRun) {
    struct Case {
        bool otherDevice, failOpen, fallbackAfter;
        const wchar_t* storedOut;
    };
    for (const Case& c : {Case{false, false, true, L"<none>"}, Case{true, true, true, L"<none>"},
                          Case{true, false, false, L"Card"}}) {
        DialogRig rig;
        rig.settings->outputDevice = rig.wasapi.add(vl::kDeviceTypeWasapiShared, L"Speakers", false, true);
        rig.asio.add(vl::kDeviceTypeASIO, L"Card", false);
        rig.settings->audioDevicesAreFallback = true;
        rig.makeInstrument();
        rig.load();
        ASSERT_TRUE(rig.host.StartAudioEngine());
        AudioSettingsModel model(rig.backends, *rig.settings, rig.host, true, false, &rig.messages);
        model.initialise();
        if (c.otherDevice) model.selectType(static_cast<int>(model.types().size()) - 1);
        model.selectOutputChannel(Side::Left, 1);
        rig.asio.failOpen = c.failOpen;
        EXPECT_EQ(model.apply(), !c.failOpen);
        EXPECT_EQ(rig.settings->audioDevicesAreFallback, c.fallbackAfter) << c.otherDevice << c.failOpen;
        EXPECT_EQ(rig.savedHostValue(L"AudioDeviceOut Name"), c.storedOut) << c.otherDevice << c.failOpen;
        rig.host.StopAudioEngine();
    }
}

// Failing first: a start that the shut-down (or the engine command) stopped while it was waited
// for was told as "Couldn't start Audioengine", and the engine started again against that stop.
TEST(AudioSettingsModel, AStartStoppedWhileItIsAwaitedIsNoFailure) {
    DialogRig rig;
    rig.settings->outputDevice = rig.wasapi.add(vl::kDeviceTypeWasapiShared, L"Speakers", false);
    rig.makeInstrument();
    rig.load();
    ASSERT_TRUE(rig.host.StartAudioEngine());
    AudioSettingsModel model(rig.backends, *rig.settings, rig.host, true, true, &rig.messages);
    model.initialise();
    rig.wasapi.holdBeforeFirstBlock = true;
    // Only the wait for the new start's first block (the device holds it) is answered with a stop.
    rig.host.setWaitHook([](uint32_t, void* user) {
        auto* r = static_cast<DialogRig*>(user);
        if (r->host.engineRunning.load() || !r->wasapi.inLoop.load()) return;
        r->wasapi.release = true;
        r->host.StopAudioEngine();
    }, &rig);
    EXPECT_FALSE(model.apply());
    rig.host.setWaitHook(nullptr, nullptr);
    EXPECT_TRUE(rig.host.startWasCancelled());
    EXPECT_TRUE(rig.messages.shown.empty()) << rig.messageTexts().front();
    EXPECT_FALSE(rig.host.engineRunning.load()) << "no restart against the stop";
    EXPECT_TRUE(model.applyEnabled());
}

TEST(AudioSettingsModel, APluginWithANegativeInputCountTakesNoInput) {
    DialogRig rig;
    rig.probe.config().numInputs = -1;
    rig.load();
    EXPECT_TRUE(vl::takesNoAudioInput(rig.slot));
}
