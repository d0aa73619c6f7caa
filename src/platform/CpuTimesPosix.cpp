#include "platform/CpuTimes.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>

namespace vl::platform {

namespace {

// Reads the next unsigned decimal number from p, advancing it; false at the end of the line.
bool nextNumber(const char*& p, const char* end, uint64_t& value) {
    while (p < end && *p == ' ') ++p;
    if (p >= end || *p < '0' || *p > '9') return false;
    value = 0;
    while (p < end && *p >= '0' && *p <= '9') value = value * 10 + static_cast<uint64_t>(*p++ - '0');
    return true;
}

}  // namespace

bool readSystemTimes(SystemTimes& out) {
    // First line of /proc/stat: "cpu  user nice system idle iowait irq softirq steal ...",
    // in clock ticks. Read into a stack buffer: this runs on the audio thread.
    int fd = open("/proc/stat", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char buffer[512];
    ssize_t n = read(fd, buffer, sizeof buffer);
    close(fd);
    if (n < 5 || buffer[0] != 'c' || buffer[1] != 'p' || buffer[2] != 'u' || buffer[3] != ' ') return false;
    const char* p = buffer + 4;
    const char* end = buffer + n;
    uint64_t field[8] = {};
    int count = 0;
    while (count < 8 && nextNumber(p, end, field[count])) ++count;
    if (count < 4) return false;
    long hz = sysconf(_SC_CLK_TCK);
    if (hz <= 0) return false;
    const uint64_t scale = 10000000 / static_cast<uint64_t>(hz);
    out.user = (field[0] + field[1]) * scale;
    out.idle = (field[3] + field[4]) * scale;
    out.kernel = (field[2] + field[5] + field[6] + field[7]) * scale + out.idle;
    return true;
}

bool readProcessTimes(ProcessTimes& out) {
    rusage usage{};
    if (getrusage(RUSAGE_SELF, &usage) != 0) return false;
    auto to100ns = [](const timeval& tv) {
        return static_cast<uint64_t>(tv.tv_sec) * 10000000 + static_cast<uint64_t>(tv.tv_usec) * 10;
    };
    out.kernel = to100ns(usage.ru_stime);
    out.user = to100ns(usage.ru_utime);
    return true;
}

}  // namespace vl::platform
