// WAV / AIFF reading and writing from hand-built byte images and files of our own; runs natively
// and under Wine.

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>

#include "ChunkImage.h"
#include "SparseByteSource.h"
#include "platform/FileIO.h"
#include "platform/Text.h"
#include "player/AudioFile.h"
#include "player/PlayerCore.h"

using namespace vl;
using namespace vl::test;
namespace fs = std::filesystem;

namespace {

// Samples of `width` bytes each, in the given byte order.
Bytes ints(std::initializer_list<int64_t> values, unsigned width, bool big) {
    Bytes out;
    for (int64_t v : values)
        for (unsigned b = 0; b < width; ++b) out.push_back(uint8_t(uint64_t(v) >> (8 * (big ? width - 1 - b : b))));
    return out;
}
Bytes floats(std::initializer_list<double> values, unsigned width, bool big) {
    Bytes out;
    for (double v : values) {
        const int64_t bits = width == 4 ? int64_t(std::bit_cast<uint32_t>(float(v))) : std::bit_cast<int64_t>(v);
        const Bytes one = ints({bits}, width, big);
        out.insert(out.end(), one.begin(), one.end());
    }
    return out;
}
Bytes rate44100() {
    const auto r = encodeExtendedRate(44100);
    return Bytes(r.begin(), r.end());
}

struct Decoded {
    uint32_t frames = 0;
    AudioFileError error = AudioFileError::None;
    SampleFormat format = SampleFormat::None;
    int32_t rate = 0;
    std::vector<float> left, right;
};

Decoded decode(VLAudioFileBase& file, const Bytes& image) {
    Decoded d;
    d.frames = file.openRead(std::make_unique<MemoryByteSource>(image));
    d.error = file.lastError();
    d.format = file.sampleFormat();
    d.rate = file.sampleRate();
    if (d.frames > 0) {
        d.left.assign(d.frames, 9.0f);
        d.right.assign(d.frames, 9.0f);
        EXPECT_TRUE(file.readAll({d.left.data(), d.right.data()}));
    }
    return d;
}
Decoded decodeWav(const Bytes& image) {
    VLAudioFileWAV file;
    return decode(file, image);
}
Decoded decodeAiff(const Bytes& image) {
    VLAudioFileAIFF file;
    return decode(file, image);
}
Bytes wav(const Bytes& fmt, const Bytes& data) { return ChunkImage::riff().chunk("fmt ", fmt).chunk("data", data).image(); }

struct LayoutCase {
    const char* name;
    Bytes image;
    SampleFormat format;
    std::vector<float> left;
    std::vector<float> right = {};  // empty: mono, the same as left
};

void expectDecodes(const LayoutCase& c, const Decoded& d) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(d.error, AudioFileError::None) << describe(d.error);
    EXPECT_EQ(d.format, c.format);
    EXPECT_EQ(d.rate, 44100);
    EXPECT_EQ(d.left, c.left);
    EXPECT_EQ(d.right, c.right.empty() ? c.left : c.right);  // mono fills both
}

fs::path scratchDir(const std::wstring& name) {
    const fs::path dir = fs::temp_directory_path() / platform::pathFromWide(name);
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

Bytes fileBytes(const fs::path& path) { return platform::readWholeFile(path).value_or(Bytes{}); }

}  // namespace

TEST(AudioFileArithmetic, BitsToBytesAndPadsOverEveryRemainder) {
    for (uint32_t bits = 0; bits <= 72; ++bits) EXPECT_EQ(bytesForBits(bits), (bits + 7) / 8) << bits;
    EXPECT_EQ(bytesForBits(0xFFFFFFFFu), 0x20000000u);  // no wrap at the top
    for (uint32_t size : {0u, 1u, 2u, 3u, 601u, 0xFFFFFFFEu}) EXPECT_EQ(paddedChunkSize(size), size + size % 2);
    EXPECT_EQ(paddedChunkSize(0xFFFFFFFFu), 0x100000000ull);
}

TEST(AudioFileArithmetic, ExtendedRatesRoundTripAndRefuseNonsense) {
    const auto r = encodeExtendedRate(44100);
    EXPECT_EQ(Bytes(r.begin(), r.end()), (Bytes{0x40, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0}));
    const auto one = encodeExtendedRate(1);
    EXPECT_EQ(Bytes(one.begin(), one.end()), (Bytes{0x3F, 0xFF, 0x80, 0, 0, 0, 0, 0, 0, 0}));
    for (uint32_t rate : {1u, 2u, 3u, 8000u, 22050u, 44100u, 48000u, 96000u, 192000u, 0x3FFFFFFFu, 0x40000000u,
                          0x80000001u, 0xFFFFFFFFu}) {
        EXPECT_EQ(decodeExtendedRate(encodeExtendedRate(rate).data()), rate);
    }
    const uint8_t fraction[10] = {0x40, 0x0D, 0xAD, 0xDD, 0x17, 0x45, 0xD1, 0x74, 0x5D, 0x17};  // 22254.5454...
    EXPECT_EQ(decodeExtendedRate(fraction), 22254u);
    const uint8_t half[10] = {0x3F, 0xFE, 0x80};
    const uint8_t negative[10] = {0xC0, 0x0E, 0xAC, 0x44};
    const uint8_t huge[10] = {0x40, 0x1F, 0x80};  // 2^32
    const uint8_t zero[10] = {};
    for (const uint8_t* bad : {half, negative, huge, zero}) EXPECT_EQ(decodeExtendedRate(bad), 0u);
}

