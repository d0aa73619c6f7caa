// The coordinator under concurrent load: a MIDI input thread at about 10 000 messages per
// second, a user-interface thread playing keyboard notes and Panic, a thread changing the tempo,
// the audio thread running 64-frame blocks, and engine stops and starts in between. Every
// event arrives exactly once and intact unless it was dropped at the 256-per-block cap.
// Built with ThreadSanitizer by the tsan preset.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "../unit/coordinator/CoordinatorRig.h"
#include "midi/MidiInputDecoder.h"
#include "support/FakePlugin.h"

using namespace vltest;
using namespace std::chrono_literals;

namespace {

constexpr uint32_t kSeqBits = 18;  // 4 bits of channel, 7 + 7 bits of data
constexpr uint32_t kSeqMask = (1u << kSeqBits) - 1;

// Checks the events on the audio thread, with plain counters only.
class CheckingPlugin : public FakePlugin {
public:
    CheckingPlugin() : FakePlugin(0, 2, vst::effFlagsIsSynth | vst::effFlagsCanReplacing) {}

    std::atomic<uint64_t> midiReceived{0};
    std::atomic<uint64_t> midiGaps{0};      // sequence numbers skipped (dropped events)
    std::atomic<uint64_t> keysReceived{0};
    std::atomic<uint64_t> panicsReceived{0};
    std::atomic<uint64_t> releasesReceived{0};
    std::atomic<uint64_t> errors{0};
    std::atomic<uint64_t> keyPhaseErrors{0};
    std::atomic<uint64_t> blocks{0};

protected:
    void onEvents(const vst::VstEvents* events) override {
        for (int i = 0; i < events->numEvents; ++i) {
            const auto* e = reinterpret_cast<const vst::VstMidiEvent*>(events->events[i]);
            if (e->type != vst::kVstMidiType || e->byteSize != 32 || e->deltaFrames != 0 ||
                e->flags != vst::kVstMidiEventIsRealtime) {
                errors += 1;
                continue;
            }
            const auto* d = reinterpret_cast<const uint8_t*>(e->midiData);
            switch (d[0] & 0xF0) {
                case 0xA0: {  // the MIDI thread's numbered events
                    const uint32_t seq = ((d[0] & 0x0Fu) << 14) | (uint32_t(d[2]) << 7) | d[1];
                    const uint32_t gap = (seq - nextSeq) & kSeqMask;
                    if (gap > (1u << (kSeqBits - 1))) errors += 1;  // went backwards: duplicate or reorder
                    else midiGaps += gap;
                    nextSeq = (seq + 1) & kSeqMask;
                    midiReceived += 1;
                    break;
                }
                case 0x90:  // keyboard notes
                    if (d[1] != 48 || (d[2] != 94 && d[2] != 0)) errors += 1;
                    // Without drops the notes alternate on (94) and off (0).
                    if (d[2] != (keyDown ? 94 : 0)) keyPhaseErrors += 1;
                    keyDown = !keyDown;
                    keysReceived += 1;
                    break;
                case 0xB0:
                    if (d[1] != 123 || d[2] != 0) errors += 1;
                    panicsReceived += 1;
                    break;
                case 0x80:  // a keyboard release sent later (the list was full), or the end a
                            // restart gives the keyboard note that sounded at the stop
                    if (d[1] != 48 || d[2] != 0) errors += 1;
                    keyDown = true;
                    releasesReceived += 1;
                    break;
                default:
                    errors += 1;
            }
        }
    }
    void onProcess(float** in, float** out, vst::int32 frames) override {
        blocks += 1;
        FakePlugin::onProcess(in, out, frames);
    }

private:
    uint32_t nextSeq = 0;
    bool keyDown = true;
};

// Runs action at a steady rate by the clock until done, whatever the granularity of sleeping
// on this platform (some return from a 100 us sleep at once, others after a millisecond).
template <class Action>
void atRate(const std::atomic<bool>& done, double perSecond, Action action) {
    const auto start = std::chrono::steady_clock::now();
    uint64_t count = 0;
    while (!done.load()) {
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        while (count < static_cast<uint64_t>(elapsed * perSecond)) action(count++);
        std::this_thread::sleep_for(200us);
    }
}

}  // namespace

