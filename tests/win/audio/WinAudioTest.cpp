// The Windows back ends against Wine's audio: enumeration as Wine reports it, sound through
// the coordinator into the file sink of the test prefix, capture, the engine start sequence,
// and a refused exclusive-mode stream.

#include "WinAudioRig.h"

#include "audio/dsound/VLDirectSound.h"
#include "audio/mme/VLMMAudio.h"
#include "audio/wasapi/VLWASAPI.h"
#include "support/ProbeModule.h"

using namespace wintest;

namespace {

// The one playback file the sink holds.
std::string onlySinkFile() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(sinkDir())) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("play_", 0) == 0) names.push_back(name);
    }
    EXPECT_EQ(names.size(), 1u);
    return names.empty() ? std::string() : names.front();
}

constexpr double kSineHz = 997.0;
constexpr double kSineAmplitude = 0.5;
// Rendered before the stop: five seconds of sound and what the rings still hold when it comes.
constexpr double kSecondsOfSound = 6.5;

}  // namespace

// ---- Sound into the file sink ------------------------------------------------------------------

class WinAudioSound : public testing::TestWithParam<Family> {};

TEST_P(WinAudioSound, ASineArrivesWithItsFrequencyAndLevelWithoutGaps) {
    SinePlugin sine(kSineHz, kSineAmplitude);
    EngineRig rig;
    sine.attach(rig.slot);
    rig.settings->outputDevice = findRecord(GetParam().backend(rig.backends), GetParam().type, false);
    ASSERT_NE(rig.settings->outputDevice, nullptr);
    // The file sink takes audio several times faster than real time and in bursts: a ring of
    // 16 blocks of 1024 bytes lasts 26 ms there, less than a busy machine may keep the engine
    // thread waiting (Wine's time-critical priority is no real-time priority). Blocks of 8192
    // bytes give the ring about 200 ms at that speed.
    if (GetParam().type == vl::kDeviceTypeDirectSound) rig.settings->outputDevice->bufferSize = 8192;
    rig.link();
    clearSink();
    ASSERT_TRUE(rig.host.StartAudioEngine());
    const double rate = rig.settings->outputDevice->sampleRate;
    EXPECT_TRUE(waitFor([&] { return sine.frames.load() >= kSecondsOfSound * rate; }, 30000));
    rig.host.StopAudioEngine();
    EXPECT_FALSE(rig.host.engineRunning.load());

    SinkAudio audio;
    ASSERT_TRUE(readSink(onlySinkFile(), audio));
    const SineReport report = analyseSine(audio, kSineHz, kSineAmplitude);
    std::printf("%s: %s, %.2f s of sound, %.3f Hz, %.3f dB, %zu jumps, %zu silent runs, %llu frames rendered\n",
                GetParam().name, audio.file.c_str(), report.seconds, report.frequency, report.levelDb, report.jumps,
                report.silentRuns, static_cast<unsigned long long>(sine.frames.load()));
    EXPECT_GE(report.seconds, 5.0);
    EXPECT_NEAR(report.frequency, kSineHz, 1.0);
    EXPECT_NEAR(report.levelDb, 20.0 * std::log10(kSineAmplitude), 0.5);
    EXPECT_EQ(report.jumps, 0u);
    EXPECT_EQ(report.silentRuns, 0u);
}

INSTANTIATE_TEST_SUITE_P(Families, WinAudioSound, testing::Values(kWasapiShared, kDirectSound, kMme), familyName);

// ---- Capture: the input side runs and its frames reach the plug-in ---------------------------

class WinAudioCapture : public testing::TestWithParam<Family> {};

TEST_P(WinAudioCapture, CapturedFramesReachThePlugInWhileTheOutputSounds) {
    SinePlugin sine(kSineHz, kSineAmplitude, 2);
    EngineRig rig;
    sine.attach(rig.slot);
    vl::VLAudioBase* backend = GetParam().backend(rig.backends);
    rig.settings->inputDevice = findRecord(backend, GetParam().type, true);
    rig.settings->outputDevice = findRecord(backend, GetParam().type, false);
    ASSERT_TRUE(rig.settings->inputDevice && rig.settings->outputDevice);
    rig.link();
    clearSink();
    ASSERT_TRUE(rig.host.StartAudioEngine());
    EXPECT_TRUE(rig.messages.shown.empty());
    // Wine's DirectSound capture from the file sink moves in bursts of half its ring and then
    // stands still for seconds (the back end ends a stalled stream after 2 s), so only a short
    // run is asked of it; WASAPI capture runs steadily.
    const bool steady = GetParam().type != vl::kDeviceTypeDirectSound;
    const double target = steady ? 2.0 * rig.settings->outputDevice->sampleRate : 16 * 256;
    EXPECT_TRUE(waitFor([&] { return sine.inputFrames.load() >= target; }, 30000));
    rig.host.StopAudioEngine();
    std::printf("%s with input: %llu blocks, %llu captured frames, largest block %u\n", GetParam().name,
                static_cast<unsigned long long>(sine.blocks.load()),
                static_cast<unsigned long long>(sine.inputFrames.load()), sine.largestBlock.load());
    EXPECT_EQ(sine.inputFrames.load(), sine.frames.load());  // every block came with its input
    EXPECT_GT(sine.blocks.load(), 10u);

    if (GetParam().type == vl::kDeviceTypeDirectSound) EXPECT_EQ(sine.largestBlock.load(), 256u);
    // Capture and playback of the file sink run at different speeds, so only the steady
    // family's output is measured.
    if (!steady) return;
    SinkAudio audio;
    ASSERT_TRUE(readSink(onlySinkFile(), audio));
    const SineReport report = analyseSine(audio, kSineHz, kSineAmplitude);
    EXPECT_GE(report.seconds, 1.5);
    EXPECT_NEAR(report.frequency, kSineHz, 1.0);
}

