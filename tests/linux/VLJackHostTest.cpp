// The coordinator on a private dummy jackd with the JACK MIDI engine on the audio client:
// notes sent at known frames of a cycle reach the plug-in in the same cycle at those frames,
// what the plug-in sends leaves in the same cycle at its frames, a new server block size is
// taken over between cycles, and the plug-in learns where it is called from.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "JackTestClient.h"
#include "JackTestServer.h"
#include "audio/jack/VLJack.h"
#include "host/HostCallback.h"
#include "host/VLVSTHostInterface.h"
#include "midi/jack/VLJackMidi.h"
#include "settings/HostSettings.h"
#include "settings/MemoryStore.h"
#include "support/FakePlugin.h"
#include "support/Wait.h"

namespace {

using namespace std::chrono_literals;

using vltest::waitUntil;

// Records every note-on with its deltaFrames and the block it came in, sends each one back at
// the same frame from processReplacing, and asks the host for its process level there.
class FrameProbe : public vltest::FakePlugin {
public:
    FrameProbe() : FakePlugin(0, 2) {}  // an instrument: no audio input is needed
    struct Note {
        uint8_t key;
        int32_t delta;
        uint32_t block;
    };
    std::array<Note, 256> notes{};
    std::atomic<uint32_t> noteCount{0};
    std::atomic<uint32_t> blocks{0};
    std::atomic<int32_t> largestBlock{0};
    std::atomic<int32_t> levelInProcess{-1};
    // Opcodes of the block size change, in order (suspend 0, set block size 1, resume 2).
    std::array<int32_t, 16> changes{};
    std::atomic<uint32_t> changeCount{0};
    std::atomic<int32_t> announcedBlock{0};

protected:
    vst::intptr onDispatch(vst::int32 opcode, vst::int32 index, vst::intptr value, void* ptr, float opt) override {
        if (opcode == vst::effMainsChanged) note(value ? 2 : 0);
        if (opcode == vst::effSetBlockSize) {
            announcedBlock.store(static_cast<int32_t>(value));
            note(1);
        }
        return FakePlugin::onDispatch(opcode, index, value, ptr, opt);
    }
    void onEvents(const vst::VstEvents* events) override {
        pendingCount = 0;
        for (vst::int32 i = 0; i < events->numEvents; ++i) {
            const auto* e = reinterpret_cast<const vst::VstMidiEvent*>(events->events[i]);
            if ((e->midiData[0] & 0xF0) != 0x90 || e->midiData[2] == 0) continue;
            const uint32_t n = noteCount.load();
            if (n < notes.size()) {
                notes[n] = Note{static_cast<uint8_t>(e->midiData[1]), e->deltaFrames, blocks.load()};
                noteCount.store(n + 1);
            }
            if (pendingCount < pending.size()) pending[pendingCount++] = *e;
        }
    }
    void onProcess(float** inputs, float** outputs, vst::int32 frames) override {
        levelInProcess.store(static_cast<int32_t>(
            vl::VLHostCallback(&effect, vst::audioMasterGetCurrentProcessLevel, 0, 0, nullptr, 0.0f)));
        if (pendingCount > 0) {
            vst::VstEvent* list[kEcho];
            for (uint32_t i = 0; i < pendingCount; ++i) list[i] = reinterpret_cast<vst::VstEvent*>(&pending[i]);
            struct {
                vst::int32 numEvents;
                vst::intptr reserved;
                vst::VstEvent* events[kEcho];
            } out{static_cast<vst::int32>(pendingCount), 0, {}};
            std::copy(list, list + pendingCount, out.events);
            vl::VLHostCallback(&effect, vst::audioMasterProcessEvents, 0, 0, &out, 0.0f);
            pendingCount = 0;
        }
        if (frames > largestBlock.load()) largestBlock.store(frames);
        blocks.fetch_add(1);
        FakePlugin::onProcess(inputs, outputs, frames);
    }

private:
    static constexpr uint32_t kEcho = 64;
    void note(int32_t what) {
        const uint32_t n = changeCount.load();
        if (n < changes.size()) {
            changes[n] = what;
            changeCount.store(n + 1);
        }
    }
    std::array<vst::VstMidiEvent, kEcho> pending{};
    uint32_t pendingCount = 0;
};

class VLJackHostTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!vltest::jackdInstalled()) GTEST_SKIP() << "jackd is not installed";
        ASSERT_TRUE(server.start());
        sender = std::make_unique<vltest::JackTestClient>("sender");
        listener = std::make_unique<vltest::JackTestClient>("listener");
        ASSERT_TRUE(sender->ok() && listener->ok());
        vl::setHostContext(&slot);
        probe.attach(slot);
        jack = std::make_unique<vl::VLJack>("Host");
        midi = std::make_unique<vl::VLJackMidi>(*jack);
        backends.set(vl::kDeviceTypeJack, jack.get());
        ASSERT_TRUE(midi->connect());
        settings.mergeMidiDevices(midi->devices);
        settings.outputDevice = jack->output();
        host.link(&slot, &backends, midi.get(), &settings);
        jack->setBlockSizeHook(&vl::VLVSTHostInterface::OnBlockSizeChange, &host);
        ASSERT_TRUE(host.StartAudioEngine());
        ASSERT_TRUE(host.StartMidiEngine());
        ASSERT_EQ(vltest::connectWhenKnown(sender->handle(), "sender:midi_out", "Host:midi_in"), 0);
        ASSERT_EQ(vltest::connectWhenKnown(listener->handle(), "Host:midi_out", "listener:midi_in"), 0);
        // Seen by the sender's side too (PipeWire tells the other clients a little later).
        ASSERT_TRUE(waitUntil([&] {
            jack_port_t* out = jack_port_by_name(sender->handle(), "Host:midi_out");
            return out && jack_port_connected_to(out, "listener:midi_in");
        }, 3s));
        ASSERT_TRUE(cyclesPass());
    }
    void TearDown() override {
        host.StopAudioEngine();
        host.StopMidiEngine();
        vl::setHostContext(nullptr);
    }
    testing::AssertionResult cyclesPass(uint64_t n = 3) {
        const uint64_t from = sender->cycles();
        return waitUntil([&] { return sender->cycles() >= from + n; }, 5s);
    }
    // count note-ons, each in a cycle of its own (every other one), at the given frames.
    std::vector<vltest::ScheduledMidi> notesAt(const std::vector<uint32_t>& offsets, uint32_t cycle) {
        std::vector<vltest::ScheduledMidi> list;
        for (size_t k = 0; k < offsets.size(); ++k)
            list.push_back({(2 * k + 1) * cycle + offsets[k], {0x90, static_cast<uint8_t>(20 + k), 100}, 3});
        return list;
    }
    // deltaFrames less the frame the note was sent at, over every note: the latency is
    // constant when the smallest and the largest are the same.
    struct Spread {
        int64_t least = INT64_MAX, most = INT64_MIN;
        bool sameCycle = true;
    };
    Spread measure(size_t count) {
        Spread s;
        // The sender's records are read only once its count says they are written.
        EXPECT_TRUE(waitUntil([&] { return sender->sentCount() >= count; }, 5s));
        for (size_t i = 0; i < count; ++i) {
            const FrameProbe::Note& n = probe.notes[i];
            const size_t k = static_cast<size_t>(n.key - 20);
            const int64_t late = static_cast<int64_t>(n.delta) - static_cast<int64_t>(sender->sentOffset(k));
            s.least = std::min(s.least, late);
            s.most = std::max(s.most, late);
        }
        return s;
    }

    vltest::JackTestServer server;
    std::unique_ptr<vltest::JackTestClient> sender, listener;
    FrameProbe probe;
    vl::PluginSlot slot;
    std::unique_ptr<vl::VLJack> jack;
    std::unique_ptr<vl::VLJackMidi> midi;
    vl::AudioBackendSet backends;
    vl::HostSettings settings{L"JackHost", std::make_shared<vl::MemoryStore>()};
    vl::VLVSTHostInterface host;
};

