#include <windows.h>

#include "StoreSpace.h"
#include "settings/RegistryStore.h"

namespace vl::test {

namespace {

// The test's key below HKEY_CURRENT_USER of the test-private prefix.
class RegistrySpace final : public StoreSpace {
public:
    explicit RegistrySpace(const std::wstring& effectName) : root_(L"Software\\Vorlane\\" + effectName) { clear(); }
    ~RegistrySpace() override { clear(); }
    std::shared_ptr<KeyValueStore> open() override { return std::make_shared<RegistryStore>(); }

private:
    void clear() { RegDeleteTreeW(HKEY_CURRENT_USER, root_.c_str()); }
    std::wstring root_;
};

std::unique_ptr<StoreSpace> makeRegistrySpace(const std::wstring& effectName) {
    return std::make_unique<RegistrySpace>(effectName);
}

}  // namespace

std::vector<StoreKind> storeKinds() { return {{"Registry", &makeRegistrySpace}, {"File", &makeFileStoreSpace}}; }

}  // namespace vl::test
