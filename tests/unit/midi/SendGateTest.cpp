// The gate between the audio thread's sends and the close of the MIDI output.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "midi/SendGate.h"

namespace vl {
namespace {

using Clock = std::chrono::steady_clock;

TEST(SendGate, PassesAreOpenOnlyWhileTheGateIsAndDrainIsBounded) {
    std::atomic<bool> closed{true};
    SendGate gate(closed);
    EXPECT_FALSE(gate.enter());
    gate.open();
    EXPECT_TRUE(!closed && gate.enter());
    const auto start = Clock::now();
    {
        auto stuck = gate.enter();
        gate.close();
        EXPECT_TRUE(closed && !gate.enter());
        EXPECT_FALSE(gate.drain(30));  // a sender that never leaves does not hold the close forever
    }
    // The bound is counted on the system tick, which may be coarser than this clock (about
    // 16 ms on Windows): it has waited, not returned at once.
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(10));
    EXPECT_TRUE(gate.drain(0));  // refused and finished passes leave nothing behind
}

TEST(SendGate, NoSendOverlapsTheCloseOfTheOutput) {
    std::atomic<bool> closed{true}, outputOpen{false}, stop{false};
    SendGate gate(closed);
    std::atomic<int> sends{0}, sendsOnClosedOutput{0};
    std::thread audio([&] {
        while (!stop) {
            auto pass = gate.enter();
            if (!pass) continue;
            if (!outputOpen) ++sendsOnClosedOutput;
            std::this_thread::yield();  // a send that takes a moment
            if (!outputOpen) ++sendsOnClosedOutput;
            ++sends;
        }
    });
    const int rounds = 200;
    for (int round = 0; round < rounds; ++round) {
        outputOpen = true;
        gate.open();
        // Close only once the sender got through, so that every close meets a busy sender.
        const int before = sends;
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        while (sends == before && Clock::now() < deadline) std::this_thread::yield();
        gate.close();
        ASSERT_TRUE(gate.drain(5000));
        outputOpen = false;
    }
    stop = true;
    audio.join();
    EXPECT_GE(sends.load(), rounds);
    EXPECT_EQ(sendsOnClosedOutput.load(), 0);
}

}  // namespace
}  // namespace vl
