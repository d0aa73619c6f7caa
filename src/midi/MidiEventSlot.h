#pragma once
// The two pre-built VST event lists through which all MIDI for the plug-in reaches the process
// cycle, and the hand-off between the producers (MIDI callback, keyboard notes, Panic) and the
// audio thread.

#include <atomic>
#include <cstdint>
#include <memory>

#include "vst/VstAbi.h"

namespace vl {

constexpr uint32_t kMidiEventSlotCapacity = 256;

// One VstEvents list whose 256 pointers point at 256 pre-formatted MIDI events stored in the
// same allocation, right behind the list.
class MidiEventSlot {
public:
    MidiEventSlot();
    MidiEventSlot(const MidiEventSlot&) = delete;
    MidiEventSlot& operator=(const MidiEventSlot&) = delete;

    // Appends one event (deltaFrames 0); false when the slot already holds 256.
    bool insert(uint8_t status, uint8_t data1, uint8_t data2, uint8_t channel);

    vst::VstEvents* list();
    const vst::VstMidiEvent& event(uint32_t index) const;
    uint32_t capacity() const { return kMidiEventSlotCapacity; }
    uint32_t count = 0;  // events written since the slot was last handed over

private:
    struct Storage {
        vst::int32 numEvents;
        vst::intptr reserved;
        vst::VstEvent* events[kMidiEventSlotCapacity];
        vst::VstMidiEvent midi[kMidiEventSlotCapacity];
    };
    std::unique_ptr<Storage> storage;
};

// Double buffering with one busy byte. A producer acquires inputBusy with one compare-exchange
// (so no two producers and no slot swap overlap), appends to the write slot and releases it.
// The audio thread swaps the slots only when it can take inputBusy itself: it never waits, it
// leaves the events for a later block instead.
class MidiEventQueue {
public:
    MidiEventQueue() = default;

    // Producers (any thread but the audio thread). Waits only while another producer or the
    // swap holds the byte, which each do for a handful of instructions. false = dropped
    // because 256 events are already waiting.
    bool insertMidiEvent(uint8_t status, uint8_t data1, uint8_t data2, uint8_t channel);

    // Audio thread: hands the filled slot over and lets producers continue in the other one.
    // Null when the producers hold the byte or no event is waiting.
    vst::VstEvents* takeEvents();

    // Events dropped because a slot was full (for tests and diagnostics).
    uint64_t droppedEvents() const { return dropped.load(std::memory_order_relaxed); }
    uint8_t writeIndex() const { return writeIndex_.load(std::memory_order_relaxed); }

private:
    enum : uint8_t { kFree = 0, kProducer = 1, kSwap = 2 };
    MidiEventSlot slots[2];
    std::atomic<uint8_t> writeIndex_{0};
    std::atomic<uint8_t> inputBusy{kFree};
    std::atomic<uint64_t> dropped{0};
};

}  // namespace vl
