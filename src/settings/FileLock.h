#pragma once
// What the settings file needs from the platform to be shared by several writers: an advisory
// lock on a file beside it, a name unique to the writer, and a rename that replaces.

#include <cstdint>
#include <filesystem>

namespace vl {

// Holds an exclusive advisory lock on lockFile (created when missing) from construction to
// destruction, if it could be taken within waitMs. Writers of one process exclude each other
// as well as writers of other processes. A lock that is not released (a hung writer) is not
// waited for beyond waitMs; a writer that dies releases it.
class FileLock {
public:
    FileLock(const std::filesystem::path& lockFile, uint32_t waitMs);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    bool held() const { return held_; }

private:
    intptr_t handle_ = -1;
    bool held_ = false;
};

// path + ".<process id>-<counter>.new": never the same for two writers at the same time.
std::filesystem::path uniqueWriterName(const std::filesystem::path& path);

// Renames from over to in one step (an existing to is replaced).
bool replaceFile(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace vl
