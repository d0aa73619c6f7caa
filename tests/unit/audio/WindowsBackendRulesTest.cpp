// The Windows back ends' portable rules: device format reading, the exclusive-mode duration,
// the shared-mode padding rule, the listing rules with reads that fail, the
// DirectSound ring, the MME writer, and the chosen output and input channels.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "audio/DeviceListing.h"
#include "audio/SampleConvert.h"
#include "audio/dsound/DirectSoundRing.h"
#include "audio/mme/WaveWriter.h"
#include "audio/wasapi/WasapiFormat.h"

using namespace vl;

namespace {

// The device format Wine reports: WAVEFORMATEXTENSIBLE, 2 channels, 48 kHz, 32-bit IEEE float.
std::vector<uint8_t> extensibleFormat(uint16_t bits, bool isFloat, uint32_t rate = 48000, uint16_t channels = 2) {
    std::vector<uint8_t> b(40, 0);
    auto put16 = [&](size_t at, uint16_t v) { b[at] = uint8_t(v), b[at + 1] = uint8_t(v >> 8); };
    auto put32 = [&](size_t at, uint32_t v) { for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i)); };
    put16(0, wasapi::kFormatTagExtensible);
    put16(2, channels);
    put32(4, rate);
    put32(8, rate * channels * bits / 8);
    put16(12, uint16_t(channels * bits / 8));
    put16(14, bits);
    put16(16, 22);
    put16(18, bits);
    put32(20, 3);
    const uint8_t sub[16] = {uint8_t(isFloat ? 3 : 1), 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
    std::copy(sub, sub + 16, b.begin() + 24);
    return b;
}

std::vector<uint8_t> basicFormat(uint16_t tag, uint16_t bits, size_t size = 18) {
    std::vector<uint8_t> b = extensibleFormat(bits, false);
    b[0] = uint8_t(tag);
    b[1] = uint8_t(tag >> 8);
    b.resize(size);
    return b;
}

}  // namespace

TEST(WasapiFormat, ExclusiveDurationIsTheBlockRoundedDownToHalfMilliseconds) {
    struct Case { uint32_t frames, rate; int64_t units; };
    const Case cases[] = {
        {256, 48000, 50000},   // 5.333 ms -> 5 ms
        {256, 44100, 55000},   // 5.805 ms -> 5.5 ms
        {480, 48000, 100000},  // exactly 10 ms
        {512, 48000, 105000},  // 10.667 ms -> 10.5 ms
        {64, 96000, 5000},     // 0.667 ms -> 0.5 ms
        {16, 96000, 0},        // below half a millisecond
        {256, 0, 0},           // no rate: no duration rather than a division by zero
    };
    for (const Case& c : cases)
        EXPECT_EQ(wasapi::exclusiveBufferDuration(c.frames, c.rate), c.units) << c.frames << " at " << c.rate;
}

// Fails on the earlier rounding: 507 frames at 44.1 kHz, granted for 11.5 ms, asked for 11 ms.
TEST(WasapiFormat, ASizeGrantedForARoundedDurationAsksForThatDurationAgain) {
    for (uint32_t rate : {44100u, 48000u, 88200u, 96000u}) {
        for (uint32_t frames = 16; frames <= 4096; ++frames) {
            const int64_t duration = wasapi::exclusiveBufferDuration(frames, rate);
            // What a device grants for it, rounded either way.
            const double exact = double(duration) * rate / 1e7;
            for (double granted : {std::floor(exact), std::round(exact), std::ceil(exact)}) {
                if (granted < 1) continue;
                ASSERT_EQ(wasapi::exclusiveBufferDuration(uint32_t(granted), rate), duration)
                    << frames << " at " << rate << " granted " << granted;
            }
        }
    }
}

TEST(WasapiFormat, AnAlignedSizeGivesTheDurationThatHoldsExactlyIt) {
    struct Case { uint32_t frames, rate; int64_t units; };
    const Case cases[] = {{264, 48000, 55000}, {441, 44100, 100000}, {1, 44100, 227}, {7, 96000, 729}, {100, 0, 0}};
    for (const Case& c : cases)
        EXPECT_EQ(wasapi::durationOfFrames(c.frames, c.rate), c.units) << c.frames << " at " << c.rate;
}

