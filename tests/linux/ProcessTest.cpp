// The Linux program's view of itself: the path it was invoked by, and the lock that tells a
// second copy for the same effect.

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "app/linux/Process.h"
#include "support/ScratchDir.h"

namespace {

namespace fs = std::filesystem;
using vl::linuxapp::invokedExecutable;

TEST(InvokedExecutable, KeepsLinksAndFindsBareNamesOnThePath) {
    vltest::ScratchDir dir{"invoked"};
    const fs::path bin = dir.path() / "bin";
    fs::create_directories(bin);
    { std::ofstream(bin / "Host") << "#!/bin/sh\n"; }
    fs::permissions(bin / "Host", fs::perms::owner_all);
    fs::create_symlink(bin / "Host", dir.path() / "Foo");
    { std::ofstream(dir.path() / "NotExecutable") << "x"; }

    // A slash: made absolute against the working directory, the link's own name kept.
    EXPECT_EQ(invokedExecutable("./Foo", "/usr/bin", dir.path()), dir.path() / "Foo");
    EXPECT_EQ(invokedExecutable("../x/../Foo", "", dir.path() / "bin"), dir.path() / "Foo");
    EXPECT_EQ(invokedExecutable("/opt/a/Foo", "", dir.path()), fs::path("/opt/a/Foo"));
    // No slash: the first PATH entry holding an executable file; an empty entry is "."
    const std::string path = "/nonexistent:" + dir.path().string() + ":" + bin.string();
    EXPECT_EQ(invokedExecutable("Foo", path.c_str(), "/"), dir.path() / "Foo");
    EXPECT_EQ(invokedExecutable("Host", path.c_str(), "/"), bin / "Host");
    EXPECT_EQ(invokedExecutable("Foo", "/nonexistent::", dir.path()), dir.path() / "Foo");
    EXPECT_EQ(invokedExecutable("NotExecutable", dir.path().c_str(), "/"), fs::path());
    EXPECT_EQ(invokedExecutable("Foo", nullptr, "/"), fs::path());
    EXPECT_EQ(invokedExecutable("", "/usr/bin", "/"), fs::path());
    EXPECT_EQ(invokedExecutable(nullptr, "/usr/bin", "/"), fs::path());
}

TEST(RunningCopyLock, HeldByOneProcessUntilItEnds) {
    vltest::ScratchDir dir{"copy-lock"};
    const fs::path file = vl::linuxapp::runningCopyLockFile(dir.path() / "vorlane" / "settings.reg", L"Mverb");
    // One name for the names of one settings key, beside the settings file.
    EXPECT_EQ(file, vl::linuxapp::runningCopyLockFile(dir.path() / "vorlane" / "settings.reg", L"MVERB"));
    EXPECT_EQ(file.parent_path(), dir.path() / "vorlane");

    auto first = std::make_unique<vl::linuxapp::RunningCopyLock>();
    ASSERT_TRUE(first->take(file));
    EXPECT_TRUE(first->held());
    EXPECT_TRUE(first->take(file)) << "asked again by its holder";

    // Another process (a second copy) does not get it while the first lives.
    int pipeFd[2];
    ASSERT_EQ(pipe(pipeFd), 0);
    const pid_t child = fork();
    if (child == 0) {
        vl::linuxapp::RunningCopyLock second;
        const char got = second.take(file) ? 1 : 0;
        [[maybe_unused]] auto n = write(pipeFd[1], &got, 1);
        _exit(0);
    }
    char got = 2;
    ASSERT_EQ(read(pipeFd[0], &got, 1), 1);
    waitpid(child, nullptr, 0);
    EXPECT_EQ(got, 0) << "a second process took the lock";

    // Once the first has ended, the next one takes it.
    vl::linuxapp::RunningCopyLock waiting;
    EXPECT_FALSE(waiting.take(file)) << "another holder in this process took it";
    first.reset();
    vl::linuxapp::RunningCopyLock next;
    EXPECT_TRUE(next.take(file));
    close(pipeFd[0]);
    close(pipeFd[1]);
}

}  // namespace
