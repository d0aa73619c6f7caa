#pragma once
// CPU times of the whole system and of this process, in 100 ns units, for the CPU meter.

#include <cstdint>

namespace vl::platform {

struct SystemTimes {
    uint64_t idle = 0;
    uint64_t kernel = 0;  // includes idle time, as on Windows
    uint64_t user = 0;
};

struct ProcessTimes {
    uint64_t kernel = 0;
    uint64_t user = 0;
};

// Both return false when the system cannot tell. Neither allocates.
bool readSystemTimes(SystemTimes& out);
bool readProcessTimes(ProcessTimes& out);

}  // namespace vl::platform
