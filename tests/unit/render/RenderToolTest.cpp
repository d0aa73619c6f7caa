// vorlane-render run as a separate process, as a user runs it: with the probe plug-in (told
// what to answer by a configuration file, telling what it received in a log file) and with the
// demo instrument.

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "host/PresetFile.h"
#include "platform/FileIO.h"
#include "platform/Text.h"
#include "player/AudioFile.h"
#include "support/MidiFileWriter.h"
#include "support/Process.h"
#include "support/ProbeModule.h"
#include "support/ScratchDir.h"
#include "support/SignalAnalysis.h"

using namespace vltest;
namespace fs = std::filesystem;

namespace {

std::string text(const fs::path& path) { return vl::platform::wideToUtf8(vl::platform::pathToWide(path)); }

struct Audio {
    uint32_t frames = 0;
    int32_t rate = 0;
    std::vector<float> left, right;
};

Audio readAudio(const fs::path& path) {
    Audio audio;
    std::unique_ptr<vl::VLAudioFileBase> file;
    audio.frames = vl::OpenAudioFile(file, path);
    if (audio.frames == 0) return audio;
    audio.rate = file->sampleRate();
    audio.left.resize(audio.frames);
    audio.right.resize(audio.frames);
    if (!file->readAll(vl::StereoBuffer{audio.left.data(), audio.right.data()})) audio.frames = 0;
    return audio;
}

void writeAudio(const fs::path& path, const std::vector<float>& left, const std::vector<float>& right, uint32_t rate) {
    std::unique_ptr<vl::VLAudioFileBase> file;
    ASSERT_TRUE(vl::CreateAudioFile(file, path, static_cast<uint32_t>(left.size()), rate));
    std::vector<float> l(left), r(right);
    ASSERT_TRUE(file->writeStereo16(vl::StereoBuffer{l.data(), r.data()}, static_cast<uint32_t>(l.size())));
}

void writeBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
    ASSERT_TRUE(vl::platform::writeFileAtomically(path, bytes.data(), bytes.size()));
}

class RenderTool : public ::testing::Test {
protected:
    ScratchDir dir{"render-tool"};
    fs::path probeLog = dir / "probe.log";
    fs::path probeConfig = dir / "probe.cfg";

    // Runs vorlane-render; the probe, if it is the plug-in, reads probeConfig and writes probeLog.
    int render(std::vector<std::string> args) {
        std::error_code ec;
        fs::remove(probeLog, ec);
        const ProcessResult result = runProcess(programPath(binaryDir(), "vorlane-render"), args,
                                                {{"VORLANE_PROBE_CONFIG", text(probeConfig)},
                                                 {"VORLANE_PROBE_LOG", text(probeLog)}},
                                                dir / "render.out");
        EXPECT_FALSE(result.timedOut);
        return result.exitCode;
    }
    void configureProbe(const std::string& lines) {
        std::ofstream(probeConfig) << lines;
    }
    std::vector<std::vector<std::string>> probeLines(const std::string& kind) {
        std::vector<std::vector<std::string>> out;
        std::ifstream in(probeLog);
        std::string line;
        while (std::getline(in, line)) {
            std::istringstream words(line);
            std::vector<std::string> fields;
            std::string word;
            while (words >> word) fields.push_back(word);
            if (!fields.empty() && fields[0] == kind) out.push_back(fields);
        }
        return out;
    }
    std::string plugin(const std::string& name) { return text(modulePath(name)); }
    std::string renderOutput() {
        std::ifstream in(dir / "render.out");
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
};

}  // namespace

