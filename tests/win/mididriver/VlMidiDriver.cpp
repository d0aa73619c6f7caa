// winevlmidi.drv: a MIDI driver for the Windows tests under Wine, which has no MIDI devices of
// its own here. Wine's multimedia functions take their low-level MIDI driver from the module
// that the audio device layer chose as its audio driver, so this module is that audio driver:
// the five audio entry points are handed on to Wine's ALSA driver (sound keeps working), and
// midMessage / modMessage serve two scripted inputs and two recording outputs. The test drives
// them through the control block of MidiDriverControl.h.
//
// Inputs report MIM_OPEN and MIM_CLOSE on the caller's thread, as Wine's own drivers do, and
// MIM_DATA (packed message, ms since MIDM_START) from one delivery thread per started input.
// The notices of all inputs reach the client one at a time, as from a single callback thread.
// Output ports are exclusive, like real ones: a second open of an open port is refused.

#include <windows.h>
#include <mmsystem.h>
#include <mmddk.h>

#include <cwchar>

#include "MidiDriverControl.h"

extern "C" BOOL WINAPI DriverCallback(DWORD_PTR callback, DWORD flags, HDRVR device, DWORD message, DWORD_PTR user,
                                      DWORD_PTR param1, DWORD_PTR param2);

using namespace vlmididrv;

