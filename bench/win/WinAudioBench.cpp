// Benchmark (not a test): runs each blocking Windows audio family for ten seconds of audio
// with the probe plug-in through the coordinator and prints blocks per second, the engine
// thread's CPU time per second of audio (GetThreadTimes, from the first block to the stop),
// and the ratio of wall time to audio time. Under Wine's file sink the devices take audio
// faster than real time, so the ratio is below 1 there.
//
//   vl_bench_winaudio [seconds] [family ...]      families: wasapi dsound mme (default all)

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "audio/WindowsAudioBackends.h"
#include "host/HostCallback.h"
#include "host/PluginSlot.h"
#include "host/VLVSTHostInterface.h"
#include "midi/VLNullMidi.h"
#include "platform/Module.h"
#include "settings/HostSettings.h"
#include "settings/MemoryStore.h"
#include "../../plugins/probe/ProbeControl.h"

namespace {

uint64_t threadCpu100ns(HANDLE thread) {
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(thread, &created, &exited, &kernel, &user)) return 0;
    auto value = [](const FILETIME& t) { return (uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return value(kernel) + value(user);
}

// Stands between the coordinator and a real back end: notes the engine thread and counts the
// blocks and frames that pass.
class MeasuredBackend : public vl::VLAudioBase {
public:
    explicit MeasuredBackend(vl::VLAudioBase& inner) : inner(inner) {}
    ~MeasuredBackend() override {
        if (thread) CloseHandle(thread);
    }

    bool openAndStart(vl::AudioDeviceRecord* input, vl::AudioDeviceRecord* output, vl::RenderBlockProc callback,
                      void* user) override {
        if (thread) CloseHandle(thread);
        thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, GetCurrentThreadId());
        realCallback = callback;
        realUser = user;
        return inner.openAndStart(input, output, &counting, this);
    }
    void stop() override { inner.stop(); }
    bool matchFormats(vl::AudioDeviceRecord* in, vl::AudioDeviceRecord* out) override { return inner.matchFormats(in, out); }
    bool queryDetails(vl::AudioDeviceRecord* record, bool probe) override { return inner.queryDetails(record, probe); }

    HANDLE thread = nullptr;
    std::atomic<uint64_t> frames{0}, blocks{0};
    uint64_t cpuAtFirstBlock = 0;
    std::chrono::steady_clock::time_point firstBlock;

private:
    static bool counting(float** in, float** out, uint32_t n, void* user) {
        auto* self = static_cast<MeasuredBackend*>(user);
        if (self->blocks.load(std::memory_order_relaxed) == 0) {
            self->cpuAtFirstBlock = threadCpu100ns(GetCurrentThread());
            self->firstBlock = std::chrono::steady_clock::now();
        }
        const bool keep = self->realCallback(in, out, n, self->realUser);
        self->frames.fetch_add(n, std::memory_order_relaxed);
        self->blocks.fetch_add(1, std::memory_order_release);
        return keep;
    }

    vl::VLAudioBase& inner;
    vl::RenderBlockProc realCallback = nullptr;
    void* realUser = nullptr;
};

struct Family {
    const char* key;
    const char* label;
    uint32_t type;
};

vl::AudioDeviceRecord* outputRecord(vl::VLAudioBase* backend, uint32_t type) {
    for (auto& r : backend->devices)
        if (r->type == type && !r->isInput) return r.get();
    return nullptr;
}

bool runFamily(vl::WindowsAudioBackends& backends, const Family& family, double seconds,
               const std::filesystem::path& probePath) {
    vl::VLAudioBase* backend = family.type == vl::kDeviceTypeWasapiShared ? &backends.wasapi()
                               : family.type == vl::kDeviceTypeDirectSound ? backends.directSound()
                                                                          : backends.mme();
    vl::AudioDeviceRecord* output = outputRecord(backend, family.type);
    if (!output) {
        std::printf("%-14s no output device\n", family.label);
        return false;
    }
    MeasuredBackend measured(*backend);
    vl::AudioBackendSet set;
    set.set(family.type, &measured);

    // The probe as an instrument (no inputs), so that the engine runs output-only.
    vl::platform::ModuleHandle module = vl::platform::loadModule(probePath);
    auto control = module ? reinterpret_cast<probe::GetControlProc>(vl::platform::findSymbol(module, "ProbeGetControl"))
                          : nullptr;
    if (!control) {
        std::printf("cannot load %s\n", probePath.string().c_str());
        return false;
    }
    control()->config.flags = vst::effFlagsIsSynth | vst::effFlagsCanReplacing;
    control()->config.numInputs = 0;
    vl::PluginSlot slot;
    vl::setHostContext(&slot);
    if (slot.load(probePath) != vl::LoadResult::Loaded) {
        std::printf("cannot load %s\n", probePath.string().c_str());
        return false;
    }
    vl::VLNullMidi midi;
    auto settings = std::make_unique<vl::HostSettings>(L"Bench", std::make_shared<vl::MemoryStore>());
    settings->outputDevice = output;
    bool ok = false;
    {
        vl::VLVSTHostInterface host;
        host.link(&slot, &set, &midi, settings.get());
        if (host.StartAudioEngine()) {
            const double rate = output->sampleRate;
            const auto limit = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds * 4 + 10);
            while (measured.frames.load() < seconds * rate && std::chrono::steady_clock::now() < limit)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            const auto end = std::chrono::steady_clock::now();
            const uint64_t framesAtEnd = measured.frames.load(), blocksAtEnd = measured.blocks.load();
            const uint64_t cpuAtEnd = threadCpu100ns(measured.thread);
            host.StopAudioEngine();
            const double audio = static_cast<double>(framesAtEnd) / rate;
            const double wall = std::chrono::duration<double>(end - measured.firstBlock).count();
            const double cpu = static_cast<double>(cpuAtEnd - measured.cpuAtFirstBlock) * 1e-7;
            std::printf("%-14s %7.0f Hz  block %5u  %6.2f s audio  %7.1f blocks/s audio  %7.1f blocks/s wall  "
                        "engine CPU %6.2f ms per s of audio (%5.2f %%)  wall/audio %.3f\n",
                        family.label, rate, static_cast<unsigned>(framesAtEnd / (blocksAtEnd ? blocksAtEnd : 1)), audio,
                        blocksAtEnd / audio, blocksAtEnd / wall, cpu * 1000.0 / audio, cpu * 100.0 / audio, wall / audio);
            ok = true;
        } else {
            std::printf("%-14s engine did not start\n", family.label);
        }
    }
    vl::setHostContext(nullptr);
    vl::platform::freeModule(module);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 10.0;
    std::vector<std::string> keys;
    for (int i = 1; i < argc; ++i) {
        if (std::atof(argv[i]) > 0) seconds = std::atof(argv[i]);
        else keys.push_back(argv[i]);
    }
    const Family families[] = {{"wasapi", "WASAPI shared", vl::kDeviceTypeWasapiShared},
                               {"mme", "MME", vl::kDeviceTypeMME},
                               {"dsound", "DirectSound", vl::kDeviceTypeDirectSound}};
    const std::filesystem::path probe = vl::platform::executablePath().parent_path() / "vorlane_probe.dll";
    vl::WindowsAudioBackends backends;
    int failures = 0;
    for (const Family& f : families) {
        bool wanted = keys.empty();
        for (const std::string& k : keys) wanted = wanted || k == f.key;
        if (wanted && !runFamily(backends, f, seconds, probe)) ++failures;
    }
    return failures == 0 ? 0 : 1;
}
