#include "midi/SendGate.h"

#include "platform/Clock.h"

namespace vl {

bool SendGate::drain(uint32_t timeoutMs) noexcept {
    const uint32_t start = platform::tickCountMs();
    // A send is one short platform call, so the first look nearly always succeeds.
    while (inFlight_.load(std::memory_order_seq_cst) != 0) {
        if (platform::tickCountMs() - start >= timeoutMs) return false;
        platform::sleepMs(1);
    }
    return true;
}

}  // namespace vl
