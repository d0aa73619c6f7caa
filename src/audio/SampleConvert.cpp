#include "audio/SampleConvert.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <type_traits>
#include <utility>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define VL_SSE2 1
#if defined(__GNUC__)
#include <tmmintrin.h>
// SSSE3's byte shuffle packs and orders 24-bit samples in one step; every x86-64 processor since
// 2006 has it, and the code asks the processor once before it takes that path.
#define VL_SSSE3_DISPATCH 1
#endif
#endif

namespace vl {

namespace {

// 3.051804e-5 and 32767.506 as the exact singles the conversions are defined with.
constexpr float kInt16InScale = std::bit_cast<float>(0x3800007Fu);
constexpr float kInt16OutScale = std::bit_cast<float>(0x46FFFF03u);
constexpr float kInt24Scale = 8388608.0f;       // 2^23
constexpr float kInt24InScale = 1.0f / 8388608.0f;
static_assert(std::bit_cast<uint32_t>(kLimiterBound) == 0x3F7FFFFEu);

// c(x) * 2 * half, written out here rather than calling limitSample so that every loop body is
// visible to the vectoriser. NaN and the holding at +-1 work on the bits: |x| as an integer
// orders like x, and integer compares and masks vectorise without the chains of float selects
// (which the baseline vector unit blends one mask at a time). (|x + k| - |x - k|) is a multiple
// of k's spacing, far from the denormals, so halving it is exact and the half merges into the
// output scale: c(x) * scale rounds the same product as (|x + k| - |x - k|) * (scale / 2).
inline float limitScaled(float x, float half) {
    const auto bits = std::bit_cast<uint32_t>(x);
    const auto magnitude = static_cast<int32_t>(bits & 0x7FFFFFFFu);
    const int32_t held = magnitude > 0x7F800000 ? 0 : (magnitude > 0x3F800000 ? 0x3F800000 : magnitude);
    x = std::bit_cast<float>(static_cast<uint32_t>(held) | (bits & 0x80000000u));
    // The absolute values are defined in double precision; |v| of a single is exact, so the
    // single-precision fabs gives the same bits.
    const float above = std::fabs(x + kLimiterBound);
    const float below = std::fabs(x - kLimiterBound);
    return (above - below) * half;
}

inline float limit(float x) { return limitScaled(x, 0.5f); }

// trunc(c(x) * 2 * half - 0.5), as an integer. c is odd to the bit (swapping the operands of the
// subtraction negates it exactly), so it is taken of |x|, where x + k needs no absolute value,
// and the sign put back; only a zero may change sign that way, which truncates to 0 all the same.
inline int32_t limitedInteger(float x, float half) {
    const auto bits = std::bit_cast<uint32_t>(x);
    const auto magnitude = static_cast<int32_t>(bits & 0x7FFFFFFFu);
    const int32_t held = magnitude > 0x7F800000 ? 0 : (magnitude > 0x3F800000 ? 0x3F800000 : magnitude);
    const float h = std::bit_cast<float>(held);
    const float positive = ((h + kLimiterBound) - std::fabs(h - kLimiterBound)) * half;
    const float signed_ = std::bit_cast<float>(std::bit_cast<uint32_t>(positive) | (bits & 0x80000000u));
    return static_cast<int32_t>(signed_ - 0.5f);
}

inline int32_t limitedInt24(float x) { return limitedInteger(x, kInt24Scale * 0.5f); }

// Samples per chunk of the packed 24-bit conversions.
constexpr uint32_t kChunkSamples = 128;

// count samples of 3 bytes, low byte first, sign-extended. Each is read as the 4 bytes at its
// place (a byte of the next sample on top, shifted out), and the last of the buffer by bytes so
// that nothing past its end is read.
void unpackInt24(const uint8_t* __restrict in, int32_t* __restrict out, size_t count, bool last) {
    const size_t whole = last && count > 0 ? count - 1 : count;
    for (size_t i = 0; i < whole; ++i) {
        uint32_t word;
        std::memcpy(&word, in + 3 * i, 4);
        out[i] = static_cast<int32_t>(word << 8) >> 8;
    }
    if (whole < count) {
        const uint8_t* s = in + 3 * whole;
        const uint32_t raw = uint32_t(s[0]) | uint32_t(s[1]) << 8 | uint32_t(s[2]) << 16;
        out[whole] = static_cast<int32_t>(raw << 8) >> 8;
    }
}

// The low 24 bits of count samples, 3 bytes each, low byte first. Each is stored as a 4-byte
// word at its place, whose top byte the next sample's store overwrites; the last of the buffer
// is stored by bytes so that nothing past its end is written.
void packInt24(const int32_t* __restrict in, uint8_t* __restrict out, size_t count, bool last) {
    const size_t whole = last && count > 0 ? count - 1 : count;
    size_t i = 0;
    for (; i < whole; ++i) std::memcpy(out + 3 * i, &in[i], 4);
    if (whole < count) {
        const auto y = static_cast<uint32_t>(in[whole]);
        uint8_t* s = out + 3 * whole;
        s[0] = static_cast<uint8_t>(y);
        s[1] = static_cast<uint8_t>(y >> 8);
        s[2] = static_cast<uint8_t>(y >> 16);
    }
}

inline uint16_t swapBytes(uint16_t v) { return uint16_t(v << 8 | v >> 8); }
inline uint32_t swapBytes(uint32_t v) {
    return v >> 24 | (v >> 8 & 0xFF00u) | (v << 8 & 0xFF0000u) | v << 24;
}
inline uint64_t swapBytes(uint64_t v) { return uint64_t(swapBytes(uint32_t(v))) << 32 | swapBytes(uint32_t(v >> 32)); }

template <typename Word>
void reverseWords(uint8_t* bytes, uint32_t samples) {
    for (uint32_t i = 0; i < samples; ++i) {
        Word w;
        std::memcpy(&w, bytes + size_t(i) * sizeof(Word), sizeof(Word));
        w = swapBytes(w);
        std::memcpy(bytes + size_t(i) * sizeof(Word), &w, sizeof(Word));
    }
}

#if VL_SSE2
// Byte masks of one 16-byte piece of a 48-byte block of packed 24-bit samples, by the place of
// each byte in its sample: the first (which takes the third's value), the middle (kept) and the
// third (which takes the first's).
inline __m128i placeMask(unsigned piece, unsigned place) {
    alignas(16) uint8_t m[16];
    for (unsigned j = 0; j < 16; ++j) m[j] = (piece * 16 + j) % 3 == place ? 0xFF : 0x00;
    return _mm_load_si128(reinterpret_cast<const __m128i*>(m));
}

// Sixteen samples (48 bytes, three registers) at a time: every first byte of a sample takes the
// byte two places on, every third byte the one two places back, the registers' byte shifts
// carrying across their borders. Returns the samples done.
uint32_t reversePacked24Blocks(uint8_t* bytes, uint32_t samples) {
    const __m128i first0 = placeMask(0, 0), first1 = placeMask(1, 0), first2 = placeMask(2, 0);
    const __m128i middle0 = placeMask(0, 1), middle1 = placeMask(1, 1), middle2 = placeMask(2, 1);
    const __m128i third0 = placeMask(0, 2), third1 = placeMask(1, 2), third2 = placeMask(2, 2);
    uint32_t i = 0;
    for (; i + 16 <= samples; i += 16) {
        auto* p = reinterpret_cast<__m128i*>(bytes + 3 * size_t(i));
        const __m128i a = _mm_loadu_si128(p), b = _mm_loadu_si128(p + 1), c = _mm_loadu_si128(p + 2);
        // Byte j of "on" holds byte j + 2 of the block, of "back" byte j - 2.
        const __m128i onA = _mm_or_si128(_mm_srli_si128(a, 2), _mm_slli_si128(b, 14));
        const __m128i onB = _mm_or_si128(_mm_srli_si128(b, 2), _mm_slli_si128(c, 14));
        const __m128i onC = _mm_srli_si128(c, 2);
        const __m128i backA = _mm_slli_si128(a, 2);
        const __m128i backB = _mm_or_si128(_mm_slli_si128(b, 2), _mm_srli_si128(a, 14));
        const __m128i backC = _mm_or_si128(_mm_slli_si128(c, 2), _mm_srli_si128(b, 14));
        const auto merge = [](__m128i keep, __m128i on, __m128i back, __m128i first, __m128i middle, __m128i third) {
            return _mm_or_si128(_mm_or_si128(_mm_and_si128(on, first), _mm_and_si128(keep, middle)),
                                _mm_and_si128(back, third));
        };
        _mm_storeu_si128(p, merge(a, onA, backA, first0, middle0, third0));
        _mm_storeu_si128(p + 1, merge(b, onB, backB, first1, middle1, third1));
        _mm_storeu_si128(p + 2, merge(c, onC, backC, first2, middle2, third2));
    }
    return i;
}
#endif

void reversePacked24(uint8_t* bytes, uint32_t samples) {
#if VL_SSE2
    const uint32_t blocks = reversePacked24Blocks(bytes, samples);
    bytes += size_t(blocks) * 3;
    samples -= blocks;
#endif
    for (uint32_t i = 0; i < samples; ++i) {
        uint8_t* s = bytes + size_t(i) * 3;
        const uint8_t first = s[0];
        s[0] = s[2];
        s[2] = first;
    }
}

}  // namespace

float limitSample(float x) { return limit(x); }

namespace planar {

void int16ToFloat(const int16_t* in, float* out, uint32_t frames) {
    for (uint32_t i = 0; i < frames; ++i) out[i] = (static_cast<float>(in[i]) + 0.5f) * kInt16InScale;
}

void floatToInt16(const float* in, int16_t* out, uint32_t frames) {
    for (uint32_t i = 0; i < frames; ++i)
        out[i] = static_cast<int16_t>(limitedInteger(in[i], kInt16OutScale * 0.5f));
}

// Packed 24-bit samples go through fixed-width chunks of 32-bit integers: the vector units have
// no cheap 3-byte lanes, so four samples move as three 32-bit words in plain integer code, and
// the arithmetic runs over the chunk in a loop the vectoriser takes.
#if VL_SSE2
// Four packed 24-bit samples, sign-extended into the lanes. Two 8-byte loads put two samples
// into the low 6 bytes of each 64-bit half; shifting the half up by 8 bits puts its first
// sample, and by 16 bits its second, into the top 24 bits of their lanes, and the arithmetic
// shift back sign-extends. Reads the 14 bytes from p.
inline __m128i loadInt24x4(const uint8_t* p) {
    const __m128i x = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)),
                                         _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + 6)));
    const __m128i second = _mm_set_epi32(-1, 0, -1, 0);
    const __m128i top = _mm_or_si128(_mm_andnot_si128(second, _mm_slli_epi64(x, 8)),
                                     _mm_and_si128(second, _mm_slli_epi64(x, 16)));
    return _mm_srai_epi32(top, 8);
}

