#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <vector>

#include "audio/SampleConvert.h"
#include "../../../bench/PlainConversions.h"

using namespace vl;

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
const float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float k = kLimiterBound;

// The limiter written literally from its definition, absolute values in double precision.
float referenceLimit(float x) {
    const float above = static_cast<float>(std::fabs(static_cast<double>(x + k)));
    const float below = static_cast<float>(std::fabs(static_cast<double>(x - k)));
    return (above - below) * 0.5f;
}

int16_t toInt16(float x) {
    int16_t out;
    planar::floatToInt16(&x, &out, 1);
    return out;
}

int32_t toInt24(float x) {
    uint8_t b[3];
    planar::floatToInt24(&x, b, 1);
    return static_cast<int32_t>(uint32_t(b[0]) << 8 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 24) >> 8;
}

float fromInt24(int32_t v) {
    const uint8_t b[3] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16)};
    float out;
    planar::int24ToFloat(b, &out, 1);
    return out;
}

int32_t toContainer(float x, unsigned bits) {
    int32_t out;
    planar::floatToInt32(&x, &out, 1, bits);
    return out;
}

float fromContainer(int32_t s, unsigned bits) {
    float out;
    planar::int32ToFloat(&s, &out, 1, bits);
    return out;
}

}  // namespace

TEST(Limiter, MatchesItsDefinitionInsideFullScale) {
    // Every 97th single between -1 and +1, both signs: the literal formula and ours agree to
    // the bit (a fused multiply-add or a different bound would show here).
    int compared = 0, differing = 0;
    float firstDifference = 0.0f;
    for (uint32_t bits = 0; bits <= 0x3F800000u; bits += 97) {
        for (float x : {std::bit_cast<float>(bits), -std::bit_cast<float>(bits)}) {
            if (std::bit_cast<uint32_t>(limitSample(x)) != std::bit_cast<uint32_t>(referenceLimit(x))) {
                if (differing++ == 0) firstDifference = x;
            }
            ++compared;
        }
    }
    EXPECT_EQ(differing, 0) << "first at " << firstDifference;
    EXPECT_GT(compared, 20000000);
    EXPECT_EQ(limitSample(0.5f), 0.5f);
    EXPECT_EQ(limitSample(-0.25f), -0.25f);
    EXPECT_EQ(limitSample(1.0f), k);
    EXPECT_EQ(limitSample(-1.0f), -k);
}

TEST(Limiter, EverythingBeyondFullScaleHoldsAtTheBound) {
    // The bare formula gives 1.0 at 3.0, 0 at 1e8 and NaN at infinity.
    EXPECT_EQ(referenceLimit(3.0f), 1.0f);
    EXPECT_EQ(referenceLimit(1e8f), 0.0f);
    EXPECT_TRUE(std::isnan(referenceLimit(kInf)));
    for (float x : {1.0000001f, 1.5f, 3.0f, 1000.0f, 16777216.0f, 1e30f, kInf}) {
        EXPECT_EQ(limitSample(x), k) << x;
        EXPECT_EQ(limitSample(-x), -k) << x;
    }
    EXPECT_EQ(limitSample(kNaN), 0.0f);
}

TEST(PlanarInt16, OutputExamplesAndLimits) {
    EXPECT_EQ(toInt16(0.5f), 16383);
    EXPECT_EQ(toInt16(-0.5f), -16384);
    EXPECT_EQ(toInt16(1.0f), 32767);
    EXPECT_EQ(toInt16(-1.0f), -32768);
    EXPECT_EQ(toInt16(0.0f), 0);
    EXPECT_EQ(toInt16(1.5f), 32767);
    EXPECT_EQ(toInt16(-7.0f), -32768);
    EXPECT_EQ(toInt16(kInf), 32767);
    EXPECT_EQ(toInt16(-kInf), -32768);
    EXPECT_EQ(toInt16(kNaN), 0);
}

TEST(PlanarInt16, InputCarriesTheHalfStepOffset) {
    const float scale = std::bit_cast<float>(0x3800007Fu);
    const int16_t in[4] = {0, 32767, -32768, 1};
    float out[4];
    planar::int16ToFloat(in, out, 4);
    EXPECT_EQ(out[0], 0.5f * scale);
    EXPECT_NEAR(out[0], 1.5259e-5f, 1e-9f);  // silence is not exactly 0 in this family
    EXPECT_EQ(out[1], 32767.5f * scale);
    EXPECT_EQ(out[2], -32767.5f * scale);
    EXPECT_EQ(out[3], 1.5f * scale);
    EXPECT_LT(out[1], 1.0f);
    EXPECT_GT(out[2], -1.0f);
}

TEST(PlanarInt16, EveryValueSurvivesARoundTripWithinOneStep) {
    std::vector<int16_t> in(65536), back(65536);
    std::vector<float> mid(65536);
    for (int i = 0; i < 65536; ++i) in[i] = static_cast<int16_t>(i - 32768);
    planar::int16ToFloat(in.data(), mid.data(), 65536);
    planar::floatToInt16(mid.data(), back.data(), 65536);
    for (int i = 0; i < 65536; ++i) ASSERT_LE(std::abs(back[i] - in[i]), 1) << in[i];
}

