#include "player/AudioFileSource.h"

#include <cstring>

#include "platform/FileIO.h"

namespace vl {

bool seekFile(FILE* file, uint64_t offset) {
    if (offset > uint64_t(INT64_MAX)) return false;
#ifdef _WIN32
    return _fseeki64(file, static_cast<long long>(offset), SEEK_SET) == 0;
#else
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

bool fileLength(FILE* file, uint64_t& length) {
#ifdef _WIN32
    if (_fseeki64(file, 0, SEEK_END) != 0) return false;
    const long long end = _ftelli64(file);
#else
    if (fseeko(file, 0, SEEK_END) != 0) return false;
    const off_t end = ftello(file);
#endif
    if (end < 0) return false;
    length = static_cast<uint64_t>(end);
    return true;
}

std::unique_ptr<FileByteSource> FileByteSource::open(const std::filesystem::path& path) {
    FILE* file = platform::openFile(path, "rb");
    if (!file) return nullptr;
    uint64_t length = 0;
    if (!fileLength(file, length)) {
        std::fclose(file);
        return nullptr;
    }
    return std::unique_ptr<FileByteSource>(new FileByteSource(file, length));
}

FileByteSource::~FileByteSource() { std::fclose(file); }

bool FileByteSource::readAt(uint64_t offset, void* destination, size_t count) {
    if (offset > length || count > length - offset) return false;
    if (offset != position && !seekFile(file, offset)) {
        position = UINT64_MAX;
        return false;
    }
    const bool complete = std::fread(destination, 1, count, file) == count;
    position = complete ? offset + count : UINT64_MAX;
    return complete;
}

bool MemoryByteSource::readAt(uint64_t offset, void* destination, size_t count) {
    if (offset > length || count > length - offset) return false;
    if (count > 0) std::memcpy(destination, data + offset, count);
    return true;
}

}  // namespace vl