// Eight samples a time while at least one more follows, so that no load passes the buffer's
// end. Returns the samples done.
uint32_t int24ToFloatGroups(const uint8_t* in, float* out, uint32_t frames) {
    const __m128 half = _mm_set1_ps(0.5f), scale = _mm_set1_ps(kInt24InScale);
    const auto convert4 = [&](const uint8_t* p) {
        return _mm_mul_ps(_mm_add_ps(_mm_cvtepi32_ps(loadInt24x4(p)), half), scale);
    };
    uint32_t i = 0;
    for (; i + 8 < frames; i += 8) {
        _mm_storeu_ps(out + i, convert4(in + 3 * size_t(i)));
        _mm_storeu_ps(out + i + 4, convert4(in + 3 * size_t(i) + 12));
    }
    return i;
}
#endif

void int24ToFloat(const uint8_t* __restrict in, float* __restrict out, uint32_t frames) {
#if VL_SSE2
    const uint32_t grouped = int24ToFloatGroups(in, out, frames);
    in += size_t(grouped) * 3;
    out += grouped;
    frames -= grouped;
#endif
    int32_t chunk[kChunkSamples];
    for (uint32_t done = 0; done < frames; done += kChunkSamples) {
        const uint32_t n = frames - done < kChunkSamples ? frames - done : kChunkSamples;
        unpackInt24(in + size_t(done) * 3, chunk, n, done + n == frames);
        float* __restrict o = out + done;
        for (uint32_t i = 0; i < n; ++i) o[i] = (static_cast<float>(chunk[i]) + 0.5f) * kInt24InScale;
    }
}

