// Throughput of the sample-file readers against libsndfile's float read of the same files, and
// of every device sample conversion beside its plain scalar loop. Prints figures; never fails on
// a time.

#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "PlainConversions.h"
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

// Every conversion is registered as "convert/<name>" and, where it has a plain scalar loop
// (PlainConversions.h, the routines the conversion tests check against), that loop as
// "plain/<name>", so that one run prints both.
Buffers b;

template <typename Shipped, typename Plain>
void add(const char* name, Shipped shipped, Plain plain) {
    benchmark::RegisterBenchmark((std::string("convert/") + name).c_str(),
                                 [shipped](benchmark::State& s) { conversion(s, shipped); });
    if constexpr (!std::is_same_v<Plain, std::nullptr_t>)
        benchmark::RegisterBenchmark((std::string("plain/") + name).c_str(),
                                     [plain](benchmark::State& s) { conversion(s, plain); });
}

// An interleaved output beside the plain loop of the same layout.
template <typename Sample>
using InterleavedOut = void (*)(const float*, const float*, Sample*, uint32_t, int32_t, int32_t, uint32_t);

template <typename Sample, Sample (*plainConvert)(float)>
void addOut(const char* name, InterleavedOut<Sample> shipped, uint32_t channels, int32_t l, int32_t r) {
    const auto out = [] { return reinterpret_cast<Sample*>(b.device.data()); };
    add(name, [=] { shipped(b.left.data(), b.right.data(), out(), channels, l, r, kBlock); },
        [=] { plain::fromPlanes<Sample, plainConvert>(b.left.data(), b.right.data(), out(), channels, l, r, kBlock); });
}

