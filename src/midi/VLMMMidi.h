#pragma once
// The MIDI engine on the Windows multimedia MIDI functions.

#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <memory>
#include <vector>

#include "midi/MidiDevice.h"
#include "midi/MidiInputDecoder.h"
#include "midi/SendGate.h"

namespace vl {

// The multimedia MIDI functions the engine calls, so that tests can stand in for the
// platform (its devices, its failures, and whether a call was made at all).
struct WinMidiApi {
    UINT(WINAPI* inGetNumDevs)();
    MMRESULT(WINAPI* inGetDevCaps)(UINT_PTR, LPMIDIINCAPSW, UINT);
    MMRESULT(WINAPI* inOpen)(LPHMIDIIN, UINT, DWORD_PTR, DWORD_PTR, DWORD);
    MMRESULT(WINAPI* inStart)(HMIDIIN);
    MMRESULT(WINAPI* inStop)(HMIDIIN);
    MMRESULT(WINAPI* inReset)(HMIDIIN);
    MMRESULT(WINAPI* inClose)(HMIDIIN);
    UINT(WINAPI* outGetNumDevs)();
    MMRESULT(WINAPI* outGetDevCaps)(UINT_PTR, LPMIDIOUTCAPSW, UINT);
    MMRESULT(WINAPI* outOpen)(LPHMIDIOUT, UINT, DWORD_PTR, DWORD_PTR, DWORD);
    MMRESULT(WINAPI* outShortMsg)(HMIDIOUT, DWORD);
    MMRESULT(WINAPI* outClose)(HMIDIOUT);

    static WinMidiApi system();
};

class VLMMMidi final : public VLMidiBase {
public:
    // Enumerates the devices: inputs (switched on), then outputs (switched off) with the MIDI
    // mapper as the last entry when the platform has one.
    explicit VLMMMidi(const WinMidiApi& api = WinMidiApi::system());
    ~VLMMMidi() override;

    bool openDevices(const int32_t* inputDevice, const int32_t* outputDevice, MidiHandler handler,
                     void* handlerValue) override;
    void closeDevices() override;
    void sendShortMessage(uint32_t message) override;

    // The callback handed to midiInOpen; runs on the platform's MIDI callback thread.
    static void CALLBACK inputCallback(HMIDIIN handle, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                                       DWORD_PTR param2);

    // How long a close waits for a send still inside the driver (tests shorten it). A send is
    // one short platform call, so the wait nearly always ends at once.
    uint32_t sendDrainTimeoutMs = 2000;

    std::vector<HMIDIIN> inputHandles;

    // The open output, or none.
    HMIDIOUT outputHandle() const;

private:
    // One opened output with the gate its senders pass. A close that gives up waiting for a
    // send stuck inside the driver leaves the lane behind, shut to senders and still holding
    // its handle (closing it under the send is not safe), until a later open or close finds the
    // send gone and closes the handle. An open meanwhile takes another lane and opens the device
    // afresh, so senders are never handed the stuck handle again.
    struct OutputLane {
        std::atomic<HMIDIOUT> handle{nullptr};
        std::atomic<bool> shut{true};
        SendGate gate{shut};
    };
    static constexpr int kOutputLanes = 4;

    void enumerate();
    void addDevice(int32_t deviceId, const WCHAR (&productName)[MAXPNAMELEN], bool isInput);
    // Closes the handles of left-behind lanes whose stuck send has returned (at most waitMs each).
    void releaseLeftBehindOutputs(uint32_t waitMs);

    // One per open input: inputs of different drivers may call back at the same time on their
    // own threads, so each has its own record and decoder; they share the engine's time line.
    struct OpenInput {
        OpenInput(MidiTimeLine& timeLine, MidiHandler handler, void* handlerValue)
            : decoder(record, timeLine), instance{handler, handlerValue, &decoder} {}
        MidiMessage record{};
        MidiInputDecoder decoder;
        MidiInstance instance;
    };

    WinMidiApi api_;
    MidiTimeLine timeLine_;
    OutputLane lanes_[kOutputLanes];
    std::atomic<OutputLane*> currentLane_{nullptr};  // the lane senders use; null = no output
    std::vector<std::unique_ptr<OpenInput>> inputs_;  // freed after their close notices
};

}  // namespace vl
