#pragma once
// A settings store that lives only in memory: for hosts that must not touch the user's
// settings (offline rendering) and for tests.

#include <map>
#include <string>

#include "settings/KeyValueStore.h"

namespace vl {

class MemoryStore final : public KeyValueStore {
public:
    Key createKey(const std::wstring& path) override;
    Key openKey(const std::wstring& path) override;
    bool readDword(Key key, const std::wstring& name, uint32_t& value) override;
    bool readString(Key key, const std::wstring& name, std::wstring& value) override;
    bool deleteValue(Key key, const std::wstring& name) override;
    bool writeDword(Key key, const std::wstring& name, uint32_t value) override;
    bool writeString(Key key, const std::wstring& name, const std::wstring& value) override;
    void closeKey(Key key) override;

private:
    struct Value {
        bool isString = false;
        uint32_t dword = 0;
        std::wstring text;
    };
    using Values = std::map<std::wstring, Value>;
    Values* values(Key key);
    static std::wstring folded(const std::wstring& text);

    std::map<std::wstring, Values> keys;              // by case-folded path
    std::map<uintptr_t, std::wstring> openKeys;       // handle -> case-folded path
    uintptr_t nextHandle = 1;
};

}  // namespace vl
