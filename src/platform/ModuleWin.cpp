#include "platform/Module.h"

#include <windows.h>

#include "platform/Text.h"

namespace vl::platform {

namespace {
thread_local std::string lastError;
}

const char* moduleSuffix() { return ".dll"; }

ModuleHandle loadModule(const std::filesystem::path& path) {
    if (!path.is_absolute()) {
        lastError = "module path is not absolute: " + wideToUtf8(path.wstring());
        return nullptr;
    }
    // A full path with LOAD_WITH_ALTERED_SEARCH_PATH: the module itself is never searched for,
    // and the libraries it depends on are looked for in its own folder first.
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module) lastError = "LoadLibraryExW failed with error " + std::to_string(GetLastError());
    return reinterpret_cast<ModuleHandle>(module);
}

void* findSymbol(ModuleHandle module, const char* name) {
    if (!module || !name) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void freeModule(ModuleHandle module) {
    if (module) FreeLibrary(static_cast<HMODULE>(module));
}

std::filesystem::path executablePath() {
    // MAX_PATH characters, as the host has always taken its own name.
    wchar_t buffer[MAX_PATH + 1] = {};
    DWORD n = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return {};
    return std::filesystem::path(std::wstring(buffer, n));
}

std::string lastModuleError() { return lastError; }

}  // namespace vl::platform
