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
// Exit code of a process whose process cycle never returned from the plug-in.
constexpr int kExitCycleHung = 3;
// What the planes hold at least: a block size change up to this size needs no new planes.
constexpr uint32_t kPlaneReserveFrames = VLJack::kMaxBlockFrames;

bool isPowerOfTwo(uint32_t n) { return n != 0 && (n & (n - 1)) == 0; }

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

VLJack::~VLJack() {
    disconnect();
    // A cycle that never left the process cycle still uses this object: nothing may go away
    // under it.
    if (teardownPending()) std::_Exit(kExitCycleHung);
}

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
    jack_set_port_registration_callback(client, &portRegistrationCallback, this);
    jack_set_port_connect_callback(client, &portConnectCallback, this);
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
    // Closing waits for the process thread, which a stuck cycle holds: only once it left.
    if (teardownPending() && !settleStop(kStopWaitMs)) return;
    if (JackCycleClient* midi = cycleClient.load(std::memory_order_acquire)) midi->clientClosing();
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
    if (!teardownPending()) freePlanes();
}

bool VLJack::activate() {
    if (!connect() || teardownPending()) return false;
    if (!active) {
        if (jack_activate(client) != 0) return false;
        active = true;
    }
    return true;
}

void VLJack::attachCycleClient(JackCycleClient* newClient) {
    JackCycleClient* previous = cycleClient.exchange(newClient, std::memory_order_seq_cst);
    if (!previous || previous == newClient) return;
    // A cycle that read the previous one may still be using it.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStopWaitMs);
    while (inCycle.load(std::memory_order_seq_cst) && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

bool VLJack::requestBlockSize(uint32_t frames) {
    if (!isPowerOfTwo(frames) || frames < kMinBlockFrames || frames > kMaxBlockFrames) return false;
    if (!connect()) return false;
    if (jack_get_buffer_size(client) == frames) return true;
    return jack_set_buffer_size(client, frames) == 0;
}

uint32_t VLJack::neighbourBlockSize(bool up) const {
    if (!client) return 0;
    const uint32_t now = jack_get_buffer_size(client);
    uint32_t size = kMinBlockFrames;
    if (up) {
        while (size <= now && size < kMaxBlockFrames) size <<= 1;
        return size > now ? size : now;
    }
    uint32_t below = 0;
    for (; size < now && size <= kMaxBlockFrames; size <<= 1) below = size;
    return below ? below : now;
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
    // The last run's cycle has not left the plug-in yet.
    if (!settleStop(0)) return false;
    if (!connect()) return false;
    // The process thread does not touch the planes while the engine is stopped. They hold the
    // largest block the server gives, so that a new block size needs none.
    const uint32_t frames = jack_get_buffer_size(client);
    if (frames > planeFrames || !leftPlane) {
        const uint32_t capacity = std::max(frames, kPlaneReserveFrames);
        if (!allocatePlanes(capacity)) return false;
        planeFrames = capacity;
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
    if (teardownPending()) return;  // an earlier stop gave up already
    // A cycle that saw the engine running may still be in the process cycle: bounded wait.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStopWaitMs);
    while (inCycle.load(std::memory_order_seq_cst) && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (inCycle.load(std::memory_order_seq_cst)) deactivateAfterStuckCycle();
}

void VLJack::deactivateAfterStuckCycle() {
    // The server stops calling the client; the library's side waits for the process thread
    // to come back from the plug-in, which is why it has a thread of its own.
    deactivated.store(false, std::memory_order_release);
    jack_client_t* stuck = client;
    deactivator = std::thread([this, stuck] {
        jack_deactivate(stuck);
        deactivated.store(true, std::memory_order_release);
    });
}

bool VLJack::settleStop(uint32_t waitMs) {
    if (!teardownPending()) return true;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (!deactivated.load(std::memory_order_acquire) || inCycle.load(std::memory_order_seq_cst)) {
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    deactivator.join();
    active = false;  // the next start activates it again and connects what it chose
    for (auto& side : autoConnected)
        for (std::string& port : side) port.clear();
    return true;
}

int VLJack::processCallback(jack_nframes_t frames, void* self) { return static_cast<VLJack*>(self)->process(frames); }

int VLJack::process(jack_nframes_t frames) {
    const auto started = std::chrono::steady_clock::now();
    // Announced before the run state is read; stop() reads them in the other order.
    inCycle.store(true, std::memory_order_seq_cst);
    if (BlockHook hook = blockHook.load(std::memory_order_acquire)) hook(client, blockHookUser);
    JackCycleClient* midi = cycleClient.load(std::memory_order_seq_cst);
    float* in[2];
    float* out[2];
    for (int c = 0; c < 2; ++c) {
        in[c] = static_cast<float*>(jack_port_get_buffer(inPorts[c], frames));
        out[c] = static_cast<float*>(jack_port_get_buffer(outPorts[c], frames));
    }
    const bool live = running.load(std::memory_order_seq_cst) && !callbackEnded.load(std::memory_order_acquire);
    if (midi) midi->cycleBegins(frames, live);
    if (!live) {
        for (int c = 0; c < 2; ++c) jackports::zeroFloats(out[c], frames);
        if (midi) midi->cycleEnds(frames);
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
    if (midi) midi->cycleEnds(frames);
    inCycle.store(false, std::memory_order_seq_cst);
    processTime.fetch_add(static_cast<uint64_t>((std::chrono::steady_clock::now() - started).count()),
                          std::memory_order_relaxed);
    cycles.fetch_add(1, std::memory_order_release);
    return 0;
}

int VLJack::bufferSizeCallback(jack_nframes_t frames, void* user) {
    auto* self = static_cast<VLJack*>(user);
    self->serverFrames.store(frames, std::memory_order_release);
    // Activation reports the size the engine started with; only a real change tells the
    // plug-in: here, between two cycles, or else by a restart.
    if (frames == self->startedFrames.load(std::memory_order_acquire)) return 0;
    BlockSizeHook hook = self->blockSizeHook.load(std::memory_order_acquire);
    if (self->running.load(std::memory_order_acquire) && hook && hook(frames, self->blockSizeHookUser)) {
        self->startedFrames.store(frames, std::memory_order_release);
        return 0;
    }
    self->reportDeviceEvent(DeviceEvent::RestartRequested);
    return 0;
}

void VLJack::portRegistrationCallback(jack_port_id_t id, int, void* user) {
    auto* self = static_cast<VLJack*>(user);
    // The host's own ports are no news to its lists.
    jack_port_t* port = self->client ? jack_port_by_id(self->client, id) : nullptr;
    if (port && jack_port_is_mine(self->client, port)) return;
    self->portChanges.fetch_add(1, std::memory_order_acq_rel);
}

void VLJack::portConnectCallback(jack_port_id_t a, jack_port_id_t b, int connected, void* user) {
    auto* self = static_cast<VLJack*>(user);
    ConnectHook hook = self->connectHook.load(std::memory_order_acquire);
    if (!hook || !self->client) return;
    jack_port_t* first = jack_port_by_id(self->client, a);
    jack_port_t* second = jack_port_by_id(self->client, b);
    if (!first || !second) return;
    void* hookUser = self->connectHookUser.load(std::memory_order_acquire);
    if (jack_port_is_mine(self->client, first)) hook(first, jack_port_name(second), connected != 0, hookUser);
    if (jack_port_is_mine(self->client, second)) hook(second, jack_port_name(first), connected != 0, hookUser);
}

void VLJack::shutdownCallback(void* user) {
    auto* self = static_cast<VLJack*>(user);
    self->running.store(false, std::memory_order_release);
    self->serverGone.store(true, std::memory_order_release);
    self->reportDeviceEvent(DeviceEvent::Failed);
}

}  // namespace vl
