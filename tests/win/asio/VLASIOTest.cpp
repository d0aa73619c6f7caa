// The ASIO back end against the test driver: records, details, buffers for at most 32 channels,
// every sample type in and out (sample-exact against the planar conversions), channel choice,
// zero-filled unused outputs, silence while the engine stops, outputReady, the driver messages,
// the control panel, and clean failures.

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <atomic>
#include <cstring>
#include <memory>
#include <vector>

#include "TestAsioModule.h"
#include "audio/SampleConvert.h"
#include "audio/asio/VLASIO.h"

using namespace vltest;
using namespace vl::asio;
using vl::VLASIO;

namespace {

constexpr int kFrames = testasio::kMaxFrames;

// The per-block function of the tests: keeps the planes it was given and writes known output.
struct Render {
    float inLeft[kFrames] = {}, inRight[kFrames] = {};
    float outLeft[kFrames] = {}, outRight[kFrames] = {};
    std::atomic<bool> answer{true};
    std::atomic<int> calls{0};
    std::atomic<uint32_t> lastFrames{0};
    // A block that takes holdMs (once): how long it was under way, in driver calls.
    testasio::Log* log = nullptr;
    std::atomic<int> holdMs{0};
    std::atomic<bool> holding{false};
    std::atomic<int32_t> callsAtExit{-1};

    Render() {
        for (int i = 0; i < kFrames; ++i) {
            outLeft[i] = -1.25f + 2.5f * float(i) / 255.0f;  // crosses both limits in a 256-frame block
            outRight[i] = 0.7f * float((i * 37) % 101 - 50) / 50.0f;
        }
    }
    static bool proc(float** in, float** out, uint32_t frames, void* user) {
        auto* self = static_cast<Render*>(user);
        std::memcpy(self->inLeft, in[0], frames * sizeof(float));
        std::memcpy(self->inRight, in[1], frames * sizeof(float));
        std::memcpy(out[0], self->outLeft, frames * sizeof(float));
        std::memcpy(out[1], self->outRight, frames * sizeof(float));
        self->lastFrames.store(frames);
        self->calls.fetch_add(1);
        if (const int ms = self->holdMs.exchange(0)) {
            self->holding = true;
            Sleep(DWORD(ms));
            self->callsAtExit = self->log->callCount.load();
        }
        return self->answer.load();
    }
};

const int32_t kAllTypes[] = {0, 1, 2, 3, 4, 8, 9, 10, 11, 16, 17, 18, 19, 20, 24, 25, 26, 27};

class AsioBackend : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(driver.ok());
        driver.config().pacing = testasio::Manual;
        driver.config().preferredSize = 256;
        asio = std::make_unique<VLASIO>();
        ASSERT_EQ(asio->devices.size(), 8u);
    }
    void TearDown() override {
        asio.reset();
        EXPECT_EQ(driver.log().objectsAlive.load(), 0);
        EXPECT_EQ(driver.log().buffersAlive.load(), 0);
    }
    vl::AudioDeviceRecord* in(int driverIndex = 0) { return asio->devices[size_t(2 * driverIndex)].get(); }
    vl::AudioDeviceRecord* out(int driverIndex = 0) { return asio->devices[size_t(2 * driverIndex + 1)].get(); }
    bool start(bool withInput = true) { return asio->openAndStart(withInput ? in() : nullptr, out(), &Render::proc, &render); }

    // Random device bytes for every input channel.
    void fillInputSignals() {
        uint32_t seed = 12345;
        for (auto& channel : driver.config().inputSignal)
            for (uint8_t& byte : channel) {
                seed = seed * 1664525u + 1013904223u;
                byte = uint8_t(seed >> 24);
            }
    }
    // What the planar conversion makes of input channel c (on a copy: big-endian is reversed in place).
    std::vector<float> expectedInput(int32_t type, int c) {
        vl::PlanarLayout layout;
        EXPECT_TRUE(vl::planarLayoutFor(type, layout));
        std::vector<uint8_t> copy(driver.config().inputSignal[c], driver.config().inputSignal[c] + sizeof driver.config().inputSignal[c]);
        std::vector<float> out(256);
        vl::planarToFloat(layout, copy.data(), out.data(), 256);
        return out;
    }
    std::vector<uint8_t> expectedOutput(int32_t type, const float* plane) {
        vl::PlanarLayout layout;
        EXPECT_TRUE(vl::planarLayoutFor(type, layout));
        std::vector<uint8_t> bytes(256 * size_t(layout.bytesPerSample));
        vl::floatToPlanar(layout, plane, bytes.data(), 256);
        return bytes;
    }
    int32_t outputBlocks(int c) { return driver.log().outputBlocks[c].load(); }
    int32_t nonZero(int c) { return driver.log().nonZeroBlocks[c].load(); }
    int32_t untouched(int c) { return driver.log().untouchedBlocks[c].load(); }

    TestAsioModule driver;
    Render render;
    std::unique_ptr<VLASIO> asio;
};

