#pragma once
// File access with full Unicode paths (UTF-16 on Windows, UTF-8 elsewhere).

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vl::platform {

// fopen with a path that keeps every character (never narrowed to 8 bits).
FILE* openFile(const std::filesystem::path& path, const char* mode);

// Replaces the file at path with the given bytes so that a crash or a failed write never
// leaves it half-written: the bytes go to a temporary file in the same folder, which is
// flushed to disk and then renamed over the old file. On failure the old file is untouched
// and the temporary file is removed. A failure says why in reason, when given: the system's
// own words for the step that failed.
bool writeFileAtomically(const std::filesystem::path& path, const void* data, size_t size,
                         std::wstring* reason = nullptr);

// The whole content of a file, or nothing when it cannot be opened or read. Files larger than
// maxBytes are refused.
std::optional<std::vector<uint8_t>> readWholeFile(const std::filesystem::path& path,
                                                  size_t maxBytes = size_t(1) << 30);

// Test hook: makes the next writeFileAtomically calls fail at a chosen step, so that tests
// can prove that a failure never damages the existing file.
enum class AtomicWriteFault { None, ShortWrite, RenameFails };
void setAtomicWriteFaultForTesting(AtomicWriteFault fault);

}  // namespace vl::platform