TEST(AudioFileArithmetic, WriterHeadersCarryTheSizesAndClampInsteadOfWrapping) {
    const Bytes empty = [] { auto h = wavStereo16Header(0, 44100); return Bytes(h.begin(), h.end()); }();
    EXPECT_EQ(empty, ChunkImage::cat({Bytes{'R', 'I', 'F', 'F', 36, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' '},
                                      Bytes{16, 0, 0, 0, 1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0},
                                      Bytes{'d', 'a', 't', 'a', 0, 0, 0, 0}}));
    const auto big = wavStereo16Header(0xFFFFFFFFu, 48000);
    const uint32_t riffSize = uint32_t(big[4] | big[5] << 8 | big[6] << 16) | uint32_t(big[7]) << 24;
    const uint32_t dataSize = uint32_t(big[40] | big[41] << 8 | big[42] << 16) | uint32_t(big[43]) << 24;
    EXPECT_EQ(dataSize, kMaxWavFrames * 4);
    EXPECT_EQ(riffSize, dataSize + 36);
    EXPECT_GT(riffSize, 0xFFFFFFF0u);

    const auto aiff = aiffStereo16Header(1000, 44100);
    EXPECT_EQ(Bytes(aiff.begin(), aiff.begin() + 12), (Bytes{'F', 'O', 'R', 'M', 0, 0, 0x0F, 0xCE, 'A', 'I', 'F', 'F'}));
    EXPECT_EQ(Bytes(aiff.begin() + 20, aiff.begin() + 38),
              ChunkImage::cat({Bytes{0, 2, 0, 0, 0x03, 0xE8, 0, 16}, rate44100()}));
    EXPECT_EQ(Bytes(aiff.begin() + 38, aiff.end()), (Bytes{'S', 'S', 'N', 'D', 0, 0, 0x0F, 0xA8, 0, 0, 0, 0, 0, 0, 0, 0}));
    const auto aiffBig = aiffStereo16Header(0xFFFFFFFFu, 44100);
    EXPECT_EQ(uint32_t(aiffBig[22]) << 24 | uint32_t(aiffBig[23]) << 16 | uint32_t(aiffBig[24]) << 8 | aiffBig[25],
              kMaxAiffFrames);
    EXPECT_GT(uint32_t(aiffBig[4]) << 24 | uint32_t(aiffBig[5]) << 16, 0xFFF00000u);
}

TEST(WavReading, EveryLayoutByChannelsBitsAndTag) {
    const float i24 = 1.0f / 8388608;
    const LayoutCase cases[] = {
        {"8-bit unsigned mono", wav(fmtBody(1, 1, 44100, 8), Bytes{0, 128, 255}), SampleFormat::Mono8,
         {-1.0f, 0.0f, 127.0f / 128}},
        {"16-bit stereo", wav(fmtBody(1, 2, 44100, 16), ints({-32768, 16384, 32767, 1}, 2, false)),
         SampleFormat::Stereo16, {-1.0f, 32767.0f / 32768}, {0.5f, 1.0f / 32768}},
        {"24-bit mono", wav(fmtBody(1, 1, 44100, 24), ints({-8388608, 8388607, 1}, 3, false)), SampleFormat::Mono24,
         {-1.0f, 8388607 * i24, i24}},
        {"32-bit integer mono", wav(fmtBody(1, 1, 44100, 32), ints({INT32_MIN, 0x40000000}, 4, false)),
         SampleFormat::Mono32, {-1.0f, 0.5f}},
        {"32-bit float mono", wav(fmtBody(3, 1, 44100, 32), floats({0.25, -3.5}, 4, false)),
         SampleFormat::MonoFloat32, {0.25f, -3.5f}},
        {"64-bit float stereo", wav(fmtBody(3, 2, 44100, 64), floats({0.1, -0.2}, 8, false)),
         SampleFormat::StereoFloat64, {0.1f}, {-0.2f}},
        {"64-bit integer mono", wav(fmtBody(1, 1, 44100, 64), ints({INT64_MIN, int64_t(1) << 62}, 8, false)),
         SampleFormat::Mono64, {-1.0f, 0.5f}},
        {"12-bit in 16", wav(fmtBody(1, 1, 44100, 12), ints({0x7FF0, -16}, 2, false)), SampleFormat::Mono16,
         {0x7FF0 / 32768.0f, -16 / 32768.0f}},
        {"extensible 24-bit stereo", wav(extensibleFmtBody(1, 2, 44100, 24), ints({-4194304, 4194304}, 3, false)),
         SampleFormat::Stereo24, {-0.5f}, {0.5f}},
        {"extensible float mono", wav(extensibleFmtBody(3, 1, 44100, 32), floats({-0.75}, 4, false)),
         SampleFormat::MonoFloat32, {-0.75f}},
    };
    for (const LayoutCase& c : cases) expectDecodes(c, decodeWav(c.image));
}