bool sameBytes(const void* a, const void* b, size_t n) { return std::memcmp(a, b, n) == 0; }

}  // namespace

TEST_F(AsioBackend, ListsEveryDriverAsAnInputAndAnOutputRecord) {
    const wchar_t* names[] = {L"Vorlane Test ASIO", L"D Second Driver", L"Vorlane Refusing ASIO",
                              L"Vorlane Test ASIO with a forty-char name"};
    for (int i = 0; i < 4; ++i) {
        for (vl::AudioDeviceRecord* record : {in(i), out(i)}) {
            EXPECT_EQ(record->deviceIndex, i);
            EXPECT_EQ(record->type, vl::kDeviceTypeASIO);
            EXPECT_EQ(record->name, names[i]);
            EXPECT_EQ(record->bufferSize, 512u);
            EXPECT_FALSE(record->detailsKnown);
            EXPECT_TRUE(record->channelNames.empty());
        }
        EXPECT_TRUE(in(i)->isInput);
        EXPECT_FALSE(out(i)->isInput);
    }
    EXPECT_EQ(driver.log().objectsCreated.load(), 0);  // listing loads no driver
    EXPECT_EQ(vl::theAsioHost, asio.get());
    EXPECT_TRUE(asio->matchFormats(in(), out()));
}

TEST_F(AsioBackend, DetailsComeFromTheLoadedDriverForAtMost32Channels) {
    driver.config().inputs = driver.config().outputs = 40;
    driver.config().sampleRate = 48000.0;
    driver.config().preferredSize = 128;
    for (vl::AudioDeviceRecord* record : {in(), out()}) {
        ASSERT_TRUE(asio->queryDetails(record, true));
        EXPECT_TRUE(record->detailsKnown);
        EXPECT_EQ(record->sampleRate, 48000.0);
        EXPECT_EQ(record->bufferSize, 128u);
        ASSERT_EQ(record->channelNames.size(), 32u);
        EXPECT_EQ(record->channelNames[0], record->isInput ? L"Test In 1" : L"Test Out 1");
        EXPECT_EQ(record->channelNames[31], record->isInput ? L"Test In 32" : L"Test Out 32");
        EXPECT_EQ(driver.log().objectsAlive.load(), 0);  // loaded for the query only
    }
    const int32_t inits = driver.count(testasio::mInit);
    EXPECT_TRUE(asio->queryDetails(in(), false));  // known: the driver is not asked again
    EXPECT_EQ(driver.count(testasio::mInit), inits);
    EXPECT_FALSE(asio->queryDetails(nullptr, false));
}

TEST_F(AsioBackend, RefusedInitFailsTheQueryAndKeepsTheDriversMessage) {
    driver.config().initAnswer = 0;
    EXPECT_FALSE(asio->queryDetails(in(), false));
    EXPECT_FALSE(in()->detailsKnown);
    EXPECT_STREQ(asio->driverInfo.errorMessage, "test driver refused");
    EXPECT_EQ(vl::theAsioDriver, nullptr);
    EXPECT_EQ(driver.log().objectsAlive.load(), 0);
    EXPECT_FALSE(start());
    EXPECT_EQ(driver.log().objectsAlive.load(), 0);
}

TEST_F(AsioBackend, FortyChannelsGetBuffersForTheFirst32OfEachDirection) {
    driver.config().inputs = driver.config().outputs = 40;
    ASSERT_TRUE(start());
    EXPECT_EQ(driver.log().lastBufferCount, 64);
    EXPECT_EQ(driver.log().lastBufferSize, 256);
    for (int k = 0; k < 64; ++k) {
        EXPECT_EQ(driver.log().requested[k].isInput, k < 32 ? 1 : 0) << k;
        EXPECT_EQ(driver.log().requested[k].channelNum, k % 32) << k;
    }
    driver.switchHalf(0);
    driver.switchHalf(1);
    for (int c = 32; c < 40; ++c) EXPECT_EQ(outputBlocks(c), 0) << c;
    asio->stop();
    EXPECT_EQ(driver.log().objectsAlive.load(), 0);
}

