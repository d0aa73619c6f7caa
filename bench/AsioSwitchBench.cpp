// The host's cost per ASIO buffer switch: the back end's callback (input conversion, the
// coordinator's RenderBlock with a plug-in that does nothing, output conversion and zero-fill
// of the unused outputs) as the test driver would call it, for 64, 256 and 1024 frames with 2
// and 32 channels of Int32LSB and Float32LSB. RenderBlock alone and a bare memset of 30 unused
// channels are timed as well, to show where the time goes. Windows program (run it under Wine);
// it prints figures and is no test.

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "AsioEngineRig.h"
#include "audio/SampleConvert.h"
#include "support/FakePlugin.h"

using namespace vltest;

namespace {

// Leaves its outputs as they are.
struct NothingPlugin : FakePlugin {
    void onProcess(float**, float**, vst::int32) override {}
};

double nowSeconds() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return double(c.QuadPart) / double(frequency.QuadPart);
}

// Median over 9 runs of the mean cost of one call of f, in nanoseconds.
template <class F>
double nanosPerCall(F&& f) {
    int iterations = 1000;
    for (;;) {  // calibrate: one run takes about 20 ms
        const double t0 = nowSeconds();
        for (int i = 0; i < iterations; ++i) f(i);
        if (nowSeconds() - t0 > 0.02 || iterations > (1 << 24)) break;
        iterations *= 2;
    }
    std::vector<double> runs;
    for (int r = 0; r < 9; ++r) {
        const double t0 = nowSeconds();
        for (int i = 0; i < iterations; ++i) f(i);
        runs.push_back((nowSeconds() - t0) * 1e9 / iterations);
    }
    std::sort(runs.begin(), runs.end());
    return runs[runs.size() / 2];
}

struct Result {
    double perSwitch = 0.0;
    double renderBlock = 0.0;
    double conversions = 0.0;  // two channels in and two out, alone
};

bool measure(int32_t frames, int32_t channels, int32_t type, Result& result) {
    NothingPlugin plugin;  // outlives the rig's slot
    AsioEngineRig rig(frames, 44100.0, testasio::Manual, false);
    rig.driver.config().inputs = rig.driver.config().outputs = channels;
    for (int c = 0; c < channels; ++c) rig.driver.config().inputTypes[c] = rig.driver.config().outputTypes[c] = type;
    plugin.attach(rig.slot);
    rig.host.asioStopSettleMs = 0;
    if (!rig.host.StartAudioEngine()) return false;
    const vl::asio::AsioCallbacks callbacks = rig.driver.log().callbacks;
    if (!callbacks.bufferSwitchTimeInfo) return false;
    vl::asio::AsioTime time{};
    time.timeInfo.flags = vl::asio::kSystemTimeValid | vl::asio::kSamplePositionValid;
    result.perSwitch = nanosPerCall([&](int i) { callbacks.bufferSwitchTimeInfo(&time, i & 1, vl::asio::kAsioTrue); });
    std::vector<float> left(size_t(frames), 0.1f), right(size_t(frames), -0.1f);
    float* planes[2] = {left.data(), right.data()};
    result.renderBlock = nanosPerCall(
        [&](int) { vl::VLVSTHostInterface::RenderBlock(planes, planes, uint32_t(frames), &rig.host); });
    rig.host.StopAudioEngine();

    vl::PlanarLayout layout;
    vl::planarLayoutFor(type, layout);
    std::vector<uint8_t> device(size_t(frames) * 4 * 4);
    uint8_t* channel[4] = {device.data(), device.data() + frames * 4, device.data() + frames * 8,
                           device.data() + frames * 12};
    result.conversions = nanosPerCall([&](int) {
        vl::planarToFloat(layout, channel[0], planes[0], uint32_t(frames));
        vl::planarToFloat(layout, channel[1], planes[1], uint32_t(frames));
        vl::floatToPlanar(layout, planes[0], channel[2], uint32_t(frames));
        vl::floatToPlanar(layout, planes[1], channel[3], uint32_t(frames));
    });
    return true;
}

}  // namespace

int main() {
    std::printf("Host cost per ASIO buffer switch (median of 9 runs, ns)\n");
    std::printf("switch: the back end's callback in all; RenderBlock: the coordinator's block alone;\n"
                "conversions: two channels in and two out alone; rest: switch - RenderBlock - conversions\n"
                "(channel walk, zero-fill, plane bookkeeping)\n\n");
    std::printf("%-11s %6s %8s %10s %12s %12s %10s %10s\n", "type", "frames", "channels", "switch", "RenderBlock",
                "conversions", "rest", "ns/frame");
    const struct {
        int32_t type;
        const char* name;
    } types[] = {{18, "Int32LSB"}, {19, "Float32LSB"}};
    double twoChannels[2][3] = {}, thirtyTwo[2][3] = {};
    const int32_t frameCounts[] = {64, 256, 1024};
    for (int t = 0; t < 2; ++t)
        for (int f = 0; f < 3; ++f)
            for (int32_t channels : {2, 32}) {
                Result r;
                if (!measure(frameCounts[f], channels, types[t].type, r)) {
                    std::printf("%-11s %6d %8d   engine start failed (is the test driver registered?)\n",
                                types[t].name, int(frameCounts[f]), int(channels));
                    return 1;
                }
                (channels == 2 ? twoChannels : thirtyTwo)[t][f] = r.perSwitch;
                std::printf("%-11s %6d %8d %10.1f %12.1f %12.1f %10.1f %10.3f\n", types[t].name,
                            int(frameCounts[f]), int(channels), r.perSwitch, r.renderBlock, r.conversions,
                            r.perSwitch - r.renderBlock - r.conversions, r.perSwitch / frameCounts[f]);
            }

    std::printf("\nZero-fill of 30 unused output channels (32 - 2 channels, same type, per switch, ns)\n");
    std::printf("%-11s %6s %14s %14s\n", "type", "frames", "in the switch", "bare memset");
    for (int t = 0; t < 2; ++t)
        for (int f = 0; f < 3; ++f) {
            const size_t bytes = size_t(frameCounts[f]) * 4;
            std::vector<std::vector<uint8_t>> buffers(30, std::vector<uint8_t>(bytes, 0xA5));
            const double bare = nanosPerCall([&](int) {
                for (auto& b : buffers) std::memset(b.data(), 0, bytes);
                __asm__ __volatile__("" ::: "memory");
            });
            std::printf("%-11s %6d %14.1f %14.1f\n", types[t].name, int(frameCounts[f]),
                        thirtyTwo[t][f] - twoChannels[t][f], bare);
        }
    std::printf("\nGoal: at most 400 ns per 64-frame switch with 2 channels: Int32LSB %.1f ns, Float32LSB %.1f ns\n",
                twoChannels[0][0], twoChannels[1][0]);
    return 0;
}
