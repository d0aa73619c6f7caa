#include "platform/Thread.h"

#include <pthread.h>
#include <sched.h>

namespace vl::platform {

bool raiseCurrentThreadToTimeCritical() {
    sched_param param{};
    param.sched_priority = sched_get_priority_max(SCHED_FIFO);
    // Usually refused without privileges; the thread then runs at normal priority.
    return pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
}

}  // namespace vl::platform