TEST_F(RenderTool, EveryFailureHasItsExitCode) {
    const std::string out = text(dir / "out.wav");
    configureProbe("");
    EXPECT_EQ(render({}), 2);
    EXPECT_EQ(render({"--plugin", plugin("vorlane_probe"), "--output", text(dir / "out.mp3")}), 2);
    EXPECT_EQ(render({"--plugin", text(dir / "absent.dll"), "--seconds", "1", "--output", out}), 3);
    EXPECT_EQ(render({"--plugin", plugin("vorlane_notvst"), "--seconds", "1", "--output", out}), 4);
    configureProbe("entryMode=1\n");
    EXPECT_EQ(render({"--plugin", plugin("vorlane_probe"), "--seconds", "1", "--output", out}), 4);
    configureProbe("entryMode=2\n");
    EXPECT_EQ(render({"--plugin", plugin("vorlane_probe"), "--seconds", "1", "--output", out}), 5);
    configureProbe("");
    writeBytes(dir / "noise.wav", {'R', 'I', 'F', 'F', 1, 2, 3});
    EXPECT_EQ(render({"--plugin", plugin("vorlane_probe"), "--input", text(dir / "absent.wav"), "--output", out}), 6);
    EXPECT_EQ(render({"--plugin", plugin("vorlane_probe"), "--input", text(dir / "noise.wav"), "--output", out}), 6);
    EXPECT_EQ(render({"--plugin", plugin("vorlane_probe"), "--seconds", "1", "--output",
                      text(dir / "no-such-folder" / "out.wav")}),
              7);
    writeBytes(dir / "noise.mid", {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1});
    EXPECT_EQ(render({"--plugin", plugin("vorlane_probe"), "--midi", text(dir / "noise.mid"), "--output", out}), 8);
    EXPECT_EQ(render({"--plugin", plugin("vorlane_probe"), "--seconds", "1", "--chunk", text(dir / "absent.bin"),
                      "--output", out}),
              9);
    EXPECT_FALSE(fs::exists(dir / "out.wav"));  // no failed run leaves an output behind
    EXPECT_EQ(render({"--plugin", plugin("vorlane_probe"), "--seconds", "0.1", "--quiet", "--output", out}), 0);
    EXPECT_TRUE(fs::exists(dir / "out.wav"));
}

TEST_F(RenderTool, PluginSeesAnEngineStartThenTimedBlocksWithItsMidi) {
    configureProbe("numInputs=0\nflags=272\n");  // a synth
    MidiFileWriter midi(0, 480);
    midi.track({{480, 0x90, 69, 100}, {480, 0x80, 69, 0}});  // A4 from 0.5 s to 1.0 s at 120 BPM
    writeBytes(dir / "phrase.mid", midi.bytes());
    ASSERT_EQ(render({"--plugin", plugin("vorlane_probe"), "--midi", text(dir / "phrase.mid"), "--rate", "44100",
                      "--block", "256", "--tempo", "100", "--seconds", "1.5", "--quiet", "--output",
                      text(dir / "out.wav")}),
              0)
        << renderOutput();

    // effOpen once and first, the three configuration opcodes in order, events, effClose last.
    std::vector<int> opcodes;
    for (const auto& call : probeLines("call")) opcodes.push_back(std::stoi(call[1]));
    ASSERT_GE(opcodes.size(), 5u);
    EXPECT_EQ(opcodes.front(), vst::effOpen);
    EXPECT_EQ(opcodes.back(), vst::effClose);
    std::vector<int> configuration;
    for (int op : opcodes) {
        EXPECT_TRUE(op == vst::effOpen || op == vst::effGetEffectName || op == vst::effSetBlockSize ||
                    op == vst::effSetSampleRate || op == vst::effMainsChanged || op == vst::effProcessEvents ||
                    op == vst::effClose)
            << op;
        if (op == vst::effSetBlockSize || op == vst::effSetSampleRate || op == vst::effMainsChanged)
            configuration.push_back(op);
    }
    EXPECT_EQ(configuration, (std::vector<int>{vst::effSetBlockSize, vst::effSetSampleRate, vst::effMainsChanged}));
    EXPECT_EQ(std::count(opcodes.begin(), opcodes.end(), vst::effOpen), 1);

    // Blocks of 256 frames, the last one shorter; playing from the first, position by tempo.
    const auto blocks = probeLines("block");
    ASSERT_EQ(blocks.size(), 259u);  // 66150 frames
    EXPECT_EQ(blocks.back()[2], "102");
    for (size_t n = 0; n < blocks.size(); ++n) {
        ASSERT_EQ(std::stoll(blocks[n][1]), static_cast<long long>(n));
        EXPECT_NEAR(std::stod(blocks[n][3]), n * 256.0 * 100.0 / 60.0 / 44100.0, 1e-9) << n;
        EXPECT_EQ(std::stod(blocks[n][4]), 100.0);
        EXPECT_EQ(std::stoi(blocks[n][5]), 0x602);
        EXPECT_EQ(std::stod(blocks[n][8]), 44100.0);
    }

    // Each event arrives before the block in which its time falls.
    const auto events = probeLines("event");
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0][1], "86");  // frame 22050
    EXPECT_EQ(events[0][3], "90");
    EXPECT_EQ(events[0][4], "45");
    EXPECT_EQ(events[0][5], "64");
    EXPECT_EQ(events[1][1], "172");  // frame 44100
    EXPECT_EQ(events[1][3], "80");
}

