#pragma once
// The per-user store under the host settings: a tree of keys holding named 32-bit and string
// values, modelled on the registry. Key paths are relative to the per-user root, with
// components separated by backslashes; key and value names compare without regard to ASCII
// case. Every operation reports failure instead of throwing; a failed read leaves its output
// untouched.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace vl {

class KeyValueStore {
public:
    enum class Key : uintptr_t { None = 0 };

    // Strings are read through a buffer of 1024 bytes: 511 UTF-16 characters and the
    // terminating zero. A longer text does not fit and its read fails.
    static constexpr size_t kMaxStringChars = 511;

    KeyValueStore() = default;
    virtual ~KeyValueStore() = default;
    KeyValueStore(const KeyValueStore&) = delete;
    KeyValueStore& operator=(const KeyValueStore&) = delete;

    // Opens the key, creating it and any missing parent first. Key::None on failure.
    virtual Key createKey(const std::wstring& path) = 0;
    // Opens an existing key. Key::None when it does not exist or cannot be opened.
    virtual Key openKey(const std::wstring& path) = 0;
    virtual bool readDword(Key key, const std::wstring& name, uint32_t& value) = 0;
    // The text ends at its first zero character.
    virtual bool readString(Key key, const std::wstring& name, std::wstring& value) = 0;
    virtual bool deleteValue(Key key, const std::wstring& name) = 0;
    virtual bool writeDword(Key key, const std::wstring& name, uint32_t value) = 0;
    virtual bool writeString(Key key, const std::wstring& name, const std::wstring& value) = 0;
    virtual void closeKey(Key key) = 0;
};

// Closes its key when it goes out of scope.
class ScopedKey {
public:
    ScopedKey(KeyValueStore& store, KeyValueStore::Key key) : store_(store), key_(key) {}
    ~ScopedKey() {
        if (key_ != KeyValueStore::Key::None) store_.closeKey(key_);
    }
    ScopedKey(const ScopedKey&) = delete;
    ScopedKey& operator=(const ScopedKey&) = delete;

    KeyValueStore::Key get() const { return key_; }
    explicit operator bool() const { return key_ != KeyValueStore::Key::None; }

private:
    KeyValueStore& store_;
    KeyValueStore::Key key_;
};

// The platform's per-user store: the registry under HKEY_CURRENT_USER on Windows, a settings
// file in the user's configuration folder elsewhere.
std::shared_ptr<KeyValueStore> makeUserSettingsStore();

}  // namespace vl
