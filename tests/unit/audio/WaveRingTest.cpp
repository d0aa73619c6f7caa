// The MME header ring against a scripted wave driver: headers handed back out of order, a
// driver that stops handing them back, a device that ran dry, and the end of a run.

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
    bool paused = true;

    int touchedWhileQueued = 0, sentTwice = 0, waits = 0;
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
    void restart() override { paused = false; }
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

TEST(WaveRing, AStalledOrDryDeviceEndsTheWriteAndTheEndSendsWhatIsLeft) {
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
        // Every header came back before the next block: the writer fell behind.
        FakeDriver driver(kFrames * 4);
        mme::HeaderRing ring;
        ring.reset(kFrames * 4);
        for (int b = 0; b < 12; ++b) ASSERT_TRUE(writeBlock(ring, driver, b));
        driver.returnEverything();
        EXPECT_FALSE(writeBlock(ring, driver, 12));
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
