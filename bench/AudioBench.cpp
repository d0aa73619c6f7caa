// Throughput of the sample-file readers against libsndfile's float read of the same files, and
// of every device sample conversion. Prints figures; never fails on a time.

#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "audio/SampleConvert.h"
#include "player/AudioFile.h"

namespace fs = std::filesystem;
using namespace vl;

namespace {

constexpr uint32_t kRate = 44100;
constexpr uint32_t kFrames = kRate * 60;  // one minute of stereo

struct BenchFile {
    const char* label;
    const char* name;
    int format;
};
// Every width the readers take, in both file types.
const BenchFile kFiles[] = {
    {"wav8", "bench-8.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_U8},
    {"wav16", "bench-16.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16},
    {"wav24", "bench-24.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24},
    {"wav32", "bench-32.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_32},
    {"wavf32", "bench-f32.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT},
    {"wavf64", "bench-f64.wav", SF_FORMAT_WAV | SF_FORMAT_DOUBLE},
    {"aiff8", "bench-8.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_S8},
    {"aiff16", "bench-16.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16},
    {"aiff24", "bench-24.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_24},
    {"aiff32", "bench-32.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_32},
    {"aiff-f32", "bench-f32.aiff", SF_FORMAT_AIFF | SF_FORMAT_FLOAT},
};

fs::path benchDir() { return fs::temp_directory_path() / "vorlane-bench"; }

// The files are written by libsndfile, so that neither reader reads its own output.
bool makeFiles() {
    fs::create_directories(benchDir());
    std::vector<float> frames(size_t(kFrames) * 2);
    for (uint32_t i = 0; i < kFrames; ++i) {
        frames[2 * i] = 0.8f * std::sin(float(i) * 0.0627f);
        frames[2 * i + 1] = 0.5f * std::sin(float(i) * 0.0113f);
    }
    for (const BenchFile& f : kFiles) {
        SF_INFO info{};
        info.samplerate = kRate;
        info.channels = 2;
        info.format = f.format;
        SNDFILE* sf = sf_open((benchDir() / f.name).c_str(), SFM_WRITE, &info);
        if (!sf) return false;
        const bool ok = sf_writef_float(sf, frames.data(), kFrames) == kFrames;
        sf_close(sf);
        if (!ok) return false;
    }
    return true;
}

void decodeOurs(benchmark::State& state, const BenchFile* file) {
    std::vector<float> left(kFrames), right(kFrames);
    const fs::path path = benchDir() / file->name;
    for (auto _ : state) {
        std::unique_ptr<VLAudioFileBase> slot;
        if (OpenAudioFile(slot, path) != kFrames || !slot->readAll({left.data(), right.data()})) {
            state.SkipWithError("decoding failed");
            break;
        }
        benchmark::DoNotOptimize(left.data());
    }
    state.SetItemsProcessed(state.iterations() * int64_t(kFrames));
}

void decodeLibsndfile(benchmark::State& state, const BenchFile* file) {
    std::vector<float> frames(size_t(kFrames) * 2);
    const std::string path = (benchDir() / file->name).string();
    for (auto _ : state) {
        SF_INFO info{};
        SNDFILE* sf = sf_open(path.c_str(), SFM_READ, &info);
        if (!sf || sf_readf_float(sf, frames.data(), kFrames) != kFrames) {
            state.SkipWithError("libsndfile failed");
            if (sf) sf_close(sf);
            break;
        }
        sf_close(sf);
        benchmark::DoNotOptimize(frames.data());
    }
    state.SetItemsProcessed(state.iterations() * int64_t(kFrames));
}

// One device buffer of a block, converted over and over.
constexpr uint32_t kBlock = 512;

template <typename Convert>
void conversion(benchmark::State& state, Convert convert) {
    for (auto _ : state) {
        convert();
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * int64_t(kBlock));
}

struct Buffers {
    std::vector<float> left = std::vector<float>(kBlock, 0.3f), right = std::vector<float>(kBlock, -0.6f);
    std::vector<uint8_t> device = std::vector<uint8_t>(size_t(kBlock) * 8 * 2);
    int16_t* i16() { return reinterpret_cast<int16_t*>(device.data()); }
    int32_t* i32() { return reinterpret_cast<int32_t*>(device.data()); }
    float* f32() { return reinterpret_cast<float*>(device.data()); }
    double* f64() { return reinterpret_cast<double*>(device.data()); }
};

void registerConversions() {
    static Buffers b;
    const auto add = [](const char* name, auto fn) {
        benchmark::RegisterBenchmark(name, [fn](benchmark::State& s) { conversion(s, fn); });
    };
    add("convert/planar int16 in", [] { planar::int16ToFloat(b.i16(), b.left.data(), kBlock); });
    add("convert/planar int16 out", [] { planar::floatToInt16(b.left.data(), b.i16(), kBlock); });
    add("convert/planar int24 in", [] { planar::int24ToFloat(b.device.data(), b.left.data(), kBlock); });
    add("convert/planar int24 out", [] { planar::floatToInt24(b.left.data(), b.device.data(), kBlock); });
    add("convert/planar int32(20) in", [] { planar::int32ToFloat(b.i32(), b.left.data(), kBlock, 20); });
    add("convert/planar int32(20) out", [] { planar::floatToInt32(b.left.data(), b.i32(), kBlock, 20); });
    add("convert/planar float32 in", [] { planar::float32ToFloat(b.f32(), b.left.data(), kBlock); });
    add("convert/planar float32 out", [] { planar::floatToFloat32(b.left.data(), b.f32(), kBlock); });
    add("convert/planar float64 in", [] { planar::float64ToFloat(b.f64(), b.left.data(), kBlock); });
    add("convert/planar float64 out", [] { planar::floatToFloat64(b.left.data(), b.f64(), kBlock); });
    static PlanarLayout msb16, msb24;
    planarLayoutFor(int32_t(PlanarSampleType::Int16MSB), msb16);
    planarLayoutFor(int32_t(PlanarSampleType::Int24MSB), msb24);
    add("convert/planar int16 MSB in", [] { planarToFloat(msb16, b.device.data(), b.left.data(), kBlock); });
    add("convert/planar int16 MSB out", [] { floatToPlanar(msb16, b.left.data(), b.device.data(), kBlock); });
    add("convert/planar int24 MSB in", [] { planarToFloat(msb24, b.device.data(), b.left.data(), kBlock); });
    add("convert/planar int24 MSB out", [] { floatToPlanar(msb24, b.left.data(), b.device.data(), kBlock); });
    // Interleaved: samples counted per plane frame (two per frame would double the figure).
    add("convert/interleaved int16 in (stereo)",
        [] { interleaved::int16ToPlanes(b.i16(), 2, b.left.data(), b.right.data(), kBlock); });
    add("convert/interleaved int16 out (stereo)",
        [] { interleaved::planesToInt16(b.left.data(), b.right.data(), b.i16(), 2, 0, 1, kBlock); });
    add("convert/interleaved int32 in (stereo)",
        [] { interleaved::int32ToPlanes(b.i32(), 2, b.left.data(), b.right.data(), kBlock); });
    add("convert/interleaved int32 out (stereo)",
        [] { interleaved::planesToInt32(b.left.data(), b.right.data(), b.i32(), 2, 0, 1, kBlock); });
    add("convert/interleaved int16 out (4 ch, 2 and 3)",
        [] { interleaved::planesToInt16(b.left.data(), b.right.data(), b.i16(), 4, 2, 3, kBlock); });
}

// Keeps every run's rate so that ours can be set against libsndfile's after the table; with
// --benchmark_repetitions the median stands for the run.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            const bool median = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
            if (r.run_type == Run::RT_Aggregate && !median) continue;
            const auto it = r.counters.find("items_per_second");
            if (it == r.counters.end()) continue;
            const std::string name = r.run_name.str();
            if (median || !medians.count(name)) rates[name] = it->second.value;
            if (median) medians.insert(name);
        }
    }
    std::map<std::string, double> rates;
    std::set<std::string> medians;
};

}  // namespace

int main(int argc, char** argv) {
    if (!makeFiles()) {
        std::fprintf(stderr, "cannot write the benchmark files in %s\n", benchDir().string().c_str());
        return 1;
    }
    for (const BenchFile& f : kFiles) {
        benchmark::RegisterBenchmark((std::string("decode/ours/") + f.label).c_str(), decodeOurs, &f)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((std::string("decode/libsndfile/") + f.label).c_str(), decodeLibsndfile, &f)
            ->Unit(benchmark::kMillisecond);
    }
    registerConversions();
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nDecoding one minute of 44.1 kHz stereo (frames per second):\n");
    for (const BenchFile& f : kFiles) {
        const double ours = reporter.rates[std::string("decode/ours/") + f.label];
        const double peer = reporter.rates[std::string("decode/libsndfile/") + f.label];
        if (ours > 0 && peer > 0)
            std::printf("  %-8s ours %7.1f M/s  libsndfile %7.1f M/s  ratio %.2f%s\n", f.label, ours / 1e6, peer / 1e6,
                        ours / peer, ours / peer >= 2.0 ? "" : "  (goal 2.00)");
    }
    std::printf("\nConversions (samples per second):\n");
    for (const auto& [name, rate] : reporter.rates)
        if (name.rfind("convert/", 0) == 0) std::printf("  %-48s %7.2f G/s\n", name.c_str() + 8, rate / 1e9);
    std::printf("Goal: 24-bit packed in and out and interleaved int16 out at least 1.50 G/s\n");
    benchmark::Shutdown();
    fs::remove_all(benchDir());
    return 0;
}
