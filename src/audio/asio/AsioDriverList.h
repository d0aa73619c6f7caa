#pragma once
// The installed ASIO drivers: found once in the registry (HKLM "software\asio", one subkey per
// driver with its "clsid" and optional "description"; the module named by HKCR
// clsid\{...}\InprocServer32 must exist), listed with contiguous indices, and loaded one at a
// time as the process-wide driver object theAsioDriver. Windows only; user-interface thread.
//
// COM: the list begins COM use (apartment-threaded) on the constructing thread when it found at
// least one driver and ends it in its destructor. Each loaded driver holds one more balanced
// initialisation of the loading thread until it is released, so a driver never outlives COM on
// its thread. Loads and removals therefore happen on one thread, the constructing one.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <windows.h>

#include "audio/asio/AsioAbi.h"
#include "platform/win/Com.h"

namespace vl {

// The loaded driver, or null. Written only on the user-interface thread while no driver runs;
// the driver callbacks read it.
extern asio::IAsioDriver* theAsioDriver;

// Result codes of the list operations (COM failures are passed on as their HRESULT).
enum : int32_t {
    kAsioListOk = 0,
    kAsioNoServerPath = -1,
    kAsioDriverAlreadyLoaded = -5002,
    kAsioNoSuchDriver = -5003,
};

struct AsioDriverEntry {
    int32_t index = 0;
    CLSID classId{};        // all zero when the registry text is no valid class id
    std::string name;       // at most kMaxNameChars, ANSI code page
    asio::IAsioDriver* driverObject = nullptr;
    std::unique_ptr<platform::ComThreadScope> com;  // held while driverObject lives
};

class AsioDriverList {
public:
    static constexpr size_t kMaxNameChars = 127;
    static constexpr const char* kDefaultKey = "software\\asio";

    // registryKey: the key below HKEY_LOCAL_MACHINE that lists the drivers.
    explicit AsioDriverList(const char* registryKey = kDefaultKey);
    virtual ~AsioDriverList();
    AsioDriverList(const AsioDriverList&) = delete;
    AsioDriverList& operator=(const AsioDriverList&) = delete;

    // The entry's name into buffer; a name of size characters or more is cut to size - 4
    // characters followed by "...".
    int32_t getDriverName(int32_t index, char* buffer, int32_t size) const;
    // Creates the driver object of the entry into theAsioDriver.
    int32_t openDriver(int32_t index);
    // Releases the entry's driver object, if any.
    void closeDriver(int32_t index);

    int32_t numDrivers = 0;

protected:
    AsioDriverEntry* entry(int32_t index);

private:
    void append(HKEY root, const char* subkeyName);

    std::vector<AsioDriverEntry> entries;
    std::optional<platform::ComThreadScope> listScope;
};

class AsioDrivers : public AsioDriverList {
public:
    using AsioDriverList::AsioDriverList;

    // Makes the driver listed under name (exact, case-sensitive) the loaded one. On failure the
    // previously loaded driver is loaded again when it was another one.
    bool loadDriver(const char* name);
    // Releases the loaded driver; theAsioDriver is cleared with it.
    void removeCurrentDriver();

    int32_t currentIndex = -1;
};

// The path of the module that serves class id text, when it names an existing file.
// kAsioListOk or kAsioNoServerPath.
int32_t findAsioServerPath(const char* classIdText, std::string& path);

}  // namespace vl
