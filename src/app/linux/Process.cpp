#include "app/linux/Process.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string_view>
#include <system_error>

#include "app/AppRules.h"
#include "platform/Text.h"

namespace vl::linuxapp {

namespace fs = std::filesystem;

fs::path invokedExecutable(const char* argv0, const char* pathVariable, const fs::path& workingDirectory) {
    if (!argv0 || !*argv0) return {};
    const std::string_view name(argv0);
    if (name.find('/') != std::string_view::npos) {
        const fs::path given(argv0);
        return (given.is_absolute() ? given : workingDirectory / given).lexically_normal();
    }
    // An empty PATH entry means the working directory.
    const std::string_view search = pathVariable ? pathVariable : "";
    size_t start = 0;
    for (;;) {
        const size_t end = search.find(':', start);
        const std::string_view entry = search.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        fs::path folder = entry.empty() ? workingDirectory : fs::path(std::string(entry));
        if (!folder.is_absolute()) folder = workingDirectory / folder;
        const fs::path candidate = (folder / std::string(name)).lexically_normal();
        struct stat info {};
        if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(candidate.c_str(), X_OK) == 0)
            return candidate;
        if (end == std::string_view::npos) return {};
        start = end + 1;
    }
}

RunningCopyLock::~RunningCopyLock() {
    if (fd >= 0) close(fd);
}

bool RunningCopyLock::take(const fs::path& file) {
    if (fd >= 0) return true;
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    const int opened = open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (opened < 0) return true;
    if (flock(opened, LOCK_EX | LOCK_NB) != 0) {
        close(opened);
        return false;
    }
    fd = opened;
    return true;
}

fs::path runningCopyLockFile(const fs::path& settingsFile, const std::wstring& effectName) {
    std::wstring name = app::runningCopyMutexName(effectName);
    // Only the namespace is Windows' own.
    constexpr std::wstring_view local = L"Local\\";
    if (name.rfind(local, 0) == 0) name.erase(0, local.size());
    fs::path folder = settingsFile.parent_path();
    if (folder.empty()) folder = fs::temp_directory_path();
    return folder / (platform::wideToUtf8(name) + ".lock");
}

}  // namespace vl::linuxapp
