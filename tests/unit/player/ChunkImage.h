#pragma once
// Builds RIFF (WAV) and IFF (AIFF) byte images chunk by chunk, so that tests can make exactly
// the file they need, damaged ones included.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace vl::test {

using Bytes = std::vector<uint8_t>;

class ChunkImage {
public:
    static ChunkImage riff() { return ChunkImage(false, "RIFF", "WAVE"); }
    static ChunkImage form(const char* type = "AIFF") { return ChunkImage(true, "FORM", type); }

    // A chunk with its true size; a pad byte follows an odd body.
    ChunkImage& chunk(const std::string& id, const Bytes& body) {
        header(id, uint32_t(body.size()));
        append(body);
        if (body.size() & 1) bytes.push_back(0);
        return *this;
    }
    // A chunk header with any size, for lying headers.
    ChunkImage& header(const std::string& id, uint32_t size) {
        append(Bytes(id.begin(), id.end()));
        append(u32(size));
        return *this;
    }
    ChunkImage& append(const Bytes& more) {
        bytes.insert(bytes.end(), more.begin(), more.end());
        return *this;
    }
    // The image with its outer size set to what follows the size field.
    Bytes image() const {
        Bytes out = bytes;
        const Bytes size = u32(uint32_t(out.size() - 8));
        std::copy(size.begin(), size.end(), out.begin() + 4);
        return out;
    }

    Bytes u16(uint32_t v) const { return big ? Bytes{uint8_t(v >> 8), uint8_t(v)} : Bytes{uint8_t(v), uint8_t(v >> 8)}; }
    Bytes u32(uint32_t v) const {
        const Bytes hi = u16(v >> 16), lo = u16(v & 0xFFFF);
        return big ? cat({hi, lo}) : cat({lo, hi});
    }
    static Bytes cat(std::initializer_list<Bytes> parts) {
        Bytes out;
        for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
        return out;
    }

    bool big;
    Bytes bytes;

private:
    ChunkImage(bool bigEndian, const std::string& outer, const std::string& type) : big(bigEndian) {
        append(Bytes(outer.begin(), outer.end()));
        append(u32(0));
        append(Bytes(type.begin(), type.end()));
    }
};

// A "fmt " body of 16 bytes.
inline Bytes fmtBody(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits,
                     uint16_t blockAlign = 0) {
    const ChunkImage le = ChunkImage::riff();
    if (blockAlign == 0) blockAlign = uint16_t(channels * ((bits + 7) / 8));
    return ChunkImage::cat({le.u16(tag), le.u16(channels), le.u32(rate), le.u32(rate * blockAlign),
                            le.u16(blockAlign), le.u16(bits)});
}

// A WAVE_FORMAT_EXTENSIBLE "fmt " body (40 bytes) with the sub-format subTag.
inline Bytes extensibleFmtBody(uint16_t subTag, uint16_t channels, uint32_t rate, uint16_t bits,
                               uint8_t guidLastByte = 0x71) {
    const ChunkImage le = ChunkImage::riff();
    return ChunkImage::cat({fmtBody(0xFFFE, channels, rate, bits), le.u16(22), le.u16(bits), le.u32(3),
                            le.u16(subTag),
                            Bytes{0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, guidLastByte}});
}

// A COMM body: 18 bytes, or 22 plus a name with a compression type.
inline Bytes commBody(uint16_t channels, uint32_t frames, uint16_t bits, const Bytes& rate,
                      const std::string& compression = "") {
    const ChunkImage be = ChunkImage::form();
    Bytes out = ChunkImage::cat({be.u16(channels), be.u32(frames), be.u16(bits), rate});
    if (!compression.empty()) out = ChunkImage::cat({out, Bytes(compression.begin(), compression.end()), Bytes{0, 0}});
    return out;
}

// An SSND body: offset, block size 0, then the samples.
inline Bytes ssndBody(const Bytes& samples, uint32_t offset = 0) {
    const ChunkImage be = ChunkImage::form();
    return ChunkImage::cat({be.u32(offset), be.u32(0), Bytes(offset, 0xEE), samples});
}

}  // namespace vl::test
