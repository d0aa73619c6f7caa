// MIDI into the plug-in: the per-device filters, the event slots, MIDI clock sync and the
// computer keyboard.

#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "CoordinatorRig.h"
#include "midi/MidiEventSlot.h"
#include "support/FakePlugin.h"

using namespace vltest;

namespace {

// Records every MIDI event it receives and the time information of every block.
class EventPlugin : public FakePlugin {
public:
    EventPlugin() : FakePlugin(0, 2, vst::effFlagsIsSynth | vst::effFlagsCanReplacing) {}
    struct Received {
        uint8_t bytes[3];
        int32_t deltaFrames;
        int32_t flags;
        int block;
    };
    std::vector<Received> received;
    std::vector<double> ppq;
    std::vector<int32_t> flags;
    std::vector<double> tempos;
    vl::PluginSlot* slot = nullptr;
    vst::intptr receiveAnswer = 1;
    vst::intptr sendAnswer = 0;

    std::vector<std::vector<uint8_t>> messages() const {
        std::vector<std::vector<uint8_t>> out;
        for (const Received& r : received) out.push_back({r.bytes[0], r.bytes[1], r.bytes[2]});
        return out;
    }

protected:
    vst::intptr canDoAnswer(const char* text) override {
        if (std::string(text) == "receiveVstMidiEvent") return receiveAnswer;
        if (std::string(text) == "sendVstMidiEvent") return sendAnswer;
        return 0;
    }
    void onEvents(const vst::VstEvents* events) override {
        for (int i = 0; i < events->numEvents; ++i) {
            const auto* e = reinterpret_cast<const vst::VstMidiEvent*>(events->events[i]);
            EXPECT_EQ(e->type, vst::kVstMidiType);
            EXPECT_EQ(e->byteSize, 32);
            const auto* d = reinterpret_cast<const uint8_t*>(e->midiData);
            received.push_back({{d[0], d[1], d[2]}, e->deltaFrames, e->flags, static_cast<int>(ppq.size())});
        }
    }
    void onProcess(float** in, float** out, vst::int32 frames) override {
        ppq.push_back(slot->timeInfo.ppqPos);
        flags.push_back(slot->timeInfo.flags);
        tempos.push_back(slot->timeInfo.tempo);
        FakePlugin::onProcess(in, out, frames);
    }
};

// A running engine with one MIDI input whose options the test sets.
struct MidiRig {
    MidiRig() {
        plugin.slot = &rig.slot;
        plugin.attach(rig.slot);
        rig.link();
        input = rig.midi.addDevice(3, L"Keys", true, true);
        rig.settings->midiDevices.push_back(std::make_unique<vl::MidiDeviceRecord>(*input));
        options = rig.settings->midiDevices.back().get();
    }
    bool start() { return rig.host.StartMidiEngine() && rig.host.StartAudioEngine(); }
    void block() { rig.backend.pump(64); }
    void send(uint8_t status, uint8_t d1 = 0, uint8_t d2 = 0, double deltaMs = 1.0) {
        rig.midi.deliver(0, status, d1, d2, deltaMs);
    }
    void clockWindow(double intervalMs, int ticks = 24) {
        for (int i = 0; i < ticks; ++i) send(0xF8, 0, 0, intervalMs);
    }

    EventPlugin plugin;  // outlives the slot
    CoordinatorRig rig;
    vl::MidiDeviceRecord* input = nullptr;
    vl::MidiDeviceRecord* options = nullptr;
};

using Bytes = std::vector<std::vector<uint8_t>>;

}  // namespace

