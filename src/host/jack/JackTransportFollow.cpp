#include "host/jack/JackTransportFollow.h"

#include <cmath>

#include "host/VLVSTHostInterface.h"
#include "settings/HostSettings.h"

namespace vl {

TransportSnapshot snapshotOf(jack_transport_state_t state, const jack_position_t& position) {
    TransportSnapshot s;
    s.rolling = state == JackTransportRolling;
    s.bbtValid = (position.valid & JackPositionBBT) != 0;
    if (s.bbtValid) {
        s.beatsPerMinute = position.beats_per_minute;
        s.bar = position.bar;
        s.beat = position.beat;
        s.tick = position.tick;
        s.ticksPerBeat = position.ticks_per_beat;
        s.beatsPerBar = position.beats_per_bar;
        s.beatType = position.beat_type;
    }
    return s;
}

double quarterNotesOf(const TransportSnapshot& s) {
    if (!s.bbtValid || s.bar < 1 || s.beat < 1 || !(s.ticksPerBeat > 0.0) || !(s.beatsPerBar > 0.0f) ||
        !(s.beatType > 0.0f))
        return 0.0;
    // A beat of the master's meter lasts 4 / beatType quarter notes.
    const double quartersPerBeat = 4.0 / static_cast<double>(s.beatType);
    const double beats = (s.bar - 1) * static_cast<double>(s.beatsPerBar) + (s.beat - 1) + s.tick / s.ticksPerBeat;
    const double quarters = beats * quartersPerBeat;
    return std::isfinite(quarters) ? quarters : 0.0;
}

void JackTransportFollow::apply(const TransportSnapshot& snapshot) {
    if (!enabled.load(std::memory_order_acquire)) {
        if (followingPosition) host.syncActive.store(false, std::memory_order_release);
        followingPosition = false;
        haveRolling = false;
        return;
    }
    // Start and stop as a MIDI clock's start and stop: a request on each change.
    if (!haveRolling || snapshot.rolling != lastRolling) {
        host.requestedPlaying.store(snapshot.rolling, std::memory_order_release);
        host.transportRequest.store(true, std::memory_order_release);
        lastRolling = snapshot.rolling;
        haveRolling = true;
    }
    if (!snapshot.bbtValid) {
        // Without a timebase master the host keeps its own tempo and position.
        if (followingPosition) host.syncActive.store(false, std::memory_order_release);
        followingPosition = false;
        return;
    }
    // The cycle that follows on this thread takes the tempo: no hand-over wait is needed.
    const double bpm = snapshot.beatsPerMinute;
    if (isUsableTempo(bpm) && bpm != host.tempo.load(std::memory_order_acquire)) {
        host.tempo.store(bpm, std::memory_order_release);
        host.tempoChanged.store(true, std::memory_order_release);
        host.followedTempo();
    }
    host.clockPpq.store(quarterNotesOf(snapshot), std::memory_order_release);
    host.syncActive.store(true, std::memory_order_release);
    followingPosition = true;
}

void JackTransportFollow::onBlock(jack_client_t* client, void* user) {
    auto* self = static_cast<JackTransportFollow*>(user);
    if (!self || !client) return;
    jack_position_t position{};
    const jack_transport_state_t state = jack_transport_query(client, &position);  // real-time safe
    self->apply(snapshotOf(state, position));
}

}  // namespace vl
