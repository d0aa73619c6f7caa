// A test ASIO driver: an in-process COM server registered like a real driver. It serves class
// ids A and B (class id accepted as interface id, as ASIO hosts ask), refuses C, and behaves as
// the control block says; its own thread calls the host back per buffer half.
//
// A test in another process (the application driven from outside) reaches the driver through a
// command file named by VORLANE_TEST_ASIO_COMMANDS: while the driver runs, its thread takes the
// file, applies it and answers in "<file>.done". Without that variable nothing is watched.

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "TestAsioControl.h"

using namespace vl::asio;

namespace {

testasio::Control g;

// Disposed buffer halves, kept filled with kDisposedByte so that a late write shows.
constexpr uint8_t kDisposedByte = 0xDD;
struct DisposedHalf {
    uint8_t* bytes;
    size_t size;
};
std::vector<DisposedHalf>& disposedHalves() {
    static std::vector<DisposedHalf> halves;
    return halves;
}

void freeDisposedHalves() {
    for (const DisposedHalf& half : disposedHalves()) delete[] half.bytes;
    disposedHalves().clear();
}

void resetControl() {
    freeDisposedHalves();
    new (&g) testasio::Control();
    for (int c = 0; c < testasio::kMaxChannels; ++c) g.config.inputTypes[c] = g.config.outputTypes[c] = 18;
}

struct ResetAtLoad {
    ResetAtLoad() { resetControl(); }
} resetAtLoad;

void logCall(testasio::Method m) {
    g.log.counts[m].fetch_add(1);
    const int32_t n = g.log.callCount.fetch_add(1);
    if (n < testasio::kMaxCalls) g.log.calls[n] = m;
}

class TestDriver final : public IAsioDriver {
public:
    explicit TestDriver(int id) : id(id) {
        g.log.objectsAlive.fetch_add(1);
        g.log.objectsCreated.fetch_add(1);
        g.log.createdAs = id;
    }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        logCall(testasio::mQueryInterface);
        if (!out) return E_POINTER;
        if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, testasio::classId(uint8_t(id)))) {
            *out = this;
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(++refs); }
    ULONG STDMETHODCALLTYPE Release() override {
        logCall(testasio::mRelease);
        const long left = --refs;
        if (left == 0) {
            // A careless host may forget: a real driver cleans up too.
            if (bufferCount && hostInside()) g.log.disposedDuringCallback.fetch_add(1);
            stopThread();
            freeBuffers();
            if (manualTarget == this) manualTarget = nullptr;
            g.log.objectsAlive.fetch_sub(1);
            delete this;
        }
        return ULONG(left);
    }

    AsioBool STDMETHODCALLTYPE init(void* sysHandle) override {
        logCall(testasio::mInit);
        g.log.sysHandle = sysHandle;
        return g.config.initAnswer;
    }
    void STDMETHODCALLTYPE getDriverName(char* name) override {
        logCall(testasio::mGetDriverName);
        std::strcpy(name, id == 1 ? "Vorlane Test B" : "Vorlane Test A");
    }
    int32_t STDMETHODCALLTYPE getDriverVersion() override {
        logCall(testasio::mGetDriverVersion);
        return 7;
    }
    void STDMETHODCALLTYPE getErrorMessage(char* text) override {
        logCall(testasio::mGetErrorMessage);
        std::memcpy(text, g.config.errorMessage, sizeof g.config.errorMessage);
        text[sizeof g.config.errorMessage - 1] = 0;
    }
    AsioError STDMETHODCALLTYPE start() override {
        logCall(testasio::mStart);
        if (g.config.startAnswer != ASE_OK) return g.config.startAnswer;
        if (!callbacks) return ASE_InvalidMode;
        for (int k = 0; k < bufferCount; ++k) {
            if (buffers[k].isInput) continue;
            for (void* half : buffers[k].buffers) {
                const auto* bytes = static_cast<const uint8_t*>(half);
                for (size_t i = 0; i < size_t(bufferSize) * widths[k]; ++i)
                    if (bytes[i] != 0) {
                        g.log.dirtyHalvesAtStart.fetch_add(1);
                        break;
                    }
            }
        }
        if (g.config.primeInStart) doSwitch(0);
        g.log.running.store(1);
        if (g.config.pacing != testasio::Manual) {
            quit.store(false);
            thread = CreateThread(nullptr, 0, &TestDriver::threadMain, this, 0, nullptr);
            if (!thread) return ASE_HWMalfunction;
            SetThreadPriority(thread, THREAD_PRIORITY_TIME_CRITICAL);
        }
        return ASE_OK;
    }
    AsioError STDMETHODCALLTYPE stop() override {
        logCall(testasio::mStop);
        if (hostInside()) g.log.stoppedDuringCallback.fetch_add(1);
        stopThread();
        g.log.running.store(0);
        return ASE_OK;
    }
    AsioError STDMETHODCALLTYPE getChannels(int32_t* inputs, int32_t* outputs) override {
        logCall(testasio::mGetChannels);
        *inputs = g.config.inputs;
        *outputs = g.config.outputs;
        return ASE_OK;
    }
    AsioError STDMETHODCALLTYPE getLatencies(int32_t* input, int32_t* output) override {
        logCall(testasio::mGetLatencies);
        *input = *output = bufferSize;
        return ASE_OK;
    }
    AsioError STDMETHODCALLTYPE getBufferSize(int32_t* minSize, int32_t* maxSize, int32_t* preferred,
                                              int32_t* granularity) override {
        logCall(testasio::mGetBufferSize);
        *minSize = g.config.minSize;
        *maxSize = g.config.maxSize;
        *preferred = g.config.preferredSize;
        *granularity = g.config.granularity;
        return ASE_OK;
    }
    AsioError STDMETHODCALLTYPE canSampleRate(AsioSampleRate rate) override {
        logCall(testasio::mCanSampleRate);
        return rate == g.config.sampleRate ? ASE_OK : ASE_NoClock;
    }
    AsioError STDMETHODCALLTYPE getSampleRate(AsioSampleRate* rate) override {
        logCall(testasio::mGetSampleRate);
        *rate = g.config.sampleRate;
        return ASE_OK;
    }
    AsioError STDMETHODCALLTYPE setSampleRate(AsioSampleRate) override {
        logCall(testasio::mSetSampleRate);
        return ASE_InvalidMode;
    }
    AsioError STDMETHODCALLTYPE getClockSources(AsioClockSource*, int32_t* count) override {
        logCall(testasio::mGetClockSources);
        *count = 0;
        return ASE_OK;
    }
    AsioError STDMETHODCALLTYPE setClockSource(int32_t) override {
        logCall(testasio::mSetClockSource);
        return ASE_InvalidMode;
    }
    AsioError STDMETHODCALLTYPE getSamplePosition(AsioSamples* position, AsioTimeStamp* time) override {
        // Asked once per switch: counted, but kept out of the call sequence.
        g.log.counts[testasio::mGetSamplePosition].fetch_add(1);
        if (!g.log.running.load()) return ASE_SPNotAdvancing;
        *position = asioHalves(samplePosition);
        *time = asioHalves(uint64_t(GetTickCount64()) * 1000000u);
        return ASE_OK;
    }
    AsioError STDMETHODCALLTYPE getChannelInfo(AsioChannelInfo* info) override {
        logCall(testasio::mGetChannelInfo);
        const int32_t count = info->isInput ? g.config.inputs : g.config.outputs;
        if (info->channel < 0 || info->channel >= count || info->channel >= testasio::kMaxChannels)
            return ASE_InvalidParameter;
        info->isActive = kAsioFalse;
        for (int k = 0; k < bufferCount; ++k)
            if (buffers[k].isInput == info->isInput && buffers[k].channelNum == info->channel) info->isActive = kAsioTrue;
        info->channelGroup = 0;
        info->type = info->isInput ? g.config.inputTypes[info->channel] : g.config.outputTypes[info->channel];
        wsprintfA(info->name, "Test %s %d", info->isInput ? "In" : "Out", int(info->channel + 1));
        return ASE_OK;
    }
    AsioError STDMETHODCALLTYPE createBuffers(AsioBufferInfo* infos, int32_t count, int32_t size,
                                              AsioCallbacks* hostCallbacks) override {
        logCall(testasio::mCreateBuffers);
        g.log.lastBufferSize = size;
        g.log.lastBufferCount = count;
        if (g.config.createBuffersAnswer != ASE_OK) return g.config.createBuffersAnswer;
        if (bufferCount) return ASE_InvalidMode;
        if (count <= 0 || count > 2 * testasio::kMaxChannels || size < g.config.minSize || size > g.config.maxSize ||
            size > testasio::kMaxFrames || !hostCallbacks)
            return ASE_InvalidMode;
        for (int k = 0; k < count; ++k) {
            g.log.requested[k] = infos[k];
            const int32_t channels = infos[k].isInput ? g.config.inputs : g.config.outputs;
            if (infos[k].channelNum < 0 || infos[k].channelNum >= channels) return ASE_InvalidParameter;
        }
        for (int k = 0; k < count; ++k) {
            const int32_t type = infos[k].isInput ? g.config.inputTypes[infos[k].channelNum]
                                                  : g.config.outputTypes[infos[k].channelNum];
            widths[k] = testasio::sampleWidth(type) ? testasio::sampleWidth(type) : 4;
            for (int half = 0; half < 2; ++half) {
                auto* bytes = new (std::nothrow) uint8_t[size_t(size) * widths[k]]();
                if (!bytes) return ASE_NoMemory;  // test machine: does not happen
                if (!infos[k].isInput && g.config.dirtyNewBuffers) std::memset(bytes, 0xA5, size_t(size) * widths[k]);
                infos[k].buffers[half] = bytes;
            }
            buffers[k] = infos[k];
        }
        bufferCount = count;
        bufferSize = size;
        callbacks = hostCallbacks;
        g.log.callbacks = *hostCallbacks;
        g.log.buffersAlive.fetch_add(1);
        // As real drivers do: ask the host what it supports while the buffers are created.
        if (callbacks->asioMessage(kAsioSelectorSupported, kAsioSupportsTimeInfo, nullptr, nullptr) == 1)
            g.log.supportsTimeInfoAnswer = callbacks->asioMessage(kAsioSupportsTimeInfo, 0, nullptr, nullptr);
        else
            g.log.supportsTimeInfoAnswer = 0;
        return ASE_OK;
    }
    AsioError STDMETHODCALLTYPE disposeBuffers() override {
        logCall(testasio::mDisposeBuffers);
        if (!bufferCount) return ASE_InvalidMode;
        if (hostInside()) g.log.disposedDuringCallback.fetch_add(1);
        stopThread();
        freeBuffers();
        return ASE_OK;
    }
    AsioError STDMETHODCALLTYPE controlPanel() override {
        logCall(testasio::mControlPanel);
        return g.config.controlPanelAnswer;
    }
    AsioError STDMETHODCALLTYPE future(int32_t, void*) override {
        logCall(testasio::mFuture);
        return ASE_InvalidParameter;
    }
    AsioError STDMETHODCALLTYPE outputReady() override {
        // Once per switch when the host uses it: counted, kept out of the call sequence.
        g.log.counts[testasio::mOutputReady].fetch_add(1);
        return g.config.outputReadyAnswer;
    }

    // One buffer switch: fresh input, poisoned output, the host's callback, then a record of
    // what the host left in every output half.
    void doSwitch(int32_t index) {
        if (!bufferCount || !callbacks) return;
        for (int k = 0; k < bufferCount; ++k) {
            const size_t bytes = size_t(bufferSize) * widths[k];
            auto* half = static_cast<uint8_t*>(buffers[k].buffers[index]);
            if (buffers[k].isInput)
                std::memcpy(half, g.config.inputSignal[buffers[k].channelNum], bytes);
            else if (g.config.fillOutputs)
                std::memset(half, 0xA5, bytes);
        }
        g.log.hostCallbacksIn.fetch_add(1);
        if (g.log.supportsTimeInfoAnswer == 1) {
            AsioTime time{};
            time.timeInfo.samplePosition = asioHalves(samplePosition);
            time.timeInfo.sampleRate = g.config.sampleRate;
            time.timeInfo.flags = kSystemTimeValid | kSamplePositionValid | kSampleRateValid;
            callbacks->bufferSwitchTimeInfo(&time, index, kAsioTrue);
            g.log.timeInfoSwitches.fetch_add(1);
        } else {
            callbacks->bufferSwitch(index, kAsioTrue);
        }
        g.log.hostCallbacksOut.fetch_add(1);
        for (int k = 0; k < bufferCount; ++k) {
            const size_t bytes = size_t(bufferSize) * widths[k];
            const auto* half = static_cast<const uint8_t*>(buffers[k].buffers[index]);
            const int32_t c = buffers[k].channelNum;
            if (buffers[k].isInput) {
                std::memcpy(g.log.lastInput[c], half, bytes);
                continue;
            }
            bool zero = true, untouched = true;
            for (size_t i = 0; i < bytes; ++i) {
                zero = zero && half[i] == 0;
                untouched = untouched && half[i] == 0xA5;
            }
            std::memcpy(g.log.lastOutput[c], half, bytes);
            g.log.outputBlocks[c].fetch_add(1);
            if (!zero) g.log.nonZeroBlocks[c].fetch_add(1);
            if (untouched && g.config.fillOutputs) g.log.untouchedBlocks[c].fetch_add(1);
        }
        samplePosition += uint64_t(bufferSize);
        g.log.switches.fetch_add(1);
    }

    // A notification as the driver sends it: from its own thread while that runs (handed over
    // and waited for, bounded), else on the caller's.
    int32_t notify(int32_t selector, int32_t value, double rate) {
        if (!callbacks) return -1;
        if (!thread) return send(selector, value, rate);
        pendingSelector = selector;
        pendingValue = value;
        pendingRate = rate;
        notifyDone.store(false);
        notifyPending.store(true);
        for (int i = 0; i < 5000 && !notifyDone.load(); ++i) Sleep(1);
        return notifyDone.load() ? notifyAnswer.load() : -1;
    }

    static TestDriver* manualTarget;

