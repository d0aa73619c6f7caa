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

#include "JackTestClient.h"
#include "JackTestServer.h"
#include "audio/jack/VLJack.h"
#include "host/HostCallback.h"
#include "host/VLVSTHostInterface.h"
#include "host/jack/JackTransportFollow.h"
#include "midi/jack/VLJackMidi.h"
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
    // MIDI on the same client: its input is read and handed to the coordinator's filters
    // inside the cycle, and the plug-in's MIDI out written there.
    vl::VLJackMidi midi(jack);
    ASSERT_TRUE(midi.connect());
    vl::HostSettings settings(L"Realtime", std::make_shared<vl::MemoryStore>());
    settings.mergeMidiDevices(midi.devices);
    settings.outputDevice = jack.output();
    vl::VLVSTHostInterface host;
    host.link(&slot, &backends, &midi, &settings);
    vl::JackTransportFollow follow(host);
    follow.setEnabled(true);
    Marked marked{&follow};
    jack.setBlockHook(&Marked::hook, &marked);
    ASSERT_TRUE(host.StartAudioEngine());
    ASSERT_TRUE(host.StartMidiEngine());
    vltest::JackTestClient sender("sender");
    ASSERT_TRUE(sender.ok());
    ASSERT_EQ(vltest::connectWhenKnown(sender.handle(), "sender:midi_out", "Realtime:midi_in"), 0);
    host.requestTransport(true);

    // Notes from the JACK input at frames across the blocks, a controller and clock ticks.
    std::vector<vltest::ScheduledMidi> notes;
    for (uint64_t k = 0; k < 60; ++k) {
        const auto note = static_cast<uint8_t>(48 + k % 24);
        notes.push_back({k * 300 + 7, {0x90, note, 90}, 3});
        notes.push_back({k * 300 + 150, {0x80, note, 0}, 3});
        notes.push_back({k * 300 + 151, {0xF8, 0, 0}, 1});
    }
    notes.push_back({18200, {0xB0, 7, 100}, 3});
    sender.schedule(notes);
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
    EXPECT_TRUE(vltest::waitUntil([&] { return sender.scheduleDone(); }, 10s, 20ms));
    EXPECT_TRUE(vltest::waitUntil([&] { return jack.cyclesRun() > 200; }, 10s, 20ms));
    const uint64_t cycles = jack.cyclesRun();
    host.StopAudioEngine();
    // The input really went through the engine's decoder in the cycle (its last message;
    // closing replaces it with the close notice).
    const uint8_t lastCommand = midi.messageRecord.command;
    host.StopMidiEngine();
    slot.close();
    EXPECT_GT(cycles, 50u);
    EXPECT_NE(lastCommand, 0);

    EXPECT_EQ(allocations.load(), 0);
    EXPECT_EQ(locks.load(), 0);
}

}  // namespace
