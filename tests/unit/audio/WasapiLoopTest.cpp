// The WASAPI streams and device loop against a scripted audio client: what real drivers do
// and Wine never does (granted exclusive sizes, aligned-size retries, packed 24-bit formats,
// merged duplex wakes, a device that vanishes), and what a start may keep from a query.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "audio/SampleConvert.h"
#include "audio/wasapi/WasapiLoop.h"

using namespace vl;
using namespace vl::wasapi;

namespace {

// The capture ramp: frame k holds (k mod 4096) / 4096, within full scale and exact in float.
float rampAt(size_t k) { return float(k % 4096) / 4096.0f; }

struct Accepts {  // an exclusive format the device takes
    uint16_t bits, validBits;
    bool isFloat;
};

// One endpoint as the fake sees it, with what the loop did to it.
struct FakeEndpoint {
    DeviceFormat mix = exclusiveLadderFormat(0, 2, 48000);  // float32, as engines mostly mix
    uint32_t rate = 48000;
    std::vector<Accepts> exclusive = {{32, 32, true}};
    uint16_t channels = 2;           // of the stored device format
    uint32_t storedMask = 3;         // its channel mask
    uint32_t wantMask = 0;           // exclusive formats with another mask are refused (0: any)
    int64_t minimumPeriod = 30000;  // 3 ms
    int64_t defaultPeriod = 100000;
    uint32_t sharedFrames = 480;
    uint32_t alignedFrames = 0;      // answers the first exclusive Initialize with NOT_ALIGNED
    int invalidateAtBlock = -1;      // GetBuffer fails with DEVICE_INVALIDATED from this block
    uint32_t packetFrames = 0;       // capture: frames per packet
    uint32_t packetsPerWake = 0;     // capture: packets that arrive per wake (merged events)
    bool keepPlayed = true;          // render: keep every released buffer in played
    bool clocked = false;            // capture: packets by a clock of its own instead
    double capturePpm = 0.0;         // how much faster it runs than 480 frames a wake
    double captureDue = 0.0;

    // Seen by the test.
    int activated = 0, live = 0;
    bool alignedAnswered = false;
    std::vector<int64_t> durations;  // of every Initialize
    uint32_t tooLarge = 0;
    uint32_t blocks = 0;
    std::vector<uint8_t> played;     // every released buffer's bytes, pre-roll included
    uint32_t nextCaptureFrame = 0;
    DeviceFormat opened;
};

class FakeClient final : public Client {
public:
    FakeClient(FakeEndpoint& e, bool capture) : e(e), capture(capture) { ++e.live; }
    ~FakeClient() override { --e.live; }

    Result mixFormat(DeviceFormat& format) override {
        format = e.mix;
        return kOk;
    }
    Result devicePeriod(int64_t& d, int64_t& m) override {
        d = e.defaultPeriod;
        m = e.minimumPeriod;
        return kOk;
    }
    bool supportsExclusive(const DeviceFormat& f) override {
        const bool isFloat = sampleKindOf(f) == SampleKind::Float32;
        for (const Accepts& a : e.exclusive)
            if (a.bits == f.bitsPerSample && a.validBits == f.validBits && a.isFloat == isFloat && f.samplesPerSec == e.rate &&
                (e.wantMask == 0 || f.channelMask == e.wantMask))
                return true;
        return false;
    }
    Result initialize(bool exclusive, int64_t duration, int64_t, const DeviceFormat& f) override {
        e.durations.push_back(duration);
        if (exclusive && duration < e.minimumPeriod) return static_cast<Result>(0x88890020u);  // invalid period
        if (exclusive && e.alignedFrames && !e.alignedAnswered) {
            e.alignedAnswered = true;
            granted = e.alignedFrames;
            return kBufferSizeNotAligned;
        }
        granted = exclusive ? uint32_t(std::llround(double(duration) * f.samplesPerSec / 1e7)) : e.sharedFrames;
        format = f;
        e.opened = f;
        buffer.assign(size_t(granted) * f.blockAlign, 0xEE);
        return kOk;
    }
    Result bufferFrames(uint32_t& frames) override {
        frames = granted;
        return kOk;
    }
    Result start() override { return kOk; }
    void stop() override {}
    Result padding(uint32_t& frames) override {
        frames = 0;  // the engine has taken everything
        return kOk;
    }
    Result getRenderBuffer(uint32_t frames, uint8_t*& data) override {
        if (e.invalidateAtBlock >= 0 && int(e.blocks) >= e.invalidateAtBlock) return kDeviceInvalidated;
        if (frames > granted) {
            ++e.tooLarge;
            return kBufferTooLarge;
        }
        data = buffer.data();
        return kOk;
    }
    Result releaseRenderBuffer(uint32_t frames, bool silent) override {
        if (silent) std::fill_n(buffer.begin(), size_t(frames) * format.blockAlign, uint8_t(0));
        if (e.keepPlayed) e.played.insert(e.played.end(), buffer.begin(), buffer.begin() + size_t(frames) * format.blockAlign);
        ++e.blocks;
        return kOk;
    }
    // Packets of a ramp on channel 0 and its negation on channel 1.
    Result getCapturePacket(uint8_t*& data, uint32_t& frames, bool& silent) override {
        silent = false;
        if (pendingPackets == 0) {
            frames = 0;
            return kBufferEmpty;
        }
        --pendingPackets;
        frames = e.packetFrames;
        std::vector<float> samples(size_t(frames) * format.channels, 0.0f);
        for (uint32_t i = 0; i < frames; ++i) {
            samples[size_t(i) * format.channels] = rampAt(e.nextCaptureFrame + i);
            samples[size_t(i) * format.channels + 1] = -rampAt(e.nextCaptureFrame + i);
        }
        e.nextCaptureFrame += frames;
        packet.assign(size_t(frames) * format.blockAlign, 0);
        if (sampleKindOf(format) == SampleKind::Int24) planar::floatToInt24(samples.data(), packet.data(), frames * format.channels);
        else std::memcpy(packet.data(), samples.data(), packet.size());
        data = packet.data();
        return kOk;
    }
    Result releaseCapturePacket(uint32_t) override { return kOk; }

