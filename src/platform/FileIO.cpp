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

#include "platform/Text.h"

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

// The system's words for the last error of this thread (GetLastError on Windows, errno
// elsewhere), taken at once after the failing call.
std::wstring lastErrorText() {
#ifdef _WIN32
    const DWORD code = GetLastError();
    wchar_t* text = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring out = length && text ? std::wstring(text, length) : std::wstring();
    if (text) LocalFree(text);
    while (!out.empty() && (out.back() == L'\n' || out.back() == L'\r' || out.back() == L' ')) out.pop_back();
    return out.empty() ? L"system error " + std::to_wstring(code) : out + L" (" + std::to_wstring(code) + L")";
#else
    const int code = errno;
    const std::string text = std::error_code(code, std::generic_category()).message();
    return std::wstring(text.begin(), text.end()) + L" (errno " + std::to_wstring(code) + L")";
#endif
}

void tell(std::wstring* reason, const std::wstring& text) {
    if (reason && reason->empty()) *reason = text;
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

bool writeFileAtomically(const std::filesystem::path& path, const void* data, size_t size, std::wstring* reason) {
    if (reason) reason->clear();
    const AtomicWriteFault fault = injectedFault.load(std::memory_order_acquire);
    const std::filesystem::path tmp = temporaryNameFor(path);
#ifdef _WIN32
    // Beyond MAX_PATH the file functions fail with a misleading "not found".
    if (tmp.native().size() >= MAX_PATH) {
        tell(reason, L"The path is too long for Windows (" + std::to_wstring(path.native().size()) +
                         L" characters; at most " + std::to_wstring(MAX_PATH - 1 - 5) + L" can be written).");
        return false;
    }
#endif
    errno = 0;
    FILE* f = openFile(tmp, "wb");
    if (!f) {
        const std::wstring why = lastErrorText();
        tell(reason, L"The temporary file \"" + pathToWide(tmp.filename()) + L"\" cannot be created: " + why);
        return false;
    }
    size_t toWrite = size;
    if (fault == AtomicWriteFault::ShortWrite) toWrite = size / 2;
    bool ok = toWrite == 0 || std::fwrite(data, 1, toWrite, f) == toWrite;
    if (!ok) tell(reason, L"Writing failed: " + lastErrorText());
    if (ok && toWrite != size) {
        ok = false;
        tell(reason, L"Only part of the data could be written.");
    }
    if (!flushToDisk(f)) {
        tell(reason, L"Writing failed: " + lastErrorText());
        ok = false;
    }
    if (std::fclose(f) != 0) {
        tell(reason, L"Writing failed: " + lastErrorText());
        ok = false;
    }
    if (ok && fault == AtomicWriteFault::RenameFails) {
        tell(reason, L"The file could not be replaced.");
        ok = false;
    } else if (ok && !renameOver(tmp, path)) {
        tell(reason, L"The file could not be replaced: " + lastErrorText());
        ok = false;
    }
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