TEST_F(RenderTool, InputFileReachesThePluginSampleExact) {
    configureProbe("processMode=1\n");
    const uint32_t frames = 5000;
    std::vector<float> left(frames), right(frames);
    for (uint32_t i = 0; i < frames; ++i) {
        left[i] = static_cast<float>(std::sin(i * 0.01));
        right[i] = static_cast<float>(i % 97) / 100.0f;
    }
    writeAudio(dir / "in.wav", left, right, 48000);
    ASSERT_EQ(render({"--plugin", plugin("vorlane_probe"), "--input", text(dir / "in.wav"), "--rate", "48000",
                      "--block", "128", "--tail", "0.01", "--quiet", "--output", text(dir / "out.wav")}),
              0)
        << renderOutput();
    const Audio input = readAudio(dir / "in.wav");
    ASSERT_EQ(input.frames, frames);
    const auto blocks = probeLines("block");
    ASSERT_EQ(blocks.size(), (5000u + 480u + 127u) / 128u);
    for (size_t n = 0; n * 128 + 127 < frames; ++n) {
        EXPECT_EQ(std::stof(blocks[n][6]), input.left[n * 128]) << n;
        EXPECT_EQ(std::stof(blocks[n][7]), input.left[n * 128 + 127]) << n;
    }
    // Through the pass-through plug-in, the recorder keeps what the plug-in got.
    const Audio output = readAudio(dir / "out.wav");
    ASSERT_EQ(output.frames, 5480u);
    EXPECT_EQ(output.rate, 48000);
    for (uint32_t i = 0; i < frames; ++i) {
        ASSERT_EQ(output.right[i], std::trunc(input.right[i] * 32767.0f) / 32768.0f) << i;
    }
    EXPECT_EQ(output.left[frames + 10], 0.0f);  // after the file: silence
}

TEST_F(RenderTool, OutputFileIsWhatThePluginProducedAsWavOrAiff) {
    configureProbe("processMode=2\nconstant=-0.5\nnumOutputs=2\n");
    for (const char* name : {"out.wav", "out.aiff"}) {
        ASSERT_EQ(render({"--plugin", plugin("vorlane_probe"), "--seconds", "0.25", "--rate", "22050", "--quiet",
                          "--output", text(dir / name)}),
                  0)
            << renderOutput();
        const Audio output = readAudio(dir / name);
        ASSERT_EQ(output.frames, 5513u) << name;  // 0.25 s at 22050, rounded
        EXPECT_EQ(output.rate, 22050);
        for (uint32_t i = 0; i < output.frames; ++i) {
            ASSERT_EQ(output.left[i], -16383.0f / 32768.0f) << name << " " << i;
            ASSERT_EQ(output.right[i], 16383.0f / 32768.0f) << name << " " << i;
        }
    }
}

TEST_F(RenderTool, StateIsLoadedBeforeAndSavedAfterTheRender) {
    configureProbe("chunk=saved state\n");
    writeBytes(dir / "in.bin", {'x', 'y', 'z'});
    ASSERT_EQ(render({"--plugin", plugin("vorlane_probe"), "--seconds", "0.1", "--chunk", text(dir / "in.bin"),
                      "--save-chunk", text(dir / "out.bin"), "--quiet", "--output", text(dir / "out.wav")}),
              0)
        << renderOutput();
    auto saved = vl::platform::readWholeFile(dir / "out.bin");
    ASSERT_TRUE(saved.has_value());
    EXPECT_EQ(std::string(saved->begin(), saved->end()), "saved state");
    const auto calls = probeLines("call");
    std::vector<std::string> setChunk;
    for (const auto& call : calls)
        if (call[1] == "24") setChunk = call;
    ASSERT_FALSE(setChunk.empty());
    EXPECT_EQ(setChunk[3], "3");  // effSetChunk with the file's three bytes
}

