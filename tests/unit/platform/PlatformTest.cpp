#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/Clock.h"
#include "platform/CpuTimes.h"
#include "platform/FileIO.h"
#include "platform/Text.h"

namespace fs = std::filesystem;
using namespace vl::platform;

namespace {

fs::path scratchDir(const std::string& name) {
    fs::path dir = fs::temp_directory_path() / ("vorlane-test-" + name);
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

std::string contentOf(const fs::path& path) {
    auto bytes = readWholeFile(path);
    return bytes ? std::string(bytes->begin(), bytes->end()) : std::string("<missing>");
}

}  // namespace

TEST(Text, Utf8RoundTripKeepsEveryCharacter) {
    const std::wstring text = L"K\u00f6ln \u6771\u4eac \u0416 \U0001F3B9";
    EXPECT_EQ(utf8ToWide(wideToUtf8(text)), text);
    EXPECT_EQ(wideToUtf8(L"\u00e9"), "\xC3\xA9");
}

TEST(Text, MalformedUtf8BecomesReplacementCharacters) {
    EXPECT_EQ(utf8ToWide("a\xFF" "b"), L"a\uFFFDb");
    EXPECT_EQ(utf8ToWide("\xC3"), L"\uFFFD");            // truncated sequence
    EXPECT_EQ(utf8ToWide("\xC0\xAF"), L"\uFFFD\uFFFD");  // overlong slash
    EXPECT_EQ(utf8ToWide("\xED\xA0\x80"), L"\uFFFD\uFFFD\uFFFD");  // encoded surrogate
}

TEST(Text, PluginStringsEndAtTheirZeroAndAreLimited) {
    EXPECT_EQ(ansiToWide(std::string("Synth\0junk", 10)), L"Synth");
    EXPECT_EQ(ansiToWide(std::string(300, 'a'), 256).size(), 256u);
    EXPECT_EQ(ansiToWide("", 256), L"");
}

TEST(FileIO, AtomicWriteReplacesTheFileAndLeavesNoTemporary) {
    const fs::path dir = scratchDir("atomic");
    const fs::path target = dir / "state.bin";
    ASSERT_TRUE(writeFileAtomically(target, "first", 5));
    EXPECT_EQ(contentOf(target), "first");
    ASSERT_TRUE(writeFileAtomically(target, "second!", 7));
    EXPECT_EQ(contentOf(target), "second!");
    ASSERT_TRUE(writeFileAtomically(target, "", 0));
    EXPECT_EQ(contentOf(target), "");
    size_t entries = 0;
    for (auto& e : fs::directory_iterator(dir)) entries += 1, (void)e;
    EXPECT_EQ(entries, 1u);
    fs::remove_all(dir);
}

TEST(FileIO, FailedAtomicWritesKeepTheOldContent) {
    const fs::path dir = scratchDir("atomic-fault");
    const fs::path target = dir / "state.bin";
    ASSERT_TRUE(writeFileAtomically(target, "precious", 8));
    for (AtomicWriteFault fault : {AtomicWriteFault::ShortWrite, AtomicWriteFault::RenameFails}) {
        setAtomicWriteFaultForTesting(fault);
        EXPECT_FALSE(writeFileAtomically(target, "replacement", 11));
        setAtomicWriteFaultForTesting(AtomicWriteFault::None);
        EXPECT_EQ(contentOf(target), "precious");
        EXPECT_FALSE(fs::exists(dir / "state.bin.tmp~"));
    }
    // A folder that does not exist fails cleanly.
    EXPECT_FALSE(writeFileAtomically(dir / "missing" / "x.bin", "x", 1));
    fs::remove_all(dir);
}

TEST(FileIO, NonLatinPathsWork) {
    const fs::path dir = scratchDir("unicode");
    const fs::path folder = dir / pathFromWide(L"\u6771\u4eac \u0416");
    fs::create_directories(folder);
    const fs::path file = folder / pathFromWide(L"saved \u00e9.chunk");
    ASSERT_TRUE(writeFileAtomically(file, "abc", 3));
    FILE* f = openFile(file, "rb");
    ASSERT_NE(f, nullptr);
    char buffer[4] = {};
    EXPECT_EQ(std::fread(buffer, 1, 3, f), 3u);
    std::fclose(f);
    EXPECT_STREQ(buffer, "abc");
    EXPECT_FALSE(readWholeFile(folder / "absent").has_value());
    EXPECT_FALSE(readWholeFile(file, 2).has_value());  // larger than allowed
    EXPECT_EQ(pathToWide(file.filename()), L"saved \u00e9.chunk");
    fs::remove_all(dir);
}

TEST(Clock, CounterIsMonotonicAndHasAFrequency) {
    EXPECT_GT(counterFrequency(), 0);
    const int64_t a = counterNow();
    sleepMs(5);
    const int64_t b = counterNow();
    EXPECT_GT(a, 0);
    EXPECT_GT(b, a);
    // At least 4 ms passed (sleeps never end early by more than a tick).
    EXPECT_GE(static_cast<double>(b - a) / static_cast<double>(counterFrequency()), 0.004);
}

TEST(CpuTimes, SystemTimesIncludeIdleInKernelTime) {
    SystemTimes system;
    ProcessTimes process;
    ASSERT_TRUE(readSystemTimes(system));
    ASSERT_TRUE(readProcessTimes(process));
    EXPECT_GE(system.kernel, system.idle);
    EXPECT_GT(system.kernel + system.user, 0u);
    // Burn a little CPU: this process's user time must not go backwards.
    volatile double sink = 0;
    for (int i = 0; i < 2000000; ++i) sink = sink + i * 0.5;
    ProcessTimes later;
    ASSERT_TRUE(readProcessTimes(later));
    EXPECT_GE(later.user + later.kernel, process.user + process.kernel);
}