#if VL_SSE2
// |x| limited to 0..k, to the bit of what the limiter does with it. The max answers its second
// operand, 0, for NaN. Holding at k rather than 1 changes no result: the only singles between k
// and 1 (1 - 2^-24 and 1) come out of c at k as well. Below k, |h - k| is k - h.
inline __m128 heldMagnitude(__m128 x) {
    const __m128 magnitude = _mm_andnot_ps(_mm_castsi128_ps(_mm_set1_epi32(int32_t(0x80000000u))), x);
    return _mm_min_ps(_mm_max_ps(magnitude, _mm_setzero_ps()), _mm_set1_ps(kLimiterBound));
}

// limitedInt24 of four samples, to the bit: c of the held magnitude, the sign put back.
inline __m128i limitedInt24x4(__m128 x) {
    const __m128 sign = _mm_castsi128_ps(_mm_set1_epi32(int32_t(0x80000000u)));
    const __m128 bound = _mm_set1_ps(kLimiterBound);
    const __m128 h = heldMagnitude(x);
    const __m128 positive =
        _mm_mul_ps(_mm_sub_ps(_mm_add_ps(h, bound), _mm_sub_ps(bound, h)), _mm_set1_ps(kInt24Scale * 0.5f));
    const __m128 signed_ = _mm_or_ps(positive, _mm_and_ps(x, sign));
    return _mm_cvttps_epi32(_mm_sub_ps(signed_, _mm_set1_ps(0.5f)));
}

// limitSample of four samples, to the bit: the held magnitude with the sign of x, inside -k..k
// where neither absolute value of the formula changes anything (a zero comes out positive, as
// the formula gives it).
inline __m128 limitSamplex4(__m128 x) {
    const __m128 bound = _mm_set1_ps(kLimiterBound);
    const __m128 sign = _mm_castsi128_ps(_mm_set1_epi32(int32_t(0x80000000u)));
    const __m128 held = _mm_or_ps(heldMagnitude(x), _mm_and_ps(x, sign));
    return _mm_mul_ps(_mm_sub_ps(_mm_add_ps(held, bound), _mm_sub_ps(bound, held)), _mm_set1_ps(0.5f));
}

// Four samples at a time straight from the registers: each 64-bit half holds two samples as 48
// bits, stored as 8 bytes whose top two the next store overwrites. A group is only taken while
// at least one sample follows it, so nothing is written past the buffer. For the big-endian
// twin the first and third byte of every lane trade places before the packing (the fourth is
// dropped by it). Returns the samples done.
template <bool bigEndian>
uint32_t floatToInt24Groups(const float* in, uint8_t* out, uint32_t frames) {
    const __m128i low24 = _mm_set_epi32(0, 0x00FFFFFF, 0, 0x00FFFFFF);
    const __m128i high24 = _mm_set_epi32(0x00FFFFFF, 0, 0x00FFFFFF, 0);
    const __m128i byte0 = _mm_set1_epi32(0xFF), byte1 = _mm_set1_epi32(0xFF00);
    const auto group = [&](uint32_t i) {
        __m128i v = limitedInt24x4(_mm_loadu_ps(in + i));
        if constexpr (bigEndian)
            v = _mm_or_si128(_mm_or_si128(_mm_and_si128(_mm_srli_epi32(v, 16), byte0), _mm_and_si128(v, byte1)),
                             _mm_slli_epi32(v, 16));
        const __m128i pairs = _mm_or_si128(_mm_and_si128(v, low24), _mm_srli_epi64(_mm_and_si128(v, high24), 8));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 3 * size_t(i)), pairs);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 3 * size_t(i) + 6), _mm_srli_si128(pairs, 8));
    };
    uint32_t i = 0;
    for (; i + 8 < frames; i += 8) {  // two groups a turn: the loop's own steps cost a tenth
        group(i);
        group(i + 4);
    }
    if (i + 4 < frames) {
        group(i);
        i += 4;
    }
    return i;
}