TEST(EventSlot, IsPreFormattedAndHoldsAtMost256Events) {
    vl::MidiEventSlot slot;
    vst::VstEvents* list = slot.list();
    EXPECT_EQ(list->reserved, 0);
    for (uint32_t i = 0; i < 256; ++i) {
        const vst::VstMidiEvent& e = slot.event(i);
        ASSERT_EQ(reinterpret_cast<const void*>(list->events[i]), static_cast<const void*>(&e));
        EXPECT_EQ(e.type, vst::kVstMidiType);
        EXPECT_EQ(e.byteSize, 32);
        EXPECT_EQ(e.flags, vst::kVstMidiEventIsRealtime);
    }
    for (uint32_t i = 0; i < 256; ++i) ASSERT_TRUE(slot.insert(0x90, 60, 100, 0x13));
    EXPECT_FALSE(slot.insert(0x90, 61, 100, 0));
    EXPECT_EQ(slot.count(), 256u);
    EXPECT_EQ(static_cast<uint8_t>(slot.event(0).midiData[0]), 0x93);  // channel masked to 4 bits
}

TEST(EventQueue, HandsOverAndFlipsTheSlots) {
    vl::MidiEventQueue queue;
    EXPECT_EQ(queue.takeEvents(), nullptr);
    queue.insertMidiEvent(0x90, 60, 1, 0);
    queue.insertMidiEvent(0x80, 60, 0, 0);
    const uint8_t before = queue.writeIndex();
    vst::VstEvents* list = queue.takeEvents();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->numEvents, 2);
    EXPECT_NE(queue.writeIndex(), before);
    queue.insertMidiEvent(0xB0, 7, 100, 2);
    vst::VstEvents* next = queue.takeEvents();
    ASSERT_NE(next, nullptr);
    EXPECT_NE(next, list);
    EXPECT_EQ(next->numEvents, 1);
    EXPECT_EQ(static_cast<uint8_t>(reinterpret_cast<vst::VstMidiEvent*>(next->events[0])->midiData[0]), 0xB2);
}

TEST(MidiFilters, ChannelSettingCountsFromOne) {
    MidiRig m;
    ASSERT_TRUE(m.start());
    m.options->channel = 1;
    m.send(0x90, 60, 100);  // channel 1 (nibble 0)
    m.send(0x91, 61, 100);
    m.options->channel = 16;
    m.send(0x9F, 62, 100);
    m.send(0x90, 63, 100);
    m.options->channel = 0;
    m.send(0x95, 64, 100);
    m.block();
    EXPECT_EQ(m.plugin.messages(), (Bytes{{0x90, 60, 100}, {0x9F, 62, 100}, {0x95, 64, 100}}));
    for (const auto& r : m.plugin.received) {
        EXPECT_EQ(r.deltaFrames, 0);
        EXPECT_EQ(r.flags, vst::kVstMidiEventIsRealtime);
    }
}

TEST(MidiFilters, ControlAndProgramFiltersAndTheKeyboardRange) {
    MidiRig m;
    ASSERT_TRUE(m.start());
    m.options->filterCCMessages = true;
    m.send(0xB0, 7, 100);
    m.send(0xBF, 1, 100);
    m.send(0xC0, 5, 0);
    m.options->filterCCMessages = false;
    m.options->filterProgramChanges = true;
    m.send(0xB3, 7, 90);
    m.send(0xC3, 5, 0);
    m.options->filterProgramChanges = false;
    m.options->keyboardRangeLeft = 36;
    m.options->keyboardRangeRight = 48;
    m.send(0xB0, 7, 80);    // controller 7 is outside 36..48
    m.send(0x90, 36, 100);
    m.send(0x90, 48, 100);
    m.send(0x90, 49, 100);
    m.send(0xE0, 40, 64);   // pitch bend is tested by its low byte
    m.block();
    EXPECT_EQ(m.plugin.messages(),
              (Bytes{{0xC0, 5, 0}, {0xB3, 7, 90}, {0x90, 36, 100}, {0x90, 48, 100}, {0xE0, 40, 64}}));
}

TEST(MidiFilters, SystemMessagesNeverReachThePlugin) {
    MidiRig m;
    ASSERT_TRUE(m.start());
    for (uint8_t status : {0xF8, 0xFA, 0xFB, 0xFC, 0xFE, 0xFF}) m.send(status);
    m.block();
    EXPECT_TRUE(m.plugin.received.empty());
}

