#include <windows.h>

#include <string>

#include "platform/Clock.h"
#include "platform/StartupTrace.h"

namespace vl::platform {

double processAgeMs() {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return -1.0;
    FILETIME now{};
    GetSystemTimePreciseAsFileTime(&now);
    const auto ticks = [](const FILETIME& t) {
        return (static_cast<int64_t>(t.dwHighDateTime) << 32) | static_cast<int64_t>(t.dwLowDateTime);
    };
    return static_cast<double>(ticks(now) - ticks(created)) / 10000.0;  // 100 ns units
}

bool beginStartupTraceFromEnvironment() {
    const std::wstring name(kStartupTraceVariable, kStartupTraceVariable + sizeof kStartupTraceVariable - 1);
    wchar_t path[MAX_PATH * 2] = {};
    const DWORD length = GetEnvironmentVariableW(name.c_str(), path, MAX_PATH * 2);
    if (length == 0 || length >= MAX_PATH * 2) return false;
    startupTrace().begin(std::filesystem::path(path), StartupTrace::Clock{&counterNow, counterFrequency()},
                         processAgeMs());
    return startupTrace().active();
}

}  // namespace vl::platform
