// The MME header ring against a scripted wave driver: headers handed back out of order, a
// driver that stops handing them back or refuses a header, a device that ran dry, the output
// channels, and the end of a run.

#include <gtest/gtest.h>

#include <deque>
#include <vector>

#include "audio/mme/WaveRing.h"

using namespace vl;

namespace {

class FakeDriver final : public mme::WaveDevice {
public:
    explicit FakeDriver(uint32_t bytes) : buffers(mme::kHeaderCount, std::vector<uint8_t>(bytes)) {}

    enum class Order { InOrder, PairsSwapped };
    Order order = Order::PairsSwapped;
    int returnsLeft = 1 << 30;  // after these the driver hands nothing back
    int refuseSendAt = -1;      // waveOutWrite fails for this send
    bool paused = true;

    int touchedWhileQueued = 0, sentTwice = 0, waits = 0, pauses = 0;
    int queuedAtRestart = -1;   // headers queued when the pause last ended
    std::vector<uint32_t> lengths;
    std::vector<int16_t> firstSamples;  // the first left sample of every header sent
    std::deque<int32_t> queue;
    bool back[mme::kHeaderCount] = {};

    bool queued(int32_t i) const {
        for (int32_t q : queue)
            if (q == i) return true;
        return false;
    }
    uint8_t* buffer(int32_t i) override {
        if (queued(i)) ++touchedWhileQueued;
        return buffers[i].data();
    }
    bool send(int32_t i, uint32_t bytes) override {
        if (int(lengths.size()) == refuseSendAt) return false;
        if (queued(i)) ++sentTwice;
        queue.push_back(i);
        back[i] = false;
        lengths.push_back(bytes);
        firstSamples.push_back(int16_t(buffers[i][0] | buffers[i][1] << 8));
        return true;
    }
    bool returned(int32_t i) override { return back[i]; }
    bool waitForReturn(uint32_t) override {
        ++waits;
        if (paused || queue.empty() || returnsLeft <= 0) return false;
        --returnsLeft;
        const size_t at = order == Order::PairsSwapped && queue.size() > 1 && !swapped ? 1 : 0;
        swapped = at == 1;
        back[queue[at]] = true;
        queue.erase(queue.begin() + static_cast<std::ptrdiff_t>(at));
        return true;
    }
    void restart() override {
        if (paused) queuedAtRestart = int(queue.size());
        paused = false;
    }
    void pause() override {
        ++pauses;
        paused = true;
    }
    int16_t sample(int32_t header, size_t at) const { return int16_t(buffers[header][at] | buffers[header][at + 1] << 8); }
    void returnEverything() {
        for (int32_t q : queue) back[q] = true;
        queue.clear();
    }

private:
    std::vector<std::vector<uint8_t>> buffers;
    bool swapped = false;
};

constexpr uint32_t kFrames = 256;

// Block b holds b / 1024 on the left: the first sample of each header tells which block it is.
bool writeBlock(mme::HeaderRing& ring, FakeDriver& driver, int b) {
    std::vector<float> left(kFrames, float(b) / 1024.0f), right(kFrames, 0.0f);
    return ring.write(driver, left.data(), right.data(), kFrames);
}

}  // namespace

// Fails on the earlier writer, which counted returned headers: with the driver handing back
// pairs swapped it refilled the next header in ring order while that one was still queued.
TEST(WaveRing, AHeaderIsRefilledOnlyOnceTheDriverHandedThatHeaderBack) {
    for (FakeDriver::Order order : {FakeDriver::Order::InOrder, FakeDriver::Order::PairsSwapped}) {
        FakeDriver driver(kFrames * 4);
        driver.order = order;
        mme::HeaderRing ring;
        ring.reset(kFrames * 4);
        for (int b = 0; b < 200; ++b) ASSERT_TRUE(writeBlock(ring, driver, b)) << b;
        EXPECT_EQ(driver.touchedWhileQueued, 0);
        EXPECT_EQ(driver.sentTwice, 0);
        ASSERT_EQ(driver.lengths.size(), 200u);
        for (int b = 0; b < 200; ++b) {
            EXPECT_EQ(driver.lengths[b], kFrames * 4);
            EXPECT_EQ(driver.firstSamples[b], mme::sampleFromFloat(float(b) / 1024.0f)) << b;
        }
        EXPECT_FALSE(driver.paused);  // restarted once eleven headers were queued
    }
}

