#pragma once
// A MIDI engine without devices, for hosts that have no MIDI (offline rendering, platforms
// without a MIDI engine yet): nothing opens, nothing is sent.

#include "midi/MidiDevice.h"

namespace vl {

class VLNullMidi : public VLMidiBase {
public:
    bool openDevices(const int32_t*, const int32_t*, MidiHandler, void*) override {
        closed = false;
        return false;
    }
    void closeDevices() override { closed = true; }
    void sendShortMessage(uint32_t) override {}
};

}  // namespace vl
