#include <filesystem>

#include "StoreSpace.h"
#include "platform/Text.h"
#include "settings/FileStore.h"

namespace vl::test {

namespace {
class FileStoreSpace final : public StoreSpace {
public:
    explicit FileStoreSpace(const std::wstring& effectName)
        : folder_(std::filesystem::temp_directory_path() / ("vorlane-settings-" + platform::wideToUtf8(effectName))) {
        std::filesystem::remove_all(folder_);
    }
    ~FileStoreSpace() override { std::filesystem::remove_all(folder_); }
    std::shared_ptr<KeyValueStore> open() override { return std::make_shared<FileStore>(folder_ / "settings.reg"); }

private:
    std::filesystem::path folder_;
};
}  // namespace

std::unique_ptr<StoreSpace> makeFileStoreSpace(const std::wstring& effectName) {
    return std::make_unique<FileStoreSpace>(effectName);
}

}  // namespace vl::test