TEST_F(VLJackHostTest, NotesReachThePluginAtTheirFramesAndItsOutputLeavesAtItsFramesInTheSameCycle) {
    // 40 notes at frames across the whole 256-frame cycle, its first and last frame among them.
    std::vector<uint32_t> offsets;
    for (uint32_t k = 0; k < 40; ++k) offsets.push_back(k == 0 ? 0 : k == 1 ? 255 : (k * 37) % 256);
    sender->schedule(notesAt(offsets, 256));
    ASSERT_TRUE(waitUntil([&] { return probe.noteCount.load() >= 40; }, 10s));
    ASSERT_TRUE(waitUntil([&] { return listener->receivedCount() >= 40; }, 5s));
    ASSERT_EQ(sender->sentCount(), 40u);
    const Spread s = measure(40);
    std::printf("jack midi in: 40 notes at frames 0-255 of 256: deltaFrames - frame from %lld to %lld (jitter %lld frames)\n",
                static_cast<long long>(s.least), static_cast<long long>(s.most), static_cast<long long>(s.most - s.least));
    EXPECT_EQ(s.least, 0);  // latency 0: the frame it was sent at, in the same block
    EXPECT_EQ(s.most, 0);
    // The plug-in's notes leave in the cycle they came in, at the frame they came at.
    int64_t outLeast = INT64_MAX, outMost = INT64_MIN;
    int stampedLater = 0;
    for (size_t i = 0; i < 40; ++i) {
        const uint32_t packed = listener->received(i);
        ASSERT_EQ(packed & 0xF0, 0x90u);
        const size_t k = ((packed >> 8) & 0x7F) - 20;
        ASSERT_LT(k, 40u);
        // Same cycle; a listener woken after the next cycle began (a loaded machine) reads the
        // same buffer but stamps it with that cycle, so one block later is the only other answer.
        const int64_t cycles = static_cast<int64_t>(listener->receivedCycle(i)) - sender->sentCycle(k);
        EXPECT_TRUE(cycles == 0 || cycles == 256) << "note " << k << ": " << cycles << " frames later";
        if (cycles != 0) ++stampedLater;
        const int64_t late = static_cast<int64_t>(listener->receivedOffset(i)) - sender->sentOffset(k);
        outLeast = std::min(outLeast, late);
        outMost = std::max(outMost, late);
    }
    std::printf("jack midi out: the plug-in's 40 notes left %lld to %lld frames after their input, same cycle"
                " (%d read by a late listener)\n",
                static_cast<long long>(outLeast), static_cast<long long>(outMost), stampedLater);
    EXPECT_EQ(outLeast, 0);
    EXPECT_EQ(outMost, 0);
    // Where the plug-in is called from.
    EXPECT_EQ(probe.levelInProcess.load(), 2);
    EXPECT_EQ(vl::VLHostCallback(&probe.effect, vst::audioMasterGetCurrentProcessLevel, 0, 0, nullptr, 0.0f), 1);
    // The time record from this thread: a copy of the cycle's, never the cycle's own.
    const auto* time = reinterpret_cast<const vst::VstTimeInfo*>(
        vl::VLHostCallback(&probe.effect, vst::audioMasterGetTime, 0, 0, nullptr, 0.0f));
    ASSERT_NE(time, nullptr);
    EXPECT_NE(time, &slot.timeInfo);
    EXPECT_EQ(time->sampleRate, 48000.0);
}

