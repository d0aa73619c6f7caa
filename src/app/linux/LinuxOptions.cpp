#include "app/linux/LinuxOptions.h"

#include "platform/Text.h"
#include "settings/KeyValueStore.h"

namespace vl::linuxapp {

namespace {

std::wstring hostKey(const std::wstring& settingsKeyPath) { return settingsKeyPath + L"\\Host"; }

const wchar_t* portValueName(bool isInput, bool right) {
    if (isInput) return right ? L"JackIn Right Port" : L"JackIn Left Port";
    return right ? L"JackOut Right Port" : L"JackOut Left Port";
}

}  // namespace

bool readFollowTransport(const std::wstring& settingsKeyPath) {
    auto store = makeUserSettingsStore();
    ScopedKey key(*store, store->openKey(hostKey(settingsKeyPath)));
    uint32_t value = 0;
    return key && store->readDword(key.get(), kFollowTransportValue, value) && value != 0;
}

void writeFollowTransport(const std::wstring& settingsKeyPath, bool on) {
    // The file store merges this change into the file, beside what HostSettings writes.
    auto store = makeUserSettingsStore();
    ScopedKey key(*store, store->createKey(hostKey(settingsKeyPath)));
    if (!key) return;
    store->deleteValue(key.get(), kFollowTransportValue);
    store->writeDword(key.get(), kFollowTransportValue, on ? 1u : 0u);
}

bool readInputMuted(const std::wstring& settingsKeyPath) {
    auto store = makeUserSettingsStore();
    ScopedKey key(*store, store->openKey(settingsKeyPath));
    uint32_t value = 0;
    return key && store->readDword(key.get(), kInputMutedValue, value) && value != 0;
}

void writeInputMuted(const std::wstring& settingsKeyPath, bool muted) {
    auto store = makeUserSettingsStore();
    ScopedKey key(*store, store->createKey(settingsKeyPath));
    if (!key) return;
    store->deleteValue(key.get(), kInputMutedValue);
    store->writeDword(key.get(), kInputMutedValue, muted ? 1u : 0u);
}

void writePortChoice(const std::wstring& settingsKeyPath, const AudioDeviceRecord& record) {
    auto store = makeUserSettingsStore();
    ScopedKey key(*store, store->createKey(hostKey(settingsKeyPath)));
    if (!key) return;
    const int32_t chosen[2] = {record.leftChannel, record.rightChannel};
    for (int side = 0; side < 2; ++side) {
        const bool known = chosen[side] >= 0 && static_cast<size_t>(chosen[side]) < record.channelNames.size();
        const wchar_t* name = portValueName(record.isInput, side == 1);
        store->deleteValue(key.get(), name);
        store->writeString(key.get(), name, known ? record.channelNames[static_cast<size_t>(chosen[side])] : L"");
    }
}

void applyPortChoice(const std::wstring& settingsKeyPath, AudioDeviceRecord& record) {
    auto store = makeUserSettingsStore();
    ScopedKey key(*store, store->openKey(hostKey(settingsKeyPath)));
    if (!key) return;
    int32_t* chosen[2] = {&record.leftChannel, &record.rightChannel};
    for (int side = 0; side < 2; ++side) {
        std::wstring port;
        if (!store->readString(key.get(), portValueName(record.isInput, side == 1), port)) continue;
        *chosen[side] = -1;
        for (size_t i = 0; i < record.channelNames.size(); ++i)
            if (!port.empty() && record.channelNames[i] == port) *chosen[side] = static_cast<int32_t>(i);
    }
}

std::vector<std::string> readRemovedMidiConnections(const std::wstring& settingsKeyPath) {
    std::vector<std::string> ports;
    auto store = makeUserSettingsStore();
    ScopedKey key(*store, store->openKey(hostKey(settingsKeyPath)));
    std::wstring text;
    if (!key || !store->readString(key.get(), kRemovedMidiValue, text)) return ports;
    // One port name a line: JACK's names carry no line ends.
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        if (end > start) ports.push_back(platform::wideToUtf8(text.substr(start, end - start)));
        start = end + 1;
    }
    return ports;
}

void writeRemovedMidiConnections(const std::wstring& settingsKeyPath, const std::vector<std::string>& ports) {
    std::wstring text;
    for (const std::string& port : ports) {
        if (port.find('\n') != std::string::npos) continue;
        if (!text.empty()) text += L'\n';
        text += platform::utf8ToWide(port);
    }
    auto store = makeUserSettingsStore();
    ScopedKey key(*store, store->createKey(hostKey(settingsKeyPath)));
    if (!key) return;
    store->deleteValue(key.get(), kRemovedMidiValue);
    if (!text.empty()) store->writeString(key.get(), kRemovedMidiValue, text);
}

void writeStateFolder(const std::wstring& settingsKeyPath, const std::filesystem::path& folder) {
    auto store = makeUserSettingsStore();
    ScopedKey key(*store, store->createKey(settingsKeyPath));
    if (!key) return;
    // The file name is appended to the value as it stands.
    std::wstring text = platform::pathToWide(folder);
    if (text.empty() || text.back() != L'/') text += L'/';
    store->deleteValue(key.get(), L"contentpath");
    store->writeString(key.get(), L"contentpath", text);
}

}  // namespace vl::linuxapp
