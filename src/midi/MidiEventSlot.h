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

    // Appends one event (deltaFrames 0); false when the slot already holds 256. Producers on
    // several threads may append at once: each takes its own position with one atomic step.
    bool insert(uint8_t status, uint8_t data1, uint8_t data2, uint8_t channel);

    vst::VstEvents* list();
    const vst::VstMidiEvent& event(uint32_t index) const;
    uint32_t capacity() const { return kMidiEventSlotCapacity; }
    // Events written since the slot was last handed over.
    uint32_t count() const;
    // Hands the slot over: numEvents = count, and the slot is empty again. Only while no
    // producer appends to it.
    uint32_t takeCount();

private:
    struct Storage {
        vst::int32 numEvents;
        vst::intptr reserved;
        vst::VstEvent* events[kMidiEventSlotCapacity];
        vst::VstMidiEvent midi[kMidiEventSlotCapacity];
    };
    std::unique_ptr<Storage> storage;
    // Positions taken; beyond the capacity only by the few producers that found it full at once.
    std::atomic<uint32_t> reserved{0};
};

// Double buffering without a lock. One atomic word holds the write slot's index (writeIndex, the
// top bit) and the number of producers inside it (inputBusy, the rest). A producer enters with
// one increment, which also tells it the write slot, appends (the slot gives each producer its
// own position) and leaves with one decrement: producers on any number of threads never wait,
// not for each other and not for the audio thread. The audio thread swaps the slots with one
// compare-exchange that succeeds only while no producer is inside: it never waits either, it
// leaves the events for a later block instead.
class MidiEventQueue {
public:
    MidiEventQueue() = default;

    // Producers (any thread but the audio thread, several at once). false = dropped because
    // 256 events are already waiting.
    bool insertMidiEvent(uint8_t status, uint8_t data1, uint8_t data2, uint8_t channel);

    // Audio thread: hands the filled slot over and lets producers continue in the other one.
    // Null when the producers hold the byte or no event is waiting.
    vst::VstEvents* takeEvents();

    // Events dropped because a slot was full (for tests and diagnostics).
    uint64_t droppedEvents() const { return dropped.load(std::memory_order_relaxed); }
    uint8_t writeIndex() const { return static_cast<uint8_t>(state.load(std::memory_order_relaxed) >> kIndexShift); }

private:
    static constexpr uint32_t kIndexShift = 31;
    static constexpr uint32_t kIndexBit = 1u << kIndexShift;
    static constexpr uint32_t kProducersMask = kIndexBit - 1;

    MidiEventSlot slots[2];
    std::atomic<uint32_t> state{0};  // writeIndex << 31 | producers inside
    std::atomic<uint64_t> dropped{0};
};

}  // namespace vl
