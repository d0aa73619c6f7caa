#include "settings/FileStore.h"

#include <system_error>

#include "platform/FileIO.h"
#include "settings/FileLock.h"

namespace vl {

namespace {

// A settings file is a few kilobytes; anything near this is not ours to parse.
constexpr size_t kMaxFileBytes = size_t(16) << 20;
// A writer holds the lock for a few milliseconds; one that holds it longer is not waited for.
constexpr uint32_t kLockWaitMs = 2000;

bool isSet(const char* text) { return text != nullptr && text[0] != '\0'; }

}  // namespace

FileStore::FileStore(std::filesystem::path file) : file_(std::move(file)) {
    // An unreadable file starts the store empty; flushLocked then refuses to replace it.
    readFile(tree_);
}

FileStore::~FileStore() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!pending_.empty()) flushLocked();
}

std::filesystem::path FileStore::userFilePath(const char* overrideFile, const char* xdgConfigHome,
                                              const char* home) {
    if (isSet(overrideFile)) return std::filesystem::path(overrideFile);
    std::filesystem::path base;
    // A relative XDG_CONFIG_HOME is invalid by the XDG rules and is ignored.
    if (isSet(xdgConfigHome) && std::filesystem::path(xdgConfigHome).is_absolute())
        base = std::filesystem::path(xdgConfigHome);
    else if (isSet(home))
        base = std::filesystem::path(home) / ".config";
    else
        return {};
    return base / "vorlane" / "settings.reg";
}

bool FileStore::readFile(SettingsTree& tree) const {
    tree.clear();
    if (file_.empty()) return true;
    auto bytes = platform::readWholeFile(file_, kMaxFileBytes);
    if (!bytes) {
        std::error_code ec;
        const bool missing = !std::filesystem::exists(file_, ec) && !ec;
        return missing;
    }
    tree = parseSettingsText(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
    return true;
}

void FileStore::apply(SettingsTree& tree, const Change& change) {
    if (change.keyOnly) {
        tree[change.key];
    } else if (change.value) {
        tree[change.key][change.name] = *change.value;
    } else if (auto key = tree.find(change.key); key != tree.end()) {
        key->second.erase(change.name);
    }
}

bool FileStore::flushLocked() {
    if (file_.empty()) return false;
    std::error_code ec;
    const std::filesystem::path folder = file_.parent_path();
    // The folder holds nobody else's data: only its owner may look into it.
    if (!folder.empty() && std::filesystem::create_directories(folder, ec))
        std::filesystem::permissions(folder, std::filesystem::perms::owner_all, ec);

    // Read, merge and replace as one step with respect to every other writer of the file (other
    // hosts, other stores of this one), each through a temporary file of its own. Should the
    // lock not come in time, the write goes ahead unlocked rather than not at all.
    std::filesystem::path lockFile = file_;
    lockFile += ".lock";
    const FileLock lock(lockFile, kLockWaitMs);
    SettingsTree merged;
    if (!readFile(merged)) return false;
    for (const Change& change : pending_) apply(merged, change);
    const std::string text = formatSettingsText(merged);
    const std::filesystem::path written = uniqueWriterName(file_);
    if (!platform::writeFileAtomically(written, text.data(), text.size())) return false;
    if (!replaceFile(written, file_)) {
        std::filesystem::remove(written, ec);
        return false;
    }
    tree_ = std::move(merged);
    pending_.clear();
    return true;
}

KeyValueStore::Key FileStore::addOpenKeyLocked(const std::wstring& path) {
    for (size_t i = 0; i < openKeys_.size(); ++i) {
        if (openKeys_[i].empty()) {
            openKeys_[i] = path;
            return static_cast<Key>(i + 1);
        }
    }
    openKeys_.push_back(path);
    return static_cast<Key>(openKeys_.size());
}

const std::wstring* FileStore::pathOfLocked(Key key) const {
    const auto slot = static_cast<uintptr_t>(key);
    if (slot == 0 || slot > openKeys_.size() || openKeys_[slot - 1].empty()) return nullptr;
    return &openKeys_[slot - 1];
}

const SettingsValue* FileStore::findLocked(Key key, const std::wstring& name) const {
    const std::wstring* path = pathOfLocked(key);
    if (!path) return nullptr;
    auto values = tree_.find(*path);
    if (values == tree_.end()) return nullptr;
    auto value = values->second.find(name);
    return value == values->second.end() ? nullptr : &value->second;
}

bool FileStore::changeLocked(Key key, const std::wstring& name, std::optional<SettingsValue> value) {
    const std::wstring* path = pathOfLocked(key);
    if (!path) return false;
    Change change{*path, name, std::move(value)};
    if (!change.value && !findLocked(key, name)) return false;  // nothing to delete
    apply(tree_, change);
    // Only the last change of a value matters, so a file that stays unwritable does not make
    // the list grow with every save.
    const FoldedLess less;
    const auto sameValue = [&](const Change& c) {
        return !c.keyOnly && !less(c.key, change.key) && !less(change.key, c.key) && !less(c.name, change.name) &&
               !less(change.name, c.name);
    };
    std::erase_if(pending_, sameValue);
    pending_.push_back(std::move(change));
    return true;
}

KeyValueStore::Key FileStore::createKey(const std::wstring& path) {
    if (!isValidKeyPath(path)) return Key::None;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!keyExists(tree_, path)) {
        Change change{path, {}, std::nullopt, true};
        apply(tree_, change);
        pending_.push_back(std::move(change));
    }
    return addOpenKeyLocked(path);
}

KeyValueStore::Key FileStore::openKey(const std::wstring& path) {
    if (!isValidKeyPath(path)) return Key::None;
    std::lock_guard<std::mutex> lock(mutex_);
    return keyExists(tree_, path) ? addOpenKeyLocked(path) : Key::None;
}

bool FileStore::readDword(Key key, const std::wstring& name, uint32_t& value) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto* dword = std::get_if<uint32_t>(findLocked(key, name));
    if (!dword) return false;
    value = *dword;
    return true;
}

bool FileStore::readString(Key key, const std::wstring& name, std::wstring& value) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto* text = std::get_if<std::wstring>(findLocked(key, name));
    if (!text || text->size() > kMaxStringChars) return false;
    value = *text;
    return true;
}

bool FileStore::deleteValue(Key key, const std::wstring& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    return changeLocked(key, name, std::nullopt);
}

bool FileStore::writeDword(Key key, const std::wstring& name, uint32_t value) {
    std::lock_guard<std::mutex> lock(mutex_);
    return changeLocked(key, name, SettingsValue(value));
}

bool FileStore::writeString(Key key, const std::wstring& name, const std::wstring& value) {
    std::lock_guard<std::mutex> lock(mutex_);
    // The text ends at its first zero, as it would when read back from the registry.
    return changeLocked(key, name, SettingsValue(value.substr(0, value.find(L'\0'))));
}

void FileStore::closeKey(Key key) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto slot = static_cast<uintptr_t>(key);
    if (!pathOfLocked(key)) return;
    openKeys_[slot - 1].clear();
    if (!pending_.empty()) flushLocked();
}

}  // namespace vl