// A full block list refuses new notes and controllers first; the ends of the notes it started
// always arrive, in this block or (when even the releases overflow) in the next.
TEST(MidiEvents, AFullBlockNeverCutsOffTheNotesEnds) {
    MidiRig m;
    ASSERT_TRUE(m.start());
    for (int i = 0; i < 300; ++i) m.send(0x90, static_cast<uint8_t>(i % 128), 1);
    for (int i = 0; i < 100; ++i) m.send(0x80, static_cast<uint8_t>(i), 0);
    m.send(0xB0, 64, 0);  // sustain off
    m.block();
    const size_t ordinary = vl::kMidiEventSlotCapacity - vl::kMidiReleaseReserve;
    ASSERT_EQ(m.plugin.received.size(), 256u);
    EXPECT_EQ(m.plugin.received[ordinary - 1].bytes[0], 0x90);
    EXPECT_EQ(m.plugin.received[ordinary].bytes[0], 0x80);
    EXPECT_EQ(m.rig.host.events.droppedEvents(), 300u - ordinary);  // the releases are only late
    m.block();
    // The 37 refused releases come with the next block, the pedal first.
    ASSERT_EQ(m.plugin.received.size(), 256u + 37u);
    EXPECT_EQ(m.plugin.received[256].block, 1);
    EXPECT_EQ(m.plugin.messages()[256], (std::vector<uint8_t>{0xB0, 64, 0}));
    std::set<int> ended;
    for (const auto& r : m.plugin.received)
        if (r.bytes[0] == 0x80) ended.insert(r.bytes[1]);
    EXPECT_EQ(ended.size(), 100u);
    m.send(0x90, 1, 0);  // a note-on of velocity 0 is a release too
    m.block();
    EXPECT_EQ(m.plugin.received.size(), 294u);
    m.block();
    EXPECT_EQ(m.plugin.received.size(), 294u);
}

// What arrives while no engine runs is not played by the next run (nor does it start an armed
// recorder); the notes that sounded when the engine stopped are ended by the restart.
TEST(MidiEvents, WhatCameWhileStoppedIsNotPlayedAndSoundingNotesEnd) {
    MidiRig m;
    ASSERT_TRUE(m.start());
    m.send(0x90, 60, 100);
    m.send(0x93, 64, 100);
    m.send(0x90, 67, 100);
    m.send(0x80, 67, 0);
    m.block();
    m.rig.host.StopAudioEngine();
    m.send(0xB0, 7, 100);
    for (int i = 0; i < 130; ++i) m.send(0x90, static_cast<uint8_t>(i), 90);
    ASSERT_TRUE(m.rig.host.StartRecorder(vl::Waiting, 44100));
    const size_t before = m.plugin.received.size();
    ASSERT_TRUE(m.rig.host.StartAudioEngine());
    m.block();
    const auto all = m.plugin.messages();
    const std::vector<std::vector<uint8_t>> after(all.begin() + static_cast<long>(before), all.end());
    EXPECT_EQ(after, (std::vector<std::vector<uint8_t>>{{0x80, 60, 0}, {0x83, 64, 0}}));
    EXPECT_EQ(m.rig.host.recorderState.load(), vl::Waiting);
    m.send(0x90, 62, 100);
    m.block();
    EXPECT_EQ(m.plugin.messages().back(), (std::vector<uint8_t>{0x90, 62, 100}));
    EXPECT_EQ(m.rig.host.recorderState.load(), vl::Running);
}

