#include "settings/RegistryStore.h"

#include <windows.h>

#include <cwchar>

namespace vl {

namespace {

HKEY toHandle(KeyValueStore::Key key) { return reinterpret_cast<HKEY>(static_cast<uintptr_t>(key)); }
KeyValueStore::Key toKey(HKEY handle) { return static_cast<KeyValueStore::Key>(reinterpret_cast<uintptr_t>(handle)); }

}  // namespace

KeyValueStore::Key RegistryStore::createKey(const std::wstring& path) {
    // An empty path would hand out HKEY_CURRENT_USER itself, which is not ours to close.
    if (path.empty()) return Key::None;
    HKEY handle = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, &handle, nullptr) != ERROR_SUCCESS)
        return Key::None;
    return toKey(handle);
}

KeyValueStore::Key RegistryStore::openKey(const std::wstring& path) {
    if (path.empty()) return Key::None;
    HKEY handle = nullptr;
    if (RegOpenKeyW(HKEY_CURRENT_USER, path.c_str(), &handle) != ERROR_SUCCESS) return Key::None;
    return toKey(handle);
}

bool RegistryStore::readDword(Key key, const std::wstring& name, uint32_t& value) {
    if (key == Key::None) return false;
    DWORD data = 0;
    DWORD size = sizeof data;
    if (RegQueryValueExW(toHandle(key), name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&data), &size) !=
        ERROR_SUCCESS)
        return false;
    // Shorter data would leave part of the number undefined.
    if (size != sizeof data) return false;
    value = data;
    return true;
}

bool RegistryStore::readString(Key key, const std::wstring& name, std::wstring& value) {
    if (key == Key::None) return false;
    wchar_t buffer[(kMaxStringChars + 1)] = {};
    DWORD size = sizeof buffer;
    DWORD type = REG_NONE;
    if (RegQueryValueExW(toHandle(key), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
        ERROR_SUCCESS)
        return false;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
    // Stored strings need not be terminated: the text ends at the data's end at the latest.
    const size_t text = wcsnlen(buffer, size / sizeof(wchar_t));
    if (text > kMaxStringChars) return false;
    value.assign(buffer, text);
    return true;
}

bool RegistryStore::deleteValue(Key key, const std::wstring& name) {
    return key != Key::None && RegDeleteValueW(toHandle(key), name.c_str()) == ERROR_SUCCESS;
}

bool RegistryStore::writeDword(Key key, const std::wstring& name, uint32_t value) {
    if (key == Key::None) return false;
    const DWORD data = value;
    return RegSetValueExW(toHandle(key), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                          sizeof data) == ERROR_SUCCESS;
}

bool RegistryStore::writeString(Key key, const std::wstring& name, const std::wstring& value) {
    if (key == Key::None || value.size() >= MAXDWORD / sizeof(wchar_t)) return false;
    const DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    return RegSetValueExW(toHandle(key), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          bytes) == ERROR_SUCCESS;
}

void RegistryStore::closeKey(Key key) {
    if (key != Key::None) RegCloseKey(toHandle(key));
}

}  // namespace vl
