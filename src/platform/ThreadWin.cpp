#include "platform/Thread.h"

#include <windows.h>

namespace vl::platform {

bool raiseCurrentThreadToTimeCritical() {
    return SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL) != 0;
}

}  // namespace vl::platform
