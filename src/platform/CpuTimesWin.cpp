#include "platform/CpuTimes.h"

#include <windows.h>

namespace vl::platform {

namespace {
uint64_t toUint(const FILETIME& t) {
    return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}
}  // namespace

bool readSystemTimes(SystemTimes& out) {
    FILETIME idle, kernel, user;
    if (!GetSystemTimes(&idle, &kernel, &user)) return false;
    out.idle = toUint(idle);
    out.kernel = toUint(kernel);
    out.user = toUint(user);
    return true;
}

bool readProcessTimes(ProcessTimes& out) {
    FILETIME creation, exit, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &creation, &exit, &kernel, &user)) return false;
    out.kernel = toUint(kernel);
    out.user = toUint(user);
    return true;
}

}  // namespace vl::platform
