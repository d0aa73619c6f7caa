// The JACK back end against a private jackd with the dummy driver.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "JackTestClient.h"
#include "JackTestServer.h"
#include "audio/jack/VLJack.h"
#include "platform/Text.h"
#include "support/SignalAnalysis.h"
#include "support/Wait.h"

namespace {

using namespace std::chrono_literals;

using vltest::waitUntil;

int indexOf(const vl::AudioDeviceRecord& record, const std::string& port) {
    const auto it = std::find(record.channelNames.begin(), record.channelNames.end(), vl::platform::utf8ToWide(port));
    return it == record.channelNames.end() ? -1 : static_cast<int>(it - record.channelNames.begin());
}

// Halves the input; counts blocks and remembers the largest one.
struct Halver {
    std::atomic<uint32_t> blocks{0};
    std::atomic<uint32_t> largest{0};
    static bool render(float** in, float** out, uint32_t frames, void* user) {
        auto* self = static_cast<Halver*>(user);
        for (int c = 0; c < 2; ++c)
            for (uint32_t i = 0; i < frames; ++i) out[c][i] = 0.5f * in[c][i];
        self->blocks.fetch_add(1);
        if (frames > self->largest.load()) self->largest.store(frames);
        return true;
    }
};

class VLJackTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!vltest::jackdInstalled()) GTEST_SKIP() << "jackd is not installed (scripts/setup installs jackd2)";
        ASSERT_TRUE(server.start()) << "jackd did not start within its bound";
    }
    vltest::JackTestServer server;
};

TEST(VLJackNoServer, EveryEntryFailsAtOnceWithoutAServer) {
    setenv("JACK_DEFAULT_SERVER", "vltest_nobody_here", 1);
    // PipeWire's libjack picks its server by PIPEWIRE_REMOTE and not by the JACK name.
    const char* remote = std::getenv("PIPEWIRE_REMOTE");
    const std::string remoteBefore = remote ? remote : "";
    setenv("PIPEWIRE_REMOTE", "vltest_nobody_here", 1);
    vl::VLJack jack("NoServer");
    Halver halver;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(jack.connect());
    EXPECT_FALSE(jack.queryDetails(jack.output(), false));
    EXPECT_FALSE(jack.openAndStart(jack.input(), jack.output(), &Halver::render, &halver));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    EXPECT_FALSE(jack.running.load());
    if (remote) setenv("PIPEWIRE_REMOTE", remoteBefore.c_str(), 1);
    else unsetenv("PIPEWIRE_REMOTE");
}

TEST_F(VLJackTest, RecordsTakeTheServersRateBlockSizeAndPhysicalPorts) {
    vl::VLJack jack("Details");
    for (vl::AudioDeviceRecord* record : {jack.input(), jack.output()}) {
        record->bufferSize = 1024;  // as a stored setting would say
        ASSERT_TRUE(jack.queryDetails(record, false));
        EXPECT_EQ(record->sampleRate, vltest::JackTestServer::kRate);
        EXPECT_EQ(record->bufferSize, 256u);
        EXPECT_EQ(record->type, vl::kDeviceTypeJack);
        EXPECT_TRUE(record->detailsKnown);
    }
    // The server's physical ports first, in its order (PipeWire's null sink has no capture side).
    for (bool playback : {false, true})
        for (size_t i = 0; i < 2; ++i) {
            const std::string port = server.physicalPort(playback, i);
            if (port.empty() && server.external()) continue;
            EXPECT_EQ(indexOf(playback ? *jack.output() : *jack.input(), port), static_cast<int>(i)) << port;
        }
    EXPECT_EQ(jack.portName(false, 0), "Details:out_left");
}