    FakeEndpoint& e;
    bool capture;
    uint32_t granted = 0, pendingPackets = 0;
    DeviceFormat format;
    std::vector<uint8_t> buffer, packet;
};

class FakeEndpoints final : public Endpoints {
public:
    std::map<std::wstring, FakeEndpoint> endpoints;
    uint64_t clock = 0;

    std::unique_ptr<Client> activate(const AudioDeviceRecord& record) override {
        auto it = endpoints.find(record.endpointId);
        if (it == endpoints.end()) return nullptr;
        ++it->second.activated;
        return std::make_unique<FakeClient>(it->second, record.isInput);
    }
    bool storedFormat(const AudioDeviceRecord& record, DeviceFormat& format) override {
        auto it = endpoints.find(record.endpointId);
        if (it == endpoints.end()) return false;
        format = exclusiveLadderFormat(4, it->second.channels, it->second.rate);  // 16-bit, as many cards ship
        format.channelMask = it->second.storedMask;
        return true;
    }
    // Every wake signals both streams at once, with the capture packets of that period.
    uint32_t wait(Client&, Client* capture, uint32_t) override {
        clock += 5;
        if (!capture) return kRenderSignalled;
        auto& c = static_cast<FakeClient&>(*capture);
        c.pendingPackets += c.e.packetsPerWake;
        if (c.e.clocked) {
            for (c.e.captureDue += 480.0 * (1.0 + c.e.capturePpm * 1e-6); c.e.captureDue >= c.e.packetFrames;
                 c.e.captureDue -= c.e.packetFrames)
                ++c.pendingPackets;
        }
        return kRenderSignalled | kCaptureSignalled;
    }
    uint64_t nowMs() override { return clock; }
    void sleepMs(uint32_t) override {}
};

class TestWasapi final : public VLWasapiLoop {
public:
    explicit TestWasapi(FakeEndpoints& endpoints) : endpoints(endpoints) {}
    bool openAndStart(AudioDeviceRecord* in, AudioDeviceRecord* out, RenderBlockProc cb, void* user) override {
        return out && runStreams(endpoints, in, *out, cb, user);
    }
    void stop() override {}
    bool matchFormats(AudioDeviceRecord*, AudioDeviceRecord*) override { return true; }
    bool queryDetails(AudioDeviceRecord* r, bool probe) override { return queryStreamDetails(endpoints, r, probe); }
    FakeEndpoints& endpoints;
};

// The plug-in's side: what came in, block sizes, and a fixed output.
struct Plugin {
    uint32_t stopAfter = 20;
    float output = 0.25f;
    AudioDeviceRecord* scribble = nullptr;  // a record the settings window rewrites mid-run
    std::vector<uint32_t> frames;
    std::vector<float> inputLeft, inputRight;