TEST(MidiEngineStart, OpensEnabledInputsAndTheOutput) {
    MidiRig m;
    m.plugin.sendAnswer = 1;
    m.rig.midi.addDevice(7, L"Synth Out", false, true);
    auto* absent = m.rig.settings->midiDevices.emplace_back(std::make_unique<vl::MidiDeviceRecord>()).get();
    absent->name = L"Gone";
    absent->isInput = true;
    absent->active = true;  // remembered, but not present in this run (deviceId -1)
    ASSERT_TRUE(m.rig.host.StartMidiEngine());
    ASSERT_EQ(m.rig.midi.inputs.size(), 1u);
    EXPECT_EQ(m.rig.midi.inputs[0].deviceId, 3);
    EXPECT_EQ(m.rig.midi.openOutput, 7);
    EXPECT_EQ(m.rig.host.midiOutputDevice->name, L"Synth Out");
    ASSERT_NE(m.rig.slot.midiOutHook.load(), nullptr);
    // The plug-in's MIDI output goes straight to the device, packed byte 0 lowest.
    vst::VstMidiEvent event{};
    event.type = vst::kVstMidiType;
    event.midiData[0] = char(0x92);
    event.midiData[1] = 64;
    event.midiData[2] = 99;
    m.rig.slot.midiOutHook.load()(&event, m.rig.slot.midiOutUser.load());
    ASSERT_EQ(m.rig.midi.sent.size(), 1u);
    EXPECT_EQ(m.rig.midi.sent[0], 0x634092u);
    // A send racing the close is dropped by the engine; after the close the hook is gone.
    m.rig.midi.closed = true;
    m.rig.slot.midiOutHook.load()(&event, m.rig.slot.midiOutUser.load());
    EXPECT_EQ(m.rig.midi.sent.size(), 1u);
    m.rig.host.StopMidiEngine();
    EXPECT_EQ(m.rig.slot.midiOutHook.load(), nullptr);
}

TEST(MidiEngineStart, FailedInputIsSwitchedOffAndReported) {
    MidiRig m;
    m.rig.midi.addDevice(4, L"Broken", true, true);
    m.rig.settings->midiDevices.push_back(std::make_unique<vl::MidiDeviceRecord>(*m.rig.midi.devices.back()));
    m.rig.midi.failingInputs = {4};
    EXPECT_FALSE(m.rig.host.StartMidiEngine());
    EXPECT_FALSE(m.rig.settings->midiDevices[1]->active);
    EXPECT_FALSE(m.rig.midi.devices[1]->active);
    EXPECT_TRUE(m.options->active);  // the working input is still opened
    EXPECT_EQ(m.rig.midi.inputs.size(), 1u);
}

TEST(MidiEngineStart, PluginWithoutMidiGetsNoDevices) {
    MidiRig m;
    m.plugin.receiveAnswer = 0;
    m.rig.midi.addDevice(7, L"Synth Out", false, true);
    EXPECT_TRUE(m.rig.host.StartMidiEngine());
    EXPECT_TRUE(m.rig.midi.inputs.empty());
    EXPECT_EQ(m.rig.midi.openOutput, -2);
    EXPECT_EQ(m.rig.slot.midiOutHook.load(), nullptr);
    // An output that cannot be opened fails the start.
    m.plugin.sendAnswer = 1;
    m.rig.midi.failOutput = true;
    EXPECT_FALSE(m.rig.host.StartMidiEngine());
    EXPECT_EQ(m.rig.host.midiOutputDevice, nullptr);
}

TEST(ClockSync, TempoFromTwentyFourTicks) {
    MidiRig m;
    m.options->sync = true;
    ASSERT_TRUE(m.start());
    EXPECT_TRUE(m.rig.host.syncActive.load());
    m.send(0xF8, 0, 0, 0.0);  // the first message of a run: not counted
    m.clockWindow(20.833, 23);
    EXPECT_FALSE(m.rig.host.tempoChanged.load());
    m.send(0xF8, 0, 0, 500.0 - 23 * 20.833);
    EXPECT_EQ(m.rig.host.tempo.load(), 120.0);
    EXPECT_FALSE(m.rig.host.tempoChanged.load());  // unchanged tempo: no hand-over
    m.clockWindow(480.5 / 24.0);
    EXPECT_EQ(m.rig.host.tempo.load(), 124.9);
    EXPECT_EQ(static_cast<double>(m.rig.settings->tempo), 120.0);  // not written on the MIDI thread
    m.rig.host.SavePendingTempo();
    EXPECT_EQ(static_cast<double>(m.rig.settings->tempo), 124.9);
    m.block();
    EXPECT_EQ(m.plugin.tempos.back(), 124.9);
    // A gap enters the window as one long interval.
    m.clockWindow(480.5 / 24.0, 23);
    m.send(0xF8, 0, 0, 480.5 / 24.0 + 500.0);
    EXPECT_EQ(m.rig.host.tempo.load(), 61.2);  // 60000 / 980.5 ms
}