#if VL_SSSE3_DISPATCH
// The same groups with the byte shuffle: each lane's three low bytes, in either order, packed
// into the low 12 bytes and stored as 16, whose top 4 the next store overwrites. Two groups a
// turn while at least two samples follow them, so the last store stays inside the buffer.
template <bool bigEndian>
__attribute__((target("ssse3"))) uint32_t floatToInt24GroupsShuffled(const float* in, uint8_t* out,
                                                                     uint32_t frames) {
    const __m128i order = bigEndian ? _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1)
                                    : _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    uint32_t i = 0;
    for (; i + 10 <= frames; i += 8) {
        const __m128i a = _mm_shuffle_epi8(limitedInt24x4(_mm_loadu_ps(in + i)), order);
        const __m128i b = _mm_shuffle_epi8(limitedInt24x4(_mm_loadu_ps(in + i + 4)), order);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * size_t(i)), a);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * size_t(i) + 12), b);
    }
    return i;
}

bool processorShuffles() {
    static const bool has = __builtin_cpu_supports("ssse3");
    return has;
}
#endif
#endif

template <bool bigEndian>
void floatToPacked24(const float* __restrict in, uint8_t* __restrict out, uint32_t frames) {
#if VL_SSSE3_DISPATCH
    if (processorShuffles()) {
        const uint32_t shuffled = floatToInt24GroupsShuffled<bigEndian>(in, out, frames);
        in += shuffled;
        out += size_t(shuffled) * 3;
        frames -= shuffled;
    }
#endif
#if VL_SSE2
    const uint32_t grouped = floatToInt24Groups<bigEndian>(in, out, frames);
    in += grouped;
    out += size_t(grouped) * 3;
    frames -= grouped;
#endif
    int32_t chunk[kChunkSamples];
    for (uint32_t done = 0; done < frames; done += kChunkSamples) {
        const uint32_t n = frames - done < kChunkSamples ? frames - done : kChunkSamples;
        const float* __restrict x = in + done;
        for (uint32_t i = 0; i < n; ++i) chunk[i] = limitedInt24(x[i]);
        packInt24(chunk, out + size_t(done) * 3, n, done + n == frames);
    }
    if constexpr (bigEndian) reversePacked24(out, frames);
}

void floatToInt24(const float* in, uint8_t* out, uint32_t frames) { floatToPacked24<false>(in, out, frames); }

// The container is aligned to 24 bits by one shift whose direction is chosen once per buffer,
// so that each loop has a single shift count.
void int32ToFloat(const int32_t* __restrict in, float* __restrict out, uint32_t frames, unsigned significantBits) {
    if (significantBits < 24) {
        const unsigned shift = 24 - significantBits;
        for (uint32_t i = 0; i < frames; ++i)
            out[i] = (static_cast<float>(static_cast<int32_t>(static_cast<uint32_t>(in[i]) << shift)) + 0.5f) *
                     kInt24InScale;
    } else {
        const unsigned shift = significantBits - 24;
        for (uint32_t i = 0; i < frames; ++i) out[i] = (static_cast<float>(in[i] >> shift) + 0.5f) * kInt24InScale;
    }
}

void floatToInt32(const float* __restrict in, int32_t* __restrict out, uint32_t frames, unsigned significantBits) {
    if (significantBits < 24) {
        const unsigned shift = 24 - significantBits;
        for (uint32_t i = 0; i < frames; ++i) out[i] = limitedInt24(in[i]) >> shift;
    } else {
        const unsigned shift = significantBits - 24;
        for (uint32_t i = 0; i < frames; ++i)
            out[i] = static_cast<int32_t>(static_cast<uint32_t>(limitedInt24(in[i])) << shift);
    }
}

void float32ToFloat(const float* in, float* out, uint32_t frames) {
    for (uint32_t i = 0; i < frames; ++i) out[i] = in[i];
}

void floatToFloat32(const float* in, float* out, uint32_t frames) {
    for (uint32_t i = 0; i < frames; ++i) out[i] = in[i];
}

void float64ToFloat(const double* in, float* out, uint32_t frames) {
    for (uint32_t i = 0; i < frames; ++i) out[i] = static_cast<float>(in[i]);
}

void floatToFloat64(const float* in, double* out, uint32_t frames) {
    for (uint32_t i = 0; i < frames; ++i) out[i] = static_cast<double>(limit(in[i]));
}

}  // namespace planar

void reverseSampleBytes(void* buffer, uint32_t samples, unsigned bytesPerSample) {
    auto* bytes = static_cast<uint8_t*>(buffer);
    switch (bytesPerSample) {
        case 2: reverseWords<uint16_t>(bytes, samples); break;
        case 3: reversePacked24(bytes, samples); break;
        case 4: reverseWords<uint32_t>(bytes, samples); break;
        case 8: reverseWords<uint64_t>(bytes, samples); break;
        default: break;
    }
}

