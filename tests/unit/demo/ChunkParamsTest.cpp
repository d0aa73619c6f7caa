#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "Chunk.h"
#include "Parameters.h"

using demo::ChunkBytes;
using demo::ChunkError;
using demo::ParamValues;

namespace {

ParamValues distinctValues() {
    ParamValues v{};
    for (int i = 0; i < demo::kNumParams; ++i) v[static_cast<size_t>(i)] = 0.05f + 0.07f * static_cast<float>(i);
    return v;
}

ChunkBytes encoded(const ParamValues& values) {
    ChunkBytes bytes{};
    demo::encodeChunk(values, bytes);
    return bytes;
}

void putFloat(std::vector<uint8_t>& bytes, size_t offset, float value) {
    uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    for (int i = 0; i < 4; ++i) bytes[offset + static_cast<size_t>(i)] = static_cast<uint8_t>(bits >> (8 * i));
}

}  // namespace

// ---- chunk ------------------------------------------------------------------------------------

TEST(Chunk, RoundTripKeepsEveryValueExactly) {
    const ParamValues original = distinctValues();
    const ChunkBytes bytes = encoded(original);
    ParamValues decoded{};
    ASSERT_EQ(demo::decodeChunk(bytes.data(), bytes.size(), decoded), ChunkError::None);
    EXPECT_EQ(decoded, original);
}

TEST(Chunk, LayoutIsLittleEndianWithAVersionedHeader) {
    ParamValues values{};
    values[0] = 0.5f;  // 0x3F000000
    values[1] = 1.0f;  // 0x3F800000
    const ChunkBytes bytes = encoded(values);
    EXPECT_EQ(bytes.size(), 8u + 4u * demo::kNumParams);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data()), 4), "VLDS");
    EXPECT_EQ(bytes[4], 1);  // version 1, low byte first
    EXPECT_EQ(bytes[5], 0);
    EXPECT_EQ(bytes[6], demo::kNumParams);
    EXPECT_EQ(bytes[7], 0);
    EXPECT_EQ((std::vector<uint8_t>(bytes.begin() + 8, bytes.begin() + 16)),
              (std::vector<uint8_t>{0x00, 0x00, 0x00, 0x3F, 0x00, 0x00, 0x80, 0x3F}));
}

TEST(Chunk, DamagedRecordsAreRefusedAndChangeNothing) {
    const ChunkBytes good = encoded(distinctValues());
    const std::vector<uint8_t> base(good.begin(), good.end());
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        ChunkError expected;
    };
    std::vector<Case> cases;
    auto with = [&](size_t offset, uint8_t value) {
        std::vector<uint8_t> b = base;
        b[offset] = value;
        return b;
    };
    auto withValue = [&](int index, float value) {
        std::vector<uint8_t> b = base;
        putFloat(b, 8 + 4 * static_cast<size_t>(index), value);
        return b;
    };
    cases.push_back({"magic", with(0, 'X'), ChunkError::BadMagic});
    cases.push_back({"version 2", with(4, 2), ChunkError::UnknownVersion});
    cases.push_back({"version 0", with(4, 0), ChunkError::UnknownVersion});
    cases.push_back({"version high byte", with(5, 1), ChunkError::UnknownVersion});
    cases.push_back({"one parameter fewer", with(6, demo::kNumParams - 1), ChunkError::WrongCount});
    cases.push_back({"one parameter more", with(6, demo::kNumParams + 1), ChunkError::WrongCount});
    cases.push_back({"not a number", withValue(3, std::numeric_limits<float>::quiet_NaN()), ChunkError::ValueOutOfRange});
    cases.push_back({"infinite", withValue(0, std::numeric_limits<float>::infinity()), ChunkError::ValueOutOfRange});
    cases.push_back({"negative", withValue(demo::kNumParams - 1, -0.01f), ChunkError::ValueOutOfRange});
    cases.push_back({"above one", withValue(5, 1.0001f), ChunkError::ValueOutOfRange});
    std::vector<uint8_t> longer = base;
    longer.push_back(0);
    cases.push_back({"one byte too many", longer, ChunkError::WrongSize});
    for (size_t size = 1; size < base.size(); ++size)
        cases.push_back({"truncated", std::vector<uint8_t>(base.begin(), base.begin() + static_cast<long>(size)),
                         ChunkError::WrongSize});

    const ParamValues untouched = demo::defaultParamValues();
    for (const Case& c : cases) {
        ParamValues values = untouched;
        EXPECT_EQ(demo::decodeChunk(c.bytes.data(), c.bytes.size(), values), c.expected)
            << c.what << " (" << c.bytes.size() << " bytes)";
        EXPECT_EQ(values, untouched) << c.what;
    }
    ParamValues values = untouched;
    EXPECT_EQ(demo::decodeChunk(nullptr, base.size(), values), ChunkError::Missing);
    EXPECT_EQ(values, untouched);
}

