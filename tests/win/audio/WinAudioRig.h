#pragma once
// What the Windows back-end tests share: a sine plug-in, the coordinator wired to the real
// back-end set, and the ALSA file sink of the test prefix (one playback file per stream format,
// written by Wine's ALSA driver as the stream runs).

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "audio/WindowsAudioBackends.h"
#include "host/HostCallback.h"
#include "host/PluginSlot.h"
#include "host/VLVSTHostInterface.h"
#include "support/FakeMidiEngine.h"
#include "support/FakePlugin.h"
#include "support/MessageRecorder.h"
#include "support/TestSettings.h"
#include "support/Wait.h"

namespace wintest {

constexpr double kPi = 3.14159265358979323846;

// Writes a sine of fixed frequency and amplitude to both outputs, phase continuous across
// blocks; counts frames and blocks, the largest block, and how many input frames arrived.
class SinePlugin : public vltest::FakePlugin {
public:
    SinePlugin(double frequency, double amplitude, vst::int32 inputs = 0)
        : FakePlugin(inputs, 2, inputs == 0 ? (vst::effFlagsIsSynth | vst::effFlagsCanReplacing) : vst::effFlagsCanReplacing),
          frequency(frequency), amplitude(amplitude) {}

    double frequency, amplitude;
    double sampleRate = 44100.0;
    std::atomic<uint64_t> frames{0}, blocks{0}, inputFrames{0};
    std::atomic<uint32_t> largestBlock{0};

protected:
    vst::intptr onDispatch(vst::int32 opcode, vst::int32 index, vst::intptr value, void* ptr, float opt) override {
        if (opcode == vst::effSetSampleRate) sampleRate = opt;
        return FakePlugin::onDispatch(opcode, index, value, ptr, opt);
    }
    void onProcess(float** inputs, float** outputs, vst::int32 n) override {
        const double step = 2.0 * kPi * frequency / sampleRate;
        for (vst::int32 i = 0; i < n; ++i) {
            const float v = static_cast<float>(amplitude * std::sin(phase));
            outputs[0][i] = v;
            outputs[1][i] = v;
            phase += step;
            if (phase > 2.0 * kPi) phase -= 2.0 * kPi;
        }
        if (effect.numInputs > 0 && inputs && inputs[0]) inputFrames += static_cast<uint64_t>(n);
        frames += static_cast<uint64_t>(n);
        blocks += 1;
        if (static_cast<uint32_t>(n) > largestBlock) largestBlock = static_cast<uint32_t>(n);
    }

private:
    double phase = 0.0;
};

// The coordinator, the real back ends and test stand-ins for MIDI, settings and messages.
struct EngineRig {
    EngineRig() : settings(settingsStore.make()) {
        vl::setHostContext(&slot);
        host.setMessageSink(&messages);
    }
    ~EngineRig() {
        host.StopAudioEngine();
        vl::setHostContext(nullptr);
    }
    void link() { host.link(&slot, &backends.set(), &midi, settings.get()); }

    vl::PluginSlot slot;
    vl::WindowsAudioBackends backends;
    vltest::FakeMidiEngine midi;
    vltest::TestSettingsStore settingsStore;
    std::unique_ptr<vl::HostSettings> settings;
    vltest::MessageRecorder messages;
    vl::VLVSTHostInterface host;  // last: destroyed first
};

// The first record of a back end with this type and direction (and a name, when given).
inline vl::AudioDeviceRecord* findRecord(vl::VLAudioBase* backend, uint32_t type, bool isInput) {
    if (!backend) return nullptr;
    for (auto& record : backend->devices)
        if (record->type == type && record->isInput == isInput) return record.get();
    return nullptr;
}

// One blocking family: its device type and where the set keeps its back end.
struct Family {
    const char* name;
    uint32_t type;
    vl::VLAudioBase* (*backend)(vl::WindowsAudioBackends&);
};
inline void PrintTo(const Family& family, std::ostream* os) { *os << family.name; }
inline std::string familyName(const testing::TestParamInfo<Family>& info) { return info.param.name; }

inline const Family kWasapiShared{"WasapiShared", vl::kDeviceTypeWasapiShared,
                                  [](vl::WindowsAudioBackends& b) { return &b.wasapi(); }};
inline const Family kDirectSound{"DirectSound", vl::kDeviceTypeDirectSound,
                                 [](vl::WindowsAudioBackends& b) { return b.directSound(); }};
inline const Family kMme{"Mme", vl::kDeviceTypeMME, [](vl::WindowsAudioBackends& b) { return b.mme(); }};

// ---- the file sink --------------------------------------------------------------------------

inline std::filesystem::path sinkDir() { return std::filesystem::path(VL_TEST_AUDIO_SINK_DIR); }

inline void clearSink() {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(sinkDir(), ec))
        if (entry.path().filename().string().rfind("play_", 0) == 0) std::filesystem::remove(entry.path(), ec);
}

