#include "platform/StartupTrace.h"

#include <cstdio>
#include <cstring>

#include "platform/FileIO.h"

namespace vl::platform {

void StartupTrace::begin(std::filesystem::path file, Clock clock, double processAgeMs) {
    if (active_ || file.empty() || !clock.counter || clock.frequency <= 0) return;
    file_ = std::move(file);
    clock_ = clock;
    startCounter_ = clock_.counter();
    startAgeMs_ = processAgeMs > 0.0 ? processAgeMs : 0.0;
    active_ = true;
    firstBlockArmed_.store(true, std::memory_order_release);
}

void StartupTrace::stamp(const char* name) {
    if (!active_ || !name || count_ >= kMaxStamps) return;
    for (int i = 0; i < count_; ++i) {
        if (std::strcmp(stamps_[i].name, name) == 0) return;
    }
    stamps_[count_++] = Stamp{name, clock_.counter()};
}

void StartupTrace::markFirstBlockOnce() noexcept {
    // Two threads may both have seen the flag set: the exchange lets one of them through.
    if (!firstBlockArmed_.exchange(false, std::memory_order_acquire)) return;
    firstBlockCounter_.store(clock_.counter(), std::memory_order_release);
}

bool StartupTrace::firstBlockUnwritten() const {
    return active_ && !firstBlockWritten_ && firstBlockCounter_.load(std::memory_order_acquire) != 0;
}

double StartupTrace::msOf(int64_t counter) const {
    return startAgeMs_ + static_cast<double>(counter - startCounter_) * 1000.0 / static_cast<double>(clock_.frequency);
}

std::string StartupTrace::text() const {
    std::string out = "# start-up trace: milliseconds since the process was created\n";
    char line[96];
    auto add = [&](const char* name, int64_t counter) {
        std::snprintf(line, sizeof line, "%s %.2f\n", name, msOf(counter));
        out += line;
    };
    for (int i = 0; i < count_; ++i) add(stamps_[i].name, stamps_[i].counter);
    const int64_t firstBlock = firstBlockCounter_.load(std::memory_order_acquire);
    if (firstBlock != 0) add(kFirstBlockStamp, firstBlock);
    return out;
}

bool StartupTrace::write() {
    if (!active_) return false;
    const bool withFirstBlock = firstBlockCounter_.load(std::memory_order_acquire) != 0;
    const std::string content = text();
    if (!writeFileAtomically(file_, content.data(), content.size())) return false;
    firstBlockWritten_ = withFirstBlock;
    return true;
}

StartupTrace processStartupTrace;

}  // namespace vl::platform