bool planarLayoutFor(int32_t sampleType, PlanarLayout& layout) {
    using F = PlanarLayout::Family;
    // The big-endian codes are their little-endian twin minus 16.
    const bool bigEndian = sampleType >= 0 && sampleType < 16;
    switch (static_cast<PlanarSampleType>(bigEndian ? sampleType + 16 : sampleType)) {
        case PlanarSampleType::Int16LSB: layout = {F::Int16, 2, 16, bigEndian}; return true;
        case PlanarSampleType::Int24LSB: layout = {F::Int24, 3, 24, bigEndian}; return true;
        case PlanarSampleType::Int32LSB: layout = {F::Int32, 4, 32, bigEndian}; return true;
        case PlanarSampleType::Float32LSB: layout = {F::Float32, 4, 32, bigEndian}; return true;
        case PlanarSampleType::Float64LSB: layout = {F::Float64, 8, 64, bigEndian}; return true;
        case PlanarSampleType::Int32LSB16: layout = {F::Int32, 4, 16, bigEndian}; return true;
        case PlanarSampleType::Int32LSB18: layout = {F::Int32, 4, 18, bigEndian}; return true;
        case PlanarSampleType::Int32LSB20: layout = {F::Int32, 4, 20, bigEndian}; return true;
        case PlanarSampleType::Int32LSB24: layout = {F::Int32, 4, 24, bigEndian}; return true;
        default: return false;
    }
}

void planarToFloat(const PlanarLayout& layout, void* device, float* out, uint32_t frames) {
    using F = PlanarLayout::Family;
    if (layout.bigEndian) reverseSampleBytes(device, frames, layout.bytesPerSample);
    switch (layout.family) {
        case F::Int16: planar::int16ToFloat(static_cast<const int16_t*>(device), out, frames); break;
        case F::Int24: planar::int24ToFloat(static_cast<const uint8_t*>(device), out, frames); break;
        case F::Int32:
            planar::int32ToFloat(static_cast<const int32_t*>(device), out, frames, layout.significantBits);
            break;
        case F::Float32: planar::float32ToFloat(static_cast<const float*>(device), out, frames); break;
        case F::Float64: planar::float64ToFloat(static_cast<const double*>(device), out, frames); break;
    }
}

void floatToPlanar(const PlanarLayout& layout, const float* in, void* device, uint32_t frames) {
    using F = PlanarLayout::Family;
    if (layout.family == F::Int24 && layout.bigEndian) {  // in one pass, the bytes swapped on the way
        planar::floatToPacked24<true>(in, static_cast<uint8_t*>(device), frames);
        return;
    }
    switch (layout.family) {
        case F::Int16: planar::floatToInt16(in, static_cast<int16_t*>(device), frames); break;
        case F::Int24: planar::floatToInt24(in, static_cast<uint8_t*>(device), frames); break;
        case F::Int32: planar::floatToInt32(in, static_cast<int32_t*>(device), frames, layout.significantBits); break;
        case F::Float32: planar::floatToFloat32(in, static_cast<float*>(device), frames); break;
        case F::Float64: planar::floatToFloat64(in, static_cast<double*>(device), frames); break;
    }
    if (layout.bigEndian) reverseSampleBytes(device, frames, layout.bytesPerSample);
}

namespace interleaved {

namespace {

// The integer inputs are scaled by 2^-15 or 2^-31 in double precision and rounded to single.
// Both products are exact in double precision, and the scale is a power of two, so the result is
// the sample rounded to single and scaled in single precision: a multiply the vector unit does
// four at a time instead of two.
constexpr float kInt16InterleavedScale = 1.0f / 32768.0f;
constexpr float kInt32InterleavedScale = 1.0f / 2147483648.0f;

template <typename Sample>
inline float scaled(Sample s, float scale) {
    return static_cast<float>(s) * scale;
}
inline float scaled(float s, float) { return s; }  // singles are copied, NaNs and all

// Stereo frames to the planes, with the stride the vectoriser knows.
template <typename Sample>
void stereoToPlanes(const Sample* in, float* left, float* right, uint32_t frames, float scale) {
    for (uint32_t i = 0; i < frames; ++i) {
        left[i] = scaled(in[2 * size_t(i)], scale);
        right[i] = scaled(in[2 * size_t(i) + 1], scale);
    }
}

// Channels 2p and 2p+1 of the last pair of every frame; a lone channel feeds both planes.
template <typename Sample>
void toPlanes(const Sample* in, uint32_t channels, float* left, float* right, uint32_t frames, float scale) {
    if (channels == 0) return;
    if (channels == 1) {
        for (uint32_t i = 0; i < frames; ++i) left[i] = right[i] = scaled(in[i], scale);
        return;
    }
    if (channels == 2) return stereoToPlanes(in, left, right, frames, scale);
    const size_t pair = 2 * size_t(channels / 2 - 1);
    for (uint32_t i = 0; i < frames; ++i) {
        const Sample* frame = in + size_t(i) * channels;
        left[i] = scaled(frame[pair], scale);
        right[i] = scaled(frame[pair + 1], scale);
    }
}

// x * 32767 in single precision, limited to the 16-bit range and truncated. Both ends of the
// range are singles, so limiting the single gives what limiting it in double precision gives.
// The limiting is written as masks of the compares (the baseline vector unit has no blend, and
// chained selects would each cost a masking of their own); NaN fails every compare but the
// ordered one, which clears it to 0.
inline int16_t toInterleavedInt16(float x) {
    const float v = x * 32767.0f;
    const uint32_t below = v < -32768.0f ? ~0u : 0u;
    const uint32_t above = v > 32767.0f ? ~0u : 0u;
    const uint32_t ordered = v == v ? ~0u : 0u;
    const uint32_t bits = (std::bit_cast<uint32_t>(v) & ~(below | above) & ordered) |
                          (std::bit_cast<uint32_t>(-32768.0f) & below) | (std::bit_cast<uint32_t>(32767.0f) & above);
    return static_cast<int16_t>(static_cast<int32_t>(std::bit_cast<float>(bits)));
}

// x * 2^31 in single precision, limited to the 32-bit range and truncated. 2147483647 is no
// single: every single below 2^31 truncates inside the range, and 2^31 or more is the top, as
// limiting in double precision would give.
inline int32_t toInterleavedInt32(float x) {
    float v = x * 2147483648.0f;
    v = (v == v) ? v : 0.0f;
    v = v < -2147483648.0f ? -2147483648.0f : v;
    const bool top = v >= 2147483648.0f;
    const auto truncated = static_cast<int32_t>(top ? 0.0f : v);
    return top ? INT32_MAX : truncated;
}

#if VL_SSE2
// toInterleavedInt16 of four samples, to the bit. GCC keeps the selects of the bounds as
// compares and masks (it does not prove that the min and max instructions treat NaN as the
// selects do), so they are spelt out: NaN is masked to 0 first, and then max(v, low) and
// min(v, high) are v < low ? low : v and v > high ? high : v.
inline __m128i interleavedInt16x4(const float* p) {
    const __m128 v = _mm_mul_ps(_mm_loadu_ps(p), _mm_set1_ps(32767.0f));
    const __m128 ordered = _mm_and_ps(v, _mm_cmpord_ps(v, v));
    return _mm_cvttps_epi32(_mm_min_ps(_mm_max_ps(ordered, _mm_set1_ps(-32768.0f)), _mm_set1_ps(32767.0f)));
}

// Eight samples as 16-bit integers. The clamped values truncate inside the 16-bit range, so the
// saturating pack changes none of them.
inline __m128i interleavedInt16x8(const float* p) {
    return _mm_packs_epi32(interleavedInt16x4(p), interleavedInt16x4(p + 4));
}

// Eight stereo frames at a time. Returns the frames done.
uint32_t stereoToInt16(const float* left, const float* right, int16_t* out, uint32_t frames) {
    uint32_t i = 0;
    for (; i + 8 <= frames; i += 8) {
        const __m128i l = interleavedInt16x8(left + i), r = interleavedInt16x8(right + i);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * size_t(i)), _mm_unpacklo_epi16(l, r));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * size_t(i) + 8), _mm_unpackhi_epi16(l, r));
    }
    return i;
}

