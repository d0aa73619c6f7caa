// The device lists as the back ends build them from what Wine reports (the file-sink prefix
// has one playback and one capture device), and the details queries.

#include "WinAudioRig.h"

#include <mmsystem.h>

#include "audio/dsound/VLDirectSound.h"
#include "audio/mme/VLMMAudio.h"
#include "audio/wasapi/VLWASAPI.h"

using namespace wintest;

namespace {

using Names = std::vector<std::wstring>;

struct Expected {
    uint32_t type;
    bool isInput;
    std::wstring name;
    enum IdKind { NoId, EndpointId, Guid } id;
    bool isDefault;
    uint16_t channels;
    double rate;
    uint16_t bits;
    uint32_t bufferSize;
    Names channelNames;
};

void expectList(const vl::VLAudioBase& backend, const std::vector<Expected>& expected) {
    ASSERT_EQ(backend.devices.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "record " << i);
        const vl::AudioDeviceRecord& r = *backend.devices[i];
        const Expected& e = expected[i];
        EXPECT_EQ(r.type, e.type);
        EXPECT_EQ(r.isInput, e.isInput);
        EXPECT_EQ(r.name, e.name);
        EXPECT_EQ(r.isDefault, e.isDefault);
        EXPECT_EQ(r.channels, e.channels);
        EXPECT_EQ(r.sampleRate, e.rate);
        EXPECT_EQ(r.bitsPerSample, e.bits);
        EXPECT_EQ(r.bufferSize, e.bufferSize);
        EXPECT_EQ(r.channelNames, e.channelNames);
        EXPECT_FALSE(r.detailsKnown);
        EXPECT_EQ(r.leftChannel, 0);
        EXPECT_EQ(r.rightChannel, 1);
        switch (e.id) {
            case Expected::NoId: EXPECT_TRUE(r.endpointId.empty()); break;
            case Expected::EndpointId: EXPECT_FALSE(r.endpointId.empty()); break;
            case Expected::Guid: {
                GUID guid{};
                EXPECT_EQ(CLSIDFromString(r.endpointId.c_str(), &guid), S_OK) << std::string(r.endpointId.begin(), r.endpointId.end());
                break;
            }
        }
    }
}

}  // namespace

TEST(WinAudioEnumeration, WasapiListsEachEndpointForExclusiveThenSharedModeRenderFirst) {
    vl::VLWASAPI wasapi;
    const Names out = {L"Out: default Out 1", L"Out: default Out 2"};
    const Names in = {L"In: default In 1", L"In: default In 2"};
    expectList(wasapi, {
        {8, false, L"Out: default", Expected::EndpointId, true, 2, 48000.0, 32, 256, out},
        {4, false, L"Out: default", Expected::EndpointId, true, 2, 48000.0, 32, 1024, out},
        {8, true, L"In: default", Expected::EndpointId, true, 2, 48000.0, 32, 256, in},
        {4, true, L"In: default", Expected::EndpointId, true, 2, 48000.0, 32, 1024, in},
    });
    if (wasapi.devices.size() == 4) {
        EXPECT_EQ(wasapi.devices[0]->endpointId, wasapi.devices[1]->endpointId);
        EXPECT_NE(wasapi.devices[0]->endpointId, wasapi.devices[2]->endpointId);
    }
}

TEST(WinAudioEnumeration, DirectSoundListsCaptureThenPlaybackThePrimaryDeviceWithoutGuid) {
    vl::VLDirectSound ds;
    const Names out = {L" Out 1", L" Out 2"};
    const Names in = {L" In 1", L" In 2"};
    expectList(ds, {
        {32, true, L"Primary Sound Driver", Expected::NoId, false, 2, 44100.0, 16, 1024, in},
        {32, true, L"In: default", Expected::Guid, false, 2, 44100.0, 16, 1024, in},
        {32, false, L"Primary Sound Driver", Expected::NoId, false, 2, 44100.0, 16, 1024, out},
        {32, false, L"Out: default", Expected::Guid, false, 2, 44100.0, 16, 1024, out},
    });
}

TEST(WinAudioEnumeration, MmeListsInputsThenOutputsByDeviceNumber) {
    vl::VLMMAudio mme;
    expectList(mme, {
        {1, true, L"In: default", Expected::NoId, false, 2, 44100.0, 16, 1024, {L" In 1", L" In 2"}},
        {1, false, L"Out: default", Expected::NoId, false, 2, 44100.0, 16, 1024, {L" Out 1", L" Out 2"}},
    });
    for (const auto& r : mme.devices) EXPECT_EQ(r->deviceIndex, 0);
}

