#include "midi/jack/VLJackMidi.h"

#include <jack/midiport.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

#include "audio/jack/JackPorts.h"
#include "platform/Text.h"

namespace vl {

namespace {

constexpr uint32_t kCloseDrainMs = 1000;  // senders leaving the output gate, a cycle its handlers
// The longest short port name of ours: the server's limit leaves room for the client's name.
constexpr size_t kMaxPortName = 200;

// The server's frame of the message being delivered, read by the decoder as its clock. Only
// the process thread sets it and only its deliveries read it.
thread_local int64_t deliveringFrame = 0;

std::vector<std::string> midiPorts(jack_client_t* client, unsigned long flags) {
    return jackports::portNames(client, JACK_DEFAULT_MIDI_TYPE, flags);
}

bool waitWhile(const std::atomic<bool>& flag, uint32_t ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (flag.load(std::memory_order_seq_cst)) {
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

bool joined(int result) { return result == 0 || result == EEXIST; }

}  // namespace

VLJackMidi::VLJackMidi(VLJack& audioClient) : audio(audioClient) {
    jackports::silenceLibrary();
    closed = true;
}

VLJackMidi::~VLJackMidi() { disconnect(); }

int64_t VLJackMidi::eventFrame() { return deliveringFrame; }

bool VLJackMidi::connected() const {
    jack_client_t* client = registeredOn.load(std::memory_order_acquire);
    return client && client == audio.handle() && !audio.serverLost();
}

bool VLJackMidi::connect() {
    if (connected()) return true;
    if (registeredOn.load(std::memory_order_acquire)) disconnect();
    if (!audio.activate()) return false;
    jack_client_t* client = audio.handle();
    registeredOn.store(client, std::memory_order_release);
    if (!decoder)
        decoder = std::make_unique<MidiInputDecoder>(messageRecord, &eventFrame,
                                                     static_cast<int64_t>(jack_get_sample_rate(client)));
    // Sources known from an earlier server keep their numbers and get their ports again.
    if (inputCount.load(std::memory_order_acquire) == 0) addInput("");
    for (size_t i = 0; i < inputCount.load(std::memory_order_acquire); ++i) registerInputPort(inputs[i]);
    outPort.store(jack_port_register(client, "midi_out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0),
                  std::memory_order_release);
    if (outputs.empty()) addOutput("");
    listPorts();
    audio.setConnectHook(&onConnection, this);
    audio.attachCycleClient(this);
    return outPort.load(std::memory_order_acquire) != nullptr;
}

void VLJackMidi::disconnect() {
    closeDevices();
    audio.setConnectHook(nullptr, nullptr);
    audio.attachCycleClient(nullptr);  // no cycle uses the ports from here on
    const bool portsLive = connected();
    jack_client_t* client = registeredOn.exchange(nullptr, std::memory_order_acq_rel);
    for (size_t i = 0; i < inputCount.load(std::memory_order_acquire); ++i) {
        jack_port_t* port = inputs[i].port.exchange(nullptr, std::memory_order_acq_rel);
        if (port && portsLive) jack_port_unregister(client, port);
    }
    jack_port_t* out = outPort.exchange(nullptr, std::memory_order_acq_rel);
    if (out && portsLive) jack_port_unregister(client, out);
}

void VLJackMidi::clientClosing() {
    // The ports go with the client; the process thread no longer runs.
    for (size_t i = 0; i < inputCount.load(std::memory_order_acquire); ++i)
        inputs[i].port.store(nullptr, std::memory_order_release);
    outPort.store(nullptr, std::memory_order_release);
    registeredOn.store(nullptr, std::memory_order_release);
}

void VLJackMidi::addRecord(const std::wstring& deviceName, bool isInput, int32_t id, bool active) {
    auto record = std::make_unique<MidiDeviceRecord>();
    record->deviceId = id;
    record->name = deviceName;
    record->isInput = isInput;
    record->active = active;
    devices.push_back(std::move(record));
}

bool VLJackMidi::registerInputPort(Input& input) {
    jack_client_t* client = registeredOn.load(std::memory_order_acquire);
    if (input.port.load(std::memory_order_acquire) || !client) return input.port.load() != nullptr;
    std::string name = input.source.empty() ? "midi_in" : "in " + input.source;
    if (name.size() > kMaxPortName) name.resize(kMaxPortName);
    jack_port_t* port = jack_port_register(client, name.c_str(), JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    input.port.store(port, std::memory_order_release);
    return port != nullptr;
}

void VLJackMidi::addInput(const std::string& source) {
    const size_t n = inputCount.load(std::memory_order_acquire);
    if (n >= kMaxInputs) return;
    Input& input = inputs[n];
    input.source = source;
    input.instance.decoder = decoder.get();
    input.open.store(false, std::memory_order_release);
    input.wasOpen = false;
    input.userRemoved.store(false, std::memory_order_release);
    registerInputPort(input);
    addRecord(source.empty() ? kJackMidiInName : platform::utf8ToWide(source), true, static_cast<int32_t>(n),
              source.empty());
    // Published last: the process thread and the notification thread read inputs below it.
    inputCount.store(n + 1, std::memory_order_release);
}

void VLJackMidi::addOutput(const std::string& sink) {
    auto output = std::make_unique<Output>();
    output->sink = sink;
    addRecord(sink.empty() ? kJackMidiOutName : platform::utf8ToWide(sink), false,
              static_cast<int32_t>(outputs.size()), sink.empty());
    outputs.push_back(std::move(output));
}

bool VLJackMidi::listPorts() {
    jack_client_t* client = registeredOn.load(std::memory_order_acquire);
    if (!client) return false;
    seenRegistrations = audio.portRegistrations();
    const std::string own = std::string(jack_get_client_name(client)) + ":";
    bool grew = false;
    for (const std::string& source : midiPorts(client, JackPortIsOutput)) {
        if (source.rfind(own, 0) == 0) continue;
        const size_t n = inputCount.load(std::memory_order_acquire);
        Input* known = nullptr;
        for (size_t i = 1; i < n; ++i)
            if (inputs[i].source == source) known = &inputs[i];
        if (!known) {
            addInput(source);
            grew = true;
        } else if (known->open.load(std::memory_order_acquire)) {
            // The source came back (a keyboard plugged in again): connected as before.
            known->userRemoved.store(false, std::memory_order_release);
            connectSource(*known);
        }
    }
    for (const std::string& sink : midiPorts(client, JackPortIsInput)) {
        if (sink.rfind(own, 0) == 0) continue;
        const bool known = std::any_of(outputs.begin(), outputs.end(),
                                       [&](const std::unique_ptr<Output>& o) { return o->sink == sink; });
        if (!known) {
            addOutput(sink);
            grew = true;
        }
    }
    return grew;
}

bool VLJackMidi::devicesChanged() const { return connected() && audio.portRegistrations() != seenRegistrations; }

bool VLJackMidi::refreshDevices() { return connected() && listPorts(); }

std::vector<std::string> VLJackMidi::removedConnections() const {
    std::vector<std::string> removed;
    jack_client_t* client = registeredOn.load(std::memory_order_acquire);
    if (!client) return removed;
    const auto present = [client](const std::string& port) { return jack_port_by_name(client, port.c_str()) != nullptr; };
    const size_t n = inputCount.load(std::memory_order_acquire);
    for (size_t i = 1; i < n; ++i) {
        const Input& input = inputs[i];
        const bool used = input.open.load(std::memory_order_acquire) || input.wasOpen;
        if (used && input.userRemoved.load(std::memory_order_acquire) && present(input.source))
            removed.push_back(input.source);
    }
    const int32_t open = openOutput.load(std::memory_order_acquire);
    for (size_t o = 1; o < outputs.size(); ++o) {
        const Output& output = *outputs[o];
        const bool used = static_cast<int32_t>(o) == open || output.wasOpen;
        if (used && output.userRemoved.load(std::memory_order_acquire) && present(output.sink))
            removed.push_back(output.sink);
    }
    return removed;
}

void VLJackMidi::keepRemoved(const std::vector<std::string>& portNames) {
    const auto kept = [&](const std::string& port) {
        return std::find(portNames.begin(), portNames.end(), port) != portNames.end();
    };
    const size_t n = inputCount.load(std::memory_order_acquire);
    for (size_t i = 1; i < n; ++i) {
        Input& input = inputs[i];
        if (input.open.load(std::memory_order_acquire) || !kept(input.source)) continue;
        input.wasOpen = true;
        input.userRemoved.store(true, std::memory_order_release);
    }
    for (size_t o = 1; o < outputs.size(); ++o) {
        Output& output = *outputs[o];
        if (static_cast<int32_t>(o) == openOutput.load(std::memory_order_acquire) || !kept(output.sink)) continue;
        output.wasOpen = true;
        output.userRemoved.store(true, std::memory_order_release);
    }
}

bool VLJackMidi::connectSource(Input& input) {
    jack_port_t* port = input.port.load(std::memory_order_acquire);
    if (!port) return false;
    if (input.source.empty() || input.userRemoved.load(std::memory_order_acquire)) return true;
    jack_client_t* client = registeredOn.load(std::memory_order_acquire);
    // A source that is not there now (a keyboard unplugged, a server started again without
    // it) is waited for: the listing connects it when it comes back.
    if (!jack_port_by_name(client, input.source.c_str())) return true;
    return joined(jack_connect(client, input.source.c_str(), jack_port_name(port)));
}

bool VLJackMidi::openDevices(const int32_t* inputDevice, const int32_t* outputDevice, MidiHandler handler,
                             void* handlerValue) {
    if (!connected()) return false;
    bool ok = true;
    if (inputDevice) {
        const int32_t id = *inputDevice;
        if (id < 0 || static_cast<size_t>(id) >= inputCount.load(std::memory_order_acquire) || !handler) return false;
        Input& input = inputs[static_cast<size_t>(id)];
        input.instance.handler = handler;
        input.instance.handlerValue = handlerValue;
        // Chosen anew: the host connects it, whatever the user did to the last connection.
        if (!input.wasOpen) input.userRemoved.store(false, std::memory_order_release);
        if (!connectSource(input)) ok = false;
        // Published last: the process thread reads the instance only while open is set.
        if (ok) input.open.store(true, std::memory_order_seq_cst);
    }
    if (outputDevice && ok) {
        const int32_t id = *outputDevice == kMidiMapperId ? 0 : *outputDevice;
        jack_port_t* out = outPort.load(std::memory_order_acquire);
        if (id < 0 || static_cast<size_t>(id) >= outputs.size() || !out) return false;
        Output& output = *outputs[static_cast<size_t>(id)];
        if (!output.wasOpen) output.userRemoved.store(false, std::memory_order_release);
        if (!output.sink.empty() && !output.userRemoved.load(std::memory_order_acquire) &&
            !joined(jack_connect(registeredOn.load(std::memory_order_acquire), jack_port_name(out),
                                 output.sink.c_str())))
            return false;
        openOutputRecord.store(&output, std::memory_order_release);
        openOutput.store(id, std::memory_order_release);
        gate.open();
    }
    return ok;
}

void VLJackMidi::closeDevices() {
    gate.close();
    gate.drain(kCloseDrainMs);
    const int32_t wasOpenOutput = openOutput.exchange(-1, std::memory_order_acq_rel);
    openOutputRecord.store(nullptr, std::memory_order_release);
    for (size_t o = 0; o < outputs.size(); ++o) outputs[o]->wasOpen = static_cast<int32_t>(o) == wasOpenOutput;
    // The connections stay as they are: the next opening finds what the user left.
    const size_t n = inputCount.load(std::memory_order_acquire);
    for (size_t i = 0; i < n; ++i) {
        Input& input = inputs[i];
        input.wasOpen = input.open.exchange(false, std::memory_order_seq_cst);
    }
    // A cycle that read an input open may still be inside its handler: the close notice comes
    // after it (bounded; the handlers never wait).
    waitWhile(delivering, kCloseDrainMs);
    for (size_t i = 0; i < n; ++i)
        if (inputs[i].wasOpen) MidiInputDecoder::deliver(&inputs[i].instance, MidiInputEvent::CloseNotice, 0);
}

void VLJackMidi::sendShortMessage(uint32_t message) {
    SendGate::Pass pass = gate.enter();
    if (!pass || openOutput.load(std::memory_order_acquire) < 0) return;
    outputRing.push(RingMessage{message, 0, 0});
}

bool VLJackMidi::sendAtFrame(uint32_t message, uint32_t frame) {
    if (openOutput.load(std::memory_order_acquire) < 0 || !outBuffer) return false;
    if (blockOutCount >= blockOut.size()) {
        blockOutDropped.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    if (outFrames > 0 && frame >= outFrames) frame = outFrames - 1;
    // In frame order, messages of one frame in the order they were sent.
    size_t at = blockOutCount++;
    while (at > 0 && blockOut[at - 1].frame > frame) {
        blockOut[at] = blockOut[at - 1];
        --at;
    }
    blockOut[at] = OutMessage{message, frame};
    return true;
}

std::string VLJackMidi::portNameOf(int32_t deviceId) const {
    if (deviceId < 0 || static_cast<size_t>(deviceId) >= inputCount.load(std::memory_order_acquire)) return {};
    jack_port_t* port = inputs[static_cast<size_t>(deviceId)].port.load(std::memory_order_acquire);
    return port ? jack_port_name(port) : std::string();
}

void VLJackMidi::onConnection(jack_port_t* own, const char* other, bool connected, void* user) {
    auto* self = static_cast<VLJackMidi*>(user);
    if (!self || !other) return;
    // The host never breaks its own connections: a broken one is the user's (a patchbay), and
    // one made again (by the user or by an opening) is no longer removed.
    const bool removed = !connected;
    const size_t n = self->inputCount.load(std::memory_order_acquire);
    for (size_t i = 1; i < n; ++i) {
        Input& input = self->inputs[i];
        if (input.port.load(std::memory_order_acquire) == own && input.source == other)
            input.userRemoved.store(removed, std::memory_order_release);
    }
    // The output list grows on the user-interface thread: only the open output is looked at.
    Output* output = self->openOutputRecord.load(std::memory_order_acquire);
    if (output && own == self->outPort.load(std::memory_order_acquire) && output->sink == other)
        output->userRemoved.store(removed, std::memory_order_release);
}

void VLJackMidi::deliverInputs(jack_nframes_t frames) {
    jack_client_t* client = registeredOn.load(std::memory_order_acquire);
    if (!client) return;
    const uint64_t blockStart = jack_last_frame_time(client);
    const size_t n = inputCount.load(std::memory_order_acquire);
    for (size_t i = 0; i < n; ++i) {
        Input& input = inputs[i];
        jack_port_t* port = input.port.load(std::memory_order_acquire);
        if (!port) continue;
        void* buffer = jack_port_get_buffer(port, frames);
        if (!input.open.load(std::memory_order_seq_cst)) continue;
        const uint32_t count = jack_midi_get_event_count(buffer);
        for (uint32_t e = 0; e < count; ++e) {
            jack_midi_event_t event;
            if (jack_midi_event_get(&event, buffer, e) != 0 || event.size == 0) continue;
            const int length = shortMessageLength(jackports::firstByte(event.buffer));
            if (length == 0 || event.size < static_cast<size_t>(length)) continue;
            const uint32_t packed = jackports::packBytes(event.buffer, static_cast<size_t>(length));
            currentFrame = event.time < frames ? event.time : frames - 1;
            deliveringFrame = static_cast<int64_t>(blockStart + event.time);
            MidiInputDecoder::deliver(&input.instance, MidiInputEvent::ShortMessage, packed);
        }
    }
    currentFrame = 0;
}

void VLJackMidi::cycleBegins(jack_nframes_t frames, bool live) {
    // Announced before the inputs' open flags are read; closing reads them the other way.
    delivering.store(true, std::memory_order_seq_cst);
    // With no engine running, what arrives is not played later: it is left in the ports.
    if (live) deliverInputs(frames);
    delivering.store(false, std::memory_order_seq_cst);

    outBuffer = nullptr;
    blockOutCount = 0;
    jack_port_t* out = outPort.load(std::memory_order_acquire);
    if (!out) return;
    outBuffer = jack_port_get_buffer(out, frames);
    outFrames = frames;
    jack_midi_clear_buffer(outBuffer);
    // What the plug-in sent from other threads since the last block: at this block's start.
    RingMessage message;
    while (outputRing.pop(message)) {
        if (!sendAtFrame(message.packed, 0)) break;
    }
}

void VLJackMidi::cycleEnds(jack_nframes_t) {
    if (!outBuffer) return;
    for (size_t i = 0; i < blockOutCount; ++i) {
        const uint32_t packed = blockOut[i].packed;
        const auto status = static_cast<uint8_t>(packed & 0xFF);
        const int length = shortMessageLength(status);
        if (length == 0) continue;
        const jack_midi_data_t bytes[3] = {status, static_cast<jack_midi_data_t>((packed >> 8) & 0x7F),
                                           static_cast<jack_midi_data_t>((packed >> 16) & 0x7F)};
        // A full port buffer drops the rest of this block's messages.
        if (jack_midi_event_write(outBuffer, blockOut[i].frame, bytes, static_cast<size_t>(length)) != 0) {
            blockOutDropped.fetch_add(blockOutCount - i, std::memory_order_relaxed);
            break;
        }
    }
    blockOutCount = 0;
    outBuffer = nullptr;
}

}  // namespace vl
