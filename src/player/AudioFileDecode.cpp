#include "player/AudioFileDecode.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <cstddef>
#include <type_traits>

#include "player/AudioFileBytes.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define VL_DECODE_SSE2 1
#endif

namespace vl {

namespace {

using namespace bytes;

struct Unsigned8 {
    static constexpr uint32_t kBytes = 1;
    static float decode(const uint8_t* p) { return static_cast<float>(int(p[0]) - 128) * (1.0f / 128.0f); }
};

struct Signed8 {
    static constexpr uint32_t kBytes = 1;
    static float decode(const uint8_t* p) { return static_cast<float>(static_cast<int8_t>(p[0])) * (1.0f / 128.0f); }
};

// The bytes of a word reversed, by shifts and masks (which the vectoriser turns into lane
// shifts; a byte-swap instruction has no vector form in the baseline).
inline uint16_t reversed(uint16_t v) { return uint16_t(v << 8 | v >> 8); }
inline uint32_t reversed(uint32_t v) {
    v = (v << 16) | (v >> 16);
    return ((v & 0x00FF00FFu) << 8) | ((v >> 8) & 0x00FF00FFu);
}
inline uint64_t reversed(uint64_t v) { return uint64_t(reversed(uint32_t(v))) << 32 | reversed(uint32_t(v >> 32)); }

// The unsigned word of sizeof(Word) bytes at p in the given byte order: one unaligned load,
// reversed when the file's order is not the machine's.
template <typename Word, bool BigEndian>
Word loadWord(const uint8_t* p) {
    Word w;
    std::memcpy(&w, p, sizeof w);
    if constexpr (BigEndian != (std::endian::native == std::endian::big)) w = reversed(w);
    return w;
}

// Two's complement integers of 16, 32 or 64 bits, scaled so that full scale is +-1. Rounding
// to single and then scaling by a power of two rounds once, as scaling in double precision and
// then rounding would.
template <typename Signed, bool BigEndian>
struct Integer {
    static constexpr uint32_t kBytes = sizeof(Signed);
    static float decode(const uint8_t* p) {
        using Word = std::make_unsigned_t<Signed>;
        constexpr float kScale = 1.0f / static_cast<float>(Word(1) << (8 * sizeof(Signed) - 1));
        return static_cast<float>(static_cast<Signed>(loadWord<Word, BigEndian>(p))) * kScale;
    }
};

// IEEE floats and doubles, taken as they are (doubles rounded to single).
template <typename Real, typename Word, bool BigEndian>
struct Ieee {
    static constexpr uint32_t kBytes = sizeof(Real);
    static float decode(const uint8_t* p) { return static_cast<float>(std::bit_cast<Real>(loadWord<Word, BigEndian>(p))); }
};

template <bool BigEndian>
using Int16 = Integer<int16_t, BigEndian>;
template <bool BigEndian>
using Int32 = Integer<int32_t, BigEndian>;
template <bool BigEndian>
using Int64 = Integer<int64_t, BigEndian>;
template <bool BigEndian>
using Float32 = Ieee<float, uint32_t, BigEndian>;
template <bool BigEndian>
using Float64 = Ieee<double, uint64_t, BigEndian>;

#if VL_DECODE_SSE2
// Stereo frames four at a time for the layouts the vectoriser handles poorly (byte reversal,
// 3-byte samples, doubles): a loader turns the bytes of four frames into two vectors of
// interleaved singles [L0 R0 L1 R1] [L2 R2 L3 R3], computed as the scalar decode computes each
// sample, and the channels are split by two shuffles. Loaders that read up to kOverread bytes
// past the four frames are only given groups that have that many bytes behind them.
namespace simd {

inline __m128i load8(const uint8_t* p) { return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)); }
inline __m128i load16(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

// The bytes of each 16-bit, 32-bit or 64-bit lane reversed (SSE2 has no byte shuffle).
inline __m128i reverse16(__m128i v) { return _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8)); }
inline __m128i reverse32(__m128i v) {
    v = reverse16(v);
    return _mm_shufflehi_epi16(_mm_shufflelo_epi16(v, 0xB1), 0xB1);
}
inline __m128i reverse64(__m128i v) {
    v = reverse16(v);
    return _mm_shufflehi_epi16(_mm_shufflelo_epi16(v, 0x1B), 0x1B);
}