// The back ends whose records are complete after enumeration only mark them; a shared-mode
// WASAPI query opens the stream to learn its buffer size, an exclusive one opens nothing.
TEST(WinAudioDetails, QueriesCompleteTheRecordsAsEachFamilyCan) {
    vl::WindowsAudioBackends set;
    for (vl::VLAudioBase* backend : {static_cast<vl::VLAudioBase*>(set.directSound()), set.mme()}) {
        for (auto& r : backend->devices) {
            EXPECT_TRUE(backend->queryDetails(r.get(), true));
            EXPECT_TRUE(r->detailsKnown);
            EXPECT_EQ(r->bufferSize, 1024u);
        }
        EXPECT_FALSE(backend->queryDetails(nullptr, true));
        EXPECT_TRUE(backend->matchFormats(nullptr, nullptr));
    }
    vl::VLAudioBase& wasapi = set.wasapi();
    EXPECT_FALSE(wasapi.queryDetails(nullptr, true));
    vl::AudioDeviceRecord* exclusive = findRecord(&wasapi, vl::kDeviceTypeWasapiExclusive, false);
    ASSERT_NE(exclusive, nullptr);
    EXPECT_TRUE(wasapi.queryDetails(exclusive, false));
    EXPECT_EQ(exclusive->bufferSize, 256u);  // as chosen
    exclusive->bufferSize = 0;
    EXPECT_FALSE(wasapi.queryDetails(exclusive, false));

    for (bool isInput : {false, true}) {
        for (bool probe : {true, false}) {
            SCOPED_TRACE(testing::Message() << (isInput ? "capture" : "render") << (probe ? " probe" : " kept"));
            vl::AudioDeviceRecord* shared = findRecord(&wasapi, vl::kDeviceTypeWasapiShared, isInput);
            ASSERT_NE(shared, nullptr);
            shared->detailsKnown = false;
            shared->bufferSize = 1024;
            EXPECT_TRUE(wasapi.queryDetails(shared, probe));
            EXPECT_TRUE(shared->detailsKnown);
            // Wine's shared streams hold 30 ms (render) or 100 ms (capture) at 48 kHz.
            std::printf("%s buffer %u frames\n", isInput ? "capture" : "render", shared->bufferSize);
            EXPECT_GE(shared->bufferSize, 480u);
            EXPECT_LE(shared->bufferSize, 9600u);
            shared->bufferSize = 7;
            EXPECT_TRUE(wasapi.queryDetails(shared, probe));  // known: returns at once
            EXPECT_EQ(shared->bufferSize, 7u);
        }
    }
}

// A record naming an endpoint that does not exist (a device unplugged since the list was made)
// fails to start at once, in every family.
TEST(WinAudioDetails, AVanishedDeviceFailsTheStartWithoutABlock) {
    vl::WindowsAudioBackends set;
    int blocks = 0;
    auto count = [](float**, float**, uint32_t, void* user) {
        ++*static_cast<int*>(user);
        return false;
    };
    vl::AudioDeviceRecord gone;
    gone.isInput = false;
    gone.type = vl::kDeviceTypeWasapiShared;
    gone.endpointId = L"{0.0.0.00000000}.{00000000-0000-0000-0000-000000000000}";
    gone.bufferSize = 1024;
    EXPECT_FALSE(set.wasapi().queryDetails(&gone, true));
    EXPECT_FALSE(set.wasapi().openAndStart(nullptr, &gone, count, &blocks));
    gone.type = vl::kDeviceTypeDirectSound;
    gone.endpointId = L"{00000000-0000-0000-0000-000000000001}";
    EXPECT_FALSE(set.directSound()->openAndStart(nullptr, &gone, count, &blocks));
    gone.endpointId = L"not a guid";
    EXPECT_FALSE(set.directSound()->openAndStart(nullptr, &gone, count, &blocks));
    gone.type = vl::kDeviceTypeMME;
    gone.deviceIndex = 7;
    gone.channels = 2;
    gone.sampleRate = 44100.0;
    gone.bitsPerSample = 16;
    EXPECT_FALSE(set.mme()->openAndStart(nullptr, &gone, count, &blocks));
    EXPECT_EQ(blocks, 0);
    // Neither record at all fails every family; MME with an input alone opens nothing.
    for (vl::VLAudioBase* backend : {&set.wasapi(), set.directSound(), set.mme()})
        EXPECT_FALSE(backend->openAndStart(nullptr, nullptr, count, &blocks));
    EXPECT_TRUE(set.mme()->openAndStart(set.mme()->devices[0].get(), nullptr, count, &blocks));
    EXPECT_EQ(blocks, 0);
}