TEST(WavReading, ChunksAroundTheSamplesAreWalkedWithTheirPadBytes) {
    const Bytes fmt = fmtBody(1, 2, 44100, 16), data = ints({100, -100, 200, -200}, 2, false);
    const Bytes list(5, 'x'), bext(603, 0);
    const Bytes images[] = {
        ChunkImage::riff().chunk("fmt ", fmt).chunk("LIST", list).chunk("data", data).image(),
        ChunkImage::riff().chunk("bext", bext).chunk("fmt ", fmt).chunk("data", data).image(),
        ChunkImage::riff().chunk("data", data).chunk("fmt ", fmt).image(),  // samples first
        ChunkImage::riff().chunk("fmt ", fmt).chunk("data", data).chunk("LIST", list).append({1, 2, 3}).image(),
    };
    for (const Bytes& image : images) {
        const Decoded d = decodeWav(image);
        ASSERT_EQ(d.frames, 2u) << describe(d.error);
        EXPECT_EQ(d.left, (std::vector<float>{100 / 32768.0f, 200 / 32768.0f}));
        EXPECT_EQ(d.right, (std::vector<float>{-100 / 32768.0f, -200 / 32768.0f}));
    }
    // An odd data size keeps the whole frames.
    EXPECT_EQ(decodeWav(wav(fmt, ints({1, 2, 3}, 2, false))).frames, 1u);
}

TEST(WavReading, UnsupportedOrDamagedFilesGiveNoFramesAndAReason) {
    const Bytes fmt = fmtBody(1, 2, 44100, 16), data = ints({1, 2, 3, 4}, 2, false);
    struct Case {
        const char* name;
        Bytes image;
        AudioFileError error;
    };
    ChunkImage manyChunks = ChunkImage::riff();
    for (int i = 0; i < 5000; ++i) manyChunks.header("junk", 0);
    const Case cases[] = {
        {"ADPCM", wav(fmtBody(2, 2, 44100, 4, 4), data), AudioFileError::UnsupportedEncoding},
        {"40-bit", wav(fmtBody(1, 1, 44100, 40), data), AudioFileError::UnsupportedEncoding},
        {"float of 16 bits", wav(fmtBody(3, 1, 44100, 16), data), AudioFileError::UnsupportedEncoding},
        {"block align disagrees", wav(fmtBody(1, 2, 44100, 16, 8), data), AudioFileError::UnsupportedEncoding},
        {"extensible, foreign GUID", wav(extensibleFmtBody(1, 2, 44100, 16, 0x72), data),
         AudioFileError::UnsupportedEncoding},
        {"extensible, short fmt", wav(fmtBody(0xFFFE, 2, 44100, 16), data), AudioFileError::MalformedChunk},
        {"fmt of 14 bytes", wav(Bytes(fmt.begin(), fmt.begin() + 14), data), AudioFileError::MalformedChunk},
        {"no channels", wav(fmtBody(1, 0, 44100, 16, 4), data), AudioFileError::UnsupportedChannels},
        {"three channels", wav(fmtBody(1, 3, 44100, 16), data), AudioFileError::UnsupportedChannels},
        {"rate 0", wav(fmtBody(1, 2, 0, 16), data), AudioFileError::UnsupportedSampleRate},
        {"no data", ChunkImage::riff().chunk("fmt ", fmt).chunk("LIST", Bytes(4, 0)).image(),
         AudioFileError::MissingData},
        {"no fmt", ChunkImage::riff().chunk("data", data).image(), AudioFileError::MissingFormat},
        {"data larger than the file", ChunkImage::riff().chunk("fmt ", fmt).header("data", 0x7FFFFFF0).append(data).image(),
         AudioFileError::DataPastEnd},
        // A size that would wrap a 32-bit offset back to the start must not loop.
        {"wrapping chunk size", ChunkImage::riff().chunk("fmt ", fmt).header("LIST", 0xFFFFFFDC).image(),
         AudioFileError::MissingData},
        {"chunk past the end", ChunkImage::riff().header("fmt ", 1000).append(fmt).image(), AudioFileError::MissingData},
        {"fmt cut short", ChunkImage::riff().chunk("data", data).header("fmt ", 40).append(fmt).image(),
         AudioFileError::ReadFailed},
        {"endless empty chunks", manyChunks.image(), AudioFileError::TooManyChunks},
        {"not RIFF", ChunkImage::form().chunk("fmt ", fmt).image(), AudioFileError::NotWave},
        {"too short", Bytes{'R', 'I', 'F', 'F'}, AudioFileError::NotWave},
    };
    for (const Case& c : cases) {
        const Decoded d = decodeWav(c.image);
        EXPECT_EQ(d.frames, 0u) << c.name;
        EXPECT_EQ(d.error, c.error) << c.name << ": " << describe(d.error);
    }
}

