#include <windows.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "settings/FileLock.h"

namespace vl {

FileLock::FileLock(const std::filesystem::path& lockFile, uint32_t waitMs) {
    HANDLE file = CreateFileW(lockFile.c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    handle_ = reinterpret_cast<intptr_t>(file);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        OVERLAPPED at{};
        if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
            held_ = true;
            return;
        }
        if (std::chrono::steady_clock::now() >= deadline) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

FileLock::~FileLock() {
    if (handle_ == -1) return;
    HANDLE file = reinterpret_cast<HANDLE>(handle_);
    if (held_) {
        OVERLAPPED at{};
        UnlockFileEx(file, 0, 1, 0, &at);
    }
    CloseHandle(file);
}

std::filesystem::path uniqueWriterName(const std::filesystem::path& path) {
    static std::atomic<uint32_t> counter{0};
    std::filesystem::path name = path;
    name += "." + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter.fetch_add(1)) + ".new";
    return name;
}

bool replaceFile(const std::filesystem::path& from, const std::filesystem::path& to) {
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

}  // namespace vl
