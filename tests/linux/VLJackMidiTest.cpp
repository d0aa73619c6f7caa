// The JACK MIDI engine against a private dummy jackd: its device list, what reaches the
// handler (decoded and timed on the server's frame clock), close notices, and the output.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "JackTestClient.h"
#include "JackTestServer.h"
#include "midi/jack/VLJackMidi.h"
#include "platform/Text.h"
#include "support/Wait.h"

namespace {

using namespace std::chrono_literals;

using vltest::waitUntil;

struct Recorder {
    std::mutex lock;
    std::vector<vl::MidiMessage> messages;
    int closeNotices = 0;
    static void handle(const vl::MidiMessage* message, void* user) {
        auto* self = static_cast<Recorder*>(user);
        std::lock_guard<std::mutex> hold(self->lock);
        if (message->status == 0 && message->command == 0) ++self->closeNotices;
        else self->messages.push_back(*message);
    }
    size_t count() {
        std::lock_guard<std::mutex> hold(lock);
        return messages.size();
    }
};

// The audio engine whose process cycle delivers the MIDI: silence.
bool silent(float**, float** out, uint32_t frames, void*) {
    for (int c = 0; c < 2; ++c)
        for (uint32_t i = 0; i < frames; ++i) out[c][i] = 0.0f;
    return true;
}

bool startAudio(vl::VLJack& audio) {
    return audio.queryDetails(audio.output(), false) && audio.openAndStart(nullptr, audio.output(), &silent, nullptr);
}

const vl::MidiDeviceRecord* findDevice(const vl::VLJackMidi& midi, const std::wstring& name, bool isInput) {
    for (const auto& d : midi.devices)
        if (d->name == name && d->isInput == isInput) return d.get();
    return nullptr;
}

class VLJackMidiTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!vltest::jackdInstalled()) GTEST_SKIP() << "jackd is not installed";
        ASSERT_TRUE(server.start());
        client = std::make_unique<vltest::JackTestClient>("sender");
        ASSERT_TRUE(client->ok());
    }
    vltest::JackTestServer server;
    std::unique_ptr<vltest::JackTestClient> client;  // on the server, so made after its start
    vltest::JackTestClient& tester() { return *client; }
    // What was connected a moment ago is connected in the server's cycles from now on.
    testing::AssertionResult cyclesPass(uint64_t n = 3) {
        const uint64_t from = tester().cycles();
        return waitUntil([&] { return tester().cycles() >= from + n; }, 5s);
    }
};

TEST_F(VLJackMidiTest, TheHostsOwnPortsComeFirstThenTheOtherClientsPorts) {
    vl::VLJack audio("Devices");
    vl::VLJackMidi midi(audio);
    ASSERT_TRUE(midi.connect());
    ASSERT_GE(midi.devices.size(), 4u);
    EXPECT_EQ(midi.devices[0]->name, vl::kJackMidiInName);
    EXPECT_TRUE(midi.devices[0]->active.get());  // a first run plays from the host's own input
    const vl::MidiDeviceRecord* source = findDevice(midi, L"sender:midi_out", true);
    const vl::MidiDeviceRecord* out = findDevice(midi, vl::kJackMidiOutName, false);
    const vl::MidiDeviceRecord* sink = findDevice(midi, L"sender:midi_in", false);
    ASSERT_TRUE(source && out && sink);
    EXPECT_FALSE(source->active.get());
    EXPECT_TRUE(out->active.get());
    EXPECT_EQ(out->deviceId, 0);
    EXPECT_EQ(midi.portNameOf(0), "Devices:midi_in");
}

