#pragma once
// MIDI messages from effProcessEvents to the next processReplacing: a fixed single-producer,
// single-consumer ring, so that neither side allocates or locks, even if a host delivers the
// events on another thread than the audio.

#include <array>
#include <atomic>
#include <cstdint>

namespace demo {

struct MidiMessage {
    int32_t deltaFrames;  // position in the next block
    uint8_t data[3];
};

class MidiQueue {
public:
    static constexpr uint32_t kCapacity = 1024;  // a power of two

    // False when the queue is full: the message is dropped.
    bool push(const MidiMessage& message) {
        const uint32_t head = head_.load(std::memory_order_relaxed);
        if (head - tail_.load(std::memory_order_acquire) >= kCapacity) return false;
        slots_[head & (kCapacity - 1)] = message;
        head_.store(head + 1, std::memory_order_release);
        return true;
    }

    bool pop(MidiMessage& message) {
        const uint32_t tail = tail_.load(std::memory_order_relaxed);
        if (tail == head_.load(std::memory_order_acquire)) return false;
        message = slots_[tail & (kCapacity - 1)];
        tail_.store(tail + 1, std::memory_order_release);
        return true;
    }

private:
    std::array<MidiMessage, kCapacity> slots_{};
    std::atomic<uint32_t> head_{0};  // next slot to write; counts up, wraps with uint32
    std::atomic<uint32_t> tail_{0};  // next slot to read
};

}  // namespace demo
