#include "Chunk.h"

#include <cmath>
#include <cstring>

namespace demo {

namespace {

constexpr uint8_t kMagic[4] = {'V', 'L', 'D', 'S'};

void putU16(uint8_t* at, uint16_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

void putU32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint16_t getU16(const uint8_t* at) { return static_cast<uint16_t>(at[0] | (at[1] << 8)); }

uint32_t getU32(const uint8_t* at) {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(at[i]) << (8 * i);
    return value;
}

}  // namespace

const char* describe(ChunkError error) {
    switch (error) {
        case ChunkError::None: return "no error";
        case ChunkError::Missing: return "no chunk data";
        case ChunkError::WrongSize: return "the chunk has the wrong size";
        case ChunkError::BadMagic: return "the chunk is not a demo synth state";
        case ChunkError::UnknownVersion: return "the chunk's format version is unknown";
        case ChunkError::WrongCount: return "the chunk has the wrong number of parameters";
        case ChunkError::ValueOutOfRange: return "a parameter value in the chunk is out of range";
    }
    return "unknown";
}

void encodeChunk(const ParamValues& values, ChunkBytes& out) {
    std::memcpy(out.data(), kMagic, sizeof kMagic);
    putU16(out.data() + 4, kChunkVersion);
    putU16(out.data() + 6, static_cast<uint16_t>(kNumParams));
    for (int i = 0; i < kNumParams; ++i) {
        uint32_t bits = 0;
        std::memcpy(&bits, &values[static_cast<size_t>(i)], sizeof bits);
        putU32(out.data() + kChunkHeaderSize + 4 * i, bits);
    }
}

ChunkError decodeChunk(const void* data, size_t size, ParamValues& values) {
    if (!data) return ChunkError::Missing;
    const auto* bytes = static_cast<const uint8_t*>(data);
    // Header first, so that a short record of another kind is named for what it is.
    if (size < kChunkHeaderSize) return ChunkError::WrongSize;
    if (std::memcmp(bytes, kMagic, sizeof kMagic) != 0) return ChunkError::BadMagic;
    if (getU16(bytes + 4) != kChunkVersion) return ChunkError::UnknownVersion;
    if (getU16(bytes + 6) != kNumParams) return ChunkError::WrongCount;
    if (size != kChunkSize) return ChunkError::WrongSize;

    ParamValues decoded{};
    for (int i = 0; i < kNumParams; ++i) {
        const uint32_t bits = getU32(bytes + kChunkHeaderSize + 4 * i);
        float value = 0.0f;
        std::memcpy(&value, &bits, sizeof value);
        if (!(value >= 0.0f && value <= 1.0f)) return ChunkError::ValueOutOfRange;
        decoded[static_cast<size_t>(i)] = value;
    }
    values = decoded;
    return ChunkError::None;
}

}  // namespace demo