// Two 3-byte samples per 64-bit lane (lane bits 0..47, the next sample's bytes above) as two
// sign-extended 32-bit samples.
template <bool BigEndian>
inline __m128i unpack24Pairs(__m128i lanes) {
    const __m128i low = _mm_set_epi32(0, -1, 0, -1);
    if constexpr (BigEndian) {
        // Reversed, the lane holds the first sample in bits 40..63 and the second in 16..39.
        lanes = reverse64(lanes);
        const __m128i v = _mm_or_si128(_mm_and_si128(_mm_srli_epi64(lanes, 8), low), _mm_andnot_si128(low, lanes));
        return _mm_shuffle_epi32(_mm_srai_epi32(v, 8), 0xB1);
    } else {
        // The first sample moved to bits 8..31, the second to 40..63; the shift extends the sign.
        const __m128i v =
            _mm_or_si128(_mm_and_si128(_mm_slli_epi64(lanes, 8), low), _mm_andnot_si128(low, _mm_slli_epi64(lanes, 16)));
        return _mm_srai_epi32(v, 8);
    }
}

template <bool BigEndian>
struct Int24Stereo {
    static constexpr uint32_t kFrameBytes = 6, kOverread = 2;
    static void load(const uint8_t* p, __m128& a, __m128& b) {
        const __m128 scale = _mm_set1_ps(1.0f / 8388608.0f);
        const auto four = [&](const uint8_t* q) {
            const __m128i lanes = _mm_unpacklo_epi64(load8(q), load8(q + 6));
            return _mm_mul_ps(_mm_cvtepi32_ps(unpack24Pairs<BigEndian>(lanes)), scale);
        };
        a = four(p);
        b = four(p + 12);
    }
};

struct Int32BigStereo {
    static constexpr uint32_t kFrameBytes = 8, kOverread = 0;
    static void load(const uint8_t* p, __m128& a, __m128& b) {
        const __m128 scale = _mm_set1_ps(1.0f / 2147483648.0f);
        a = _mm_mul_ps(_mm_cvtepi32_ps(reverse32(load16(p))), scale);
        b = _mm_mul_ps(_mm_cvtepi32_ps(reverse32(load16(p + 16))), scale);
    }
};

struct Float32BigStereo {
    static constexpr uint32_t kFrameBytes = 8, kOverread = 0;
    static void load(const uint8_t* p, __m128& a, __m128& b) {
        a = _mm_castsi128_ps(reverse32(load16(p)));
        b = _mm_castsi128_ps(reverse32(load16(p + 16)));
    }
};

template <bool BigEndian>
struct Float64Stereo {
    static constexpr uint32_t kFrameBytes = 16, kOverread = 0;
    static __m128d frame(const uint8_t* p) {
        const __m128d d = _mm_castsi128_pd(load16(p));
        if constexpr (BigEndian) return _mm_castsi128_pd(reverse64(_mm_castpd_si128(d)));
        return d;
    }
    static void load(const uint8_t* p, __m128& a, __m128& b) {
        a = _mm_movelh_ps(_mm_cvtpd_ps(frame(p)), _mm_cvtpd_ps(frame(p + 16)));
        b = _mm_movelh_ps(_mm_cvtpd_ps(frame(p + 32)), _mm_cvtpd_ps(frame(p + 48)));
    }
};

// The frames done, a multiple of four; the caller decodes the rest.
template <typename Loader>
uint32_t decodeStereo(const uint8_t* in, uint32_t frames, float* left, float* right) {
    // Groups whose overread stays inside the buffer: a following frame covers it.
    constexpr uint32_t kTrailingFrames = (Loader::kOverread + Loader::kFrameBytes - 1) / Loader::kFrameBytes;
    uint32_t i = 0;
    for (; i + 4 + kTrailingFrames <= frames; i += 4) {
        __m128 a, b;
        Loader::load(in + size_t(i) * Loader::kFrameBytes, a, b);
        _mm_storeu_ps(left + i, _mm_shuffle_ps(a, b, 0x88));
        _mm_storeu_ps(right + i, _mm_shuffle_ps(a, b, 0xDD));
    }
    return i;
}

}  // namespace simd

// The vector loader for a codec's stereo frames, where there is one.
template <typename Codec>
struct StereoLoader {
    using type = void;
};
template <>
struct StereoLoader<Integer<int32_t, true>> {
    using type = simd::Int32BigStereo;
};
template <>
struct StereoLoader<Ieee<float, uint32_t, true>> {
    using type = simd::Float32BigStereo;
};
template <bool BigEndian>
struct StereoLoader<Ieee<double, uint64_t, BigEndian>> {
    using type = simd::Float64Stereo<BigEndian>;
};
#endif

