// HostSettings against every persistent store of the platform: what a run reads, what it
// writes, and what the next run finds.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <tuple>
#include <variant>

#include "StoreSpace.h"
#include "settings/HostSettings.h"

namespace vl {
namespace {

using Stored = std::variant<uint32_t, std::wstring>;

class FakeBackend final : public VLAudioBase {
public:
    AudioDeviceRecord* add(uint32_t type, const std::wstring& name, bool isInput, bool isDefault = false) {
        auto& record = *devices.emplace_back(std::make_unique<AudioDeviceRecord>());
        std::tie(record.type, record.name, record.isInput, record.isDefault) = std::tie(type, name, isInput, isDefault);
        record.bufferSize = defaultBufferSize(type);
        return &record;
    }
    bool openAndStart(AudioDeviceRecord*, AudioDeviceRecord*, RenderBlockProc, void*) override { return false; }
    void stop() override {}
    bool matchFormats(AudioDeviceRecord*, AudioDeviceRecord*) override { return true; }
    bool queryDetails(AudioDeviceRecord*, bool) override { return true; }
};

auto channels(const AudioDeviceRecord& d) { return std::tuple(d.leftChannel, d.rightChannel, d.bufferSize); }

std::unique_ptr<MidiDeviceRecord> midiRecord(int32_t id, const std::wstring& name, bool isInput, bool active) {
    auto record = std::make_unique<MidiDeviceRecord>();
    std::tie(record->deviceId, record->name, record->isInput) = std::tie(id, name, isInput);
    record->active = active;
    return record;
}

class HostSettingsTest : public ::testing::TestWithParam<test::StoreKind> {
protected:
    void SetUp() override {
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '-');
        effect = L"Test " + std::wstring(name.begin(), name.end());
        space = GetParam().make(effect);
        backends.set(kDeviceTypeASIO, &asio);
        backends.set(kDeviceTypeWasapiShared, &wasapi);
        backends.set(kDeviceTypeWasapiExclusive, &wasapi);
    }
    std::wstring root() const { return L"Software\\Vorlane\\" + effect; }
    std::wstring host() const { return root() + L"\\Host"; }
    std::wstring midiKey(int n) const { return host() + L"\\Midi Device " + std::to_wstring(n); }

    // Values as an earlier run (or the user) left them; none deletes.
    void put(const std::wstring& path, std::initializer_list<std::pair<const wchar_t*, std::optional<Stored>>> values) {
        auto store = space->open();
        ScopedKey key(*store, store->createKey(path));
        for (const auto& [name, value] : values) {
            if (!value) store->deleteValue(key.get(), name);
            else if (const auto* number = std::get_if<uint32_t>(&*value)) store->writeDword(key.get(), name, *number);
            else store->writeString(key.get(), name, std::get<std::wstring>(*value));
        }
    }
    // What the next run finds.
    std::optional<Stored> stored(const std::wstring& path, const wchar_t* name) {
        auto store = space->open();
        ScopedKey key(*store, store->openKey(path));
        uint32_t number = 0;
        std::wstring text;
        if (store->readString(key.get(), name, text)) return text;
        if (store->readDword(key.get(), name, number)) return number;
        return std::nullopt;
    }
    std::unique_ptr<HostSettings> run() { return std::make_unique<HostSettings>(effect, space->open()); }
    std::unique_ptr<HostSettings> loadedRun(double tempoBefore = 120.0) {
        auto settings = run();
        settings->tempo = tempoBefore;
        settings->loadSettings(backends);
        return settings;
    }

