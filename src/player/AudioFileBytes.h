#pragma once
// Loads and stores of little- and big-endian integers at any byte position. Written with
// shifts so that they need no alignment and compile to single moves or byte swaps.

#include <cstdint>

namespace vl::bytes {

inline uint16_t loadLE16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
inline uint16_t loadBE16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }
inline uint32_t loadLE24(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16; }
inline uint32_t loadBE24(const uint8_t* p) { return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | uint32_t(p[2]); }
inline uint32_t loadLE32(const uint8_t* p) { return loadLE16(p) | uint32_t(loadLE16(p + 2)) << 16; }
inline uint32_t loadBE32(const uint8_t* p) { return uint32_t(loadBE16(p)) << 16 | loadBE16(p + 2); }
inline uint64_t loadLE64(const uint8_t* p) { return loadLE32(p) | uint64_t(loadLE32(p + 4)) << 32; }
inline uint64_t loadBE64(const uint8_t* p) { return uint64_t(loadBE32(p)) << 32 | loadBE32(p + 4); }

inline void storeLE16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void storeBE16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}
inline void storeLE32(uint8_t* p, uint32_t v) {
    storeLE16(p, uint16_t(v));
    storeLE16(p + 2, uint16_t(v >> 16));
}
inline void storeBE32(uint8_t* p, uint32_t v) {
    storeBE16(p, uint16_t(v >> 16));
    storeBE16(p + 2, uint16_t(v));
}
inline void storeBE64(uint8_t* p, uint64_t v) {
    storeBE32(p, uint32_t(v >> 32));
    storeBE32(p + 4, uint32_t(v));
}

// A four-character chunk id compared with its text.
inline bool isId(const uint8_t* p, const char (&id)[5]) {
    return p[0] == uint8_t(id[0]) && p[1] == uint8_t(id[1]) && p[2] == uint8_t(id[2]) && p[3] == uint8_t(id[3]);
}
inline void storeId(uint8_t* p, const char (&id)[5]) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(id[i]);
}

}  // namespace vl::bytes