TEST_F(VLJackHostTest, ANewServerBlockSizeIsToldToThePluginBetweenCyclesWithoutARestart) {
    const uint32_t suspendsBefore = probe.changeCount.load();
    ASSERT_TRUE(jack->requestBlockSize(512));
    // jackd has changed it when the request returns; PipeWire at one of its next cycles.
    EXPECT_TRUE(waitUntil([&] { return host.blockSizeChanges() == 1u; }, 3s));
    EXPECT_EQ(probe.announcedBlock.load(), 512);
    // Suspend, the new size, resume: in this order.
    ASSERT_EQ(probe.changeCount.load(), suspendsBefore + 3);
    EXPECT_EQ(probe.changes[suspendsBefore], 0);
    EXPECT_EQ(probe.changes[suspendsBefore + 1], 1);
    EXPECT_EQ(probe.changes[suspendsBefore + 2], 2);
    // The engine ran on: no restart was asked for, whole blocks of the new size arrive.
    EXPECT_EQ(host.PollEngine(), vl::EngineNotice::None);
    ASSERT_TRUE(waitUntil([&] { return probe.largestBlock.load() == 512; }, 5s));
    EXPECT_TRUE(host.engineRunning.load());
    // Notes at frames of the larger block still arrive at their frames.
    sender->schedule(notesAt({0, 300, 511, 100}, 512));
    ASSERT_TRUE(waitUntil([&] { return probe.noteCount.load() >= 4; }, 10s));
    const Spread s = measure(4);
    EXPECT_EQ(s.least, 0);
    EXPECT_EQ(s.most, 0);
    // The host's own request downwards is taken over the same way.
    ASSERT_TRUE(jack->requestBlockSize(jack->neighbourBlockSize(false)));
    EXPECT_TRUE(waitUntil([&] { return host.blockSizeChanges() == 2u; }, 3s));
    EXPECT_EQ(probe.announcedBlock.load(), 256);
}

TEST_F(VLJackHostTest, MidiThatArrivesWhileTheEngineIsStoppedIsNotPlayedLater) {
    host.StopAudioEngine();
    sender->schedule(notesAt({10, 20}, 256));
    ASSERT_TRUE(waitUntil([&] { return sender->sentCount() == 2; }, 5s));
    ASSERT_TRUE(cyclesPass());
    ASSERT_TRUE(host.StartAudioEngine());
    const uint32_t blocks = probe.blocks.load();
    ASSERT_TRUE(waitUntil([&] { return probe.blocks.load() > blocks + 8; }, 5s));
    EXPECT_EQ(probe.noteCount.load(), 0u);
    // And once it runs again, notes play.
    sender->schedule(notesAt({5}, 256));
    EXPECT_TRUE(waitUntil([&] { return probe.noteCount.load() == 1; }, 5s));
}

}  // namespace
