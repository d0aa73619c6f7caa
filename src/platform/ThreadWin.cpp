#include "platform/Thread.h"

#include <windows.h>

namespace vl::platform {

namespace {

// The multimedia class scheduler's entries, taken from avrt.dll at run time: the module is
// missing on some systems, and it is used only when every entry is there.
struct Avrt {
    using SetCharacteristics = HANDLE(WINAPI*)(LPCWSTR, LPDWORD);
    using SetPriority = BOOL(WINAPI*)(HANDLE, int);
    SetCharacteristics setCharacteristics = nullptr;
    SetPriority setPriority = nullptr;

    Avrt() {
        HMODULE module = LoadLibraryW(L"avrt.dll");
        if (!module) return;
        setCharacteristics = reinterpret_cast<SetCharacteristics>(
            reinterpret_cast<void*>(GetProcAddress(module, "AvSetMmThreadCharacteristicsW")));
        setPriority =
            reinterpret_cast<SetPriority>(reinterpret_cast<void*>(GetProcAddress(module, "AvSetMmThreadPriority")));
        if (!setCharacteristics || !setPriority) {
            setCharacteristics = nullptr;
            setPriority = nullptr;
            FreeLibrary(module);
        }
        // Otherwise kept loaded for the process: registered threads depend on it.
    }
};

constexpr int kAvrtPriorityCritical = 2;  // AVRT_PRIORITY_CRITICAL

}  // namespace

bool raiseCurrentThreadToTimeCritical() {
    static const Avrt avrt;
    if (avrt.setCharacteristics) {
        DWORD taskIndex = 0;
        if (HANDLE task = avrt.setCharacteristics(L"Pro Audio", &taskIndex)) {
            avrt.setPriority(task, kAvrtPriorityCritical);
            return true;
        }
    }
    return SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL) != 0;
}

}  // namespace vl::platform