TEST(ClockSync, StartStopAndPosition) {
    MidiRig m;
    m.options->sync = true;
    ASSERT_TRUE(m.start());
    m.block();
    EXPECT_FALSE(m.plugin.flags.back() & vst::kVstTransportPlaying);
    m.send(0xFB);  // continue: nothing
    m.block();
    EXPECT_FALSE(m.plugin.flags.back() & vst::kVstTransportPlaying);

    m.options->delay = 100;
    m.send(0xFA);
    m.block();
    EXPECT_TRUE(m.plugin.flags.back() & vst::kVstTransportPlaying);
    EXPECT_NEAR(m.plugin.ppq.back(), 0.2, 1e-12);  // 100 ms at 120 BPM
    m.send(0xF8);
    m.block();
    EXPECT_NEAR(m.plugin.ppq.back(), 0.2 + 0.0416666679084301, 1e-12);
    // Blocks without a tick show the same position plus 1/96, without growing.
    m.block();
    m.block();
    const double held = 0.2 + 0.0416666679084301 + 0.010416666977107525;
    EXPECT_NEAR(m.plugin.ppq[m.plugin.ppq.size() - 2], held, 1e-12);
    EXPECT_NEAR(m.plugin.ppq.back(), held, 1e-12);

    m.send(0xFC);
    m.block();
    EXPECT_FALSE(m.plugin.flags.back() & vst::kVstTransportPlaying);
    m.send(0xFC);  // a stop while stopped raises no request
    EXPECT_FALSE(m.rig.host.transportRequest.load());

    // A negative delay holds the position until the ticks have run it off.
    m.options->delay = -100;
    m.send(0xFA);
    m.block();
    const double before = m.plugin.ppq.back();
    for (int tick = 1; tick <= 5; ++tick) {
        m.send(0xF8);
        m.block();
        if (tick < 5) {
            EXPECT_EQ(m.plugin.ppq.back(), before) << tick;
        }
    }
    EXPECT_NEAR(m.plugin.ppq.back(), -0.2 + 5 * 0.0416666679084301, 1e-12);
}

TEST(ClockSync, TempoHeldWhilePlayingUnlessSyncWhilePlaying) {
    MidiRig m;
    m.options->sync = true;
    ASSERT_TRUE(m.start());
    m.send(0xFA);
    m.block();
    ASSERT_TRUE(m.rig.host.transportPlaying());
    m.clockWindow(25.0);  // 100 BPM, but playing without syncWhilePlaying
    EXPECT_EQ(m.rig.host.tempo.load(), 120.0);
    m.block();
    EXPECT_NEAR(m.plugin.ppq.back(), 24 * 0.0416666679084301, 1e-9);
    m.options->syncWhilePlaying = true;
    m.clockWindow(25.0);
    EXPECT_EQ(m.rig.host.tempo.load(), 100.0);
}

// Two inputs with clock sync: only the first one drives the position and the tempo; the
// second one's clock at another tempo changes nothing.
TEST(ClockSync, OnlyTheFirstSyncInputIsFollowed) {
    MidiRig m;
    m.options->sync = true;
    vl::MidiDeviceRecord* second = m.rig.midi.addDevice(4, L"Clock 2", true, true);
    m.rig.settings->midiDevices.push_back(std::make_unique<vl::MidiDeviceRecord>(*second));
    m.rig.settings->midiDevices.back()->sync = true;
    ASSERT_TRUE(m.start());
    const auto ticks = [&](int n) {
        // The fake's clock is shared: the first input ticks every 20 ms (125 BPM), the
        // second every 10 ms (250 BPM).
        for (int i = 0; i < n; ++i) {
            m.send(0xF8, 0, 0, 10.0);
            m.rig.midi.deliver(1, 0xF8, 0, 0, 5.0);
            m.rig.midi.deliver(1, 0xF8, 0, 0, 5.0);
        }
    };
    ticks(49);
    EXPECT_EQ(m.rig.host.tempo.load(), 125.0);
    m.send(0xFA);
    m.rig.midi.deliver(1, 0xFA);
    m.block();
    ticks(6);
    m.block();
    EXPECT_NEAR(m.plugin.ppq.back(), 6 * 0.0416666679084301, 1e-9);
}

