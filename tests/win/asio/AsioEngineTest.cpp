// The coordinator's engine start and stop on the ASIO back end and the test driver, many times
// in a row: no hang, nothing left behind, the plug-in configured with the driver's block size
// and rate, and nothing allocated on the driver's thread.

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "AsioEngineRig.h"

using namespace vltest;

// Every allocation of this program is counted; the ones made on a thread other than the main
// thread while `watching` is set are the audio thread's.
namespace {
const DWORD mainThread = GetCurrentThreadId();
std::atomic<int64_t> liveAllocations{0};
std::atomic<int64_t> foreignAllocations{0};
std::atomic<bool> watching{false};

void* countedAlloc(size_t n) {
    void* p = std::malloc(n ? n : 1);
    if (p) {
        liveAllocations.fetch_add(1, std::memory_order_relaxed);
        if (watching.load(std::memory_order_relaxed) && GetCurrentThreadId() != mainThread)
            foreignAllocations.fetch_add(1, std::memory_order_relaxed);
    }
    return p;
}
void countedFree(void* p) {
    if (!p) return;
    liveAllocations.fetch_sub(1, std::memory_order_relaxed);
    std::free(p);
}
}  // namespace

void* operator new(size_t n) {
    if (void* p = countedAlloc(n)) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t n) { return operator new(n); }
