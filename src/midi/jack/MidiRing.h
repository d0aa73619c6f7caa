#pragma once
// A bounded queue of packed short MIDI messages between real-time threads and one reader:
// pushing and popping are wait-free, allocate nothing and take no lock. Any number of
// producers (the plug-in may send its MIDI from more than one thread); one consumer. A full
// ring drops the new message and counts it, as a MIDI cable that is too slow would.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace vl {

struct RingMessage {
    uint32_t packed = 0;   // byte 0 in bits 0-7
    uint32_t source = 0;   // which input it came from
    uint64_t frame = 0;    // arrival on the server's frame clock
};

template <size_t Capacity>
class MidiRing {
    static_assert(Capacity >= 2 && (Capacity & (Capacity - 1)) == 0, "a power of two");

public:
    MidiRing() {
        for (size_t i = 0; i < Capacity; ++i) cells[i].sequence.store(i, std::memory_order_relaxed);
    }
    MidiRing(const MidiRing&) = delete;
    MidiRing& operator=(const MidiRing&) = delete;

    bool push(const RingMessage& message) noexcept {
        size_t position = writeIndex.load(std::memory_order_relaxed);
        for (;;) {
            Slot& slot = cells[position & (Capacity - 1)];
            const size_t sequence = slot.sequence.load(std::memory_order_acquire);
            const auto difference = static_cast<std::ptrdiff_t>(sequence) - static_cast<std::ptrdiff_t>(position);
            if (difference == 0) {
                if (writeIndex.compare_exchange_weak(position, position + 1, std::memory_order_relaxed)) {
                    slot.message = message;
                    slot.sequence.store(position + 1, std::memory_order_release);
                    return true;
                }
            } else if (difference < 0) {
                dropped.fetch_add(1, std::memory_order_relaxed);
                return false;
            } else {
                position = writeIndex.load(std::memory_order_relaxed);
            }
        }
    }

    bool pop(RingMessage& out) noexcept {
        Slot& slot = cells[readIndex & (Capacity - 1)];
        if (slot.sequence.load(std::memory_order_acquire) != readIndex + 1) return false;
        out = slot.message;
        slot.sequence.store(readIndex + Capacity, std::memory_order_release);
        ++readIndex;
        return true;
    }

    uint64_t droppedCount() const { return dropped.load(std::memory_order_relaxed); }

private:
    struct Slot {
        std::atomic<size_t> sequence{0};
        RingMessage message;
    };
    std::array<Slot, Capacity> cells;
    std::atomic<size_t> writeIndex{0};
    size_t readIndex = 0;  // the consumer's alone
    std::atomic<uint64_t> dropped{0};
};

// Length of a short message by its status byte (1 to 3); 0 for what the host does not pass
// (system exclusive and its end, undefined status bytes, a data byte without status).
constexpr int shortMessageLength(uint8_t status) {
    if (status < 0x80) return 0;
    if (status < 0xF0) return (status & 0xE0) == 0xC0 ? 2 : 3;
    switch (status) {
        case 0xF1: case 0xF3: return 2;
        case 0xF2: return 3;
        case 0xF6: case 0xF8: case 0xFA: case 0xFB: case 0xFC: case 0xFE: case 0xFF: return 1;
        default: return 0;
    }
}

}  // namespace vl