TEST(ClockSync, InputsWithoutSyncIgnoreTheClock) {
    MidiRig m;
    ASSERT_TRUE(m.start());
    EXPECT_FALSE(m.rig.host.syncActive.load());
    m.clockWindow(25.0);
    m.send(0xFA);
    m.block();
    EXPECT_EQ(m.rig.host.tempo.load(), 120.0);
    EXPECT_FALSE(m.plugin.flags.back() & vst::kVstTransportPlaying);
}

TEST(KeyboardNotes, PianoRowsOctavesAndPanic) {
    MidiRig m;
    ASSERT_TRUE(m.start());
    vl::VLVSTHostInterface& host = m.rig.host;
    EXPECT_TRUE(host.KeyboardNote('D', true));
    EXPECT_TRUE(host.KeyboardNote('D', true));  // auto-repeat sends nothing
    EXPECT_TRUE(host.KeyboardNote('K', true));
    EXPECT_TRUE(host.KeyboardNote('D', false));
    EXPECT_TRUE(host.KeyboardNote('P', true));
    EXPECT_TRUE(host.KeyboardNote('P', false));
    EXPECT_FALSE(host.KeyboardNote('Z', true));
    m.block();
    EXPECT_EQ(m.plugin.messages(),
              (Bytes{{0x90, 48, 94}, {0x90, 57, 94}, {0x90, 48, 0}, {0xB0, 123, 0}, {0xB0, 123, 0}}));

    // A note held across an octave change is ended by its key-up all the same.
    m.plugin.received.clear();
    host.KeyboardNote('V', true);
    EXPECT_EQ(host.keyboardOctave, 4);  // key-downs of C and V change nothing
    host.KeyboardNote('V', false);
    EXPECT_EQ(host.keyboardOctave, 5);
    EXPECT_TRUE(host.keyHoldsNote('K'));
    host.KeyboardNote('K', false);
    EXPECT_FALSE(host.keyHoldsNote('K'));
    m.block();
    EXPECT_EQ(m.plugin.messages(), (Bytes{{0x90, 57, 0}}));
    m.plugin.received.clear();

    for (int i = 0; i < 7; ++i) host.KeyboardNote('C', false);
    EXPECT_EQ(host.keyboardOctave, 0);
    for (int i = 0; i < 12; ++i) host.KeyboardNote('V', false);
    EXPECT_EQ(host.keyboardOctave, 10);
    EXPECT_TRUE(host.KeyboardNote('I', true));  // note 128: used, but no event
    EXPECT_TRUE(host.KeyboardNote('H', true));  // note 125
    m.block();
    EXPECT_EQ(m.plugin.messages(), (Bytes{{0x90, 125, 94}}));
}

// Losing the keyboard ends every note it started, once; keys that hold nothing send nothing.
TEST(KeyboardNotes, ReleasingTheKeyboardEndsItsNotes) {
    MidiRig m;
    ASSERT_TRUE(m.start());
    vl::VLVSTHostInterface& host = m.rig.host;
    host.KeyboardNote('D', true);
    host.KeyboardNote('F', true);
    host.KeyboardNote('V', false);  // octave 5 now; the held notes stay 48 and 50
    host.KeyboardNote('G', true);   // 64
    host.KeyboardNote('G', false);
    host.ReleaseKeyboardNotes();
    host.ReleaseKeyboardNotes();
    EXPECT_FALSE(host.keyHoldsNote('D'));
    EXPECT_FALSE(host.KeyboardNote('Z', false));
    host.KeyboardNote('D', false);  // the real release arrives later: the note is off already
    m.block();
    EXPECT_EQ(m.plugin.messages(),
              (Bytes{{0x90, 48, 94}, {0x90, 50, 94}, {0x90, 64, 94}, {0x90, 64, 0}, {0x90, 48, 0}, {0x90, 50, 0}}));
}
