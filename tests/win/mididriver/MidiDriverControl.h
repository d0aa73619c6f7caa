#pragma once
// The control block of the test MIDI driver (winevlmidi.drv). The driver is loaded into the
// process that uses MIDI, so a test reaches the block directly through the driver's exported
// VlMidiDriverControl(): it scripts what the inputs deliver and reads what the outputs got.
//
// The driver offers its ports only to a process whose environment has kEnableVariable set when
// the multimedia functions first look for MIDI devices; every other process sees none.
//
// Times are milliseconds of the performance counter (nowMs below), the clock the MIDI engine
// stamps messages with.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <new>

namespace vlmididrv {

constexpr int kInputs = 2;
constexpr int kOutputs = 2;
constexpr int kMaxScript = 4096;
constexpr int kMaxReceived = 4096;
constexpr wchar_t kEnableVariable[] = L"VORLANE_TEST_MIDI";

inline double nowMs() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

struct ScriptEntry {
    double atMs;       // when to deliver (nowMs clock); a time already past delivers at once
    uint32_t message;  // packed short message, status in bits 0-7
};

struct Input {
    // Set by the test.
    std::atomic<int32_t> failOpen{0};
    ScriptEntry script[kMaxScript];
    std::atomic<int32_t> scriptLength{0};  // entries are written first, then the length (release)
    // Reported by the driver.
    std::atomic<int32_t> delivered{0};  // script entries handed to the client so far
    std::atomic<int32_t> opens{0}, closes{0}, failedOpens{0};
    std::atomic<int32_t> isOpen{0};
    double deliveredAtMs[kMaxScript];  // when each entry was handed over (nowMs clock)
};

struct Output {
    // Set by the test: MODM_DATA blocks this long before it takes the message.
    std::atomic<int32_t> stallMs{0};
    // Reported by the driver.
    std::atomic<int32_t> opens{0}, closes{0}, refusedOpens{0};
    std::atomic<int32_t> isOpen{0};
    std::atomic<int32_t> sending{0};  // MODM_DATA calls inside the driver now
    std::atomic<int32_t> receivedCount{0};
    uint32_t received[kMaxReceived];
};

struct Control {
    Input inputs[kInputs];
    Output outputs[kOutputs];

    // Appends one message for input i, delivered at atMs.
    void post(int i, double atMs, uint32_t message) {
        Input& in = inputs[i];
        const int32_t n = in.scriptLength.load(std::memory_order_relaxed);
        if (n >= kMaxScript) return;
        in.script[n] = {atMs, message};
        in.scriptLength.store(n + 1, std::memory_order_release);
    }
    // Back to the initial state; only while no port is open.
    void reset() { new (this) Control(); }
    bool allDelivered(int i) const {
        return inputs[i].delivered.load(std::memory_order_acquire) ==
               inputs[i].scriptLength.load(std::memory_order_acquire);
    }
};

using ControlProc = Control* (*)();

}  // namespace vlmididrv