TEST(Stress, ConcurrentProducersTempoChangesAndEngineRestarts) {
    CheckingPlugin plugin;
    CoordinatorRig rig(vl::kDeviceTypeWasapiShared, 48000.0, 64);
    plugin.attach(rig.slot);
    rig.backend.paceMicros = 300;
    rig.link();
    rig.midi.addDevice(0, L"Stress In", true, true);
    rig.settings->midiDevices.push_back(std::make_unique<vl::MidiDeviceRecord>(*rig.midi.devices[0]));
    ASSERT_TRUE(rig.host.StartMidiEngine());
    ASSERT_TRUE(rig.host.StartAudioEngine());

    std::atomic<bool> done{false};
    std::atomic<uint64_t> midiSent{0}, keysSent{0}, panicsSent{0};
    std::atomic<double> lastTempo{120.0};

    std::thread midiThread([&] {
        atRate(done, 10000.0, [&](uint64_t n) {
            const uint32_t seq = static_cast<uint32_t>(n) & kSeqMask;
            const uint8_t status = static_cast<uint8_t>(0xA0 | ((seq >> 14) & 0x0F));
            rig.midi.deliver(0, status, seq & 0x7F, (seq >> 7) & 0x7F, 0.1);
            midiSent += 1;
        });
    });
    std::thread guiThread([&] {
        atRate(done, 2000.0, [&](uint64_t n) {
            if (n % 10 == 9) {
                rig.host.Panic();
                panicsSent += 1;
            } else {
                rig.host.KeyboardNote('D', keysSent % 2 == 0);
                keysSent += 1;
            }
        });
    });
    std::thread tempoThread([&] {
        atRate(done, 1000.0, [&](uint64_t n) {
            const double t = 60.0 + static_cast<double>(n % 120);
            rig.host.handOverTempo(t);
            lastTempo = t;
        });
    });

    for (int cycle = 0; cycle < 8; ++cycle) {
        std::this_thread::sleep_for(200ms);
        rig.host.StopAudioEngine();
        EXPECT_FALSE(rig.host.engineRunning.load());
        std::this_thread::sleep_for(10ms);
        ASSERT_TRUE(rig.host.StartAudioEngine());
    }
    done = true;
    midiThread.join();
    guiThread.join();
    tempoThread.join();

    // Let the engine take what is still waiting.
    const uint64_t target = rig.backend.blocks.load() + 20;
    while (rig.backend.blocks.load() < target) std::this_thread::sleep_for(1ms);
    rig.host.StopAudioEngine();

    // Events lost at the cap, those a restart found waiting (they came while no engine ran) and
    // releases that, late for want of room, met the same release waiting.
    const uint64_t dropped = rig.host.events.droppedEvents() + rig.host.events.discardedEvents() +
                             rig.host.events.coalescedReleases();
    EXPECT_EQ(plugin.errors.load(), 0u);
    EXPECT_GT(midiSent.load(), 2000u);
    EXPECT_LT(midiSent.load(), 200000u);
    EXPECT_GT(plugin.blocks.load(), 1000u);
    EXPECT_EQ(plugin.midiReceived + plugin.keysReceived + plugin.panicsReceived + plugin.releasesReceived + dropped,
              midiSent + keysSent + panicsSent + rig.host.notesEndedByRestarts());
    // Only events lost at the cap or at a restart may be missing from the numbered sequence.
    EXPECT_LE(plugin.midiGaps.load(), dropped);
    if (dropped == 0) {
        EXPECT_EQ(plugin.keyPhaseErrors.load(), 0u);
        EXPECT_EQ(plugin.keysReceived.load(), keysSent.load());
        EXPECT_EQ(plugin.panicsReceived.load(), panicsSent.load());
    }
    EXPECT_EQ(rig.slot.timeInfo.tempo, lastTempo.load());
}

TEST(Stress, ThousandEngineStartStopCycles) {
    FakePlugin plugin(0, 2, vst::effFlagsIsSynth | vst::effFlagsCanReplacing);
    CoordinatorRig rig(vl::kDeviceTypeMME, 44100.0, 64);
    plugin.attach(rig.slot);
    rig.backend.paceMicros = 100;
    rig.link();
    for (int i = 0; i < 1000; ++i) {
        ASSERT_TRUE(rig.host.StartAudioEngine()) << i;
        rig.host.StopAudioEngine();
        ASSERT_FALSE(rig.host.engineRunning.load()) << i;
    }
    EXPECT_EQ(rig.backend.opens.load(), 1000);
    EXPECT_FALSE(rig.backend.inLoop.load());
}