    std::wstring effect;
    std::unique_ptr<test::StoreSpace> space;
    FakeBackend asio, wasapi;
    AudioBackendSet backends;
};

TEST_P(HostSettingsTest, WithoutTheHostKeyNothingIsReadNotEvenTheRootValue) {
    put(root(), {{L"PluginCanSetTempo", 1u}, {L"Tempo", L"98"}, {L"AudioDeviceType", 4u}, {L"contentpath", L"/c/"}});
    auto first = loadedRun();
    EXPECT_FALSE(first->PluginCanSetTempo);
    EXPECT_EQ(first->tempo, 120.0);
    EXPECT_FALSE(stored(host(), L"Tempo"));  // loading writes nothing
    std::wstring path;
    EXPECT_TRUE(first->readRootString(L"contentpath", path) && path == L"/c/");
    EXPECT_FALSE(first->readRootString(L"missing", path));

    put(host(), {});
    put(root(), {{L"PluginCanSetTempo", 0x100u}});  // any non-zero value, not only its low byte
    EXPECT_TRUE(loadedRun()->PluginCanSetTempo);
}

TEST_P(HostSettingsTest, TempoIsReadOnlyWithAValidAudioDeviceTypeAndOnlyWhenItConverts) {
    put(host(), {{L"Tempo", L"98.5"}});
    EXPECT_EQ(loadedRun()->tempo, 120.0);
    put(host(), {{L"AudioDeviceType", 3u}});  // not a type code
    EXPECT_EQ(loadedRun()->tempo, 120.0);
    put(host(), {{L"AudioDeviceType", uint32_t(kDeviceTypeDirectSound)}});  // valid, though no back end here
    EXPECT_EQ(loadedRun()->tempo, 98.5);
    const std::pair<const wchar_t*, double> cases[] = {
        {L"98.7654", 98.7654}, {L"140bpm", 140.0}, {L"abc", 90.0}, {L"", 90.0},
        // Never a tempo that would break the time information.
        {L"-5", 90.0}, {L"0", 90.0}, {L"1e999", 90.0}, {L"nan", 90.0}, {L"inf", 90.0},
        {L"0.5", 90.0}, {L"1000", 90.0}, {L"1", 1.0}, {L"999", 999.0}};
    for (const auto& [text, expected] : cases) {
        put(host(), {{L"Tempo", text}});
        EXPECT_EQ(loadedRun(90.0)->tempo, expected) << std::string(text, text + wcslen(text));
    }
    put(host(), {{L"Tempo", std::nullopt}});  // unreadable: back to 120
    EXPECT_EQ(loadedRun(90.0)->tempo, 120.0);
}

TEST_P(HostSettingsTest, TheOutputIsFoundByTheInputsNameWithTypeDirectionAndExactName) {
    asio.add(kDeviceTypeWasapiShared, L"Studio Driver", true);  // wrong type
    AudioDeviceRecord* in = asio.add(kDeviceTypeASIO, L"Studio Driver", true);
    asio.add(kDeviceTypeASIO, L"studio driver", false);  // wrong case
    AudioDeviceRecord* out = asio.add(kDeviceTypeASIO, L"Studio Driver", false);
    put(host(), {{L"AudioDeviceType", 2u}, {L"AudioDeviceIn Name", L"Studio Driver"}, {L"AudioDeviceIn Left", 3u},
                 {L"AudioDeviceIn Right", 4u}, {L"AudioDeviceIn BufferSize", 256u}, {L"AudioDeviceOut Left", 5u}});
    auto settings = loadedRun();
    EXPECT_EQ(std::tuple(settings->inputDevice, settings->outputDevice), std::tuple(in, out));
    EXPECT_EQ(channels(*in), std::tuple(3, 4, 256u));
    EXPECT_EQ(channels(*out), std::tuple(5, 1, 1024u));  // missing: own right channel, 1024 frames (not 512)
}

TEST_P(HostSettingsTest, MidiDeviceKeysAreReadUpToTheFirstGap) {
    put(midiKey(0), {{L"name", L"Keys"}, {L"in", 1u}, {L"sync", 1u}, {L"delay", uint32_t(-10)}, {L"channel", 5u},
                     {L"keyboardRangeLeft", 10u}});
    put(midiKey(1), {{L"name", L"Pads"}, {L"in", 0x100u}, {L"active", 0x101u}});  // flags count their low byte
    put(midiKey(3), {{L"name", L"Beyond the gap"}});
    auto settings = loadedRun();
    ASSERT_EQ(settings->midiDevices.size(), 2u);
    const MidiDeviceRecord &keys = *settings->midiDevices[0], &pads = *settings->midiDevices[1];
    EXPECT_EQ(std::tuple(keys.name, keys.deviceId, keys.isInput, keys.sync.get(), keys.delay.get(), keys.channel.get(),
                         keys.keyboardRangeLeft.get(), keys.keyboardRangeRight.get()),
              std::tuple(std::wstring(L"Keys"), -1, true, true, -10, 5, 10, 127));
    EXPECT_EQ(std::tuple(pads.isInput, pads.active.get()), std::tuple(false, true));
}

TEST_P(HostSettingsTest, EverythingSavedIsLoadedByTheNextRun) {
    AudioDeviceRecord* in = wasapi.add(kDeviceTypeWasapiShared, L"Line In", true);
    AudioDeviceRecord* out = wasapi.add(kDeviceTypeWasapiShared, L"Speakers \u00e9\u6771", false);
    {
        auto settings = run();
        std::tie(in->leftChannel, in->rightChannel, in->bufferSize) = std::tuple(2, 3, 480u);
        std::tie(settings->inputDevice, settings->outputDevice, settings->tempo) = std::tuple(in, out, 98.76543);
        settings->samplePath = L"/samples/loop \"one\".wav";
        settings->sampleLooped = settings->startPlayerAutomatic = true;
        settings->sampleRecordMaxBars = -1;
        settings->midiDevices.push_back(midiRecord(0, L"Keys", true, true));
        settings->midiDevices.back()->delay = -25;
        settings->saveSettings();
    }
    EXPECT_EQ(stored(host(), L"Tempo"), Stored(L"98.7654"));
    EXPECT_EQ(stored(host(), L"AudioDeviceType"), Stored(4u));
    EXPECT_FALSE(stored(root(), L"PluginCanSetTempo"));

    std::tie(in->leftChannel, in->rightChannel, in->bufferSize) = std::tuple(0, 1, 0u);
    auto next = loadedRun();
    EXPECT_EQ(std::tuple(next->inputDevice, next->outputDevice, next->tempo.get()), std::tuple(in, out, 98.7654));
    EXPECT_EQ(channels(*in), std::tuple(2, 3, 480u));
    EXPECT_EQ(next->samplePath, L"/samples/loop \"one\".wav");
    EXPECT_EQ(std::tuple(next->sampleLooped, next->sampleStartByMidi, next->startPlayerAutomatic, next->sampleRecordMaxBars),
              std::tuple(true, false, true, -1));
    ASSERT_EQ(next->midiDevices.size(), 1u);
    EXPECT_EQ(std::tuple(next->midiDevices[0]->name, next->midiDevices[0]->delay.get()), std::tuple(L"Keys", -25));

    next->tempo = 120.0;
    next->saveSettings();
    EXPECT_EQ(stored(host(), L"Tempo"), Stored(L"120"));
}

TEST_P(HostSettingsTest, SavingFewerMidiDevicesLeavesTheHigherKeysForTheNextRun) {
    for (int count : {5, 3}) {
        auto settings = run();
        for (int i = 0; i < count; ++i) settings->midiDevices.push_back(midiRecord(i, std::to_wstring(count), true, true));
        settings->saveSettings();
    }
    auto next = loadedRun();
    ASSERT_EQ(next->midiDevices.size(), 5u);
    EXPECT_EQ(std::tuple(next->midiDevices[2]->name, next->midiDevices[3]->name), std::tuple(L"3", L"5"));
}

TEST_P(HostSettingsTest, SavingOnlyAnOutputLeavesTheStoredInputAlone) {
    put(host(), {{L"AudioDeviceType", 2u}, {L"AudioDeviceIn Name", L"Old In"}, {L"AudioDeviceIn Left", 7u},
                 {L"AudioDeviceIn Right", 8u}, {L"AudioDeviceIn BufferSize", 333u}});
    auto settings = run();
    settings->outputDevice = wasapi.add(kDeviceTypeWasapiExclusive, L"Speakers", false);
    settings->saveSettings();
    EXPECT_EQ(stored(host(), L"AudioDeviceType"), Stored(8u));
    EXPECT_EQ(stored(host(), L"AudioDeviceOut Name"), Stored(L"Speakers"));
    EXPECT_EQ(stored(host(), L"AudioDeviceIn Name"), Stored(L"Old In"));
    EXPECT_EQ(std::tuple(stored(host(), L"AudioDeviceIn Left"), stored(host(), L"AudioDeviceIn Right"),
                         stored(host(), L"AudioDeviceIn BufferSize")),
              std::tuple(Stored(7u), Stored(8u), Stored(333u)));
    settings->inputDevice = asio.add(kDeviceTypeASIO, L"Driver", true);  // with both, the output's type
    settings->saveSettings();
    EXPECT_EQ(stored(host(), L"AudioDeviceType"), Stored(8u));
}

TEST_P(HostSettingsTest, MergeMatchesEngineDevicesWithTheStoredRecords) {
    put(midiKey(0), {{L"name", L"Keys"}, {L"in", 1u}, {L"active", 0u}, {L"channel", 3u}});
    put(midiKey(1), {{L"name", L"Gone"}, {L"in", 1u}});
    auto settings = loadedRun();
    std::vector<std::unique_ptr<MidiDeviceRecord>> engine;
    engine.push_back(midiRecord(0, L"Keys", true, true));
    engine.push_back(midiRecord(1, L"keys", true, true));  // names compare exactly
    engine.push_back(midiRecord(2, L"Keys", true, true));  // same name and direction twice
    engine.push_back(midiRecord(kMidiMapperId, L"Keys", false, false));
    settings->mergeMidiDevices(engine);
    EXPECT_FALSE(engine[0]->active || engine[2]->active);  // the user's choice goes to the engine
    const auto& records = settings->midiDevices;
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(std::tuple(records[0]->deviceId, records[0]->channel.get()), std::tuple(2, 3));  // the later one
    EXPECT_EQ(records[1]->deviceId, -1);  // absent in this run, kept for its return
    EXPECT_EQ(std::tuple(records[2]->name, records[2]->deviceId, records[2]->active.get()), std::tuple(L"keys", 1, true));
    EXPECT_EQ(std::tuple(records[3]->deviceId, records[3]->isInput, records[3]->active.get()),
              std::tuple(kMidiMapperId, false, false));
}

TEST_P(HostSettingsTest, DefaultAudioDevicesAreTheLastSharedModeDefaults) {
    auto settings = run();
    wasapi.add(kDeviceTypeWasapiShared, L"Not default", false);
    EXPECT_FALSE(settings->chooseDefaultAudioDevices(wasapi));
    wasapi.add(kDeviceTypeWasapiExclusive, L"Exclusive default", false, true);
    wasapi.add(kDeviceTypeWasapiShared, L"First", false, true);
    AudioDeviceRecord* mic = wasapi.add(kDeviceTypeWasapiShared, L"Mic", true, true);
    AudioDeviceRecord* second = wasapi.add(kDeviceTypeWasapiShared, L"Second", false, true);
    EXPECT_TRUE(settings->chooseDefaultAudioDevices(wasapi));
    EXPECT_EQ(std::tuple(settings->inputDevice, settings->outputDevice), std::tuple(mic, second));
}

// Failing first: a run on stand-in devices wrote them over the interface the user had chosen.
TEST_P(HostSettingsTest, AFallbackRunKeepsTheStoredInterfaceUntilTheFlagIsCleared) {
    const std::pair<const wchar_t*, Stored> choice[] = {
        {L"AudioDeviceType", Stored(2u)},          {L"AudioDeviceIn Name", Stored(L"Card")},
        {L"AudioDeviceIn Left", Stored(4u)},       {L"AudioDeviceIn Right", Stored(5u)},
        {L"AudioDeviceIn BufferSize", Stored(64u)}, {L"AudioDeviceOut Name", Stored(L"Card")},
        {L"AudioDeviceOut Left", Stored(6u)},      {L"AudioDeviceOut Right", Stored(7u)},
        {L"AudioDeviceOut BufferSize", Stored(128u)}};
    for (const auto& [name, value] : choice) put(host(), {{name, value}});
    put(host(), {{L"Tempo", L"100"}});
    // The interface is off this run: nothing lists it, the defaults play.
    auto settings = loadedRun();
    ASSERT_FALSE(settings->outputDevice);
    wasapi.add(kDeviceTypeWasapiShared, L"Mic", true, true);
    wasapi.add(kDeviceTypeWasapiShared, L"Speakers", false, true);
    ASSERT_TRUE(settings->chooseDefaultAudioDevices(wasapi));
    settings->audioDevicesAreFallback = true;
    settings->tempo = 133.0;
    settings->sampleLooped = true;
    settings->saveSettings();  // Tempo closed, a player option...
    for (const auto& [name, value] : choice) EXPECT_EQ(stored(host(), name), value) << std::wstring(name);
    EXPECT_EQ(std::tuple(stored(host(), L"Tempo"), stored(host(), L"sampleLooped")), std::tuple(Stored(L"133"), Stored(1u)));

    settings->audioDevicesAreFallback = false;  // the user picked devices
    settings->saveSettings();
    EXPECT_EQ(std::tuple(stored(host(), L"AudioDeviceType"), stored(host(), L"AudioDeviceIn Name"),
                         stored(host(), L"AudioDeviceOut Name")),
              std::tuple(Stored(4u), Stored(L"Mic"), Stored(L"Speakers")));
}

// The names and types of the stored layout, written out here rather than taken from the
// code's own tables, so that a misspelt name in both directions cannot go unnoticed.
TEST_P(HostSettingsTest, ValueNamesAndTypesFollowTheStoredLayout) {
    AudioDeviceRecord* in = asio.add(kDeviceTypeASIO, L"Driver", true);
    AudioDeviceRecord* out = asio.add(kDeviceTypeASIO, L"Driver", false);
    {
        auto settings = run();
        std::tie(settings->inputDevice, settings->outputDevice) = std::tuple(in, out);
        settings->samplePath = L"loop.wav";
        settings->midiDevices.push_back(midiRecord(0, L"Keys", true, true));
        settings->saveSettings();
    }
    const std::wstring device = midiKey(0);
    const std::pair<std::wstring, const wchar_t*> strings[] = {
        {host(), L"AudioDeviceIn Name"}, {host(), L"AudioDeviceOut Name"}, {host(), L"Tempo"},
        {host(), L"samplePath"}, {device, L"name"}};
    const std::pair<std::wstring, const wchar_t*> numbers[] = {
        {host(), L"AudioDeviceType"}, {host(), L"AudioDeviceIn Left"}, {host(), L"AudioDeviceIn Right"},
        {host(), L"AudioDeviceIn BufferSize"}, {host(), L"AudioDeviceOut Left"}, {host(), L"AudioDeviceOut Right"},
        {host(), L"AudioDeviceOut BufferSize"}, {host(), L"sampleLooped"}, {host(), L"sampleStartByMidi"},
        {host(), L"sampleCalcTempo"}, {host(), L"sampleRecordOption"}, {host(), L"sampleRecordMaxBars"},
        {host(), L"openPlayerOnStartup"}, {host(), L"startPlayerAutomatic"}, {device, L"in"}, {device, L"active"},
        {device, L"sync"}, {device, L"syncWhilePlaying"}, {device, L"delay"}, {device, L"filterCCMessages"},
        {device, L"filterProgramChanges"}, {device, L"channel"}, {device, L"keyboardRangeLeft"},
        {device, L"keyboardRangeRight"}};
    for (const auto& [key, name] : strings) {
        auto value = stored(key, name);
        EXPECT_TRUE(value && std::holds_alternative<std::wstring>(*value)) << std::wstring(name);
    }
    for (const auto& [key, name] : numbers) {
        auto value = stored(key, name);
        EXPECT_TRUE(value && std::holds_alternative<uint32_t>(*value)) << std::wstring(name);
    }
    // Read back under the same literal names, and the one value of the root key.
    put(host(), {{L"Tempo", L"87.5"}, {L"sampleRecordMaxBars", 9u}});
    put(device, {{L"keyboardRangeRight", 99u}});
    put(root(), {{L"PluginCanSetTempo", 1u}});
    auto next = loadedRun();
    EXPECT_EQ(std::tuple(next->tempo.get(), next->sampleRecordMaxBars, next->PluginCanSetTempo), std::tuple(87.5, 9, true));
    ASSERT_EQ(next->midiDevices.size(), 1u);
    EXPECT_EQ(next->midiDevices[0]->keyboardRangeRight.get(), 99);
}

INSTANTIATE_TEST_SUITE_P(Stores, HostSettingsTest, ::testing::ValuesIn(test::storeKinds()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace vl
