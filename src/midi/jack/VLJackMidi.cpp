#include "midi/jack/VLJackMidi.h"

#include <jack/midiport.h>

#include <cerrno>
#include <ctime>

#include "audio/jack/JackPorts.h"
#include "platform/Text.h"

namespace vl {

namespace {

constexpr uint32_t kDeliveryWakeMs = 50;   // the delivery thread's longest sleep
constexpr uint32_t kCloseDrainMs = 1000;  // senders leaving the output gate

// The frame of the message being delivered, read by the decoder as its clock. Only the
// delivery thread sets it and only its deliveries read it.
thread_local int64_t deliveringFrame = 0;

std::vector<std::string> midiPorts(jack_client_t* client, unsigned long flags) {
    return jackports::portNames(client, JACK_DEFAULT_MIDI_TYPE, flags);
}

timespec deadlineIn(uint32_t ms) {
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    t.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
    t.tv_sec += ms / 1000 + t.tv_nsec / 1000000000L;
    t.tv_nsec %= 1000000000L;
    return t;
}

}  // namespace

VLJackMidi::VLJackMidi(std::string clientName) : name(std::move(clientName)) {
    jackports::silenceLibrary();
    sem_init(&wake, 0, 0);
    closed = true;
}

VLJackMidi::~VLJackMidi() {
    disconnect();
    sem_destroy(&wake);
}

int64_t VLJackMidi::eventFrame() { return deliveringFrame; }

bool VLJackMidi::connect() {
    if (client && serverGone.load(std::memory_order_acquire)) disconnect();
    if (client) return true;
    jack_status_t status{};
    client = jack_client_open(name.c_str(), JackNoStartServer, &status);
    if (!client) return false;
    serverGone.store(false, std::memory_order_release);
    decoder = std::make_unique<MidiInputDecoder>(messageRecord, &eventFrame,
                                                 static_cast<int64_t>(jack_get_sample_rate(client)));
    listDevices();
    jack_set_process_callback(client, &processCallback, this);
    jack_on_shutdown(client, &shutdownCallback, this);
    if (jack_activate(client) != 0) {
        disconnect();
        return false;
    }
    deliveryStop.store(false, std::memory_order_release);
    delivery = std::thread([this] { deliveryLoop(); });
    return true;
}

// Called before activation: every port the devices may need is registered now, so that the
// process thread's list never changes while it runs.
void VLJackMidi::listDevices() {
    devices.clear();
    inputs.clear();
    outputs.clear();
    const std::string own = std::string(jack_get_client_name(client)) + ":";
    auto addRecord = [this](const std::wstring& deviceName, bool isInput, int32_t id, bool active) {
        auto record = std::make_unique<MidiDeviceRecord>();
        record->deviceId = id;
        record->name = deviceName;
        record->isInput = isInput;
        record->active = active;
        devices.push_back(std::move(record));
    };

    auto addInput = [&](const std::string& source) {
        auto input = std::make_unique<Input>();
        const std::string portName = source.empty() ? "midi_in" : "in_" + std::to_string(inputs.size());
        input->port = jack_port_register(client, portName.c_str(), JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        if (!input->port) return;
        input->source = source;
        input->instance.decoder = decoder.get();
        addRecord(source.empty() ? kJackMidiInName : platform::utf8ToWide(source), true,
                  static_cast<int32_t>(inputs.size()), source.empty());
        inputs.push_back(std::move(input));
    };
    addInput("");
    for (const std::string& source : midiPorts(client, JackPortIsOutput))
        if (source.rfind(own, 0) != 0) addInput(source);

    outPort = jack_port_register(client, "midi_out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    if (!outPort) return;
    outputs.push_back(Output{});
    addRecord(kJackMidiOutName, false, 0, true);
    for (const std::string& sink : midiPorts(client, JackPortIsInput)) {
        if (sink.rfind(own, 0) == 0) continue;
        addRecord(platform::utf8ToWide(sink), false, static_cast<int32_t>(outputs.size()), false);
        outputs.push_back(Output{sink});
    }
}

void VLJackMidi::disconnect() {
    closeDevices();
    stopDelivery();
    if (client) {
        if (!serverGone.load(std::memory_order_acquire)) jack_deactivate(client);
        jack_client_close(client);
        client = nullptr;
    }
    outPort = nullptr;
    inputs.clear();
    outputs.clear();
}

void VLJackMidi::stopDelivery() {
    if (!delivery.joinable()) return;
    deliveryStop.store(true, std::memory_order_release);
    sem_post(&wake);
    // The loop wakes at least every kDeliveryWakeMs and ends after its current message.
    delivery.join();
}

bool VLJackMidi::openDevices(const int32_t* inputDevice, const int32_t* outputDevice, MidiHandler handler,
                             void* handlerValue) {
    if (!client || serverGone.load(std::memory_order_acquire)) return false;
    bool ok = true;
    if (inputDevice) {
        const int32_t id = *inputDevice;
        if (id < 0 || static_cast<size_t>(id) >= inputs.size() || !handler) return false;
        Input& input = *inputs[static_cast<size_t>(id)];
        input.instance.handler = handler;
        input.instance.handlerValue = handlerValue;
        if (!input.source.empty()) {
            const int result = jack_connect(client, input.source.c_str(), jack_port_name(input.port));
            if (result != 0 && result != EEXIST) ok = false;
        }
        // Published last: the delivery thread reads the instance only while open is set.
        if (ok) input.open.store(true, std::memory_order_release);
    }
    if (outputDevice && ok) {
        const int32_t id = *outputDevice == kMidiMapperId ? 0 : *outputDevice;
        if (id < 0 || static_cast<size_t>(id) >= outputs.size() || !outPort) return false;
        const std::string& sink = outputs[static_cast<size_t>(id)].sink;
        if (!sink.empty()) {
            const int result = jack_connect(client, jack_port_name(outPort), sink.c_str());
            if (result != 0 && result != EEXIST) return false;
        }
        openOutput.store(id, std::memory_order_release);
        gate.open();
    }
    return ok;
}

void VLJackMidi::closeDevices() {
    gate.close();
    gate.drain(kCloseDrainMs);
    openOutput.store(-1, std::memory_order_release);
    // The delivery thread is stopped, so that no message is handed over after its input's
    // close notice; it starts again for the next opening.
    const bool wasDelivering = delivery.joinable();
    stopDelivery();
    for (auto& input : inputs) {
        if (!input->open.exchange(false, std::memory_order_acq_rel)) continue;
        if (client && !input->source.empty() && !serverGone.load(std::memory_order_acquire))
            jack_disconnect(client, input->source.c_str(), jack_port_name(input->port));
        MidiInputDecoder::deliver(&input->instance, MidiInputEvent::CloseNotice, 0);
    }
    RingMessage stale;
    while (inputRing.pop(stale)) {
    }
    if (wasDelivering && client) {
        deliveryStop.store(false, std::memory_order_release);
        delivery = std::thread([this] { deliveryLoop(); });
    }
}

void VLJackMidi::sendShortMessage(uint32_t message) {
    SendGate::Pass pass = gate.enter();
    if (!pass || openOutput.load(std::memory_order_acquire) < 0) return;
    outputRing.push(RingMessage{message, 0, 0});
}

std::string VLJackMidi::portNameOf(int32_t deviceId) const {
    if (deviceId < 0 || static_cast<size_t>(deviceId) >= inputs.size()) return {};
    return jack_port_name(inputs[static_cast<size_t>(deviceId)]->port);
}

void VLJackMidi::deliveryLoop() {
    while (!deliveryStop.load(std::memory_order_acquire)) {
        const timespec until = deadlineIn(kDeliveryWakeMs);
        sem_timedwait(&wake, &until);
        RingMessage message;
        while (!deliveryStop.load(std::memory_order_acquire) && inputRing.pop(message)) {
            if (message.source >= inputs.size()) continue;
            Input& input = *inputs[message.source];
            if (!input.open.load(std::memory_order_acquire)) continue;
            deliveringFrame = static_cast<int64_t>(message.frame);
            MidiInputDecoder::deliver(&input.instance, MidiInputEvent::ShortMessage, message.packed);
        }
    }
}

int VLJackMidi::processCallback(jack_nframes_t frames, void* self) {
    return static_cast<VLJackMidi*>(self)->process(frames);
}

int VLJackMidi::process(jack_nframes_t frames) {
    const uint64_t blockStart = jack_last_frame_time(client);
    bool received = false;
    for (size_t i = 0; i < inputs.size(); ++i) {
        Input& input = *inputs[i];
        void* buffer = jack_port_get_buffer(input.port, frames);
        if (!input.open.load(std::memory_order_acquire)) continue;
        const uint32_t count = jack_midi_get_event_count(buffer);
        for (uint32_t e = 0; e < count; ++e) {
            jack_midi_event_t event;
            if (jack_midi_event_get(&event, buffer, e) != 0 || event.size == 0) continue;
            const int length = shortMessageLength(jackports::firstByte(event.buffer));
            if (length == 0 || event.size < static_cast<size_t>(length)) continue;
            const uint32_t packed = jackports::packBytes(event.buffer, static_cast<size_t>(length));
            received = inputRing.push(RingMessage{packed, static_cast<uint32_t>(i), blockStart + event.time}) || received;
        }
    }
    if (received) sem_post(&wake);  // never blocks

    if (outPort) {
        void* buffer = jack_port_get_buffer(outPort, frames);
        jack_midi_clear_buffer(buffer);
        RingMessage message;
        while (outputRing.pop(message)) {
            const uint8_t status = static_cast<uint8_t>(message.packed & 0xFF);
            const int length = shortMessageLength(status);
            if (length == 0) continue;
            jack_midi_data_t bytes[3] = {status, static_cast<jack_midi_data_t>((message.packed >> 8) & 0x7F),
                                         static_cast<jack_midi_data_t>((message.packed >> 16) & 0x7F)};
            // A full port buffer drops the rest of this block's messages.
            if (jack_midi_event_write(buffer, 0, bytes, static_cast<size_t>(length)) != 0) break;
        }
    }
    return 0;
}

void VLJackMidi::shutdownCallback(void* self) {
    auto* midi = static_cast<VLJackMidi*>(self);
    midi->serverGone.store(true, std::memory_order_release);
    midi->closed = true;
}

}  // namespace vl
