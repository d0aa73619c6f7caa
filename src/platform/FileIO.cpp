#include "platform/FileIO.h"

#include <atomic>
#include <cerrno>
#include <string>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace vl::platform {

namespace {

std::atomic<AtomicWriteFault> injectedFault{AtomicWriteFault::None};

bool flushToDisk(FILE* f) {
    if (std::fflush(f) != 0) return false;
#ifdef _WIN32
    return _commit(_fileno(f)) == 0;
#else
    return fsync(fileno(f)) == 0;
#endif
}

bool renameOver(const std::filesystem::path& from, const std::filesystem::path& to) {
#ifdef _WIN32
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
    return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

std::filesystem::path temporaryNameFor(const std::filesystem::path& path) {
    std::filesystem::path tmp = path;
    tmp += ".tmp~";
    return tmp;
}

}  // namespace

FILE* openFile(const std::filesystem::path& path, const char* mode) {
#ifdef _WIN32
    wchar_t wideMode[8] = {};
    for (int i = 0; i < 7 && mode[i]; ++i) wideMode[i] = static_cast<wchar_t>(mode[i]);
    return _wfopen(path.c_str(), wideMode);
#else
    return std::fopen(path.c_str(), mode);
#endif
}

bool writeFileAtomically(const std::filesystem::path& path, const void* data, size_t size) {
    const AtomicWriteFault fault = injectedFault.load(std::memory_order_acquire);
    const std::filesystem::path tmp = temporaryNameFor(path);
    FILE* f = openFile(tmp, "wb");
    if (!f) return false;
    size_t toWrite = size;
    if (fault == AtomicWriteFault::ShortWrite) toWrite = size / 2;
    bool ok = (toWrite == 0 || std::fwrite(data, 1, toWrite, f) == toWrite) && toWrite == size;
    ok = flushToDisk(f) && ok;
    ok = (std::fclose(f) == 0) && ok;
    if (ok && fault != AtomicWriteFault::RenameFails) ok = renameOver(tmp, path);
    else ok = false;
    if (!ok) {
        std::error_code ec;
        std::filesystem::remove(tmp, ec);
    }
    return ok;
}

std::optional<std::vector<uint8_t>> readWholeFile(const std::filesystem::path& path, size_t maxBytes) {
    FILE* f = openFile(path, "rb");
    if (!f) return std::nullopt;
    std::vector<uint8_t> bytes;
    uint8_t buffer[16384];
    bool ok = true;
    for (;;) {
        size_t n = std::fread(buffer, 1, sizeof buffer, f);
        if (n > 0) {
            if (bytes.size() + n > maxBytes) {
                ok = false;
                break;
            }
            bytes.insert(bytes.end(), buffer, buffer + n);
        }
        if (n < sizeof buffer) {
            ok = !std::ferror(f);
            break;
        }
    }
    std::fclose(f);
    if (!ok) return std::nullopt;
    return bytes;
}

void setAtomicWriteFaultForTesting(AtomicWriteFault fault) {
    injectedFault.store(fault, std::memory_order_release);
}

}  // namespace vl::platform