TEST(WasapiFormat, SampleKindFollowsTagAndSubFormatNotJustTheWidth) {
    struct Case { std::vector<uint8_t> blob; wasapi::SampleKind kind; };
    const Case cases[] = {
        {extensibleFormat(32, true), wasapi::SampleKind::Float32},  // what Wine always reports
        {extensibleFormat(32, false), wasapi::SampleKind::Int32},
        {extensibleFormat(16, false), wasapi::SampleKind::Int16},
        {extensibleFormat(24, false), wasapi::SampleKind::Int24},  // packed, as USB interfaces often store
        {extensibleFormat(24, true), wasapi::SampleKind::Unsupported},
        {extensibleFormat(16, true), wasapi::SampleKind::Unsupported},
        {basicFormat(wasapi::kFormatTagFloat, 32), wasapi::SampleKind::Float32},
        {basicFormat(wasapi::kFormatTagFloat, 64), wasapi::SampleKind::Unsupported},
        {basicFormat(wasapi::kFormatTagPcm, 32), wasapi::SampleKind::Int32},
        {basicFormat(wasapi::kFormatTagPcm, 16, 16), wasapi::SampleKind::Int16},  // a bare PCMWAVEFORMAT
        {basicFormat(wasapi::kFormatTagPcm, 8), wasapi::SampleKind::Unsupported},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        wasapi::DeviceFormat format;
        ASSERT_TRUE(wasapi::parseDeviceFormat(cases[i].blob.data(), cases[i].blob.size(), format)) << i;
        EXPECT_EQ(wasapi::sampleKindOf(format), cases[i].kind) << i;
    }
}

TEST(WasapiFormat, UnusableBlobsAreRefusedAndBasicRecordsLoseTheirExtension) {
    wasapi::DeviceFormat format;
    const std::vector<uint8_t> wine = extensibleFormat(32, true);
    ASSERT_TRUE(wasapi::parseDeviceFormat(wine.data(), wine.size(), format));
    EXPECT_EQ(format.channels, 2);
    EXPECT_EQ(format.samplesPerSec, 48000u);
    EXPECT_EQ(format.bitsPerSample, 32);
    EXPECT_EQ(format.channelMask, 3u);
    std::vector<uint8_t> longer = wine;
    longer.resize(64, 0xEE);  // only 40 bytes are taken
    ASSERT_TRUE(wasapi::parseDeviceFormat(longer.data(), longer.size(), format));
    EXPECT_EQ(std::vector<uint8_t>(format.bytes, format.bytes + 40), wine);

    std::vector<uint8_t> pcm = basicFormat(wasapi::kFormatTagPcm, 16);
    pcm[16] = 0x55;  // a claimed extra size that the record does not carry
    ASSERT_TRUE(wasapi::parseDeviceFormat(pcm.data(), pcm.size(), format));
    EXPECT_EQ(format.bytes[16], 0);

    const std::vector<uint8_t> truncatedExtensible(wine.begin(), wine.begin() + 24);
    const std::vector<uint8_t> tooShort(wine.begin(), wine.begin() + 15);
    const std::vector<uint8_t> noChannels = extensibleFormat(32, true, 48000, 0);
    const std::vector<uint8_t> noRate = extensibleFormat(32, true, 0);
    for (const auto* bad : {&truncatedExtensible, &tooShort, &noChannels, &noRate})
        EXPECT_FALSE(wasapi::parseDeviceFormat(bad->data(), bad->size(), format));
    EXPECT_FALSE(wasapi::parseDeviceFormat(nullptr, 40, format));
}

TEST(WasapiFormat, SharedPaddingLeavesTheFreeRoomAndNothingWhenFull) {
    EXPECT_EQ(wasapi::sharedWritableFrames(1440, 0), 1440u);
    EXPECT_EQ(wasapi::sharedWritableFrames(1440, 1000), 440u);
    EXPECT_EQ(wasapi::sharedWritableFrames(1440, 1440), 0u);
    EXPECT_EQ(wasapi::sharedWritableFrames(1440, 2000), 0u);
}

