// The host's own cost per block: RenderBlock with a plug-in that does nothing, against calling
// the plug-in's processReplacing directly, at 64, 256 and 1024 frames; and the same with the
// player, the recorder and two MIDI events per block. A program that prints figures.

#include <benchmark/benchmark.h>

#include <filesystem>
#include <vector>

#include "../tests/unit/coordinator/CoordinatorRig.h"
#include "player/AudioFile.h"
#include "player/PlayerCore.h"
#include "support/FakePlugin.h"

namespace fs = std::filesystem;
using namespace vltest;

namespace {

class NothingPlugin : public FakePlugin {
public:
    NothingPlugin() : FakePlugin(2, 2) {}

protected:
    void onProcess(float**, float**, vst::int32) override {}
    vst::intptr onDispatch(vst::int32, vst::int32, vst::intptr, void*, float) override { return 0; }
};

struct Bench {
    // full: player (file at fileRate, looping), recorder and transport running.
    explicit Bench(uint32_t frames, bool full, uint32_t fileRate = 44100) : rig(vl::kDeviceTypeASIO, 44100.0, frames) {
        plugin.attach(rig.slot);
        rig.settings->inputDevice = rig.backend.input();
        rig.link();
        left.assign(frames, 0.1f);
        right.assign(frames, -0.1f);
        planes[0] = left.data();
        planes[1] = right.data();
        if (full) {
            const fs::path file = fs::temp_directory_path() / "vorlane-bench-loop.wav";
            std::vector<float> samples(44100, 0.2f);
            std::unique_ptr<vl::VLAudioFileBase> writer;
            vl::CreateAudioFile(writer, file, 44100, fileRate);
            writer->writeStereo16(vl::StereoBuffer{samples.data(), samples.data()}, 44100);
            rig.host.LoadSample(file);
            rig.host.StartPlayer(vl::Running, true);
            rig.host.StartRecorder(vl::Running, 0);
        }
        rig.host.StartAudioEngine();
        rig.host.requestTransport(true);
    }
    NothingPlugin plugin;
    CoordinatorRig rig;
    std::vector<float> left, right;
    float* planes[2];
};

void BM_ProcessReplacingDirect(benchmark::State& state) {
    const auto frames = static_cast<uint32_t>(state.range(0));
    Bench b(frames, false);
    std::vector<float> outL(frames), outR(frames);
    float* outs[2] = {outL.data(), outR.data()};
    for (auto _ : state) {
        b.plugin.effect.processReplacing(&b.plugin.effect, b.planes, outs, static_cast<vst::int32>(frames));
        benchmark::ClobberMemory();
    }
}

void BM_RenderBlock(benchmark::State& state) {
    const auto frames = static_cast<uint32_t>(state.range(0));
    Bench b(frames, false);
    for (auto _ : state) {
        vl::VLVSTHostInterface::RenderBlock(b.planes, b.planes, frames, &b.rig.host);
        benchmark::ClobberMemory();
    }
    state.counters["ns/frame"] = benchmark::Counter(static_cast<double>(frames) * state.iterations(),
                                                    benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// Player and recorder running; with events, two MIDI events reach the plug-in every block.
void renderWithPlayerAndRecorder(benchmark::State& state, bool events, uint32_t fileRate = 44100) {
    const auto frames = static_cast<uint32_t>(state.range(0));
    Bench b(frames, true, fileRate);
    uint64_t n = 0;
    for (auto _ : state) {
        if (events) {
            b.rig.host.insertMidiEvent(0x90, 60, 100, 0);
            b.rig.host.insertMidiEvent(0x80, 60, 0, 0);
        }
        vl::VLVSTHostInterface::RenderBlock(b.planes, b.planes, frames, &b.rig.host);
        benchmark::ClobberMemory();
        // Keep the recorder storing: restart it before its 300 seconds are full.
        if (++n % 100000 == 0) {
            state.PauseTiming();
            b.rig.host.StartRecorder(vl::Running, 0);
            state.ResumeTiming();
        }
    }
    state.counters["ns/frame"] = benchmark::Counter(static_cast<double>(frames) * state.iterations(),
                                                    benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_RenderBlockPlayerRecorder(benchmark::State& state) { renderWithPlayerAndRecorder(state, false); }
void BM_RenderBlockPlayerRecorderEvents(benchmark::State& state) { renderWithPlayerAndRecorder(state, true); }
// A 48 kHz file on a 44.1 kHz device: the player interpolates every frame.
void BM_RenderBlockResamplingPlayerRecorderEvents(benchmark::State& state) {
    renderWithPlayerAndRecorder(state, true, 48000);
}

}  // namespace

// Starting a "16 min" recording at 96 kHz (the user-interface thread waits this long), and one
// 500 ms step of the window's timer keeping the ready memory ahead of it.
void BM_RecorderStartSixteenMinutes(benchmark::State& state) {
    CoordinatorRig rig(vl::kDeviceTypeASIO, 96000.0, 256);
    rig.settings->outputDevice->sampleRate = 96000.0;
    rig.link();
    const uint32_t frames = vl::recordLongestFrames(96000.0);
    for (auto _ : state) {
        rig.host.StartRecorder(vl::Running, frames);
        state.PauseTiming();
        rig.host.FreeRecording();
        state.ResumeTiming();
    }
    state.counters["buffer_MB"] = 2.0 * frames * sizeof(float) / 1e6;
}

void BM_RecorderTimerStep(benchmark::State& state) {
    CoordinatorRig rig(vl::kDeviceTypeASIO, 96000.0, 256);
    rig.settings->outputDevice->sampleRate = 96000.0;
    rig.link();
    rig.host.StartRecorder(vl::Running, vl::recordLongestFrames(96000.0));
    uint32_t recorded = 0;
    for (auto _ : state) {
        recorded += 48000;  // half a second at 96 kHz
        if (recorded + 96000u * vl::kRecordReserveLeadSeconds >= rig.host.recordCapacity) {
            state.PauseTiming();
            rig.host.StartRecorder(vl::Running, vl::recordLongestFrames(96000.0));
            recorded = 48000;
            state.ResumeTiming();
        }
        rig.host.recordedFrames = recorded;
        rig.host.ReserveRecording();
    }
}

BENCHMARK(BM_RecorderStartSixteenMinutes)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_RecorderTimerStep)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ProcessReplacingDirect)->Arg(64)->Arg(256)->Arg(1024);
BENCHMARK(BM_RenderBlock)->Arg(64)->Arg(256)->Arg(1024);
BENCHMARK(BM_RenderBlockPlayerRecorder)->Arg(64)->Arg(256)->Arg(1024);
BENCHMARK(BM_RenderBlockPlayerRecorderEvents)->Arg(64)->Arg(256)->Arg(1024);
BENCHMARK(BM_RenderBlockResamplingPlayerRecorderEvents)->Arg(64)->Arg(256)->Arg(1024);
BENCHMARK_MAIN();