TEST(AiffReading, EveryLayoutAndTheFloatCompressions) {
    const auto aiff = [](uint16_t ch, uint32_t frames, uint16_t bits, const Bytes& samples) {
        return ChunkImage::form().chunk("COMM", commBody(ch, frames, bits, rate44100())).chunk("SSND", ssndBody(samples)).image();
    };
    const auto aifc = [](uint16_t ch, uint32_t frames, uint16_t bits, const char* type, const Bytes& samples) {
        return ChunkImage::form("AIFC")
            .chunk("FVER", Bytes{0xA2, 0x80, 0x51, 0x40})
            .chunk("COMM", commBody(ch, frames, bits, rate44100(), type))
            .chunk("SSND", ssndBody(samples))
            .image();
    };
    const LayoutCase cases[] = {
        {"8-bit signed mono", aiff(1, 3, 8, Bytes{0x80, 0x00, 0x7F}), SampleFormat::Mono8, {-1.0f, 0.0f, 127.0f / 128}},
        {"16-bit stereo", aiff(2, 1, 16, ints({-32768, 16384}, 2, true)), SampleFormat::Stereo16, {-1.0f}, {0.5f}},
        {"24-bit stereo", aiff(2, 1, 24, ints({8388607, -2}, 3, true)), SampleFormat::Stereo24,
         {8388607.0f / 8388608}, {-2.0f / 8388608}},
        {"32-bit mono", aiff(1, 2, 32, ints({INT32_MIN, 0x20000000}, 4, true)), SampleFormat::Mono32, {-1.0f, 0.25f}},
        {"64-bit mono", aiff(1, 1, 64, ints({int64_t(-1) << 62}, 8, true)), SampleFormat::Mono64, {-0.5f}},
        {"20-bit in 24", aiff(1, 1, 20, ints({0x123450}, 3, true)), SampleFormat::Mono24, {0x123450 / 8388608.0f}},
        {"fl32 stereo", aifc(2, 1, 32, "fl32", floats({0.5, -1.25}, 4, true)), SampleFormat::StereoFloat32, {0.5f}, {-1.25f}},
        {"fl64 mono", aifc(1, 2, 64, "fl64", floats({0.1, 2.0}, 8, true)), SampleFormat::MonoFloat64, {0.1f, 2.0f}},
    };
    for (const LayoutCase& c : cases) expectDecodes(c, decodeAiff(c.image));
}

TEST(AiffReading, ChunkOrderPadBytesAndTheSoundOffsetAreHonoured) {
    const Bytes comm = commBody(1, 2, 16, rate44100()), samples = ints({1000, -1000}, 2, true);
    const Bytes images[] = {
        ChunkImage::form().chunk("ANNO", Bytes(5, 'a')).chunk("COMM", comm).chunk("SSND", ssndBody(samples)).image(),
        ChunkImage::form().chunk("SSND", ssndBody(samples)).chunk("COMM", comm).image(),  // COMM last
        ChunkImage::form().chunk("COMM", comm).chunk("SSND", ssndBody(samples, 6)).image(),
        ChunkImage::form().chunk("COMM", comm).chunk("SSND", ChunkImage::cat({ssndBody(samples), Bytes(4, 0x55)})).image(),
    };
    for (const Bytes& image : images) {
        const Decoded d = decodeAiff(image);
        ASSERT_EQ(d.frames, 2u) << describe(d.error);
        EXPECT_EQ(d.left, (std::vector<float>{1000 / 32768.0f, -1000 / 32768.0f}));
    }
}

