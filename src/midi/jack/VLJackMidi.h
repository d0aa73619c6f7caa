#pragma once
// VLJackMidi: the MIDI engine on a JACK server, behind the same interface as the Windows
// multimedia engine.
//
// Devices: device 0 is the host's own input port "midi_in" (active on a first run, so that a
// patchbay connection is all a user needs), device 1 its output port "midi_out" (where the
// plug-in's MIDI goes); then one input record per MIDI output port of the other clients found
// at connect time, and one output record per MIDI input port. Opening such an input connects
// a port of the host to it, so each source keeps its own filters, as each MIDI device does on
// Windows; the records are matched with the settings by name (the source's full port name).
//
// Threads: the server's process thread reads the input ports into a ring and writes what the
// plug-in sent into the output port; a delivery thread of ours empties the ring into the
// coordinator's handler, one message at a time, as the platform's MIDI callback thread does on
// Windows (the handler may wait briefly for a tempo hand-over, which the process thread must
// never do). Messages are timed on the server's frame clock, so a MIDI clock's tempo does not
// depend on when the delivery thread woke.

#include <jack/jack.h>
#include <semaphore.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "midi/MidiDevice.h"
#include "midi/MidiInputDecoder.h"
#include "midi/SendGate.h"
#include "midi/jack/MidiRing.h"

namespace vl {

constexpr wchar_t kJackMidiInName[] = L"MIDI In";
constexpr wchar_t kJackMidiOutName[] = L"MIDI Out";

class VLJackMidi : public VLMidiBase {
public:
    explicit VLJackMidi(std::string clientName);
    ~VLJackMidi() override;

    // Joins the server and lists the devices; false when no server runs (then there are no
    // devices and nothing opens).
    bool connect();
    void disconnect();
    bool connected() const { return client != nullptr; }
    bool serverLost() const { return serverGone.load(std::memory_order_acquire); }

    bool openDevices(const int32_t* inputDevice, const int32_t* outputDevice, MidiHandler handler,
                     void* handlerValue) override;
    void closeDevices() override;
    void sendShortMessage(uint32_t message) override;

    // Full name of the port of the host that serves a device ("" when there is none).
    std::string portNameOf(int32_t deviceId) const;
    uint64_t droppedMessages() const { return inputRing.droppedCount() + outputRing.droppedCount(); }

private:
    struct Input {
        jack_port_t* port = nullptr;
        std::string source;  // the other client's port; empty for "midi_in"
        MidiInstance instance;
        std::atomic<bool> open{false};
    };
    struct Output {
        std::string sink;  // empty for "midi_out"
    };

    static int processCallback(jack_nframes_t frames, void* self);
    static void shutdownCallback(void* self);
    static int64_t eventFrame();
    int process(jack_nframes_t frames);
    void deliveryLoop();
    void stopDelivery();
    void listDevices();

    std::string name;
    jack_client_t* client = nullptr;
    jack_port_t* outPort = nullptr;
    std::vector<std::unique_ptr<Input>> inputs;  // by input device number (deviceId)
    std::vector<Output> outputs;                 // by output device number less the inputs
    std::unique_ptr<MidiInputDecoder> decoder;
    std::atomic<int32_t> openOutput{-1};  // index into outputs, -1 none
    SendGate gate{closed};
    MidiRing<1024> inputRing;
    MidiRing<1024> outputRing;
    sem_t wake{};
    std::thread delivery;
    std::atomic<bool> deliveryStop{false};
    std::atomic<bool> serverGone{false};
};

}  // namespace vl