TEST_F(VLJackTest, AudioFlowsThroughTheProcessCycleWithoutGaps) {
    // The sine comes from a client of its own: a loop through one client is scheduled by
    // PipeWire in an order that may change while it runs, and what comes back then jumps.
    vltest::JackTestClient source("source");
    vltest::JackTestClient tester("tester");
    ASSERT_TRUE(source.ok() && tester.ok());
    source.setSine(441.0, 0.5f);
    vl::VLJack jack("Through");
    Halver halver;
    ASSERT_TRUE(jack.queryDetails(jack.input(), false));
    ASSERT_TRUE(jack.queryDetails(jack.output(), false));
    jack.input()->leftChannel = jack.input()->rightChannel = indexOf(*jack.input(), source.port("out"));
    jack.output()->leftChannel = indexOf(*jack.output(), tester.port("in_left"));
    jack.output()->rightChannel = indexOf(*jack.output(), tester.port("in_right"));
    ASSERT_GE(jack.input()->leftChannel, 0);
    ASSERT_GE(jack.output()->rightChannel, 0);
    ASSERT_TRUE(jack.openAndStart(jack.input(), jack.output(), &Halver::render, &halver));
    ASSERT_TRUE(waitUntil([&] { return halver.blocks.load() > 10; }, 3s));
    // jackd links the ports for the next cycle, PipeWire some cycles later: captured from the
    // first 10 ms piece in which the host is heard on.
    ASSERT_TRUE(waitUntil([&] {
        tester.capture();
        return waitUntil([&] { return tester.captured() >= 480; }, 3s) && demotest::peakLevel(tester.left(), 0, 480) > 0.2f;
    }, 5s));
    tester.capture();
    ASSERT_TRUE(waitUntil([&] { return tester.captured() >= 48000; }, 5s));
    jack.stop();
    const std::vector<float> left = demotest::slice(tester.left(), 0, 48000);
    const std::vector<float> right = demotest::slice(tester.right(), 0, 48000);
    EXPECT_NEAR(demotest::peakLevel(left), 0.25f, 0.01f);
    EXPECT_NEAR(demotest::peakLevel(right), 0.25f, 0.01f);
    EXPECT_NEAR(demotest::Spectrum(left, 48000).peakFrequency(200, 2000), 441.0, 1.0);
    // A sine of 441 Hz at 0.25 moves by at most 0.0145 per frame; a lost block jumps further.
    if (!vltest::kUnderThreadSanitizer) {
        EXPECT_LT(demotest::largestStep(left), 0.02f);
    }
    EXPECT_FALSE(jack.running.load());
}

struct SizeHook {
    std::atomic<uint32_t> told{0};
    bool accept = true;
    static bool hook(uint32_t frames, void* user) {
        auto* self = static_cast<SizeHook*>(user);
        self->told.store(frames);
        return self->accept;
    }
};

TEST_F(VLJackTest, ANewServerBlockSizeIsTakenOverBetweenCyclesOrAsksForARestart) {
    vltest::JackTestClient tester("resizer");
    ASSERT_TRUE(tester.ok());
    vl::VLJack jack("Resize");
    Halver halver;
    SizeHook sizes;
    sizes.accept = false;  // the coordinator cannot take it: a restart tells the plug-in
    jack.setBlockSizeHook(&SizeHook::hook, &sizes);
    ASSERT_TRUE(jack.queryDetails(jack.output(), false));
    ASSERT_TRUE(jack.openAndStart(nullptr, jack.output(), &Halver::render, &halver));
    ASSERT_TRUE(waitUntil([&] { return halver.blocks.load() > 4; }, 3s));
    EXPECT_EQ(jack.takeDeviceEvent(), vl::DeviceEvent::None);
    ASSERT_EQ(jack_set_buffer_size(tester.handle(), 1024), 0);
    EXPECT_TRUE(waitUntil([&] { return jack.takeDeviceEvent() == vl::DeviceEvent::RestartRequested; }, 3s));
    EXPECT_EQ(sizes.told.load(), 1024u);
    // The planes hold the largest block already: the block comes whole, nothing is allocated.
    ASSERT_TRUE(waitUntil([&] { return halver.largest.load() == 1024u; }, 3s));
    jack.stop();
    ASSERT_TRUE(jack.queryDetails(jack.output(), false));
    EXPECT_EQ(jack.output()->bufferSize, 1024u);
    ASSERT_TRUE(jack.openAndStart(nullptr, jack.output(), &Halver::render, &halver));
    ASSERT_TRUE(waitUntil([&] { return halver.blocks.load() > 4; }, 3s));
    EXPECT_EQ(jack.takeDeviceEvent(), vl::DeviceEvent::None);

    // Taken over by the hook: no restart; the host's own request goes through the server.
    sizes.accept = true;
    EXPECT_FALSE(jack.requestBlockSize(100));    // not a power of two
    EXPECT_FALSE(jack.requestBlockSize(16384));  // beyond the bound
    EXPECT_EQ(jack.neighbourBlockSize(false), 512u);
    EXPECT_EQ(jack.neighbourBlockSize(true), 2048u);
    ASSERT_TRUE(jack.requestBlockSize(jack.neighbourBlockSize(false)));
    // jackd has changed it when the request returns; PipeWire at one of its next cycles.
    EXPECT_TRUE(waitUntil([&] { return jack.serverBlockSize() == 512u; }, 3s));
    EXPECT_EQ(sizes.told.load(), 512u);
    const uint32_t before = halver.blocks.load();
    ASSERT_TRUE(waitUntil([&] { return halver.blocks.load() > before + 8; }, 3s));
    EXPECT_EQ(jack.takeDeviceEvent(), vl::DeviceEvent::None);
}

// Holds the process cycle inside the "plug-in" until the test lets it go (bounded).
struct Holder {
    std::atomic<bool> hold{false};
    std::atomic<bool> holding{false};
    std::atomic<uint32_t> blocks{0};
    static bool render(float**, float** out, uint32_t frames, void* user) {
        auto* self = static_cast<Holder*>(user);
        const auto until = std::chrono::steady_clock::now() + 20s;
        while (self->hold.load() && std::chrono::steady_clock::now() < until) {
            self->holding.store(true);
            std::this_thread::sleep_for(1ms);
        }
        self->holding.store(false);
        for (int c = 0; c < 2; ++c)
            for (uint32_t i = 0; i < frames; ++i) out[c][i] = 0.0f;
        self->blocks.fetch_add(1);
        return true;
    }
};

