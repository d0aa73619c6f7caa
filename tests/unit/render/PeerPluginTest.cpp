// vorlane-render with VST 2.x plug-ins that nobody here wrote: the DISTRHO plug-in collection
// that Debian ships (package dpf-plugins-vst). Skipped where it is not installed.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "player/AudioFile.h"
#include "support/Process.h"
#include "support/ProbeModule.h"
#include "support/ScratchDir.h"
#include "support/SignalAnalysis.h"

using namespace vltest;
namespace fs = std::filesystem;

namespace {

const fs::path kPeerFolder = "/usr/lib/vst";
const char kPeerPackage[] = "dpf-plugins-vst";

// The plug-in modules of the package the tests install, from the package's own file list: the
// folder may also hold libraries of other packages that are no plug-ins (a suite's shared core).
std::vector<fs::path> packageModules(const fs::path& scratch) {
    std::vector<fs::path> modules;
    const fs::path dpkg = "/usr/bin/dpkg";
    if (!fs::exists(dpkg)) return modules;
    const fs::path list = scratch / "package-files.txt";
    if (runProcess(dpkg, {"-L", kPeerPackage}, {}, list, 60).exitCode != 0) return modules;
    std::ifstream in(list);
    for (std::string line; std::getline(in, line);) {
        const fs::path path = line;
        if (path.extension() == ".so" && fs::is_regular_file(path)) modules.push_back(path);
    }
    return modules;
}

struct Rendered {
    int exitCode = -1;
    std::vector<float> left, right;
};

class PeerPlugins : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(kPeerFolder / "Nekobi-vst.so")) GTEST_SKIP() << "dpf-plugins-vst is not installed";
    }
    Rendered render(const fs::path& plugin, std::vector<std::string> args) {
        Rendered out;
        const fs::path wav = dir / "out.wav";
        args.insert(args.end(), {"--plugin", plugin.string(), "--quiet", "--output", wav.string()});
        out.exitCode = runProcess(programPath(binaryDir(), "vorlane-render"), args, {}, dir / "render.out").exitCode;
        std::unique_ptr<vl::VLAudioFileBase> file;
        const uint32_t frames = vl::OpenAudioFile(file, wav);
        out.left.resize(frames);
        out.right.resize(frames);
        if (frames == 0 || !file->readAll(vl::StereoBuffer{out.left.data(), out.right.data()})) out.left.clear();
        return out;
    }
    ScratchDir dir{"peers"};
};

}  // namespace

TEST_F(PeerPlugins, SynthPlaysInTuneAtTheRenderRate) {
    // This synth takes its sample rate from the host while its entry point runs.
    for (double rate : {44100.0, 48000.0}) {
        const Rendered r = render(kPeerFolder / "Nekobi-vst.so",
                                  {"--notes", "69@0+1", "--rate", std::to_string(static_cast<int>(rate)), "--tail", "0.2"});
        ASSERT_EQ(r.exitCode, 0);
        ASSERT_GT(r.left.size(), static_cast<size_t>(rate));
        const auto held = demotest::slice(r.left, static_cast<size_t>(0.2 * rate), static_cast<size_t>(0.5 * rate));
        EXPECT_GT(demotest::peakLevel(held), 0.01f);
        EXPECT_NEAR(demotest::Spectrum(held, rate).peakFrequency(300.0, 600.0), 440.0, 1.5) << rate;
    }
}

TEST_F(PeerPlugins, FlatEqualiserPassesTheInputThrough) {
    const uint32_t frames = 48000;
    std::vector<float> left(frames), right(frames);
    for (uint32_t i = 0; i < frames; ++i) {
        left[i] = 0.4f * static_cast<float>(std::sin(2.0 * demotest::kPi * 220.0 * i / 48000.0));
        right[i] = 0.3f * static_cast<float>(std::sin(2.0 * demotest::kPi * 1000.0 * i / 48000.0));
    }
    {
        std::unique_ptr<vl::VLAudioFileBase> file;
        ASSERT_TRUE(vl::CreateAudioFile(file, dir / "in.wav", frames, 48000));
        ASSERT_TRUE(file->writeStereo16(vl::StereoBuffer{left.data(), right.data()}, frames));
    }
    const Rendered r = render(kPeerFolder / "3BandEQ-vst.so",
                              {"--input", (dir / "in.wav").string(), "--rate", "48000", "--tail", "0"});
    ASSERT_EQ(r.exitCode, 0);
    ASSERT_EQ(r.left.size(), frames);
    // In and out are 16-bit: the plug-in's unity gain comes back within two steps.
    for (uint32_t i = 0; i < frames; ++i) {
        ASSERT_NEAR(r.left[i], std::trunc(left[i] * 32767.0f) / 32768.0f, 2.0 / 32768.0) << i;
        ASSERT_NEAR(r.right[i], std::trunc(right[i] * 32767.0f) / 32768.0f, 2.0 / 32768.0) << i;
    }
}

TEST_F(PeerPlugins, EveryInstalledPluginRenders) {
    const std::vector<fs::path> modules = packageModules(dir.path());
    if (modules.empty()) GTEST_SKIP() << "no file list for " << kPeerPackage << " (dpkg -L)";
    for (const fs::path& module : modules) {
        const Rendered r = render(module, {"--notes", "60@0+0.2,64@0.1+0.2", "--seconds", "0.5"});
        EXPECT_EQ(r.exitCode, 0) << module;
        EXPECT_EQ(r.left.size(), 22050u) << module;
    }
    EXPECT_GE(modules.size(), 10u);
}
