// Following the JACK transport: the position arithmetic, the rule per block on a bare
// coordinator record, and the real thing on a dummy jackd with a timebase master of ours.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <string>
#include <thread>

#include "JackTestServer.h"
#include "audio/jack/VLJack.h"
#include "host/VLVSTHostInterface.h"
#include "host/jack/JackTransportFollow.h"
#include "player/AudioFile.h"
#include "support/Wait.h"

namespace {

using namespace std::chrono_literals;

vl::TransportSnapshot bbt(bool rolling, double bpm, int bar, int beat, int tick, float perBar = 4.0f,
                          float type = 4.0f) {
    vl::TransportSnapshot s;
    s.rolling = rolling;
    s.bbtValid = true;
    s.beatsPerMinute = bpm;
    s.bar = bar;
    s.beat = beat;
    s.tick = tick;
    s.ticksPerBeat = 1920.0;
    s.beatsPerBar = perBar;
    s.beatType = type;
    return s;
}

TEST(JackTransportFollow, QuarterNotesFromBarsBeatsAndTicks) {
    struct Case {
        vl::TransportSnapshot position;
        double quarters;
    };
    vl::TransportSnapshot noBbt;
    vl::TransportSnapshot zeroBar = bbt(true, 120, 0, 1, 0);
    const Case cases[] = {
        {bbt(true, 120, 1, 1, 0), 0.0},     {bbt(true, 120, 1, 2, 0), 1.0},
        {bbt(true, 120, 2, 1, 0), 4.0},     {bbt(true, 120, 3, 4, 960), 11.5},
        {bbt(true, 120, 2, 1, 0, 3.0f), 3.0},  // 3/4
        {bbt(true, 120, 2, 2, 0, 6.0f, 8.0f), 3.5},  // 6/8: eighth-note beats
        {noBbt, 0.0},                       {zeroBar, 0.0},
    };
    for (const Case& c : cases) EXPECT_DOUBLE_EQ(vl::quarterNotesOf(c.position), c.quarters);
}

TEST(JackTransportFollow, StartsStopsAndTakesTempoAndPositionOnlyWhileEnabled) {
    vl::VLVSTHostInterfaceBase host;
    host.transportRequest = false;
    vl::JackTransportFollow follow(host);

    follow.apply(bbt(true, 140, 2, 1, 0));  // off: nothing
    EXPECT_FALSE(host.transportRequest.load());
    EXPECT_EQ(host.tempo.load(), 120.0);

    follow.setEnabled(true);
    follow.apply(bbt(true, 140, 2, 1, 0));
    EXPECT_TRUE(host.transportRequest.exchange(false));
    EXPECT_TRUE(host.requestedPlaying.load());
    EXPECT_EQ(host.tempo.load(), 140.0);
    EXPECT_TRUE(host.tempoChanged.exchange(false));
    EXPECT_TRUE(host.syncActive.load());
    EXPECT_DOUBLE_EQ(host.clockPpq.load(), 4.0);

    // Rolling on: no new request, no new tempo; the position moves.
    follow.apply(bbt(true, 140, 2, 2, 0));
    EXPECT_FALSE(host.transportRequest.load());
    EXPECT_FALSE(host.tempoChanged.load());
    EXPECT_DOUBLE_EQ(host.clockPpq.load(), 5.0);

    // A tempo outside the host's range is not taken; stopping raises a request.
    follow.apply(bbt(false, 5000, 2, 2, 0));
    EXPECT_EQ(host.tempo.load(), 140.0);
    EXPECT_TRUE(host.transportRequest.exchange(false));
    EXPECT_FALSE(host.requestedPlaying.load());

    // The master leaves: the host's own position again, the transport still followed.
    vl::TransportSnapshot plain;
    plain.rolling = true;
    follow.apply(plain);
    EXPECT_FALSE(host.syncActive.load());
    EXPECT_TRUE(host.transportRequest.exchange(false));

    // Switched off: the position is the host's; a MIDI clock's sync set meanwhile is kept.
    follow.apply(bbt(true, 140, 1, 1, 0));
    EXPECT_TRUE(host.syncActive.load());
    follow.setEnabled(false);
    follow.apply(bbt(true, 140, 1, 1, 0));
    EXPECT_FALSE(host.syncActive.load());
    host.syncActive = true;  // a MIDI clock input
    follow.apply(bbt(true, 140, 1, 1, 0));
    EXPECT_TRUE(host.syncActive.load());
}

// A timebase master of the test at 100 BPM.
void master(jack_transport_state_t, jack_nframes_t, jack_position_t* position, int, void*) {
    position->valid = JackPositionBBT;
    position->beats_per_minute = 100.0;
    position->beats_per_bar = 4.0f;
    position->beat_type = 4.0f;
    position->ticks_per_beat = 1920.0;
    const double beats = static_cast<double>(position->frame) / position->frame_rate * 100.0 / 60.0;
    position->bar = static_cast<int32_t>(beats / 4.0) + 1;
    position->beat = static_cast<int32_t>(std::fmod(beats, 4.0)) + 1;
    position->tick = static_cast<int32_t>((beats - std::floor(beats)) * 1920.0);
}

TEST(JackTransportFollow, FollowsTheServersTimebaseMasterThroughTheBackEnd) {
    if (!vltest::jackdInstalled()) GTEST_SKIP() << "jackd is not installed";
    vltest::JackTestServer server;
    ASSERT_TRUE(server.start());
    jack_status_t status{};
    jack_client_t* timebase = jack_client_open("timebase", JackNoStartServer, &status);
    ASSERT_TRUE(timebase);
    ASSERT_EQ(jack_set_timebase_callback(timebase, 0, &master, nullptr), 0);
    // PipeWire keeps a transport per driver: the master plays into the sound card as the host
    // does, so both are in one graph (on jackd there is only one anyway).
    ASSERT_TRUE(jack_port_register(timebase, "out", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0));
    ASSERT_EQ(jack_activate(timebase), 0);
    ASSERT_EQ(jack_connect(timebase, "timebase:out", server.physicalPort(true, 0).c_str()), 0);

    vl::VLVSTHostInterfaceBase host;
    vl::JackTransportFollow follow(host);
    follow.setEnabled(true);
    vl::VLJack jack("Follower");
    jack.setBlockHook(&vl::JackTransportFollow::onBlock, &follow);
    ASSERT_TRUE(jack.queryDetails(jack.output(), false));
    ASSERT_TRUE(jack.openAndStart(nullptr, jack.output(), [](float**, float**, uint32_t, void*) { return true; }, nullptr));
    jack_transport_locate(timebase, 0);
    jack_transport_start(timebase);
    // Two beats at 100 BPM take 1.2 s of the server's cycles.
    EXPECT_TRUE(vltest::waitUntil([&] { return host.clockPpq.load() >= 2.0; }, 5s, 10ms)) << [&] {
        jack_position_t p{};
        const jack_transport_state_t state = jack_transport_query(timebase, &p);
        return "transport state " + std::to_string(state) + ", frame " + std::to_string(p.frame) + " at " +
               std::to_string(p.frame_rate) + " Hz, valid " + std::to_string(p.valid) + ", bar " + std::to_string(p.bar) +
               " beat " + std::to_string(p.beat) + " tick " + std::to_string(p.tick);
    }();
    EXPECT_TRUE(host.requestedPlaying.load());
    EXPECT_EQ(host.tempo.load(), 100.0);
    EXPECT_TRUE(host.syncActive.load());
    EXPECT_GE(host.clockPpq.load(), 2.0);
    jack_transport_stop(timebase);
    EXPECT_TRUE(vltest::waitUntil([&] { return !host.requestedPlaying.load(); }, 5s, 10ms));
    jack.stop();
    jack_deactivate(timebase);
    jack_client_close(timebase);
}

}  // namespace