TEST(AiffReading, UnsupportedOrDamagedFilesGiveNoFramesAndAReason) {
    const Bytes samples = ints({1, 2, 3, 4}, 2, true);
    const auto file = [&](const char* type, const Bytes& comm, const Bytes& ssnd) {
        return ChunkImage::form(type).chunk("COMM", comm).chunk("SSND", ssnd).image();
    };
    struct Case {
        const char* name;
        Bytes image;
        AudioFileError error;
    };
    const uint8_t slowRate[10] = {0x3F, 0xFE, 0x80};  // 0.5 Hz
    const Case cases[] = {
        {"AIFC NONE", file("AIFC", commBody(2, 1, 16, rate44100(), "NONE"), ssndBody(samples)),
         AudioFileError::UnsupportedEncoding},
        {"AIFC sowt", file("AIFC", commBody(2, 1, 16, rate44100(), "sowt"), ssndBody(samples)),
         AudioFileError::UnsupportedEncoding},
        {"fl32 of 16 bits", file("AIFC", commBody(2, 1, 16, rate44100(), "fl32"), ssndBody(samples)),
         AudioFileError::UnsupportedEncoding},
        {"fl32 of 64 bits", file("AIFC", commBody(1, 1, 64, rate44100(), "fl32"), ssndBody(Bytes(8, 0))),
         AudioFileError::UnsupportedEncoding},
        {"three channels", file("AIFF", commBody(3, 1, 16, rate44100()), ssndBody(Bytes(6, 0))),
         AudioFileError::UnsupportedChannels},
        {"rate below 1", file("AIFF", commBody(2, 1, 16, Bytes(slowRate, slowRate + 10)), ssndBody(samples)),
         AudioFileError::UnsupportedSampleRate},
        {"no bits", file("AIFF", commBody(2, 1, 0, rate44100()), ssndBody(samples)), AudioFileError::UnsupportedEncoding},
        {"more frames than SSND holds", file("AIFF", commBody(2, 3, 16, rate44100()), ssndBody(samples)),
         AudioFileError::DataPastEnd},
        {"huge frame count", file("AIFF", commBody(2, 0xFFFFFFFF, 64, rate44100()), ssndBody(samples)),
         AudioFileError::DataPastEnd},
        {"offset past the chunk",
         file("AIFF", commBody(2, 1, 16, rate44100()), ChunkImage::cat({Bytes{0, 0, 0, 64, 0, 0, 0, 0}, samples})),
         AudioFileError::DataPastEnd},
        {"short COMM", file("AIFF", Bytes(16, 0), ssndBody(samples)), AudioFileError::MalformedChunk},
        {"short SSND", file("AIFF", commBody(2, 1, 16, rate44100()), Bytes(6, 0)), AudioFileError::MalformedChunk},
        {"no SSND", ChunkImage::form().chunk("COMM", commBody(2, 1, 16, rate44100())).image(), AudioFileError::MissingData},
        {"no COMM", ChunkImage::form().chunk("SSND", ssndBody(samples)).image(), AudioFileError::MissingFormat},
        {"wrapping chunk size", ChunkImage::form().header("ANNO", 0xFFFFFFF4).image(), AudioFileError::MissingFormat},
        {"RIFF given to AIFF", wav(fmtBody(1, 2, 44100, 16), samples), AudioFileError::NotAiff},
    };
    for (const Case& c : cases) {
        const Decoded d = decodeAiff(c.image);
        EXPECT_EQ(d.frames, 0u) << c.name;
        EXPECT_EQ(d.error, c.error) << c.name << ": " << describe(d.error);
    }
}

// Headers over a hole of gigabytes, as a sparse file gives them: the frame count is refused
// before anything is allocated or read.
TEST(AudioFileLimits, FramesBeyondWhatThePlayerHoldsAreRefused) {
    struct Case {
        const char* name;
        bool aiff;
        Bytes head;        // everything up to the sample data
        uint64_t samples;  // bytes of samples the source claims after the head
        uint32_t frames;   // 0: refused as TooLong
    };
    const ChunkImage be = ChunkImage::form();
    auto wavHead = [](const Bytes& fmt, uint32_t dataBytes) {
        return ChunkImage::riff().chunk("fmt ", fmt).header("data", dataBytes).image();
    };
    auto aiffHead = [&](uint16_t channels, uint32_t frames, uint16_t bits, uint32_t ssndBytes) {
        return ChunkImage::form().chunk("COMM", commBody(channels, frames, bits, rate44100()))
            .header("SSND", ssndBytes).append(ChunkImage::cat({be.u32(0), be.u32(0)})).image();
    };
    const Case cases[] = {
        {"WAV, 2^32 - 1 frames", false, wavHead(fmtBody(1, 1, 44100, 8), 0xFFFFFFFFu), 0xFFFFFFFFu, 0},
        {"WAV, one frame too many", false, wavHead(fmtBody(1, 1, 44100, 16), (kMaxReadFrames + 1) * 2),
         uint64_t(kMaxReadFrames + 1) * 2, 0},
        {"WAV, as many as the player holds", false, wavHead(fmtBody(1, 1, 44100, 8), kMaxReadFrames), kMaxReadFrames,
         kMaxReadFrames},
        {"WAV, 4 GB of 64-bit stereo", false, wavHead(fmtBody(3, 2, 44100, 64), 0xFFFFFFF0u), 0xFFFFFFF0u,
         0xFFFFFFF0u / 16},
        {"AIFF, 2^32 - 16 frames", true, aiffHead(1, 0xFFFFFFF0u, 8, 0xFFFFFFF8u), 0xFFFFFFF0u, 0},
        {"AIFF, as many as the player holds", true, aiffHead(2, kMaxReadFrames, 16, kMaxReadFrames * 4 + 8),
         uint64_t(kMaxReadFrames) * 4, kMaxReadFrames},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<VLAudioFileBase> file = makeAudioFile(c.aiff ? AudioFileType::Aiff : AudioFileType::Wav);
        auto source = std::make_unique<SparseByteSource>(c.head, c.head.size() + c.samples);
        const SparseByteSource& watched = *source;
        EXPECT_EQ(file->openRead(std::move(source)), c.frames);
        EXPECT_EQ(file->lastError(), c.frames ? AudioFileError::None : AudioFileError::TooLong);
        if (c.frames == 0) {
            EXPECT_FALSE(file->isOpen());
            PlayerSample sample;
            EXPECT_FALSE(readPlayerSample(*file, sample));
            EXPECT_EQ(sample.left, nullptr);
        } else {
            EXPECT_LT(watched.reads, 10u);  // only the header was read
        }
    }
}