INSTANTIATE_TEST_SUITE_P(Families, WinAudioCapture, testing::Values(kWasapiShared, kDirectSound), familyName);

// ---- The engine start sequence seen by the probe -----------------------------------------------

class WinAudioStartSequence : public testing::TestWithParam<Family> {};

TEST_P(WinAudioStartSequence, BlockSizeRateAndResumeReachTheProbeBeforeTheFirstBlock) {
    vltest::ProbeModule probe;
    ASSERT_TRUE(probe.ok());
    probe.config().flags = vst::effFlagsIsSynth | vst::effFlagsCanReplacing;
    probe.config().numInputs = 0;
    probe.config().queryTimePerBlock = 0;
    EngineRig rig;
    ASSERT_EQ(rig.slot.load(probe.path()), vl::LoadResult::Loaded);
    vl::AudioDeviceRecord* output = findRecord(GetParam().backend(rig.backends), GetParam().type, false);
    ASSERT_NE(output, nullptr);
    rig.settings->outputDevice = output;
    rig.link();
    ASSERT_TRUE(rig.host.StartAudioEngine());
    EXPECT_TRUE(waitFor([&] { return probe.blockCount() >= 20; }, 10000));
    rig.host.StopAudioEngine();

    std::vector<int> configuration;
    for (int op : probe.opcodes())
        if (op == vst::effSetBlockSize || op == vst::effSetSampleRate || op == vst::effMainsChanged)
            configuration.push_back(op);
    EXPECT_EQ(configuration, (std::vector<int>{vst::effSetBlockSize, vst::effSetSampleRate, vst::effMainsChanged}));
    const probe::Call* blockSize = probe.lastCall(vst::effSetBlockSize);
    const probe::Call* rate = probe.lastCall(vst::effSetSampleRate);
    const probe::Call* mains = probe.lastCall(vst::effMainsChanged);
    ASSERT_TRUE(blockSize && rate && mains);
    EXPECT_EQ(blockSize->blockCount, 0);
    EXPECT_EQ(mains->blockCount, 0);
    EXPECT_EQ(mains->value, 1);
    EXPECT_EQ(rate->opt, static_cast<float>(output->sampleRate));
    EXPECT_EQ(blockSize->value, static_cast<int64_t>(output->bufferSize));
    int32_t largest = 0, smallest = INT32_MAX;
    for (int64_t n = 0; n < probe.blockCount() && n < probe::kMaxBlocks; ++n) {
        largest = std::max(largest, probe.block(n).frames);
        smallest = std::min(smallest, probe.block(n).frames);
    }
    std::printf("%s: effSetBlockSize %lld, effSetSampleRate %g, blocks of %d..%d frames\n", GetParam().name,
                static_cast<long long>(blockSize->value), static_cast<double>(rate->opt), smallest, largest);
    EXPECT_LE(largest, blockSize->value);
    EXPECT_GT(smallest, 0);
    if (GetParam().type == vl::kDeviceTypeMME) EXPECT_EQ(largest, blockSize->value);
    if (GetParam().type == vl::kDeviceTypeDirectSound) EXPECT_EQ(largest, blockSize->value / 4);  // bytes of 16-bit stereo
}

INSTANTIATE_TEST_SUITE_P(Families, WinAudioStartSequence, testing::Values(kWasapiShared, kDirectSound, kMme),
                         familyName);

// ---- WASAPI exclusive mode: Wine refuses event-driven exclusive streams ------------------------

TEST(WinAudioExclusive, AStartThatWineRefusesFailsQuicklyAndLeaksNothing) {
    SinePlugin sine(kSineHz, kSineAmplitude);
    EngineRig rig;
    sine.attach(rig.slot);
    rig.settings->outputDevice = findRecord(&rig.backends.wasapi(), vl::kDeviceTypeWasapiExclusive, false);
    ASSERT_NE(rig.settings->outputDevice, nullptr);
    rig.link();
    EXPECT_FALSE(rig.host.StartAudioEngine());  // once, so that lazily made system objects exist
    const DWORD handlesBefore = handleCount();
    const size_t bytesBefore = privateBytes();
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 10; ++i) EXPECT_FALSE(rig.host.StartAudioEngine());
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("10 refused exclusive starts: %.2f s, handles %lu -> %lu, private bytes %zu -> %zu\n", seconds,
                handlesBefore, handleCount(), bytesBefore, privateBytes());
    EXPECT_LT(seconds, 10.0);
    EXPECT_LE(handleCount(), handlesBefore + 2);
    EXPECT_EQ(sine.blocks.load(), 0u);
    EXPECT_FALSE(rig.host.engineRunning.load());
}

TEST(WinAudioExclusive, AnExclusiveInputIsRefused) {
    vl::VLWASAPI wasapi;
    vl::AudioDeviceRecord* input = findRecord(&wasapi, vl::kDeviceTypeWasapiExclusive, true);
    vl::AudioDeviceRecord* output = findRecord(&wasapi, vl::kDeviceTypeWasapiShared, false);
    ASSERT_TRUE(input && output);
    int blocks = 0;
    auto count = [](float**, float**, uint32_t, void* user) {
        ++*static_cast<int*>(user);
        return false;
    };
    EXPECT_FALSE(wasapi.openAndStart(input, output, count, &blocks));
    EXPECT_EQ(blocks, 0);
    EXPECT_EQ(wasapi.leftPlane, nullptr);
}
