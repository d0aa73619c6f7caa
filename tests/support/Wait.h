#pragma once
// The tests' bounded wait. What a test waits for on a loaded machine (a JACK server's cycles, a
// sound card's blocks under Wine, a driver's callback) comes late rather than never, so a wait
// that gives up says how long it waited and how busy the machine was; a gtest assertion on it
// prints that beside the condition it waited for.

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

namespace vltest {

// The one-minute load average, or "unknown" where the system does not tell.
inline std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string minute;
    return in >> minute ? minute : std::string("unknown");
}

// Polls condition until it holds or limit has passed, calling step (when given) between polls;
// converts to true when the condition held.
template <class Condition>
testing::AssertionResult waitUntil(Condition condition, std::chrono::milliseconds limit,
                                   std::chrono::milliseconds poll = std::chrono::milliseconds(5),
                                   const std::function<void()>& step = {}) {
    const auto start = std::chrono::steady_clock::now();
    while (!condition()) {
        const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        if (waited > limit) {
            return testing::AssertionFailure() << "gave up waiting after " << waited.count() << " ms (limit "
                                               << limit.count() << " ms, load average " << loadAverage() << ")";
        }
        if (step) step();
        std::this_thread::sleep_for(poll);
    }
    return testing::AssertionSuccess();
}

}  // namespace vltest
