#include "host/PresetFile.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace vl;

namespace {

// Big-endian helpers that build reference files field by field from the published layout.
void be(std::vector<uint8_t>& v, uint32_t x) {
    for (int s = 24; s >= 0; s -= 8) v.push_back(uint8_t(x >> s));
}
void tag(std::vector<uint8_t>& v, const char* t) { v.insert(v.end(), t, t + 4); }
void name28(std::vector<uint8_t>& v, const char* n) {
    size_t len = std::strlen(n);
    v.insert(v.end(), n, n + len);
    v.insert(v.end(), 28 - len, 0);
}

const int32_t kId = ('V' << 24) | ('l' << 16) | ('P' << 8) | 'b';
const PresetLimits kLimits{kId, 4, 8};

// An FxCk program: two parameters 0.5 (0x3F000000) and 1.0 (0x3F800000), name "Warm".
std::vector<uint8_t> referenceFxCk() {
    std::vector<uint8_t> v;
    tag(v, "CcnK"); be(v, 56 + 8 - 8); tag(v, "FxCk"); be(v, 1); be(v, uint32_t(kId)); be(v, 3);
    be(v, 2); name28(v, "Warm"); be(v, 0x3F000000); be(v, 0x3F800000);
    return v;
}

// An FPCh program with a 3-byte chunk.
std::vector<uint8_t> referenceFPCh() {
    std::vector<uint8_t> v;
    tag(v, "CcnK"); be(v, 60 + 3 - 8); tag(v, "FPCh"); be(v, 1); be(v, uint32_t(kId)); be(v, 3);
    be(v, 4); name28(v, "Chunky"); be(v, 3); v.push_back(1); v.push_back(2); v.push_back(3);
    return v;
}

// A version 2 FBCh bank with a 2-byte chunk, current program 1.
std::vector<uint8_t> referenceFBCh() {
    std::vector<uint8_t> v;
    tag(v, "CcnK"); be(v, 156 + 4 + 2 - 8); tag(v, "FBCh"); be(v, 2); be(v, uint32_t(kId)); be(v, 3);
    be(v, 8); be(v, 1); v.insert(v.end(), 124, 0); be(v, 2); v.push_back(9); v.push_back(8);
    return v;
}

void setSize(std::vector<uint8_t>& v, uint32_t size) {
    for (int i = 0; i < 4; ++i) v[4 + i] = uint8_t(size >> (24 - 8 * i));
}

}  // namespace

TEST(PresetFile, WritesByteExactReferenceFilesAndReadsThemBack) {
    FxProgram p;
    p.fxId = kId; p.fxVersion = 3; p.name = "Warm"; p.params = {0.5f, 1.0f};
    EXPECT_EQ(writeFxProgram(p), referenceFxCk());

    FxProgram c;
    c.fxId = kId; c.fxVersion = 3; c.name = "Chunky"; c.isChunk = true; c.numParams = 4; c.chunk = {1, 2, 3};
    EXPECT_EQ(writeFxProgram(c), referenceFPCh());

    FxBank b;
    b.fxId = kId; b.fxVersion = 3; b.isChunk = true; b.numPrograms = 8; b.currentProgram = 1; b.chunk = {9, 8};
    EXPECT_EQ(writeFxBank(b), referenceFBCh());

    auto ref = referenceFxCk();
    PresetParse r = parsePresetFile(ref.data(), ref.size(), kLimits);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.kind, PresetKind::Program);
    EXPECT_EQ(r.program.name, "Warm");
    EXPECT_EQ(r.program.params, (std::vector<float>{0.5f, 1.0f}));

    ref = referenceFBCh();
    r = parsePresetFile(ref.data(), ref.size(), kLimits);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.kind, PresetKind::Bank);
    EXPECT_TRUE(r.bank.isChunk);
    EXPECT_EQ(r.bank.currentProgram, 1);
    EXPECT_EQ(r.bank.chunk, (std::vector<uint8_t>{9, 8}));
}

TEST(PresetFile, ParameterBankRoundTripsWithEveryProgram) {
    FxBank b;
    b.fxId = kId; b.version = 1;
    for (int i = 0; i < 3; ++i) {
        FxProgram p;
        p.name = "P" + std::to_string(i);
        p.params = {float(i) / 4, 0.25f, 0.75f, 1.0f};
        b.programs.push_back(p);
    }
    auto bytes = writeFxBank(b);
    EXPECT_EQ(bytes.size(), 156u + 3 * (56 + 16));
    PresetParse r = parsePresetFile(bytes.data(), bytes.size(), kLimits);
    ASSERT_TRUE(r.ok()) << presetErrorText(r, kLimits);
    ASSERT_EQ(r.bank.programs.size(), 3u);
    EXPECT_EQ(r.bank.programs[2].name, "P2");
    EXPECT_EQ(r.bank.programs[2].params[0], 0.5f);
    EXPECT_EQ(r.bank.programs[1].fxId, kId);
}

TEST(PresetFile, RefusesEveryDamagedOrForeignFileWithItsReason) {
    auto expectError = [](std::vector<uint8_t> v, PresetError e, const PresetLimits& lim = kLimits) {
        PresetParse r = parsePresetFile(v.data(), v.size(), lim);
        EXPECT_EQ(r.error, e) << presetErrorText(r, lim);
        EXPECT_FALSE(presetErrorText(r, lim).empty());
        return r;
    };
    // Another plug-in's file: the message names the file's ID.
    PresetParse r = expectError(referenceFxCk(), PresetError::WrongPlugin, PresetLimits{1234, 4, 8});
    EXPECT_NE(presetErrorText(r, PresetLimits{1234, 4, 8}).find("'VlPb'"), std::string::npos);

    auto v = referenceFxCk(); v[0] = 'X'; expectError(v, PresetError::BadMagic);
    v = referenceFxCk(); v[8] = 'Q'; expectError(v, PresetError::BadMagic);
    v = referenceFxCk(); setSize(v, 100); expectError(v, PresetError::SizeMismatch);
    v = referenceFxCk(); v.push_back(0); setSize(v, uint32_t(v.size() - 8)); expectError(v, PresetError::SizeMismatch);
    v = referenceFPCh(); v[59] = 50; expectError(v, PresetError::ChunkTooLarge);
    v = referenceFPCh(); v[56] = 0x80; expectError(v, PresetError::ChunkTooLarge);
    v = referenceFBCh(); v[159] = 200; expectError(v, PresetError::ChunkTooLarge);
    expectError(referenceFxCk(), PresetError::TooManyParams, PresetLimits{kId, 1, 8});
    expectError(referenceFBCh(), PresetError::TooManyPrograms, PresetLimits{kId, 4, 2});
    v = referenceFxCk(); v.resize(60); setSize(v, 52); expectError(v, PresetError::Truncated);
    v = referenceFxCk(); v.resize(30); setSize(v, 22); expectError(v, PresetError::Truncated);
    v = referenceFxCk(); v.resize(8); expectError(v, PresetError::Truncated);
    v = referenceFxCk(); v[15] = 7; expectError(v, PresetError::BadVersion);
    v.assign(kMaxPresetFileBytes + 1, 0); expectError(v, PresetError::TooLarge);
}
