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
// Positions of a block's list that only releases (note-offs, sustain off, all notes or sound
// off) may take: the notes a full block started always find room for their ends.
constexpr uint32_t kMidiReleaseReserve = 64;

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

    // For a queue that hands out the positions itself: fills the event at position (below the
    // capacity), and hands the list over with numEvents = count. The slot's own count is left
    // alone.
    void write(uint32_t position, uint8_t status, uint8_t data1, uint8_t data2, uint8_t channel,
               vst::int32 deltaFrames = 0);
    vst::VstEvents* listOf(uint32_t count);

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

// Double buffering without a lock. One 64-bit atomic word holds the write slot's index (the top
// bit), the number of producers inside it (the next 31 bits) and the positions taken in it (the
// low 32 bits). A producer enters with one addition, which also tells it the slot and its own
// position, writes its event and leaves with one subtraction: producers on any number of threads
// never wait, not for each other and not for the audio thread. The audio thread swaps the slots
// with one compare-exchange that succeeds only while no producer is inside (and reads the count
// from the same word); it never waits either, it leaves the events for a later block instead.
// A block that finds nothing waiting reads the word once and writes nothing.
//
// Releases come first when the list fills up: any other event is refused once the list holds
// kMidiEventSlotCapacity - kMidiReleaseReserve, a release only when it is full, and a release
// refused even then is remembered (one bit per channel and note) and sent with a later block.
class MidiEventQueue {
public:
    MidiEventQueue() = default;

    // Producers (any thread but the audio thread, several at once). false = dropped because
    // the list is full for this kind of event; a release that finds it full is remembered and
    // sent with a later block (as a note-off, sustain off or all notes off).
    bool insertMidiEvent(uint8_t status, uint8_t data1, uint8_t data2, uint8_t channel);
    // Any thread: a note-off for this note, sent with the next block that has room.
    void queueNoteOff(uint8_t channel, uint8_t note);

    // Audio thread: hands the filled slot over and lets producers continue in the other one,
    // with remembered releases appended where there is room. Null when nothing is due (or a
    // producer is inside and no remembered release waits). *fresh (when given) tells whether
    // the list carries producers' events, not only remembered releases.
    vst::VstEvents* takeEvents(bool* fresh = nullptr);

    // While no block runs: forgets the events waiting (they came while no engine ran and are no
    // news for the next one). Remembered releases stay. Answers how many were forgotten.
    uint32_t discardWaiting();

    // Events lost because a slot was full (for tests and diagnostics).
    uint64_t droppedEvents() const { return dropped.load(std::memory_order_relaxed); }
    // Events forgotten by discardWaiting so far.
    uint64_t discardedEvents() const { return discarded.load(std::memory_order_relaxed); }
    // Remembered releases that found the same release already waiting (one is sent).
    uint64_t coalescedReleases() const { return coalesced.load(std::memory_order_relaxed); }
    uint8_t writeIndex() const { return static_cast<uint8_t>(state.load(std::memory_order_relaxed) >> kIndexShift); }

    static bool isRelease(uint8_t status, uint8_t data1, uint8_t data2);

private:
    // Appends remembered releases to slot from position count while there is room; the rest
    // stays remembered. Answers the new count.
    uint32_t appendReleases(MidiEventSlot& slot, uint32_t count);
    void rememberRelease(uint8_t status, uint8_t data1, uint8_t data2, uint8_t channel);

    static constexpr uint32_t kIndexShift = 63;
    static constexpr uint64_t kIndexBit = uint64_t(1) << kIndexShift;
    static constexpr uint64_t kProducer = uint64_t(1) << 32;
    static constexpr uint64_t kProducersMask = kIndexBit - kProducer;
    static constexpr uint64_t kTakenMask = kProducer - 1;

    MidiEventSlot slots[2];
    std::atomic<uint64_t> state{0};  // writeIndex << 63 | producers inside << 32 | positions taken
    std::atomic<uint64_t> dropped{0};
    std::atomic<uint64_t> discarded{0};
    std::atomic<uint64_t> coalesced{0};
    // Releases that found no room: note-offs by channel * 128 + note, all-notes-off and
    // sustain-off by channel; releasesWaiting is set after a bit.
    MidiEventSlot releaseSlot;  // the audio thread's list when only remembered releases are due
    std::atomic<uint64_t> noteOffsWaiting[16 * 128 / 64] = {};
    std::atomic<uint32_t> allNotesOffWaiting{0};
    std::atomic<uint32_t> sustainOffWaiting{0};
    std::atomic<bool> releasesWaiting{false};
};

// A MIDI engine that runs inside the audio back end's own process cycle: it delivers its
// inputs on the audio thread at the start of each block, before the coordinator takes the
// block's events, and writes what the plug-in sends during the block into the same block.
class BlockTimedMidi {
public:
    virtual ~BlockTimedMidi() = default;
    // Audio thread, while an input message is being delivered: its frame within the block.
    virtual uint32_t deliveryFrame() const = 0;
    // Audio thread, inside the block: the plug-in's packed short message (byte 0 in bits 0-7)
    // at its frame of this block. false when it could not be placed (nothing is open, the
    // block's list is full).
    virtual bool sendAtFrame(uint32_t message, uint32_t frame) = 0;
};

// The events of one block that arrive on the audio thread itself, each at its own frame, and
// the list handed to the plug-in: what other threads queued for the block (all at frame 0)
// first, then these in frame order. The audio thread's alone; allocates nothing after
// construction.
class BlockEventList {
public:
    BlockEventList();
    BlockEventList(const BlockEventList&) = delete;
    BlockEventList& operator=(const BlockEventList&) = delete;

    // Keeps the list in frame order (events of one frame in their order of arrival). As the
    // queue does, only releases take the last kMidiReleaseReserve positions; false = dropped.
    bool add(uint32_t frame, uint8_t status, uint8_t data1, uint8_t data2, uint8_t channel);
    uint32_t count() const { return pending; }
    // The block's list: first's events (may be null) followed by this block's; null when both
    // are empty. This block's events are taken. Events beyond the list's room are dropped and
    // counted, the later frames first.
    vst::VstEvents* take(const vst::VstEvents* first);
    // Forgets this block's events (a block that does not run the plug-in, an engine start).
    void clear() { pending = 0; }
    uint64_t droppedEvents() const { return dropped.load(std::memory_order_relaxed); }

private:
    static constexpr uint32_t kRoom = 2 * kMidiEventSlotCapacity;
    struct Storage {
        vst::int32 numEvents;
        vst::intptr reserved;
        vst::VstEvent* events[kRoom];
        vst::VstMidiEvent midi[kRoom];
    };
    std::unique_ptr<Storage> storage;
    std::unique_ptr<vst::VstMidiEvent[]> blockEvents;  // this block's, in frame order
    uint32_t pending = 0;
    std::atomic<uint64_t> dropped{0};
};

}  // namespace vl
