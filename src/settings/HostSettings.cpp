#include "settings/HostSettings.h"

#include <locale>
#include <optional>
#include <sstream>

namespace vl {

namespace {

using Key = KeyValueStore::Key;

// The values of one key, read and written by the rules of the settings: a read that fails
// leaves its field as it was; a write first deletes the value, then sets it.
class KeyValues {
public:
    KeyValues(KeyValueStore& store, Key key) : store_(store), key_(key) {}

    bool read(const wchar_t* name, uint32_t& value) { return store_.readDword(key_, name, value); }
    bool read(const wchar_t* name, std::wstring& value) { return store_.readString(key_, name, value); }

    template <class Field>
    void readNumber(const wchar_t* name, Field& field) {
        uint32_t value;
        if (read(name, value)) field = static_cast<int32_t>(value);
    }
    template <class Field>
    void readFlag(const wchar_t* name, Field& field) {
        uint32_t value;
        if (read(name, value)) field = value != 0;
    }
    // The MIDI device flags count only their low byte.
    template <class Field>
    void readByteFlag(const wchar_t* name, Field& field) {
        uint32_t value;
        if (read(name, value)) field = (value & 0xFF) != 0;
    }

    void write(const wchar_t* name, uint32_t value) {
        store_.deleteValue(key_, name);
        store_.writeDword(key_, name, value);
    }
    void write(const wchar_t* name, const std::wstring& value) {
        store_.deleteValue(key_, name);
        store_.writeString(key_, name, value);
    }

private:
    KeyValueStore& store_;
    Key key_;
};

std::wstring hostKeyPath(const std::wstring& keyPath) { return keyPath + L"\\Host"; }

std::wstring midiDeviceKeyPath(const std::wstring& keyPath, size_t number) {
    return keyPath + L"\\Host\\Midi Device " + std::to_wstring(number);
}

// The options of a MIDI device key after "name" and "in", in their stored order.
struct MidiOption {
    const wchar_t* name;
    RelaxedAtomic<bool> MidiDeviceRecord::*flag;
    RelaxedAtomic<int32_t> MidiDeviceRecord::*number;
};
const MidiOption kMidiOptions[] = {
    {L"active", &MidiDeviceRecord::active, nullptr},
    {L"sync", &MidiDeviceRecord::sync, nullptr},
    {L"syncWhilePlaying", &MidiDeviceRecord::syncWhilePlaying, nullptr},
    {L"delay", nullptr, &MidiDeviceRecord::delay},
    {L"filterCCMessages", &MidiDeviceRecord::filterCCMessages, nullptr},
    {L"filterProgramChanges", &MidiDeviceRecord::filterProgramChanges, nullptr},
    {L"channel", nullptr, &MidiDeviceRecord::channel},
    {L"keyboardRangeLeft", nullptr, &MidiDeviceRecord::keyboardRangeLeft},
    {L"keyboardRangeRight", nullptr, &MidiDeviceRecord::keyboardRangeRight},
};

// The player options after "samplePath", in their stored order.
struct PlayerOption {
    const wchar_t* name;
    bool HostSettings::*flag;
    int32_t HostSettings::*number;
};
const PlayerOption kPlayerOptions[] = {
    {L"sampleLooped", &HostSettings::sampleLooped, nullptr},
    {L"sampleStartByMidi", &HostSettings::sampleStartByMidi, nullptr},
    {L"sampleCalcTempo", &HostSettings::sampleCalcTempo, nullptr},
    {L"sampleRecordOption", nullptr, &HostSettings::sampleRecordOption},
    {L"sampleRecordMaxBars", nullptr, &HostSettings::sampleRecordMaxBars},
    {L"openPlayerOnStartup", &HostSettings::openPlayerOnStartup, nullptr},
    {L"startPlayerAutomatic", &HostSettings::startPlayerAutomatic, nullptr},
};

// The value names of one direction of the audio device choice.
struct AudioDirection {
    const wchar_t* name;
    const wchar_t* left;
    const wchar_t* right;
    const wchar_t* bufferSize;
};
const AudioDirection kAudioIn{L"AudioDeviceIn Name", L"AudioDeviceIn Left", L"AudioDeviceIn Right",
                              L"AudioDeviceIn BufferSize"};
const AudioDirection kAudioOut{L"AudioDeviceOut Name", L"AudioDeviceOut Left", L"AudioDeviceOut Right",
                               L"AudioDeviceOut BufferSize"};
constexpr uint32_t kStoredBufferSizeDefault = 1024;

AudioDeviceRecord* findAudioDevice(const VLAudioBase* backend, uint32_t type, const std::wstring& name,
                                   bool isInput) {
    if (!backend) return nullptr;
    for (const auto& device : backend->devices)
        if (device->isInput == isInput && device->type == type && device->name == name) return device.get();
    return nullptr;
}

void readChannels(KeyValues& host, const AudioDirection& direction, AudioDeviceRecord& device) {
    host.readNumber(direction.left, device.leftChannel);
    host.readNumber(direction.right, device.rightChannel);
    uint32_t bufferSize = kStoredBufferSizeDefault;
    host.read(direction.bufferSize, bufferSize);
    device.bufferSize = bufferSize;
}

void writeDevice(KeyValues& host, const AudioDirection& direction, const AudioDeviceRecord& device) {
    host.write(L"AudioDeviceType", device.type);
    host.write(direction.name, device.name);
    host.write(direction.left, static_cast<uint32_t>(device.leftChannel));
    host.write(direction.right, static_cast<uint32_t>(device.rightChannel));
    host.write(direction.bufferSize, device.bufferSize);
}

// The standard stream conversion in the classic locale ("98.7654"). Only a usable tempo is
// taken: anything else would reach the plug-in's time information and every samples-per-beat
// division.
std::optional<double> parseTempo(const std::wstring& text) {
    std::wistringstream in(text);
    in.imbue(std::locale::classic());
    double value = 0.0;
    if (!(in >> value) || !isUsableTempo(value)) return std::nullopt;
    return value;
}

std::wstring formatTempo(double tempo) {
    std::wostringstream out;
    out.imbue(std::locale::classic());
    out << tempo;
    return out.str();
}

std::unique_ptr<MidiDeviceRecord> readMidiDevice(KeyValues& device) {
    auto record = std::make_unique<MidiDeviceRecord>();
    device.read(L"name", record->name);
    device.readByteFlag(L"in", record->isInput);
    for (const MidiOption& option : kMidiOptions) {
        if (option.flag)
            device.readByteFlag(option.name, (*record).*option.flag);
        else
            device.readNumber(option.name, (*record).*option.number);
    }
    return record;
}

void writeMidiDevice(KeyValues& device, const MidiDeviceRecord& record) {
    device.write(L"name", record.name);
    device.write(L"in", record.isInput ? 1u : 0u);
    for (const MidiOption& option : kMidiOptions) {
        if (option.flag)
            device.write(option.name, (record.*option.flag).get() ? 1u : 0u);
        else
            device.write(option.name, static_cast<uint32_t>((record.*option.number).get()));
    }
}

}  // namespace

HostSettings::HostSettings(const std::wstring& effectName, std::shared_ptr<KeyValueStore> settingsStore)
    : keyPath(L"Software\\Vorlane\\" + effectName),
      effectName(effectName),
      store(settingsStore ? std::move(settingsStore) : makeUserSettingsStore()) {
    rootKey = store->createKey(keyPath);
}

HostSettings::~HostSettings() { store->closeKey(rootKey); }

void HostSettings::loadSettings(const AudioBackendSet& backends) {
    ScopedKey hostKey(*store, store->openKey(hostKeyPath(keyPath)));
    // Without the Host key this is a first run: everything keeps its default.
    if (!hostKey) return;
    KeyValues host(*store, hostKey.get());

    uint32_t type = 0;
    if (host.read(L"AudioDeviceType", type) && isValidDeviceType(type)) {
        const VLAudioBase* backend = backends.backendFor(type);
        // The output name falls back to the input's (one ASIO driver serves both directions).
        std::wstring name;
        host.read(kAudioIn.name, name);
        inputDevice = findAudioDevice(backend, type, name, true);
        host.read(kAudioOut.name, name);
        outputDevice = findAudioDevice(backend, type, name, false);
        if (inputDevice) readChannels(host, kAudioIn, *inputDevice);
        if (outputDevice) readChannels(host, kAudioOut, *outputDevice);

        std::wstring tempoText;
        if (!host.read(L"Tempo", tempoText))
            tempo = 120.0;
        else if (auto parsed = parseTempo(tempoText))
            tempo = *parsed;
    }

    // Device keys are numbered without gaps; the first missing number ends the list.
    for (size_t number = 0;; ++number) {
        ScopedKey deviceKey(*store, store->openKey(midiDeviceKeyPath(keyPath, number)));
        if (!deviceKey) break;
        KeyValues device(*store, deviceKey.get());
        midiDevices.push_back(readMidiDevice(device));
    }

    host.read(L"samplePath", samplePath);
    for (const PlayerOption& option : kPlayerOptions) {
        if (option.flag)
            host.readFlag(option.name, this->*option.flag);
        else
            host.readNumber(option.name, this->*option.number);
    }

    if (rootKey != Key::None) KeyValues(*store, rootKey).readFlag(L"PluginCanSetTempo", PluginCanSetTempo);
}

void HostSettings::mergeMidiDevices(const std::vector<std::unique_ptr<MidiDeviceRecord>>& engineDevices) {
    for (const auto& device : engineDevices) {
        if (MidiDeviceRecord* stored = findMidiDevice(*device)) {
            stored->deviceId = device->deviceId;
            device->active = stored->active;
            continue;
        }
        auto record = std::make_unique<MidiDeviceRecord>();
        record->deviceId = device->deviceId;
        record->name = device->name;
        record->isInput = device->isInput;
        record->active = device->active;
        midiDevices.push_back(std::move(record));
    }
}

void HostSettings::saveSettings() {
    ScopedKey hostKey(*store, store->createKey(hostKeyPath(keyPath)));
    if (!hostKey) return;
    KeyValues host(*store, hostKey.get());

    // With both devices chosen the output's type is the one that stays.
    if (!audioDevicesAreFallback) {
        if (inputDevice) writeDevice(host, kAudioIn, *inputDevice);
        if (outputDevice) writeDevice(host, kAudioOut, *outputDevice);
    }
    host.write(L"Tempo", formatTempo(tempo));

    // Keys numbered beyond the list stay; a key that cannot be created uses up its number.
    for (size_t number = 0; number < midiDevices.size(); ++number) {
        ScopedKey deviceKey(*store, store->createKey(midiDeviceKeyPath(keyPath, number)));
        if (!deviceKey) continue;
        KeyValues device(*store, deviceKey.get());
        writeMidiDevice(device, *midiDevices[number]);
    }

    host.write(L"samplePath", samplePath);
    for (const PlayerOption& option : kPlayerOptions) {
        if (option.flag)
            host.write(option.name, this->*option.flag ? 1u : 0u);
        else
            host.write(option.name, static_cast<uint32_t>(this->*option.number));
    }
}

MidiDeviceRecord* HostSettings::findMidiDevice(const MidiDeviceRecord& device) const {
    for (const auto& record : midiDevices)
        if (record->isInput == device.isInput && record->name == device.name) return record.get();
    return nullptr;
}

bool HostSettings::chooseDefaultAudioDevices(const VLAudioBase& wasapi) {
    bool taken = false;
    for (const auto& device : wasapi.devices) {
        if (!device->isDefault || device->type != kDeviceTypeWasapiShared) continue;
        (device->isInput ? inputDevice : outputDevice) = device.get();
        taken = true;
    }
    return taken;
}

bool HostSettings::anyClockSync() const {
    for (const auto& record : midiDevices)
        if (record->active && record->sync) return true;
    return false;
}

bool HostSettings::readRootString(const std::wstring& valueName, std::wstring& out) {
    return rootKey != Key::None && store->readString(rootKey, valueName, out);
}

}  // namespace vl
