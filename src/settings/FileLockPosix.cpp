#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "settings/FileLock.h"

namespace vl {

FileLock::FileLock(const std::filesystem::path& lockFile, uint32_t waitMs) {
    const int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return;
    handle_ = fd;
    // flock, not fcntl: its locks belong to the open file, so two stores of one process
    // exclude each other too.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            held_ = true;
            return;
        }
        if (std::chrono::steady_clock::now() >= deadline) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

FileLock::~FileLock() {
    if (handle_ < 0) return;
    if (held_) ::flock(static_cast<int>(handle_), LOCK_UN);
    ::close(static_cast<int>(handle_));
}

std::filesystem::path uniqueWriterName(const std::filesystem::path& path) {
    static std::atomic<uint32_t> counter{0};
    std::filesystem::path name = path;
    name += "." + std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1)) + ".new";
    return name;
}

bool replaceFile(const std::filesystem::path& from, const std::filesystem::path& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace vl