TEST(PlanarInt24, OutputExamplesLimitsAndByteOrder) {
    EXPECT_EQ(toInt24(0.5f), 4194303);
    EXPECT_EQ(toInt24(-0.5f), -4194304);
    EXPECT_EQ(toInt24(1.0f), 8388606);
    EXPECT_EQ(toInt24(-1.0f), -8388607);
    EXPECT_EQ(toInt24(0.0f), 0);
    // Where the bare limiter yields 1.0 the result would wrap to -8388608.
    EXPECT_EQ(toInt24(3.0f), 8388606);
    EXPECT_EQ(toInt24(-3.0f), -8388607);
    EXPECT_EQ(toInt24(kNaN), 0);
    const float x = 0.5f;
    uint8_t b[3];
    planar::floatToInt24(&x, b, 1);
    EXPECT_EQ(b[0], 0xFF);  // 4194303 = 0x3FFFFF, low byte first
    EXPECT_EQ(b[1], 0xFF);
    EXPECT_EQ(b[2], 0x3F);
}

TEST(PlanarInt24, InputSignExtendsAndOffsets) {
    EXPECT_EQ(fromInt24(0), 0.5f / 8388608.0f);
    EXPECT_EQ(fromInt24(8388607), 8388607.5f / 8388608.0f);
    EXPECT_EQ(fromInt24(-8388608), -8388607.5f / 8388608.0f);
    EXPECT_EQ(fromInt24(-1), -0.5f / 8388608.0f);
}

TEST(PlanarInt32, ContainersAlignTo24BitsOnInput) {
    const float step = 1.0f / 8388608.0f;
    EXPECT_EQ(fromContainer(32767, 16), (32767 * 256 + 0.5f) * step);
    EXPECT_EQ(fromContainer(-32768, 16), (-8388608 + 0.5f) * step);
    EXPECT_EQ(fromContainer(131071, 18), (131071 * 64 + 0.5f) * step);
    EXPECT_EQ(fromContainer(-524288, 20), (-8388608 + 0.5f) * step);
    EXPECT_EQ(fromContainer(8388607, 24), (8388607 + 0.5f) * step);
    EXPECT_EQ(fromContainer(0x7FFFFFFF, 32), (8388607 + 0.5f) * step);
    EXPECT_EQ(fromContainer(INT32_MIN, 32), (-8388608 + 0.5f) * step);
    EXPECT_EQ(fromContainer(0x100, 32), 1.5f * step);  // the low 8 bits are dropped
}

TEST(PlanarInt32, ContainersStayInsideTheirBitsOnOutput) {
    struct Case {
        unsigned bits;
        int32_t plusOne, minusOne, half;
    };
    for (const Case& c : {Case{16, 32767, -32768, 16383}, Case{18, 131071, -131072, 65535},
                          Case{20, 524287, -524288, 262143}, Case{24, 8388606, -8388607, 4194303},
                          Case{32, 8388606 * 256, -8388607 * 256, 4194303 * 256}}) {
        SCOPED_TRACE(c.bits);
        EXPECT_EQ(toContainer(1.0f, c.bits), c.plusOne);
        EXPECT_EQ(toContainer(-1.0f, c.bits), c.minusOne);
        EXPECT_EQ(toContainer(0.5f, c.bits), c.half);
        EXPECT_EQ(toContainer(3.0f, c.bits), c.plusOne);   // no wrap beyond full scale
        EXPECT_EQ(toContainer(-kInf, c.bits), c.minusOne);
        EXPECT_EQ(toContainer(0.0f, c.bits), 0);
    }
}

TEST(PlanarFloat, SinglesAreCopiedDoublesRoundedAndLimitedOnOutput) {
    const float in[4] = {0.25f, -1.5f, 3.0f, 1e-30f};
    float out[4];
    planar::float32ToFloat(in, out, 4);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(out[i], in[i]);
    planar::floatToFloat32(in, out, 4);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(out[i], in[i]);  // no limiting

    const double din[3] = {0.1, -2.5, 1.0 + 1e-12};
    planar::float64ToFloat(din, out, 3);
    EXPECT_EQ(out[0], 0.1f);
    EXPECT_EQ(out[1], -2.5f);  // no limiting on input
    EXPECT_EQ(out[2], 1.0f);

    double dout[4];
    planar::floatToFloat64(in, dout, 4);
    EXPECT_EQ(dout[0], 0.25);
    EXPECT_EQ(dout[1], -double(k));
    EXPECT_EQ(dout[2], double(k));
}