namespace {

constexpr DWORD kThreadStopTimeoutMs = 5000;
constexpr DWORD kMaxStallMs = 60000;

Control control;

struct DeliveryLock {
    DeliveryLock() { InitializeCriticalSection(&section); }
    CRITICAL_SECTION section;
} deliveryLock;

bool portsOffered() { return GetEnvironmentVariableW(kEnableVariable, nullptr, 0) > 0; }

void notifyClient(const MIDIOPENDESC& desc, DWORD callbackType, DWORD message, DWORD_PTR param1 = 0,
                  DWORD_PTR param2 = 0) {
    DriverCallback(desc.dwCallback, callbackType, reinterpret_cast<HDRVR>(desc.hMidi), message, desc.dwInstance, param1,
                   param2);
}

// --- The ALSA driver behind the audio entry points -----------------------------------------

HMODULE alsaDriver() {
    static HMODULE module = LoadLibraryW(L"winealsa.drv");
    return module;
}

template <class Proc>
Proc alsaEntry(const char* name) {
    HMODULE module = alsaDriver();
    return module ? reinterpret_cast<Proc>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

// --- Inputs ------------------------------------------------------------------------------

struct InputPort {
    int index = 0;
    MIDIOPENDESC desc{};
    DWORD callbackType = 0;  // DCB_* from the open flags
    double startMs = 0.0;
    std::atomic<bool> running{false};
    HANDLE thread = nullptr;

    void notify(DWORD message, DWORD_PTR param1 = 0, DWORD_PTR param2 = 0) {
        EnterCriticalSection(&deliveryLock.section);
        notifyClient(desc, callbackType, message, param1, param2);
        LeaveCriticalSection(&deliveryLock.section);
    }
};
InputPort inputPorts[kInputs];

DWORD WINAPI deliveryThread(void* value) {
    InputPort& port = *static_cast<InputPort*>(value);
    Input& in = control.inputs[port.index];
    while (port.running.load(std::memory_order_acquire)) {
        const int32_t next = in.delivered.load(std::memory_order_relaxed);
        if (next >= in.scriptLength.load(std::memory_order_acquire)) {
            Sleep(1);
            continue;
        }
        const ScriptEntry entry = in.script[next];
        // Sleep while far off, then spin: a MIDI clock needs its ticks to the tenth of a millisecond.
        while (port.running.load(std::memory_order_acquire) && entry.atMs - nowMs() > 3.0) Sleep(1);
        double now = nowMs();
        while (port.running.load(std::memory_order_acquire) && now < entry.atMs) now = nowMs();
        if (!port.running.load(std::memory_order_acquire)) break;
        in.deliveredAtMs[next] = now;
        port.notify(MIM_DATA, entry.message, static_cast<DWORD_PTR>(now - port.startMs));
        in.delivered.store(next + 1, std::memory_order_release);
    }
    return 0;
}

void stopDelivery(InputPort& port) {
    port.running.store(false, std::memory_order_release);
    if (!port.thread) return;
    WaitForSingleObject(port.thread, kThreadStopTimeoutMs);
    CloseHandle(port.thread);
    port.thread = nullptr;
}

DWORD inputCaps(int index, MIDIINCAPSW* caps, DWORD_PTR size) {
    if (!caps) return MMSYSERR_INVALPARAM;
    MIDIINCAPSW full{};
    full.wMid = 0xFF;
    full.wPid = static_cast<WORD>(index + 1);
    full.vDriverVersion = 0x0100;
    _snwprintf(full.szPname, MAXPNAMELEN - 1, L"Vorlane Test In %d", index + 1);
    CopyMemory(caps, &full, size < sizeof full ? size : sizeof full);
    return MMSYSERR_NOERROR;
}

DWORD openInput(InputPort& port, const MIDIOPENDESC* desc, DWORD_PTR flags) {
    Input& in = control.inputs[port.index];
    if (!desc) return MMSYSERR_INVALPARAM;
    if (in.failOpen.load() || in.isOpen.load()) {
        in.failedOpens.fetch_add(1);
        return MMSYSERR_ALLOCATED;
    }
    port.desc = *desc;
    port.callbackType = HIWORD(flags & CALLBACK_TYPEMASK);
    in.isOpen.store(1);
    in.opens.fetch_add(1);
    port.notify(MIM_OPEN);
    return MMSYSERR_NOERROR;
}

DWORD startInput(InputPort& port) {
    if (port.thread) return MMSYSERR_NOERROR;
    port.startMs = nowMs();
    port.running.store(true, std::memory_order_release);
    port.thread = CreateThread(nullptr, 0, &deliveryThread, &port, 0, nullptr);
    if (!port.thread) return MMSYSERR_NOMEM;
    return MMSYSERR_NOERROR;
}

DWORD closeInput(InputPort& port) {
    Input& in = control.inputs[port.index];
    stopDelivery(port);
    if (!in.isOpen.load()) return MMSYSERR_INVALHANDLE;
    in.isOpen.store(0);
    in.closes.fetch_add(1);
    port.notify(MIM_CLOSE);
    return MMSYSERR_NOERROR;
}

// --- Outputs -----------------------------------------------------------------------------

struct OutputPort {
    MIDIOPENDESC desc{};
    DWORD callbackType = 0;
};
OutputPort outputPorts[kOutputs];

DWORD outputCaps(int index, MIDIOUTCAPSW* caps, DWORD_PTR size) {
    if (!caps) return MMSYSERR_INVALPARAM;
    MIDIOUTCAPSW full{};
    full.wMid = 0xFF;
    full.wPid = static_cast<WORD>(0x10 + index);
    full.vDriverVersion = 0x0100;
    _snwprintf(full.szPname, MAXPNAMELEN - 1, L"Vorlane Test Out %d", index + 1);
    full.wTechnology = MOD_MIDIPORT;
    full.wChannelMask = 0xFFFF;
    CopyMemory(caps, &full, size < sizeof full ? size : sizeof full);
    return MMSYSERR_NOERROR;
}

DWORD receive(Output& out, uint32_t message) {
    out.sending.fetch_add(1);
    const int32_t stall = out.stallMs.load();
    if (stall > 0) Sleep(static_cast<DWORD>(stall) < kMaxStallMs ? static_cast<DWORD>(stall) : kMaxStallMs);
    const int32_t n = out.receivedCount.load(std::memory_order_relaxed);
    if (n < kMaxReceived) {
        out.received[n] = message;
        out.receivedCount.store(n + 1, std::memory_order_release);
    }
    out.sending.fetch_sub(1);
    return MMSYSERR_NOERROR;
}

DWORD markPrepared(DWORD_PTR header, bool prepared) {
    auto* h = reinterpret_cast<MIDIHDR*>(header);
    if (!h) return MMSYSERR_INVALPARAM;
    // Wine's multimedia functions leave this to the driver.
    if (prepared)
        h->dwFlags |= MHDR_PREPARED;
    else
        h->dwFlags &= ~MHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

// What inputs and outputs answer alike: driver set-up, the port count and a wrong port number.
// False leaves the message to the port.
bool commonMessage(UINT device, UINT message, UINT countMessage, int ports, DWORD& answer) {
    if (message == DRVM_INIT || message == DRVM_EXIT || message == DRVM_ENABLE || message == DRVM_DISABLE)
        answer = MMSYSERR_NOERROR;
    else if (message == countMessage)
        answer = portsOffered() ? static_cast<DWORD>(ports) : 0;
    else if (device >= static_cast<UINT>(ports))
        answer = MMSYSERR_BADDEVICEID;
    else
        return false;
    return true;
}

}  // namespace

extern "C" {

__declspec(dllexport) Control* VlMidiDriverControl() { return &control; }

__declspec(dllexport) LRESULT WINAPI DriverProc(DWORD_PTR id, HDRVR driver, UINT message, LPARAM param1,
                                                LPARAM param2) {
    switch (message) {
        case DRV_LOAD:
        case DRV_FREE:
        case DRV_OPEN:
        case DRV_CLOSE:
        case DRV_ENABLE:
        case DRV_DISABLE:
            return 1;
        case DRV_QUERYCONFIGURE:
            return 0;
        case DRV_INSTALL:
        case DRV_REMOVE:
            return DRVCNF_RESTART;
        default:
            return DefDriverProc(id, driver, message, param1, param2);
    }
}

__declspec(dllexport) DWORD WINAPI midMessage(UINT device, UINT message, DWORD_PTR, DWORD_PTR param1,
                                              DWORD_PTR param2) {
    DWORD answer = 0;
    if (commonMessage(device, message, MIDM_GETNUMDEVS, kInputs, answer)) return answer;
    InputPort& port = inputPorts[device];
    port.index = static_cast<int>(device);
    switch (message) {
        case MIDM_GETDEVCAPS: return inputCaps(port.index, reinterpret_cast<MIDIINCAPSW*>(param1), param2);
        case MIDM_OPEN: return openInput(port, reinterpret_cast<const MIDIOPENDESC*>(param1), param2);
        case MIDM_CLOSE: return closeInput(port);
        case MIDM_START: return startInput(port);
        case MIDM_STOP:
        case MIDM_RESET: stopDelivery(port); return MMSYSERR_NOERROR;
        case MIDM_PREPARE: return markPrepared(param1, true);
        case MIDM_UNPREPARE: return markPrepared(param1, false);
        default: return MMSYSERR_NOTSUPPORTED;
    }
}

__declspec(dllexport) DWORD WINAPI modMessage(UINT device, UINT message, DWORD_PTR, DWORD_PTR param1,
                                              DWORD_PTR param2) {
    DWORD answer = 0;
    if (commonMessage(device, message, MODM_GETNUMDEVS, kOutputs, answer)) return answer;
    Output& out = control.outputs[device];
    OutputPort& port = outputPorts[device];
    switch (message) {
        case MODM_GETDEVCAPS: return outputCaps(static_cast<int>(device), reinterpret_cast<MIDIOUTCAPSW*>(param1), param2);
        case MODM_OPEN: {
            const auto* desc = reinterpret_cast<const MIDIOPENDESC*>(param1);
            if (!desc) return MMSYSERR_INVALPARAM;
            if (out.isOpen.exchange(1)) {
                out.refusedOpens.fetch_add(1);
                return MMSYSERR_ALLOCATED;
            }
            port.desc = *desc;
            port.callbackType = HIWORD(param2 & CALLBACK_TYPEMASK);
            out.opens.fetch_add(1);
            notifyClient(port.desc, port.callbackType, MOM_OPEN);
            return MMSYSERR_NOERROR;
        }
        case MODM_CLOSE:
            if (!out.isOpen.exchange(0)) return MMSYSERR_INVALHANDLE;
            out.closes.fetch_add(1);
            notifyClient(port.desc, port.callbackType, MOM_CLOSE);
            return MMSYSERR_NOERROR;
        case MODM_DATA: return receive(out, static_cast<uint32_t>(param1));
        case MODM_PREPARE: return markPrepared(param1, true);
        case MODM_UNPREPARE: return markPrepared(param1, false);
        case MODM_RESET: return MMSYSERR_NOERROR;
        default: return MMSYSERR_NOTSUPPORTED;
    }
}

// The audio device layer's entry points, handed on to the ALSA driver. The signatures are the
// driver interface's; every argument is passed on unchanged.
__declspec(dllexport) int WINAPI GetPriority() {
    auto proc = alsaEntry<int(WINAPI*)()>("GetPriority");
    return proc ? proc() : 0;  // 0: unavailable, the layer then takes another driver
}

__declspec(dllexport) HRESULT WINAPI GetEndpointIDs(int flow, void* ids, void* guids, UINT* count, UINT* defaultIndex) {
    auto proc = alsaEntry<HRESULT(WINAPI*)(int, void*, void*, UINT*, UINT*)>("GetEndpointIDs");
    return proc ? proc(flow, ids, guids, count, defaultIndex) : E_NOTIMPL;
}

__declspec(dllexport) HRESULT WINAPI GetAudioEndpoint(void* key, void* device, void** client) {
    auto proc = alsaEntry<HRESULT(WINAPI*)(void*, void*, void**)>("GetAudioEndpoint");
    return proc ? proc(key, device, client) : E_NOTIMPL;
}

__declspec(dllexport) HRESULT WINAPI GetAudioSessionManager(void* device, void** manager) {
    auto proc = alsaEntry<HRESULT(WINAPI*)(void*, void**)>("GetAudioSessionManager");
    return proc ? proc(device, manager) : E_NOTIMPL;
}

__declspec(dllexport) HRESULT WINAPI GetPropValue(void* guid, const void* key, void* value) {
    auto proc = alsaEntry<HRESULT(WINAPI*)(void*, const void*, void*)>("GetPropValue");
    return proc ? proc(guid, key, value) : E_NOTIMPL;
}

}  // extern "C"