TEST(AudioFileLimits, ThePlayersCopyRepeatsFrameZeroAfterTheLast) {
    // 100 000 frames of which only the first three are stored: the rest reads as zeros.
    const Bytes head = ChunkImage::riff().chunk("fmt ", fmtBody(1, 2, 44100, 16)).header("data", 400000)
                           .append(ints({16384, -16384, 8192, -8192, 0, 0}, 2, false)).image();
    VLAudioFileWAV file;
    ASSERT_EQ(file.openRead(std::make_unique<SparseByteSource>(head, head.size() - 12 + 400000)), 100000u);
    PlayerSample sample;
    ASSERT_TRUE(readPlayerSample(file, sample));
    ASSERT_EQ(sample.frames, 100000u);
    EXPECT_EQ(sample.left[0], 0.5f);
    EXPECT_EQ(sample.right[1], -0.25f);
    EXPECT_EQ(sample.left[99999], 0.0f);
    EXPECT_EQ(sample.left[100000], 0.5f);
    EXPECT_EQ(sample.right[100000], -0.5f);
    // A file that is not open gives nothing.
    file.close();
    EXPECT_FALSE(readPlayerSample(file, sample));
    EXPECT_EQ(sample.frames, 0u);
}

TEST(AudioFileObject, ReadAllNeedsAnOpenFileBothArraysAndTheWholeData) {
    VLAudioFileWAV file;
    float l[4], r[4];
    EXPECT_FALSE(file.readAll({l, r}));
    EXPECT_EQ(file.lastError(), AudioFileError::NotOpen);
    const Bytes image = wav(fmtBody(1, 2, 44100, 16), ints({1, 2, 3, 4}, 2, false));
    ASSERT_EQ(file.openRead(std::make_unique<MemoryByteSource>(image)), 2u);
    EXPECT_FALSE(file.readAll({l, nullptr}));
    EXPECT_EQ(file.lastError(), AudioFileError::MissingBuffer);

    // A file cut short after its header was read.
    struct CutAfterHeader final : ByteSource {
        explicit CutAfterHeader(Bytes bytes) : whole(std::move(bytes)) {}
        uint64_t size() const override { return whole.size(); }
        bool readAt(uint64_t offset, void* out, size_t count) override {
            return offset < kWavHeaderBytes && whole.readAt(offset, out, count);
        }
        MemoryByteSource whole;
    };
    auto shrinking = std::make_unique<CutAfterHeader>(image);
    ASSERT_EQ(file.openRead(std::move(shrinking)), 2u);
    EXPECT_FALSE(file.readAll({l, r}));
    EXPECT_EQ(file.lastError(), AudioFileError::ReadFailed);

    file.close();
    EXPECT_FALSE(file.isOpen());
    EXPECT_EQ(file.frameCount(), 0u);
    EXPECT_EQ(file.sampleRate(), 44100);  // stays readable after close
}

TEST(AudioFileFactories, TheLastCharacterChoosesTheType) {
    const fs::path dir = scratchDir(L"vorlane-factories");
    std::unique_ptr<VLAudioFileBase> slot;
    EXPECT_EQ(OpenAudioFile(slot, dir / "missing.WAV"), 0u);
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(slot->fileType(), AudioFileType::Wav);
    EXPECT_EQ(slot->lastError(), AudioFileError::CannotOpen);
    EXPECT_EQ(OpenAudioFile(slot, dir / "missing.AIFF"), 0u);
    EXPECT_EQ(slot->fileType(), AudioFileType::Aiff);
    EXPECT_EQ(OpenAudioFile(slot, dir / "song.mp3"), 0u);
    EXPECT_EQ(slot, nullptr);

    EXPECT_FALSE(CreateAudioFile(slot, dir / "take.WAV", 10, 44100));  // creation is case-sensitive
    EXPECT_FALSE(CreateAudioFile(slot, dir / "take.flac", 10, 44100));
    EXPECT_EQ(slot, nullptr);
    EXPECT_TRUE(fs::is_empty(dir));
    EXPECT_FALSE(CreateAudioFile(slot, dir / "missing" / "take.wav", 10, 44100));
    EXPECT_EQ(slot->lastError(), AudioFileError::CannotOpen);
    EXPECT_FALSE(CreateAudioFile(slot, dir / "take.wav", 10, 0));
    EXPECT_EQ(slot->lastError(), AudioFileError::InvalidArgument);
    fs::remove_all(dir);
}

