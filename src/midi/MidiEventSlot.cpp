#include "midi/MidiEventSlot.h"

#include <cstddef>

namespace vl {

MidiEventSlot::MidiEventSlot() : storage(std::make_unique<Storage>()) {
    static_assert(offsetof(Storage, events) == offsetof(vst::VstEvents, events));
    static_assert(offsetof(Storage, reserved) == offsetof(vst::VstEvents, reserved));
    storage->numEvents = 0;
    storage->reserved = 0;
    for (uint32_t i = 0; i < kMidiEventSlotCapacity; ++i) {
        vst::VstMidiEvent& e = storage->midi[i];
        e = vst::VstMidiEvent{};
        e.type = vst::kVstMidiType;
        e.byteSize = sizeof(vst::VstMidiEvent);
        e.flags = vst::kVstMidiEventIsRealtime;
        storage->events[i] = reinterpret_cast<vst::VstEvent*>(&e);
    }
}

bool MidiEventSlot::insert(uint8_t status, uint8_t data1, uint8_t data2, uint8_t channel) {
    // Checked first, so that a full slot does not count on towards a wrap.
    if (reserved.load(std::memory_order_relaxed) >= kMidiEventSlotCapacity) return false;
    const uint32_t position = reserved.fetch_add(1, std::memory_order_relaxed);
    if (position >= kMidiEventSlotCapacity) return false;
    vst::VstMidiEvent& e = storage->midi[position];
    e.deltaFrames = 0;
    e.midiData[0] = static_cast<char>(status | (channel & 0x0F));
    e.midiData[1] = static_cast<char>(data1);
    e.midiData[2] = static_cast<char>(data2);
    return true;
}

uint32_t MidiEventSlot::count() const {
    const uint32_t n = reserved.load(std::memory_order_relaxed);
    return n < kMidiEventSlotCapacity ? n : kMidiEventSlotCapacity;
}

uint32_t MidiEventSlot::takeCount() {
    const uint32_t n = count();
    reserved.store(0, std::memory_order_relaxed);
    storage->numEvents = static_cast<vst::int32>(n);
    return n;
}

vst::VstEvents* MidiEventSlot::list() { return reinterpret_cast<vst::VstEvents*>(storage.get()); }

const vst::VstMidiEvent& MidiEventSlot::event(uint32_t index) const { return storage->midi[index]; }

bool MidiEventQueue::insertMidiEvent(uint8_t status, uint8_t data1, uint8_t data2, uint8_t channel) {
    // Entering tells the write slot; the audio thread swaps only while nobody is inside, so the
    // slot stays the write slot until this producer leaves.
    const uint32_t entered = state.fetch_add(1, std::memory_order_acquire);
    MidiEventSlot& slot = slots[entered >> kIndexShift];
    const bool stored = slot.insert(status, data1, data2, channel);
    state.fetch_sub(1, std::memory_order_release);
    if (!stored) dropped.fetch_add(1, std::memory_order_relaxed);
    return stored;
}

vst::VstEvents* MidiEventQueue::takeEvents() {
    uint32_t current = state.load(std::memory_order_relaxed);
    if ((current & kProducersMask) != 0) return nullptr;
    if (!state.compare_exchange_strong(current, current ^ kIndexBit, std::memory_order_acq_rel,
                                       std::memory_order_relaxed))
        return nullptr;  // a producer came in meanwhile
    // The filled slot now belongs to the audio thread alone until the next swap, which also
    // publishes its emptying to the producers.
    MidiEventSlot& slot = slots[current >> kIndexShift];
    return slot.takeCount() > 0 ? slot.list() : nullptr;
}

}  // namespace vl