TEST_F(AsioBackend, EverySampleTypeConvertsSampleExactOnTheChosenChannels) {
    driver.config().inputs = driver.config().outputs = 8;
    fillInputSignals();
    in()->leftChannel = 3;
    in()->rightChannel = 1;
    out()->leftChannel = 2;
    out()->rightChannel = 5;
    for (int32_t type : kAllTypes) {
        SCOPED_TRACE(type);
        for (int c = 0; c < 8; ++c) driver.config().inputTypes[c] = driver.config().outputTypes[c] = type;
        ASSERT_TRUE(start());
        driver.switchHalf(0);
        const std::vector<float> left = expectedInput(type, 3), right = expectedInput(type, 1);
        EXPECT_TRUE(sameBytes(render.inLeft, left.data(), 256 * sizeof(float)));
        EXPECT_TRUE(sameBytes(render.inRight, right.data(), 256 * sizeof(float)));
        const std::vector<uint8_t> outL = expectedOutput(type, render.outLeft), outR = expectedOutput(type, render.outRight);
        EXPECT_TRUE(sameBytes(driver.log().lastOutput[2], outL.data(), outL.size()));
        EXPECT_TRUE(sameBytes(driver.log().lastOutput[5], outR.data(), outR.size()));
        // Big-endian inputs are reversed in the driver's own buffer before conversion.
        vl::PlanarLayout layout;
        vl::planarLayoutFor(type, layout);
        if (layout.bigEndian) {
            const int w = layout.bytesPerSample;
            const uint8_t* sent = driver.config().inputSignal[3];
            const uint8_t* seen = driver.log().lastInput[3];
            for (int b = 0; b < w; ++b) EXPECT_EQ(seen[b], sent[w - 1 - b]) << b;
        }
        asio->stop();
    }
    for (int c : {0, 1, 3, 4, 6, 7}) {
        EXPECT_EQ(nonZero(c), 0) << c;
        EXPECT_EQ(untouched(c), 0) << c;
    }
    EXPECT_EQ(outputBlocks(2), int32_t(std::size(kAllTypes)));
}

TEST_F(AsioBackend, KnownValuesReachTheDeviceInItsByteOrder) {
    struct Case {
        int32_t type;
        float value;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {16, 0.5f, {0xFF, 0x3F}},           {0, 1.0f, {0x7F, 0xFF}},
        {0, -1.0f, {0x80, 0x00}},           {1, -1.0f, {0x80, 0x00, 0x01}},
        {17, 0.5f, {0xFF, 0xFF, 0x3F}},     {3, 1.0f, {0x3F, 0x80, 0x00, 0x00}},
        {19, -2.0f, {0x00, 0x00, 0x00, 0xC0}}, {24, 1.0f, {0xFF, 0x7F, 0x00, 0x00}},
        {8, -1.0f, {0xFF, 0xFF, 0x80, 0x00}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        driver.config().outputTypes[0] = c.type;
        for (float& v : render.outLeft) v = c.value;
        ASSERT_TRUE(start(false));
        driver.switchHalf(1);
        EXPECT_TRUE(sameBytes(driver.log().lastOutput[0], c.bytes.data(), c.bytes.size()));
        asio->stop();
    }
}

TEST_F(AsioBackend, OneInputChannelForBothPlanesIsConvertedOnce) {
    fillInputSignals();
    driver.config().inputTypes[1] = 1;  // Int24MSB: reversed in place, so a second pass would garble it
    in()->leftChannel = in()->rightChannel = 1;
    ASSERT_TRUE(start());
    driver.switchHalf(0);
    const std::vector<float> expected = expectedInput(1, 1);
    EXPECT_TRUE(sameBytes(render.inLeft, expected.data(), 256 * sizeof(float)));
    EXPECT_TRUE(sameBytes(render.inRight, expected.data(), 256 * sizeof(float)));
}

TEST_F(AsioBackend, ChannelsNobodyDeliversGiveSilentPlanesAndUnknownTypesAreNotTouched) {
    fillInputSignals();
    driver.config().inputs = driver.config().outputs = 4;
    driver.config().inputTypes[2] = 32;   // DSD
    driver.config().outputTypes[0] = 32;
    in()->leftChannel = 2;   // a type that is not converted
    in()->rightChannel = 9;  // no such channel
    out()->leftChannel = 0;
    ASSERT_TRUE(start());
    driver.switchHalf(0);
    for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(render.inLeft[i], 0.0f);
        ASSERT_EQ(render.inRight[i], 0.0f);
    }
    EXPECT_EQ(untouched(0), 1);  // neither written nor zero-filled
    EXPECT_EQ(nonZero(1), 1);    // the right plane
    EXPECT_EQ(nonZero(2) + nonZero(3) + untouched(2) + untouched(3), 0);
    // Without an input record the planes are silent too, not the previous block's output.
    asio->stop();
    ASSERT_TRUE(start(false));
    driver.switchHalf(1);
    for (int i = 0; i < 256; ++i) ASSERT_EQ(render.inLeft[i], 0.0f);
}

