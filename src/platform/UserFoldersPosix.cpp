#include <cstdlib>

#include "platform/UserFolders.h"

namespace vl::platform {

namespace {

// Only an absolute path counts; a relative one is to be ignored.
std::optional<std::filesystem::path> absoluteVariable(const char* name) {
    if (const char* value = std::getenv(name); value && value[0] == '/') return std::filesystem::path(value);
    return std::nullopt;
}

std::optional<std::filesystem::path> homeFolder(const char* variable, const char* underHome1, const char* underHome2) {
    if (auto folder = absoluteVariable(variable)) return folder;
    if (auto home = absoluteVariable("HOME")) return *home / underHome1 / underHome2;
    return std::nullopt;
}

}  // namespace

std::optional<std::filesystem::path> userDataFolder() { return homeFolder("XDG_DATA_HOME", ".local", "share"); }

std::vector<std::filesystem::path> secondPlaceFolders() {
    std::vector<std::filesystem::path> folders;
    if (auto state = homeFolder("XDG_STATE_HOME", ".local", "state")) folders.push_back(*state);
    folders.push_back(absoluteVariable("TMPDIR").value_or("/tmp"));
    return folders;
}

}  // namespace vl::platform
