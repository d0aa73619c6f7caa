#include <cstdlib>

#include "platform/UserFolders.h"

namespace vl::platform {

std::optional<std::filesystem::path> userDataFolder() {
    // Only an absolute $XDG_DATA_HOME counts; a relative one is to be ignored.
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && data[0] == '/') return std::filesystem::path(data);
    if (const char* home = std::getenv("HOME"); home && home[0] == '/')
        return std::filesystem::path(home) / ".local" / "share";
    return std::nullopt;
}

}  // namespace vl::platform