// Four-channel frames, eight at a time, for the other choices: no two chosen channels both even
// or both odd, and not side by side in one half of the frame. Each frame is built as left,
// right, left, right ("straight") or right, left, right, left ("crossed") and masked per
// channel. Returns the frames done.
template <bool crossed>
uint32_t quadMaskedToInt16(const float* left, const float* right, int16_t* out, uint32_t frames, __m128i mask) {
    uint32_t i = 0;
    for (; i + 8 <= frames; i += 8) {
        __m128i l = interleavedInt16x8(left + i), r = interleavedInt16x8(right + i);
        if constexpr (crossed) std::swap(l, r);
        const __m128i pairs[2] = {_mm_unpacklo_epi16(l, r), _mm_unpackhi_epi16(l, r)};
        auto* o = reinterpret_cast<__m128i*>(out + 4 * size_t(i));
        for (int h = 0; h < 2; ++h) {
            _mm_storeu_si128(o + 2 * h, _mm_and_si128(_mm_unpacklo_epi32(pairs[h], pairs[h]), mask));
            _mm_storeu_si128(o + 2 * h + 1, _mm_and_si128(_mm_unpackhi_epi32(pairs[h], pairs[h]), mask));
        }
    }
    return i;
}

// Four-channel frames, eight at a time, for two chosen channels both even or both odd: a frame
// is two 32-bit units, each one plane's sample beside a zero (the sample second for odd
// channels), the plane of the lower channel first. Returns the frames done.
template <bool odd>
uint32_t quadSpreadToInt16(const float* lower, const float* upper, int16_t* out, uint32_t frames) {
    const __m128i zero = _mm_setzero_si128();
    const auto units = [&](__m128i v, int h) {
        if constexpr (odd) return h == 0 ? _mm_unpacklo_epi16(zero, v) : _mm_unpackhi_epi16(zero, v);
        return h == 0 ? _mm_unpacklo_epi16(v, zero) : _mm_unpackhi_epi16(v, zero);
    };
    uint32_t i = 0;
    for (; i + 8 <= frames; i += 8) {
        const __m128i a = interleavedInt16x8(lower + i), b = interleavedInt16x8(upper + i);
        auto* o = reinterpret_cast<__m128i*>(out + 4 * size_t(i));
        for (int h = 0; h < 2; ++h) {
            const __m128i ua = units(a, h), ub = units(b, h);
            _mm_storeu_si128(o + 2 * h, _mm_unpacklo_epi32(ua, ub));
            _mm_storeu_si128(o + 2 * h + 1, _mm_unpackhi_epi32(ua, ub));
        }
    }
    return i;
}

