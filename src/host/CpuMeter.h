#pragma once
// The CPU figure of the status title: this process's share of all processors' time between two
// measurements at least 250 ms apart.

#include <atomic>
#include <cstdint>

#include "platform/CpuTimes.h"

namespace vl {

class CpuMeter {
public:
    // Where the meter reads its times; tests replace them.
    struct Sources {
        bool (*systemTimes)(platform::SystemTimes&) = &platform::readSystemTimes;
        bool (*processTimes)(platform::ProcessTimes&) = &platform::readProcessTimes;
        uint32_t (*tickMs)() = nullptr;  // null: the platform's millisecond tick
    };

    CpuMeter() = default;
    explicit CpuMeter(Sources sources) : sources(sources) {}

    // Measures when the last measurement is more than 250 ms old and answers the last usage
    // in percent (-1 before the first usable pair of measurements). A call that overlaps
    // another answers at once.
    int16_t measure();

private:
    Sources sources;
    uint64_t previousSystemKernel = 0;
    uint64_t previousSystemUser = 0;
    uint64_t previousProcessKernel = 0;
    uint64_t previousProcessUser = 0;
    std::atomic<int16_t> lastUsage{-1};
    uint32_t lastTick = 0;  // 0 = never measured
    std::atomic<int32_t> reentry{0};
};

}  // namespace vl
