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
    // Checked first, so that a full slot does not count on towards a wrap.
    if (reserved.load(std::memory_order_relaxed) >= kMidiEventSlotCapacity) return false;
    const uint32_t position = reserved.fetch_add(1, std::memory_order_relaxed);
    if (position >= kMidiEventSlotCapacity) return false;
    write(position, status, data1, data2, channel);
    return true;
}

void MidiEventSlot::write(uint32_t position, uint8_t status, uint8_t data1, uint8_t data2, uint8_t channel,
                          vst::int32 deltaFrames) {
    vst::VstMidiEvent& e = storage->midi[position];
    e.deltaFrames = deltaFrames;
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

namespace {

constexpr uint8_t kNoteOff = 0x80;
constexpr uint8_t kNoteOn = 0x90;
constexpr uint8_t kControlChange = 0xB0;
constexpr uint8_t kSustain = 64;
constexpr uint8_t kAllSoundOff = 120;
constexpr uint8_t kAllNotesOff = 123;

}  // namespace

bool MidiEventQueue::isRelease(uint8_t status, uint8_t data1, uint8_t data2) {
    switch (status & 0xF0) {
        case kNoteOff: return true;
        case kNoteOn: return data2 == 0;
        case kControlChange: return data1 == kAllNotesOff || data1 == kAllSoundOff || (data1 == kSustain && data2 < 64);
        default: return false;
    }
}

bool MidiEventQueue::insertMidiEvent(uint8_t status, uint8_t data1, uint8_t data2, uint8_t channel) {
    const bool release = isRelease(status, data1, data2);
    const uint64_t limit = release ? kMidiEventSlotCapacity : kMidiEventSlotCapacity - kMidiReleaseReserve;
    // Entering takes a position below the limit and tells the write slot; the audio thread
    // swaps only while nobody is inside, so the slot stays the write slot until this producer
    // leaves. A producer that loses the exchange to another one simply tries again.
    uint64_t entered = state.load(std::memory_order_relaxed);
    do {
        if ((entered & kTakenMask) >= limit) {
            if (release) {
                rememberRelease(status, data1, data2, channel);  // it still arrives
                return true;
            }
            dropped.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
    } while (!state.compare_exchange_weak(entered, entered + kProducer + 1, std::memory_order_acquire,
                                          std::memory_order_relaxed));
    slots[entered >> kIndexShift].write(static_cast<uint32_t>(entered & kTakenMask), status, data1, data2, channel);
    state.fetch_sub(kProducer, std::memory_order_release);
    return true;
}

void MidiEventQueue::rememberRelease(uint8_t status, uint8_t data1, uint8_t data2, uint8_t channel) {
    const uint32_t channelBit = 1u << (channel & 0x0F);
    if ((status & 0xF0) == kControlChange) {
        auto& mask = data1 == kSustain ? sustainOffWaiting : allNotesOffWaiting;
        if (mask.fetch_or(channelBit, std::memory_order_relaxed) & channelBit)
            coalesced.fetch_add(1, std::memory_order_relaxed);
        releasesWaiting.store(true, std::memory_order_release);
    } else {
        queueNoteOff(channel, data1);
    }
}

void MidiEventQueue::queueNoteOff(uint8_t channel, uint8_t note) {
    const uint32_t bit = (channel & 0x0Fu) * 128u + (note & 0x7Fu);
    const uint64_t mask = uint64_t(1) << (bit % 64);
    if (noteOffsWaiting[bit / 64].fetch_or(mask, std::memory_order_relaxed) & mask)
        coalesced.fetch_add(1, std::memory_order_relaxed);
    releasesWaiting.store(true, std::memory_order_release);
}

uint32_t MidiEventQueue::appendReleases(MidiEventSlot& slot, uint32_t count) {
    // Taken before the bits are read: a release remembered meanwhile sets it again.
    releasesWaiting.store(false, std::memory_order_seq_cst);
    bool left = false;
    // Sustain off first, then the notes, then all notes off: a note ended under a held pedal
    // would otherwise sound on.
    for (std::atomic<uint32_t>* mask : {&sustainOffWaiting, &allNotesOffWaiting}) {
        uint32_t channels = mask->exchange(0, std::memory_order_acquire);
        for (uint32_t c = 0; channels != 0 && count < kMidiEventSlotCapacity; ++c) {
            if (!(channels & (1u << c))) continue;
            slot.write(count++, kControlChange, mask == &sustainOffWaiting ? kSustain : kAllNotesOff, 0,
                       static_cast<uint8_t>(c));
            channels &= ~(1u << c);
        }
        if (channels) {
            mask->fetch_or(channels, std::memory_order_relaxed);
            left = true;
        }
    }
    for (std::atomic<uint64_t>& word : noteOffsWaiting) {
        if (word.load(std::memory_order_relaxed) == 0) continue;
        uint64_t bits = word.exchange(0, std::memory_order_acquire);
        while (bits != 0 && count < kMidiEventSlotCapacity) {
            const auto b = static_cast<uint32_t>(__builtin_ctzll(bits));
            const auto index = static_cast<uint32_t>(&word - noteOffsWaiting) * 64 + b;
            slot.write(count++, kNoteOff, static_cast<uint8_t>(index % 128), 0, static_cast<uint8_t>(index / 128));
            bits &= bits - 1;
        }
        if (bits) {
            word.fetch_or(bits, std::memory_order_relaxed);
            left = true;
        }
    }
    if (left) releasesWaiting.store(true, std::memory_order_release);
    return count;
}

vst::VstEvents* MidiEventQueue::takeEvents(bool* fresh) {
    if (fresh) *fresh = false;
    const bool releases = releasesWaiting.load(std::memory_order_acquire);
    uint64_t current = state.load(std::memory_order_relaxed);
    // The other slot becomes the write slot with nothing taken in it; the exchange fails while
    // a producer is inside.
    if ((current & kTakenMask) != 0 && (current & kProducersMask) == 0 &&
        state.compare_exchange_strong(current, (current & kIndexBit) ^ kIndexBit, std::memory_order_acq_rel,
                                      std::memory_order_relaxed)) {
        // Every producer that wrote into the filled slot has left (their release is acquired by
        // the exchange); it now belongs to the audio thread alone until the next swap.
        MidiEventSlot& slot = slots[current >> kIndexShift];
        auto count = static_cast<uint32_t>(current & kTakenMask);
        if (releases) count = appendReleases(slot, count);
        if (fresh) *fresh = true;
        return slot.listOf(count);
    }
    if (!releases) return nullptr;
    const uint32_t count = appendReleases(releaseSlot, 0);
    return count ? releaseSlot.listOf(count) : nullptr;
}

BlockEventList::BlockEventList()
    : storage(std::make_unique<Storage>()), blockEvents(std::make_unique<vst::VstMidiEvent[]>(kMidiEventSlotCapacity)) {
    static_assert(offsetof(Storage, events) == offsetof(vst::VstEvents, events));
    storage->numEvents = 0;
    storage->reserved = 0;
    for (uint32_t i = 0; i < kRoom; ++i) storage->events[i] = reinterpret_cast<vst::VstEvent*>(&storage->midi[i]);
    for (uint32_t i = 0; i < kMidiEventSlotCapacity; ++i) {
        vst::VstMidiEvent& e = blockEvents[i];
        e = vst::VstMidiEvent{};
        e.type = vst::kVstMidiType;
        e.byteSize = sizeof(vst::VstMidiEvent);
        e.flags = vst::kVstMidiEventIsRealtime;
    }
}

bool BlockEventList::add(uint32_t frame, uint8_t status, uint8_t data1, uint8_t data2, uint8_t channel) {
    const bool release = MidiEventQueue::isRelease(status, data1, data2);
    if (pending >= (release ? kMidiEventSlotCapacity : kMidiEventSlotCapacity - kMidiReleaseReserve)) {
        dropped.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    const auto delta = static_cast<vst::int32>(frame);
    // Inputs are read one after the other, each in frame order: the new event usually goes last.
    uint32_t at = pending;
    while (at > 0 && blockEvents[at - 1].deltaFrames > delta) {
        blockEvents[at] = blockEvents[at - 1];
        --at;
    }
    vst::VstMidiEvent& e = blockEvents[at];
    e.type = vst::kVstMidiType;
    e.byteSize = sizeof(vst::VstMidiEvent);
    e.flags = vst::kVstMidiEventIsRealtime;
    e.deltaFrames = delta;
    e.midiData[0] = static_cast<char>(status | (channel & 0x0F));
    e.midiData[1] = static_cast<char>(data1);
    e.midiData[2] = static_cast<char>(data2);
    e.midiData[3] = 0;
    ++pending;
    return true;
}

vst::VstEvents* BlockEventList::take(const vst::VstEvents* first) {
    const uint32_t own = pending;
    pending = 0;
    if (own == 0) return const_cast<vst::VstEvents*>(first);
    uint32_t n = 0;
    if (first) {
        for (vst::int32 i = 0; i < first->numEvents && n < kRoom; ++i) {
            const vst::VstEvent* event = first->events[i];
            if (!event || event->type != vst::kVstMidiType) continue;
            storage->midi[n++] = *reinterpret_cast<const vst::VstMidiEvent*>(event);
        }
    }
    const uint32_t fits = own < kRoom - n ? own : kRoom - n;
    for (uint32_t i = 0; i < fits; ++i) storage->midi[n++] = blockEvents[i];
    if (fits < own) dropped.fetch_add(own - fits, std::memory_order_relaxed);
    storage->numEvents = static_cast<vst::int32>(n);
    return reinterpret_cast<vst::VstEvents*>(storage.get());
}

uint32_t MidiEventQueue::discardWaiting() {
    uint64_t current = state.load(std::memory_order_relaxed);
    // Producers leave within a few instructions; the number of tries only guards against one
    // that was descheduled inside, whose event then simply stays.
    for (int tries = 0; tries < 100000 && (current & kTakenMask) != 0; ++tries) {
        if ((current & kProducersMask) == 0 &&
            state.compare_exchange_weak(current, current & kIndexBit, std::memory_order_acq_rel,
                                        std::memory_order_relaxed)) {
            discarded.fetch_add(current & kTakenMask, std::memory_order_relaxed);
            return static_cast<uint32_t>(current & kTakenMask);
        }
        if ((current & kProducersMask) != 0) {
            std::this_thread::yield();
            current = state.load(std::memory_order_relaxed);
        }
    }
    return 0;
}

}  // namespace vl
