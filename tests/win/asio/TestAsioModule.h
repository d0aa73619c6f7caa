#pragma once
// Test access to the test ASIO driver module: loaded by the test itself (so its control block
// lives as long as the test), reset, and reachable; the host under test creates the driver
// through COM from the same module.

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "TestAsioControl.h"
#include "platform/Clock.h"
#include "support/ProbeModule.h"

namespace vltest {

class TestAsioModule {
public:
    TestAsioModule() {
        const std::wstring path = (binaryDir() / "vl_test_asio.dll").wstring();
        module = LoadLibraryW(path.c_str());
        if (!module) {
            ADD_FAILURE() << "cannot load the test ASIO driver";
            return;
        }
        auto get = reinterpret_cast<testasio::GetControlProc>(symbol("TestAsioGetControl"));
        auto reset = reinterpret_cast<testasio::ResetProc>(symbol("TestAsioReset"));
        doSwitch = reinterpret_cast<testasio::SwitchProc>(symbol("TestAsioSwitch"));
        doNotify = reinterpret_cast<testasio::NotifyProc>(symbol("TestAsioNotify"));
        disposedWrites = reinterpret_cast<testasio::DisposedWritesProc>(symbol("TestAsioDisposedWrites"));
        if (!get || !reset || !doSwitch || !doNotify || !disposedWrites) {
            ADD_FAILURE() << "test ASIO driver exports missing";
            return;
        }
        reset();
        control = get();
    }
    ~TestAsioModule() {
        if (module) FreeLibrary(module);
    }
    TestAsioModule(const TestAsioModule&) = delete;
    TestAsioModule& operator=(const TestAsioModule&) = delete;

    testasio::Config& config() { return control->config; }
    testasio::Log& log() { return control->log; }
    int32_t count(testasio::Method m) const { return control->log.counts[m].load(); }
    // One buffer switch on this thread (Manual pacing).
    void switchHalf(int32_t index) { doSwitch(index); }
    // The driver sends an asioMessage (selector > 0) or sampleRateDidChange (selector 0).
    int32_t notify(int32_t selector, int32_t value = 0, double rate = 0.0) { return doNotify(selector, value, rate); }
    // Bytes written into disposed buffers after their disposal.
    int64_t writesAfterDispose() const { return disposedWrites(); }
    // A host callback is under way right now.
    bool hostInside() const { return control->log.hostCallbacksIn.load() != control->log.hostCallbacksOut.load(); }
    // Waits (bounded) until the driver thread has made at least n switches in all.
    bool waitForSwitches(int64_t n, uint32_t timeoutMs = 5000) const {
        const uint32_t start = vl::platform::tickCountMs();
        while (control->log.switches.load() < n) {
            if (vl::platform::tickCountMs() - start > timeoutMs) return false;
            vl::platform::sleepMs(1);
        }
        return true;
    }
    bool ok() const { return control != nullptr; }

private:
    void* symbol(const char* name) const { return reinterpret_cast<void*>(GetProcAddress(module, name)); }

    HMODULE module = nullptr;
    testasio::Control* control = nullptr;
    testasio::SwitchProc doSwitch = nullptr;
    testasio::NotifyProc doNotify = nullptr;
    testasio::DisposedWritesProc disposedWrites = nullptr;
};

}  // namespace vltest