TEST_F(AsioBackend, UnusedOutputsAreZeroFilledEveryBlockOnTheDriversThread) {
    driver.config().inputs = driver.config().outputs = 40;
    driver.config().pacing = testasio::Paced;
    driver.config().preferredSize = 64;
    driver.config().maxSwitches = 50;
    out()->leftChannel = 7;
    out()->rightChannel = 30;
    ASSERT_TRUE(start());
    ASSERT_TRUE(driver.waitForSwitches(50));
    asio->stop();
    // Switches the thread makes before start() has returned are silence without a block.
    const int32_t rendered = render.calls.load();
    EXPECT_GE(rendered, 1);
    EXPECT_EQ(render.lastFrames.load(), 64u);
    for (int c = 0; c < 32; ++c) {
        EXPECT_EQ(outputBlocks(c), 50) << c;
        EXPECT_EQ(untouched(c), 0) << c;
        EXPECT_EQ(nonZero(c), (c == 7 || c == 30) ? rendered : 0) << c;
    }
    EXPECT_EQ(driver.log().timeInfoSwitches.load(), 50);  // the host asked for time info
    EXPECT_EQ(driver.log().threadWaitFailed.load(), 0);
}

TEST_F(AsioBackend, StoppingEngineGivesSilenceInsteadOfTheLastBlock) {
    // A switch from inside start(), before the engine counts as running.
    driver.config().primeInStart = 1;
    ASSERT_TRUE(start());
    EXPECT_EQ(render.calls.load(), 0);
    EXPECT_EQ(outputBlocks(0), 1);
    EXPECT_EQ(nonZero(0) + nonZero(1) + untouched(0) + untouched(1), 0);
    driver.switchHalf(1);
    EXPECT_EQ(nonZero(0), 1);
    // RenderBlock answering false: silence for that block, the engine keeps running.
    render.answer = false;
    driver.switchHalf(0);
    EXPECT_EQ(render.calls.load(), 2);
    EXPECT_EQ(nonZero(0), 1);
    EXPECT_EQ(nonZero(1), 1);
    EXPECT_EQ(untouched(0) + untouched(1), 0);
    render.answer = true;
    // The engine stopping (running cleared, the driver not yet stopped): silence, no render.
    asio->running = false;
    driver.switchHalf(1);
    EXPECT_EQ(render.calls.load(), 2);
    EXPECT_EQ(nonZero(0), 1);
    EXPECT_EQ(untouched(0) + untouched(1), 0);
    asio->running = true;
    asio->stop();
}

TEST_F(AsioBackend, OutputReadyIsCalledOnlyWhenTheDriverOffersIt) {
    for (int32_t answer : {ASE_OK, ASE_NotPresent}) {
        driver.config().outputReadyAnswer = answer;
        const int32_t before = driver.count(testasio::mOutputReady);
        ASSERT_TRUE(start());
        for (int i = 0; i < 4; ++i) driver.switchHalf(i & 1);
        asio->stop();
        EXPECT_EQ(asio->postOutput, answer == ASE_OK);
        // One probe at initialisation, then one per block when offered.
        EXPECT_EQ(driver.count(testasio::mOutputReady) - before, answer == ASE_OK ? 5 : 1) << answer;
    }
}

