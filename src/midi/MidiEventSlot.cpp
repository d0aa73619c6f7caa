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
    write(position, status, data1, data2, channel);
    return true;
}

void MidiEventSlot::write(uint32_t position, uint8_t status, uint8_t data1, uint8_t data2, uint8_t channel) {
    vst::VstMidiEvent& e = storage->midi[position];
    e.deltaFrames = 0;
    e.midiData[0] = static_cast<char>(status | (channel & 0x0F));
    e.midiData[1] = static_cast<char>(data1);
    e.midiData[2] = static_cast<char>(data2);
}

vst::VstEvents* MidiEventSlot::listOf(uint32_t count) {
    storage->numEvents = static_cast<vst::int32>(count);
    return list();
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
    // A full slot is refused before entering, so that the positions taken cannot count on
    // towards the producers' bits; only producers that found it not yet full at once go past.
    if ((state.load(std::memory_order_relaxed) & kTakenMask) >= kMidiEventSlotCapacity) {
        dropped.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    // Entering tells the write slot and the position; the audio thread swaps only while nobody
    // is inside, so the slot stays the write slot until this producer leaves.
    const uint64_t entered = state.fetch_add(kProducer + 1, std::memory_order_acquire);
    const auto position = static_cast<uint32_t>(entered & kTakenMask);
    const bool stored = position < kMidiEventSlotCapacity;
    if (stored) slots[entered >> kIndexShift].write(position, status, data1, data2, channel);
    state.fetch_sub(kProducer, std::memory_order_release);
    if (!stored) dropped.fetch_add(1, std::memory_order_relaxed);
    return stored;
}

vst::VstEvents* MidiEventQueue::takeEvents() {
    uint64_t current = state.load(std::memory_order_relaxed);
    if ((current & kTakenMask) == 0 || (current & kProducersMask) != 0) return nullptr;
    // The other slot becomes the write slot with nothing taken in it.
    if (!state.compare_exchange_strong(current, (current & kIndexBit) ^ kIndexBit, std::memory_order_acq_rel,
                                       std::memory_order_relaxed))
        return nullptr;  // a producer came in meanwhile
    // Every producer that wrote into the filled slot has left (their release is acquired by the
    // exchange); it now belongs to the audio thread alone until the next swap.
    const uint64_t taken = current & kTakenMask;
    const auto count = static_cast<uint32_t>(taken < kMidiEventSlotCapacity ? taken : kMidiEventSlotCapacity);
    return slots[current >> kIndexShift].listOf(count);
}

}  // namespace vl
