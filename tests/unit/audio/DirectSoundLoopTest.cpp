// The DirectSound loop against scripted cursors: a shared mixer whose write cursor runs 10 ms
// ahead of its play cursor, capture and play clocks that drift apart, the chosen input
// channels, silence without an input, and a buffer call that fails.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "audio/dsound/DirectSoundLoop.h"

using namespace vl;

namespace {

class FakeBuffers final : public dsound::Buffers {
public:
    explicit FakeBuffers(const dsound::Ring& ring)
        : ring(ring), play(ring.ringBytes), capture(ring.ringBytes), fresh(ring.ringBytes / 4) {
        // Every captured frame holds 100 on channel 0 and 200 on channel 1.
        for (uint32_t i = 0; i + 4 <= ring.ringBytes; i += 4) {
            const int16_t frame[2] = {100, 200};
            std::memcpy(capture.data() + i, frame, 4);
        }
    }

    dsound::Ring ring;
    std::vector<uint8_t> play, capture;
    bool playing = false;
    uint64_t captureBytes = 0, playBytes = 0;  // how far each clock has run
    int32_t playDrift = 0;                      // bytes per block the play clock runs ahead
    uint32_t cursorGap = 1764;                  // 10 ms at 44.1 kHz
    int stallAt = -1;                           // at this wake the loop was held up for
    uint32_t stallBytes = 0;                    // this much more of the play clock
    int wakes = 0;
    int failLockAt = -1;
    int locks = 0, writesIntoMixedRegion = 0, jumps = 0;
    uint32_t nextOffset = 0;
    uint64_t clock = 0;
    // The mixer takes each frame as the write cursor passes it: a frame not written since it
    // was last taken is the audio of a ring ago.
    std::vector<bool> fresh;
    uint64_t staleFrames = 0;

    void waitNotification(uint32_t) override {
        captureBytes += ring.blockBytes;
        if (playing) {
            const uint64_t from = (playBytes + cursorGap) / 4;
            playBytes += ring.blockBytes + playDrift + (wakes == stallAt ? stallBytes : 0);
            for (uint64_t f = from; f < (playBytes + cursorGap) / 4; ++f) {
                const size_t at = size_t(f % fresh.size());
                // What the mixer reaches while the loop is held up is beyond the loop's reach.
                if (!fresh[at] && wakes != stallAt && (play[4 * at] | play[4 * at + 1] | play[4 * at + 2] | play[4 * at + 3]))
                    ++staleFrames;
                fresh[at] = false;
            }
        }
        clock += 5;
        ++wakes;
    }
    bool captureReadPosition(uint32_t& position) override {
        position = uint32_t(captureBytes % ring.ringBytes);
        return true;
    }
    bool playCursors(uint32_t& p, uint32_t& w) override {
        p = uint32_t(playBytes % ring.ringBytes) / 4 * 4;
        w = (p + cursorGap) % ring.ringBytes;
        return true;
    }
    bool lockCapture(uint32_t offset, uint32_t bytes, dsound::Region& r) override {
        r.part1 = capture.data() + offset;
        r.bytes1 = bytes;
        return true;
    }
    bool unlockCapture(const dsound::Region&) override { return true; }
    bool lockPlay(uint32_t offset, uint32_t bytes, dsound::Region& r) override {
        if (locks++ == failLockAt) return false;
        jumps += offset != nextOffset;
        nextOffset = (offset + bytes) % ring.ringBytes;
        if (playing) {
            // The region from the play cursor to the write cursor is already being mixed.
            uint32_t p = 0, w = 0;
            playCursors(p, w);
            for (uint32_t b = 0; b < bytes; b += 4)
                if ((offset + b + ring.ringBytes - p) % ring.ringBytes < cursorGap) {
                    ++writesIntoMixedRegion;
                    break;
                }
        }
        // A region past the end of the ring continues at its start, as DirectSound locks it.
        r.part1 = play.data() + offset;
        r.bytes1 = std::min(bytes, ring.ringBytes - offset);
        r.part2 = r.bytes1 < bytes ? play.data() : nullptr;
        r.bytes2 = bytes - r.bytes1;
        return true;
    }
    bool unlockPlay(const dsound::Region& r) override {
        for (const auto& [part, bytes] : {std::pair{r.part1, r.bytes1}, std::pair{r.part2, r.bytes2}}) {
            const size_t first = size_t(static_cast<uint8_t*>(part) - play.data()) / 4;
            for (size_t f = 0; part && f < bytes / 4; ++f) fresh[first + f] = true;
        }
        return true;
    }
    bool startPlayback() override {
        playing = true;
        return true;
    }
    uint64_t nowMs() override { return clock; }
    void sleepMs(uint32_t ms) override { clock += ms; }
};

struct Plugin {
    int stopAfter = 200, blocks = 0;
    int nonSilentInputs = 0;
    float lastLeft = 0.0f, lastRight = 0.0f;
    float rightOutput = 0.5f;
    static bool render(float** in, float** out, uint32_t n, void* user) {
        auto* p = static_cast<Plugin*>(user);
        for (uint32_t i = 0; i < n; ++i) p->nonSilentInputs += in[0][i] != 0.0f || in[1][i] != 0.0f;
        p->lastLeft = in[0][0];
        p->lastRight = in[1][0];
        std::fill_n(out[0], n, 0.5f);
        std::fill_n(out[1], n, p->rightOutput);
        return ++p->blocks < p->stopAfter;
    }
};

class TestLoop final : public VLDirectSoundLoop {
public:
    bool run(FakeBuffers& buffers, bool withInput, interleaved::InputChannels chosen, Plugin& plugin,
             OutputChannels out = {}) {
        if (!allocatePlanes(buffers.ring.frames())) return false;
        const bool ended = runLoop(buffers, buffers.ring, withInput, chosen, out, &Plugin::render, &plugin);
        freePlanes();
        return ended;
    }
    bool openAndStart(AudioDeviceRecord*, AudioDeviceRecord*, RenderBlockProc, void*) override { return false; }
    void stop() override {}
    bool matchFormats(AudioDeviceRecord*, AudioDeviceRecord*) override { return true; }
    bool queryDetails(AudioDeviceRecord*, bool) override { return true; }
};

}  // namespace