template <typename Codec, uint32_t Channels>
void decodeFrames(const uint8_t* __restrict in, uint32_t frames, float* __restrict left, float* __restrict right) {
    constexpr size_t frameBytes = size_t(Codec::kBytes) * Channels;
#if VL_DECODE_SSE2
    if constexpr (Channels == 2 && !std::is_void_v<typename StereoLoader<Codec>::type>) {
        const uint32_t done = simd::decodeStereo<typename StereoLoader<Codec>::type>(in, frames, left, right);
        in += size_t(done) * frameBytes;
        left += done;
        right += done;
        frames -= done;
    }
#endif
    if constexpr (Channels == 1) {
        for (uint32_t i = 0; i < frames; ++i) left[i] = Codec::decode(in + i * frameBytes);
        for (uint32_t i = 0; i < frames; ++i) right[i] = left[i];
    } else {
        for (uint32_t i = 0; i < frames; ++i) {
            const uint8_t* frame = in + i * frameBytes;
            left[i] = Codec::decode(frame);
            right[i] = Codec::decode(frame + Codec::kBytes);
        }
    }
}

// Packed 24-bit samples are unpacked four at a time from three 32-bit words (vector units have
// no cheap 3-byte lanes), then scaled in a loop that the vectoriser takes.
template <bool BigEndian>
void unpack24(const uint8_t* in, int32_t* out, size_t count) {
    size_t i = 0;
    for (; i + 4 <= count; i += 4, in += 12) {
        const uint32_t w0 = BigEndian ? loadBE32(in) : loadLE32(in);
        const uint32_t w1 = BigEndian ? loadBE32(in + 4) : loadLE32(in + 4);
        const uint32_t w2 = BigEndian ? loadBE32(in + 8) : loadLE32(in + 8);
        // Each sample is moved to the top 24 bits of a word; the arithmetic shift extends its sign.
        if constexpr (BigEndian) {
            out[i] = static_cast<int32_t>(w0) >> 8;
            out[i + 1] = static_cast<int32_t>(w0 << 24 | w1 >> 8) >> 8;
            out[i + 2] = static_cast<int32_t>(w1 << 16 | w2 >> 16) >> 8;
            out[i + 3] = static_cast<int32_t>(w2 << 8) >> 8;
        } else {
            out[i] = static_cast<int32_t>(w0 << 8) >> 8;
            out[i + 1] = static_cast<int32_t>(w0 >> 16 | w1 << 16) >> 8;
            out[i + 2] = static_cast<int32_t>(w1 >> 8 | w2 << 24) >> 8;
            out[i + 3] = static_cast<int32_t>(w2) >> 8;
        }
    }
    for (; i < count; ++i, in += 3) out[i] = static_cast<int32_t>((BigEndian ? loadBE24(in) : loadLE24(in)) << 8) >> 8;
}

template <bool BigEndian, uint32_t Channels>
void decodeFrames24(const uint8_t* in, uint32_t frames, float* left, float* right) {
#if VL_DECODE_SSE2
    if constexpr (Channels == 2) {
        const uint32_t done = simd::decodeStereo<simd::Int24Stereo<BigEndian>>(in, frames, left, right);
        in += size_t(done) * 6;
        left += done;
        right += done;
        frames -= done;
    }
#endif
    constexpr uint32_t kChunkFrames = 256;
    constexpr float kScale = 1.0f / 8388608.0f;  // exact: 24 bits fit a single
    int32_t samples[kChunkFrames * Channels];
    for (uint32_t done = 0; done < frames;) {
        const uint32_t n = std::min(kChunkFrames, frames - done);
        unpack24<BigEndian>(in + size_t(done) * 3 * Channels, samples, size_t(n) * Channels);
        float* l = left + done;
        float* r = right + done;
        for (uint32_t i = 0; i < n; ++i) {
            if constexpr (Channels == 1) {
                l[i] = r[i] = static_cast<float>(samples[i]) * kScale;
            } else {
                l[i] = static_cast<float>(samples[2 * i]) * kScale;
                r[i] = static_cast<float>(samples[2 * i + 1]) * kScale;
            }
        }
        done += n;
    }
}

