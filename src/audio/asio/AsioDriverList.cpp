#include "audio/asio/AsioDriverList.h"

#include <cstring>

namespace vl {

asio::IAsioDriver* theAsioDriver = nullptr;

namespace {

// A REG_SZ (or REG_EXPAND_SZ, expanded) value as text of at most capacity - 1 bytes; false when
// missing, of another type, or too long. The registry does not promise a terminator.
bool readText(HKEY key, const char* valueName, size_t capacity, std::string& out) {
    std::string buffer(capacity, '\0');
    DWORD type = 0, bytes = DWORD(capacity);
    if (RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &bytes) !=
        ERROR_SUCCESS)
        return false;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
    buffer.resize(strnlen(buffer.c_str(), bytes));
    if (buffer.size() >= capacity) return false;
    if (type == REG_EXPAND_SZ) {
        std::string expanded(capacity, '\0');
        const DWORD n = ExpandEnvironmentStringsA(buffer.c_str(), expanded.data(), DWORD(capacity));
        if (n == 0 || n > capacity) return false;
        expanded.resize(n - 1);
        buffer = expanded;
    }
    out = buffer;
    return true;
}

}  // namespace

int32_t findAsioServerPath(const char* classIdText, std::string& path) {
    // The key is opened by name (registry names compare case-insensitively, as a lower-cased
    // walk over all class ids would), which needs no walk over thousands of subkeys.
    if (!classIdText[0] || std::strchr(classIdText, '\\')) return kAsioNoServerPath;
    const std::string keyPath = std::string("clsid\\") + classIdText + "\\InprocServer32";
    HKEY server = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, keyPath.c_str(), 0, KEY_READ, &server) != ERROR_SUCCESS)
        return kAsioNoServerPath;
    std::string file;
    const bool read = readText(server, nullptr, 512, file);
    RegCloseKey(server);
    if (!read || file.empty()) return kAsioNoServerPath;
    // An existing file, not a folder. (OpenFile would refuse paths of 128 characters and more.)
    const DWORD attributes = GetFileAttributesA(file.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return kAsioNoServerPath;
    path = file;
    return kAsioListOk;
}

AsioDriverList::AsioDriverList(const char* registryKey) {
    HKEY root = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, registryKey, 0, KEY_READ, &root) == ERROR_SUCCESS) {
        char name[128];
        for (DWORD i = 0;; ++i) {
            DWORD length = sizeof name;
            const LONG result = RegEnumKeyExA(root, i, name, &length, nullptr, nullptr, nullptr, nullptr);
            if (result == ERROR_MORE_DATA) continue;  // a name beyond 127 characters: not listed
            if (result != ERROR_SUCCESS) break;
            append(root, name);
        }
        RegCloseKey(root);
    }
    numDrivers = int32_t(entries.size());
    if (numDrivers != 0) listScope.emplace();
}

void AsioDriverList::append(HKEY root, const char* subkeyName) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, subkeyName, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    std::string classIdText, path;
    if (!readText(key, "clsid", 256, classIdText) || findAsioServerPath(classIdText.c_str(), path) != kAsioListOk) {
        RegCloseKey(key);
        return;
    }
    AsioDriverEntry e;
    e.index = int32_t(entries.size());
    wchar_t wide[101] = {};
    const int n = MultiByteToWideChar(CP_ACP, 0, classIdText.c_str(), int(classIdText.size()), wide, 100);
    wide[n > 0 ? n : 0] = 0;
    if (FAILED(CLSIDFromString(wide, &e.classId))) e.classId = CLSID{};
    if (!readText(key, "description", 256, e.name)) e.name = subkeyName;
    if (e.name.size() > kMaxNameChars) e.name.resize(kMaxNameChars);
    RegCloseKey(key);
    entries.push_back(std::move(e));
}

AsioDriverList::~AsioDriverList() {
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) closeDriver(it->index);
    entries.clear();
    listScope.reset();
}

AsioDriverEntry* AsioDriverList::entry(int32_t index) {
    if (index < 0 || index >= int32_t(entries.size())) return nullptr;
    return &entries[size_t(index)];
}

int32_t AsioDriverList::getDriverName(int32_t index, char* buffer, int32_t size) const {
    if (index < 0 || index >= int32_t(entries.size())) return kAsioNoSuchDriver;
    if (!buffer || size <= 0) return kAsioListOk;
    const std::string& name = entries[size_t(index)].name;
    if (int32_t(name.size()) < size) {
        std::memcpy(buffer, name.c_str(), name.size() + 1);
    } else if (size >= 4) {
        std::memcpy(buffer, name.data(), size_t(size - 4));
        std::memcpy(buffer + size - 4, "...", 4);
    } else {
        std::memcpy(buffer, name.data(), size_t(size - 1));
        buffer[size - 1] = 0;
    }
    return kAsioListOk;
}

int32_t AsioDriverList::openDriver(int32_t index) {
    AsioDriverEntry* e = entry(index);
    if (!e) return kAsioNoSuchDriver;
    if (e->driverObject) return kAsioDriverAlreadyLoaded;
    auto com = std::make_unique<platform::ComThreadScope>();
    void* object = nullptr;
    const HRESULT hr = CoCreateInstance(e->classId, nullptr, CLSCTX_INPROC_SERVER, e->classId, &object);
    theAsioDriver = SUCCEEDED(hr) ? static_cast<asio::IAsioDriver*>(object) : nullptr;
    if (!theAsioDriver) return FAILED(hr) ? int32_t(hr) : int32_t(E_POINTER);
    e->driverObject = theAsioDriver;
    e->com = std::move(com);
    return kAsioListOk;
}

void AsioDriverList::closeDriver(int32_t index) {
    AsioDriverEntry* e = entry(index);
    if (!e || !e->driverObject) return;
    asio::IAsioDriver* object = std::exchange(e->driverObject, nullptr);
    if (theAsioDriver == object) theAsioDriver = nullptr;
    object->Release();
    e->com.reset();
}

bool AsioDrivers::loadDriver(const char* name) {
    if (numDrivers <= 0 || !name) return false;
    const AsioDriverEntry* found = nullptr;
    for (int32_t i = 0; i < numDrivers && !found; ++i)
        if (entry(i)->name == name) found = entry(i);
    if (!found) return false;
    const bool hadPrevious = currentIndex >= 0;
    const std::string previous = hadPrevious ? entry(currentIndex)->name : std::string();
    const int32_t index = found->index;
    removeCurrentDriver();
    if (openDriver(index) == kAsioListOk) {
        currentIndex = index;
        return true;
    }
    theAsioDriver = nullptr;
    if (hadPrevious && previous != name) loadDriver(previous.c_str());
    return false;
}

void AsioDrivers::removeCurrentDriver() {
    if (currentIndex != -1) closeDriver(currentIndex);
    currentIndex = -1;
}

}  // namespace vl
