// HostSettings against every persistent store of the platform: what a run reads, what it
// writes, and what the next run finds.
#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <tuple>
#include <variant>

#include "StoreSpace.h"
#include "settings/HostSettings.h"

namespace vl {
namespace {

using Key = KeyValueStore::Key;
using Stored = std::variant<uint32_t, std::wstring>;

class FakeBackend final : public VLAudioBase {
public:
    AudioDeviceRecord* add(uint32_t type, const std::wstring& name, bool isInput, bool isDefault = false) {
        auto record = std::make_unique<AudioDeviceRecord>();
        record->type = type;
        record->name = name;
        record->isInput = isInput;
        record->isDefault = isDefault;
        record->bufferSize = defaultBufferSize(type);
        devices.push_back(std::move(record));
        return devices.back().get();
    }
    bool openAndStart(AudioDeviceRecord*, AudioDeviceRecord*, RenderBlockProc, void*) override { return false; }
    void stop() override {}
    bool matchFormats(AudioDeviceRecord*, AudioDeviceRecord*) override { return true; }
    bool queryDetails(AudioDeviceRecord*, bool) override { return true; }
};

// leftChannel, rightChannel, bufferSize
std::tuple<int32_t, int32_t, uint32_t> channels(const AudioDeviceRecord& device) {
    return {device.leftChannel, device.rightChannel, device.bufferSize};
}

std::unique_ptr<MidiDeviceRecord> midiRecord(int32_t id, const std::wstring& name, bool isInput, bool active) {
    auto record = std::make_unique<MidiDeviceRecord>();
    record->deviceId = id;
    record->name = name;
    record->isInput = isInput;
    record->active = active;
    return record;
}

// Refuses to create or open the keys it is told about; everything else goes to the real store.
class RefusingStore final : public KeyValueStore {
public:
    RefusingStore(std::shared_ptr<KeyValueStore> inner, std::set<std::wstring> refused)
        : inner_(std::move(inner)), refused_(std::move(refused)) {}
    Key createKey(const std::wstring& path) override {
        return refused_.count(path) ? Key::None : inner_->createKey(path);
    }
    Key openKey(const std::wstring& path) override { return refused_.count(path) ? Key::None : inner_->openKey(path); }
    bool readDword(Key k, const std::wstring& n, uint32_t& v) override { return inner_->readDword(k, n, v); }
    bool readString(Key k, const std::wstring& n, std::wstring& v) override { return inner_->readString(k, n, v); }
    bool deleteValue(Key k, const std::wstring& n) override { return inner_->deleteValue(k, n); }
    bool writeDword(Key k, const std::wstring& n, uint32_t v) override { return inner_->writeDword(k, n, v); }
    bool writeString(Key k, const std::wstring& n, const std::wstring& v) override {
        return inner_->writeString(k, n, v);
    }
    void closeKey(Key k) override { inner_->closeKey(k); }

private:
    std::shared_ptr<KeyValueStore> inner_;
    std::set<std::wstring> refused_;
};

class HostSettingsTest : public ::testing::TestWithParam<test::StoreKind> {
protected:
    void SetUp() override {
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        for (char& c : name)
            if (c == '/') c = '-';
        effect = L"Test " + std::wstring(name.begin(), name.end());
        space = GetParam().make(effect);
        backends.set(kDeviceTypeASIO, &asio);
        backends.set(kDeviceTypeWasapiShared, &wasapi);
        backends.set(kDeviceTypeWasapiExclusive, &wasapi);
    }

    std::wstring root() const { return L"Software\\Vorlane\\" + effect; }
    std::wstring host() const { return root() + L"\\Host"; }
    std::wstring midiKey(int number) const { return host() + L"\\Midi Device " + std::to_wstring(number); }

    // Stores values as an earlier run (or the user) left them.
    void put(const std::wstring& path, std::initializer_list<std::pair<const wchar_t*, Stored>> values) {
        auto store = space->open();
        ScopedKey key(*store, store->createKey(path));
        ASSERT_TRUE(key);
        for (const auto& [name, value] : values) {
            if (const auto* number = std::get_if<uint32_t>(&value))
                ASSERT_TRUE(store->writeDword(key.get(), name, *number));
            else
                ASSERT_TRUE(store->writeString(key.get(), name, std::get<std::wstring>(value)));
        }
    }

