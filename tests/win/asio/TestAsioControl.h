#pragma once
// The test ASIO driver's control block: what the driver answers (config) and what the host did
// (log). Tests load the driver module themselves, reach the block through the exported
// TestAsioGetControl() and reset it with TestAsioReset(); the host under test creates the driver
// through COM from the same module, so it sees the same block.
//
// Plain data only: the block is shared across the module boundary.

#include <atomic>
#include <cstdint>

#include "audio/asio/AsioAbi.h"

namespace testasio {

constexpr int kMaxChannels = 64;
constexpr int kMaxFrames = 2048;
constexpr int kMaxSampleBytes = 8;
constexpr int kMaxCalls = 4096;
constexpr int kMethodSlots = 24;

// Class ids the module serves (A, B) and one it is registered for but refuses (C).
// {5A1C7E2B-3D4F-4E61-9A8B-1C2D3E4F5A6n}
inline GUID classId(uint8_t n) {
    return GUID{0x5A1C7E2B, 0x3D4F, 0x4E61, {0x9A, 0x8B, 0x1C, 0x2D, 0x3E, 0x4F, 0x5A, uint8_t(0x60 + n)}};
}

enum Pacing : int32_t {
    Unpaced = 0,  // the driver thread switches as fast as the host returns
    Paced = 1,    // one switch per buffer duration
    Manual = 2,   // no driver thread: the test calls TestAsioSwitch
};

// Method slots of the driver table as recorded in the log; callbacks get their own numbers.
enum Method : int32_t {
    mQueryInterface = 0, mAddRef, mRelease, mInit, mGetDriverName, mGetDriverVersion, mGetErrorMessage, mStart,
    mStop, mGetChannels, mGetLatencies, mGetBufferSize, mCanSampleRate, mGetSampleRate, mSetSampleRate,
    mGetClockSources, mSetClockSource, mGetSamplePosition, mGetChannelInfo, mCreateBuffers, mDisposeBuffers,
    mControlPanel, mFuture, mOutputReady,
};

struct Config {
    int32_t inputs = 2;
    int32_t outputs = 2;
    int32_t inputTypes[kMaxChannels];   // per channel; 18 (Int32LSB) after reset
    int32_t outputTypes[kMaxChannels];
    int32_t minSize = 64, maxSize = 1024, preferredSize = 256, granularity = -1;
    double sampleRate = 44100.0;
    int32_t initAnswer = 1;
    int32_t startAnswer = vl::asio::ASE_OK;
    int32_t outputReadyAnswer = vl::asio::ASE_NotPresent;
    int32_t controlPanelAnswer = vl::asio::ASE_OK;
    int32_t createBuffersAnswer = vl::asio::ASE_OK;
    int32_t pacing = Unpaced;
    int32_t maxSwitches = 0;     // the driver thread stops calling back after this many (0: no limit)
    int32_t primeInStart = 0;    // one switch from inside start(), on the caller's thread
    int32_t fillOutputs = 1;     // output halves hold 0xA5 bytes before every switch
    // Output halves are handed out by createBuffers holding 0xA5 bytes, as drivers that do not
    // clear them do.
    int32_t dirtyNewBuffers = 1;
    char errorMessage[124] = "test driver refused";
    // Raw device bytes copied into every input half before each switch (frames x sample width).
    uint8_t inputSignal[kMaxChannels][kMaxFrames * kMaxSampleBytes];
};

struct Log {
    std::atomic<int32_t> counts[kMethodSlots];
    std::atomic<int32_t> callCount;
    int32_t calls[kMaxCalls];
    std::atomic<int32_t> objectsAlive;
    std::atomic<int32_t> objectsCreated;
    std::atomic<int32_t> buffersAlive;     // createBuffers without disposeBuffers
    std::atomic<int32_t> running;          // started and not stopped
    std::atomic<int64_t> switches;         // buffer switches made (thread, start or manual)
    std::atomic<int64_t> timeInfoSwitches; // of them through bufferSwitchTimeInfo
    std::atomic<int32_t> threadWaitFailed;
    // Host callbacks counted in and out, and what the host did while one was under way.
    std::atomic<int32_t> hostCallbacksIn;
    std::atomic<int32_t> hostCallbacksOut;
    std::atomic<int32_t> stoppedDuringCallback;
    std::atomic<int32_t> disposedDuringCallback;
    // Output halves that were not all zero when start() was called.
    std::atomic<int32_t> dirtyHalvesAtStart;
    int32_t createdAs = -1;                // class id number of the last object
    int32_t lastBufferSize = 0;
    int32_t lastBufferCount = 0;
    vl::asio::AsioBufferInfo requested[2 * kMaxChannels];  // what the host asked for
    int32_t supportsTimeInfoAnswer = -1;   // the host's answer to kAsioSupportsTimeInfo
    vl::asio::AsioCallbacks callbacks;     // as given to createBuffers
    void* sysHandle = nullptr;
    // Per output channel, after each switch: blocks seen, blocks with anything but zero bytes,
    // blocks the host left unwritten (still 0xA5), and the bytes of the last block.
    std::atomic<int32_t> outputBlocks[kMaxChannels];
    std::atomic<int32_t> nonZeroBlocks[kMaxChannels];
    std::atomic<int32_t> untouchedBlocks[kMaxChannels];
    uint8_t lastOutput[kMaxChannels][kMaxFrames * kMaxSampleBytes];
    // Per input channel: the bytes of its last half after the host's switch (the host may
    // have reversed them in place).
    uint8_t lastInput[kMaxChannels][kMaxFrames * kMaxSampleBytes];
};

struct Control {
    Config config;
    Log log;
};

using GetControlProc = Control* (*)();
using ResetProc = void (*)();
using SwitchProc = void (*)(int32_t index);  // one switch on the calling thread (Manual pacing)
// A notification to the host as a driver sends it (on its own thread while that runs):
// selector > 0 is an asioMessage with value, selector 0 is sampleRateDidChange(rate). Answers
// the host's answer (0 for sampleRateDidChange), or -1 when no callbacks are known.
using NotifyProc = int32_t (*)(int32_t selector, int32_t value, double rate);
// Bytes of disposed buffer halves written after their disposal (the halves are kept, filled
// with a pattern, until the next reset).
using DisposedWritesProc = int64_t (*)();

// Bytes per sample of an ASIO sample type (0 for types the driver does not serve).
inline int sampleWidth(int32_t type) {
    switch (type) {
        case 0: case 16: return 2;
        case 1: case 17: return 3;
        case 4: case 20: return 8;
        case 2: case 3: case 8: case 9: case 10: case 11:
        case 18: case 19: case 24: case 25: case 26: case 27: return 4;
        default: return 0;
    }
}

}  // namespace testasio
