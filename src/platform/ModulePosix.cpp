#include "platform/Module.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>

namespace vl::platform {

namespace {
thread_local std::string lastError;
}

const char* moduleSuffix() { return ".so"; }

ModuleHandle loadModule(const std::filesystem::path& path) {
    if (!path.is_absolute()) {
        lastError = "module path is not absolute: " + path.string();
        return nullptr;
    }
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* text = dlerror();
        lastError = text ? text : "dlopen failed";
    }
    return handle;
}

void* findSymbol(ModuleHandle module, const char* name) {
    if (!module || !name) return nullptr;
    return dlsym(module, name);
}

void freeModule(ModuleHandle module) {
    if (module) dlclose(module);
}

std::filesystem::path executablePath() {
    char buffer[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return {};
    buffer[n] = '\0';
    return std::filesystem::path(buffer);
}

std::string lastModuleError() { return lastError; }

}  // namespace vl::platform