TEST(WasapiFormat, RewriteSetsRateWidthAndTheDerivedFields) {
    wasapi::DeviceFormat format;
    const std::vector<uint8_t> wine = extensibleFormat(32, true);
    ASSERT_TRUE(wasapi::parseDeviceFormat(wine.data(), wine.size(), format));
    wasapi::rewriteFormat(format.bytes, 44100, 16);
    wasapi::DeviceFormat rewritten;
    ASSERT_TRUE(wasapi::parseDeviceFormat(format.bytes, 40, rewritten));
    EXPECT_EQ(rewritten.samplesPerSec, 44100u);
    EXPECT_EQ(rewritten.bitsPerSample, 16);
    EXPECT_EQ(rewritten.blockAlign, 4);
    EXPECT_EQ(rewritten.avgBytesPerSec, 176400u);
    EXPECT_EQ(rewritten.validBits, 16);  // never more valid bits than the container holds
    EXPECT_EQ(rewritten.channels, 2);
}

// ---- Listing rules ----------------------------------------------------------------------------

namespace {

EndpointInfo goodEndpoint(const std::wstring& id, const std::wstring& name = L"Speakers") {
    EndpointInfo e;
    e.id = id;
    e.friendlyName = name + L" (Card)";
    e.description = name;
    e.deviceFormat = extensibleFormat(32, true);
    e.formFactorRead = true;
    return e;
}

}  // namespace

TEST(DeviceListing, AnEndpointGivesAnExclusiveThenASharedRecordWithNumberedChannels) {
    DeviceList list;
    EXPECT_EQ(appendEndpointRecords(goodEndpoint(L"id-1"), false, L"id-1", list), EndpointOutcome::Listed);
    ASSERT_EQ(list.size(), 2u);
    const std::vector<std::wstring> names = {L"Speakers Out 1", L"Speakers Out 2"};
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(list[i]->type, i == 0 ? kDeviceTypeWasapiExclusive : kDeviceTypeWasapiShared);
        EXPECT_EQ(list[i]->bufferSize, i == 0 ? 256u : 1024u);
        EXPECT_EQ(list[i]->name, L"Speakers (Card)");
        EXPECT_EQ(list[i]->endpointId, L"id-1");
        EXPECT_TRUE(list[i]->isDefault);
        EXPECT_FALSE(list[i]->isInput);
        EXPECT_EQ(list[i]->channelNames, names);
        EXPECT_EQ(list[i]->sampleRate, 48000.0);
        EXPECT_EQ(list[i]->bitsPerSample, 32);
    }
    EXPECT_EQ(appendEndpointRecords(goodEndpoint(L"id-2", L"Mic"), true, L"id-1", list), EndpointOutcome::Listed);
    ASSERT_EQ(list.size(), 4u);
    EXPECT_FALSE(list[2]->isDefault);
    EXPECT_TRUE(list[2]->isInput);
    EXPECT_EQ(list[3]->channelNames, (std::vector<std::wstring>{L"Mic In 1", L"Mic In 2"}));
}

TEST(DeviceListing, AnEndpointWithAnUnreadablePropertyIsLeftOutAndAMissingIdEndsTheDirection) {
    struct Case { const char* fault; void (*spoil)(EndpointInfo&); EndpointOutcome outcome; };
    const Case cases[] = {
        {"friendly name", [](EndpointInfo& e) { e.friendlyName.reset(); }, EndpointOutcome::Skipped},
        {"description", [](EndpointInfo& e) { e.description.reset(); }, EndpointOutcome::Skipped},
        {"device format", [](EndpointInfo& e) { e.deviceFormat.reset(); }, EndpointOutcome::Skipped},
        {"form factor", [](EndpointInfo& e) { e.formFactorRead = false; }, EndpointOutcome::Skipped},
        {"truncated format", [](EndpointInfo& e) { e.deviceFormat->resize(20); }, EndpointOutcome::Skipped},
        {"id", [](EndpointInfo& e) { e.id.reset(); }, EndpointOutcome::EndOfDirection},
    };
    for (const Case& c : cases) {
        DeviceList list;
        EndpointInfo endpoint = goodEndpoint(L"id");
        c.spoil(endpoint);
        EXPECT_EQ(appendEndpointRecords(endpoint, false, L"id", list), c.outcome) << c.fault;
        EXPECT_TRUE(list.empty()) << c.fault;
    }
}

