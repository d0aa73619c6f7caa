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
// notification thread calls the buffer-size, port and shutdown callbacks. A new block size is
// taken over there by the block-size hook (the coordinator tells the plug-in between two
// cycles); without a hook, or when it refuses, it is reported as a restart request. A failure
// when the server goes is reported as a device event; port registrations are only counted.
//
// A MIDI engine (VLJackMidi) can put its ports on this client: its cycle hooks run on the
// process thread in every cycle, before and after the process cycle.
//
// A stop waits at most kStopWaitMs for a cycle still inside the process cycle. One that does
// not leave in time keeps the planes and the client as they are, and the client is deactivated
// on a helper thread (the library's deactivation waits for the process thread); settleStop
// answers when that is over, and until then nothing is freed and no new start is made.

#include <jack/jack.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "audio/AudioDevice.h"

namespace vl {

// The coordinator starts callback-driven back ends in place by this code.
constexpr uint32_t kDeviceTypeJack = kDeviceTypeASIO;
constexpr wchar_t kJackDeviceName[] = L"JACK";

// Called on the process thread in every cycle (allocates nothing, takes no lock, never waits).
class JackCycleClient {
public:
    virtual ~JackCycleClient() = default;
    // Before the process cycle; live = the engine runs (the process cycle follows).
    virtual void cycleBegins(jack_nframes_t frames, bool live) = 0;
    // After the process cycle.
    virtual void cycleEnds(jack_nframes_t frames) = 0;
    // User-interface thread: the client is about to close; its ports go with it.
    virtual void clientClosing() = 0;
};

class VLJack : public VLAudioBase {
public:
    static constexpr uint32_t kMinBlockFrames = 16;
    static constexpr uint32_t kMaxBlockFrames = 8192;

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

    // Notification thread: takes over a new block size of the running engine (true) or leaves
    // it to a restart (false). Set while the client is not active.
    using BlockSizeHook = bool (*)(uint32_t frames, void* user);
    void setBlockSizeHook(BlockSizeHook hook, void* user) {
        blockSizeHookUser = user;
        blockSizeHook.store(hook, std::memory_order_release);
    }
    // Asks the server for a new block size (a power of two from kMinBlockFrames to
    // kMaxBlockFrames); true when the server took it. The server then tells every client
    // between two cycles (the block-size hook above). User-interface thread.
    bool requestBlockSize(uint32_t frames);
    // The next power of two above (up) or below the server's block size, within the bounds;
    // the current size at a bound, 0 without a server.
    uint32_t neighbourBlockSize(bool up) const;

    // The MIDI engine on this client (null = none). Detaching waits, bounded, until no cycle
    // uses it any more. User-interface thread.
    void attachCycleClient(JackCycleClient* cycleClient);
    // Activates the client (connections can only be made by an active client); true when active.
    bool activate();
    // Port registrations and unregistrations of the other clients so far (counted on
    // the notification thread). A MIDI engine compares it with what it last saw.
    uint64_t portRegistrations() const { return portChanges.load(std::memory_order_acquire); }
    // Connections made or broken between a port of this client and another one, as the
    // server reported them: (ours, other, connected). The handler runs on the notification
    // thread and may only take note.
    using ConnectHook = void (*)(jack_port_t* own, const char* other, bool connected, void* user);
    void setConnectHook(ConnectHook hook, void* user) {
        connectHookUser.store(user, std::memory_order_release);
        connectHook.store(hook, std::memory_order_release);
    }

    bool openAndStart(AudioDeviceRecord* input, AudioDeviceRecord* output, RenderBlockProc callback,
                      void* user) override;
    void stop() override;
    bool settleStop(uint32_t waitMs) override;
    bool matchFormats(AudioDeviceRecord* input, AudioDeviceRecord* output) override;
    // Connects to the server when not connected and reads its rate, block size and physical
    // ports into the record. false when no server runs.
    bool queryDetails(AudioDeviceRecord* record, bool probe) override;

    // Connects to a running server (never starts one); true when connected. Bounded by the
    // library's own client time-out.
    bool connect();
    // The running server's sample rate, asked by a short-lived client of its own (0 without a
    // server). For the plug-in's load, before the host's own client (named after the plug-in)
    // can exist: a JACK client cannot be renamed, and the library has no other way to read
    // the rate.
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
    static void portRegistrationCallback(jack_port_id_t port, int registered, void* self);
    static void portConnectCallback(jack_port_id_t a, jack_port_id_t b, int connected, void* self);
    static void shutdownCallback(void* self);
    int process(jack_nframes_t frames);
    bool registerPorts();
    void connectPorts(const AudioDeviceRecord* record, bool isInput);
    void fillRecord(AudioDeviceRecord& record);
    void closeClient();
    // The stop gave up on a cycle: deactivation on a helper thread.
    void deactivateAfterStuckCycle();
    bool teardownPending() const { return deactivator.joinable(); }

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
    std::atomic<BlockSizeHook> blockSizeHook{nullptr};
    void* blockSizeHookUser = nullptr;
    std::atomic<ConnectHook> connectHook{nullptr};
    std::atomic<void*> connectHookUser{nullptr};
    std::atomic<JackCycleClient*> cycleClient{nullptr};
    std::atomic<uint64_t> portChanges{0};
    std::thread deactivator;                 // a stop's deactivation under a stuck cycle
    std::atomic<bool> deactivated{false};    // it has returned
};

}  // namespace vl