// A sound saved as a preset renders the same later: the file's parameters reach the plug-in
// before the first block, a bank name saves the bank, and a file of another plug-in is refused.
TEST_F(RenderTool, PresetsAreLoadedBeforeAndSavedAfterTheRender) {
    const std::vector<std::string> base = {"--plugin", plugin("vorlane_probe"), "--seconds", "0.1", "--quiet",
                                           "--output", text(dir / "out.wav")};
    const auto with = [&](std::vector<std::string> extra) {
        extra.insert(extra.begin(), base.begin(), base.end());
        return extra;
    };
    configureProbe("numParams=2\nnumPrograms=2\nparams=0.125,0.75\n");
    ASSERT_EQ(render(with({"--save-preset", text(dir / "sound.fxp")})), 0) << renderOutput();
    ASSERT_EQ(render(with({"--save-preset", text(dir / "all.FXB")})), 0) << renderOutput();
    const auto bank = vl::platform::readWholeFile(dir / "all.FXB");
    ASSERT_TRUE(bank.has_value());
    ASSERT_GE(bank->size(), 12u);
    EXPECT_EQ(std::string(bank->begin() + 8, bank->begin() + 12), "FxBk");

    configureProbe("numParams=2\nnumPrograms=2\nparams=0.5,0.5\n");
    ASSERT_EQ(render(with({"--load-preset", text(dir / "sound.fxp")})), 0) << renderOutput();
    std::vector<std::string> sets;
    {
        // Closed before the next run: Windows removes no file that is open.
        bool beforeFirstBlock = true;
        std::ifstream in(probeLog);
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("block ", 0) == 0) beforeFirstBlock = false;
            if (line.rfind("param ", 0) == 0) {
                EXPECT_TRUE(beforeFirstBlock) << line;
                sets.push_back(line);
            }
        }
    }
    EXPECT_EQ(sets, (std::vector<std::string>{"param 0 0.125", "param 1 0.75"}));

    vl::FxProgram foreign;
    foreign.fxId = 0x41424344;
    foreign.numParams = 2;
    foreign.params = {0.0f, 0.0f};
    writeBytes(dir / "foreign.fxp", vl::writeFxProgram(foreign));
    EXPECT_EQ(render(with({"--load-preset", text(dir / "foreign.fxp")})), 10);
    EXPECT_NE(renderOutput().find("ABCD"), std::string::npos) << renderOutput();
    EXPECT_TRUE(probeLines("param").empty());
    EXPECT_EQ(render(with({"--load-preset", text(dir / "absent.fxp")})), 10);
}

TEST_F(RenderTool, DemoInstrumentPlaysInTuneAndFallsSilent) {
    MidiFileWriter midi(1, 480);
    midi.track({MidiFileWriter::tempo(0, 500000)});
    midi.track({{0, 0x90, 69, 100}, {960, 0x80, 69, 0}});  // A4 held for one second
    writeBytes(dir / "a4.mid", midi.bytes());
    for (const char* rate : {"44100", "48000"}) {
        ASSERT_EQ(render({"--plugin", plugin("vorlane_demo"), "--midi", text(dir / "a4.mid"), "--rate", rate,
                          "--tail", "1.5", "--quiet", "--output", text(dir / "a4.wav")}),
                  0)
            << renderOutput();
        const Audio output = readAudio(dir / "a4.wav");
        const double sampleRate = std::stod(rate);
        ASSERT_EQ(output.frames, static_cast<uint32_t>(std::lround(2.5 * sampleRate)));
        const auto held = demotest::slice(output.left, static_cast<size_t>(0.2 * sampleRate),
                                          static_cast<size_t>(0.75 * sampleRate));
        EXPECT_GT(demotest::peakLevel(held), 0.05f);
        EXPECT_NEAR(demotest::Spectrum(held, sampleRate).peakFrequency(300.0, 600.0), 440.0, 1.0) << rate;
        // Note-off at 1 s; after the release the output is silent.
        EXPECT_EQ(demotest::peakLevel(output.left, static_cast<size_t>(1.6 * sampleRate)), 0.0f) << rate;
        EXPECT_EQ(demotest::peakLevel(output.right, static_cast<size_t>(1.6 * sampleRate)), 0.0f) << rate;
    }
}