void registerConversions() {
    add("planar int16 in", [] { planar::int16ToFloat(b.i16(), b.left.data(), kBlock); },
        [] { plain::int16ToFloat(b.i16(), b.left.data(), kBlock); });
    add("planar int16 out", [] { planar::floatToInt16(b.left.data(), b.i16(), kBlock); },
        [] { plain::floatToInt16(b.left.data(), b.i16(), kBlock); });
    add("planar int24 in", [] { planar::int24ToFloat(b.device.data(), b.left.data(), kBlock); },
        [] { plain::int24ToFloat(b.device.data(), b.left.data(), kBlock); });
    add("planar int24 out", [] { planar::floatToInt24(b.left.data(), b.device.data(), kBlock); },
        [] { plain::floatToInt24(b.left.data(), b.device.data(), kBlock); });
    add("planar int32(20) in", [] { planar::int32ToFloat(b.i32(), b.left.data(), kBlock, 20); },
        [] { plain::int32ToFloat(b.i32(), b.left.data(), kBlock, 20); });
    add("planar int32(20) out", [] { planar::floatToInt32(b.left.data(), b.i32(), kBlock, 20); },
        [] { plain::floatToInt32(b.left.data(), b.i32(), kBlock, 20); });
    add("planar float32 in", [] { planar::float32ToFloat(b.f32(), b.left.data(), kBlock); }, nullptr);
    add("planar float32 out", [] { planar::floatToFloat32(b.left.data(), b.f32(), kBlock); }, nullptr);
    add("planar float64 in", [] { planar::float64ToFloat(b.f64(), b.left.data(), kBlock); }, nullptr);
    add("planar float64 out", [] { planar::floatToFloat64(b.left.data(), b.f64(), kBlock); },
        [] { plain::floatToFloat64(b.left.data(), b.f64(), kBlock); });
    static PlanarLayout msb16, msb24;
    planarLayoutFor(int32_t(PlanarSampleType::Int16MSB), msb16);
    planarLayoutFor(int32_t(PlanarSampleType::Int24MSB), msb24);
    add("planar int16 MSB in", [] { planarToFloat(msb16, b.device.data(), b.left.data(), kBlock); }, nullptr);
    add("planar int16 MSB out", [] { floatToPlanar(msb16, b.left.data(), b.device.data(), kBlock); }, nullptr);
    add("planar int24 MSB in", [] { planarToFloat(msb24, b.device.data(), b.left.data(), kBlock); },
        [] { plain::int24MSBToFloat(b.device.data(), b.left.data(), kBlock); });
    add("planar int24 MSB out", [] { floatToPlanar(msb24, b.left.data(), b.device.data(), kBlock); },
        [] { plain::floatToInt24MSB(b.left.data(), b.device.data(), kBlock); });
    // Interleaved: samples counted per plane frame (two per frame would double the figure).
    add("interleaved int16 in (stereo)",
        [] { interleaved::int16ToPlanes(b.i16(), 2, b.left.data(), b.right.data(), kBlock); },
        [] { plain::toPlanes(b.i16(), 2, b.left.data(), b.right.data(), kBlock, 1.0 / 32768); });
    // What the back ends run: the chosen channels of a stereo device.
    add("interleaved int16 in (stereo, chosen)",
        [] { interleaved::int16ToChosenPlanes(b.i16(), 2, {0, 1}, b.left.data(), b.right.data(), kBlock); },
        [] { plain::chosenToPlanes(b.i16(), 2, {0, 1}, b.left.data(), b.right.data(), kBlock, 1.0 / 32768); });
    add("interleaved int32 in (stereo, chosen)",
        [] { interleaved::int32ToChosenPlanes(b.i32(), 2, {0, 1}, b.left.data(), b.right.data(), kBlock); },
        [] { plain::chosenToPlanes(b.i32(), 2, {0, 1}, b.left.data(), b.right.data(), kBlock, 1.0 / 2147483648.0); });
    add("interleaved float32 in (stereo, chosen)",
        [] { interleaved::float32ToChosenPlanes(b.f32(), 2, {0, 1}, b.left.data(), b.right.data(), kBlock); },
        [] { plain::float32ToChosenPlanes(b.f32(), 2, {0, 1}, b.left.data(), b.right.data(), kBlock); });
    add("interleaved int32 in (stereo)",
        [] { interleaved::int32ToPlanes(b.i32(), 2, b.left.data(), b.right.data(), kBlock); },
        [] { plain::toPlanes(b.i32(), 2, b.left.data(), b.right.data(), kBlock, 1.0 / 2147483648.0); });
    using plain::toInterleavedInt16, plain::toInterleavedInt32;
    addOut<int16_t, toInterleavedInt16>("interleaved int16 out (stereo)", interleaved::planesToInt16, 2, 0, 1);
    addOut<int16_t, toInterleavedInt16>("interleaved int16 out (4 ch, 2 and 3)", interleaved::planesToInt16, 4, 2, 3);
    addOut<int16_t, toInterleavedInt16>("interleaved int16 out (4 ch, 0 and 2)", interleaved::planesToInt16, 4, 0, 2);
    addOut<int16_t, toInterleavedInt16>("interleaved int16 out (4 ch, 0 and 3)", interleaved::planesToInt16, 4, 0, 3);
    addOut<int32_t, toInterleavedInt32>("interleaved int32 out (stereo)", interleaved::planesToInt32, 2, 0, 1);
    addOut<float, plain::limit>("interleaved float32 out (stereo)", interleaved::planesToFloat32, 2, 0, 1);
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
    std::printf("\nConversions (samples per second), the plain scalar loop beside ours:\n");
    std::printf("  %-40s %11s %11s\n", "", "plain", "ours");
    for (const auto& [name, rate] : reporter.rates) {
        if (name.rfind("convert/", 0) != 0) continue;
        const std::string label = name.substr(8);
        const auto plainRate = reporter.rates.find("plain/" + label);
        char plainText[32] = "-";
        if (plainRate != reporter.rates.end())
            std::snprintf(plainText, sizeof plainText, "%.2f G/s", plainRate->second / 1e9);
        std::printf("  %-40s %11s %7.2f G/s%s\n", label.c_str(), plainText, rate / 1e9,
                    rate >= 1.5e9 ? "" : "  (goal 1.50)");
    }
    std::printf("Goal: every device conversion at least 1.50 G/s\n");
    benchmark::Shutdown();
    fs::remove_all(benchDir());
    return 0;
}
