#pragma once
// The saved state: a small versioned little-endian record of the normalised parameter values.
//
//   offset  size  field
//   0       4     magic "VLDS"
//   4       2     format version (1)
//   6       2     parameter count (kNumParams)
//   8       4*n   one IEEE-754 single per parameter, in ParamId order, each within 0..1
//
// A chunk comes from a file the user may have damaged or from another plug-in, so reading
// checks everything and changes nothing unless the whole record is good.

#include <array>
#include <cstddef>
#include <cstdint>

#include "Parameters.h"

namespace demo {

constexpr uint16_t kChunkVersion = 1;
constexpr size_t kChunkHeaderSize = 8;
constexpr size_t kChunkSize = kChunkHeaderSize + 4 * kNumParams;

using ChunkBytes = std::array<uint8_t, kChunkSize>;

enum class ChunkError {
    None,
    Missing,         // no data
    WrongSize,
    BadMagic,
    UnknownVersion,
    WrongCount,      // a parameter count this build does not have
    ValueOutOfRange, // not a number, or outside 0..1
};

const char* describe(ChunkError error);

void encodeChunk(const ParamValues& values, ChunkBytes& out);
// On success fills values; on any error leaves them untouched.
ChunkError decodeChunk(const void* data, size_t size, ParamValues& values);

}  // namespace demo
