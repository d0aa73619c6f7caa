// Files that nobody here wrote: sox makes reference files, and its own decoding is the measure
// of ours; files we write are read back by libsndfile and sox. Native only (Wine cannot run sox).

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "ChunkImage.h"
#include "platform/FileIO.h"
#include "player/AudioFile.h"

using namespace vl;
using namespace vl::test;
namespace fs = std::filesystem;

namespace {

class PeerFiles : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              (std::string("vorlane-peer-") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    // A 50 ms reference file made by sox: a sine left and white noise (full scale) right, or
    // noise alone in mono. -R keeps the dither repeatable.
    fs::path soxFile(const std::string& name, uint32_t channels, const std::string& encoding) {
        const fs::path path = dir / name;
        const std::string synth = channels == 1 ? "synth 0.05 whitenoise" : "synth 0.05 sine 441 whitenoise";
        const std::string cmd = std::string(VL_SOX) + " -R -n -r 44100 -c " + std::to_string(channels) + " " + encoding +
                                " '" + path.string() + "' " + synth + " 2>/dev/null";
        EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
        return path;
    }

    fs::path dir;
};

// sox's decoding of a file: interleaved doubles.
std::vector<double> soxDecode(const fs::path& path) {
    const std::string cmd = std::string(VL_SOX) + " '" + path.string() + "' -t f64 - 2>/dev/null";
    std::vector<double> out;
    FILE* pipe = popen(cmd.c_str(), "r");
    if (!pipe) return out;
    double buffer[1024];
    size_t n;
    while ((n = std::fread(buffer, sizeof(double), 1024, pipe)) > 0) out.insert(out.end(), buffer, buffer + n);
    pclose(pipe);
    return out;
}

struct Ours {
    uint32_t frames = 0;
    std::unique_ptr<VLAudioFileBase> file;
    std::vector<float> left, right;
};

Ours readOurs(const fs::path& path) {
    Ours o;
    o.frames = OpenAudioFile(o.file, path);
    o.left.resize(o.frames);
    o.right.resize(o.frames);
    if (o.frames) {
        EXPECT_TRUE(o.file->readAll({o.left.data(), o.right.data()}));
    }
    return o;
}

// Integer sources decode exactly to sox's value rounded to single precision. sox decodes
// floats through 32-bit integers, so float sources agree within one step of those plus the
// rounding of ours to single precision.
void expectSameAsSox(const Ours& ours, const std::vector<double>& sox, uint32_t channels, bool floatSource) {
    ASSERT_GT(ours.frames, 2000u);
    ASSERT_EQ(sox.size(), size_t(ours.frames) * channels);
    size_t mismatches = 0;
    for (uint32_t i = 0; i < ours.frames; ++i) {
        for (uint32_t c = 0; c < 2; ++c) {
            const double want = sox[size_t(i) * channels + (channels == 1 ? 0 : c)];
            const float got = c == 0 ? ours.left[i] : ours.right[i];
            const bool same = floatSource ? std::fabs(got - want) <= std::ldexp(1.0, -31) + std::fabs(want) * std::ldexp(1.0, -24)
                                          : got == static_cast<float>(want);
            if (!same && mismatches++ < 3) ADD_FAILURE() << "frame " << i << " channel " << c << ": " << got << " vs " << want;
        }
    }
    EXPECT_EQ(mismatches, 0u);
}

Bytes withChunkAt(const Bytes& file, size_t at, const std::string& id, const Bytes& body) {
    ChunkImage chunk = ChunkImage::riff();
    chunk.bytes.clear();
    chunk.chunk(id, body);
    Bytes out(file.begin(), file.begin() + at);
    out.insert(out.end(), chunk.bytes.begin(), chunk.bytes.end());
    out.insert(out.end(), file.begin() + at, file.end());
    const uint32_t riffSize = uint32_t(out.size() - 8);
    for (int b = 0; b < 4; ++b) out[4 + b] = uint8_t(riffSize >> (8 * b));
    return out;
}

}  // namespace

