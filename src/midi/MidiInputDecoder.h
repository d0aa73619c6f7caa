#pragma once
// The platform-independent half of a MIDI engine's input callback: decoding a packed short
// message, stamping it with the time since the previous message, and handing it to the
// handler of the input it came from.

#include <atomic>
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
    MidiInputDecoder* decoder = nullptr;  // the input's own
};

// An engine's clock for its inputs: the arrival of the first short message (timeMs 0) and of
// the latest one of any input (for deltaMs). Inputs of different drivers call back on their own
// threads, possibly at once: both are single atomic steps, no lock, no wait.
class MidiTimeLine {
public:
    using CounterSource = int64_t (*)();

    explicit MidiTimeLine(CounterSource now = &platform::counterNow, int64_t frequency = platform::counterFrequency());

    // deltaMs (since the previous short message of any input, 0 for the first, never negative
    // when two arrive at once) and timeMs (since the first) of a message arriving now.
    void stamp(MidiMessage& message) noexcept;

private:
    double toMs(int64_t ticks) const noexcept;

    static constexpr int64_t kNone = INT64_MIN;
    CounterSource now_;
    int64_t frequency_;
    std::atomic<int64_t> origin_{kNone};
    std::atomic<int64_t> last_{kNone};
};

// One per opened input, with that input's message record: an input's deliveries come one at a
// time (the platform serializes one device's callbacks), while other inputs have decoders of
// their own. The inputs of an engine share its time line. Allocates nothing, takes no lock.
class MidiInputDecoder {
public:
    using CounterSource = MidiTimeLine::CounterSource;

    // record is reused for every message of the input; timeLine is the engine's.
    MidiInputDecoder(MidiMessage& record, MidiTimeLine& timeLine);
    // A decoder with a time line of its own (one input, or tests).
    explicit MidiInputDecoder(MidiMessage& record, CounterSource now = &platform::counterNow,
                              int64_t frequency = platform::counterFrequency());
    MidiInputDecoder(const MidiInputDecoder&) = delete;
    MidiInputDecoder& operator=(const MidiInputDecoder&) = delete;

    // One call of the input callback. A short message is decoded into the record and handed to
    // the instance's handler; a close notice hands the record over with status and command 0;
    // everything else, and a missing instance, is ignored.
    static void deliver(const MidiInstance* instance, MidiInputEvent event, uint32_t packed) noexcept;

    // The status, command, channel and 7-bit data bytes of a packed short message (byte 0 in
    // bits 0-7); deltaMs is left alone.
    static void decode(uint32_t packed, MidiMessage& message) noexcept;

private:
    MidiMessage& record_;
    MidiTimeLine ownTimeLine_;
    MidiTimeLine& timeLine_;
};

}  // namespace vl