TEST(PlanarLayouts, EveryAsioSampleTypeMapsAndTheRestIsRefused) {
    struct Case {
        int32_t type;
        PlanarLayout::Family family;
        unsigned bytes, bits;
    };
    using F = PlanarLayout::Family;
    const Case cases[] = {{16, F::Int16, 2, 16}, {17, F::Int24, 3, 24}, {18, F::Int32, 4, 32},
                          {19, F::Float32, 4, 32}, {20, F::Float64, 8, 64}, {24, F::Int32, 4, 16},
                          {25, F::Int32, 4, 18},   {26, F::Int32, 4, 20},   {27, F::Int32, 4, 24}};
    for (const Case& c : cases) {
        for (bool big : {false, true}) {
            PlanarLayout layout;
            ASSERT_TRUE(planarLayoutFor(big ? c.type - 16 : c.type, layout)) << c.type;
            EXPECT_EQ(layout.family, c.family);
            EXPECT_EQ(layout.bytesPerSample, c.bytes);
            EXPECT_EQ(layout.bigEndian, big);
            if (c.family == F::Int32) {
                EXPECT_EQ(layout.significantBits, c.bits);
            }
        }
    }
    PlanarLayout layout;
    for (int32_t refused : {5, 6, 7, 12, 15, 21, 28, 32, 33, 40, 41, -1, 1000}) {
        EXPECT_FALSE(planarLayoutFor(refused, layout)) << refused;
    }
}

TEST(PlanarLayouts, BigEndianTwinsReverseEverySampleInPlace) {
    const float signal[5] = {0.5f, -0.75f, 0.0f, 1.0f, -0.125f};
    for (int32_t lsb : {16, 17, 18, 19, 20, 24, 25, 26, 27}) {
        SCOPED_TRACE(lsb);
        PlanarLayout little, big;
        ASSERT_TRUE(planarLayoutFor(lsb, little));
        ASSERT_TRUE(planarLayoutFor(lsb - 16, big));
        const unsigned n = little.bytesPerSample;
        std::vector<uint8_t> le(5 * n), be(5 * n);
        floatToPlanar(little, signal, le.data(), 5);
        floatToPlanar(big, signal, be.data(), 5);
        for (unsigned s = 0; s < 5; ++s)
            for (unsigned b = 0; b < n; ++b) ASSERT_EQ(be[s * n + b], le[s * n + n - 1 - b]);

        float fromLe[5], fromBe[5];
        std::vector<uint8_t> device = be;
        planarToFloat(little, le.data(), fromLe, 5);
        planarToFloat(big, device.data(), fromBe, 5);
        for (int i = 0; i < 5; ++i) EXPECT_EQ(fromBe[i], fromLe[i]);
        EXPECT_EQ(device, le);  // the driver's buffer was reversed in place
    }
    // A big-endian 16-bit full-scale sample read by hand.
    uint8_t msb[2] = {0x7F, 0xFE};
    PlanarLayout layout;
    ASSERT_TRUE(planarLayoutFor(static_cast<int32_t>(PlanarSampleType::Int16MSB), layout));
    float out;
    planarToFloat(layout, msb, &out, 1);
    EXPECT_EQ(out, (32766 + 0.5f) * std::bit_cast<float>(0x3800007Fu));
}

// Big-endian 24-bit output is written from the buffer's end down, each store starting two bytes
// before its samples: at every length and byte offset of the device buffer, nothing before or
// after the buffer changes, and the bytes are the plain loop's.
TEST(PlanarLayouts, BigEndian24BitOutputStaysInsideUnalignedBuffers) {
    PlanarLayout msb24;
    ASSERT_TRUE(planarLayoutFor(int32_t(PlanarSampleType::Int24MSB), msb24));
    std::vector<float> in(200);
    for (size_t i = 0; i < in.size(); ++i) in[i] = float(i % 7) * 0.3f - 0.9f + float(i) * 1e-4f;
    in[5] = kNaN;
    in[6] = 2.0f;
    in[7] = -kInf;
    constexpr size_t kGuard = 8;
    for (uint32_t n = 1; n <= 200; n += (n < 40 ? 1 : 37)) {
        for (size_t offset = 0; offset < 4; ++offset) {
            SCOPED_TRACE(testing::Message() << "length " << n << " offset " << offset);
            std::vector<uint8_t> ours(kGuard + offset + 3 * size_t(n) + kGuard, 0xA5), theirs = ours;
            floatToPlanar(msb24, in.data(), ours.data() + kGuard + offset, n);
            plain::floatToInt24MSB(in.data(), theirs.data() + kGuard + offset, n);
            ASSERT_EQ(ours, theirs);
            for (size_t b = 0; b < kGuard + offset; ++b) ASSERT_EQ(ours[b], 0xA5) << "byte " << b << " before";
        }
    }
    // Full scale both ways and a half, by hand (8388606, -8388607, 4194303), high byte first.
    const float ends[6] = {1.0f, -1.0f, 0.5f, 1.0f, -1.0f, 0.5f};
    uint8_t bytes[18];
    floatToPlanar(msb24, ends, bytes, 6);
    const uint8_t expected[9] = {0x7F, 0xFF, 0xFE, 0x80, 0x00, 0x01, 0x3F, 0xFF, 0xFF};
    for (int s = 0; s < 18; ++s) EXPECT_EQ(bytes[s], expected[s % 9]) << "byte " << s;
}