TEST(DeviceListing, DirectSoundListsCaptureFirstWithTwoChannelNamesEach) {
    DeviceList list;
    appendDirectSoundRecords({{L"", L"Primary Capture"}}, {{L"", L"Primary"}, {L"{GUID-2}", L"Card"}}, list);
    ASSERT_EQ(list.size(), 3u);
    const bool inputs[] = {true, false, false};
    const wchar_t* names[] = {L"Primary Capture", L"Primary", L"Card"};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(list[i]->isInput, inputs[i]);
        EXPECT_EQ(list[i]->name, names[i]);
        EXPECT_EQ(list[i]->type, kDeviceTypeDirectSound);
        EXPECT_EQ(list[i]->bufferSize, 1024u);
        EXPECT_EQ(list[i]->sampleRate, 44100.0);
        EXPECT_EQ(list[i]->channelNames, inputs[i] ? (std::vector<std::wstring>{L" In 1", L" In 2"})
                                                   : (std::vector<std::wstring>{L" Out 1", L" Out 2"}));
    }
    EXPECT_EQ(list[2]->endpointId, L"{GUID-2}");
    EXPECT_TRUE(list[1]->endpointId.empty());
}

TEST(DeviceListing, WaveListsReadableInputsAndOnlyOutputsWithCdFormat) {
    std::vector<WaveDeviceInfo> inputs(3), outputs(3);
    inputs[0] = {0, true, L"Line", 2, true};
    inputs[1] = {1, false, L"", 0, false};   // capabilities unreadable
    inputs[2] = {2, true, L"Mono Mic", 1, false};
    outputs[0] = {0, true, L"Speakers", 2, true};
    outputs[1] = {1, true, L"Odd", 2, false};  // no 44.1 kHz 16-bit stereo
    outputs[2] = {2, false, L"", 0, true};
    DeviceList list;
    appendWaveRecords(inputs, outputs, list);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0]->name, L"Line");
    EXPECT_EQ(list[0]->sampleRate, 44100.0);
    EXPECT_EQ(list[1]->name, L"Mono Mic");
    EXPECT_EQ(list[1]->deviceIndex, 2);
    EXPECT_EQ(list[1]->channels, 1);
    EXPECT_EQ(list[1]->sampleRate, 0.0);
    EXPECT_EQ(list[1]->channelNames, std::vector<std::wstring>{L" In 1"});
    EXPECT_EQ(list[2]->name, L"Speakers");
    EXPECT_FALSE(list[2]->isInput);
    EXPECT_EQ(list[2]->channelNames, (std::vector<std::wstring>{L" Out 1", L" Out 2"}));
    for (const auto& r : list) EXPECT_EQ(r->type, kDeviceTypeMME);
}

// ---- DirectSound ring -------------------------------------------------------------------------

TEST(DirectSoundRing, BlockRingAndWaitFollowTheBufferSizeInBytes) {
    struct Case { uint32_t bufferSize, block, ring, waitMs, frames; };
    const Case cases[] = {
        {1024, 1024, 16384, 10, 256},
        {1027, 1024, 16384, 10, 256},
        {4096, 4096, 65536, 46, 1024},
        {100, 100, 1600, 0, 25},
    };
    for (const Case& c : cases) {
        const dsound::Ring ring = dsound::ringFor(c.bufferSize);
        EXPECT_EQ(ring.blockBytes, c.block) << c.bufferSize;
        EXPECT_EQ(ring.ringBytes, c.ring) << c.bufferSize;
        EXPECT_EQ(ring.waitMs, c.waitMs) << c.bufferSize;
        EXPECT_EQ(ring.frames(), c.frames) << c.bufferSize;
    }
    const dsound::Ring ring = dsound::ringFor(1024);
    EXPECT_EQ(ring.notificationOffset(0), 1020u);
    EXPECT_EQ(ring.notificationOffset(15), 16380u);
    EXPECT_FALSE(dsound::blockReady(ring, 1023, 0));
    EXPECT_TRUE(dsound::blockReady(ring, 1024, 0));
    EXPECT_FALSE(dsound::blockReady(ring, 15400, 15360));
    EXPECT_TRUE(dsound::blockReady(ring, 0, 15360));     // wrapped past the ring's end
    EXPECT_TRUE(dsound::blockReady(ring, 2000, 15360));
    EXPECT_EQ(dsound::advance(ring, 15360), 0u);
    EXPECT_EQ(dsound::advance(ring, 1027), 2048u);       // rounded down to whole frames first
}

