#pragma once
// The persistent stores that the settings tests run against: the settings file everywhere,
// and the registry of the test-private Wine prefix in the Windows build.

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "settings/KeyValueStore.h"

namespace vl::test {

// The persistent data of one test (under Software\Vorlane\<effect>), removed before and after.
class StoreSpace {
public:
    virtual ~StoreSpace() = default;
    // A fresh store over the test's data, as the next run of the host would open it.
    virtual std::shared_ptr<KeyValueStore> open() = 0;
};

struct StoreKind {
    std::string name;
    std::unique_ptr<StoreSpace> (*make)(const std::wstring& effectName);
};
inline void PrintTo(const StoreKind& kind, std::ostream* out) { *out << kind.name; }

std::unique_ptr<StoreSpace> makeFileStoreSpace(const std::wstring& effectName);
std::vector<StoreKind> storeKinds();  // every kind this platform has

}  // namespace vl::test
