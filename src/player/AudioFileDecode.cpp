#include "player/AudioFileDecode.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <cstddef>
#include <type_traits>

#include "player/AudioFileBytes.h"

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

template <typename Codec, uint32_t Channels>
void decodeFrames(const uint8_t* __restrict in, uint32_t frames, float* __restrict left, float* __restrict right) {
    constexpr size_t frameBytes = size_t(Codec::kBytes) * Channels;
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
