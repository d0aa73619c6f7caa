#pragma once
// Settings for tests, kept in memory: the user's own settings store is never touched.

#include <memory>
#include <string>

#include "settings/HostSettings.h"
#include "settings/MemoryStore.h"

namespace vltest {

// The store behind the settings, for values the host only reads (such as "contentpath") and
// for checking what was saved.
struct TestSettingsStore {
    std::shared_ptr<vl::MemoryStore> store = std::make_shared<vl::MemoryStore>();

    std::unique_ptr<vl::HostSettings> make(const std::wstring& effect = L"Test Effect") {
        return std::make_unique<vl::HostSettings>(effect, store);
    }
    void setRootString(const vl::HostSettings& settings, const std::wstring& name, const std::wstring& value) {
        vl::KeyValueStore::Key key = store->createKey(settings.keyPath);
        store->writeString(key, name, value);
        store->closeKey(key);
    }
    bool readHostString(const vl::HostSettings& settings, const std::wstring& name, std::wstring& value) {
        vl::KeyValueStore::Key key = store->openKey(settings.keyPath + L"\\Host");
        const bool found = key != vl::KeyValueStore::Key::None && store->readString(key, name, value);
        if (key != vl::KeyValueStore::Key::None) store->closeKey(key);
        return found;
    }
};

}  // namespace vltest
