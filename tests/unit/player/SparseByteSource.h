#pragma once
// A byte source that claims to be far larger than the bytes it holds: the given head, then
// zeros up to the reported size. It stands for a sparse file of gigabytes (a header that
// announces billions of frames over a hole) without the disk or the memory.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "player/AudioFileSource.h"

namespace vl::test {

class SparseByteSource final : public ByteSource {
public:
    // head: the first bytes; reportedSize: what size() answers (at least head.size()).
    SparseByteSource(const uint8_t* head, size_t headSize, uint64_t reportedSize)
        : head(head, head + headSize), length(std::max<uint64_t>(reportedSize, headSize)) {}
    SparseByteSource(std::vector<uint8_t> bytes, uint64_t reportedSize)
        : head(std::move(bytes)), length(std::max<uint64_t>(reportedSize, head.size())) {}

    uint64_t size() const override { return length; }
    bool readAt(uint64_t offset, void* destination, size_t count) override {
        if (offset > length || count > length - offset) return false;
        auto* out = static_cast<uint8_t*>(destination);
        size_t fromHead = 0;
        if (offset < head.size()) {
            fromHead = static_cast<size_t>(std::min<uint64_t>(count, head.size() - offset));
            std::memcpy(out, head.data() + offset, fromHead);
        }
        std::memset(out + fromHead, 0, count - fromHead);
        reads += 1;
        return true;
    }

    uint64_t reads = 0;

private:
    std::vector<uint8_t> head;
    uint64_t length;
};

}  // namespace vl::test
