// The gate between the audio thread's sends and the close of the MIDI output.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "midi/SendGate.h"

namespace vl {
namespace {

TEST(SendGate, PassesOpenOnlyWhileTheGateIsOpen) {
    std::atomic<bool> closed{true};
    SendGate gate(closed);
    EXPECT_FALSE(gate.enter());
    gate.open();
    EXPECT_FALSE(closed.load());
    EXPECT_TRUE(gate.enter());
    gate.close();
    EXPECT_TRUE(closed.load());
    EXPECT_FALSE(gate.enter());
    // Refused passes leave nothing behind.
    EXPECT_TRUE(gate.drain(0));
}

TEST(SendGate, DrainWaitsForTheSenderInside) {
    std::atomic<bool> closed{false};
    SendGate gate(closed);
    std::atomic<bool> entered{false}, left{false};
    std::thread sender([&] {
        {
            auto pass = gate.enter();
            entered = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            left = true;
        }
    });
    while (!entered) std::this_thread::yield();
    gate.close();
    EXPECT_TRUE(gate.drain(5000));
    EXPECT_TRUE(left.load());
    sender.join();
}

TEST(SendGate, DrainGivesUpAfterItsTimeout) {
    std::atomic<bool> closed{false};
    SendGate gate(closed);
    const auto start = std::chrono::steady_clock::now();
    {
        auto stuck = gate.enter();
        gate.close();
        EXPECT_FALSE(gate.drain(30));
    }
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(25));
    EXPECT_TRUE(gate.drain(0));
}

TEST(SendGate, NoSendReachesAClosedOutput) {
    std::atomic<bool> closed{true};
    SendGate gate(closed);
    std::atomic<bool> outputOpen{false}, stop{false};
    std::atomic<int> sends{0}, sendsOnClosedOutput{0};
    std::thread audio([&] {
        while (!stop) {
            auto pass = gate.enter();
            if (!pass) continue;
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
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (sends == before && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
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
