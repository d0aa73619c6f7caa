#pragma once
// Following the JACK transport as a sync source, like a MIDI clock: the server's rolling
// state starts and stops the host's transport, and while a timebase master publishes bar,
// beat and tick, its tempo becomes the host's tempo and its position the song position.
//
// Runs on the audio thread at the start of each process cycle (VLJack's block hook), before
// the process cycle takes the hand-offs: it only stores atomics the cycle reads, never waits.

#include <jack/transport.h>

#include <atomic>

namespace vl {

class VLVSTHostInterfaceBase;

// What the server reports for one block.
struct TransportSnapshot {
    bool rolling = false;
    bool bbtValid = false;  // a timebase master publishes bar, beat and tick
    double beatsPerMinute = 0.0;
    int bar = 1;   // from 1
    int beat = 1;  // from 1
    int tick = 0;
    double ticksPerBeat = 1920.0;
    float beatsPerBar = 4.0f;
    float beatType = 4.0f;
};

TransportSnapshot snapshotOf(jack_transport_state_t state, const jack_position_t& position);
// Quarter notes from the start of bar 1 for a BBT position; 0 when it is not a valid one.
double quarterNotesOf(const TransportSnapshot& snapshot);

class JackTransportFollow {
public:
    explicit JackTransportFollow(VLVSTHostInterfaceBase& host) : host(host) {}

    // The user's option (user-interface thread); off gives the position back to the host.
    void setEnabled(bool on) { enabled.store(on, std::memory_order_release); }
    bool isEnabled() const { return enabled.load(std::memory_order_acquire); }

    // Audio thread: one block's transport.
    void apply(const TransportSnapshot& snapshot);
    // VLJack's block hook (user = this object).
    static void onBlock(jack_client_t* client, void* user);

private:
    VLVSTHostInterfaceBase& host;
    std::atomic<bool> enabled{false};
    bool followingPosition = false;  // this object switched the song position to the server's
    bool haveRolling = false;
    bool lastRolling = false;
};

}  // namespace vl
