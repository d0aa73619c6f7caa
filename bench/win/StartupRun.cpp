// Start-up benchmark runner (not a test; started by startup.sh under Wine). Starts each given
// program a number of times, in turns, with the start-up trace on, and ends each run:
// a program that stamps a first block is closed like a user closes it (WM_CLOSE to its main
// window) once that stamp is in its trace; a program that ends by itself is waited for. Nothing
// waits forever: a run that reaches neither within the time-out is closed, and a process that
// does not end after its close is terminated. Round 0 is a warm-up (its files are kept too).
//
//   vl_bench_startup_run <out dir> <rounds> <time-out ms> <label>=<exe> [<label>=<exe> ...]
//
// Writes <out dir>\<label>-<round>.txt (the trace) and prints one line per run:
//   run <label> <round> <first-block|ended|timeout> <closed|killed|->
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Program {
    std::wstring label;
    std::wstring exe;
};

std::string narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out += c < 128 ? static_cast<char>(c) : '?';
    return out;
}

bool traceHasFirstBlock(const std::wstring& path) {
    std::ifstream in(path.c_str());
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("first-block ", 0) == 0) return true;
    }
    return false;
}

struct WindowSearch {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK findMain(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<WindowSearch*>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->pid || !IsWindowVisible(window) || GetWindow(window, GW_OWNER)) return TRUE;
    search->found = window;
    return FALSE;
}

// Closes the program as a user would; answers whether it ended in time (else it is terminated).
bool closeProgram(const PROCESS_INFORMATION& process, DWORD waitMs) {
    WindowSearch search{process.dwProcessId, nullptr};
    EnumWindows(&findMain, reinterpret_cast<LPARAM>(&search));
    if (search.found) PostMessageW(search.found, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process.hProcess, waitMs) == WAIT_OBJECT_0) return true;
    TerminateProcess(process.hProcess, 99);
    WaitForSingleObject(process.hProcess, 5000);
    return false;
}

std::wstring directoryOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring(L".") : path.substr(0, slash);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: vl_bench_startup_run <out dir> <rounds> <time-out ms> <label>=<exe>...\n");
        return 2;
    }
    const std::wstring outDir = argv[1];
    const int rounds = std::max(1, _wtoi(argv[2]));
    const DWORD timeoutMs = static_cast<DWORD>(std::max(1000, _wtoi(argv[3])));
    std::vector<Program> programs;
    for (int i = 4; i < argc; ++i) {
        const std::wstring arg = argv[i];
        const size_t eq = arg.find(L'=');
        if (eq == std::wstring::npos || eq == 0) {
            std::fprintf(stderr, "not <label>=<exe>: %s\n", narrow(arg).c_str());
            return 2;
        }
        programs.push_back({arg.substr(0, eq), arg.substr(eq + 1)});
    }
    CreateDirectoryW(outDir.c_str(), nullptr);

    int failures = 0;
    for (int round = 0; round <= rounds; ++round) {
        for (const Program& program : programs) {
            const std::wstring trace = outDir + L"\\" + program.label + L"-" + std::to_wstring(round) + L".txt";
            DeleteFileW(trace.c_str());
            SetEnvironmentVariableW(L"VORLANE_STARTUP_TRACE", trace.c_str());
            std::wstring commandLine = L"\"" + program.exe + L"\"";
            STARTUPINFOW startup{};
            startup.cb = sizeof startup;
            PROCESS_INFORMATION process{};
            if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                directoryOf(program.exe).c_str(), &startup, &process)) {
                std::printf("run %s %d not-started -\n", narrow(program.label).c_str(), round);
                ++failures;
                continue;
            }
            const char* reached = "timeout";
            const char* ending = "-";
            const DWORD begun = GetTickCount();
            for (;;) {
                if (WaitForSingleObject(process.hProcess, 5) == WAIT_OBJECT_0) {
                    reached = "ended";
                    break;
                }
                if (traceHasFirstBlock(trace)) {
                    reached = "first-block";
                    break;
                }
                if (GetTickCount() - begun > timeoutMs) break;
            }
            if (std::string(reached) != "ended") ending = closeProgram(process, 15000) ? "closed" : "killed";
            if (std::string(reached) == "timeout" || std::string(ending) == "killed") ++failures;
            std::printf("run %s %d %s %s\n", narrow(program.label).c_str(), round, reached, ending);
            std::fflush(stdout);
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
        }
    }
    SetEnvironmentVariableW(L"VORLANE_STARTUP_TRACE", nullptr);
    return failures == 0 ? 0 : 1;
}