TEST(Interleaved, InputTakesTheLastPairOfEachFrame) {
    const int16_t stereo[4] = {16384, -32768, 0, 32767};
    float left[2], right[2];
    interleaved::int16ToPlanes(stereo, 2, left, right, 2);
    EXPECT_EQ(left[0], 0.5f);
    EXPECT_EQ(right[0], -1.0f);
    EXPECT_EQ(left[1], 0.0f);  // exactly 0: no offset in this family
    EXPECT_EQ(right[1], 32767.0f / 32768.0f);

    const int16_t quad[8] = {1, 2, 300, 400, 5, 6, 700, 800};
    interleaved::int16ToPlanes(quad, 4, left, right, 2);
    EXPECT_EQ(left[0], 300.0f / 32768);
    EXPECT_EQ(right[0], 400.0f / 32768);
    EXPECT_EQ(left[1], 700.0f / 32768);
    EXPECT_EQ(right[1], 800.0f / 32768);

    // Three channels: frames stay three samples apart and the third is unread.
    const int16_t three[6] = {10, 20, 30, 40, 50, 60};
    interleaved::int16ToPlanes(three, 3, left, right, 2);
    EXPECT_EQ(left[1], 40.0f / 32768);
    EXPECT_EQ(right[1], 50.0f / 32768);

    const int16_t mono[2] = {-16384, 8192};
    interleaved::int16ToPlanes(mono, 1, left, right, 2);
    EXPECT_EQ(left[0], -0.5f);
    EXPECT_EQ(right[0], -0.5f);
    EXPECT_EQ(right[1], 0.25f);

    const int32_t wide[4] = {INT32_MIN, 0x40000000, 0x7FFFFFFF, 1};
    interleaved::int32ToPlanes(wide, 2, left, right, 2);
    EXPECT_EQ(left[0], -1.0f);
    EXPECT_EQ(right[0], 0.5f);
    EXPECT_EQ(left[1], 1.0f);  // 2147483647 / 2^31 rounds to 1 in single precision
    EXPECT_EQ(right[1], static_cast<float>(1.0 / 2147483648.0));
}

TEST(Interleaved, OutputScalesLimitsAndTruncates) {
    const float left[5] = {0.5f, 1.0f, -1.0f, 2.0f, 0.99999f};
    const float right[5] = {-0.5f, kNaN, -2.0f, -kInf, 1e-6f};
    int16_t out16[10];
    interleaved::planesToInt16(left, right, out16, 2, 0, 1, 5);
    const int16_t want16[10] = {16383, -16383, 32767, 0, -32767, -32768, 32767, -32768, 32766, 0};
    for (int i = 0; i < 10; ++i) EXPECT_EQ(out16[i], want16[i]) << i;

    int32_t out32[10];
    interleaved::planesToInt32(left, right, out32, 2, 0, 1, 5);
    EXPECT_EQ(out32[0], 1073741824);
    EXPECT_EQ(out32[1], -1073741824);
    EXPECT_EQ(out32[2], 2147483647);  // 1.0 * 2^31 held at the top
    EXPECT_EQ(out32[3], 0);           // NaN
    EXPECT_EQ(out32[4], INT32_MIN);
    EXPECT_EQ(out32[5], INT32_MIN);
    EXPECT_EQ(out32[6], 2147483647);
    EXPECT_EQ(out32[7], INT32_MIN);
    const float belowOne = std::nextafter(1.0f, 0.0f), minusOne = -1.0f;
    interleaved::planesToInt32(&belowOne, &minusOne, out32, 2, 0, 1, 1);
    EXPECT_EQ(out32[0], 2147483520);  // the largest single below 2^31 stays below the top
    EXPECT_EQ(out32[1], INT32_MIN);
}

TEST(Interleaved, OutputPlacesTheChosenChannelsAndSilencesTheRest) {
    const float left[2] = {0.5f, 0.25f};
    const float right[2] = {-0.5f, -0.25f};
    std::vector<int16_t> out(8, 1234);
    interleaved::planesToInt16(left, right, out.data(), 4, 2, 0, 2);
    EXPECT_EQ(out, (std::vector<int16_t>{-16383, 0, 16383, 0, -8191, 0, 8191, 0}));

    std::fill(out.begin(), out.end(), 1234);
    interleaved::planesToInt16(left, right, out.data(), 4, 0, 0, 2);  // both on channel 0
    EXPECT_EQ(out, (std::vector<int16_t>{16383, 0, 0, 0, 8191, 0, 0, 0}));

    std::fill(out.begin(), out.end(), 1234);
    interleaved::planesToInt16(left, right, out.data(), 2, 1, 0, 2);  // swapped stereo
    EXPECT_EQ((std::vector<int16_t>(out.begin(), out.begin() + 4)), (std::vector<int16_t>{-16383, 16383, -8191, 8191}));

    std::vector<int32_t> out32(6, 99);
    interleaved::planesToInt32(left, right, out32.data(), 3, 7, -1, 2);  // no valid choice
    EXPECT_EQ(out32, std::vector<int32_t>(6, 0));
}