TEST_F(PeerFiles, SoxFilesDecodeAsSoxDecodesThem) {
    struct Case {
        const char* name;
        uint32_t channels;
        const char* encoding;
        SampleFormat format;
        bool isFloat;
    };
    const Case cases[] = {
        {"u8-mono.wav", 1, "-b 8", SampleFormat::Mono8, false},
        {"u8.wav", 2, "-b 8", SampleFormat::Stereo8, false},
        {"s16-mono.wav", 1, "-b 16", SampleFormat::Mono16, false},
        {"s16.wav", 2, "-b 16", SampleFormat::Stereo16, false},
        {"s24-mono.wav", 1, "-b 24", SampleFormat::Mono24, false},
        {"s24.wav", 2, "-b 24", SampleFormat::Stereo24, false},
        {"s24-plain-mono.wav", 1, "-b 24 -t wavpcm", SampleFormat::Mono24, false},
        {"s32-mono.wav", 1, "-b 32", SampleFormat::Mono32, false},
        {"s32.wav", 2, "-b 32", SampleFormat::Stereo32, false},
        {"f32-mono.wav", 1, "-e floating-point -b 32", SampleFormat::MonoFloat32, true},
        {"f32.wav", 2, "-e floating-point -b 32", SampleFormat::StereoFloat32, true},
        {"f64-mono.wav", 1, "-e floating-point -b 64", SampleFormat::MonoFloat64, true},
        {"f64.wav", 2, "-e floating-point -b 64", SampleFormat::StereoFloat64, true},
        {"s8.aiff", 2, "-b 8", SampleFormat::Stereo8, false},
        {"s16-mono.aiff", 1, "-b 16", SampleFormat::Mono16, false},
        {"s16.aiff", 2, "-b 16", SampleFormat::Stereo16, false},
        {"s24.aiff", 2, "-b 24", SampleFormat::Stereo24, false},
        {"s32.aiff", 2, "-b 32", SampleFormat::Stereo32, false},
        // AIFC under an AIFF name, as a user would pick it.
        {"fl32-mono.aif", 1, "-e floating-point -b 32 -t aifc", SampleFormat::MonoFloat32, true},
        {"fl32.aif", 2, "-e floating-point -b 32 -t aifc", SampleFormat::StereoFloat32, true},
        {"fl64.aif", 2, "-e floating-point -b 64 -t aifc", SampleFormat::StereoFloat64, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path path = soxFile(c.name, c.channels, c.encoding);
        const Ours ours = readOurs(path);
        EXPECT_EQ(ours.file->sampleFormat(), c.format);
        EXPECT_EQ(ours.file->sampleRate(), 44100);
        EXPECT_EQ(ours.file->channels(), c.channels);
        expectSameAsSox(ours, soxDecode(path), c.channels, c.isFloat);
    }
}

TEST_F(PeerFiles, ListAndBroadcastChunksOfOddSizeAreStepped) {
    const fs::path original = soxFile("plain.wav", 2, "-b 16 -t wavpcm");
    const Bytes bytes = platform::readWholeFile(original).value();
    ASSERT_EQ(std::string(bytes.begin() + 12, bytes.begin() + 16), "fmt ");
    const size_t afterFmt = 20 + bytes[16];
    const std::string info = "INFOISFT\x05\x00\x00\x00sox!";  // 17 bytes: odd, padded
    const Bytes list(info.begin(), info.end());
    Bytes bext(603, 0);  // 602 fixed bytes and one character of coding history
    bext[602] = 'A';
    const std::vector<double> reference = soxDecode(original);
    const std::pair<const char*, Bytes> variants[] = {
        {"list.wav", withChunkAt(bytes, afterFmt, "LIST", list)},
        {"bwf.wav", withChunkAt(bytes, 12, "bext", bext)},
        {"both.wav", withChunkAt(withChunkAt(bytes, afterFmt, "LIST", list), 12, "bext", bext)},
    };
    for (const auto& [name, image] : variants) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(platform::writeFileAtomically(dir / name, image.data(), image.size()));
        expectSameAsSox(readOurs(dir / name), reference, 2, false);
    }
}

TEST_F(PeerFiles, OurRecordingsReadBackInLibsndfileAndSox) {
    constexpr uint32_t frames = 3000;
    std::vector<float> left(frames), right(frames);
    for (uint32_t i = 0; i < frames; ++i) {
        left[i] = std::sin(float(i) * 0.05f);
        right[i] = float(int(i % 200) - 100) / 100.0f;  // a saw from -1 to just below +1
    }
    for (const char* name : {"take.wav", "take.aiff"}) {
        SCOPED_TRACE(name);
        const fs::path path = dir / name;
        std::unique_ptr<VLAudioFileBase> slot;
        ASSERT_TRUE(CreateAudioFile(slot, path, frames, 96000));
        ASSERT_TRUE(slot->writeStereo16({left.data(), right.data()}, frames));

        SF_INFO info{};
        SNDFILE* sf = sf_open(path.c_str(), SFM_READ, &info);
        ASSERT_NE(sf, nullptr) << sf_strerror(nullptr);
        const int container = std::string(name).ends_with(".wav") ? SF_FORMAT_WAV : SF_FORMAT_AIFF;
        EXPECT_EQ(info.format, container | SF_FORMAT_PCM_16);
        EXPECT_EQ(info.channels, 2);
        EXPECT_EQ(info.samplerate, 96000);
        EXPECT_EQ(info.frames, frames);
        char log[4096] = {};
        sf_command(sf, SFC_GET_LOG_INFO, log, sizeof log);
        EXPECT_EQ(std::string(log).find("hould"), std::string::npos) << log;  // "should be": a size is off
        std::vector<short> pcm(size_t(frames) * 2);
        EXPECT_EQ(sf_readf_short(sf, pcm.data(), frames), frames);
        sf_close(sf);
        for (uint32_t i = 0; i < frames; ++i) {
            ASSERT_EQ(pcm[2 * i], short(left[i] * 32767.0f)) << i;
            ASSERT_EQ(pcm[2 * i + 1], short(right[i] * 32767.0f)) << i;
        }
        const std::vector<double> sox = soxDecode(path);
        ASSERT_EQ(sox.size(), size_t(frames) * 2);
        EXPECT_EQ(sox[2 * 10], short(left[10] * 32767.0f) / 32768.0);
        EXPECT_EQ(sox[2 * 50 + 1], -16383 / 32768.0);  // trunc(-0.5 * 32767)
    }
}

