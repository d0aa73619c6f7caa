#include "settings/MemoryStore.h"

namespace vl {

std::wstring MemoryStore::folded(const std::wstring& text) {
    std::wstring out = text;
    for (wchar_t& c : out)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    return out;
}

KeyValueStore::Key MemoryStore::createKey(const std::wstring& path) {
    const std::wstring name = folded(path);
    // Parents exist implicitly: opening a key only needs the key itself.
    for (size_t at = name.find(L'\\'); at != std::wstring::npos; at = name.find(L'\\', at + 1))
        keys.try_emplace(name.substr(0, at));
    keys.try_emplace(name);
    const uintptr_t handle = nextHandle++;
    openKeys[handle] = name;
    return static_cast<Key>(handle);
}

KeyValueStore::Key MemoryStore::openKey(const std::wstring& path) {
    const std::wstring name = folded(path);
    if (keys.find(name) == keys.end()) return Key::None;
    const uintptr_t handle = nextHandle++;
    openKeys[handle] = name;
    return static_cast<Key>(handle);
}

MemoryStore::Values* MemoryStore::values(Key key) {
    auto open = openKeys.find(static_cast<uintptr_t>(key));
    if (open == openKeys.end()) return nullptr;
    auto found = keys.find(open->second);
    return found == keys.end() ? nullptr : &found->second;
}

bool MemoryStore::readDword(Key key, const std::wstring& name, uint32_t& value) {
    Values* v = values(key);
    if (!v) return false;
    auto it = v->find(folded(name));
    if (it == v->end() || it->second.isString) return false;
    value = it->second.dword;
    return true;
}

bool MemoryStore::readString(Key key, const std::wstring& name, std::wstring& value) {
    Values* v = values(key);
    if (!v) return false;
    auto it = v->find(folded(name));
    if (it == v->end() || !it->second.isString || it->second.text.size() > kMaxStringChars) return false;
    value = it->second.text.substr(0, it->second.text.find(L'\0'));
    return true;
}

bool MemoryStore::deleteValue(Key key, const std::wstring& name) {
    Values* v = values(key);
    return v && v->erase(folded(name)) > 0;
}

bool MemoryStore::writeDword(Key key, const std::wstring& name, uint32_t value) {
    Values* v = values(key);
    if (!v) return false;
    (*v)[folded(name)] = Value{false, value, {}};
    return true;
}

bool MemoryStore::writeString(Key key, const std::wstring& name, const std::wstring& value) {
    Values* v = values(key);
    if (!v) return false;
    (*v)[folded(name)] = Value{true, 0, value};
    return true;
}

void MemoryStore::closeKey(Key key) { openKeys.erase(static_cast<uintptr_t>(key)); }

}  // namespace vl