TEST_F(VLJackMidiTest, MessagesAreDecodedAndTimedOnTheServersFrameClock) {
    vl::VLJack audio("Timed");
    vl::VLJackMidi midi(audio);
    ASSERT_TRUE(midi.connect());
    ASSERT_TRUE(startAudio(audio));
    Recorder recorder;
    const int32_t input = 0;
    ASSERT_TRUE(midi.openDevices(&input, nullptr, &Recorder::handle, &recorder));
    ASSERT_EQ(vltest::connectWhenKnown(tester().handle(), "sender:midi_out", "Timed:midi_in"), 0);
    ASSERT_TRUE(cyclesPass());
    // A note, a controller, and clock ticks 1000 frames apart (120 BPM at 48 kHz), a
    // system-exclusive start that the host does not pass on.
    tester().schedule({{0, {0x91, 60, 100}, 3}, {10, {0xB0, 7, 64}, 3}, {20, {0xF0, 1, 2}, 3},
                     {1000, {0xF8, 0, 0}, 1}, {2000, {0xF8, 0, 0}, 1}, {3000, {0xF8, 0, 0}, 1}});
    ASSERT_TRUE(waitUntil([&] { return recorder.count() >= 5; }, 3s));
    std::this_thread::sleep_for(100ms);
    std::lock_guard<std::mutex> hold(recorder.lock);
    ASSERT_EQ(recorder.messages.size(), 5u);
    const vl::MidiMessage& note = recorder.messages[0];
    EXPECT_EQ(note.command, 0x90);
    EXPECT_EQ(note.channel, 1);
    EXPECT_EQ(note.data1, 60);
    EXPECT_EQ(note.data2, 100);
    // The times are the server's frames at which the messages went out: 10 and 1000 frames
    // apart as scheduled, later where the sender missed a cycle on a loaded machine.
    ASSERT_EQ(tester().sentCount(), 6u);
    const auto sentMs = [&](size_t from, size_t to) {
        return static_cast<jack_nframes_t>(tester().sentFrame(to) - tester().sentFrame(from)) / 48.0;
    };
    EXPECT_EQ(recorder.messages[1].command, 0xB0);
    EXPECT_NEAR(recorder.messages[1].deltaMs, sentMs(0, 1), 1e-6);
    for (size_t i = 2; i < 5; ++i) {
        EXPECT_EQ(recorder.messages[i].status, 0xF8);
        // Ticks land in different blocks; their times are still exact (message i is event i + 1).
        if (i > 2) {
            EXPECT_NEAR(recorder.messages[i].timeMs - recorder.messages[i - 1].timeMs, sentMs(i, i + 1), 1e-6);
        }
    }
}

TEST_F(VLJackMidiTest, AnotherClientsPortIsConnectedWhenItsDeviceOpensAndClosedWithANotice) {
    vl::VLJack audio("Source");
    vl::VLJackMidi midi(audio);
    ASSERT_TRUE(midi.connect());
    ASSERT_TRUE(startAudio(audio));
    const vl::MidiDeviceRecord* source = findDevice(midi, L"sender:midi_out", true);
    ASSERT_TRUE(source);
    Recorder own, other;
    const int32_t ownId = 0, otherId = source->deviceId;
    ASSERT_TRUE(midi.openDevices(&ownId, nullptr, &Recorder::handle, &own));
    ASSERT_TRUE(midi.openDevices(&otherId, nullptr, &Recorder::handle, &other));
    ASSERT_TRUE(cyclesPass());
    tester().schedule({{0, {0x90, 64, 90}, 3}});
    ASSERT_TRUE(waitUntil([&] { return other.count() == 1; }, 3s));
    EXPECT_EQ(own.count(), 0u);  // nobody is connected to the host's own input
    midi.closeDevices();
    EXPECT_EQ(own.closeNotices, 1);
    EXPECT_EQ(other.closeNotices, 1);
    // Closed: the connection is gone and nothing more is delivered.
    tester().schedule({{0, {0x90, 65, 90}, 3}});
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(other.count(), 1u);
    midi.closeDevices();
    EXPECT_EQ(other.closeNotices, 1);
}

