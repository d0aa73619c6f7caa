// MIDI into and out of the coordinator: the MIDI engine start, the input handler with its
// filters and MIDI clock sync, computer-keyboard notes, and the plug-in's MIDI output.

#include <cmath>

#include "host/HostCallback.h"
#include "host/VLVSTHostInterface.h"
#include "settings/HostSettings.h"

namespace vl {

namespace {

constexpr uint8_t kControlChange = 0xB0;
constexpr uint8_t kProgramChange = 0xC0;
constexpr uint8_t kNoteOn = 0x90;
constexpr uint8_t kAllNotesOff = 123;
constexpr uint8_t kClockTick = 0xF8;
constexpr uint8_t kClockStart = 0xFA;
constexpr uint8_t kClockStop = 0xFC;
constexpr uint8_t kKeyboardVelocity = 94;
constexpr int32_t kTicksPerWindow = 24;
// 1/24 quarter note, as the single-precision value of 1/24 widened to double.
constexpr double kClockTickPpq = 0.0416666679084301;

// Semitone of a note key on the two letter rows (middle row white keys, upper row black keys).
int semitoneOfKey(int key) {
    switch (key) {
        case 'D': return 0;
        case 'R': return 1;
        case 'F': return 2;
        case 'T': return 3;
        case 'G': return 4;
        case 'H': return 5;
        case 'U': return 6;
        case 'J': return 7;
        case 'I': return 8;
        case 'K': return 9;
        case 'O': return 10;
        case 'L': return 11;
        default: return -1;
    }
}

}  // namespace

bool VLVSTHostInterface::insertMidiEvent(uint8_t status, uint8_t data1, uint8_t data2, uint8_t channel) {
    return events.insertMidiEvent(status, data1, data2, channel);
}

void VLVSTHostInterface::trackSoundingNotes(const vst::VstEvents& list) {
    for (vst::int32 i = 0; i < list.numEvents; ++i) {
        const auto* e = reinterpret_cast<const vst::VstMidiEvent*>(list.events[i]);
        if (e->type != vst::kVstMidiType) continue;
        const auto status = static_cast<uint8_t>(e->midiData[0]);
        const auto data1 = static_cast<uint8_t>(e->midiData[1]) & 0x7Fu;
        const auto data2 = static_cast<uint8_t>(e->midiData[2]);
        const uint32_t channel = status & 0x0Fu;
        const uint32_t bit = channel * 128 + data1;
        const uint64_t mask = uint64_t(1) << (bit % 64);
        if ((status & 0xF0) == kNoteOn && data2 != 0) {
            soundingNotes[bit / 64] |= mask;
        } else if ((status & 0xF0) == 0x80 || (status & 0xF0) == kNoteOn) {
            soundingNotes[bit / 64] &= ~mask;
        } else if ((status & 0xF0) == kControlChange && (data1 == kAllNotesOff || data1 == 120)) {
            soundingNotes[channel * 2] = soundingNotes[channel * 2 + 1] = 0;
        }
    }
}

void VLVSTHostInterface::forgetStaleEvents() {
    events.discardWaiting();
    for (uint32_t word = 0; word < 32; ++word) {
        for (uint64_t bits = soundingNotes[word]; bits != 0; bits &= bits - 1) {
            const uint32_t bit = word * 64 + static_cast<uint32_t>(__builtin_ctzll(bits));
            events.queueNoteOff(static_cast<uint8_t>(bit / 128), static_cast<uint8_t>(bit % 128));
            restartNoteOffs += 1;
        }
        soundingNotes[word] = 0;
    }
}

void VLVSTHostInterface::StopMidiEngine() {
    // Without an open output the plug-in is told that its MIDI goes nowhere.
    if (slot && slot->midiOutUser.load() == this) slot->installMidiOutHook(nullptr, nullptr);
    if (midi) midi->closeDevices();
    syncActive.store(false, std::memory_order_release);
    // Closing delivered every input's close notice; no callback can reach the contexts now.
    inputContexts.clear();
}

bool VLVSTHostInterface::StartMidiEngine() {
    if (!linked()) return false;
    StopMidiEngine();

    midiOutputDevice = nullptr;
    for (const auto& device : midi->devices) {
        if (!device->isInput && device->active) {
            midiOutputDevice = device.get();
            break;
        }
    }

    bool inputFailed = false;
    if (slot->canDo("receiveVstMidiEvent")) {
        for (const auto& record : settings->midiDevices) {
            if (!record->isInput || !record->active || record->deviceId == -1) continue;
            MidiDeviceRecord* options = settings->findMidiDevice(*record);
            if (!options) return false;
            auto context = std::make_unique<MidiInputContext>();
            context->device = options;
            context->host = this;
            const int32_t deviceId = record->deviceId;
            MidiInputContext* value = context.get();
            inputContexts.push_back(std::move(context));
            // Only the first input that really opened with clock sync follows the clock.
            value->followsClock = options->sync && !syncActive.load(std::memory_order_acquire);
            if (midi->openDevices(&deviceId, nullptr, &MidiInputHandler, value)) {
                if (options->sync) syncActive.store(true, std::memory_order_release);
            } else {
                options->active = false;
                record->active = false;
                for (const auto& engineRecord : midi->devices) {
                    if (engineRecord->isInput && engineRecord->name == record->name) engineRecord->active = false;
                }
                inputFailed = true;
            }
        }
    }

    if (slot->canDo("sendVstMidiEvent") && midiOutputDevice) {
        const int32_t deviceId = midiOutputDevice->deviceId;
        if (midi->openDevices(nullptr, &deviceId, nullptr, nullptr)) {
            slot->installMidiOutHook(&forwardMidiOut, this);
        } else {
            midiOutputDevice = nullptr;
            return false;
        }
    }
    return !inputFailed;
}

void VLVSTHostInterface::forwardMidiOut(const vst::VstMidiEvent* event, void* user) {
    auto* self = static_cast<VLVSTHostInterface*>(user);
    if (!self || !self->midi || !event) return;
    const auto* d = reinterpret_cast<const uint8_t*>(event->midiData);
    const uint32_t packed =
        static_cast<uint32_t>(d[0]) | (static_cast<uint32_t>(d[1]) << 8) | (static_cast<uint32_t>(d[2]) << 16);
    // Sent from inside the block: at its frame of the block (the piece's frames counted from
    // the block's start). From any other thread: as soon as the engine can.
    if (self->timedMidi && onProcessThread()) {
        const uint32_t delta = event->deltaFrames > 0 ? static_cast<uint32_t>(event->deltaFrames) : 0;
        self->timedMidi->sendAtFrame(packed, self->pieceStart + delta);
        return;
    }
    self->midi->sendShortMessage(packed);
}

void VLVSTHostInterface::MidiInputHandler(const MidiMessage* message, void* value) {
    auto* context = static_cast<MidiInputContext*>(value);
    if (!message || !context || !context->device || !context->host) return;
    if (message->status == 0 && message->command == 0) {
        // Close notice: the coordinator frees the context once the engine is closed.
        context->closed.store(true, std::memory_order_release);
        return;
    }
    context->host->handleMidiMessage(*message, *context);
}

void VLVSTHostInterface::handleMidiMessage(const MidiMessage& m, MidiInputContext& input) {
    MidiDeviceRecord& device = *input.device;
    if (m.command == 0xF0) {
        if (device.sync && input.followsClock) handleClockMessage(m, input);
        return;  // system messages never reach the plug-in
    }
    const int32_t channelSetting = device.channel;
    if (channelSetting != 0 && channelSetting != m.channel + 1) return;
    if (device.filterCCMessages && m.status == kControlChange) return;
    if (device.filterProgramChanges && m.status == kProgramChange) return;
    // The range applies to every channel message's first data byte, not only to notes.
    if (m.data1 < device.keyboardRangeLeft || m.data1 > device.keyboardRangeRight) return;
    // An engine that delivers inside the process cycle: into this block, at the message's frame.
    if (timedMidi) {
        // A list that is full hands the message to the queue, which keeps releases for later.
        if (!blockEvents.add(timedMidi->deliveryFrame(), m.status, m.data1, m.data2, m.channel))
            insertMidiEvent(m.status, m.data1, m.data2, m.channel);
        return;
    }
    insertMidiEvent(m.status, m.data1, m.data2, m.channel);
}

void VLVSTHostInterface::handleClockMessage(const MidiMessage& m, MidiInputContext& input) {
    const MidiDeviceRecord& device = *input.device;
    const bool isPlaying = transportPlaying();
    switch (m.status) {
        case kClockStop:
            requestedPlaying.store(false, std::memory_order_release);
            if (isPlaying) transportRequest.store(true, std::memory_order_release);
            return;
        case kClockStart: {
            // The first tick after a start is timed from the start.
            input.lastClockMs = m.timeMs;
            input.haveClockTime = true;
            input.clockTimeSum = 0.0;
            input.clockTickCount = 0;
            // The delay in milliseconds as quarter notes at the current tempo.
            clockPpq.store(tempo.load(std::memory_order_acquire) / 60000.0 * device.delay, std::memory_order_release);
            clockStartCount.fetch_add(1, std::memory_order_acq_rel);  // the next block takes the position
            resetMusicalPosition();
            requestedPlaying.store(true, std::memory_order_release);
            if (!isPlaying) transportRequest.store(true, std::memory_order_release);
            return;
        }
        case kClockTick: {
            // Timed from this input's previous tick: active sensing, notes or controllers in
            // between, here or on other inputs, do not shorten the interval.
            const double interval = input.haveClockTime ? m.timeMs - input.lastClockMs : 0.0;
            input.lastClockMs = m.timeMs;
            input.haveClockTime = true;
            if ((!isPlaying || device.syncWhilePlaying) && interval > 0.0) {
                input.clockTimeSum += interval;
                input.clockTickCount += 1;
                if (input.clockTickCount == kTicksPerWindow) {
                    const double newTempo = std::floor(60000.0 / input.clockTimeSum * 10.0 + 0.5) / 10.0;
                    input.clockTimeSum = 0.0;
                    input.clockTickCount = 0;
                    // A window across a long pause gives no tempo (0.0 BPM): it is ignored.
                    // The newest tempo replaces one still pending: the MIDI thread never waits.
                    if (isUsableTempo(newTempo) && newTempo != tempo.load(std::memory_order_acquire)) {
                        replaceTempo(newTempo);
                        followedTempo();
                    }
                }
            }
            // One atomic step: ticks of two inputs at once both count.
            clockPpq.fetch_add(kClockTickPpq, std::memory_order_acq_rel);
            return;
        }
        default:
            return;  // continue, song position, active sensing, reset, ...
    }
}

bool VLVSTHostInterface::KeyboardNote(int key, bool isKeyDown) {
    if (!linked()) return false;
    if (key == 'P') {
        Panic();
        return true;
    }
    bool used = false;
    const int semitone = semitoneOfKey(key);
    if (semitone >= 0) {
        used = true;
        uint8_t& started = keyNote[key & 0xFF];
        // A release ends the note its press started, whatever the octave is now.
        const int note = !isKeyDown && started ? started - 1 : keyboardOctave * 12 + semitone;
        if (note >= 0 && note <= 127) {
            uint8_t& held = noteState[note];
            // Only a change sends: auto-repeated key-downs find the note already on.
            if ((isKeyDown && !held) || (!isKeyDown && held)) {
                held = held ? 0 : 1;
                insertMidiEvent(kNoteOn, static_cast<uint8_t>(note), isKeyDown ? kKeyboardVelocity : 0, 0);
                if (isKeyDown) started = static_cast<uint8_t>(note + 1);
            }
        }
        if (!isKeyDown) started = 0;
    } else if (key == 'C' || key == 'V') {
        used = true;
        if (!isKeyDown) keyboardOctave += key == 'C' ? -1 : 1;
    }
    if (keyboardOctave < 0) keyboardOctave = 0;
    if (keyboardOctave > 10) keyboardOctave = 10;
    return used;
}

bool VLVSTHostInterface::keyHoldsNote(int key) const { return keyNote[key & 0xFF] != 0; }

void VLVSTHostInterface::ReleaseKeyboardNotes() {
    for (int key = 0; key < 256; ++key) {
        if (keyNote[key]) KeyboardNote(key, false);
    }
}

void VLVSTHostInterface::Panic() {
    if (!linked()) return;
    insertMidiEvent(kControlChange, kAllNotesOff, 0, 0);
}

}  // namespace vl
