#pragma once
// The platform-independent half of a MIDI engine's input callback: decoding a packed short
// message, stamping it with the time since the previous message, and handing it to the
// handler of the input it came from.

#include <cstdint>

#include "midi/MidiDevice.h"
#include "platform/Clock.h"

namespace vl {

class MidiInputDecoder;

// What the platform's input callback reports.
enum class MidiInputEvent { ShortMessage, CloseNotice, Other };

// One per opened input; its address is the value the platform passes back to the callback.
struct MidiInstance {
    MidiHandler handler = nullptr;
    void* handlerValue = nullptr;
    MidiInputDecoder* decoder = nullptr;  // the engine's, shared by all its inputs
};

// Owned by an engine and shared by all of its inputs, like the engine's message record. The
// deliveries of all inputs must reach it one at a time (the platform's MIDI callback thread
// serializes them); it allocates nothing and takes no lock.
class MidiInputDecoder {
public:
    using CounterSource = int64_t (*)();

    // record is the engine's messageRecord, reused for every message of every input.
    explicit MidiInputDecoder(MidiMessage& record, CounterSource now = &platform::counterNow,
                              int64_t frequency = platform::counterFrequency());

    // One call of the input callback. A short message is decoded into the record and handed to
    // the instance's handler; a close notice hands the record over with status and command 0;
    // everything else, and a missing instance, is ignored.
    static void deliver(const MidiInstance* instance, MidiInputEvent event, uint32_t packed) noexcept;

    // The status, command, channel and 7-bit data bytes of a packed short message (byte 0 in
    // bits 0-7); deltaMs is left alone.
    static void decode(uint32_t packed, MidiMessage& message) noexcept;

private:
    // deltaMs: milliseconds since the previous short message of any input, 0 for the first
    // one; timeMs: milliseconds since the first one.
    void stamp(MidiMessage& message) noexcept;

    MidiMessage& record_;
    CounterSource now_;
    int64_t frequency_;
    int64_t lastCounter_ = 0;
    int64_t originCounter_ = 0;
    bool haveLastCounter_ = false;
};

}  // namespace vl
