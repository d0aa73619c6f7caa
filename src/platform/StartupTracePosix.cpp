#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/Clock.h"
#include "platform/StartupTrace.h"

namespace vl::platform {

double processAgeMs() {
    // Field 22 of /proc/self/stat: the start in clock ticks since boot (after the command
    // name, which may hold spaces, so counted from its closing parenthesis).
    FILE* stat = std::fopen("/proc/self/stat", "r");
    if (!stat) return -1.0;
    char buffer[1024] = {};
    const size_t got = std::fread(buffer, 1, sizeof buffer - 1, stat);
    std::fclose(stat);
    buffer[got] = '\0';
    const char* field = std::strrchr(buffer, ')');
    if (!field) return -1.0;
    unsigned long long startTicks = 0;
    int index = 2;  // the state, field 3, follows the parenthesis
    for (const char* p = field + 1; *p; ++p) {
        if (*p != ' ') continue;
        ++index;
        if (index == 22) {
            startTicks = std::strtoull(p + 1, nullptr, 10);
            break;
        }
    }
    const long hz = sysconf(_SC_CLK_TCK);
    timespec boot{};
    if (startTicks == 0 || hz <= 0 || clock_gettime(CLOCK_BOOTTIME, &boot) != 0) return -1.0;
    const double nowMs = static_cast<double>(boot.tv_sec) * 1000.0 + static_cast<double>(boot.tv_nsec) / 1e6;
    return nowMs - static_cast<double>(startTicks) * 1000.0 / static_cast<double>(hz);
}

bool beginStartupTraceFromEnvironment() {
    const char* path = std::getenv(kStartupTraceVariable);
    if (!path || !*path) return false;
    startupTrace().begin(std::filesystem::path(path), StartupTrace::Clock{&counterNow, counterFrequency()},
                         processAgeMs());
    return startupTrace().active();
}

}  // namespace vl::platform