template <bool BigEndian>
FrameDecoder forChannels24(uint32_t channels) {
    return channels == 1 ? &decodeFrames24<BigEndian, 1> : &decodeFrames24<BigEndian, 2>;
}

template <typename Codec>
FrameDecoder forChannels(uint32_t channels) {
    return channels == 1 ? &decodeFrames<Codec, 1> : &decodeFrames<Codec, 2>;
}

template <template <bool> class Codec>
FrameDecoder forOrder(bool bigEndian, uint32_t channels) {
    return bigEndian ? forChannels<Codec<true>>(channels) : forChannels<Codec<false>>(channels);
}

// x held at [-1, 1], NaN as 0.
inline float held(float x) {
    x = (x == x) ? x : 0.0f;
    x = x < -1.0f ? -1.0f : x;
    return x > 1.0f ? 1.0f : x;
}

inline int16_t toInt16(float x) { return static_cast<int16_t>(held(x) * 32767.0f); }
inline int32_t toInt24(float x) { return static_cast<int32_t>(static_cast<double>(held(x)) * 8388607.0); }

void store24(uint8_t* p, int32_t v, bool bigEndian) {
    const auto u = static_cast<uint32_t>(v);
    for (int b = 0; b < 3; ++b) p[bigEndian ? 2 - b : b] = static_cast<uint8_t>(u >> (8 * b));
}

void storeFloat(uint8_t* p, float v, bool bigEndian) {
    const auto u = std::bit_cast<uint32_t>(v);
    if (bigEndian) storeBE32(p, u);
    else storeLE32(p, u);
}

}  // namespace

FrameDecoder frameDecoderFor(SampleFormat format, AudioFileType type) {
    const bool bigEndian = type == AudioFileType::Aiff;
    const uint32_t channels = channelsOf(format);
    switch (format) {
        case SampleFormat::Mono8:
        case SampleFormat::Stereo8:
            return bigEndian ? forChannels<Signed8>(channels) : forChannels<Unsigned8>(channels);
        case SampleFormat::Mono16:
        case SampleFormat::Stereo16: return forOrder<Int16>(bigEndian, channels);
        case SampleFormat::Mono24:
        case SampleFormat::Stereo24: return bigEndian ? forChannels24<true>(channels) : forChannels24<false>(channels);
        case SampleFormat::Mono32:
        case SampleFormat::Stereo32: return forOrder<Int32>(bigEndian, channels);
        case SampleFormat::MonoFloat32:
        case SampleFormat::StereoFloat32: return forOrder<Float32>(bigEndian, channels);
        case SampleFormat::Mono64:
        case SampleFormat::Stereo64: return forOrder<Int64>(bigEndian, channels);
        case SampleFormat::MonoFloat64:
        case SampleFormat::StereoFloat64: return forOrder<Float64>(bigEndian, channels);
        case SampleFormat::None: break;
    }
    return nullptr;
}

void encodeStereo16(const float* left, const float* right, uint32_t frames, uint8_t* out, AudioFileType type) {
    const bool bigEndian = type == AudioFileType::Aiff;
    for (uint32_t i = 0; i < frames; ++i) {
        const auto l = static_cast<uint16_t>(toInt16(left[i]));
        const auto r = static_cast<uint16_t>(toInt16(right[i]));
        uint8_t* frame = out + size_t(i) * 4;
        if (bigEndian) {
            storeBE16(frame, l);
            storeBE16(frame + 2, r);
        } else {
            storeLE16(frame, l);
            storeLE16(frame + 2, r);
        }
    }
}

bool encodeStereo(SampleFormat format, const float* left, const float* right, uint32_t frames, uint8_t* out,
                  AudioFileType type) {
    const bool bigEndian = type == AudioFileType::Aiff;
    switch (format) {
        case SampleFormat::Stereo16: encodeStereo16(left, right, frames, out, type); return true;
        case SampleFormat::Stereo24:
            for (uint32_t i = 0; i < frames; ++i, out += 6) {
                store24(out, toInt24(left[i]), bigEndian);
                store24(out + 3, toInt24(right[i]), bigEndian);
            }
            return true;
        case SampleFormat::StereoFloat32:
            for (uint32_t i = 0; i < frames; ++i, out += 8) {
                storeFloat(out, left[i], bigEndian);
                storeFloat(out + 4, right[i], bigEndian);
            }
            return true;
        default: return false;
    }
}

}  // namespace vl
