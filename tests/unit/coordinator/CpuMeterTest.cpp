#include "host/CpuMeter.h"

#include <gtest/gtest.h>

namespace {

// Times the test sets; the meter reads them through its sources.
struct FakeTimes {
    static inline vl::platform::SystemTimes system;
    static inline vl::platform::ProcessTimes process;
    static inline uint32_t tick = 1000;
    static inline bool fail = false;
    static bool readSystem(vl::platform::SystemTimes& out) {
        out = system;
        return !fail;
    }
    static bool readProcess(vl::platform::ProcessTimes& out) {
        out = process;
        return !fail;
    }
    static uint32_t now() { return tick; }
};

vl::CpuMeter fakeMeter() {
    FakeTimes::system = {};
    FakeTimes::process = {};
    FakeTimes::tick = 1000;
    FakeTimes::fail = false;
    vl::CpuMeter::Sources sources;
    sources.systemTimes = &FakeTimes::readSystem;
    sources.processTimes = &FakeTimes::readProcess;
    sources.tickMs = &FakeTimes::now;
    return vl::CpuMeter(sources);
}

}  // namespace

TEST(CpuMeter, ShareOfAllProcessorsBetweenMeasurementsAtLeast250msApart) {
    vl::CpuMeter meter = fakeMeter();
    EXPECT_EQ(meter.measure(), -1);  // the priming measurement
    // System kernel time includes idle time: 800 + 200 units passed, 250 of them ours.
    FakeTimes::system = {600, 800, 200};
    FakeTimes::process = {50, 200};
    FakeTimes::tick = 1250;
    EXPECT_EQ(meter.measure(), -1);  // only 250 ms later: not measured
    FakeTimes::tick = 1251;
    EXPECT_EQ(meter.measure(), 25);
    FakeTimes::system = {600, 1100, 200};
    FakeTimes::process = {50, 299};  // 99 of 300: truncated to 33
    FakeTimes::tick = 1600;
    EXPECT_EQ(meter.measure(), 33);
    // No system time passed: the last figure stays.
    FakeTimes::tick = 2000;
    EXPECT_EQ(meter.measure(), 33);
    FakeTimes::fail = true;
    FakeTimes::tick = 3000;
    EXPECT_EQ(meter.measure(), 33);
}