// ---------------------------------------------------------------------------------------------
// The vectorised conversions against the scalar routines they replaced, kept as they were
// written in bench/PlainConversions.h (the audio benchmark runs them beside ours): every int16
// and every 24-bit value (in both byte orders), 32-bit containers across their significant bits,
// and floats over the whole bit space by a stride plus every float near the limits, zero,
// denormals, infinities and NaNs. The outputs must agree to the bit, and nothing may be written
// past a buffer's end.

namespace reference = vl::plain;

namespace {

// Floats over the whole bit space (every 251st pattern), every pattern within 2^17 of the
// limits' neighbourhoods (+-1, +-k, +-0.5, +-2, the 2^31 and 2^15 scales' ends) and of zero (the
// denormals), and the specials.
std::vector<float> floatInputs() {
    std::vector<float> v;
    for (uint64_t b = 0; b <= 0xFFFFFFFFu; b += 251) v.push_back(std::bit_cast<float>(uint32_t(b)));
    for (float centre : {1.0f, kLimiterBound, 0.5f, 2.0f, 1.0f + 1.0f / 32767.0f, 32768.0f / 32767.0f}) {
        const auto c = std::bit_cast<uint32_t>(centre);
        for (uint32_t d = 0; d < (1u << 17); ++d) {
            v.push_back(std::bit_cast<float>(c - d));
            v.push_back(std::bit_cast<float>(c + d));
            v.push_back(-std::bit_cast<float>(c - d));
            v.push_back(-std::bit_cast<float>(c + d));
        }
    }
    for (uint32_t d = 0; d < (1u << 17); ++d) {
        v.push_back(std::bit_cast<float>(d));
        v.push_back(std::bit_cast<float>(0x80000000u | d));
    }
    for (uint32_t special : {0x7F800000u, 0xFF800000u, 0x7FC00000u, 0xFFC00000u, 0x7F800001u, 0xFFFFFFFFu, 0x7F7FFFFFu,
                             0xFF7FFFFFu, 0x00800000u, 0x80800000u})
        v.push_back(std::bit_cast<float>(special));
    return v;
}

// Runs both routines over the inputs with sentinels after the output, in one long call and in
// short calls of every length up to 70 at changing offsets (the chunk and tail paths), and
// compares the output bytes.
template <typename In>
void expectSameBytes(const char* name, const std::vector<In>& inputs, size_t outBytesPerSample,
                     const std::function<void(const In*, uint8_t*, uint32_t)>& ours,
                     const std::function<void(const In*, uint8_t*, uint32_t)>& theirs) {
    SCOPED_TRACE(name);
    constexpr size_t kGuard = 16;
    const auto run = [&](const In* in, uint32_t n) {
        std::vector<uint8_t> a(n * outBytesPerSample + kGuard, 0xA5), b(n * outBytesPerSample + kGuard, 0xA5);
        ours(in, a.data(), n);
        theirs(in, b.data(), n);
        for (size_t i = 0; i < a.size(); ++i)
            if (a[i] != b[i]) return i;  // first differing byte
        return a.size();
    };
    size_t at = run(inputs.data(), uint32_t(inputs.size()));
    ASSERT_EQ(at, inputs.size() * outBytesPerSample + kGuard)
        << "byte " << at << " (sample " << at / outBytesPerSample << " of " << inputs.size() << ")";
    for (uint32_t n = 1, offset = 0; n <= 70; ++n, offset = (offset + 37) % 1000) {
        at = run(inputs.data() + offset, n);
        ASSERT_EQ(at, n * outBytesPerSample + kGuard) << "length " << n << " byte " << at;
    }
}

}  // namespace

