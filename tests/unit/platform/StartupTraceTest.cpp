#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>

#include "platform/FileIO.h"
#include "platform/StartupTrace.h"

namespace fs = std::filesystem;
using vl::platform::StartupTrace;

namespace {

int64_t fakeNow = 0;
int64_t fakeCounter() { return fakeNow; }
// 4000 ticks per second: 4 ticks a millisecond.
const StartupTrace::Clock kFakeClock{&fakeCounter, 4000};

fs::path tracePath(const std::string& name) {
    const fs::path dir = fs::temp_directory_path() / "vorlane-test-startup-trace";
    fs::create_directories(dir);
    fs::remove(dir / name);
    return dir / name;
}

std::string contentOf(const fs::path& path) {
    auto bytes = vl::platform::readWholeFile(path);
    return bytes ? std::string(bytes->begin(), bytes->end()) : std::string("<missing>");
}

}  // namespace

TEST(StartupTrace, StampsAreMillisecondsSinceProcessCreationOnceEachInOrder) {
    StartupTrace trace;
    fakeNow = 1000;
    trace.begin(tracePath("stamps.txt"), kFakeClock, 50.0);
    struct Step {
        int64_t at;
        const char* name;
    };
    // A repeated name keeps its first time; the first block comes last whenever it was taken.
    const Step steps[] = {{1000, "winmain"}, {1040, "com-ready"}, {1100, "com-ready"}, {1402, "engine-started"}};
    for (const Step& step : steps) {
        fakeNow = step.at;
        if (step.at == 1100) trace.markFirstBlock();
        trace.stamp(step.name);
    }
    EXPECT_EQ(trace.text(),
              "# start-up trace: milliseconds since the process was created\n"
              "winmain 50.00\ncom-ready 60.00\nengine-started 150.50\nfirst-block 75.00\n");
}

TEST(StartupTrace, FirstBlockIsMarkedOnceAndWrittenOnce) {
    StartupTrace trace;
    const fs::path file = tracePath("first-block.txt");
    fakeNow = 0;
    trace.begin(file, kFakeClock, 10.0);
    EXPECT_FALSE(trace.firstBlockUnwritten());
    ASSERT_TRUE(trace.write());
    EXPECT_EQ(contentOf(file).find("first-block"), std::string::npos);

    fakeNow = 80;
    std::thread audio([&] {
        for (int block = 0; block < 3; ++block) {
            trace.markFirstBlock();
            fakeNow += 400;  // later blocks must not move the stamp
        }
    });
    audio.join();
    EXPECT_TRUE(trace.firstBlockUnwritten());
    ASSERT_TRUE(trace.write());
    EXPECT_FALSE(trace.firstBlockUnwritten());
    EXPECT_NE(contentOf(file).find("first-block 30.00\n"), std::string::npos) << contentOf(file);
}

TEST(StartupTrace, OffTraceRecordsNothingAndWritesNoFile) {
    const fs::path file = tracePath("never.txt");
    struct Case {
        const char* what;
        fs::path file;
        StartupTrace::Clock clock;
    };
    const Case cases[] = {
        {"no trace begun", {}, {}},
        {"an empty file name", {}, kFakeClock},
        {"a clock without a counter", file, {nullptr, 1000}},
        {"a clock without a rate", file, {&fakeCounter, 0}},
    };
    for (const Case& c : cases) {
        StartupTrace trace;
        if (c.clock.counter || c.clock.frequency || !c.file.empty()) trace.begin(c.file, c.clock, 5.0);
        trace.stamp("winmain");
        trace.markFirstBlock();
        EXPECT_FALSE(trace.active()) << c.what;
        EXPECT_FALSE(trace.firstBlockUnwritten()) << c.what;
        EXPECT_FALSE(trace.write()) << c.what;
        EXPECT_FALSE(fs::exists(file)) << c.what;
    }
}

TEST(StartupTrace, SecondBeginKeepsTheFirstAndStampsStopAtTheLimit) {
    StartupTrace trace;
    fakeNow = 0;
    trace.begin(tracePath("limit.txt"), kFakeClock, 1.0);
    trace.begin(tracePath("other.txt"), StartupTrace::Clock{&fakeCounter, 1000}, 900.0);
    static const std::string names[StartupTrace::kMaxStamps + 2] = {
        "s0", "s1", "s2", "s3", "s4", "s5", "s6", "s7", "s8", "s9", "s10", "s11", "s12", "s13",
        "s14", "s15", "s16", "s17", "s18", "s19", "s20", "s21", "s22", "s23", "s24", "s25"};
    for (const std::string& name : names) trace.stamp(name.c_str());
    const std::string text = trace.text();
    EXPECT_NE(text.find("s0 1.00\n"), std::string::npos) << text;
    EXPECT_NE(text.find("s23 1.00\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("s24"), std::string::npos) << text;
    ASSERT_TRUE(trace.write());
    EXPECT_FALSE(fs::exists(tracePath("other.txt")));
}

TEST(StartupTrace, ProcessAgeIsPositiveAndGrows) {
    const double first = vl::platform::processAgeMs();
    ASSERT_GT(first, 0.0);
    EXPECT_LT(first, 600000.0);  // a test process is not ten minutes old
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_GE(vl::platform::processAgeMs(), first + 10.0);
}
