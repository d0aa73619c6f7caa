// Cost of the host's JACK process callback per block, against a bare JACK client that copies
// its input to its output, both on one private dummy jackd in the same run. The host's block
// callback here copies too, so the difference is what VLJack adds around the process cycle.

#include <jack/jack.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "JackTestServer.h"
#include "audio/jack/VLJack.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Meter {
    std::atomic<uint64_t> nanoseconds{0};
    std::atomic<uint64_t> blocks{0};
    void add(Clock::time_point start) {
        nanoseconds.fetch_add(static_cast<uint64_t>((Clock::now() - start).count()), std::memory_order_relaxed);
        blocks.fetch_add(1, std::memory_order_relaxed);
    }
    double perBlockUs() const { return blocks ? nanoseconds / 1000.0 / static_cast<double>(blocks) : 0.0; }
};

struct Bare {
    jack_port_t* in[2];
    jack_port_t* out[2];
    Meter meter;
};

int bareProcess(jack_nframes_t frames, void* user) {
    auto* bare = static_cast<Bare*>(user);
    const auto start = Clock::now();
    for (int c = 0; c < 2; ++c)
        std::memcpy(jack_port_get_buffer(bare->out[c], frames), jack_port_get_buffer(bare->in[c], frames),
                    frames * sizeof(float));
    bare->meter.add(start);
    return 0;
}

bool copyBlock(float** in, float** out, uint32_t frames, void*) {
    for (int c = 0; c < 2; ++c)
        if (in[c] != out[c]) std::memcpy(out[c], in[c], frames * sizeof(float));
    return true;
}

}  // namespace

int main() {
    vltest::JackTestServer server(256);
    if (!server.start()) {
        std::printf("jackd could not be started: no figures\n");
        return 0;
    }
    constexpr auto kRun = std::chrono::seconds(3);

    // The bare client.
    jack_status_t status{};
    jack_client_t* client = jack_client_open("bare", JackNoStartServer, &status);
    Bare bare{};
    for (int c = 0; c < 2; ++c) {
        bare.in[c] = jack_port_register(client, c ? "in_right" : "in_left", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        bare.out[c] = jack_port_register(client, c ? "out_right" : "out_left", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
    }
    jack_set_process_callback(client, &bareProcess, &bare);
    jack_activate(client);
    jack_connect(client, "system:capture_1", "bare:in_left");
    jack_connect(client, "system:capture_2", "bare:in_right");
    std::this_thread::sleep_for(kRun);
    jack_deactivate(client);
    jack_client_close(client);

    // The host's back end with a copying process cycle, timed around its whole callback.
    vl::VLJack jack("host");
    jack.queryDetails(jack.output(), false);
    jack.queryDetails(jack.input(), false);
    jack.openAndStart(jack.input(), jack.output(), &copyBlock, nullptr);
    std::this_thread::sleep_for(kRun);
    jack.stop();
    const uint64_t hostBlocks = jack.cyclesRun();
    const double hostUs = hostBlocks ? jack.processNanoseconds() / 1000.0 / static_cast<double>(hostBlocks) : 0.0;

    std::printf("JACK process callback, 256-frame blocks at 48 kHz, %lld s each\n",
                static_cast<long long>(kRun.count()));
    std::printf("  bare copy client:   %8.3f us per block (%llu blocks)\n", bare.meter.perBlockUs(),
                static_cast<unsigned long long>(bare.meter.blocks.load()));
    std::printf("  VLJack, copy cycle: %8.3f us per block (%llu blocks)\n", hostUs,
                static_cast<unsigned long long>(hostBlocks));
    if (bare.meter.perBlockUs() > 0.0) std::printf("  ratio VLJack / bare: %.2f\n", hostUs / bare.meter.perBlockUs());
    return 0;
}