TEST_F(AsioBackend, AnswersTheDriversMessages) {
    ASSERT_TRUE(start());
    const AsioCallbacks callbacks = driver.log().callbacks;  // as the driver received them
    ASSERT_NE(callbacks.asioMessage, nullptr);
    struct Case {
        int32_t selector, value, answer;
    } cases[] = {
        {kAsioSelectorSupported, kAsioEngineVersion, 1}, {kAsioSelectorSupported, kAsioResetRequest, 1},
        {kAsioSelectorSupported, kAsioBufferSizeChange, 1}, {kAsioSelectorSupported, kAsioResyncRequest, 1},
        {kAsioSelectorSupported, kAsioLatenciesChanged, 1}, {kAsioSelectorSupported, kAsioSupportsTimeInfo, 1},
        {kAsioSelectorSupported, kAsioSupportsTimeCode, 1}, {kAsioSelectorSupported, kAsioMMCCommand, 0},
        {kAsioSelectorSupported, kAsioSupportsInputMonitor, 1}, {kAsioSelectorSupported, kAsioOverload, 0},
        {kAsioEngineVersion, 0, 2}, {kAsioResetRequest, 0, 1}, {kAsioBufferSizeChange, 512, 1},
        {kAsioResyncRequest, 0, 1}, {kAsioLatenciesChanged, 0, 1}, {kAsioSupportsTimeInfo, 0, 1},
        {kAsioSupportsTimeCode, 0, 0}, {kAsioSupportsInputMonitor, 0, 0}, {kAsioOverload, 0, 0}, {99, 0, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(callbacks.asioMessage(c.selector, c.value, nullptr, nullptr), c.answer) << c.selector << "/" << c.value;
    EXPECT_EQ(driver.log().supportsTimeInfoAnswer, 1);
    EXPECT_EQ(asio->sampleRate, 44100.0);  // a restart follows the requests; nothing changes inside them
    // The plain switch reaches the same block, without a driver call of its own.
    const int32_t positions = driver.count(testasio::mGetSamplePosition);
    callbacks.bufferSwitch(0, kAsioTrue);
    EXPECT_EQ(render.calls.load(), 1);
    EXPECT_EQ(driver.count(testasio::mGetSamplePosition), positions);
}

// A driver that stops calling back without a word is a failed device; a long block is not.
TEST_F(AsioBackend, NoBufferSwitchForTheStallBoundIsAFailedDevice) {
    asio->stallMs = 150;
    ASSERT_TRUE(start());
    driver.switchHalf(0);
    asio->poll();
    EXPECT_EQ(asio->takeDeviceEvent(), vl::DeviceEvent::None);
    Sleep(250);
    asio->poll();
    EXPECT_EQ(asio->takeDeviceEvent(), vl::DeviceEvent::Failed);
    asio->poll();
    EXPECT_EQ(asio->takeDeviceEvent(), vl::DeviceEvent::None);  // told once
    asio->stop();

    ASSERT_TRUE(start());
    render.log = &driver.log();
    render.holdMs = 400;
    std::thread late([&] { driver.switchHalf(1); });
    for (int i = 0; i < 2000 && !render.holding.load(); ++i) Sleep(1);
    Sleep(250);
    asio->poll();
    EXPECT_EQ(asio->takeDeviceEvent(), vl::DeviceEvent::None);
    late.join();
    asio->stop();
    asio->poll();
    EXPECT_EQ(asio->takeDeviceEvent(), vl::DeviceEvent::None);  // a stopped engine is watched no more
}

// A stored output choice beyond the driver's outputs plays on its first two, as the input does.
TEST_F(AsioBackend, OutputChannelsBeyondTheDriversFallBackToTheFirstTwo) {
    out()->leftChannel = 5;
    out()->rightChannel = 7;
    ASSERT_TRUE(start());
    EXPECT_EQ(asio->outputLeft, 0);
    EXPECT_EQ(asio->outputRight, 1);
    driver.switchHalf(0);
    EXPECT_GT(nonZero(0), 0);
    EXPECT_GT(nonZero(1), 0);
    asio->stop();
}

TEST_F(AsioBackend, RefusesInputAndOutputOfDifferentDriversWithoutLoadingAnything) {
    EXPECT_FALSE(asio->openAndStart(in(0), out(1), &Render::proc, &render));
    EXPECT_FALSE(asio->openAndStart(in(1), out(0), &Render::proc, &render));
    EXPECT_FALSE(asio->openAndStart(in(0), nullptr, &Render::proc, &render));
    EXPECT_FALSE(asio->openAndStart(nullptr, nullptr, &Render::proc, &render));
    vl::AudioDeviceRecord beyond = *out(0);
    beyond.deviceIndex = 4;
    EXPECT_FALSE(asio->openAndStart(nullptr, &beyond, &Render::proc, &render));
    EXPECT_EQ(driver.log().objectsCreated.load(), 0);
    EXPECT_EQ(driver.log().callCount.load(), 0);
    EXPECT_FALSE(asio->running.load());
}

TEST_F(AsioBackend, ControlPanelInitialisesTheDriverWithTheMainWindowAndKeepsItLoaded) {
    int mainWindow = 0;
    asio->setWindowHandle(&mainWindow);
    ASSERT_TRUE(asio->queryDetails(in(), false));
    ASSERT_TRUE(asio->queryDetails(out(), false));
    const int32_t before = driver.log().callCount.load();
    ASSERT_TRUE(asio->openControlPanel(out()));
    const std::vector<int32_t> calls(driver.log().calls + before, driver.log().calls + driver.log().callCount.load());
    const auto init = std::find(calls.begin(), calls.end(), testasio::mInit);
    const auto panel = std::find(calls.begin(), calls.end(), testasio::mControlPanel);
    ASSERT_NE(panel, calls.end());
    EXPECT_LT(init, panel);  // initialised first
    EXPECT_EQ(driver.log().sysHandle, &mainWindow);
    EXPECT_EQ(driver.log().objectsAlive.load(), 1);  // its panel may live in it
    const int32_t created = driver.log().objectsCreated.load();
    EXPECT_TRUE(asio->openControlPanel(out()));  // pressed again: the same driver object
    EXPECT_EQ(driver.log().objectsCreated.load(), created);
    EXPECT_TRUE(asio->queryDetails(out(), false));  // what is known of its own records keeps it
    EXPECT_EQ(driver.log().objectsAlive.load(), 1);
    asio->releaseControlPanel();  // the Audio Settings window closes
    EXPECT_EQ(driver.log().objectsAlive.load(), 0);
    EXPECT_FALSE(in()->detailsKnown);  // the panel may have changed the rate or the size
    EXPECT_FALSE(out()->detailsKnown);

    // A refused panel keeps nothing loaded; a query of another driver is made beside the
    // panel's, which stays alive (its window may still be open).
    driver.config().controlPanelAnswer = ASE_NotPresent;
    EXPECT_FALSE(asio->openControlPanel(out()));
    EXPECT_EQ(driver.log().objectsAlive.load(), 0);
    driver.config().controlPanelAnswer = ASE_OK;
    ASSERT_TRUE(asio->openControlPanel(out()));
    const int32_t panelObjects = driver.log().objectsCreated.load();
    EXPECT_TRUE(asio->queryDetails(in(1), false));
    EXPECT_TRUE(in(1)->detailsKnown);
    EXPECT_EQ(driver.log().objectsCreated.load(), panelObjects + 1);
    EXPECT_EQ(driver.log().objectsAlive.load(), 1);
    EXPECT_TRUE(asio->openControlPanel(out()));  // still the panel's own object
    EXPECT_EQ(driver.log().objectsCreated.load(), panelObjects + 1);
    asio->releaseControlPanel();
    EXPECT_EQ(driver.log().objectsAlive.load(), 0);
    EXPECT_FALSE(asio->openControlPanel(nullptr));
    EXPECT_FALSE(asio->openControlPanel(out(2)));  // the refusing driver
    EXPECT_EQ(driver.log().objectsAlive.load(), 0);

    // An engine start on the panel's driver keeps that object, initialised once; the running
    // driver's panel is its own.
    ASSERT_TRUE(asio->openControlPanel(out()));
    const int32_t panelObject = driver.log().objectsCreated.load();
    const int32_t inits = driver.count(testasio::mInit);
    ASSERT_TRUE(start());
    EXPECT_EQ(driver.log().objectsAlive.load(), 1);
    EXPECT_EQ(driver.log().objectsCreated.load(), panelObject);
    EXPECT_EQ(driver.count(testasio::mInit), inits);
    const int32_t running = driver.log().objectsCreated.load();
    EXPECT_TRUE(asio->openControlPanel(out(1)));
    asio->releaseControlPanel();  // the window closes while the engine runs: nothing changes
    EXPECT_EQ(driver.log().objectsCreated.load(), running);
    driver.switchHalf(0);
    EXPECT_EQ(render.calls.load(), 1);  // still running
    in(1)->detailsKnown = false;
    EXPECT_FALSE(asio->queryDetails(in(1), true));  // would release the running driver
    EXPECT_EQ(driver.log().objectsCreated.load(), running);
    asio->stop();
    EXPECT_EQ(driver.log().sysHandle, &mainWindow);  // the engine's driver too
}

TEST_F(AsioBackend, DriverRequestsAreAnsweredAndBecomeARestartRequest) {
    driver.config().pacing = testasio::Paced;
    driver.config().preferredSize = 64;
    struct Case {
        const char* what;
        int32_t selector, value;
        double rate;
        int32_t answer;
        bool restart;
    } cases[] = {
        {"reset", kAsioResetRequest, 0, 0.0, 1, true},
        {"buffer size", kAsioBufferSizeChange, 128, 0.0, 1, true},
        {"resync", kAsioResyncRequest, 0, 0.0, 1, true},
        {"new rate", 0, 0, 48000.0, 0, true},
        {"same rate", 0, 0, 44100.0, 0, false},
        {"clock lost", 0, 0, 0.0, 0, false},
        {"latencies", kAsioLatenciesChanged, 0, 0.0, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(asio->queryDetails(in(), false));
        ASSERT_TRUE(asio->queryDetails(out(), false));
        ASSERT_TRUE(start());
        ASSERT_TRUE(driver.waitForSwitches(driver.log().switches.load() + 2));
        EXPECT_EQ(asio->takeDeviceEvent(), vl::DeviceEvent::None);
        EXPECT_EQ(driver.notify(c.selector, c.value, c.rate), c.answer);
        // Answered on the driver's thread, which goes on calling back: nothing is torn down there.
        const int calls = render.calls.load();
        ASSERT_TRUE(driver.waitForSwitches(driver.log().switches.load() + 3));
        EXPECT_GT(render.calls.load(), calls);
        EXPECT_EQ(asio->takeDeviceEvent(), c.restart ? vl::DeviceEvent::RestartRequested : vl::DeviceEvent::None);
        asio->stop();
        // The restart queries the driver afresh.
        EXPECT_EQ(out()->detailsKnown, !c.restart);
        EXPECT_EQ(in()->detailsKnown, !c.restart);
    }
    driver.config().preferredSize = 128;
    ASSERT_TRUE(start());
    EXPECT_EQ(driver.notify(kAsioBufferSizeChange, 128), 1);
    asio->stop();
    ASSERT_TRUE(asio->queryDetails(out(), false));
    EXPECT_EQ(out()->bufferSize, 128u);
    EXPECT_EQ(driver.log().threadWaitFailed.load(), 0);
}

TEST_F(AsioBackend, ADriverChangedSinceItsRecordsWereReadAsksForARestart) {
    ASSERT_TRUE(asio->queryDetails(out(), false));
    driver.config().preferredSize = 512;  // changed in its own panel, say
    ASSERT_TRUE(start(false));
    EXPECT_EQ(asio->blockSize, 512);
    EXPECT_EQ(asio->takeDeviceEvent(), vl::DeviceEvent::RestartRequested);
    asio->stop();
    EXPECT_FALSE(out()->detailsKnown);
    ASSERT_TRUE(asio->queryDetails(out(), false));
    ASSERT_TRUE(start(false));
    EXPECT_EQ(asio->takeDeviceEvent(), vl::DeviceEvent::None);
}

TEST_F(AsioBackend, OutputHalvesAreClearedBeforeTheDriverStarts) {
    for (int32_t channels : {2, 40}) {
        driver.config().inputs = driver.config().outputs = channels;
        const int32_t dirtyBefore = driver.log().dirtyHalvesAtStart.load();
        ASSERT_TRUE(start());  // the driver hands out halves full of 0xA5
        EXPECT_EQ(driver.log().dirtyHalvesAtStart.load(), dirtyBefore) << channels;
        asio->stop();
    }
    // The check itself: a host that did not clear would be seen.
    driver.config().outputTypes[0] = 32;  // DSD: not converted, so not cleared either
    driver.config().inputs = driver.config().outputs = 2;
    ASSERT_TRUE(start());
    EXPECT_EQ(driver.log().dirtyHalvesAtStart.load(), 2);
}

TEST_F(AsioBackend, UnusedOutputsAreClearedOnceUnlessTheDriverDirtiesThem) {
    driver.config().outputs = 8;
    driver.config().fillOutputs = 0;  // this driver keeps what the host wrote
    ASSERT_TRUE(start());
    const int32_t first = asio->inputBuffers;
    auto half = [&](int channel, int index) { return static_cast<uint8_t*>(asio->bufferInfos[first + channel].buffers[index]); };
    for (int i = 0; i < 4; ++i) driver.switchHalf(i & 1);
    for (int c = 2; c < 8; ++c) EXPECT_EQ(nonZero(c), 0) << c;
    // A byte inside an unused half stays: the host does not clear it every block.
    half(5, 0)[100] = 0x11;
    driver.switchHalf(0);
    EXPECT_EQ(driver.log().lastOutput[5][100], 0x11);
    // A half that comes back dirty at its start is seen: from then on every unused half is
    // cleared in every block.
    half(6, 1)[0] = 0x22;
    driver.switchHalf(1);
    EXPECT_EQ(driver.log().lastOutput[6][0], 0);
    half(5, 0)[100] = 0x11;
    half(7, 0)[200] = 0x33;
    driver.switchHalf(0);
    EXPECT_EQ(driver.log().lastOutput[5][100], 0);
    EXPECT_EQ(driver.log().lastOutput[7][200], 0);
    EXPECT_EQ(nonZero(0), 7);  // the chosen channels are written every block
    asio->stop();
}

TEST_F(AsioBackend, AStartThatFailsHalfWayLeavesNothingBehind) {
    struct Case {
        const char* what;
        void (*configure)(testasio::Config&);
    } cases[] = {
        {"start refused", [](testasio::Config& c) { c.startAnswer = ASE_HWMalfunction; }},
        {"buffers refused", [](testasio::Config& c) { c.createBuffersAnswer = ASE_NoMemory; }},
        {"no preferred size", [](testasio::Config& c) { c.preferredSize = 0; }},
    };
    for (const Case& c : cases) {
        TestAsioModule fresh;
        c.configure(fresh.config());
        fresh.config().pacing = testasio::Manual;
        EXPECT_FALSE(start()) << c.what;
        EXPECT_FALSE(asio->running.load());
        EXPECT_EQ(fresh.log().objectsAlive.load(), 0) << c.what;
        EXPECT_EQ(fresh.log().buffersAlive.load(), 0) << c.what;
        EXPECT_EQ(asio->leftPlane, nullptr);
    }
    driver.config().preferredSize = 256;
    ASSERT_TRUE(start());  // and the next start works
    asio->stop();
}

TEST_F(AsioBackend, StopEndsTheDriverInOrder) {
    driver.config().pacing = testasio::Paced;
    driver.config().preferredSize = 64;
    ASSERT_TRUE(start());
    ASSERT_TRUE(driver.waitForSwitches(3));
    const int32_t before = driver.log().callCount.load();
    asio->stop();
    const int32_t after = driver.log().callCount.load();
    std::vector<int32_t> tail(driver.log().calls + before, driver.log().calls + after);
    EXPECT_EQ(tail, (std::vector<int32_t>{testasio::mStop, testasio::mDisposeBuffers, testasio::mRelease}));
    EXPECT_FALSE(asio->running.load());
    EXPECT_EQ(asio->leftPlane, nullptr);
    asio->stop();  // a second stop does nothing
    EXPECT_EQ(driver.log().callCount.load(), after);
}

TEST_F(AsioBackend, StopLetsABlockUnderWayFinishBeforeTheDriverStops) {
    driver.config().pacing = testasio::Paced;
    driver.config().preferredSize = 64;
    render.log = &driver.log();
    render.holdMs = 40;
    ASSERT_TRUE(start());
    for (int i = 0; i < 2000 && !render.holding.load(); ++i) Sleep(1);
    ASSERT_TRUE(render.holding.load());
    const int32_t before = driver.log().callCount.load();
    asio->stop();
    int32_t stopAt = -1;
    for (int32_t i = before; i < driver.log().callCount.load() && stopAt < 0; ++i)
        if (driver.log().calls[i] == testasio::mStop) stopAt = i;
    ASSERT_GE(stopAt, 0);
    ASSERT_GE(render.callsAtExit.load(), 0);
    EXPECT_LE(render.callsAtExit.load(), stopAt);  // the block ended before the driver was stopped
    EXPECT_EQ(driver.log().stoppedDuringCallback.load(), 0);
    EXPECT_EQ(driver.log().disposedDuringCallback.load(), 0);
    EXPECT_EQ(driver.writesAfterDispose(), 0);
}

TEST_F(AsioBackend, ABlockThatOutlivesTheStopsWaitKeepsEverythingItUsesAlive) {
    driver.config().pacing = testasio::Paced;
    driver.config().preferredSize = 64;
    render.log = &driver.log();
    render.holdMs = 400;
    asio->stopWaitMs = 50;
    ASSERT_TRUE(start());
    for (int i = 0; i < 2000 && !render.holding.load(); ++i) Sleep(1);
    ASSERT_TRUE(render.holding.load());
    asio->stop();  // returns after its bound, the block still inside
    ASSERT_TRUE(driver.hostInside());
    EXPECT_TRUE(asio->teardownPending());
    EXPECT_FALSE(asio->running.load());
    EXPECT_EQ(driver.count(testasio::mStop), 0);  // not stopped under the callback
    EXPECT_EQ(driver.log().buffersAlive.load(), 1);
    EXPECT_EQ(driver.log().objectsAlive.load(), 1);
    EXPECT_NE(asio->leftPlane, nullptr);
    EXPECT_FALSE(asio->queryDetails(in(1), false));  // no other driver while this one is in use
    EXPECT_FALSE(start());
    EXPECT_EQ(driver.log().objectsAlive.load(), 1);

    for (int i = 0; i < 5000 && render.callsAtExit.load() < 0; ++i) Sleep(1);
    ASSERT_GE(render.callsAtExit.load(), 0);  // the block has left the plug-in
    asio->stop();  // finishes the teardown
    EXPECT_FALSE(asio->teardownPending());
    EXPECT_EQ(driver.log().buffersAlive.load(), 0);
    EXPECT_EQ(driver.log().objectsAlive.load(), 0);
    EXPECT_EQ(driver.log().stoppedDuringCallback.load(), 0);
    EXPECT_EQ(driver.log().disposedDuringCallback.load(), 0);
    EXPECT_EQ(driver.writesAfterDispose(), 0);  // the late block wrote into live buffers only
    ASSERT_TRUE(start());  // and the next start works
    asio->stop();
}
