#pragma once
// Lets the audio thread use the MIDI output while the GUI thread may close it, without a
// lock on the audio thread. A sender enters the gate, and only while it holds an open pass
// may it read and use the output; closing shuts the gate first and then waits, bounded, for
// every sender that got in to leave, so a send and the close of the output never overlap.

#include <atomic>
#include <cstdint>

namespace vl {

class SendGate {
public:
    // closed is the engine's flag: true shuts the gate.
    explicit SendGate(std::atomic<bool>& closed) : closed_(closed) {}
    SendGate(const SendGate&) = delete;
    SendGate& operator=(const SendGate&) = delete;

    class Pass {
    public:
        ~Pass() { gate_.inFlight_.fetch_sub(1, std::memory_order_release); }
        Pass(const Pass&) = delete;
        Pass& operator=(const Pass&) = delete;
        // True when the gate was open on entry: the sender may use the output.
        explicit operator bool() const { return open_; }

    private:
        friend class SendGate;
        Pass(SendGate& gate, bool open) : gate_(gate), open_(open) {}
        SendGate& gate_;
        bool open_;
    };

    // Wait-free; for the audio thread.
    Pass enter() noexcept {
        inFlight_.fetch_add(1, std::memory_order_seq_cst);
        return Pass(*this, !closed_.load(std::memory_order_seq_cst));
    }

    void open() noexcept { closed_.store(false, std::memory_order_seq_cst); }
    void close() noexcept { closed_.store(true, std::memory_order_seq_cst); }

    // After close: waits until no sender is inside, at most timeoutMs. False on timeout, when
    // the output must stay open (and unused) until a later drain succeeds.
    bool drain(uint32_t timeoutMs) noexcept;

private:
    std::atomic<bool>& closed_;
    std::atomic<int32_t> inFlight_{0};
};

}  // namespace vl