TEST_F(VLJackMidiTest, ThePluginsMidiLeavesThroughTheOutputOnlyWhileItIsOpen) {
    vl::VLJack audio("Out");
    vl::VLJackMidi midi(audio);
    ASSERT_TRUE(midi.connect());
    const vl::MidiDeviceRecord* sink = findDevice(midi, L"sender:midi_in", false);
    ASSERT_TRUE(sink);
    midi.sendShortMessage(0x7F3C90);  // before opening: dropped
    const int32_t output = sink->deviceId;
    ASSERT_TRUE(midi.openDevices(nullptr, &output, nullptr, nullptr));
    ASSERT_TRUE(cyclesPass());
    midi.sendShortMessage(0x643C90);
    midi.sendShortMessage(0x0540C0);  // a program change: two bytes
    ASSERT_TRUE(waitUntil([&] { return tester().receivedCount() >= 2; }, 3s));
    EXPECT_EQ(tester().received(0), 0x643C90u);
    EXPECT_EQ(tester().received(1), 0x40C0u);
    midi.closeDevices();
    midi.sendShortMessage(0x643D90);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(tester().receivedCount(), 2u);
}

TEST_F(VLJackMidiTest, AServerThatQuitsLeavesNothingOpen) {
    if (server.external()) GTEST_SKIP() << "the server is not the test's to stop";
    vl::VLJack audio("Gone");
    vl::VLJackMidi midi(audio);
    ASSERT_TRUE(midi.connect());
    ASSERT_TRUE(startAudio(audio));
    Recorder recorder;
    const int32_t input = 0;
    ASSERT_TRUE(midi.openDevices(&input, nullptr, &Recorder::handle, &recorder));
    // libjack of jackd2 may crash closing a third client of one process after the server is
    // gone; the test's own client leaves first.
    client.reset();
    server.stop();
    EXPECT_TRUE(waitUntil([&] { return midi.serverLost(); }, 5s));
    EXPECT_FALSE(midi.openDevices(&input, nullptr, &Recorder::handle, &recorder));
    midi.disconnect();
    EXPECT_EQ(recorder.closeNotices, 1);
    EXPECT_FALSE(midi.connect());
}

}  // namespace