TEST(SampleConvertReference, EveryConversionGivesTheBitsOfTheScalarRoutines) {
    using FloatRun = std::function<void(const float*, uint8_t*, uint32_t)>;
    const std::vector<float> floats = floatInputs();
    const auto f16 = [](auto fn) -> FloatRun { return [fn](const float* in, uint8_t* out, uint32_t n) { fn(in, reinterpret_cast<int16_t*>(out), n); }; };
    const auto f32 = [](auto fn) -> FloatRun { return [fn](const float* in, uint8_t* out, uint32_t n) { fn(in, reinterpret_cast<int32_t*>(out), n); }; };
    // Interleaved output: the left plane is the inputs, the right plane the inputs reversed.
    std::vector<float> reversed(floats.rbegin(), floats.rend());
    const auto planes = [&](auto fn, uint32_t channels, int32_t l, int32_t r) -> FloatRun {
        return [&reversed, &floats, fn, channels, l, r](const float* in, uint8_t* out, uint32_t n) {
            const float* right = reversed.data() + (in - floats.data());
            fn(in, right, out, channels, l, r, n);
        };
    };
    struct FloatCase {
        const char* name;
        size_t bytes;  // per input sample
        FloatRun ours, theirs;
    };
    using S16 = int16_t;
    using S32 = int32_t;
    PlanarLayout msb24;
    ASSERT_TRUE(planarLayoutFor(int32_t(PlanarSampleType::Int24MSB), msb24));
    const FloatCase cases[] = {
        {"limitSample", 4, [](const float* in, uint8_t* out, uint32_t n) { for (uint32_t i = 0; i < n; ++i) { const float y = limitSample(in[i]); std::memcpy(out + 4 * i, &y, 4); } },
         [](const float* in, uint8_t* out, uint32_t n) { for (uint32_t i = 0; i < n; ++i) { const float y = reference::limit(in[i]); std::memcpy(out + 4 * i, &y, 4); } }},
        {"planar int16 out", 2, f16(planar::floatToInt16), f16(reference::floatToInt16)},
        {"planar int24 out", 3, planar::floatToInt24, reference::floatToInt24},
        {"planar int24 MSB out", 3, [&msb24](const float* in, uint8_t* out, uint32_t n) { floatToPlanar(msb24, in, out, n); }, reference::floatToInt24MSB},
        {"planar float64 out", 8, [](const float* in, uint8_t* out, uint32_t n) { planar::floatToFloat64(in, reinterpret_cast<double*>(out), n); },
         [](const float* in, uint8_t* out, uint32_t n) { reference::floatToFloat64(in, reinterpret_cast<double*>(out), n); }},
        {"planar int32(16) out", 4, f32([](const float* i, S32* o, uint32_t n) { planar::floatToInt32(i, o, n, 16); }), f32([](const float* i, S32* o, uint32_t n) { reference::floatToInt32(i, o, n, 16); })},
        {"planar int32(18) out", 4, f32([](const float* i, S32* o, uint32_t n) { planar::floatToInt32(i, o, n, 18); }), f32([](const float* i, S32* o, uint32_t n) { reference::floatToInt32(i, o, n, 18); })},
        {"planar int32(20) out", 4, f32([](const float* i, S32* o, uint32_t n) { planar::floatToInt32(i, o, n, 20); }), f32([](const float* i, S32* o, uint32_t n) { reference::floatToInt32(i, o, n, 20); })},
        {"planar int32(24) out", 4, f32([](const float* i, S32* o, uint32_t n) { planar::floatToInt32(i, o, n, 24); }), f32([](const float* i, S32* o, uint32_t n) { reference::floatToInt32(i, o, n, 24); })},
        {"planar int32(32) out", 4, f32([](const float* i, S32* o, uint32_t n) { planar::floatToInt32(i, o, n, 32); }), f32([](const float* i, S32* o, uint32_t n) { reference::floatToInt32(i, o, n, 32); })},
        {"interleaved int16 out (stereo)", 4,
         planes([](const float* l, const float* r, uint8_t* o, uint32_t c, int32_t a, int32_t b, uint32_t n) { interleaved::planesToInt16(l, r, reinterpret_cast<S16*>(o), c, a, b, n); }, 2, 0, 1),
         planes([](const float* l, const float* r, uint8_t* o, uint32_t c, int32_t a, int32_t b, uint32_t n) { reference::fromPlanes<S16, reference::toInterleavedInt16>(l, r, reinterpret_cast<S16*>(o), c, a, b, n); }, 2, 0, 1)},
        {"interleaved int16 out (4 channels, 2 and 3)", 8,
         planes([](const float* l, const float* r, uint8_t* o, uint32_t c, int32_t a, int32_t b, uint32_t n) { interleaved::planesToInt16(l, r, reinterpret_cast<S16*>(o), c, a, b, n); }, 4, 2, 3),
         planes([](const float* l, const float* r, uint8_t* o, uint32_t c, int32_t a, int32_t b, uint32_t n) { reference::fromPlanes<S16, reference::toInterleavedInt16>(l, r, reinterpret_cast<S16*>(o), c, a, b, n); }, 4, 2, 3)},
        {"interleaved int32 out (stereo)", 8,
         planes([](const float* l, const float* r, uint8_t* o, uint32_t c, int32_t a, int32_t b, uint32_t n) { interleaved::planesToInt32(l, r, reinterpret_cast<S32*>(o), c, a, b, n); }, 2, 0, 1),
         planes([](const float* l, const float* r, uint8_t* o, uint32_t c, int32_t a, int32_t b, uint32_t n) { reference::fromPlanes<S32, reference::toInterleavedInt32>(l, r, reinterpret_cast<S32*>(o), c, a, b, n); }, 2, 0, 1)},
        {"interleaved float32 out (stereo)", 8,
         planes([](const float* l, const float* r, uint8_t* o, uint32_t c, int32_t a, int32_t b, uint32_t n) { interleaved::planesToFloat32(l, r, reinterpret_cast<float*>(o), c, a, b, n); }, 2, 0, 1),
         planes([](const float* l, const float* r, uint8_t* o, uint32_t c, int32_t a, int32_t b, uint32_t n) { reference::fromPlanes<float, reference::limit>(l, r, reinterpret_cast<float*>(o), c, a, b, n); }, 2, 0, 1)},
    };
    for (const FloatCase& c : cases) expectSameBytes<float>(c.name, floats, c.bytes, c.ours, c.theirs);
    // The other kinds of four-channel choice: a pair the other way round, apart in their places
    // or each in the other's, both even, both odd, one channel taking both, none.
    struct Choice {
        const char* name;
        int32_t left, right;
    };
    const auto ours16 = [](const float* l, const float* r, uint8_t* o, uint32_t c, int32_t a, int32_t b, uint32_t n) {
        interleaved::planesToInt16(l, r, reinterpret_cast<S16*>(o), c, a, b, n);
    };
    const auto theirs16 = [](const float* l, const float* r, uint8_t* o, uint32_t c, int32_t a, int32_t b, uint32_t n) {
        reference::fromPlanes<S16, reference::toInterleavedInt16>(l, r, reinterpret_cast<S16*>(o), c, a, b, n);
    };
    for (const Choice& q : {Choice{"interleaved int16 out (4 channels, 1 and 0)", 1, 0},
                            Choice{"interleaved int16 out (4 channels, 1 and 2)", 1, 2},
                            Choice{"interleaved int16 out (4 channels, 0 and 3)", 0, 3},
                            Choice{"interleaved int16 out (4 channels, 0 and 2)", 0, 2},
                            Choice{"interleaved int16 out (4 channels, 3 and 1)", 3, 1},
                            Choice{"interleaved int16 out (4 channels, 3 and 3)", 3, 3},
                            Choice{"interleaved int16 out (4 channels, none)", 4, -1}})
        expectSameBytes<float>(q.name, floats, 8, planes(ours16, 4, q.left, q.right), planes(theirs16, 4, q.left, q.right));

    // Integer inputs: every int16, every 24-bit value packed, and 32-bit containers holding each
    // significant value with the other bits set at random.
    // The input buffer is not const: the big-endian inputs reverse it in place.
    using ByteRun = std::function<void(uint8_t*, uint8_t*, uint32_t)>;
    std::vector<uint8_t> all16(65536 * 2), all24(size_t(3) << 24);
    for (uint32_t v = 0; v < 65536; ++v) std::memcpy(&all16[2 * v], &v, 2);
    for (uint32_t v = 0; v < (1u << 24); ++v) std::memcpy(&all24[3 * size_t(v)], &v, 3);
    const auto toFloats = [](auto fn) -> ByteRun {
        return [fn](uint8_t* in, uint8_t* out, uint32_t n) { fn(in, reinterpret_cast<float*>(out), n); };
    };
    struct IntCase {
        const char* name;
        const std::vector<uint8_t>* bytes;
        size_t width;  // bytes per sample, or per frame of the interleaved inputs
        ByteRun ours, theirs;
        size_t outWidth = 4;  // the interleaved inputs write the left plane, then the right one
    };
    std::vector<uint8_t> containers;
    uint32_t noise = 12345;
    for (uint32_t v = 0; v < (1u << 24); v += 3) {
        noise = noise * 1103515245u + 12345u;
        const uint32_t word = v << 8 | (noise >> 24);  // 24 bits of value, random low byte
        for (int b = 0; b < 4; ++b) containers.push_back(uint8_t(word >> (8 * b)));
    }
    const auto containerCase = [](unsigned bits) -> std::pair<ByteRun, ByteRun> {
        return {[bits](const uint8_t* in, uint8_t* out, uint32_t n) { planar::int32ToFloat(reinterpret_cast<const int32_t*>(in), reinterpret_cast<float*>(out), n, bits); },
                [bits](const uint8_t* in, uint8_t* out, uint32_t n) { reference::int32ToFloat(reinterpret_cast<const int32_t*>(in), reinterpret_cast<float*>(out), n, bits); }};
    };
    std::vector<IntCase> intCases = {
        {"planar int16 in", &all16, 2,
         toFloats([](const uint8_t* in, float* out, uint32_t n) { planar::int16ToFloat(reinterpret_cast<const int16_t*>(in), out, n); }),
         toFloats([](const uint8_t* in, float* out, uint32_t n) { reference::int16ToFloat(reinterpret_cast<const int16_t*>(in), out, n); })},
        {"planar int24 in", &all24, 3, toFloats(planar::int24ToFloat), toFloats(reference::int24ToFloat)},
        {"planar int24 MSB in", &all24, 3,
         [&msb24](uint8_t* in, uint8_t* out, uint32_t n) { planarToFloat(msb24, in, reinterpret_cast<float*>(out), n); },
         toFloats(reference::int24MSBToFloat)},
    };
    // Interleaved inputs: the stereo frames whole, in either order, and the last pair of four.
    using interleaved::InputChannels;
    const auto planesOf = [](auto fn) -> ByteRun {
        return [fn](uint8_t* in, uint8_t* out, uint32_t n) {
            fn(in, reinterpret_cast<float*>(out), reinterpret_cast<float*>(out) + n, n);
        };
    };
    const auto s16 = [](const uint8_t* in) { return reinterpret_cast<const int16_t*>(in); };
    const auto s32 = [](const uint8_t* in) { return reinterpret_cast<const int32_t*>(in); };
    const auto single = [](const uint8_t* in) { return reinterpret_cast<const float*>(in); };
    intCases.push_back({"interleaved int16 in (stereo)", &all16, 4,
                        planesOf([=](uint8_t* in, float* l, float* r, uint32_t n) { interleaved::int16ToPlanes(s16(in), 2, l, r, n); }),
                        planesOf([=](uint8_t* in, float* l, float* r, uint32_t n) { reference::toPlanes(s16(in), 2, l, r, n, 1.0 / 32768); }), 8});
    intCases.push_back({"interleaved int16 in (4 channels)", &all16, 8,
                        planesOf([=](uint8_t* in, float* l, float* r, uint32_t n) { interleaved::int16ToPlanes(s16(in), 4, l, r, n); }),
                        planesOf([=](uint8_t* in, float* l, float* r, uint32_t n) { reference::toPlanes(s16(in), 4, l, r, n, 1.0 / 32768); }), 8});
    intCases.push_back({"interleaved int16 in (chosen 1 and 0)", &all16, 4,
                        planesOf([=](uint8_t* in, float* l, float* r, uint32_t n) { interleaved::int16ToChosenPlanes(s16(in), 2, {1, 0}, l, r, n); }),
                        planesOf([=](uint8_t* in, float* l, float* r, uint32_t n) { reference::chosenToPlanes(s16(in), 2, {1, 0}, l, r, n, 1.0 / 32768); }), 8});
    intCases.push_back({"interleaved int32 in (chosen 0 and 1)", &containers, 8,
                        planesOf([=](uint8_t* in, float* l, float* r, uint32_t n) { interleaved::int32ToChosenPlanes(s32(in), 2, {0, 1}, l, r, n); }),
                        planesOf([=](uint8_t* in, float* l, float* r, uint32_t n) { reference::chosenToPlanes(s32(in), 2, {0, 1}, l, r, n, 1.0 / 2147483648.0); }), 8});
    intCases.push_back({"interleaved int32 in (stereo)", &containers, 8,
                        planesOf([=](uint8_t* in, float* l, float* r, uint32_t n) { interleaved::int32ToPlanes(s32(in), 2, l, r, n); }),
                        planesOf([=](uint8_t* in, float* l, float* r, uint32_t n) { reference::toPlanes(s32(in), 2, l, r, n, 1.0 / 2147483648.0); }), 8});
    // Every bit pattern of a single, NaNs among them, is copied as it is.
    intCases.push_back({"interleaved float32 in (chosen 1 and 0)", &containers, 8,
                        planesOf([=](uint8_t* in, float* l, float* r, uint32_t n) { interleaved::float32ToChosenPlanes(single(in), 2, {1, 0}, l, r, n); }),
                        planesOf([=](uint8_t* in, float* l, float* r, uint32_t n) { reference::float32ToChosenPlanes(single(in), 2, {1, 0}, l, r, n); }), 8});
    for (unsigned bits : {16u, 18u, 20u, 24u, 32u}) {
        static const char* const names[] = {"planar int32(16) in", "planar int32(18) in", "planar int32(20) in",
                                            "planar int32(24) in", "planar int32(32) in"};
        const auto [ours, theirs] = containerCase(bits);
        intCases.push_back({names[bits == 32 ? 4 : (bits - 16) / 2], &containers, 4, ours, theirs});
    }
    for (const IntCase& c : intCases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t>& in = *c.bytes;
        const uint32_t samples = uint32_t(in.size() / c.width);
        constexpr size_t kGuard = 16;
        for (uint32_t n : {samples, 1u, 2u, 3u, 4u, 5u, 8u, 9u, 15u, 16u, 17u, 63u, 64u, 65u, 127u, 128u, 129u, 300u}) {
            // The input is copied to buffers of exactly n samples, so that reading or writing
            // past their end is seen by the sanitizers; what is left in them must agree too.
            std::vector<uint8_t> ourDevice(in.begin(), in.begin() + size_t(n) * c.width), theirDevice = ourDevice;
            std::vector<uint8_t> a(size_t(n) * c.outWidth + kGuard, 0xA5), b(a);
            c.ours(ourDevice.data(), a.data(), n);
            c.theirs(theirDevice.data(), b.data(), n);
            ASSERT_EQ(a, b) << n << " samples";
            ASSERT_EQ(ourDevice, theirDevice) << n << " samples, the device buffer";
        }
    }
}
