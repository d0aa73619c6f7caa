#pragma once
// Where the file readers get their bytes: a file on disk, or bytes in memory (tests, fuzzing).

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

namespace vl {

class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Total number of bytes.
    virtual uint64_t size() const = 0;
    // Reads exactly `count` bytes starting at `offset`; false when fewer are there or reading
    // fails.
    virtual bool readAt(uint64_t offset, void* destination, size_t count) = 0;
};

class FileByteSource final : public ByteSource {
public:
    // The file at path (wide on Windows, UTF-8 elsewhere), or null when it cannot be opened.
    static std::unique_ptr<FileByteSource> open(const std::filesystem::path& path);
    ~FileByteSource() override;
    FileByteSource(const FileByteSource&) = delete;
    FileByteSource& operator=(const FileByteSource&) = delete;

    uint64_t size() const override { return length; }
    bool readAt(uint64_t offset, void* destination, size_t count) override;

private:
    FileByteSource(FILE* file, uint64_t length) : file(file), length(length) {}
    FILE* file;
    uint64_t length;
    // Where the stream stands, so that reading on from there needs no seek (a seek drops the
    // stream's buffer and costs a system call).
    uint64_t position = UINT64_MAX;
};

class MemoryByteSource final : public ByteSource {
public:
    // Borrows the bytes, which must outlive the source.
    MemoryByteSource(const uint8_t* data, size_t size) : data(data), length(size) {}
    // Keeps its own copy.
    explicit MemoryByteSource(std::vector<uint8_t> bytes)
        : owned(std::move(bytes)), data(owned.data()), length(owned.size()) {}

    uint64_t size() const override { return length; }
    bool readAt(uint64_t offset, void* destination, size_t count) override;

private:
    std::vector<uint8_t> owned;
    const uint8_t* data;
    size_t length;
};

// fseek/ftell with 64-bit offsets (long is 32 bits on Windows; files may pass 2 GB).
bool seekFile(FILE* file, uint64_t offset);
bool fileLength(FILE* file, uint64_t& length);

}  // namespace vl
