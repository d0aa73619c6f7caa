// Proves that the JACK process thread allocates nothing and takes no lock while the host's
// process cycle plays the demo instrument with notes and follows the server's transport: every
// operator new and (without sanitizers) every pthread mutex lock of this program is counted
// once the process thread has marked itself in the back end's block hook.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <new>
#include <thread>

#include "JackTestServer.h"
#include "audio/jack/VLJack.h"
#include "host/HostCallback.h"
#include "host/VLVSTHostInterface.h"
#include "host/jack/JackTransportFollow.h"
#include "midi/VLNullMidi.h"
#include "player/AudioFile.h"
#include "settings/HostSettings.h"
#include "settings/MemoryStore.h"

#include "support/CountingAllocator.h"
#include "support/Wait.h"

namespace {

using namespace std::chrono_literals;

struct Marked {
    vl::JackTransportFollow* follow;
    static void hook(jack_client_t* client, void* user) {
        countingHere = true;
        vl::JackTransportFollow::onBlock(client, static_cast<Marked*>(user)->follow);
    }
};

TEST(JackRealtime, TheProcessThreadAllocatesNothingAndTakesNoLock) {
    if (!vltest::jackdInstalled()) GTEST_SKIP() << "jackd is not installed";
    vltest::JackTestServer server(128);
    ASSERT_TRUE(server.start());

    vl::PluginSlot slot;
    vl::setHostContext(&slot);
    ASSERT_EQ(slot.load(VL_DEMO_MODULE), vl::LoadResult::Loaded);
    vl::VLJack jack("Realtime");
    vl::AudioBackendSet backends;
    backends.set(vl::kDeviceTypeJack, &jack);
    vl::VLNullMidi midi;
    vl::HostSettings settings(L"Realtime", std::make_shared<vl::MemoryStore>());
    settings.outputDevice = jack.output();
    vl::VLVSTHostInterface host;
    host.link(&slot, &backends, &midi, &settings);
    vl::JackTransportFollow follow(host);
    follow.setEnabled(true);
    Marked marked{&follow};
    jack.setBlockHook(&Marked::hook, &marked);
    ASSERT_TRUE(host.StartAudioEngine());
    host.requestTransport(true);

    // Notes and tempo changes while blocks run.
    for (int i = 0; i < 20; ++i) {
        host.KeyboardNote(i % 2 ? 'D' : 'G', true);
        std::this_thread::sleep_for(20ms);
        host.KeyboardNote(i % 2 ? 'D' : 'G', false);
        host.handOverTempo(100.0 + i);
    }
    // At least 50 cycles (250 ms of the server's) ran the hook and the block, however late a
    // loaded machine runs them.
    EXPECT_TRUE(vltest::waitUntil([&] { return jack.cyclesRun() > 50; }, 10s, 20ms));
    const uint64_t cycles = jack.cyclesRun();
    host.StopAudioEngine();
    host.StopMidiEngine();
    slot.close();
    EXPECT_GT(cycles, 50u);
    EXPECT_EQ(allocations.load(), 0);
    EXPECT_EQ(locks.load(), 0);
}

}  // namespace