// Fails on the earlier loop: playback started two blocks after capture, inside the 10 ms the
// mixer reads ahead, and a drift between the clocks was never corrected (the write offset
// ran into the mixed region, or a ring ahead of it).
TEST(DirectSoundDuplex, PlaybackKeepsItsLeadOverTheMixerWhateverTheClocksDo) {
    // A correction skips or repeats part of a block: one per drift of a few blocks at most.
    struct Case { const char* name; uint32_t bufferSize; int32_t drift; int blocks, mostJumps; };
    const Case cases[] = {
        {"equal clocks, 5 ms blocks", 1024, 0, 300, 0},
        {"play clock 1% fast", 1024, 10, 3000, 10},
        {"play clock 1% slow", 1024, -10, 3000, 10},
        {"large blocks", 8192, 40, 600, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeBuffers buffers(dsound::ringFor(c.bufferSize));
        buffers.playDrift = c.drift;
        Plugin plugin;
        plugin.stopAfter = c.blocks;
        TestLoop loop;
        EXPECT_TRUE(loop.run(buffers, true, interleaved::InputChannels{}, plugin));
        EXPECT_EQ(plugin.blocks, c.blocks);
        EXPECT_TRUE(buffers.playing);
        EXPECT_EQ(buffers.writesIntoMixedRegion, 0);
        EXPECT_LE(buffers.jumps, c.mostJumps);
        EXPECT_EQ(loop.takeDeviceEvent(), DeviceEvent::None);
    }
}

// Fails on the earlier loop: the planes kept the plug-in's previous output as its next input,
// and the capture always fed channels 0 and 1.
TEST(DirectSoundInput, SilenceWithoutAnInputAndTheChosenChannelsWithOne) {
    {
        FakeBuffers buffers(dsound::ringFor(1024));
        buffers.playing = true;
        Plugin plugin;
        plugin.stopAfter = 50;
        TestLoop loop;
        EXPECT_TRUE(loop.run(buffers, false, interleaved::InputChannels{}, plugin));
        EXPECT_EQ(plugin.nonSilentInputs, 0);
    }
    FakeBuffers buffers(dsound::ringFor(1024));
    Plugin plugin;
    plugin.stopAfter = 20;
    TestLoop loop;
    EXPECT_TRUE(loop.run(buffers, true, interleaved::chooseInputChannels(2, 1, 0), plugin));
    EXPECT_EQ(plugin.lastLeft, 200.0f / 32768.0f);
    EXPECT_EQ(plugin.lastRight, 100.0f / 32768.0f);
}

// Fails on the earlier loop, which wrote the left plane to channel 0 and the right plane to
// channel 1 whatever the record chose.
TEST(DirectSoundOutput, TheChosenChannelsWithTheFallbackOfTheInputSide) {
    struct Case { int32_t left, right; int16_t channel0, channel1; };
    const int16_t half = 16383, quarter = -8191;  // 0.5 and -0.25 times 32767, truncated
    const Case cases[] = {{1, 0, quarter, half}, {0, 9, half, quarter}};
    for (const Case& c : cases) {
        FakeBuffers buffers(dsound::ringFor(1024));
        buffers.playing = true;
        Plugin plugin;
        plugin.rightOutput = -0.25f;
        plugin.stopAfter = 3;
        TestLoop loop;
        EXPECT_TRUE(loop.run(buffers, false, interleaved::InputChannels{}, plugin, chooseOutputChannels(2, c.left, c.right)));
        int16_t frame[2];
        std::memcpy(frame, buffers.play.data(), 4);
        EXPECT_EQ(frame[0], c.channel0) << c.left << " " << c.right;
        EXPECT_EQ(frame[1], c.channel1) << c.left << " " << c.right;
    }
}

TEST(DirectSoundFailure, AFailingLockEndsTheLoopAndIsReported) {
    FakeBuffers buffers(dsound::ringFor(1024));
    buffers.failLockAt = 7;
    Plugin plugin;
    TestLoop loop;
    EXPECT_FALSE(loop.run(buffers, true, interleaved::InputChannels{}, plugin));
    EXPECT_EQ(plugin.blocks, 7);
    EXPECT_EQ(loop.takeDeviceEvent(), DeviceEvent::Failed);
}

// Fails on the earlier loop: a correction ahead skipped ring blocks that were never written
// again, and the mixer played them - 87 ms old audio, six bursts of 29 ms in 3000 blocks at
// a drift of 1 %.
TEST(DirectSoundDuplex, ACorrectionAheadSilencesWhatItSkipsAndTheMixerHearsNoOldAudio) {
    struct Case { const char* name; uint32_t bufferSize; int32_t drift; int blocks; bool ahead; uint32_t stall = 0; };
    const Case cases[] = {
        {"play clock 1% fast", 1024, 10, 3000, true},
        {"play clock 0.3% fast, small blocks", 512, 2, 6000, true},
        {"large blocks 0.5% fast", 8192, 40, 600, true},
        {"play clock 1% slow", 1024, -10, 3000, false},
        {"the loop held up past its write offset", 1024, 0, 600, true, 10 * 1024},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeBuffers buffers(dsound::ringFor(c.bufferSize));
        buffers.playDrift = c.drift;
        buffers.stallAt = c.stall ? 300 : -1;
        buffers.stallBytes = c.stall;
        Plugin plugin;
        plugin.stopAfter = c.blocks;
        TestLoop loop;
        EXPECT_TRUE(loop.run(buffers, true, interleaved::InputChannels{}, plugin));
        EXPECT_EQ(buffers.staleFrames, 0u);
        EXPECT_EQ(buffers.writesIntoMixedRegion, 0);
        EXPECT_EQ(loop.silencedGaps() > 0, c.ahead);
    }
}

TEST(DirectSoundRing, LeadCoversThirtyMillisecondsWithinHalfTheRing) {
    struct Case { uint32_t bufferSize, blocks; };
    const Case cases[] = {{1024, 6}, {512, 8}, {4096, 2}, {8192, 2}, {2048, 3}};
    for (const Case& c : cases) EXPECT_EQ(dsound::leadBlocks(dsound::ringFor(c.bufferSize)), c.blocks) << c.bufferSize;
}
