#pragma once
// A MIDI engine for tests: devices set by the test, opens recorded, messages injected as the
// platform's callback thread would deliver them, close notices delivered by closeDevices.

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "midi/MidiDevice.h"
#include "midi/MidiInputDecoder.h"

namespace vltest {

class FakeMidiEngine : public vl::VLMidiBase {
public:
    vl::MidiDeviceRecord* addDevice(int32_t id, const std::wstring& name, bool isInput, bool active) {
        auto record = std::make_unique<vl::MidiDeviceRecord>();
        record->deviceId = id;
        record->name = name;
        record->isInput = isInput;
        record->active = active;
        devices.push_back(std::move(record));
        return devices.back().get();
    }

    struct OpenInput {
        int32_t deviceId;
        vl::MidiHandler handler;
        void* value;
    };

    std::vector<int32_t> failingInputs;  // ids whose open fails
    bool failOutput = false;
    std::vector<OpenInput> inputs;
    int32_t openOutput = -2;  // -2 = none
    std::vector<uint32_t> sent;
    int closeCalls = 0;

    bool openDevices(const int32_t* in, const int32_t* out, vl::MidiHandler handler, void* value) override {
        closed = false;
        if (!in && !out) return false;
        if (in) {
            for (int32_t id : failingInputs)
                if (id == *in) return false;
            inputs.push_back({*in, handler, value});
        }
        if (out) {
            if (failOutput) return false;
            openOutput = *out;
        }
        return true;
    }

    void closeDevices() override {
        closed = true;
        closeCalls += 1;
        for (const OpenInput& input : inputs) {
            vl::MidiMessage notice = messageRecord;
            notice.status = 0;
            notice.command = 0;
            if (input.handler) input.handler(&notice, input.value);
        }
        inputs.clear();
        std::lock_guard<std::mutex> lock(sendMutex);
        openOutput = -2;
    }

    void sendShortMessage(uint32_t message) override {
        std::lock_guard<std::mutex> lock(sendMutex);
        if (closed || openOutput == -2) return;
        sent.push_back(message);
    }

    // Delivers a short message to the n-th opened input, decoded as the engine does.
    void deliver(size_t n, uint8_t status, uint8_t data1 = 0, uint8_t data2 = 0, double deltaMs = 1.0) {
        if (n >= inputs.size()) return;
        vl::MidiMessage m;
        m.status = status < 0xF0 ? static_cast<uint8_t>(status & 0xF0) : status;
        m.command = static_cast<uint8_t>(status & 0xF0);
        m.channel = static_cast<uint8_t>(status & 0x0F);
        m.data1 = static_cast<uint8_t>(data1 & 0x7F);
        m.data2 = static_cast<uint8_t>(data2 & 0x7F);
        m.deltaMs = deltaMs;
        fakeTimeMs += deltaMs;
        m.timeMs = fakeTimeMs;
        inputs[n].handler(&m, inputs[n].value);
    }

    // The engine's counter as the real decoder reads it (ticks of kCounterFrequency per second).
    static constexpr int64_t kCounterFrequency = 2400000;  // 1/24 s is 100000 ticks
    static inline int64_t counter = 1;

    // Delivers a packed short message to the n-th opened input through the real decoder, as a
    // platform input callback does, at the given counter value.
    void deliverPacked(size_t n, uint32_t packed, int64_t atCounter) {
        if (n >= inputs.size()) return;
        counter = atCounter;
        const vl::MidiInstance instance{inputs[n].handler, inputs[n].value, &decoder};
        vl::MidiInputDecoder::deliver(&instance, vl::MidiInputEvent::ShortMessage, packed);
    }

private:
    static int64_t readCounter() { return counter; }

    std::mutex sendMutex;
    double fakeTimeMs = 0.0;
    vl::MidiInputDecoder decoder{messageRecord, &readCounter, kCounterFrequency};
};

}  // namespace vltest
