#include "midi/VLMMMidi.h"

#include <cwchar>

namespace vl {

namespace {

MidiInputEvent inputEventOf(UINT message) {
    switch (message) {
        case MIM_DATA: return MidiInputEvent::ShortMessage;
        case MIM_CLOSE: return MidiInputEvent::CloseNotice;
        default: return MidiInputEvent::Other;
    }
}

}  // namespace

WinMidiApi WinMidiApi::system() {
    return {midiInGetNumDevs, midiInGetDevCapsW, midiInOpen,        midiInStart,
            midiInStop,       midiInReset,       midiInClose,       midiOutGetNumDevs,
            midiOutGetDevCapsW, midiOutOpen,     midiOutShortMsg,   midiOutClose};
}

VLMMMidi::VLMMMidi(const WinMidiApi& api) : api_(api) { enumerate(); }

VLMMMidi::~VLMMMidi() {
    closeDevices();
    // A send still stuck in the driver would come back into this object.
    releaseLeftBehindOutputs(sendDrainTimeoutMs);
}

void VLMMMidi::addDevice(int32_t deviceId, const WCHAR (&productName)[MAXPNAMELEN], bool isInput) {
    auto record = std::make_unique<MidiDeviceRecord>();
    record->deviceId = deviceId;
    // A driver may fill the name field to the end without a terminating zero.
    record->name.assign(productName, wcsnlen(productName, MAXPNAMELEN));
    record->isInput = isInput;
    record->active = isInput;
    devices.push_back(std::move(record));
}

void VLMMMidi::enumerate() {
    devices.clear();
    const UINT inputs = api_.inGetNumDevs();
    for (UINT i = 0; i < inputs; ++i) {
        MIDIINCAPSW caps{};
        if (api_.inGetDevCaps(i, &caps, sizeof caps) == MMSYSERR_NOERROR)
            addDevice(static_cast<int32_t>(i), caps.szPname, true);
    }
    const UINT outputs = api_.outGetNumDevs();
    for (UINT i = 0; i < outputs; ++i) {
        MIDIOUTCAPSW caps{};
        if (api_.outGetDevCaps(i, &caps, sizeof caps) == MMSYSERR_NOERROR)
            addDevice(static_cast<int32_t>(i), caps.szPname, false);
    }
    MIDIOUTCAPSW mapper{};
    if (api_.outGetDevCaps(MIDI_MAPPER, &mapper, sizeof mapper) == MMSYSERR_NOERROR)
        addDevice(kMidiMapperId, mapper.szPname, false);
}

bool VLMMMidi::openDevices(const int32_t* inputDevice, const int32_t* outputDevice, MidiHandler handler,
                           void* handlerValue) {
    closed.store(false, std::memory_order_release);
    if (!inputDevice && !outputDevice) return false;

    if (inputDevice) {
        auto input = std::make_unique<OpenInput>(timeLine_, handler, handlerValue);
        HMIDIIN handle = nullptr;
        if (api_.inOpen(&handle, static_cast<UINT>(*inputDevice), reinterpret_cast<DWORD_PTR>(&inputCallback),
                        reinterpret_cast<DWORD_PTR>(&input->instance), CALLBACK_FUNCTION) != MMSYSERR_NOERROR)
            return false;
        if (api_.inStart(handle) != MMSYSERR_NOERROR) {
            // Left open, the device would stay busy for every later attempt of this run.
            api_.inClose(handle);
            return false;
        }
        inputHandles.push_back(handle);
        inputs_.push_back(std::move(input));
    }

    if (outputDevice) {
        // One output at a time: a second would be lost without ever being closed.
        if (currentLane_.load(std::memory_order_acquire)) return false;
        releaseLeftBehindOutputs(0);
        OutputLane* lane = nullptr;
        for (OutputLane& candidate : lanes_) {
            if (!candidate.handle.load(std::memory_order_acquire)) {
                lane = &candidate;
                break;
            }
        }
        if (!lane) return false;  // every lane still waits for a stuck send
        HMIDIOUT handle = nullptr;
        if (api_.outOpen(&handle, static_cast<UINT>(*outputDevice), 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR)
            return false;
        lane->handle.store(handle, std::memory_order_release);
        lane->gate.open();
        currentLane_.store(lane, std::memory_order_release);
    }
    return true;
}

void VLMMMidi::closeDevices() {
    closed.store(true, std::memory_order_release);
    OutputLane* lane = currentLane_.exchange(nullptr, std::memory_order_acq_rel);
    if (lane) lane->gate.close();
    for (HMIDIIN handle : inputHandles) {
        api_.inStop(handle);
        api_.inReset(handle);
        api_.inClose(handle);  // delivers the close notice to the input's handler
    }
    inputHandles.clear();
    inputs_.clear();

    if (lane && lane->gate.drain(sendDrainTimeoutMs)) {
        api_.outClose(lane->handle.load(std::memory_order_acquire));
        lane->handle.store(nullptr, std::memory_order_release);
    }
    releaseLeftBehindOutputs(0);
}

void VLMMMidi::releaseLeftBehindOutputs(uint32_t waitMs) {
    OutputLane* current = currentLane_.load(std::memory_order_acquire);
    for (OutputLane& lane : lanes_) {
        HMIDIOUT handle = lane.handle.load(std::memory_order_acquire);
        if (&lane == current || !handle || !lane.gate.drain(waitMs)) continue;
        api_.outClose(handle);
        lane.handle.store(nullptr, std::memory_order_release);
    }
}

HMIDIOUT VLMMMidi::outputHandle() const {
    const OutputLane* lane = currentLane_.load(std::memory_order_acquire);
    return lane ? lane->handle.load(std::memory_order_acquire) : nullptr;
}

void VLMMMidi::sendShortMessage(uint32_t message) {
    OutputLane* lane = currentLane_.load(std::memory_order_acquire);
    if (!lane) return;
    // A lane is never freed, so a sender that read it just before a close still finds it shut.
    const SendGate::Pass pass = lane->gate.enter();
    if (!pass) return;
    if (HMIDIOUT output = lane->handle.load(std::memory_order_acquire)) api_.outShortMsg(output, message);
}

void CALLBACK VLMMMidi::inputCallback(HMIDIIN, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR) {
    MidiInputDecoder::deliver(reinterpret_cast<const MidiInstance*>(instance), inputEventOf(message),
                              static_cast<uint32_t>(param1));
}

}  // namespace vl
