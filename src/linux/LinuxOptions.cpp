#include "LinuxOptions.h"

#include "settings/KeyValueStore.h"

namespace vl::linuxapp {

namespace {

std::wstring hostKey(const std::wstring& settingsKeyPath) { return settingsKeyPath + L"\\Host"; }

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

}  // namespace vl::linuxapp
