#pragma once
// VLJack: the audio back end on a JACK server (jackd2, or PipeWire through its JACK library).
//
// Callback-driven like an ASIO driver: the server's process callback runs the process cycle,
// so the records carry the ASIO type code and the coordinator starts the back end in place.
// The client has two input and two output ports; the records' channel lists are the server's
// physical capture and playback ports, and leftChannel/rightChannel choose which of them the
// host's ports are connected to at start.
//
// Threads: the user-interface thread opens, starts, stops and closes; the server's process
// thread runs process() (allocates nothing, takes no lock, never waits); the server's
// notification thread calls the buffer-size and shutdown callbacks, which only report device
// events (a restart for a new block size, a failure when the server goes) that the coordinator
// takes on the user-interface thread.

#include <jack/jack.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/AudioDevice.h"

namespace vl {

// The coordinator starts callback-driven back ends in place by this code.
constexpr uint32_t kDeviceTypeJack = kDeviceTypeASIO;
constexpr wchar_t kJackDeviceName[] = L"JACK";

class VLJack : public VLAudioBase {
public:
    // clientName: the name the host shows on the server (the effect's name).
    explicit VLJack(std::string clientName);
    ~VLJack() override;

    AudioDeviceRecord* input() { return devices[0].get(); }
    AudioDeviceRecord* output() { return devices[1].get(); }

    // Called on the process thread at the start of each cycle, before the process cycle (the
    // transport follower). Set while the engine is stopped.
    using BlockHook = void (*)(jack_client_t* client, void* user);
    void setBlockHook(BlockHook hook, void* user) {
        blockHookUser = user;
        blockHook.store(hook, std::memory_order_release);
    }

    bool openAndStart(AudioDeviceRecord* input, AudioDeviceRecord* output, RenderBlockProc callback,
                      void* user) override;
    void stop() override;
    bool matchFormats(AudioDeviceRecord* input, AudioDeviceRecord* output) override;
    // Connects to the server when not connected and reads its rate, block size and physical
    // ports into the record. false when no server runs.
    bool queryDetails(AudioDeviceRecord* record, bool probe) override;

    // Connects to a running server (never starts one); true when connected. Bounded by the
    // library's own client time-out.
    bool connect();
    // The running server's sample rate, asked by a short-lived client of its own (0 without a
    // server). For the plug-in's load, before the host's own client (named after the plug-in)
    // can exist.
    static double serverSampleRate();
    // Leaves the server: deactivates and closes the client.
    void disconnect();
    bool connected() const { return client != nullptr; }

    // The server shut down or threw the client out; stays true until the next connect.
    bool serverLost() const { return serverGone.load(std::memory_order_acquire); }

    // Full names of the host's ports ("client:port"), for tests and the port windows.
    std::string portName(bool isInput, int channel) const;
    // Ports of the given direction that the host's port may be connected to (physical first).
    std::vector<std::string> connectablePorts(bool isInput) const;
    jack_client_t* handle() const { return client; }
    uint32_t serverBlockSize() const { return serverFrames.load(std::memory_order_acquire); }
    // Blocks of the process callback so far (for tests and the benchmark).
    uint64_t cyclesRun() const { return cycles.load(std::memory_order_acquire); }
    // Time spent inside the process callback so far, in nanoseconds (for the benchmark).
    uint64_t processNanoseconds() const { return processTime.load(std::memory_order_acquire); }

private:
    static int processCallback(jack_nframes_t frames, void* self);
    static int bufferSizeCallback(jack_nframes_t frames, void* self);
    static void shutdownCallback(void* self);
    int process(jack_nframes_t frames);
    bool registerPorts();
    void connectPorts(const AudioDeviceRecord* record, bool isInput);
    void fillRecord(AudioDeviceRecord& record);
    void closeClient();

    std::string name;
    jack_client_t* client = nullptr;
    jack_port_t* inPorts[2] = {nullptr, nullptr};
    jack_port_t* outPorts[2] = {nullptr, nullptr};
    bool active = false;
    RenderBlockProc callback = nullptr;
    void* callbackUser = nullptr;
    uint32_t planeFrames = 0;  // capacity of the planes
    std::atomic<bool> hasInput{false};
    std::atomic<bool> inCycle{false};  // the process callback is running
    std::string autoConnected[2][2];   // [output 0 / input 1][left, right]: what start connected
    std::atomic<bool> callbackEnded{false};  // the process cycle answered false
    std::atomic<bool> serverGone{false};
    std::atomic<uint32_t> serverFrames{0};
    std::atomic<uint32_t> startedFrames{0};
    std::atomic<uint64_t> cycles{0};
    std::atomic<uint64_t> processTime{0};
    std::atomic<BlockHook> blockHook{nullptr};
    void* blockHookUser = nullptr;
};

}  // namespace vl