namespace {

bool joinedPorts(jack_client_t* client, const std::string& a, const std::string& b) {
    jack_port_t* port = jack_port_by_name(client, a.c_str());
    return port && jack_port_connected_to(port, b.c_str());
}

TEST_F(VLJackMidiTest, PortsAreNamedAfterTheirSourcesAndNewSourcesAreListedWhenTheyAppear) {
    vl::VLJack audio("Plug");
    vl::VLJackMidi midi(audio);
    ASSERT_TRUE(midi.connect());
    const vl::MidiDeviceRecord* sender = findDevice(midi, L"sender:midi_out", true);
    ASSERT_TRUE(sender);
    EXPECT_EQ(midi.portNameOf(sender->deviceId), "Plug:in sender:midi_out");
    // The host's own ports are no news.
    ASSERT_TRUE(cyclesPass());
    EXPECT_FALSE(midi.devicesChanged());
    // A keyboard plugged in later: the server tells, the listing follows on this thread.
    auto keyboard = std::make_unique<vltest::JackTestClient>("keyboard");
    ASSERT_TRUE(keyboard->ok());
    ASSERT_TRUE(waitUntil([&] { return midi.devicesChanged(); }, 5s));
    EXPECT_EQ(findDevice(midi, L"keyboard:midi_out", true), nullptr);
    // Its ports are announced one by one: listed as they come.
    bool grew = false;
    ASSERT_TRUE(waitUntil([&] {
        grew = midi.refreshDevices() || grew;
        return findDevice(midi, L"keyboard:midi_out", true) && findDevice(midi, L"keyboard:midi_in", false);
    }, 5s));
    EXPECT_TRUE(grew);
    const vl::MidiDeviceRecord* added = findDevice(midi, L"keyboard:midi_out", true);
    ASSERT_TRUE(added);
    EXPECT_TRUE(findDevice(midi, L"keyboard:midi_in", false));
    EXPECT_EQ(midi.portNameOf(added->deviceId), "Plug:in keyboard:midi_out");
    // Its notes play once it is chosen.
    ASSERT_TRUE(startAudio(audio));
    Recorder recorder;
    const int32_t id = added->deviceId;
    ASSERT_TRUE(midi.openDevices(&id, nullptr, &Recorder::handle, &recorder));
    ASSERT_TRUE(cyclesPass());
    keyboard->schedule({{0, {0x90, 61, 80}, 3}});
    EXPECT_TRUE(waitUntil([&] { return recorder.count() == 1; }, 3s));
    // The same listing again changes nothing.
    EXPECT_FALSE(midi.refreshDevices());
}

TEST_F(VLJackMidiTest, AConnectionTheUserRemovedStaysRemovedUntilTheDeviceIsChosenAgain) {
    vl::VLJack audio("Patch");
    vl::VLJackMidi midi(audio);
    ASSERT_TRUE(midi.connect());
    ASSERT_TRUE(startAudio(audio));
    const vl::MidiDeviceRecord* source = findDevice(midi, L"sender:midi_out", true);
    ASSERT_TRUE(source);
    const int32_t id = source->deviceId;
    const std::string own = midi.portNameOf(id);
    Recorder recorder;
    ASSERT_TRUE(midi.openDevices(&id, nullptr, &Recorder::handle, &recorder));
    // jackd shows a connection to every client at once; PipeWire to the others a little later.
    const auto seesJoined = [&](jack_client_t* client, const std::string& a, const std::string& b) {
        return waitUntil([&] { return joinedPorts(client, a, b); }, 3s);
    };
    EXPECT_TRUE(seesJoined(tester().handle(), "sender:midi_out", own));
    // The user breaks it in a patchbay; the engine opens the same device again (a settings change).
    ASSERT_EQ(jack_disconnect(tester().handle(), "sender:midi_out", own.c_str()), 0);
    ASSERT_TRUE(waitUntil([&] { return !joinedPorts(audio.handle(), own, "sender:midi_out"); }, 3s));
    ASSERT_TRUE(cyclesPass());
    midi.closeDevices();
    ASSERT_TRUE(midi.openDevices(&id, nullptr, &Recorder::handle, &recorder));
    ASSERT_TRUE(cyclesPass());
    EXPECT_FALSE(joinedPorts(tester().handle(), "sender:midi_out", own));
    // What the settings keep of it: the source's name, and nothing else.
    EXPECT_EQ(midi.removedConnections(), std::vector<std::string>{"sender:midi_out"});
    // Not chosen in one opening, chosen in the next: connected again.
    midi.closeDevices();
    midi.closeDevices();
    ASSERT_TRUE(midi.openDevices(&id, nullptr, &Recorder::handle, &recorder));
    EXPECT_TRUE(seesJoined(tester().handle(), "sender:midi_out", own));
    EXPECT_TRUE(midi.removedConnections().empty());
}

// The next run gets what the settings kept: the same device opens unconnected, the others
// connect as usual; a removed source that is not there is not kept.
TEST_F(VLJackMidiTest, AConnectionRemovedInAnEarlierRunStaysRemovedAtTheNextStart) {
    vltest::JackTestClient other("other");
    ASSERT_TRUE(other.ok());
    vl::VLJack audio("Next");
    vl::VLJackMidi midi(audio);
    ASSERT_TRUE(midi.connect());
    ASSERT_TRUE(startAudio(audio));
    midi.keepRemoved({"sender:midi_out", "gone:midi_out"});
    const vl::MidiDeviceRecord* kept = findDevice(midi, L"sender:midi_out", true);
    const vl::MidiDeviceRecord* plain = findDevice(midi, L"other:midi_out", true);
    ASSERT_TRUE(kept && plain);
    Recorder recorder;
    for (const int32_t id : {kept->deviceId, plain->deviceId})
        ASSERT_TRUE(midi.openDevices(&id, nullptr, &Recorder::handle, &recorder));
    ASSERT_TRUE(cyclesPass());
    EXPECT_FALSE(joinedPorts(tester().handle(), "sender:midi_out", midi.portNameOf(kept->deviceId)));
    EXPECT_TRUE(waitUntil([&] { return joinedPorts(tester().handle(), "other:midi_out", midi.portNameOf(plain->deviceId)); }, 5s));
    // Still removed, so the next save keeps it again.
    EXPECT_EQ(midi.removedConnections(), std::vector<std::string>{"sender:midi_out"});
    // The user connects it again by hand: nothing is kept as removed any more.
    ASSERT_EQ(jack_connect(tester().handle(), "sender:midi_out", midi.portNameOf(kept->deviceId).c_str()), 0);
    EXPECT_TRUE(waitUntil([&] { return midi.removedConnections().empty(); }, 5s));
    midi.disconnect();
}

TEST_F(VLJackMidiTest, SourcesKeepTheirDeviceNumbersAcrossAServerRestart) {
    if (server.external()) GTEST_SKIP() << "the server is not the test's to stop";
    vl::VLJack audio("Again");
    vl::VLJackMidi midi(audio);
    ASSERT_TRUE(midi.connect());
    const vl::MidiDeviceRecord* before = findDevice(midi, L"sender:midi_out", true);
    ASSERT_TRUE(before);
    const int32_t senderId = before->deviceId;
    {
        // A keyboard that is there now and not after the restart.
        vltest::JackTestClient late("late");
        ASSERT_TRUE(late.ok());
        ASSERT_TRUE(waitUntil([&] {
            midi.refreshDevices();
            return findDevice(midi, L"late:midi_out", true) != nullptr;
        }, 5s));
    }
    const size_t devicesBefore = midi.devices.size();
    client.reset();
    server.stop();
    ASSERT_TRUE(waitUntil([&] { return midi.serverLost(); }, 5s));
    midi.disconnect();
    audio.disconnect();
    // A new server where another client's port shows up first.
    ASSERT_TRUE(server.start());
    vltest::JackTestClient first("aaa");
    ASSERT_TRUE(first.ok());
    client = std::make_unique<vltest::JackTestClient>("sender");
    ASSERT_TRUE(client->ok());
    ASSERT_TRUE(midi.connect());
    const vl::MidiDeviceRecord* after = findDevice(midi, L"sender:midi_out", true);
    ASSERT_TRUE(after);
    EXPECT_EQ(after->deviceId, senderId);
    EXPECT_GT(midi.devices.size(), devicesBefore);  // aaa's ports are new devices at the end
    EXPECT_EQ(midi.portNameOf(senderId), "Again:in sender:midi_out");
    ASSERT_TRUE(startAudio(audio));
    Recorder recorder;
    ASSERT_TRUE(midi.openDevices(&senderId, nullptr, &Recorder::handle, &recorder));
    ASSERT_TRUE(cyclesPass());
    tester().schedule({{0, {0x90, 62, 80}, 3}});
    EXPECT_TRUE(waitUntil([&] { return recorder.count() == 1; }, 3s));
    // A source of the earlier server that is not back yet opens all the same (its settings
    // say active) and is connected when it comes.
    const vl::MidiDeviceRecord* late = findDevice(midi, L"late:midi_out", true);
    ASSERT_TRUE(late);
    const int32_t lateId = late->deviceId;
    ASSERT_TRUE(midi.openDevices(&lateId, nullptr, &Recorder::handle, &recorder));
    vltest::JackTestClient back("late");
    ASSERT_TRUE(back.ok());
    EXPECT_TRUE(waitUntil([&] {
        midi.refreshDevices();
        return joinedPorts(tester().handle(), "late:midi_out", midi.portNameOf(lateId));
    }, 5s));
    midi.disconnect();
}

}  // namespace