TEST(WaveRing, AStalledDeviceEndsTheWriteADryOneDoesNotAndTheEndSendsWhatIsLeft) {
    {
        // The driver stops handing headers back: the write fails after a bounded number of waits.
        FakeDriver driver(kFrames * 4);
        driver.order = FakeDriver::Order::InOrder;
        driver.returnsLeft = 5;
        mme::HeaderRing ring;
        ring.reset(kFrames * 4);
        bool ok = true;
        int b = 0;
        for (; b < 100 && ok; ++b) ok = writeBlock(ring, driver, b);
        EXPECT_FALSE(ok);
        EXPECT_EQ(b, mme::kHeaderCount + 5 + 1);
        EXPECT_EQ(driver.touchedWhileQueued, 0);
    }
    {
        // Every header came back before the next block: the writer fell behind, which is an
        // underrun and no reason to stop.
        FakeDriver driver(kFrames * 4);
        mme::HeaderRing ring;
        ring.reset(kFrames * 4);
        for (int b = 0; b < 12; ++b) ASSERT_TRUE(writeBlock(ring, driver, b));
        driver.returnEverything();
        EXPECT_TRUE(writeBlock(ring, driver, 12));
        EXPECT_EQ(ring.underruns(), 1u);
    }
    {
        // Half a header at the end goes out with its shorter length, the pre-roll pause ends,
        // and the drain waits for every header.
        FakeDriver driver(kFrames * 8);
        mme::HeaderRing ring;
        ring.reset(kFrames * 8);
        for (int b = 0; b < 3; ++b) ASSERT_TRUE(writeBlock(ring, driver, b));
        EXPECT_TRUE(ring.paused());
        ASSERT_TRUE(ring.flush(driver));
        EXPECT_FALSE(driver.paused);
        EXPECT_EQ(driver.lengths, (std::vector<uint32_t>{kFrames * 8, kFrames * 4}));
        EXPECT_TRUE(ring.drain(driver));
        EXPECT_TRUE(driver.queue.empty());
    }
}

// Fails on the earlier ring: a device played out one block before the writer came (a busy
// machine: 122 ms late at 256 frames) ended the write, and with it the engine, as a failed
// device. Now it is an underrun: the device is paused, the pre-roll is queued again, and the
// writer goes on; only a refused header fails.
TEST(WaveRing, ADeviceThatRanDryIsAnUnderrunAndOnlyARefusedHeaderFails) {
    for (int dryAt : {12, 40, 200}) {
        SCOPED_TRACE(dryAt);
        FakeDriver driver(kFrames * 4);
        mme::HeaderRing ring;
        ring.reset(kFrames * 4);
        for (int b = 0; b < dryAt; ++b) ASSERT_TRUE(writeBlock(ring, driver, b));
        EXPECT_EQ(driver.queuedAtRestart, mme::HeaderRing::kPrerollHeaders);
        driver.returnEverything();  // the device played every header sent
        ASSERT_TRUE(writeBlock(ring, driver, dryAt));
        EXPECT_EQ(ring.underruns(), 1u);
        EXPECT_EQ(driver.pauses, 1);
        EXPECT_TRUE(driver.paused);
        // Playback resumes once the pre-roll is queued again, and the ring keeps going.
        for (int b = dryAt + 1; b < dryAt + 100; ++b) ASSERT_TRUE(writeBlock(ring, driver, b));
        EXPECT_FALSE(driver.paused);
        EXPECT_EQ(driver.queuedAtRestart, mme::HeaderRing::kPrerollHeaders);
        EXPECT_EQ(driver.touchedWhileQueued, 0);
        EXPECT_EQ(driver.sentTwice, 0);
        ASSERT_EQ(driver.firstSamples.size(), size_t(dryAt + 100));
        for (int b = 0; b < dryAt + 100; ++b) EXPECT_EQ(driver.firstSamples[b], mme::sampleFromFloat(float(b) / 1024.0f));
        EXPECT_EQ(ring.underruns(), 1u);
    }
    FakeDriver driver(kFrames * 4);
    driver.refuseSendAt = 30;
    mme::HeaderRing ring;
    ring.reset(kFrames * 4);
    int b = 0;
    while (b < 100 && writeBlock(ring, driver, b)) ++b;
    EXPECT_EQ(b, 30);
    EXPECT_EQ(ring.underruns(), 0u);
}

// Fails on the earlier ring, which always wrote the left plane to channel 0 and the right
// plane to channel 1, whatever the record chose.
TEST(WaveRing, TheChosenOutputChannelsWithTheFallbackOfTheInputSide) {
    struct Case { int32_t left, right; int16_t channel0, channel1; };
    const int16_t l = mme::sampleFromFloat(0.25f), r = mme::sampleFromFloat(-0.5f);
    const Case cases[] = {{1, 0, r, l}, {1, 1, 0, l}, {0, 7, l, r}};  // 7: the device has no such channel
    for (const Case& c : cases) {
        FakeDriver driver(kFrames * 4);
        mme::HeaderRing ring;
        ring.reset(kFrames * 4);
        ring.route(chooseOutputChannels(2, c.left, c.right));
        std::vector<float> left(kFrames, 0.25f), right(kFrames, -0.5f);
        ASSERT_TRUE(ring.write(driver, left.data(), right.data(), kFrames));
        EXPECT_EQ(driver.sample(0, 0), c.channel0) << c.left << " " << c.right;
        EXPECT_EQ(driver.sample(0, 2), c.channel1) << c.left << " " << c.right;
    }
}
