#pragma once
// What the Linux program learns about itself: the path it was started by (a link keeps its
// own name and folder) and whether another copy of it runs for the same effect.

#include <filesystem>
#include <string>

namespace vl::linuxapp {

// The executable as it was invoked, made absolute without resolving links, so that a link
// named "Foo" loads the "Foo.so" beside the link. argv0 without a slash is looked up in
// pathVariable (PATH) as the shell does; empty when it cannot be found there.
std::filesystem::path invokedExecutable(const char* argv0, const char* pathVariable,
                                        const std::filesystem::path& workingDirectory);

// A lock held by the first copy of the host for one effect, for the life of its process: the
// kernel releases it with the process however it ends. Files beside the settings file.
class RunningCopyLock {
public:
    RunningCopyLock() = default;
    ~RunningCopyLock();
    RunningCopyLock(const RunningCopyLock&) = delete;
    RunningCopyLock& operator=(const RunningCopyLock&) = delete;

    // True when this process holds the lock now (it was free, or is already held by us).
    // A folder that cannot be written holds no lock: then there is nothing to protect either,
    // and the copy counts as the first.
    bool take(const std::filesystem::path& file);
    bool held() const { return fd >= 0; }

private:
    int fd = -1;
};

// The lock file for an effect, beside the settings file; the name follows the rule that
// names the Windows program's mutex (one name for every effect name of one settings key).
std::filesystem::path runningCopyLockFile(const std::filesystem::path& settingsFile, const std::wstring& effectName);

}  // namespace vl::linuxapp