private:
    static bool hostInside() { return g.log.hostCallbacksIn.load() != g.log.hostCallbacksOut.load(); }
    int32_t send(int32_t selector, int32_t value, double rate) {
        if (selector == 0) {
            callbacks->sampleRateDidChange(rate);
            return 0;
        }
        return callbacks->asioMessage(selector, value, nullptr, nullptr);
    }
    void sendPendingNotification() {
        if (!notifyPending.exchange(false)) return;
        notifyAnswer.store(send(pendingSelector, pendingValue, pendingRate));
        notifyDone.store(true);
    }

    // One command file, lines "preferredSize N", "startAnswer N" (the config for what follows)
    // and "notify SELECTOR VALUE RATE" (sent from this thread). The answer file lists the host's
    // answer to each notification; it is written under another name and renamed, so that the
    // reader never sees half of it.
    void takeCommandFile(const std::wstring& path) {
        FILE* in = _wfopen(path.c_str(), L"rb");
        if (!in) return;
        std::string text;
        char chunk[256];
        for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, in)) > 0;) text.append(chunk, n);
        std::fclose(in);
        DeleteFileW(path.c_str());
        std::string answers;
        for (size_t at = 0; at < text.size();) {
            size_t end = text.find('\n', at);
            if (end == std::string::npos) end = text.size();
            const std::string line = text.substr(at, end - at);
            at = end + 1;
            char word[32] = {};
            int a = 0, b = 0;
            double rate = 0.0;
            if (std::sscanf(line.c_str(), "%31s", word) != 1) continue;
            if (!std::strcmp(word, "preferredSize") && std::sscanf(line.c_str(), "%*s %d", &a) == 1) {
                g.config.preferredSize = a;
            } else if (!std::strcmp(word, "startAnswer") && std::sscanf(line.c_str(), "%*s %d", &a) == 1) {
                g.config.startAnswer = a;
            } else if (!std::strcmp(word, "notify") && std::sscanf(line.c_str(), "%*s %d %d %lf", &a, &b, &rate) == 3) {
                answers += "answer " + std::to_string(callbacks ? send(a, b, rate) : -1) + "\n";
            } else {
                answers += "unknown " + line + "\n";
            }
        }
        const std::wstring done = path + L".done", partial = path + L".partial";
        if (FILE* out = _wfopen(partial.c_str(), L"wb")) {
            std::fwrite(answers.data(), 1, answers.size(), out);
            std::fclose(out);
            MoveFileExW(partial.c_str(), done.c_str(), MOVEFILE_REPLACE_EXISTING);
        }
    }

    static DWORD WINAPI threadMain(void* self) {
        static_cast<TestDriver*>(self)->run();
        return 0;
    }
    void run() {
        int32_t index = 0;
        LARGE_INTEGER frequency, next, now;
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&next);
        const LONGLONG period = LONGLONG(double(frequency.QuadPart) * bufferSize / g.config.sampleRate);
        int64_t made = 0;
        wchar_t commands[MAX_PATH] = {};
        const DWORD named = GetEnvironmentVariableW(L"VORLANE_TEST_ASIO_COMMANDS", commands, MAX_PATH);
        const bool watched = named > 0 && named < MAX_PATH;
        ULONGLONG nextLook = 0;
        while (!quit.load()) {
            sendPendingNotification();
            if (watched && GetTickCount64() >= nextLook) {
                nextLook = GetTickCount64() + 20;
                if (GetFileAttributesW(commands) != INVALID_FILE_ATTRIBUTES) takeCommandFile(commands);
            }
            if (g.config.maxSwitches && made >= g.config.maxSwitches) {
                Sleep(1);
                continue;
            }
            doSwitch(index);
            index ^= 1;
            ++made;
            if (g.config.pacing == testasio::Paced) {
                next.QuadPart += period;
                for (;;) {
                    QueryPerformanceCounter(&now);
                    if (now.QuadPart >= next.QuadPart || quit.load()) break;
                    const LONGLONG ms = (next.QuadPart - now.QuadPart) * 1000 / frequency.QuadPart;
                    Sleep(ms > 1 ? DWORD(ms - 1) : 0);
                }
            }
        }
    }
    void stopThread() {
        if (!thread) return;
        quit.store(true);
        if (WaitForSingleObject(thread, 10000) != WAIT_OBJECT_0) g.log.threadWaitFailed.fetch_add(1);
        CloseHandle(thread);
        thread = nullptr;
    }
    void freeBuffers() {
        if (!bufferCount) return;
        for (int k = 0; k < bufferCount; ++k)
            for (void* half : buffers[k].buffers) {
                const size_t size = size_t(bufferSize) * widths[k];
                std::memset(half, kDisposedByte, size);
                disposedHalves().push_back({static_cast<uint8_t*>(half), size});
            }
        bufferCount = 0;
        callbacks = nullptr;
        g.log.buffersAlive.fetch_sub(1);
    }

    int id;
    std::atomic<long> refs{1};
    AsioBufferInfo buffers[2 * testasio::kMaxChannels]{};
    int widths[2 * testasio::kMaxChannels]{};
    int32_t bufferCount = 0;
    int32_t bufferSize = 0;
    AsioCallbacks* callbacks = nullptr;
    uint64_t samplePosition = 0;
    HANDLE thread = nullptr;
    std::atomic<bool> quit{false};
    std::atomic<bool> notifyPending{false};
    std::atomic<bool> notifyDone{false};
    std::atomic<int32_t> notifyAnswer{0};
    int32_t pendingSelector = 0, pendingValue = 0;
    double pendingRate = 0.0;
};