TEST_F(RenderTool, OutputFormatsAndHotOutput) {
    // Left 0.75, right 1.75: beyond full scale, as a hot plug-in gives it.
    configureProbe("processMode=2\nconstant=0.75\nnumOutputs=2\n");
    auto twentyFour = [](float x) { return static_cast<float>(std::trunc(double(x) * 8388607.0) / 8388608.0); };
    struct Case {
        const char* format;  // nullptr: the default
        vl::SampleFormat sampleFormat;
        size_t headerBytes;
        float left, right;
    };
    const Case cases[] = {
        {nullptr, vl::SampleFormat::Stereo16, 44, std::trunc(0.75f * 32767.0f) / 32768.0f, 32767.0f / 32768.0f},
        {"s16", vl::SampleFormat::Stereo16, 44, std::trunc(0.75f * 32767.0f) / 32768.0f, 32767.0f / 32768.0f},
        {"s24", vl::SampleFormat::Stereo24, 44, twentyFour(0.75f), twentyFour(1.0f)},
        {"f32", vl::SampleFormat::StereoFloat32, 58, 0.75f, 1.75f},  // not clipped
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format ? c.format : "default");
        std::vector<std::string> args = {"--plugin", plugin("vorlane_probe"), "--seconds", "0.1", "--rate", "44100",
                                         "--quiet", "--output", text(dir / "out.wav")};
        if (c.format) args.insert(args.end(), {"--format", c.format});
        ASSERT_EQ(render(args), 0) << renderOutput();
        std::unique_ptr<vl::VLAudioFileBase> file;
        ASSERT_EQ(vl::OpenAudioFile(file, dir / "out.wav"), 4410u);
        EXPECT_EQ(file->sampleFormat(), c.sampleFormat);
        EXPECT_EQ(file->dataOffset(), c.headerBytes);
        std::vector<float> left(4410), right(4410);
        ASSERT_TRUE(file->readAll(vl::StereoBuffer{left.data(), right.data()}));
        EXPECT_EQ(left.front(), c.left);
        EXPECT_EQ(left.back(), c.left);
        EXPECT_EQ(right[2000], c.right);
    }
    // A format the tool does not write, or a wide format for AIFF, is a usage error.
    EXPECT_EQ(render({"--plugin", plugin("vorlane_probe"), "--seconds", "0.1", "--format", "u8", "--output",
                      text(dir / "bad.wav")}),
              2);
    EXPECT_NE(renderOutput().find("bad value for --format: u8"), std::string::npos) << renderOutput();
    EXPECT_EQ(render({"--plugin", plugin("vorlane_probe"), "--seconds", "0.1", "--format", "f32", "--output",
                      text(dir / "bad.aiff")}),
              2);
    EXPECT_FALSE(fs::exists(dir / "bad.wav"));
    EXPECT_FALSE(fs::exists(dir / "bad.aiff"));
}

TEST_F(RenderTool, AnInputLongerThanThePlayerHoldsIsRefusedWithItsReason) {
    // A sparse WAV announcing 2^32 - 1 mono 8-bit frames over a hole.
    auto header = vl::wavStereo16Header(0, 44100);
    header[22] = 1;
    header[32] = 1;
    header[34] = 8;
    header[40] = header[41] = header[42] = header[43] = 0xFF;
    writeBytes(dir / "huge.wav", std::vector<uint8_t>(header.begin(), header.end()));
    fs::resize_file(dir / "huge.wav", header.size() + 0xFFFFFFFFull);
    configureProbe("");
    EXPECT_EQ(render({"--plugin", plugin("vorlane_probe"), "--input", text(dir / "huge.wav"), "--output",
                      text(dir / "out.wav")}),
              6);
    EXPECT_NE(renderOutput().find("longer than the player can hold"), std::string::npos) << renderOutput();
}