TEST(AudioFileWriting, RecordingsRoundTripInANonLatinFolder) {
    const fs::path dir = scratchDir(L"vorlane-\u0417\u0430\u043f\u0438\u0441\u044c-\u9332\u97f3-\u00e9");
    const std::vector<float> left = {0.0f, 1.0f, -1.0f, 0.99999f, 0.5f, 2.0f, -3.0f};
    const std::vector<float> right = {0.25f, -0.5f, std::numeric_limits<float>::quiet_NaN(), 1e-6f, -0.99999f, 0.0f,
                                      1.0f};
    const std::vector<int16_t> wantLeft = {0, 32767, -32767, 32766, 16383, 32767, -32767};
    const std::vector<int16_t> wantRight = {8191, -16383, 0, 0, -32766, 0, 32767};
    for (const char* name : {"take.wav", "take.aif", "take.aiff"}) {
        SCOPED_TRACE(name);
        const fs::path path = dir / name;
        std::unique_ptr<VLAudioFileBase> slot;
        ASSERT_TRUE(CreateAudioFile(slot, path, uint32_t(left.size()), 48000));
        EXPECT_TRUE(slot->writing());
        ASSERT_TRUE(slot->writeStereo16({const_cast<float*>(left.data()), const_cast<float*>(right.data())},
                                        uint32_t(left.size())));
        EXPECT_FALSE(slot->isOpen());

        const Bytes bytes = fileBytes(path);
        const bool aiff = slot->fileType() == AudioFileType::Aiff;
        ASSERT_EQ(bytes.size(), (aiff ? kAiffHeaderBytes : kWavHeaderBytes) + left.size() * 4);

        ASSERT_EQ(OpenAudioFile(slot, path), left.size());
        EXPECT_EQ(slot->sampleRate(), 48000);
        EXPECT_EQ(slot->sampleFormat(), SampleFormat::Stereo16);
        std::vector<float> l(left.size()), r(left.size());
        ASSERT_TRUE(slot->readAll({l.data(), r.data()}));
        for (size_t i = 0; i < left.size(); ++i) {
            EXPECT_EQ(l[i], wantLeft[i] / 32768.0f) << i;
            EXPECT_EQ(r[i], wantRight[i] / 32768.0f) << i;
        }
    }
    fs::remove_all(dir);
}