    static bool render(float** in, float** out, uint32_t n, void* user) {
        auto* p = static_cast<Plugin*>(user);
        p->frames.push_back(n);
        p->inputLeft.insert(p->inputLeft.end(), in[0], in[0] + n);
        p->inputRight.insert(p->inputRight.end(), in[1], in[1] + n);
        std::fill_n(out[0], n, p->output);
        std::fill_n(out[1], n, -p->output);
        if (p->scribble) p->scribble->bufferSize = 4096;
        return p->frames.size() < p->stopAfter;
    }
};

AudioDeviceRecord record(const std::wstring& id, uint32_t type, bool isInput, uint32_t bufferSize) {
    AudioDeviceRecord r;
    r.endpointId = id;
    r.type = type;
    r.isInput = isInput;
    r.bufferSize = bufferSize;
    r.sampleRate = 48000.0;
    r.channels = 2;
    return r;
}

}  // namespace

// Fails on the earlier loop: it asked GetBuffer for the unrounded 256 frames of a 240-frame
// buffer (AUDCLNT_E_BUFFER_TOO_LARGE every cycle), and ignored the minimum period.
TEST(WasapiExclusive, BlocksAreWhatTheDeviceGrantedAfterRoundingAndAlignment) {
    struct Case { const char* name; uint32_t block; uint32_t aligned; uint32_t wantFrames; size_t inits; };
    const Case cases[] = {
        {"rounded down to 5 ms", 256, 0, 240, 1},
        {"below the minimum period", 64, 0, 144, 1},
        {"not aligned, retried once", 256, 264, 264, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeEndpoints fake;
        fake.endpoints[L"out"].alignedFrames = c.aligned;
        TestWasapi wasapi(fake);
        AudioDeviceRecord out = record(L"out", kDeviceTypeWasapiExclusive, false, c.block);
        // The start's query settles the block the plug-in is told.
        ASSERT_TRUE(wasapi.queryDetails(&out, false));
        EXPECT_EQ(out.bufferSize, c.wantFrames);
        FakeEndpoint& e = fake.endpoints[L"out"];
        EXPECT_EQ(e.durations.size(), c.inits);
        if (c.aligned) {
            EXPECT_EQ(e.durations.back(), durationOfFrames(c.aligned, 48000));
        }
        EXPECT_EQ(e.live, 0);  // the query released what it opened

        Plugin plugin;
        EXPECT_TRUE(wasapi.openAndStart(nullptr, &out, &Plugin::render, &plugin));
        ASSERT_EQ(plugin.frames.size(), plugin.stopAfter);
        for (uint32_t n : plugin.frames) EXPECT_EQ(n, c.wantFrames);
        EXPECT_EQ(e.tooLarge, 0u);
        EXPECT_EQ(e.live, 0);
        EXPECT_EQ(wasapi.takeDeviceEvent(), DeviceEvent::None);

        // Started without that query, the loop still asks for what was granted, and refuses a
        // grant larger than the block the plug-in was told.
        AudioDeviceRecord unqueried = record(L"out", kDeviceTypeWasapiExclusive, false, c.block);
        e.alignedAnswered = false;
        Plugin second;
        const bool fits = c.wantFrames <= c.block;
        EXPECT_EQ(wasapi.openAndStart(nullptr, &unqueried, &Plugin::render, &second), fits);
        EXPECT_EQ(second.frames.size(), fits ? second.stopAfter : 0u);
        for (uint32_t n : second.frames) EXPECT_EQ(n, c.wantFrames);
        EXPECT_EQ(e.tooLarge, 0u);
    }
}

// Fails on the earlier back end, which rounded the block down to 0.5 ms at every open and
// stored the result: a user's 512 frames at 44.1 kHz were told as 507, came as blocks of 485,
// then 463 and 441 over restarts.
TEST(WasapiExclusive, TheUsersBlockIsRoundedOnceAndTheGrantedBlockKeptOverRestarts) {
    FakeEndpoints fake;
    FakeEndpoint& e = fake.endpoints[L"out"];
    e.rate = 44100;
    TestWasapi wasapi(fake);
    AudioDeviceRecord out = record(L"out", kDeviceTypeWasapiExclusive, false, 512);
    out.sampleRate = 44100.0;
    for (int start = 0; start < 4; ++start) {
        SCOPED_TRACE(start);
        ASSERT_TRUE(wasapi.queryDetails(&out, false));  // as the coordinator does before every start
        EXPECT_EQ(out.bufferSize, 507u);               // the block the plug-in is told
        Plugin plugin;
        plugin.stopAfter = 5;
        ASSERT_TRUE(wasapi.openAndStart(nullptr, &out, &Plugin::render, &plugin));
        ASSERT_EQ(plugin.frames.size(), 5u);
        for (uint32_t n : plugin.frames) EXPECT_EQ(n, 507u);
    }
    // 512 frames rounded once to 11.5 ms; every later stream asks for exactly the 507 granted.
    ASSERT_EQ(e.durations.size(), 5u);
    EXPECT_EQ(e.durations[0], 115000);
    for (size_t i = 1; i < e.durations.size(); ++i) EXPECT_EQ(e.durations[i], durationOfFrames(507, 44100)) << i;
    // The 507 frames the settings stored, met again at the next run: still 507.
    AudioDeviceRecord stored = record(L"out", kDeviceTypeWasapiExclusive, false, 507);
    stored.sampleRate = 44100.0;
    ASSERT_TRUE(wasapi.queryDetails(&stored, false));
    EXPECT_EQ(stored.bufferSize, 507u);
}

// Fails on the earlier back end, which asked with a channel mask of 0 for every count but two:
// drivers that insist on a layout refused all five formats.
TEST(WasapiExclusive, TheChannelMaskIsTheDevicesOwnOrTheStandardOneForItsCount) {
    struct Case { const char* name; uint16_t channels; uint32_t stored, want; };
    const Case cases[] = {
        {"mono", 1, 0, 0x4},
        {"5.1 with its own side pair", 6, 0x60F, 0x60F},
        {"5.1 stored with a mask of two channels", 6, 0x3, 0x3F},
        {"7.1", 8, 0, 0x63F},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeEndpoints fake;
        FakeEndpoint& e = fake.endpoints[L"out"];
        e.channels = c.channels;
        e.storedMask = c.stored;
        e.wantMask = c.want;
        TestWasapi wasapi(fake);
        AudioDeviceRecord out = record(L"out", kDeviceTypeWasapiExclusive, false, 480);
        Plugin plugin;
        plugin.stopAfter = 3;
        EXPECT_TRUE(wasapi.openAndStart(nullptr, &out, &Plugin::render, &plugin));
        EXPECT_EQ(e.opened.channelMask, c.want);
        EXPECT_EQ(e.opened.channels, c.channels);
    }
}

// Fails on the earlier loop: output channels outside the stream's (a choice made for a larger
// device) left the output silent; now they fall back as the input side's do.
TEST(WasapiOutput, ChannelsOutsideTheStreamFallBackToTheFirstTwo) {
    struct Case { const char* name; uint32_t type; uint16_t channels; int32_t left, right; float want0, want1; };
    const Case cases[] = {
        {"shared stereo, channels 3 and 2", kDeviceTypeWasapiShared, 2, 3, 2, 0.25f, -0.25f},
        {"exclusive mono", kDeviceTypeWasapiExclusive, 1, 0, 1, 0.25f, 0.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeEndpoints fake;
        FakeEndpoint& e = fake.endpoints[L"out"];
        e.channels = c.channels;
        e.storedMask = 0;
        TestWasapi wasapi(fake);
        AudioDeviceRecord out = record(L"out", c.type, false, 480);
        out.leftChannel = c.left;
        out.rightChannel = c.right;
        Plugin plugin;
        plugin.stopAfter = 3;
        ASSERT_TRUE(wasapi.openAndStart(nullptr, &out, &Plugin::render, &plugin));
        // float32 both ways here; the block after the silent pre-roll holds the plug-in's output.
        const size_t frameBytes = 4 * e.opened.channels;
        ASSERT_GE(e.played.size(), 2 * 480 * frameBytes);
        float frame[2] = {};
        std::memcpy(frame, e.played.data() + 480 * frameBytes, frameBytes);
        EXPECT_EQ(frame[0], c.want0);
        if (e.opened.channels > 1) {
            EXPECT_EQ(frame[1], c.want1);
        }
    }
}

// Fails on the earlier back end: every width but 16 and 32 was refused, and shared streams
// used the stored device format.
TEST(WasapiFormats, ExclusiveTakesTheFirstAcceptedRungAndPacked24IsWritten) {
    struct Case { const char* name; std::vector<Accepts> accepts; uint16_t bits, validBits; };
    const Case cases[] = {
        {"float first", {{16, 16, false}, {32, 32, true}}, 32, 32},
        {"24 in 32 before packed", {{24, 24, false}, {32, 24, false}}, 32, 24},
        {"packed 24 only", {{24, 24, false}}, 24, 24},
        {"16 only", {{16, 16, false}}, 16, 16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeEndpoints fake;
        fake.endpoints[L"out"].exclusive = c.accepts;
        TestWasapi wasapi(fake);
        AudioDeviceRecord out = record(L"out", kDeviceTypeWasapiExclusive, false, 480);
        Plugin plugin;
        plugin.stopAfter = 3;
        ASSERT_TRUE(wasapi.openAndStart(nullptr, &out, &Plugin::render, &plugin));
        const FakeEndpoint& e = fake.endpoints[L"out"];
        EXPECT_EQ(e.opened.bitsPerSample, c.bits);
        EXPECT_EQ(e.opened.validBits, c.validBits);
        if (c.bits != 24) continue;
        // The block after the silent pre-roll holds the plug-in's output, packed.
        const size_t frameBytes = 6;
        ASSERT_GE(e.played.size(), 2 * 480 * frameBytes);
        float decoded[2];
        planar::int24ToFloat(e.played.data() + 480 * frameBytes, decoded, 2);
        EXPECT_NEAR(decoded[0], 0.25f, 1e-6);
        EXPECT_NEAR(decoded[1], -0.25f, 1e-6);
    }
    // No rung accepted: the start fails before any block.
    FakeEndpoints fake;
    fake.endpoints[L"out"].exclusive = {};
    TestWasapi wasapi(fake);
    AudioDeviceRecord out = record(L"out", kDeviceTypeWasapiExclusive, false, 480);
    Plugin plugin;
    EXPECT_FALSE(wasapi.openAndStart(nullptr, &out, &Plugin::render, &plugin));
    EXPECT_TRUE(plugin.frames.empty());
}

// Fails on the earlier loop: one shared event and one capture packet per wake left every
// second packet behind (capture backed up), and an exclusive output with a shared input
// skipped every block.
TEST(WasapiDuplex, MergedWakesDrainEveryPacketAndEveryCapturedFrameArrivesInOrder) {
    struct Case { const char* name; uint32_t outType; uint32_t outBlock; uint32_t packet, perWake; SampleKind mix; };
    const Case cases[] = {
        {"shared, two packets a wake", kDeviceTypeWasapiShared, 480, 240, 2, SampleKind::Float32},
        {"exclusive output, shared input", kDeviceTypeWasapiExclusive, 480, 480, 1, SampleKind::Float32},
        {"packed 24-bit mix format", kDeviceTypeWasapiShared, 480, 160, 3, SampleKind::Int24},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeEndpoints fake;
        FakeEndpoint& in = fake.endpoints[L"in"];
        in.packetFrames = c.packet;
        in.packetsPerWake = c.perWake;
        if (c.mix == SampleKind::Int24) in.mix = exclusiveLadderFormat(3, 2, 48000);
        fake.endpoints[L"out"];
        TestWasapi wasapi(fake);
        AudioDeviceRecord input = record(L"in", kDeviceTypeWasapiShared, true, 480);
        AudioDeviceRecord output = record(L"out", c.outType, false, c.outBlock);
        Plugin plugin;
        plugin.stopAfter = 30;
        ASSERT_TRUE(wasapi.openAndStart(&input, &output, &Plugin::render, &plugin));
        ASSERT_EQ(plugin.frames.size(), 30u);
        for (uint32_t n : plugin.frames) EXPECT_EQ(n, 480u);
        // Each wake brings one block's worth: after whole blocks of silence while the FIFO
        // fills to its reserve (a capture period and a margin), the plug-in sees the ramp
        // without a gap or repeat.
        size_t start = 0;
        while (start < plugin.inputLeft.size() && plugin.inputLeft[start + 1] == 0.0f) start += 480;
        EXPECT_LE(start, 2u * 480u);
        const float tolerance = c.mix == SampleKind::Int24 ? 1e-6f : 0.0f;
        size_t wrong = 0;
        for (size_t k = 0; k + start < plugin.inputLeft.size(); ++k)
            if (std::fabs(plugin.inputLeft[k + start] - rampAt(k)) > tolerance ||
                std::fabs(plugin.inputRight[k + start] + rampAt(k)) > tolerance)
                ++wrong;
        EXPECT_EQ(wrong, 0u);
        EXPECT_EQ(wasapi.duplexCounts().underflows, 0u);
        EXPECT_EQ(wasapi.duplexCounts().drops, 0u);
    }
}

// What the plug-in hears of the capture ramp, block by block, without keeping it.
struct RampWatch {
    const FakeEndpoint* capture = nullptr;
    uint32_t stopAfter = 0, blocks = 0;
    bool started = false;
    int64_t frame = -1;  // capture frame of the last input frame heard
    uint32_t splicedBlocks = 0, silentBlocks = 0, jumps = 0;
    int64_t mostHeldBack = 0;  // captured frames not yet heard, after a block

    static bool render(float** in, float**, uint32_t n, void* user) {
        auto* w = static_cast<RampWatch*>(user);
        bool silent = true;
        for (uint32_t i = 0; i < n; ++i) silent = silent && in[0][i] == 0.0f && in[1][i] == 0.0f;
        if (silent) {
            w->silentBlocks += w->started;
        } else {
            for (uint32_t i = 0; i < n; ++i) {
                const int64_t ramp = std::llround(double(in[0][i]) * 4096.0);
                const int64_t next = w->frame + 1;
                const int64_t step = ((ramp - next) % 4096 + 4096) % 4096;  // frames skipped
                if (w->started && step != 0) ++(i == 0 ? w->jumps : w->splicedBlocks);
                w->frame = next + step;
                w->started = true;
            }
            w->mostHeldBack = std::max<int64_t>(w->mostHeldBack, int64_t(w->capture->nextCaptureFrame) - 1 - w->frame);
        }
        return ++w->blocks < w->stopAfter;
    }
};

// Fails on the earlier loop, whose FIFO had no target level: with the capture clock 100 ppm
// fast the input latency climbed to the FIFO's capacity (40 ms) and stayed there, dropping
// frames at every overflow; 100 ppm slow spliced zeros into the middle of blocks.
TEST(WasapiDuplex, TwoDevicesDriftingApartKeepTheInputNearItsTargetInWholeBlocks) {
    for (double ppm : {100.0, -100.0}) {
        SCOPED_TRACE(ppm);
        FakeEndpoints fake;
        FakeEndpoint& in = fake.endpoints[L"in"];
        in.packetFrames = 240;  // two packets a period: a block may find half of one waiting
        in.clocked = true;
        in.capturePpm = ppm;
        fake.endpoints[L"out"].keepPlayed = false;
        TestWasapi wasapi(fake);
        AudioDeviceRecord input = record(L"in", kDeviceTypeWasapiShared, true, 480);
        AudioDeviceRecord output = record(L"out", kDeviceTypeWasapiShared, false, 480);
        RampWatch watch;
        watch.capture = &in;
        watch.stopAfter = 60000;  // ten minutes of 10 ms blocks
        ASSERT_TRUE(wasapi.openAndStart(&input, &output, &RampWatch::render, &watch));
        EXPECT_EQ(watch.splicedBlocks, 0u);
        // One capture period (480 frames) and 2 ms held back, and at most a packet above.
        EXPECT_LE(watch.mostHeldBack, 480 + 96 + 480);
        const DuplexFifo::Counts counts = wasapi.duplexCounts();
        EXPECT_EQ(counts.drops, watch.jumps);
        EXPECT_EQ(counts.underflows, watch.silentBlocks);
        // 2880 frames of drift in ten minutes: taken in a few steps, each of whole blocks.
        if (ppm > 0) {
            EXPECT_GE(counts.drops, 2u);
            EXPECT_LE(counts.drops, 6u);
            EXPECT_EQ(counts.underflows, 0u);
        } else {
            EXPECT_GE(counts.underflows, 2u);
            EXPECT_LE(counts.underflows, 6u);
            EXPECT_EQ(counts.drops, 0u);
        }
        std::printf("%+.0f ppm: %u drops (%u frames), %u silent blocks, at most %lld frames held back\n", ppm,
                    counts.drops, counts.droppedFrames, counts.underflows, static_cast<long long>(watch.mostHeldBack));
    }
}

// Fails on the earlier loop: without input the planes kept the previous block's output, which
// the plug-in then read as its input.
TEST(WasapiInput, WithoutAnInputThePlugInReadsSilenceEveryBlock) {
    for (uint32_t type : {kDeviceTypeWasapiShared, kDeviceTypeWasapiExclusive}) {
        FakeEndpoints fake;
        fake.endpoints[L"out"];
        TestWasapi wasapi(fake);
        AudioDeviceRecord out = record(L"out", type, false, 480);
        Plugin plugin;
        ASSERT_TRUE(wasapi.openAndStart(nullptr, &out, &Plugin::render, &plugin));
        size_t nonZero = 0;
        for (float v : plugin.inputLeft) nonZero += v != 0.0f;
        for (float v : plugin.inputRight) nonZero += v != 0.0f;
        EXPECT_EQ(nonZero, 0u) << type;
    }
}

// Fails on the earlier loop: a vanished device ended the thread with nothing reported.
TEST(WasapiFailure, AnInvalidatedDeviceEndsTheLoopAndIsReportedOnce) {
    for (uint32_t type : {kDeviceTypeWasapiShared, kDeviceTypeWasapiExclusive}) {
        FakeEndpoints fake;
        fake.endpoints[L"out"].invalidateAtBlock = 6;  // the pre-roll and five blocks
        TestWasapi wasapi(fake);
        AudioDeviceRecord out = record(L"out", type, false, 480);
        Plugin plugin;
        plugin.stopAfter = 100;
        EXPECT_FALSE(wasapi.openAndStart(nullptr, &out, &Plugin::render, &plugin));
        EXPECT_EQ(plugin.frames.size(), 5u);
        EXPECT_EQ(wasapi.takeDeviceEvent(), DeviceEvent::Failed);
        EXPECT_EQ(wasapi.takeDeviceEvent(), DeviceEvent::None);
        EXPECT_EQ(fake.endpoints[L"out"].live, 0);
        EXPECT_EQ(wasapi.leftPlane, nullptr);
    }
}

// Fails on the earlier back end: a kept query client was reused for whatever device the next
// start named, and the exclusive loop reread the record's block size every cycle.
TEST(WasapiClients, EveryStartOpensFreshClientsForExactlyItsDevicesAndKeepsItsBlock) {
    FakeEndpoints fake;
    fake.endpoints[L"old"].sharedFrames = 960;
    fake.endpoints[L"new"];
    TestWasapi wasapi(fake);
    AudioDeviceRecord old = record(L"old", kDeviceTypeWasapiShared, false, 1024);
    ASSERT_TRUE(wasapi.queryDetails(&old, false));
    EXPECT_EQ(old.bufferSize, 960u);
    EXPECT_EQ(fake.endpoints[L"old"].live, 0);

    AudioDeviceRecord next = record(L"new", kDeviceTypeWasapiExclusive, false, 480);
    Plugin plugin;
    plugin.scribble = &next;
    ASSERT_TRUE(wasapi.openAndStart(nullptr, &next, &Plugin::render, &plugin));
    EXPECT_EQ(fake.endpoints[L"old"].activated, 1);  // the query's only
    EXPECT_EQ(fake.endpoints[L"new"].activated, 1);
    for (uint32_t n : plugin.frames) EXPECT_EQ(n, 480u);
    EXPECT_EQ(fake.endpoints[L"new"].tooLarge, 0u);
}

TEST(DuplexFifo, KeepsOrderAndDropsTheOldestWhenFull) {
    DuplexFifo fifo;
    ASSERT_TRUE(fifo.reserve(4));
    const float a[6] = {1, 2, 3, 4, 5, 6};
    float l[6] = {}, r[6] = {};
    fifo.push(a, a, 3);
    EXPECT_EQ(fifo.pop(l, r, 2), 2u);
    EXPECT_EQ(l[1], 2.0f);
    fifo.push(a + 3, a + 3, 3);  // 3, 4, 5, 6: nothing dropped yet
    EXPECT_EQ(fifo.available(), 4u);
    fifo.push(a, a, 1);          // 4, 5, 6, 1: the oldest goes
    EXPECT_EQ(fifo.pop(l, r, 6), 4u);
    EXPECT_EQ(std::vector<float>(l, l + 4), (std::vector<float>{4, 5, 6, 1}));
    fifo.push(a, a, 6);          // longer than the fifo: the newest four stay
    EXPECT_EQ(fifo.pop(l, r, 6), 4u);
    EXPECT_EQ(l[0], 3.0f);
    EXPECT_EQ(r[3], 6.0f);
}
