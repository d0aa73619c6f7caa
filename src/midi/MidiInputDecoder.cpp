#include "midi/MidiInputDecoder.h"

namespace vl {

MidiTimeLine::MidiTimeLine(CounterSource now, int64_t frequency) : now_(now), frequency_(frequency) {}

// A counter without a rate (never seen on a working system) gives no time rather than a
// division by zero.
double MidiTimeLine::toMs(int64_t ticks) const noexcept {
    return frequency_ > 0 ? static_cast<double>(ticks) / static_cast<double>(frequency_) * 1000.0 : 0.0;
}

void MidiTimeLine::stamp(MidiMessage& message) noexcept {
    const int64_t now = now_();
    int64_t origin = kNone;
    if (origin_.compare_exchange_strong(origin, now, std::memory_order_acq_rel)) origin = now;
    const int64_t previous = last_.exchange(now, std::memory_order_acq_rel);
    // Two inputs stamping at once may swap in the other order than they read the counter.
    message.deltaMs = previous == kNone || now < previous ? 0.0 : toMs(now - previous);
    message.timeMs = now < origin ? 0.0 : toMs(now - origin);
}

MidiInputDecoder::MidiInputDecoder(MidiMessage& record, MidiTimeLine& timeLine)
    : record_(record), timeLine_(timeLine) {}

MidiInputDecoder::MidiInputDecoder(MidiMessage& record, CounterSource now, int64_t frequency)
    : record_(record), ownTimeLine_(now, frequency), timeLine_(ownTimeLine_) {}

void MidiInputDecoder::decode(uint32_t packed, MidiMessage& message) noexcept {
    const uint8_t status = packed & 0xFF;
    message.status = status < 0xF0 ? static_cast<uint8_t>(status & 0xF0) : status;
    message.command = status & 0xF0;
    message.channel = status & 0x0F;
    message.data1 = (packed >> 8) & 0x7F;
    message.data2 = (packed >> 16) & 0x7F;
}

void MidiInputDecoder::deliver(const MidiInstance* instance, MidiInputEvent event, uint32_t packed) noexcept {
    if (!instance || !instance->decoder) return;
    MidiInputDecoder& decoder = *instance->decoder;
    MidiMessage& record = decoder.record_;
    switch (event) {
        case MidiInputEvent::ShortMessage:
            decode(packed, record);
            decoder.timeLine_.stamp(record);
            break;
        case MidiInputEvent::CloseNotice:
            record.status = 0;
            record.command = 0;
            break;
        case MidiInputEvent::Other:
            return;
    }
    if (instance->handler) instance->handler(&record, instance->handlerValue);
}

}  // namespace vl
