#pragma once
// Loading plug-in modules by full path: LoadLibraryExW on Windows, dlopen elsewhere.

#include <filesystem>
#include <string>

namespace vl::platform {

using ModuleHandle = void*;

// File name suffix of a loadable module on this platform (".dll" or ".so").
const char* moduleSuffix();

// Loads the module at an absolute path. Relative paths are refused, so a module is never
// found through the search path (no hijack from the current directory). Null on failure.
ModuleHandle loadModule(const std::filesystem::path& path);

// Address of an exported symbol, or null when the module does not export it.
void* findSymbol(ModuleHandle module, const char* name);

// Releases a module obtained from loadModule; null is ignored.
void freeModule(ModuleHandle module);

// Full path of the running executable (empty if the system cannot tell).
std::filesystem::path executablePath();

// Text of the last loading error, for diagnostics of command-line tools.
std::string lastModuleError();

}  // namespace vl::platform
