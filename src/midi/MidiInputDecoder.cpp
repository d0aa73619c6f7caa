#include "midi/MidiInputDecoder.h"

namespace vl {

MidiInputDecoder::MidiInputDecoder(MidiMessage& record, CounterSource now, int64_t frequency)
    : record_(record), now_(now), frequency_(frequency) {}

void MidiInputDecoder::decode(uint32_t packed, MidiMessage& message) noexcept {
    const uint8_t status = packed & 0xFF;
    message.status = status < 0xF0 ? static_cast<uint8_t>(status & 0xF0) : status;
    message.command = status & 0xF0;
    message.channel = status & 0x0F;
    message.data1 = (packed >> 8) & 0x7F;
    message.data2 = (packed >> 16) & 0x7F;
}

void MidiInputDecoder::stamp(MidiMessage& message) noexcept {
    const int64_t now = now_();
    if (!haveLastCounter_) originCounter_ = now;
    // A counter without a rate (never seen on a working system) gives no time rather than
    // a division by zero.
    const auto ms = [this](int64_t ticks) {
        return frequency_ > 0 ? static_cast<double>(ticks) / static_cast<double>(frequency_) * 1000.0 : 0.0;
    };
    message.deltaMs = haveLastCounter_ ? ms(now - lastCounter_) : 0.0;
    message.timeMs = ms(now - originCounter_);
    lastCounter_ = now;
    haveLastCounter_ = true;
}

void MidiInputDecoder::deliver(const MidiInstance* instance, MidiInputEvent event, uint32_t packed) noexcept {
    if (!instance || !instance->decoder) return;
    MidiInputDecoder& decoder = *instance->decoder;
    MidiMessage& record = decoder.record_;
    switch (event) {
        case MidiInputEvent::ShortMessage:
            decode(packed, record);
            decoder.stamp(record);
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