TEST_F(PeerFiles, WiderWavRecordingsReadBackExactlyInLibsndfileAndSox) {
    constexpr uint32_t frames = 2000;
    std::vector<float> left(frames), right(frames);
    for (uint32_t i = 0; i < frames; ++i) {
        left[i] = std::sin(float(i) * 0.05f) * 0.9f;
        right[i] = float(int(i % 400) - 200) / 100.0f;  // a saw from -2 to just below +2: hot
    }
    struct Case {
        SampleFormat format;
        int sndfileFormat;
    };
    for (const Case c : {Case{SampleFormat::Stereo24, SF_FORMAT_WAV | SF_FORMAT_PCM_24},
                         Case{SampleFormat::StereoFloat32, SF_FORMAT_WAV | SF_FORMAT_FLOAT}}) {
        SCOPED_TRACE(c.sndfileFormat);
        const bool isFloat = c.format == SampleFormat::StereoFloat32;
        const fs::path path = dir / "take.wav";
        std::unique_ptr<VLAudioFileBase> slot;
        ASSERT_TRUE(CreateAudioFile(slot, path, frames, 48000, c.format));
        ASSERT_TRUE(slot->writeFrames({left.data(), right.data()}, frames));

        SF_INFO info{};
        SNDFILE* sf = sf_open(path.c_str(), SFM_READ, &info);
        ASSERT_NE(sf, nullptr) << sf_strerror(nullptr);
        EXPECT_EQ(info.format, c.sndfileFormat);
        EXPECT_EQ(info.channels, 2);
        EXPECT_EQ(info.samplerate, 48000);
        EXPECT_EQ(info.frames, frames);
        char log[4096] = {};
        sf_command(sf, SFC_GET_LOG_INFO, log, sizeof log);
        EXPECT_EQ(std::string(log).find("hould"), std::string::npos) << log;
        if (isFloat) {
            EXPECT_NE(std::string(log).find("fact"), std::string::npos) << log;
        }
        std::vector<float> floats(size_t(frames) * 2);
        std::vector<int> ints(size_t(frames) * 2);
        const sf_count_t read = isFloat ? sf_readf_float(sf, floats.data(), frames) : sf_readf_int(sf, ints.data(), frames);
        EXPECT_EQ(read, frames);
        sf_close(sf);
        for (uint32_t i = 0; i < frames; ++i) {
            for (int ch = 0; ch < 2; ++ch) {
                const float x = (ch == 0 ? left : right)[i];
                if (isFloat) {
                    ASSERT_EQ(floats[2 * i + ch], x) << i;  // unclipped
                } else {
                    // libsndfile gives 24-bit samples in the top bits of an int.
                    const int held = int(std::trunc(double(std::clamp(x, -1.0f, 1.0f)) * 8388607.0));
                    ASSERT_EQ(ints[2 * i + ch], held * 256) << i << " " << ch;
                }
            }
        }
        const std::vector<double> sox = soxDecode(path);
        ASSERT_EQ(sox.size(), size_t(frames) * 2);
        // sox reads 24-bit exactly; float within its 32-bit integer step, for values in range.
        EXPECT_NEAR(sox[2 * 10], isFloat ? left[10] : std::trunc(double(left[10]) * 8388607.0) / 8388608.0,
                    isFloat ? 1.0 / 2147483648.0 : 0.0);
        EXPECT_NEAR(sox[2 * 150 + 1], right[150], isFloat ? 1.0 / 2147483648.0 : 1.0 / 8388608.0);
    }
}
