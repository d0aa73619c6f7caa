#include <windows.h>

#include "StoreSpace.h"
#include "settings/RegistryStore.h"

namespace vl::test {

namespace {
class RegistrySpace final : public StoreSpace {
public:
    explicit RegistrySpace(const std::wstring& effectName) : root_(L"Software\\Vorlane\\" + effectName) { clear(); }
    ~RegistrySpace() override { clear(); }
    std::shared_ptr<KeyValueStore> open() override { return std::make_shared<RegistryStore>(); }

private:
    void clear() { RegDeleteTreeW(HKEY_CURRENT_USER, root_.c_str()); }
    std::wstring root_;
};
std::unique_ptr<StoreSpace> makeRegistrySpace(const std::wstring& name) { return std::make_unique<RegistrySpace>(name); }
}  // namespace

std::vector<StoreKind> storeKinds() { return {{"Registry", &makeRegistrySpace}, {"File", &makeFileStoreSpace}}; }

}  // namespace vl::test