struct SinkAudio {
    std::string file;
    double rate = 0.0;
    std::vector<float> left;  // channel 0, as floats in -1..1
};

// Reads the playback file of the given name ("play_48000_2_32_FLOAT_LE.raw" style).
inline bool readSink(const std::string& name, SinkAudio& out) {
    out.file = name;
    std::ifstream in(sinkDir() / name, std::ios::binary);
    if (!in) return false;
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    unsigned rate = 0, channels = 0, bits = 0;
    char format[32] = {};
    if (std::sscanf(name.c_str(), "play_%u_%u_%u_%31[A-Z0-9_]", &rate, &channels, &bits, format) != 4 || channels == 0)
        return false;
    out.rate = rate;
    const size_t bytesPerSample = bits / 8, frameBytes = bytesPerSample * channels;
    const size_t frames = bytes.size() / frameBytes;
    out.left.resize(frames);
    const bool isFloat = std::string(format).find("FLOAT") != std::string::npos;
    for (size_t i = 0; i < frames; ++i) {
        const char* p = bytes.data() + i * frameBytes;
        if (isFloat && bits == 32) {
            float v;
            std::memcpy(&v, p, 4);
            out.left[i] = v;
        } else if (bits == 16) {
            int16_t v;
            std::memcpy(&v, p, 2);
            out.left[i] = static_cast<float>(v) / 32768.0f;
        } else {
            return false;
        }
    }
    return true;
}

// What the sink received, measured over the sounding part (leading and trailing silence
// trimmed, plus a margin at the end where the stream stopped mid-wave).
struct SineReport {
    double seconds = 0.0;
    double frequency = 0.0;
    double levelDb = 0.0;      // RMS level relative to a full-scale sine (0 dB = amplitude 1)
    size_t jumps = 0;          // sample-to-sample steps larger than the sine can make
    size_t silentRuns = 0;     // runs of 64 or more zero samples inside the sound
};

SineReport analyseSine(const SinkAudio& audio, double frequency, double amplitude);

// Process figures for the start/stop cycles (Wine answers neither GetProcessHandleCount nor
// the private bytes of GetProcessMemoryInfo, so both are counted directly).
inline DWORD handleCount() {
    DWORD count = 0, flags = 0;
    for (uintptr_t value = 4; value < 0x20000; value += 4)
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
    return count;
}

// Committed private memory of the process.
inline size_t privateBytes() {
    size_t total = 0;
    MEMORY_BASIC_INFORMATION info{};
    for (const char* p = nullptr; VirtualQuery(p, &info, sizeof info) == sizeof info;
         p = static_cast<const char*>(info.BaseAddress) + info.RegionSize) {
        if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE) total += info.RegionSize;
        if (info.RegionSize == 0) break;
    }
    return total;
}

// Polls until cond() or the limit; true when cond() held.
template <class Cond>
testing::AssertionResult waitFor(Cond cond, int limitMs) {
    return vltest::waitUntil(cond, std::chrono::milliseconds(limitMs));
}

}  // namespace wintest