// 24-bit PCM and 32-bit float WAV: the header fields of each, and exact values back.
TEST(AudioFileWriting, WiderWavFormatsCarryTheirOwnHeaderFields) {
    const ChunkImage le = ChunkImage::riff();
    struct Case {
        SampleFormat format;
        Bytes fmt;        // the "fmt " chunk with its header
        Bytes beforeData; // chunks between "fmt " and "data"
        uint32_t frameBytes;
    };
    const Case cases[] = {
        {SampleFormat::Stereo24,
         ChunkImage::cat({Bytes{'f', 'm', 't', ' '}, le.u32(16), le.u16(1), le.u16(2), le.u32(48000), le.u32(288000),
                          le.u16(6), le.u16(24)}),
         {}, 6},
        {SampleFormat::StereoFloat32,
         ChunkImage::cat({Bytes{'f', 'm', 't', ' '}, le.u32(18), le.u16(3), le.u16(2), le.u32(48000), le.u32(384000),
                          le.u16(8), le.u16(32), le.u16(0)}),
         ChunkImage::cat({Bytes{'f', 'a', 'c', 't'}, le.u32(4), le.u32(5)}), 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.format));
        const std::vector<uint8_t> header = wavHeader(5, 48000, c.format);
        ASSERT_EQ(header.size(), wavHeaderBytes(c.format));
        EXPECT_EQ(header, ChunkImage::cat({Bytes{'R', 'I', 'F', 'F'}, le.u32(uint32_t(header.size() - 8 + 5 * c.frameBytes)),
                                           Bytes{'W', 'A', 'V', 'E'}, c.fmt, c.beforeData, Bytes{'d', 'a', 't', 'a'},
                                           le.u32(5 * c.frameBytes)}));
        // The largest count clamps so that the RIFF size does not wrap.
        const std::vector<uint8_t> big = wavHeader(0xFFFFFFFFu, 48000, c.format);
        const uint32_t riff = uint32_t(big[4] | big[5] << 8 | big[6] << 16) | uint32_t(big[7]) << 24;
        EXPECT_GE(riff, 0xFFFFFFFFu - c.frameBytes);
        EXPECT_EQ(uint64_t(maxWavFrames(c.format)) * c.frameBytes + header.size() - 8, riff);
    }
    EXPECT_TRUE(wavHeader(5, 48000, SampleFormat::Stereo32).empty());

    const fs::path dir = scratchDir(L"vorlane-wide-formats");
    const std::vector<float> left = {0.0f, 0.5f, -1.0f, 1.75f, -3.0f, 1e-7f};
    const std::vector<float> right = {1.0f, -0.25f, 0.999999f, std::numeric_limits<float>::quiet_NaN(), 2.0f, -1e-7f};
    const auto frames = uint32_t(left.size());
    std::unique_ptr<VLAudioFileBase> slot;
    // AIFF is written in 16 bits only; nothing is created for the others.
    EXPECT_FALSE(CreateAudioFile(slot, dir / "take.aiff", frames, 48000, SampleFormat::StereoFloat32));
    EXPECT_EQ(slot->lastError(), AudioFileError::InvalidArgument);
    EXPECT_FALSE(fs::exists(dir / "take.aiff"));
    for (SampleFormat format : {SampleFormat::Stereo24, SampleFormat::StereoFloat32}) {
        SCOPED_TRACE(static_cast<int>(format));
        ASSERT_TRUE(CreateAudioFile(slot, dir / "take.wav", frames, 48000, format));
        ASSERT_TRUE(slot->writeFrames({const_cast<float*>(left.data()), const_cast<float*>(right.data())}, frames));
        ASSERT_EQ(fileBytes(dir / "take.wav").size(), wavHeaderBytes(format) + frames * bytesPerFrameOf(format));
        ASSERT_EQ(OpenAudioFile(slot, dir / "take.wav"), frames);
        EXPECT_EQ(slot->sampleFormat(), format);
        std::vector<float> l(frames), r(frames);
        ASSERT_TRUE(slot->readAll({l.data(), r.data()}));
        for (uint32_t i = 0; i < frames; ++i) {
            if (format == SampleFormat::StereoFloat32) {
                // Float keeps every value as it is, hot ones included.
                EXPECT_EQ(std::bit_cast<uint32_t>(l[i]), std::bit_cast<uint32_t>(left[i])) << i;
                EXPECT_EQ(std::bit_cast<uint32_t>(r[i]), std::bit_cast<uint32_t>(right[i])) << i;
            } else {
                auto expected = [](float x) {
                    x = std::isnan(x) ? 0.0f : std::clamp(x, -1.0f, 1.0f);
                    return static_cast<float>(std::trunc(double(x) * 8388607.0) / 8388608.0);
                };
                EXPECT_EQ(l[i], expected(left[i])) << i;
                EXPECT_EQ(r[i], expected(right[i])) << i;
            }
        }
        slot.reset();
    }
    fs::remove_all(dir);
}

TEST(AudioFileWriting, FewerFramesThanAnnouncedLeaveAValidFile) {
    const fs::path dir = scratchDir(L"vorlane-short-take");
    std::unique_ptr<VLAudioFileBase> slot;
    const float samples[3] = {0.5f, 0.5f, 0.5f};

    ASSERT_TRUE(CreateAudioFile(slot, dir / "zero.wav", 0, 44100));
    ASSERT_TRUE(slot->writeStereo16({nullptr, nullptr}, 0));
    const Bytes zero = fileBytes(dir / "zero.wav");
    EXPECT_EQ(zero, [] { auto h = wavStereo16Header(0, 44100); return Bytes(h.begin(), h.end()); }());

    for (const char* name : {"short.wav", "short.aiff"}) {
        ASSERT_TRUE(CreateAudioFile(slot, dir / name, 1000, 44100));
        EXPECT_TRUE(slot->writeStereo16({const_cast<float*>(samples), const_cast<float*>(samples)}, 3));
        EXPECT_EQ(OpenAudioFile(slot, dir / name), 3u) << name;
        ASSERT_TRUE(CreateAudioFile(slot, dir / name, 1000, 44100));
        EXPECT_FALSE(slot->writeStereo16({nullptr, nullptr}, 3));  // no source: nothing written, header says so
        EXPECT_EQ(slot->lastError(), AudioFileError::MissingBuffer);
        EXPECT_FALSE(slot->isOpen());
        EXPECT_EQ(OpenAudioFile(slot, dir / name), 0u);
        EXPECT_EQ(slot->lastError(), AudioFileError::None) << name;  // a valid file of 0 frames
    }
    slot.reset();  // an open file cannot be removed on Windows
    fs::remove_all(dir);
}

#ifndef _WIN32
TEST(AudioFileWriting, AFullDiskIsReportedAsAFailure) {
    VLAudioFileWAV file;
    ASSERT_TRUE(file.create("/dev/full", 100000, 44100));  // the header sits in the stream buffer
    std::vector<float> samples(100000, 0.1f);
    EXPECT_FALSE(file.writeStereo16({samples.data(), samples.data()}, 100000));
    EXPECT_EQ(file.lastError(), AudioFileError::WriteFailed);
    EXPECT_FALSE(file.isOpen());
}
#endif