namespace {

// Counts the numbered events of each of two inputs (poly pressure from one, pitch bend from
// the other: 4 bits in the channel, 7 + 7 in the data bytes).
class TwoInputPlugin : public FakePlugin {
public:
    TwoInputPlugin() : FakePlugin(0, 2, vst::effFlagsIsSynth | vst::effFlagsCanReplacing) {}
    static constexpr uint8_t kCommands[2] = {0xA0, 0xE0};
    std::atomic<uint64_t> received[2] = {};
    std::atomic<uint64_t> errors{0};

protected:
    void onEvents(const vst::VstEvents* events) override {
        for (int i = 0; i < events->numEvents; ++i) {
            const auto* e = reinterpret_cast<const vst::VstMidiEvent*>(events->events[i]);
            const auto* d = reinterpret_cast<const uint8_t*>(e->midiData);
            const int input = (d[0] & 0xF0) == kCommands[0] ? 0 : (d[0] & 0xF0) == kCommands[1] ? 1 : -1;
            if (input < 0 || e->type != vst::kVstMidiType || e->byteSize != 32 || e->deltaFrames != 0) {
                errors += 1;
                continue;
            }
            // In order, none twice, none torn (a torn event breaks its input's sequence).
            const uint32_t seq = ((d[0] & 0x0Fu) << 14) | (uint32_t(d[2]) << 7) | d[1];
            if (seq != (next[input] & kSeqMask)) errors += 1;
            next[input] = seq + 1;
            received[input] += 1;
        }
    }

private:
    uint32_t next[2] = {0, 0};
};

}  // namespace

// Two MIDI inputs of different drivers call back at the same time on their own threads, each
// through its own decoder into the coordinator's handler and the one event list, while the
// audio thread takes the lists; both have clock sync on. Every event arrives once, in order and
// intact, and the clock ticks of the first input (the one followed) move the song position.
// Meant for ThreadSanitizer.
TEST(Stress, TwoMidiInputsCallingBackAtOnce) {
    TwoInputPlugin plugin;
    CoordinatorRig rig(vl::kDeviceTypeWasapiShared, 48000.0, 64);
    plugin.attach(rig.slot);
    rig.backend.paceMicros = 200;
    rig.link();
    for (int32_t id : {0, 1}) {
        vl::MidiDeviceRecord* device = rig.midi.addDevice(id, id ? L"Pads" : L"Keys", true, true);
        rig.settings->midiDevices.push_back(std::make_unique<vl::MidiDeviceRecord>(*device));
        rig.settings->midiDevices.back()->sync = true;
    }
    ASSERT_TRUE(rig.host.StartMidiEngine());
    ASSERT_EQ(rig.midi.inputs.size(), 2u);
    ASSERT_TRUE(rig.host.StartAudioEngine());

    // As the platform's callbacks deliver: one decoder per input, on the engine's time line.
    vl::MidiTimeLine timeLine;
    vl::MidiMessage records[2];
    vl::MidiInputDecoder decoders[2] = {{records[0], timeLine}, {records[1], timeLine}};
    const vl::MidiInstance instances[2] = {
        {rig.midi.inputs[0].handler, rig.midi.inputs[0].value, &decoders[0]},
        {rig.midi.inputs[1].handler, rig.midi.inputs[1].value, &decoders[1]},
    };
    constexpr uint32_t kEvents = 20000, kBurst = 64, kTickEvery = 8;
    std::atomic<uint32_t> ticks[2] = {0, 0};
    auto input = [&](int n) {
        for (uint32_t seq = 0; seq < kEvents;) {
            // A burst, then until the plug-in has it: far below 256 per block, so nothing is lost.
            for (uint32_t end = seq + kBurst; seq < end && seq < kEvents; ++seq) {
                const uint32_t status = TwoInputPlugin::kCommands[n] | ((seq >> 14) & 0x0F);
                vl::MidiInputDecoder::deliver(&instances[n], vl::MidiInputEvent::ShortMessage,
                                              status | ((seq & 0x7F) << 8) | (((seq >> 7) & 0x7F) << 16));
                if (seq % kTickEvery == 0) {
                    vl::MidiInputDecoder::deliver(&instances[n], vl::MidiInputEvent::ShortMessage, 0xF8);
                    ticks[n] += 1;
                }
            }
            const auto waitUntil = std::chrono::steady_clock::now() + 10s;
            while (plugin.received[n].load() < seq && std::chrono::steady_clock::now() < waitUntil)
                std::this_thread::yield();
        }
    };
    std::thread first(input, 0), second(input, 1);
    first.join();
    second.join();
    rig.host.StopAudioEngine();

    EXPECT_EQ(plugin.errors.load(), 0u);
    EXPECT_EQ(plugin.received[0].load(), kEvents);
    EXPECT_EQ(plugin.received[1].load(), kEvents);
    EXPECT_EQ(rig.host.events.droppedEvents(), 0u);
    EXPECT_NEAR(rig.host.clockPpq.load(), ticks[0].load() * 0.0416666679084301, 1e-6);
    rig.host.StopMidiEngine();
}
