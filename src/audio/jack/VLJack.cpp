#include "audio/jack/VLJack.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "audio/jack/JackPorts.h"
#include "platform/Text.h"

namespace vl {

namespace {

// The longest a stop waits for a cycle that is inside the process cycle.
constexpr int kStopWaitMs = 1000;

constexpr const char* kPortNames[2][2] = {{"out_left", "out_right"}, {"in_left", "in_right"}};

std::vector<std::string> portList(jack_client_t* client, unsigned long flags) {
    return jackports::portNames(client, JACK_DEFAULT_AUDIO_TYPE, flags);
}

}  // namespace

VLJack::VLJack(std::string clientName) : name(std::move(clientName)) {
    jackports::silenceLibrary();
    for (bool isInput : {true, false}) {
        auto record = std::make_unique<AudioDeviceRecord>();
        record->type = kDeviceTypeJack;
        record->name = kJackDeviceName;
        record->isInput = isInput;
        record->isDefault = true;
        record->bitsPerSample = 32;
        devices.push_back(std::move(record));
    }
}

VLJack::~VLJack() { disconnect(); }

bool VLJack::connect() {
    if (client && serverGone.load(std::memory_order_acquire)) closeClient();
    if (client) return true;
    jack_status_t status{};
    client = jack_client_open(name.c_str(), JackNoStartServer, &status);
    if (!client) return false;
    serverGone.store(false, std::memory_order_release);
    takeDeviceEvent();  // what an earlier client reported is over
    serverFrames.store(jack_get_buffer_size(client), std::memory_order_release);
    // Callbacks may only be set while the client is inactive.
    jack_set_process_callback(client, &processCallback, this);
    jack_set_buffer_size_callback(client, &bufferSizeCallback, this);
    jack_on_shutdown(client, &shutdownCallback, this);
    if (!registerPorts()) {
        closeClient();
        return false;
    }
    return true;
}

bool VLJack::registerPorts() {
    for (int c = 0; c < 2; ++c) {
        inPorts[c] = jack_port_register(client, kPortNames[1][c], JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        outPorts[c] = jack_port_register(client, kPortNames[0][c], JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
        if (!inPorts[c] || !outPorts[c]) return false;
    }
    return true;
}

void VLJack::closeClient() {
    if (!client) return;
    // After a shutdown the server is gone: only the library's side is left to free.
    if (active && !serverGone.load(std::memory_order_acquire)) jack_deactivate(client);
    active = false;
    running.store(false, std::memory_order_release);
    jack_client_close(client);
    client = nullptr;
    for (int c = 0; c < 2; ++c) inPorts[c] = outPorts[c] = nullptr;
    for (auto& side : autoConnected)
        for (std::string& port : side) port.clear();
    for (auto& record : devices) record->detailsKnown = false;
}

double VLJack::serverSampleRate() {
    jackports::silenceLibrary();
    jack_status_t status{};
    jack_client_t* probe = jack_client_open("vorlane-rate", JackNoStartServer, &status);
    if (!probe) return 0.0;
    const double rate = jack_get_sample_rate(probe);
    jack_client_close(probe);
    return rate;
}

void VLJack::disconnect() {
    stop();
    closeClient();
    freePlanes();
}

std::vector<std::string> VLJack::connectablePorts(bool isInput) const {
    if (!client) return {};
    // The host's input takes signals from other clients' outputs, and the reverse.
    const unsigned long direction = isInput ? JackPortIsOutput : JackPortIsInput;
    std::vector<std::string> names = portList(client, direction | JackPortIsPhysical);
    const std::string own = std::string(jack_get_client_name(client)) + ":";
    for (const std::string& port : portList(client, direction)) {
        if (port.rfind(own, 0) == 0) continue;
        if (std::find(names.begin(), names.end(), port) == names.end()) names.push_back(port);
    }
    return names;
}

void VLJack::fillRecord(AudioDeviceRecord& record) {
    record.sampleRate = static_cast<double>(jack_get_sample_rate(client));
    record.bufferSize = jack_get_buffer_size(client);
    record.bitsPerSample = 32;
    record.channelNames.clear();
    for (const std::string& port : connectablePorts(record.isInput))
        record.channelNames.push_back(platform::utf8ToWide(port));
    record.channels = static_cast<uint16_t>(std::min<size_t>(record.channelNames.size(), 0xFFFF));
    record.detailsKnown = true;
}

bool VLJack::queryDetails(AudioDeviceRecord* record, bool) {
    if (!record || !connect()) return false;
    // The server's rate and block size are the truth, whatever a stored record says.
    fillRecord(*record);
    return true;
}

bool VLJack::matchFormats(AudioDeviceRecord* input, AudioDeviceRecord* output) {
    // One server clocks both directions.
    if (!connect()) return false;
    if (input) fillRecord(*input);
    if (output) fillRecord(*output);
    return true;
}

std::string VLJack::portName(bool isInput, int channel) const {
    if (channel < 0 || channel > 1) return {};
    jack_port_t* port = isInput ? inPorts[channel] : outPorts[channel];
    return port ? jack_port_name(port) : std::string();
}

void VLJack::connectPorts(const AudioDeviceRecord* record, bool isInput) {
    const int32_t chosen[2] = {record ? record->leftChannel : -1, record ? record->rightChannel : -1};
    for (int c = 0; c < 2; ++c) {
        std::string other;
        if (record && chosen[c] >= 0 && static_cast<size_t>(chosen[c]) < record->channelNames.size())
            other = platform::wideToUtf8(record->channelNames[static_cast<size_t>(chosen[c])]);
        const std::string own = portName(isInput, c);
        std::string& previous = autoConnected[isInput ? 1 : 0][c];
        // Only the connection the host made itself moves with the choice; the user's own
        // connections (made with a patchbay) stay.
        if (!previous.empty() && previous != other) {
            if (isInput)
                jack_disconnect(client, previous.c_str(), own.c_str());
            else
                jack_disconnect(client, own.c_str(), previous.c_str());
        }
        previous = other;
        if (other.empty()) continue;
        // An existing connection answers EEXIST; either way the ports are joined.
        if (isInput)
            jack_connect(client, other.c_str(), own.c_str());
        else
            jack_connect(client, own.c_str(), other.c_str());
    }
}

bool VLJack::openAndStart(AudioDeviceRecord* input, AudioDeviceRecord* output, RenderBlockProc newCallback,
                          void* user) {
    if (!output || !newCallback) return false;
    stop();
    if (!connect()) return false;
    // The process thread does not touch the planes while the engine is stopped.
    const uint32_t frames = jack_get_buffer_size(client);
    if (frames > planeFrames || !leftPlane) {
        if (!allocatePlanes(frames)) return false;
        planeFrames = frames;
    }
    callback = newCallback;
    callbackUser = user;
    hasInput.store(input != nullptr, std::memory_order_release);
    callbackEnded.store(false, std::memory_order_release);
    startedFrames.store(frames, std::memory_order_release);
    running.store(true, std::memory_order_seq_cst);
    if (!active) {
        if (jack_activate(client) != 0) {
            running.store(false, std::memory_order_release);
            return false;
        }
        active = true;
    }
    // Connections can only be made once the client is active.
    connectPorts(output, false);
    connectPorts(input, true);
    return true;
}

// The client stays active while the engine is stopped, so that the connections the user made
// survive an engine restart (a restart follows every change of the server's block size).
void VLJack::stop() {
    if (!client) return;
    if (serverGone.load(std::memory_order_acquire)) {
        closeClient();
        return;
    }
    running.store(false, std::memory_order_seq_cst);
    // A cycle that saw the engine running may still be in the process cycle: bounded wait.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStopWaitMs);
    while (inCycle.load(std::memory_order_seq_cst) && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

int VLJack::processCallback(jack_nframes_t frames, void* self) { return static_cast<VLJack*>(self)->process(frames); }

int VLJack::process(jack_nframes_t frames) {
    const auto started = std::chrono::steady_clock::now();
    // Announced before the run state is read; stop() reads them in the other order.
    inCycle.store(true, std::memory_order_seq_cst);
    if (BlockHook hook = blockHook.load(std::memory_order_acquire)) hook(client, blockHookUser);
    float* in[2];
    float* out[2];
    for (int c = 0; c < 2; ++c) {
        in[c] = static_cast<float*>(jack_port_get_buffer(inPorts[c], frames));
        out[c] = static_cast<float*>(jack_port_get_buffer(outPorts[c], frames));
    }
    const bool live = running.load(std::memory_order_seq_cst) && !callbackEnded.load(std::memory_order_acquire);
    if (!live) {
        for (int c = 0; c < 2; ++c) jackports::zeroFloats(out[c], frames);
        inCycle.store(false, std::memory_order_seq_cst);
        return 0;
    }
    const bool takesInput = hasInput.load(std::memory_order_acquire);
    // A block beyond the planes' capacity (the server grew its block size before the restart)
    // is processed in pieces.
    for (uint32_t done = 0; done < frames;) {
        const uint32_t n = std::min<uint32_t>(frames - done, planeFrames);
        if (n == 0) break;
        if (takesInput) {
            jackports::copyFloats(leftPlane, in[0] + done, n);
            jackports::copyFloats(rightPlane, in[1] + done, n);
        } else {
            std::memset(leftPlane, 0, n * sizeof(float));
            std::memset(rightPlane, 0, n * sizeof(float));
        }
        if (callbackEnded.load(std::memory_order_relaxed) || !callback(planePair, planePair, n, callbackUser)) {
            callbackEnded.store(true, std::memory_order_release);
            std::memset(leftPlane, 0, n * sizeof(float));
            std::memset(rightPlane, 0, n * sizeof(float));
        }
        jackports::copyFloats(out[0] + done, leftPlane, n);
        jackports::copyFloats(out[1] + done, rightPlane, n);
        done += n;
    }
    inCycle.store(false, std::memory_order_seq_cst);
    processTime.fetch_add(static_cast<uint64_t>((std::chrono::steady_clock::now() - started).count()),
                          std::memory_order_relaxed);
    cycles.fetch_add(1, std::memory_order_release);
    return 0;
}

int VLJack::bufferSizeCallback(jack_nframes_t frames, void* user) {
    auto* self = static_cast<VLJack*>(user);
    self->serverFrames.store(frames, std::memory_order_release);
    // Activation reports the size the engine started with; only a real change asks for the
    // restart that tells the plug-in.
    if (frames != self->startedFrames.load(std::memory_order_acquire))
        self->reportDeviceEvent(DeviceEvent::RestartRequested);
    return 0;
}

void VLJack::shutdownCallback(void* user) {
    auto* self = static_cast<VLJack*>(user);
    self->running.store(false, std::memory_order_release);
    self->serverGone.store(true, std::memory_order_release);
    self->reportDeviceEvent(DeviceEvent::Failed);
}

}  // namespace vl
