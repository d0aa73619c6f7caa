#include "midi/MidiEventSlot.h"

#include <cstddef>
#include <thread>

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
    if (count >= kMidiEventSlotCapacity) return false;
    vst::VstMidiEvent& e = storage->midi[count++];
    e.deltaFrames = 0;
    e.midiData[0] = static_cast<char>(status | (channel & 0x0F));
    e.midiData[1] = static_cast<char>(data1);
    e.midiData[2] = static_cast<char>(data2);
    return true;
}

vst::VstEvents* MidiEventSlot::list() { return reinterpret_cast<vst::VstEvents*>(storage.get()); }

const vst::VstMidiEvent& MidiEventSlot::event(uint32_t index) const { return storage->midi[index]; }

bool MidiEventQueue::insertMidiEvent(uint8_t status, uint8_t data1, uint8_t data2, uint8_t channel) {
    uint8_t expected = kFree;
    for (unsigned spins = 0; !inputBusy.compare_exchange_weak(expected, kProducer, std::memory_order_acquire,
                                                             std::memory_order_relaxed);
         ++spins) {
        expected = kFree;
        if (spins >= 64) std::this_thread::yield();
    }
    MidiEventSlot& slot = slots[writeIndex_.load(std::memory_order_relaxed)];
    const bool stored = slot.insert(status, data1, data2, channel);
    inputBusy.store(kFree, std::memory_order_release);
    if (!stored) dropped.fetch_add(1, std::memory_order_relaxed);
    return stored;
}

vst::VstEvents* MidiEventQueue::takeEvents() {
    uint8_t expected = kFree;
    if (!inputBusy.compare_exchange_strong(expected, kSwap, std::memory_order_acquire, std::memory_order_relaxed))
        return nullptr;
    const uint8_t filled = writeIndex_.load(std::memory_order_relaxed);
    writeIndex_.store(filled ^ 1, std::memory_order_relaxed);
    MidiEventSlot& slot = slots[filled];
    const uint32_t n = slot.count;
    slot.count = 0;
    inputBusy.store(kFree, std::memory_order_release);
    // The filled slot now belongs to the audio thread alone until the next swap.
    vst::VstEvents* list = slot.list();
    list->numEvents = static_cast<vst::int32>(n);
    return n > 0 ? list : nullptr;
}

}  // namespace vl
