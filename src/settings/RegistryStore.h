#pragma once
// The settings store on Windows: the registry under HKEY_CURRENT_USER.
//
// Reads never trust the stored data: a 32-bit read takes exactly four bytes (of any type), a
// string read takes only REG_SZ or REG_EXPAND_SZ data that fits 1024 bytes and ends it at its
// first zero or at the end of the data, whichever comes first.

#include "settings/KeyValueStore.h"

namespace vl {

class RegistryStore final : public KeyValueStore {
public:
    Key createKey(const std::wstring& path) override;
    Key openKey(const std::wstring& path) override;
    bool readDword(Key key, const std::wstring& name, uint32_t& value) override;
    bool readString(Key key, const std::wstring& name, std::wstring& value) override;
    bool deleteValue(Key key, const std::wstring& name) override;
    bool writeDword(Key key, const std::wstring& name, uint32_t value) override;
    bool writeString(Key key, const std::wstring& name, const std::wstring& value) override;
    void closeKey(Key key) override;
};

}  // namespace vl