// Four-channel frames, eight at a time, for two chosen channels side by side in the lower or the
// upper half of the frame: the two samples are one 32-bit unit, the other unit zero, the plane
// of the even channel first. Returns the frames done.
template <bool upper>
uint32_t quadPairToInt16(const float* even, const float* odd, int16_t* out, uint32_t frames) {
    const __m128i zero = _mm_setzero_si128();
    const auto frames2 = [&](__m128i pairs, bool high) {
        if constexpr (upper) return high ? _mm_unpackhi_epi32(zero, pairs) : _mm_unpacklo_epi32(zero, pairs);
        return high ? _mm_unpackhi_epi32(pairs, zero) : _mm_unpacklo_epi32(pairs, zero);
    };
    uint32_t i = 0;
    for (; i + 8 <= frames; i += 8) {
        const __m128i a = interleavedInt16x8(even + i), b = interleavedInt16x8(odd + i);
        const __m128i pairs[2] = {_mm_unpacklo_epi16(a, b), _mm_unpackhi_epi16(a, b)};
        auto* o = reinterpret_cast<__m128i*>(out + 4 * size_t(i));
        for (int h = 0; h < 2; ++h) {
            _mm_storeu_si128(o + 2 * h, frames2(pairs[h], false));
            _mm_storeu_si128(o + 2 * h + 1, frames2(pairs[h], true));
        }
    }
    return i;
}

uint32_t quadToInt16(const float* left, const float* right, int16_t* out, uint32_t frames, int32_t leftChannel,
                     int32_t rightChannel) {
    const auto inside = [](int32_t c) { return c >= 0 && c < 4; };
    if (inside(leftChannel) && inside(rightChannel) && leftChannel / 2 == rightChannel / 2 &&
        leftChannel != rightChannel) {
        const bool leftEven = leftChannel % 2 == 0;
        const float* even = leftEven ? left : right;
        const float* odd = leftEven ? right : left;
        return leftChannel >= 2 ? quadPairToInt16<true>(even, odd, out, frames)
                                : quadPairToInt16<false>(even, odd, out, frames);
    }
    if (inside(leftChannel) && inside(rightChannel) && leftChannel != rightChannel &&
        leftChannel % 2 == rightChannel % 2) {
        const bool leftLower = leftChannel < rightChannel;
        const float* lower = leftLower ? left : right;
        const float* upper = leftLower ? right : left;
        return leftChannel % 2 ? quadSpreadToInt16<true>(lower, upper, out, frames)
                               : quadSpreadToInt16<false>(lower, upper, out, frames);
    }
    // Every chosen channel now takes its plane at the even places of the straight frame, or
    // every one at the odd places (that of the crossed frame).
    alignas(16) int16_t mask[8];
    bool crossed = false;
    for (int32_t j = 0; j < 4; ++j) {
        const int takes = j == leftChannel ? 1 : (j == rightChannel ? 2 : 0);  // 1 left, 2 right
        mask[j] = mask[j + 4] = takes != 0 ? -1 : 0;
        crossed |= takes != 0 && (takes == 1) != (j % 2 == 0);
    }
    const __m128i m = _mm_load_si128(reinterpret_cast<const __m128i*>(mask));
    return crossed ? quadMaskedToInt16<true>(left, right, out, frames, m)
                   : quadMaskedToInt16<false>(left, right, out, frames, m);
}

// toInterleavedInt32 of four samples, to the bit: the conversion answers 0x80000000 for every
// value outside the 32-bit range, which is the bottom limit already, and the top's mask turns
// it into 0x7FFFFFFF. NaN is masked to 0 first.
inline __m128i interleavedInt32x4(const float* p) {
    const __m128 v = _mm_mul_ps(_mm_loadu_ps(p), _mm_set1_ps(2147483648.0f));
    const __m128 ordered = _mm_and_ps(v, _mm_cmpord_ps(v, v));
    const __m128i top = _mm_castps_si128(_mm_cmpge_ps(ordered, _mm_set1_ps(2147483648.0f)));
    return _mm_xor_si128(_mm_cvttps_epi32(ordered), top);
}

// limitSample of eight stereo frames at a time. Returns the frames done.
uint32_t stereoToFloat32(const float* left, const float* right, float* out, uint32_t frames) {
    uint32_t i = 0;
    for (; i + 8 <= frames; i += 8) {
        for (uint32_t h = 0; h < 8; h += 4) {
            const __m128 l = planar::limitSamplex4(_mm_loadu_ps(left + i + h));
            const __m128 r = planar::limitSamplex4(_mm_loadu_ps(right + i + h));
            _mm_storeu_ps(out + 2 * size_t(i + h), _mm_unpacklo_ps(l, r));
            _mm_storeu_ps(out + 2 * size_t(i + h) + 4, _mm_unpackhi_ps(l, r));
        }
    }
    return i;
}

// Eight stereo frames at a time. Returns the frames done.
uint32_t stereoToInt32(const float* left, const float* right, int32_t* out, uint32_t frames) {
    uint32_t i = 0;
    for (; i + 8 <= frames; i += 8) {
        for (uint32_t h = 0; h < 8; h += 4) {
            const __m128i l = interleavedInt32x4(left + i + h), r = interleavedInt32x4(right + i + h);
            auto* o = reinterpret_cast<__m128i*>(out + 2 * size_t(i + h));
            _mm_storeu_si128(o, _mm_unpacklo_epi32(l, r));
            _mm_storeu_si128(o + 1, _mm_unpackhi_epi32(l, r));
        }
    }
    return i;
}
#endif

