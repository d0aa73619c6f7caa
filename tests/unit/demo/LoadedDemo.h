#pragma once
// The demo instrument loaded through the host's real loader, configured as an engine start
// does, with helpers to send MIDI and render audio as the audio thread would.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "host/HostCallback.h"
#include "host/PluginSlot.h"
#include "support/ProbeModule.h"

namespace demotest {

struct Midi {
    uint8_t status, data1, data2;
    int32_t deltaFrames = 0;
};

inline Midi noteOn(int note, int velocity = 100, int32_t delta = 0) {
    return {0x90, static_cast<uint8_t>(note), static_cast<uint8_t>(velocity), delta};
}
inline Midi noteOff(int note, int32_t delta = 0) { return {0x80, static_cast<uint8_t>(note), 0, delta}; }
inline Midi controller(int number, int value = 0) {
    return {0xB0, static_cast<uint8_t>(number), static_cast<uint8_t>(value), 0};
}

inline std::filesystem::path demoModulePath() { return vltest::modulePath("vorlane_demo"); }

// A VstEvents list as a host builds it: the header followed by one pointer per event.
class EventList {
public:
    explicit EventList(const std::vector<Midi>& midi) : events_(midi.size()), storage_(16 + 8 * (midi.size() + 2)) {
        auto* list = get();
        list->numEvents = static_cast<vst::int32>(midi.size());
        for (size_t i = 0; i < midi.size(); ++i) {
            vst::VstMidiEvent& e = events_[i];
            e.type = vst::kVstMidiType;
            e.byteSize = sizeof e;
            e.deltaFrames = midi[i].deltaFrames;
            e.midiData[0] = static_cast<char>(midi[i].status);
            e.midiData[1] = static_cast<char>(midi[i].data1);
            e.midiData[2] = static_cast<char>(midi[i].data2);
            list->events[i] = reinterpret_cast<vst::VstEvent*>(&e);
        }
    }
    vst::VstEvents* get() { return reinterpret_cast<vst::VstEvents*>(storage_.data()); }

private:
    std::vector<vst::VstMidiEvent> events_;
    std::vector<uint8_t> storage_;
};

class LoadedDemo {
public:
    explicit LoadedDemo(float sampleRate = 44100.0f, int blockSize = 512) : rate(sampleRate), block(blockSize) {
        vl::setHostContext(&slot);
        result = slot.load(demoModulePath());
        if (result != vl::LoadResult::Loaded) {
            ADD_FAILURE() << "cannot load the demo: " << vl::describe(result);
            return;
        }
        slot.setBlockSize(block);
        slot.setSampleRate(rate);
        slot.resume();
    }

    bool ok() const { return result == vl::LoadResult::Loaded; }
    vst::AEffect& effect() { return *slot.effect; }

    void send(const std::vector<Midi>& midi) {
        EventList list(midi);
        slot.processEvents(list.get());
    }

    // Renders in host-sized blocks. The input planes carry noise (an instrument must ignore
    // them) and the output planes start dirty (it must overwrite every sample). Answers the
    // left channel after checking that the right one is the same and every sample is in range.
    std::vector<float> render(size_t frames) {
        std::vector<float> result;
        result.reserve(frames);
        std::vector<float> inL(block, 0.3f), inR(block, -0.7f), outL(block), outR(block);
        float* inputs[2] = {inL.data(), inR.data()};
        float* outputs[2] = {outL.data(), outR.data()};
        size_t channelsDiffer = 0, outOfRange = 0;
        while (result.size() < frames) {
            const int n = static_cast<int>(std::min<size_t>(block, frames - result.size()));
            std::fill(outL.begin(), outL.end(), 9.0f);
            std::fill(outR.begin(), outR.end(), -9.0f);
            slot.processReplacing(inputs, outputs, n);
            for (int i = 0; i < n; ++i) {
                if (outL[i] != outR[i]) ++channelsDiffer;
                if (!(std::abs(outL[i]) <= 1.0f)) ++outOfRange;
                result.push_back(outL[i]);
            }
        }
        EXPECT_EQ(channelsDiffer, 0u);
        EXPECT_EQ(outOfRange, 0u);
        return result;
    }

    std::vector<float> renderSeconds(double seconds) { return render(static_cast<size_t>(seconds * rate)); }

    vl::PluginSlot slot;
    vl::LoadResult result = vl::LoadResult::ModuleNotFound;
    float rate;
    int block;
};

}  // namespace demotest