TestDriver* TestDriver::manualTarget = nullptr;

class Factory : public IClassFactory {
public:
    explicit Factory(int id) : id(id) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IClassFactory)) {
            *out = this;
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        auto* driver = new (std::nothrow) TestDriver(id);
        if (!driver) return E_OUTOFMEMORY;
        const HRESULT hr = driver->QueryInterface(riid, out);
        driver->Release();
        if (SUCCEEDED(hr)) TestDriver::manualTarget = driver;
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    int id;
};

Factory factoryA(0), factoryB(1);

}  // namespace

extern "C" {

__declspec(dllexport) HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    Factory* factory = IsEqualGUID(clsid, testasio::classId(0))   ? &factoryA
                       : IsEqualGUID(clsid, testasio::classId(1)) ? &factoryB
                                                                  : nullptr;
    if (!factory) return CLASS_E_CLASSNOTAVAILABLE;
    return factory->QueryInterface(riid, out);
}

__declspec(dllexport) HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return g.log.objectsAlive.load() == 0 ? S_OK : S_FALSE;
}

__declspec(dllexport) testasio::Control* TestAsioGetControl() { return &g; }
__declspec(dllexport) void TestAsioReset() { resetControl(); }
// One switch of the last created driver on the calling thread (Manual pacing, buffers created).
__declspec(dllexport) void TestAsioSwitch(int32_t index) {
    if (TestDriver::manualTarget && g.log.objectsAlive.load() > 0) TestDriver::manualTarget->doSwitch(index);
}

__declspec(dllexport) int32_t TestAsioNotify(int32_t selector, int32_t value, double rate) {
    if (!TestDriver::manualTarget || g.log.objectsAlive.load() == 0) return -1;
    return TestDriver::manualTarget->notify(selector, value, rate);
}

__declspec(dllexport) int64_t TestAsioDisposedWrites() {
    int64_t written = 0;
    for (const DisposedHalf& half : disposedHalves())
        for (size_t i = 0; i < half.size; ++i) written += half.bytes[i] != kDisposedByte;
    return written;
}

}  // extern "C"
