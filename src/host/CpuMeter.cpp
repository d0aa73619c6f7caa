#include "host/CpuMeter.h"

#include "platform/Clock.h"

namespace vl {

int16_t CpuMeter::measure() {
    if (reentry.fetch_add(1, std::memory_order_acq_rel) + 1 == 1) {
        const uint32_t now = sources.tickMs ? sources.tickMs() : platform::tickCountMs();
        platform::SystemTimes system;
        platform::ProcessTimes process;
        if (now - lastTick > 250 && sources.systemTimes(system) && sources.processTimes(process)) {
            if (lastTick != 0) {
                const uint64_t systemDelta =
                    (system.kernel + system.user) - (previousSystemKernel + previousSystemUser);
                const uint64_t processDelta =
                    (process.kernel + process.user) - (previousProcessKernel + previousProcessUser);
                if (systemDelta != 0) {
                    lastUsage.store(static_cast<int16_t>(static_cast<double>(processDelta) * 100.0 /
                                                         static_cast<double>(systemDelta)),
                                    std::memory_order_relaxed);
                }
            }
            previousSystemKernel = system.kernel;
            previousSystemUser = system.user;
            previousProcessKernel = process.kernel;
            previousProcessUser = process.user;
            lastTick = now;
        }
    }
    reentry.fetch_sub(1, std::memory_order_acq_rel);
    return lastUsage.load(std::memory_order_relaxed);
}

}  // namespace vl
