#pragma once
// Runs a program of this build as a separate process, with extra environment variables, its
// output going to a file, and a time limit. For tests of command-line programs.

#include <chrono>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <thread>
#endif

#include "platform/Text.h"

namespace vltest {

struct ProcessResult {
    int exitCode = -1;  // -1 when the program could not be started or was stopped at the limit
    bool timedOut = false;
};

using Environment = std::vector<std::pair<std::string, std::string>>;

inline std::filesystem::path programPath(const std::filesystem::path& dir, const std::string& name) {
#ifdef _WIN32
    return dir / (name + ".exe");
#else
    return dir / name;
#endif
}

#ifdef _WIN32
namespace detail {
inline std::wstring quoted(const std::wstring& arg) {
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') out.append(backslashes * 2 + 1, L'\\');
        else out.append(backslashes, L'\\');
        backslashes = 0;
        out.push_back(c);
    }
    out.append(backslashes * 2, L'\\');
    out.push_back(L'"');
    return out;
}
}  // namespace detail
#endif

inline ProcessResult runProcess(const std::filesystem::path& program, const std::vector<std::string>& args,
                                const Environment& environment, const std::filesystem::path& outputFile,
                                int timeoutSeconds = 120) {
    ProcessResult result;
#ifdef _WIN32
    std::wstring commandLine = detail::quoted(program.wstring());
    for (const std::string& arg : args) commandLine += L" " + detail::quoted(vl::platform::utf8ToWide(arg));
    // The child inherits the environment; the variables are set around its start.
    std::vector<std::pair<std::wstring, std::wstring>> previous;
    for (const auto& [name, value] : environment) {
        const std::wstring wideName = vl::platform::utf8ToWide(name);
        wchar_t old[4096];
        DWORD n = GetEnvironmentVariableW(wideName.c_str(), old, 4096);
        previous.emplace_back(wideName, n > 0 && n < 4096 ? std::wstring(old, n) : std::wstring(L"\x01"));
        SetEnvironmentVariableW(wideName.c_str(), vl::platform::utf8ToWide(value).c_str());
    }
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE out = CreateFileW(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out;
    startup.hStdError = out;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION info{};
    const BOOL started = CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &info);
    for (const auto& [name, value] : previous)
        SetEnvironmentVariableW(name.c_str(), value == L"\x01" ? nullptr : value.c_str());
    if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
    if (!started) return result;
    if (WaitForSingleObject(info.hProcess, static_cast<DWORD>(timeoutSeconds) * 1000) != WAIT_OBJECT_0) {
        TerminateProcess(info.hProcess, 1);
        WaitForSingleObject(info.hProcess, 5000);
        result.timedOut = true;
    } else {
        DWORD code = 0;
        GetExitCodeProcess(info.hProcess, &code);
        result.exitCode = static_cast<int>(code);
    }
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
#else
    const pid_t pid = fork();
    if (pid < 0) return result;
    if (pid == 0) {
        for (const auto& [name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
        const int fd = open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
            dup2(fd, 1);
            dup2(fd, 2);
            close(fd);
        }
        std::vector<char*> argv;
        std::string programText = program.string();
        argv.push_back(programText.data());
        std::vector<std::string> copies(args);
        for (std::string& a : copies) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(programText.c_str(), argv.data());
        _exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            result.timedOut = true;
            return result;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
    return result;
}

}  // namespace vltest
