#pragma once
// VLJackMidi: the MIDI engine on a JACK server, behind the same interface as the Windows
// multimedia engine. Its ports are on the audio back end's client, beside the audio ports,
// and it reads and writes them in that client's process callback.
//
// Devices: device 0 is the host's own input port "midi_in" (active on a first run, so that a
// patchbay connection is all a user needs), output device 0 its output port "midi_out" (where
// the plug-in's MIDI goes); then one input record per MIDI output port of the other clients,
// and one output record per MIDI input port. Opening such an input connects a port of the host
// named after the source ("in <client:port>") to it, so each source keeps its own filters, as
// each MIDI device does on Windows; the records are matched with the settings by name (the
// source's full port name). A source keeps its device number for the engine's lifetime, also
// across a server restart; ports that appear later (a keyboard plugged in, a2jmidid) are
// listed by refreshDevices() once devicesChanged() says so.
//
// The host connects a device's port when it opens the device. A connection the user removed
// (a patchbay) stays removed when the same device opens again; choosing the device anew (it
// was not open in the previous opening), or the source reappearing, connects it again.
//
// Threads: the server's process thread delivers each input message to the coordinator's
// handler at the start of the block, with deliveryFrame() its frame in the block, so that it
// reaches the plug-in in the same block at that frame (latency 0 blocks, no jitter); with no
// engine running nothing is delivered (what arrives then is dropped). What the plug-in sends
// from inside the block goes out in the same block at its frame (sendAtFrame); what it sends
// from other threads goes out at frame 0 of the next block. The handler's filters and clock
// bookkeeping are table look-ups and atomics (they never wait). The notification thread only
// counts port registrations and takes note of removed connections; listing is done on the
// user-interface thread.

#include <jack/jack.h>

#include <array>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "audio/jack/VLJack.h"
#include "midi/MidiDevice.h"
#include "midi/MidiEventSlot.h"
#include "midi/MidiInputDecoder.h"
#include "midi/SendGate.h"
#include "midi/jack/MidiRing.h"

namespace vl {

constexpr wchar_t kJackMidiInName[] = L"MIDI In";
constexpr wchar_t kJackMidiOutName[] = L"MIDI Out";

class VLJackMidi : public VLMidiBase, public BlockTimedMidi, private JackCycleClient {
public:
    // Inputs (the host's own and one per source) the engine can hold; sources beyond are not
    // listed.
    static constexpr size_t kMaxInputs = 64;
    // Messages the plug-in can send at their frames within one block.
    static constexpr size_t kBlockOutCapacity = 256;

    explicit VLJackMidi(VLJack& audio);
    ~VLJackMidi() override;

    // Puts the engine's ports on the audio client (joining the server and activating the
    // client when needed) and lists the devices; false when no server runs (then there are
    // no devices and nothing opens).
    bool connect();
    void disconnect();
    bool connected() const;
    bool serverLost() const { return audio.serverLost(); }

    // Ports came or went on the server since the last listing (user-interface thread).
    bool devicesChanged() const;
    // Lists what came since: new sources and sinks get records (and the sources ports) at the
    // end of devices; open inputs whose source came back are connected again. true when the
    // list grew. User-interface thread.
    bool refreshDevices();

    // The connections the user removed from devices the host had open (the sources' and the
    // sink's port names), for the settings: only ports that are there now, so a keyboard
    // unplugged meanwhile connects again when it is back. User-interface thread.
    std::vector<std::string> removedConnections() const;
    // What an earlier run kept: these devices count as open before with their connection
    // removed, so opening them leaves them unconnected. After connect(), before opening.
    void keepRemoved(const std::vector<std::string>& portNames);

    bool openDevices(const int32_t* inputDevice, const int32_t* outputDevice, MidiHandler handler,
                     void* handlerValue) override;
    void closeDevices() override;
    void sendShortMessage(uint32_t message) override;

    // BlockTimedMidi (audio thread).
    uint32_t deliveryFrame() const override { return currentFrame; }
    bool sendAtFrame(uint32_t message, uint32_t frame) override;

    // Full name of the port of the host that serves an input device ("" when there is none).
    std::string portNameOf(int32_t deviceId) const;
    uint64_t droppedMessages() const {
        return outputRing.droppedCount() + blockOutDropped.load(std::memory_order_relaxed);
    }

private:
    struct Input {
        std::atomic<jack_port_t*> port{nullptr};
        std::string source;  // the other client's port; empty for "midi_in". Set once.
        MidiInstance instance;
        std::atomic<bool> open{false};
        bool wasOpen = false;                  // open in the previous opening
        std::atomic<bool> userRemoved{false};  // the user broke our connection to the source
    };
    struct Output {
        std::string sink;  // empty for "midi_out"
        bool wasOpen = false;
        std::atomic<bool> userRemoved{false};
    };
    struct OutMessage {
        uint32_t packed;
        uint32_t frame;
    };

    void cycleBegins(jack_nframes_t frames, bool live) override;
    void cycleEnds(jack_nframes_t frames) override;
    void clientClosing() override;
    static void onConnection(jack_port_t* own, const char* other, bool connected, void* self);
    static int64_t eventFrame();
    void deliverInputs(jack_nframes_t frames);
    bool registerInputPort(Input& input);
    void addInput(const std::string& source);
    void addOutput(const std::string& sink);
    void addRecord(const std::wstring& deviceName, bool isInput, int32_t id, bool active);
    bool listPorts();
    bool connectSource(Input& input);

    VLJack& audio;
    std::atomic<jack_client_t*> registeredOn{nullptr};  // the client our ports are on
    std::atomic<jack_port_t*> outPort{nullptr};
    std::array<Input, kMaxInputs> inputs;  // by input device number (deviceId)
    std::atomic<size_t> inputCount{0};
    std::vector<std::unique_ptr<Output>> outputs;  // by output device number
    std::unique_ptr<MidiInputDecoder> decoder;
    std::atomic<int32_t> openOutput{-1};  // index into outputs, -1 none
    std::atomic<Output*> openOutputRecord{nullptr};  // the same, for the notification thread
    SendGate gate{closed};
    MidiRing<1024> outputRing;  // the plug-in's messages from other threads
    uint64_t seenRegistrations = 0;
    // Process thread only.
    uint32_t currentFrame = 0;
    void* outBuffer = nullptr;
    jack_nframes_t outFrames = 0;
    std::array<OutMessage, kBlockOutCapacity> blockOut{};
    size_t blockOutCount = 0;
    std::atomic<uint64_t> blockOutDropped{0};
    std::atomic<bool> delivering{false};  // the process thread is inside the inputs' handlers
};

}  // namespace vl
