#pragma once
// The settings store kept in one human-readable file (see SettingsFileFormat.h), used where
// there is no registry.
//
// The file is read at construction. Changes are applied at once in memory and written out
// when a key is closed or the store is destroyed: the file is read again, the changes of
// this store are replayed onto it, and the result replaces the file atomically. Writers take
// an advisory lock on "<file>.lock" around that read-merge-replace and each writes through a
// temporary file of its own. So two hosts for different plug-ins can share one file, even
// saving at the same moment, without undoing each other's changes, and a crash never leaves a
// half-written file. A file that exists but cannot be read is never replaced.

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "settings/KeyValueStore.h"
#include "settings/SettingsFileFormat.h"

namespace vl {

class FileStore final : public KeyValueStore {
public:
    // An empty path keeps the settings in memory only (nothing is written).
    explicit FileStore(std::filesystem::path file);
    ~FileStore() override;

    // Where the user's settings file lives: overrideFile when set; else
    // xdgConfigHome/vorlane/settings.reg when that is an absolute path; else
    // home/.config/vorlane/settings.reg; empty when neither is known.
    static std::filesystem::path userFilePath(const char* overrideFile, const char* xdgConfigHome,
                                              const char* home);

    const std::filesystem::path& file() const { return file_; }

    Key createKey(const std::wstring& path) override;
    Key openKey(const std::wstring& path) override;
    bool readDword(Key key, const std::wstring& name, uint32_t& value) override;
    bool readString(Key key, const std::wstring& name, std::wstring& value) override;
    bool deleteValue(Key key, const std::wstring& name) override;
    bool writeDword(Key key, const std::wstring& name, uint32_t value) override;
    bool writeString(Key key, const std::wstring& name, const std::wstring& value) override;
    void closeKey(Key key) override;

private:
    // One change as it is replayed onto the file's current content.
    struct Change {
        std::wstring key;
        std::wstring name;                    // empty with createKey
        std::optional<SettingsValue> value;   // none: delete the value
        bool keyOnly = false;                 // createKey
    };

    static void apply(SettingsTree& tree, const Change& change);
    bool readFile(SettingsTree& tree) const;
    bool flushLocked();
    Key addOpenKeyLocked(const std::wstring& path);
    const std::wstring* pathOfLocked(Key key) const;
    const SettingsValue* findLocked(Key key, const std::wstring& name) const;
    bool changeLocked(Key key, const std::wstring& name, std::optional<SettingsValue> value);

    std::mutex mutex_;
    std::filesystem::path file_;
    SettingsTree tree_;
    std::vector<Change> pending_;
    std::vector<std::wstring> openKeys_;  // handle n is slot n - 1; an empty path marks a free slot
};

}  // namespace vl
