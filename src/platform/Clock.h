#pragma once
// Monotonic time: a high-resolution counter with its tick rate, and a millisecond tick.

#include <cstdint>

namespace vl::platform {

// Current value of the monotonic high-resolution counter (QueryPerformanceCounter on Windows,
// CLOCK_MONOTONIC in nanoseconds elsewhere). Never 0 once the system is up.
int64_t counterNow();

// Ticks of counterNow() per second.
int64_t counterFrequency();

// Milliseconds of a monotonic clock, wrapping at 2^32 (GetTickCount semantics).
uint32_t tickCountMs();

void sleepMs(uint32_t ms);

}  // namespace vl::platform