template <typename Sample, Sample (*convert)(float)>
void fromPlanes(const float* left, const float* right, Sample* out, uint32_t channels, int32_t leftChannel,
                int32_t rightChannel, uint32_t frames) {
    if (channels == 2 && leftChannel == 0 && rightChannel == 1) {
        if constexpr (sizeof(Sample) == 2) {
            // A frame of two 16-bit samples is built and stored as one 32-bit word: the
            // vectoriser then stores whole vectors instead of extracting every sample.
            constexpr bool little = std::endian::native == std::endian::little;
            uint32_t i = 0;
#if VL_SSE2
            if constexpr (convert == toInterleavedInt16) i = stereoToInt16(left, right, out, frames);
#endif
            for (; i < frames; ++i) {
                const auto l = static_cast<uint16_t>(convert(left[i]));
                const auto r = static_cast<uint16_t>(convert(right[i]));
                const uint32_t frame = little ? (l | uint32_t(r) << 16) : (r | uint32_t(l) << 16);
                std::memcpy(out + 2 * size_t(i), &frame, 4);
            }
        } else {
            uint32_t i = 0;
#if VL_SSE2
            if constexpr (std::is_same_v<Sample, int32_t>) {
                if constexpr (convert == toInterleavedInt32) i = stereoToInt32(left, right, out, frames);
            } else if constexpr (std::is_same_v<Sample, float>) {
                if constexpr (convert == limit) i = stereoToFloat32(left, right, out, frames);
            }
#endif
            for (; i < frames; ++i) {
                out[2 * size_t(i)] = convert(left[i]);
                out[2 * size_t(i) + 1] = convert(right[i]);
            }
        }
        return;
    }
#if VL_SSE2
    if constexpr (std::is_same_v<Sample, int16_t>) {
        if constexpr (convert == toInterleavedInt16) {
            if (channels == 4) {
                const uint32_t done = quadToInt16(left, right, out, frames, leftChannel, rightChannel);
                left += done;
                right += done;
                out += 4 * size_t(done);
                frames -= done;
            }
        }
    }
#endif
    const size_t total = size_t(frames) * channels;
    for (size_t i = 0; i < total; ++i) out[i] = 0;
    const auto selects = [channels](int32_t channel) { return channel >= 0 && uint32_t(channel) < channels; };
    // Left is written last so that it wins when both choices name the same channel.
    if (selects(rightChannel) && rightChannel != leftChannel) {
        for (uint32_t i = 0; i < frames; ++i) out[size_t(i) * channels + uint32_t(rightChannel)] = convert(right[i]);
    }
    if (selects(leftChannel)) {
        for (uint32_t i = 0; i < frames; ++i) out[size_t(i) * channels + uint32_t(leftChannel)] = convert(left[i]);
    }
}

// Channels left and right of every frame (already checked against channels). A stereo frame
// taken whole, in either order, goes through the loop of fixed stride.
template <typename Sample>
void chosenToPlanes(const Sample* in, uint32_t channels, InputChannels chosen, float* left, float* right,
                    uint32_t frames, float scale) {
    if (channels == 0) return;
    if (channels == 2 && chosen.left != chosen.right) {
        if (chosen.left == 0) return stereoToPlanes(in, left, right, frames, scale);
        return stereoToPlanes(in, right, left, frames, scale);
    }
    for (uint32_t i = 0; i < frames; ++i) {
        const Sample* frame = in + size_t(i) * channels;
        left[i] = scaled(frame[chosen.left], scale);
        right[i] = scaled(frame[chosen.right], scale);
    }
}

}  // namespace

InputChannels chooseInputChannels(uint32_t channels, int32_t leftChannel, int32_t rightChannel) {
    if (channels <= 1) return {0, 0};
    const auto inside = [channels](int32_t c) { return c >= 0 && uint32_t(c) < channels; };
    return {inside(leftChannel) ? uint32_t(leftChannel) : 0u, inside(rightChannel) ? uint32_t(rightChannel) : 1u};
}

void int16ToChosenPlanes(const int16_t* in, uint32_t channels, InputChannels chosen, float* left, float* right,
                         uint32_t frames) {
    chosenToPlanes(in, channels, chosen, left, right, frames, kInt16InterleavedScale);
}

void int32ToChosenPlanes(const int32_t* in, uint32_t channels, InputChannels chosen, float* left, float* right,
                         uint32_t frames) {
    chosenToPlanes(in, channels, chosen, left, right, frames, kInt32InterleavedScale);
}

void float32ToChosenPlanes(const float* in, uint32_t channels, InputChannels chosen, float* left, float* right,
                           uint32_t frames) {
    chosenToPlanes(in, channels, chosen, left, right, frames, 1.0f);
}

void int16ToPlanes(const int16_t* in, uint32_t channels, float* left, float* right, uint32_t frames) {
    toPlanes(in, channels, left, right, frames, kInt16InterleavedScale);
}

void int32ToPlanes(const int32_t* in, uint32_t channels, float* left, float* right, uint32_t frames) {
    toPlanes(in, channels, left, right, frames, kInt32InterleavedScale);
}

void planesToInt16(const float* left, const float* right, int16_t* out, uint32_t channels, int32_t leftChannel,
                   int32_t rightChannel, uint32_t frames) {
    fromPlanes<int16_t, toInterleavedInt16>(left, right, out, channels, leftChannel, rightChannel, frames);
}

void planesToInt32(const float* left, const float* right, int32_t* out, uint32_t channels, int32_t leftChannel,
                   int32_t rightChannel, uint32_t frames) {
    fromPlanes<int32_t, toInterleavedInt32>(left, right, out, channels, leftChannel, rightChannel, frames);
}

void planesToFloat32(const float* left, const float* right, float* out, uint32_t channels, int32_t leftChannel,
                     int32_t rightChannel, uint32_t frames) {
    fromPlanes<float, limit>(left, right, out, channels, leftChannel, rightChannel, frames);
}

}  // namespace interleaved

}  // namespace vl