void* operator new(size_t n, const std::nothrow_t&) noexcept { return countedAlloc(n); }
void* operator new[](size_t n, const std::nothrow_t&) noexcept { return countedAlloc(n); }
void operator delete(void* p) noexcept { countedFree(p); }
void operator delete[](void* p) noexcept { countedFree(p); }
void operator delete(void* p, size_t) noexcept { countedFree(p); }
void operator delete[](void* p, size_t) noexcept { countedFree(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { countedFree(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { countedFree(p); }

TEST(AsioEngine, StartsAndStops200TimesWithoutHangOrLeak) {
    AsioEngineRig rig(64, 48000.0);
    ASSERT_TRUE(rig.loaded);

    // One round first, so that lazily built state (records' details, the plug-in's) exists.
    ASSERT_TRUE(rig.host.StartAudioEngine());
    ASSERT_TRUE(rig.driver.waitForSwitches(2));
    rig.host.StopAudioEngine();
    const int64_t liveBefore = liveAllocations.load();
    DWORD handlesBefore = 0, handlesAfter = 0;
    GetProcessHandleCount(GetCurrentProcess(), &handlesBefore);
    const int64_t blocksBefore = rig.probe.blockCount();

    watching = true;
    for (int round = 0; round < 200; ++round) {
        const int64_t switches = rig.driver.log().switches.load();
        ASSERT_TRUE(rig.host.StartAudioEngine()) << round;
        ASSERT_TRUE(rig.host.engineRunning.load());
        ASSERT_TRUE(rig.driver.waitForSwitches(switches + 3)) << round;
        rig.host.StopAudioEngine();
        ASSERT_FALSE(rig.asio->running.load()) << round;
        ASSERT_EQ(rig.driver.log().objectsAlive.load(), 0) << round;
        ASSERT_EQ(rig.driver.log().buffersAlive.load(), 0) << round;
    }
    watching = false;

    GetProcessHandleCount(GetCurrentProcess(), &handlesAfter);
    EXPECT_EQ(liveAllocations.load(), liveBefore);
    EXPECT_LE(handlesAfter, handlesBefore + 2);
    EXPECT_EQ(foreignAllocations.load(), 0);  // the driver thread's blocks allocate nothing
    EXPECT_EQ(rig.driver.log().threadWaitFailed.load(), 0);
    // One driver object per start, and one for each record's details query at the first start.
    EXPECT_EQ(rig.driver.log().objectsCreated.load(), rig.driver.count(testasio::mStart) + 2);
    // Three switches a round; the last may be refused when the stop comes before it reaches the
    // host (a stop no longer sleeps until the driver has given up its callback).
    EXPECT_GE(rig.probe.blockCount() - blocksBefore, 400);
    EXPECT_TRUE(rig.messages.shown.empty());
}

TEST(AsioEngine, ThePlugInGetsTheDriversBlockSizeAndRate) {
    struct Case {
        int32_t blockSize;
        double rate;
    } cases[] = {{64, 48000.0}, {200, 44100.0}, {1024, 96000.0}};
    for (const Case& c : cases) {
        AsioEngineRig rig(c.blockSize, c.rate, testasio::Paced);
        ASSERT_TRUE(rig.loaded);
        ASSERT_TRUE(rig.host.StartAudioEngine()) << c.blockSize;
        for (int i = 0; i < 5000 && rig.probe.blockCount() < 3; ++i) vl::platform::sleepMs(1);
        rig.host.StopAudioEngine();
        EXPECT_EQ(rig.settings.outputDevice->bufferSize, uint32_t(c.blockSize));
        EXPECT_EQ(rig.settings.outputDevice->sampleRate, c.rate);
        ASSERT_NE(rig.probe.lastCall(vst::effSetBlockSize), nullptr);
        EXPECT_EQ(rig.probe.lastCall(vst::effSetBlockSize)->value, c.blockSize);
        EXPECT_EQ(rig.probe.lastCall(vst::effSetSampleRate)->opt, float(c.rate));
        const int64_t blocks = rig.probe.blockCount();
        ASSERT_GE(blocks, 3);
        ASSERT_LE(blocks, rig.driver.log().switches.load());
        for (int64_t b = 0; b < blocks; ++b) EXPECT_EQ(rig.probe.block(b).frames, c.blockSize) << b;
        EXPECT_EQ(rig.probe.block(blocks - 1).sampleRate, c.rate);
    }
}

TEST(AsioEngine, ADriverRequestIsARestartOnTheUserInterfaceThreadWithTheNewSizeAndRate) {
    struct Case {
        const char* what;
        int32_t selector, value;
        double rate;
        int32_t newSize;
        double newRate;
    } cases[] = {
        {"buffer size change", vl::asio::kAsioBufferSizeChange, 128, 0.0, 128, 44100.0},
        {"reset request", vl::asio::kAsioResetRequest, 0, 0.0, 256, 48000.0},
        {"rate change", 0, 0, 96000.0, 64, 96000.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        AsioEngineRig rig(64, 44100.0);
        ASSERT_TRUE(rig.loaded);
        ASSERT_TRUE(rig.host.StartAudioEngine());
        ASSERT_TRUE(rig.driver.waitForSwitches(3));
        EXPECT_EQ(rig.host.PollEngine(), vl::EngineNotice::None);
        // The user changes the driver's own settings; the driver tells the host.
        rig.driver.config().preferredSize = c.newSize;
        rig.driver.config().sampleRate = c.newRate;
        EXPECT_GE(rig.driver.notify(c.selector, c.value, c.rate), 0);
        EXPECT_EQ(rig.host.PollEngine(), vl::EngineNotice::RestartRequested);
        EXPECT_TRUE(rig.host.engineRunning.load());  // nothing was torn down inside the callback
        // What the user-interface thread does with the notice.
        const int64_t blocksBefore = rig.probe.blockCount();
        ASSERT_TRUE(rig.host.StartAudioEngine());
        for (int i = 0; i < 5000 && rig.probe.blockCount() < blocksBefore + 3; ++i) vl::platform::sleepMs(1);
        rig.host.StopAudioEngine();
        EXPECT_EQ(rig.probe.lastCall(vst::effSetBlockSize)->value, c.newSize);
        EXPECT_EQ(rig.probe.lastCall(vst::effSetSampleRate)->opt, float(c.newRate));
        const int64_t blocks = rig.probe.blockCount();
        ASSERT_GE(blocks, blocksBefore + 3);
        EXPECT_EQ(rig.probe.block(blocks - 1).frames, c.newSize);
        EXPECT_EQ(rig.driver.log().disposedDuringCallback.load(), 0);
        EXPECT_EQ(rig.driver.writesAfterDispose(), 0);
    }
}