// ---- parameters -------------------------------------------------------------------------------

TEST(Parameters, TextsFitTheHostsEightCharactersAcrossTheWholeRange) {
    for (int p = 0; p < demo::kNumParams; ++p) {
        EXPECT_LE(std::strlen(demo::paramName(p)), 8u) << p;
        EXPECT_GT(std::strlen(demo::paramName(p)), 0u) << p;
        for (int step = 0; step <= 1000; ++step) {
            demo::ParamText text{};
            demo::formatParam(p, static_cast<float>(step) / 1000.0f, text);
            ASSERT_LE(std::strlen(text.value), 8u) << demo::paramName(p) << " " << step;
            ASSERT_LE(std::strlen(text.label), 8u) << demo::paramName(p) << " " << step;
            ASSERT_GT(std::strlen(text.value), 0u) << demo::paramName(p) << " " << step;
        }
    }
}

TEST(Parameters, DisplayShowsPlainUnits) {
    auto show = [](int p, float plain) {
        demo::ParamText text{};
        demo::formatParam(p, demo::paramToNormalized(p, plain), text);
        return std::string(text.value) + " " + text.label;
    };
    EXPECT_EQ(show(demo::kCutoff, 1500.0f), "1.50 kHz");
    EXPECT_EQ(show(demo::kCutoff, 20.0f), "20 Hz");
    EXPECT_EQ(show(demo::kCutoff, 20000.0f), "20.0 kHz");
    EXPECT_EQ(show(demo::kAttack, 0.003f), "3.0 ms");
    EXPECT_EQ(show(demo::kRelease, 0.3f), "300 ms");
    EXPECT_EQ(show(demo::kDecay, 5.0f), "5.00 s");
    EXPECT_EQ(show(demo::kSustain, 0.7f), "70 %");
    EXPECT_EQ(show(demo::kVolume, 0.5f), "-6.0 dB");
    EXPECT_EQ(show(demo::kVolume, 0.0f), "-inf dB");
    EXPECT_EQ(show(demo::kDetune, 12.5f), "12.5 cent");
}

TEST(ParameterStore, ClampsIgnoresNonNumbersAndCountsChanges) {
    demo::ParameterStore store;
    EXPECT_EQ(store.snapshot(), demo::defaultParamValues());
    const uint32_t start = store.generation();
    EXPECT_TRUE(store.set(demo::kCutoff, 1.5f));
    EXPECT_EQ(store.get(demo::kCutoff), 1.0f);
    EXPECT_TRUE(store.set(demo::kCutoff, -2.0f));
    EXPECT_EQ(store.get(demo::kCutoff), 0.0f);
    EXPECT_FALSE(store.set(demo::kCutoff, std::nanf("")));
    EXPECT_EQ(store.get(demo::kCutoff), 0.0f);
    EXPECT_FALSE(store.set(-1, 0.5f));
    EXPECT_FALSE(store.set(demo::kNumParams, 0.5f));
    EXPECT_EQ(store.generation(), start + 2);
    store.setAll(distinctValues());
    EXPECT_EQ(store.snapshot(), distinctValues());
    EXPECT_EQ(store.generation(), start + 3);
}
