#include "platform/Clock.h"

#include <windows.h>

namespace vl::platform {

int64_t counterNow() {
    LARGE_INTEGER value;
    QueryPerformanceCounter(&value);
    return value.QuadPart;
}

int64_t counterFrequency() {
    LARGE_INTEGER value;
    QueryPerformanceFrequency(&value);
    return value.QuadPart;
}

uint32_t tickCountMs() { return GetTickCount(); }

void sleepMs(uint32_t ms) { Sleep(ms); }

}  // namespace vl::platform
