#pragma once
// A settings store that reads through to another and keeps every write to itself: a second
// copy of the host running for the same effect reads the user's settings but must not
// overwrite what the first copy stores. Writes answer success, so nothing takes them for a
// failing store; no key is created.

#include <memory>
#include <utility>

#include "settings/KeyValueStore.h"

namespace vl::app {

class ReadOnlyStore final : public KeyValueStore {
public:
    explicit ReadOnlyStore(std::shared_ptr<KeyValueStore> target) : target(std::move(target)) {}

    Key createKey(const std::wstring& path) override { return target->openKey(path); }
    Key openKey(const std::wstring& path) override { return target->openKey(path); }
    bool readDword(Key key, const std::wstring& name, uint32_t& value) override {
        return target->readDword(key, name, value);
    }
    bool readString(Key key, const std::wstring& name, std::wstring& value) override {
        return target->readString(key, name, value);
    }
    bool deleteValue(Key, const std::wstring&) override { return true; }
    bool writeDword(Key, const std::wstring&, uint32_t) override { return true; }
    bool writeString(Key, const std::wstring&, const std::wstring&) override { return true; }
    void closeKey(Key key) override { target->closeKey(key); }

private:
    std::shared_ptr<KeyValueStore> target;
};

}  // namespace vl::app