    // What the next run finds.
    std::optional<Stored> stored(const std::wstring& path, const wchar_t* name) {
        auto store = space->open();
        ScopedKey key(*store, store->openKey(path));
        uint32_t number = 0;
        std::wstring text;
        if (store->readString(key.get(), name, text)) return Stored(text);
        if (store->readDword(key.get(), name, number)) return Stored(number);
        return std::nullopt;
    }
    bool keyExists(const std::wstring& path) {
        auto store = space->open();
        return bool(ScopedKey(*store, store->openKey(path)));
    }

    std::unique_ptr<HostSettings> run(std::shared_ptr<KeyValueStore> store = nullptr) {
        return std::make_unique<HostSettings>(effect, store ? std::move(store) : space->open());
    }
    std::unique_ptr<HostSettings> loadedRun() {
        auto settings = run();
        settings->loadSettings(backends);
        return settings;
    }

    std::wstring effect;
    std::unique_ptr<test::StoreSpace> space;
    FakeBackend asio, wasapi;
    AudioBackendSet backends;
};

TEST_P(HostSettingsTest, FirstRunWithoutHostKeyKeepsEveryDefault) {
    put(root(), {{L"PluginCanSetTempo", 1u}, {L"Tempo", L"98"}, {L"AudioDeviceType", 4u}});
    auto settings = loadedRun();
    EXPECT_FALSE(settings->PluginCanSetTempo);
    EXPECT_EQ(settings->tempo, 120.0);
    EXPECT_EQ(settings->inputDevice, nullptr);
    EXPECT_EQ(settings->outputDevice, nullptr);
    EXPECT_TRUE(settings->midiDevices.empty());
    EXPECT_TRUE(settings->samplePath.empty());
    EXPECT_FALSE(settings->sampleLooped || settings->openPlayerOnStartup || settings->startPlayerAutomatic);
    EXPECT_EQ(settings->keyPath, root());
    // Loading writes nothing: the next run is a first run too.
    EXPECT_FALSE(keyExists(host()));
}

TEST_P(HostSettingsTest, PluginCanSetTempoIsReadFromTheRootOnceTheHostKeyExists) {
    put(host(), {});
    put(root(), {{L"PluginCanSetTempo", 0x100u}});
    EXPECT_TRUE(loadedRun()->PluginCanSetTempo);  // any non-zero value, not only its low byte
    put(root(), {{L"PluginCanSetTempo", 0u}});
    EXPECT_FALSE(loadedRun()->PluginCanSetTempo);
}

TEST_P(HostSettingsTest, TempoIsReadOnlyTogetherWithAValidAudioDeviceType) {
    put(host(), {{L"Tempo", L"98.5"}});
    EXPECT_EQ(loadedRun()->tempo, 120.0);
    put(host(), {{L"AudioDeviceType", 3u}});  // not a type code
    EXPECT_EQ(loadedRun()->tempo, 120.0);
    put(host(), {{L"AudioDeviceType", uint32_t(kDeviceTypeDirectSound)}});  // no such back end here
    EXPECT_EQ(loadedRun()->tempo, 98.5);
}

TEST_P(HostSettingsTest, TempoTextFollowsTheStreamConversion) {
    put(host(), {{L"AudioDeviceType", 4u}});
    const std::pair<const wchar_t*, double> cases[] = {
        {L"98.7654", 98.7654}, {L" 77", 77.0}, {L"140bpm", 140.0},  // a leading number is taken
        {L"abc", 90.0},        {L"", 90.0},    {L"1,5", 1.0},
        // Never a tempo that would break the time information.
        {L"-5", 90.0},         {L"0", 90.0},   {L"1e999", 90.0},     {L"nan", 90.0}, {L"inf", 90.0},
    };
    for (const auto& [text, expected] : cases) {
        put(host(), {{L"Tempo", text}});
        auto settings = run();
        settings->tempo = 90.0;
        settings->loadSettings(backends);
        EXPECT_EQ(settings->tempo, expected) << "Tempo text \"" << std::string(text, text + wcslen(text)) << '"';
    }
    // A Tempo that cannot be read at all resets a changed tempo to 120.
    {
        auto store = space->open();
        ScopedKey hostKey(*store, store->openKey(host()));
        store->deleteValue(hostKey.get(), L"Tempo");
    }
    auto settings = run();
    settings->tempo = 90.0;
    settings->loadSettings(backends);
    EXPECT_EQ(settings->tempo, 120.0);
}

TEST_P(HostSettingsTest, AsioOutputIsFoundByTheInputsNameAndTakesTheStoredChannels) {
    asio.add(kDeviceTypeASIO, L"Other Driver", false);
    AudioDeviceRecord* in = asio.add(kDeviceTypeASIO, L"Studio Driver", true);
    AudioDeviceRecord* out = asio.add(kDeviceTypeASIO, L"Studio Driver", false);
    put(host(), {{L"AudioDeviceType", 2u},
                 {L"AudioDeviceIn Name", L"Studio Driver"},
                 {L"AudioDeviceIn Left", 3u},
                 {L"AudioDeviceIn Right", 4u},
                 {L"AudioDeviceIn BufferSize", 256u},
                 {L"AudioDeviceOut Left", 5u}});
    auto settings = loadedRun();
    EXPECT_EQ(settings->inputDevice, in);
    EXPECT_EQ(settings->outputDevice, out);
    EXPECT_EQ(channels(*in), std::tuple(3, 4, 256u));
    // Missing: the right channel stays the record's own, the buffer size is 1024 (not 512).
    EXPECT_EQ(channels(*out), std::tuple(5, 1, 1024u));
}

TEST_P(HostSettingsTest, StoredDevicesMatchTypeDirectionAndExactName) {
    wasapi.add(kDeviceTypeWasapiExclusive, L"Mic", true);
    AudioDeviceRecord* sharedMic = wasapi.add(kDeviceTypeWasapiShared, L"Mic", true);
    wasapi.add(kDeviceTypeWasapiShared, L"Speakers", false);
    AudioDeviceRecord* lower = wasapi.add(kDeviceTypeWasapiShared, L"speakers", false);
    wasapi.add(kDeviceTypeWasapiShared, L"speakers", false);
    put(host(), {{L"AudioDeviceType", 4u}, {L"AudioDeviceIn Name", L"Mic"}, {L"AudioDeviceOut Name", L"speakers"}});
    auto settings = loadedRun();
    EXPECT_EQ(settings->inputDevice, sharedMic);
    EXPECT_EQ(settings->outputDevice, lower);

    put(host(), {{L"AudioDeviceIn Name", L"Gone"}, {L"AudioDeviceOut Name", L"Gone"}});
    settings = loadedRun();
    EXPECT_EQ(settings->inputDevice, nullptr);
    EXPECT_EQ(settings->outputDevice, nullptr);
}

TEST_P(HostSettingsTest, MidiDeviceKeysAreReadUpToTheFirstGap) {
    put(midiKey(0), {{L"name", L"Keys"},
                     {L"in", 1u},
                     {L"active", 1u},
                     {L"sync", 1u},
                     {L"syncWhilePlaying", 1u},
                     {L"delay", uint32_t(-10)},
                     {L"filterCCMessages", 1u},
                     {L"filterProgramChanges", 1u},
                     {L"channel", 5u},
                     {L"keyboardRangeLeft", 10u},
                     {L"keyboardRangeRight", 100u}});
    // The device flags count only their low byte; missing values keep the defaults.
    put(midiKey(1), {{L"name", L"Pads"}, {L"in", 0x100u}, {L"active", 0x101u}});
    put(midiKey(3), {{L"name", L"Beyond the gap"}});
    auto settings = loadedRun();
    ASSERT_EQ(settings->midiDevices.size(), 2u);
    const MidiDeviceRecord& keys = *settings->midiDevices[0];
    EXPECT_EQ(keys.name, L"Keys");
    EXPECT_EQ(keys.deviceId, -1);
    EXPECT_TRUE(keys.isInput && keys.active && keys.sync && keys.syncWhilePlaying);
    EXPECT_TRUE(keys.filterCCMessages && keys.filterProgramChanges);
    EXPECT_EQ(keys.delay, -10);
    EXPECT_EQ(keys.channel, 5);
    EXPECT_EQ(keys.keyboardRangeLeft, 10);
    EXPECT_EQ(keys.keyboardRangeRight, 100);
    const MidiDeviceRecord& pads = *settings->midiDevices[1];
    EXPECT_EQ(pads.name, L"Pads");
    EXPECT_FALSE(pads.isInput);
    EXPECT_TRUE(pads.active);
    EXPECT_FALSE(pads.sync);
    EXPECT_EQ(pads.keyboardRangeLeft, 0);
    EXPECT_EQ(pads.keyboardRangeRight, 127);
}

TEST_P(HostSettingsTest, EverythingSavedIsLoadedByTheNextRun) {
    AudioDeviceRecord* in = wasapi.add(kDeviceTypeWasapiShared, L"Line In", true);
    AudioDeviceRecord* out = wasapi.add(kDeviceTypeWasapiShared, L"Speakers \u00e9\u6771", false);
    {
        auto settings = run();
        in->leftChannel = 2;
        in->rightChannel = 3;
        in->bufferSize = 480;
        out->leftChannel = 6;
        out->rightChannel = 7;
        out->bufferSize = 960;
        settings->inputDevice = in;
        settings->outputDevice = out;
        settings->tempo = 98.76543;
        settings->samplePath = L"/samples/loop \"one\".wav";
        settings->sampleLooped = true;
        settings->sampleCalcTempo = true;
        settings->sampleRecordOption = 2;
        settings->sampleRecordMaxBars = -1;
        settings->startPlayerAutomatic = true;
        auto keys = midiRecord(0, L"Keys", true, true);
        keys->delay = -25;
        keys->channel = 16;
        keys->keyboardRangeRight = 64;
        keys->sync = true;
        settings->midiDevices.push_back(std::move(keys));
        settings->midiDevices.push_back(midiRecord(1, L"Synth", false, false));
        settings->saveSettings();
    }
    EXPECT_EQ(stored(host(), L"Tempo"), Stored(L"98.7654"));
    EXPECT_EQ(stored(host(), L"AudioDeviceType"), Stored(4u));
    EXPECT_EQ(stored(midiKey(1), L"in"), Stored(0u));
    EXPECT_FALSE(stored(root(), L"PluginCanSetTempo"));

    for (AudioDeviceRecord* device : {in, out}) {
        device->leftChannel = 0;
        device->rightChannel = 1;
        device->bufferSize = 0;
    }
    auto next = loadedRun();
    EXPECT_EQ(next->inputDevice, in);
    EXPECT_EQ(next->outputDevice, out);
    EXPECT_EQ(channels(*in), std::tuple(2, 3, 480u));
    EXPECT_EQ(channels(*out), std::tuple(6, 7, 960u));
    EXPECT_EQ(next->tempo, 98.7654);
    EXPECT_EQ(next->samplePath, L"/samples/loop \"one\".wav");
    EXPECT_TRUE(next->sampleLooped && next->sampleCalcTempo && next->startPlayerAutomatic);
    EXPECT_FALSE(next->sampleStartByMidi || next->openPlayerOnStartup);
    EXPECT_EQ(next->sampleRecordOption, 2);
    EXPECT_EQ(next->sampleRecordMaxBars, -1);
    ASSERT_EQ(next->midiDevices.size(), 2u);
    const MidiDeviceRecord& keys = *next->midiDevices[0];
    EXPECT_EQ(keys.name, L"Keys");
    EXPECT_EQ(keys.deviceId, -1);  // present or not is for the merge to say
    EXPECT_TRUE(keys.isInput && keys.active && keys.sync);
    EXPECT_EQ(keys.delay, -25);
    EXPECT_EQ(keys.channel, 16);
    EXPECT_EQ(keys.keyboardRangeRight, 64);
    EXPECT_EQ(next->midiDevices[1]->name, L"Synth");
    EXPECT_FALSE(next->midiDevices[1]->isInput);
}

TEST_P(HostSettingsTest, TempoIsStoredAsShortDecimalText) {
    const std::pair<double, const wchar_t*> cases[] = {{120.0, L"120"}, {98.76543, L"98.7654"}, {45.5, L"45.5"}};
    for (const auto& [tempo, text] : cases) {
        auto settings = run();
        settings->tempo = tempo;
        settings->saveSettings();
        EXPECT_EQ(stored(host(), L"Tempo"), Stored(text));
    }
}

TEST_P(HostSettingsTest, SavingFewerMidiDevicesLeavesTheHigherKeysForTheNextRun) {
    {
        auto settings = run();
        for (int i = 0; i < 5; ++i) settings->midiDevices.push_back(midiRecord(i, L"Old " + std::to_wstring(i), true, true));
        settings->saveSettings();
    }
    {
        auto settings = run();
        for (int i = 0; i < 3; ++i) settings->midiDevices.push_back(midiRecord(i, L"New " + std::to_wstring(i), true, true));
        settings->saveSettings();
    }
    auto next = loadedRun();
    ASSERT_EQ(next->midiDevices.size(), 5u);
    EXPECT_EQ(next->midiDevices[2]->name, L"New 2");
    EXPECT_EQ(next->midiDevices[3]->name, L"Old 3");
    EXPECT_EQ(next->midiDevices[4]->name, L"Old 4");
}

TEST_P(HostSettingsTest, SavingOnlyAnOutputLeavesTheStoredInputAlone) {
    put(host(), {{L"AudioDeviceType", 2u},
                 {L"AudioDeviceIn Name", L"Old In"},
                 {L"AudioDeviceIn Left", 7u},
                 {L"AudioDeviceIn Right", 8u},
                 {L"AudioDeviceIn BufferSize", 333u}});
    AudioDeviceRecord* out = wasapi.add(kDeviceTypeWasapiExclusive, L"Speakers", false);
    auto settings = run();
    settings->outputDevice = out;
    settings->saveSettings();
    EXPECT_EQ(stored(host(), L"AudioDeviceType"), Stored(8u));
    EXPECT_EQ(stored(host(), L"AudioDeviceOut Name"), Stored(L"Speakers"));
    EXPECT_EQ(stored(host(), L"AudioDeviceIn Name"), Stored(L"Old In"));
    EXPECT_EQ(stored(host(), L"AudioDeviceIn Left"), Stored(7u));
    EXPECT_EQ(stored(host(), L"AudioDeviceIn Right"), Stored(8u));
    EXPECT_EQ(stored(host(), L"AudioDeviceIn BufferSize"), Stored(333u));

    // With both chosen, the output's type is the one stored.
    settings->inputDevice = asio.add(kDeviceTypeASIO, L"Driver", true);
    settings->saveSettings();
    EXPECT_EQ(stored(host(), L"AudioDeviceType"), Stored(8u));
    EXPECT_EQ(stored(host(), L"AudioDeviceIn Name"), Stored(L"Driver"));
}

TEST_P(HostSettingsTest, MergeMatchesEngineDevicesWithTheStoredRecords) {
    put(midiKey(0), {{L"name", L"Keys"}, {L"in", 1u}, {L"active", 0u}, {L"channel", 3u}});
    put(midiKey(1), {{L"name", L"Synth"}, {L"in", 0u}, {L"active", 1u}});
    put(midiKey(2), {{L"name", L"Gone"}, {L"in", 1u}, {L"active", 1u}});
    auto settings = loadedRun();

    std::vector<std::unique_ptr<MidiDeviceRecord>> engine;
    engine.push_back(midiRecord(0, L"Keys", true, true));
    engine.push_back(midiRecord(1, L"New In", true, true));
    engine.push_back(midiRecord(2, L"Keys", true, true));  // same name and direction twice
    engine.push_back(midiRecord(0, L"Synth", false, false));
    engine.push_back(midiRecord(kMidiMapperId, L"Mapper", false, false));
    settings->mergeMidiDevices(engine);

    // The user's choice goes to the engine's records.
    EXPECT_FALSE(engine[0]->active);
    EXPECT_FALSE(engine[2]->active);
    EXPECT_TRUE(engine[3]->active);
    ASSERT_EQ(settings->midiDevices.size(), 5u);
    const auto& records = settings->midiDevices;
    EXPECT_EQ(records[0]->deviceId, 2);  // the later of the two present devices
    EXPECT_EQ(records[0]->channel, 3);
    EXPECT_EQ(records[1]->deviceId, 0);
    EXPECT_EQ(records[2]->deviceId, -1);  // absent in this run, kept for its return
    EXPECT_EQ(records[3]->name, L"New In");
    EXPECT_EQ(records[3]->deviceId, 1);
    EXPECT_TRUE(records[3]->isInput && records[3]->active);
    EXPECT_EQ(records[4]->name, L"Mapper");
    EXPECT_EQ(records[4]->deviceId, kMidiMapperId);
    EXPECT_FALSE(records[4]->isInput || records[4]->active);
    EXPECT_EQ(records[4]->keyboardRangeRight, 127);
}

TEST_P(HostSettingsTest, FindMidiDeviceComparesExactNameAndDirection) {
    auto settings = run();
    settings->midiDevices.push_back(midiRecord(0, L"Keys", false, false));
    settings->midiDevices.push_back(midiRecord(1, L"Keys", true, true));
    settings->midiDevices.push_back(midiRecord(2, L"Keys", true, true));
    EXPECT_EQ(settings->findMidiDevice(*midiRecord(9, L"Keys", true, false)), settings->midiDevices[1].get());
    EXPECT_EQ(settings->findMidiDevice(*midiRecord(9, L"Keys", false, false)), settings->midiDevices[0].get());
    EXPECT_EQ(settings->findMidiDevice(*midiRecord(9, L"keys", true, false)), nullptr);
    EXPECT_EQ(settings->findMidiDevice(*midiRecord(9, L"Keys ", true, false)), nullptr);
}

TEST_P(HostSettingsTest, DefaultAudioDevicesAreTheLastSharedModeDefaults) {
    auto settings = run();
    FakeBackend none;
    none.add(kDeviceTypeWasapiShared, L"Not default", false);
    EXPECT_FALSE(settings->chooseDefaultAudioDevices(none));
    EXPECT_EQ(settings->outputDevice, nullptr);

    wasapi.add(kDeviceTypeWasapiExclusive, L"Exclusive default", false, true);
    wasapi.add(kDeviceTypeWasapiShared, L"First", false, true);
    AudioDeviceRecord* mic = wasapi.add(kDeviceTypeWasapiShared, L"Mic", true, true);
    AudioDeviceRecord* second = wasapi.add(kDeviceTypeWasapiShared, L"Second", false, true);
    wasapi.add(kDeviceTypeWasapiShared, L"Not default", false);
    EXPECT_TRUE(settings->chooseDefaultAudioDevices(wasapi));
    EXPECT_EQ(settings->inputDevice, mic);
    EXPECT_EQ(settings->outputDevice, second);
}

TEST_P(HostSettingsTest, ClockSyncNeedsAnActiveDeviceWithSync) {
    auto settings = run();
    EXPECT_FALSE(settings->anyClockSync());
    settings->midiDevices.push_back(midiRecord(0, L"Inactive", true, false));
    settings->midiDevices.back()->sync = true;
    settings->midiDevices.push_back(midiRecord(1, L"No sync", true, true));
    EXPECT_FALSE(settings->anyClockSync());
    settings->midiDevices.back()->sync = true;
    EXPECT_TRUE(settings->anyClockSync());
}

TEST_P(HostSettingsTest, RootStringsAreReadFromTheRootKey) {
    put(root(), {{L"contentpath", L"/content/dir/"}});
    auto settings = run();
    std::wstring path = L"unchanged";
    EXPECT_FALSE(settings->readRootString(L"missing", path));
    EXPECT_EQ(path, L"unchanged");
    EXPECT_TRUE(settings->readRootString(L"contentpath", path));
    EXPECT_EQ(path, L"/content/dir/");
}

TEST_P(HostSettingsTest, WithoutTheRootKeyOnlyTheRootValuesAreLost) {
    put(root(), {{L"PluginCanSetTempo", 1u}, {L"contentpath", L"/content/"}});
    put(host(), {{L"samplePath", L"/a.wav"}});
    auto settings = run(std::make_shared<RefusingStore>(space->open(), std::set<std::wstring>{root()}));
    settings->loadSettings(backends);
    EXPECT_EQ(settings->samplePath, L"/a.wav");
    EXPECT_FALSE(settings->PluginCanSetTempo);
    std::wstring path;
    EXPECT_FALSE(settings->readRootString(L"contentpath", path));
    settings->samplePath = L"/b.wav";
    settings->saveSettings();
    EXPECT_EQ(stored(host(), L"samplePath"), Stored(L"/b.wav"));
}

TEST_P(HostSettingsTest, KeysThatCannotBeCreatedSkipTheirPartOfTheSave) {
    auto settings = run(std::make_shared<RefusingStore>(space->open(), std::set<std::wstring>{midiKey(1)}));
    for (int i = 0; i < 3; ++i) settings->midiDevices.push_back(midiRecord(i, L"Dev " + std::to_wstring(i), true, true));
    settings->saveSettings();
    EXPECT_EQ(stored(midiKey(0), L"name"), Stored(L"Dev 0"));
    EXPECT_FALSE(keyExists(midiKey(1)));
    EXPECT_EQ(stored(midiKey(2), L"name"), Stored(L"Dev 2"));  // its number stays its own

    auto noHost = run(std::make_shared<RefusingStore>(space->open(), std::set<std::wstring>{host()}));
    noHost->tempo = 60.0;
    noHost->saveSettings();
    EXPECT_EQ(stored(host(), L"Tempo"), Stored(L"120"));
}

INSTANTIATE_TEST_SUITE_P(Stores, HostSettingsTest, ::testing::ValuesIn(test::storeKinds()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace vl
