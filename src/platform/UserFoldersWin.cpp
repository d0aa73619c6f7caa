#include <windows.h>

#include <string>

#include "platform/UserFolders.h"

namespace vl::platform {

std::optional<std::filesystem::path> userDataFolder() {
    // %APPDATA% is the roaming application data folder of the current user.
    const DWORD needed = GetEnvironmentVariableW(L"APPDATA", nullptr, 0);
    if (needed <= 1) return std::nullopt;
    std::wstring text(needed, L'\0');
    const DWORD length = GetEnvironmentVariableW(L"APPDATA", text.data(), needed);
    if (length == 0 || length >= needed) return std::nullopt;
    text.resize(length);
    return std::filesystem::path(text);
}

}  // namespace vl::platform