// ---- MME writer -------------------------------------------------------------------------------

TEST(WaveWriter, SamplesAreLimitedAtFullScaleAndWrittenLowByteFirst) {
    struct Case { float in; int16_t out; };
    const Case cases[] = {{1.0f, 32767},  {-1.0f, -32768}, {2.0f, 32767},  {-3.0f, -32768}, {0.5f, 16383},
                          {-0.5f, -16384}, {0.0f, 0},      {1e30f, 32767}, {std::numeric_limits<float>::quiet_NaN(), 0}};
    for (const Case& c : cases) EXPECT_EQ(mme::sampleFromFloat(c.in), c.out) << c.in;
    const float left[2] = {1.0f, 0.0f}, right[2] = {-1.0f, 0.5f};
    uint8_t bytes[8];
    mme::writeStereoInt16(left, right, bytes, 2);
    const uint8_t expected[8] = {0xFF, 0x7F, 0x00, 0x80, 0x00, 0x00, 0xFF, 0x3F};
    EXPECT_TRUE(std::equal(bytes, bytes + 8, expected));
    EXPECT_EQ(mme::headerBytes(16, 2, 1024), 4096u);
    EXPECT_EQ(mme::nextHeader(20), 0);
    EXPECT_EQ(mme::nextHeader(9), 10);
}

// ---- Output and interleaved input from the chosen channels ------------------------------------

TEST(OutputChannels, AChoiceOutsideTheStreamFallsBackAsTheInputSideDoes) {
    struct Case { uint32_t channels; int32_t left, right, wantLeft, wantRight; };
    const Case cases[] = {
        {2, 0, 1, 0, 1}, {2, 1, 0, 1, 0}, {8, 6, 7, 6, 7},
        {2, 3, 2, 0, 1},   // a choice made for a four-channel device
        {2, -1, 1, 0, 1},
        {1, 0, 1, 0, 0},   // mono: the left plane
        {4, 2, 9, 2, 1},
    };
    for (const Case& c : cases) {
        const OutputChannels out = chooseOutputChannels(c.channels, c.left, c.right);
        EXPECT_EQ(out.left, c.wantLeft) << c.channels << " " << c.left << " " << c.right;
        EXPECT_EQ(out.right, c.wantRight) << c.channels << " " << c.left << " " << c.right;
    }
}

