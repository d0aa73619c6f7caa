#pragma once
// A fresh folder under the temporary directory, removed when the test is done. Its name holds
// the running test's name and the process id, so tests running in parallel never share one.
// Declare it before anything that may still hold one of its files open (Windows refuses to
// remove those).

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <system_error>

#ifdef _WIN32
#include <process.h>
#define VL_GETPID _getpid
#else
#include <unistd.h>
#define VL_GETPID getpid
#endif

namespace vltest {

class ScratchDir {
public:
    explicit ScratchDir(const std::string& name) : path_(std::filesystem::temp_directory_path() / uniqueName(name)) {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
        std::filesystem::create_directories(path_);
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::filesystem::path& name) const { return path_ / name; }

private:
    static std::string uniqueName(const std::string& name) {
        std::string text = "vorlane-" + name;
        if (const auto* test = ::testing::UnitTest::GetInstance()->current_test_info())
            text += std::string("-") + test->test_suite_name() + "." + test->name();
        for (char& c : text)
            if (c == '/') c = '_';  // parameterised names
        return text + "-" + std::to_string(VL_GETPID());
    }

    std::filesystem::path path_;
};

}  // namespace vltest
