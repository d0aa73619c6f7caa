#include <windows.h>

#include <string>

#include "platform/UserFolders.h"

namespace vl::platform {

namespace {

std::optional<std::filesystem::path> environmentFolder(const wchar_t* name) {
    const DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
    if (needed <= 1) return std::nullopt;
    std::wstring text(needed, L'\0');
    const DWORD length = GetEnvironmentVariableW(name, text.data(), needed);
    if (length == 0 || length >= needed) return std::nullopt;
    text.resize(length);
    return std::filesystem::path(text);
}

}  // namespace

// %APPDATA% is the roaming application data folder of the current user.
std::optional<std::filesystem::path> userDataFolder() { return environmentFolder(L"APPDATA"); }

std::vector<std::filesystem::path> secondPlaceFolders() {
    std::vector<std::filesystem::path> folders;
    if (auto local = environmentFolder(L"LOCALAPPDATA")) folders.push_back(*local);
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    if (length > 0 && length <= MAX_PATH) folders.emplace_back(std::wstring(temp, length));
    return folders;
}

}  // namespace vl::platform