TEST(InterleavedInput, TheRecordsChosenChannelsFeedThePlanes) {
    struct Case { uint32_t channels; int32_t left, right; uint32_t wantLeft, wantRight; };
    const Case cases[] = {
        {2, 0, 1, 0, 1}, {4, 2, 3, 2, 3}, {4, 0, 3, 0, 3}, {4, 3, 0, 3, 0},
        {1, 0, 1, 0, 0},  // mono feeds both planes
        {4, -1, 7, 0, 1}, // outside the device: the first pair
        {2, 5, 0, 0, 0},
    };
    for (const Case& c : cases) {
        const interleaved::InputChannels chosen = interleaved::chooseInputChannels(c.channels, c.left, c.right);
        EXPECT_EQ(chosen.left, c.wantLeft) << c.channels << " " << c.left << " " << c.right;
        EXPECT_EQ(chosen.right, c.wantRight) << c.channels << " " << c.left << " " << c.right;
    }
    // Four channels, two frames; sample value = 1000 * frame + channel.
    const int16_t quad16[8] = {0, 1, 2, 3, 1000, 1001, 1002, 1003};
    const int32_t quad32[8] = {0, 1 << 16, 2 << 16, 3 << 16, 1000 << 16, 1001 << 16, 1002 << 16, 1003 << 16};
    const float quadF[8] = {0.0f, 0.1f, 0.2f, 0.3f, 1.0f, 1.1f, 1.2f, 1.3f};
    const interleaved::InputChannels first{0, 1}, chosen{0, 2};
    float l[2], r[2];
    interleaved::int16ToChosenPlanes(quad16, 4, chosen, l, r, 2);
    EXPECT_EQ(l[1], 1000.0f / 32768.0f);
    EXPECT_EQ(r[1], 1002.0f / 32768.0f);
    interleaved::int16ToChosenPlanes(quad16, 4, first, l, r, 2);
    EXPECT_EQ(r[0], 1.0f / 32768.0f);  // the old reading gave channel 3
    interleaved::int32ToChosenPlanes(quad32, 4, chosen, l, r, 2);
    EXPECT_EQ(r[0], 2.0f / 32768.0f);
    interleaved::float32ToChosenPlanes(quadF, 4, interleaved::InputChannels{3, 1}, l, r, 2);
    EXPECT_EQ(l[0], 0.3f);
    EXPECT_EQ(r[1], 1.1f);
}

TEST(InterleavedOutput, FloatDevicesGetLimitedSamplesOnTheChosenChannels) {
    const float left[3] = {0.5f, 1.5f, std::numeric_limits<float>::quiet_NaN()};
    const float right[3] = {-0.25f, -2.0f, 0.0f};
    float out[12];
    interleaved::planesToFloat32(left, right, out, 4, 2, 0, 3);
    EXPECT_EQ(out[2], 0.5f);
    EXPECT_EQ(out[0], -0.25f);
    EXPECT_EQ(out[1], 0.0f);
    EXPECT_EQ(out[3], 0.0f);
    EXPECT_EQ(out[6], kLimiterBound);
    EXPECT_EQ(out[4], -kLimiterBound);
    EXPECT_EQ(out[10], 0.0f);
}

namespace {

struct NullBackend : VLAudioBase {
    bool openAndStart(AudioDeviceRecord*, AudioDeviceRecord*, RenderBlockProc, void*) override { return false; }
    void stop() override {}
    bool matchFormats(AudioDeviceRecord*, AudioDeviceRecord*) override { return true; }
    bool queryDetails(AudioDeviceRecord*, bool) override { return true; }
};

struct CountingBuilder {
    NullBackend backend;
    AudioBackendSet* set = nullptr;
    int builds = 0;
    static VLAudioBase* build(uint32_t type, void* user) {
        auto* self = static_cast<CountingBuilder*>(user);
        ++self->builds;
        self->set->set(type, &self->backend);
        return &self->backend;
    }
};

}  // namespace

// A family is built once, on its first request; a set family and an invalid code never reach
// the builder.
TEST(AudioBackendSetBuilder, BuildsEachFamilyOnceOnDemand) {
    AudioBackendSet set;
    CountingBuilder builder;
    builder.set = &set;
    EXPECT_EQ(set.backendFor(kDeviceTypeASIO), nullptr);  // no builder yet
    set.setBuilder(&CountingBuilder::build, &builder);
    NullBackend preset;
    set.set(kDeviceTypeMME, &preset);
    struct Case {
        uint32_t type;
        VLAudioBase* expected;
        int buildsAfter;
    } cases[] = {
        {kDeviceTypeMME, &preset, 0},       {7, nullptr, 0},
        {kDeviceTypeASIO, &builder.backend, 1}, {kDeviceTypeASIO, &builder.backend, 1},
        {kDeviceTypeDirectSound, &builder.backend, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        EXPECT_EQ(set.backendFor(c.type), c.expected);
        EXPECT_EQ(builder.builds, c.buildsAfter);
    }
}
