#pragma once
// The start-up trace: a few named stamps of the application's start, in milliseconds since the
// process was created, written to a file when the user asks for it (the environment variable
// below names the file). Off by default: then nothing is recorded and the audio thread's mark
// costs one relaxed load per block.
//
// The stamps are taken on the user-interface thread, except the first processed block, which
// the audio thread marks without allocating, locking or waiting: one atomic exchange of a flag
// and a stored counter value, written out later by the user-interface thread.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>

namespace vl::platform {

// Environment variable naming the trace file; unset or empty leaves the trace off.
constexpr char kStartupTraceVariable[] = "VORLANE_STARTUP_TRACE";
// Name of the stamp the audio thread sets.
constexpr char kFirstBlockStamp[] = "first-block";

class StartupTrace {
public:
    // Where the times come from: a monotonic counter, its tick rate, and how old the process
    // was when the trace began (the counter is read at that moment too).
    struct Clock {
        int64_t (*counter)() = nullptr;
        int64_t frequency = 0;
    };
    static constexpr int kMaxStamps = 24;

    StartupTrace() = default;
    StartupTrace(const StartupTrace&) = delete;
    StartupTrace& operator=(const StartupTrace&) = delete;

    // Starts recording into file; processAgeMs is the process's age at this call. Once only:
    // a second call (or one with an empty file name or a clock without a counter) does nothing.
    void begin(std::filesystem::path file, Clock clock, double processAgeMs);
    bool active() const { return active_; }

    // User-interface thread. The first stamp of a name counts; later ones of the same name and
    // those beyond kMaxStamps are dropped. name must outlive the trace (a literal).
    void stamp(const char* name);
    // Any thread, real-time safe: marks the first processed block (once). Inline: every later
    // block, and every block of a trace that is off, costs one relaxed load.
    void markFirstBlock() noexcept {
        if (firstBlockArmed_.load(std::memory_order_relaxed)) markFirstBlockOnce();
    }
    // The first block was marked and is not yet part of what was written.
    bool firstBlockUnwritten() const;

    // The file's content: one "<name> <ms>" line per stamp in the order taken, the first
    // block last among those seen so far.
    std::string text() const;
    // Replaces the file with text(); false when it cannot be written or the trace is off.
    bool write();

private:
    void markFirstBlockOnce() noexcept;
    double msOf(int64_t counter) const;

    struct Stamp {
        const char* name;
        int64_t counter;
    };
    bool active_ = false;
    std::filesystem::path file_;
    Clock clock_{};
    int64_t startCounter_ = 0;
    double startAgeMs_ = 0.0;
    Stamp stamps_[kMaxStamps]{};
    int count_ = 0;
    bool firstBlockWritten_ = false;
    // Set (release) once the clock is in place; the audio thread exchanges it (acquire) once.
    std::atomic<bool> firstBlockArmed_{false};
    // 0 until the first block is marked (the counter is never 0 once the system is up).
    std::atomic<int64_t> firstBlockCounter_{0};
};

// The process's trace (off until beginStartupTraceFromEnvironment finds the variable). An
// object at namespace scope, not a function-local static: the audio thread's first call must
// not meet an initialisation guard.
extern StartupTrace processStartupTrace;
inline StartupTrace& startupTrace() { return processStartupTrace; }

// Marks the first processed block in the process's trace; real-time safe, nearly free when off.
inline void markFirstBlock() noexcept { startupTrace().markFirstBlock(); }

// Reads the environment variable and, when it names a file, begins the process's trace with
// the high-resolution counter and the process's age from the system. Answers whether it is on.
bool beginStartupTraceFromEnvironment();

// Milliseconds since the calling process was created (from the system's record of its start),
// or a negative value when the system cannot tell.
double processAgeMs();

}  // namespace vl::platform
