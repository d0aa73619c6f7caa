#include "midi/VLMMMidi.h"

#include <cwchar>

namespace vl {

namespace {

// A send is one short platform call; a close that waits longer than this leaves the output
// open (and unused) for the next close to retry rather than pulling it from under a send.
constexpr uint32_t kSendDrainTimeoutMs = 2000;

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

VLMMMidi::~VLMMMidi() { closeDevices(); }

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
    outputGate_.open();
    if (!inputDevice && !outputDevice) return false;

    if (inputDevice) {
        auto instance = std::make_unique<MidiInstance>(MidiInstance{handler, handlerValue, &decoder_});
        HMIDIIN handle = nullptr;
        if (api_.inOpen(&handle, static_cast<UINT>(*inputDevice), reinterpret_cast<DWORD_PTR>(&inputCallback),
                        reinterpret_cast<DWORD_PTR>(instance.get()), CALLBACK_FUNCTION) != MMSYSERR_NOERROR)
            return false;
        if (api_.inStart(handle) != MMSYSERR_NOERROR) {
            // Left open, the device would stay busy for every later attempt of this run.
            api_.inClose(handle);
            return false;
        }
        inputHandles.push_back(handle);
        instances_.push_back(std::move(instance));
    }

    if (outputDevice) {
        // One output at a time: a second would be lost without ever being closed.
        if (outputHandle.load(std::memory_order_acquire)) return false;
        HMIDIOUT handle = nullptr;
        if (api_.outOpen(&handle, static_cast<UINT>(*outputDevice), 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR)
            return false;
        outputHandle.store(handle, std::memory_order_release);
    }
    return true;
}

void VLMMMidi::closeDevices() {
    outputGate_.close();
    for (HMIDIIN handle : inputHandles) {
        api_.inStop(handle);
        api_.inReset(handle);
        api_.inClose(handle);  // delivers the close notice to the input's handler
    }
    inputHandles.clear();
    instances_.clear();

    HMIDIOUT output = outputHandle.load(std::memory_order_acquire);
    if (output && outputGate_.drain(kSendDrainTimeoutMs)) {
        api_.outClose(output);
        outputHandle.store(nullptr, std::memory_order_release);
    }
}

void VLMMMidi::sendShortMessage(uint32_t message) {
    const SendGate::Pass pass = outputGate_.enter();
    if (!pass) return;
    if (HMIDIOUT output = outputHandle.load(std::memory_order_acquire)) api_.outShortMsg(output, message);
}

void CALLBACK VLMMMidi::inputCallback(HMIDIIN, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR) {
    MidiInputDecoder::deliver(reinterpret_cast<const MidiInstance*>(instance), inputEventOf(message),
                              static_cast<uint32_t>(param1));
}

}  // namespace vl