TEST_F(VLJackTest, AStopThatGivesUpOnACycleKeepsEverythingUntilItLeavesAndDeactivates) {
    vl::VLJack jack("Stuck");
    Holder holder;
    ASSERT_TRUE(jack.queryDetails(jack.output(), false));
    ASSERT_TRUE(jack.openAndStart(nullptr, jack.output(), &Holder::render, &holder));
    ASSERT_TRUE(waitUntil([&] { return holder.blocks.load() > 2; }, 3s));
    holder.hold.store(true);
    ASSERT_TRUE(waitUntil([&] { return holder.holding.load(); }, 3s));
    jack.stop();  // gives up after its bound: the cycle is still inside
    EXPECT_TRUE(holder.holding.load());
    EXPECT_FALSE(jack.settleStop(0));
    // Nothing starts while it is inside, and the planes it uses stay.
    EXPECT_FALSE(jack.openAndStart(nullptr, jack.output(), &Holder::render, &holder));
    EXPECT_NE(jack.leftPlane, nullptr);
    holder.hold.store(false);
    EXPECT_TRUE(waitUntil([&] { return jack.settleStop(0); }, 10s));
    // Deactivated by the stop: a new start activates it again and runs.
    const uint32_t before = holder.blocks.load();
    ASSERT_TRUE(jack.openAndStart(nullptr, jack.output(), &Holder::render, &holder));
    EXPECT_TRUE(waitUntil([&] { return holder.blocks.load() > before + 4; }, 3s));
    jack.disconnect();
}

bool joined(jack_client_t* client, const std::string& a, const std::string& b) {
    jack_port_t* port = jack_port_by_name(client, a.c_str());
    return port && jack_port_connected_to(port, b.c_str());
}

TEST_F(VLJackTest, ARestartKeepsTheUsersConnectionsAndMovesOnlyItsOwn) {
    vltest::JackTestClient tester("patchbay");
    ASSERT_TRUE(tester.ok());
    vl::VLJack jack("Keeper");
    Halver halver;
    ASSERT_TRUE(jack.queryDetails(jack.output(), false));
    ASSERT_TRUE(jack.openAndStart(nullptr, jack.output(), &Halver::render, &halver));
    jack_client_t* c = tester.handle();
    const std::string first = server.physicalPort(true, 0), second = server.physicalPort(true, 1);
    // jackd shows a connection to every client at once; PipeWire to the others a little later.
    const auto seen = [&](const std::string& port, bool connected) {
        return waitUntil([&] { return joined(c, "Keeper:out_left", port) == connected; }, 3s);
    };
    EXPECT_TRUE(seen(first, true));
    // The user's own connection, made with a patchbay.
    ASSERT_EQ(vltest::connectWhenKnown(c, "Keeper:out_left", tester.port("in_left").c_str()), 0);
    jack.stop();
    const uint32_t stoppedAt = halver.blocks.load();
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(halver.blocks.load(), stoppedAt);  // no process cycle once stopped
    // The user chooses other ports for the left side.
    ASSERT_TRUE(jack.queryDetails(jack.output(), false));
    jack.output()->leftChannel = indexOf(*jack.output(), second);
    ASSERT_TRUE(jack.openAndStart(nullptr, jack.output(), &Halver::render, &halver));
    EXPECT_TRUE(seen(second, true));
    EXPECT_TRUE(seen(first, false));
    EXPECT_TRUE(joined(c, "Keeper:out_left", tester.port("in_left")));
    EXPECT_TRUE(waitUntil([&] { return halver.blocks.load() > stoppedAt + 4; }, 3s));
    jack.stop();
}

TEST_F(VLJackTest, AServerThatQuitsIsNoticedAndNothingHangs) {
    if (server.external()) GTEST_SKIP() << "the server is not the test's to stop";
    vl::VLJack jack("Quitter");
    Halver halver;
    ASSERT_TRUE(jack.queryDetails(jack.output(), false));
    ASSERT_TRUE(jack.openAndStart(nullptr, jack.output(), &Halver::render, &halver));
    ASSERT_TRUE(waitUntil([&] { return halver.blocks.load() > 4; }, 3s));
    server.stop();
    EXPECT_TRUE(waitUntil([&] { return jack.serverLost(); }, 5s));
    EXPECT_EQ(jack.takeDeviceEvent(), vl::DeviceEvent::Failed);
    EXPECT_FALSE(jack.running.load());
    const auto start = std::chrono::steady_clock::now();
    jack.stop();
    EXPECT_FALSE(jack.connected());
    EXPECT_FALSE(jack.connect());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
}

}  // namespace
