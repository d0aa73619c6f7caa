// The MIDI engine on the multimedia MIDI functions: first against Wine's own (which has no
// MIDI devices here), then against a stand-in platform that records every call.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cwchar>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "midi/VLMMMidi.h"

namespace vl {
namespace {

struct Received {
    MidiMessage message;
    const MidiMessage* record;
};

void collect(const MidiMessage* message, void* handlerValue) {
    static_cast<std::vector<Received>*>(handlerValue)->push_back({*message, message});
}

// --- Wine's own multimedia MIDI functions -------------------------------------------------

TEST(VLMMMidiPlatform, EnumerationListsWhatThePlatformReports) {
    VLMMMidi engine;
    const UINT inputs = midiInGetNumDevs();
    const UINT outputs = midiOutGetNumDevs();
    MIDIOUTCAPSW mapper{};
    const bool hasMapper = midiOutGetDevCapsW(MIDI_MAPPER, &mapper, sizeof mapper) == MMSYSERR_NOERROR;
    ASSERT_EQ(engine.devices.size(), inputs + outputs + (hasMapper ? 1u : 0u));
    for (size_t i = 0; i < engine.devices.size(); ++i) {
        const MidiDeviceRecord& device = *engine.devices[i];
        EXPECT_EQ(device.isInput, i < inputs);
        EXPECT_EQ(bool(device.active), device.isInput);
        EXPECT_EQ(device.typeCode, 1);
        EXPECT_TRUE(device.identifier.empty());
    }
    if (hasMapper) {
        const MidiDeviceRecord& last = *engine.devices.back();
        EXPECT_EQ(last.deviceId, kMidiMapperId);
        EXPECT_EQ(last.name, std::wstring(mapper.szPname, wcsnlen(mapper.szPname, MAXPNAMELEN)));
    }
}

TEST(VLMMMidiPlatform, OpeningNothingFailsButClearsClosed) {
    VLMMMidi engine;
    engine.closed = true;
    EXPECT_FALSE(engine.openDevices(nullptr, nullptr, nullptr, nullptr));
    EXPECT_FALSE(engine.closed);
    engine.closeDevices();
    EXPECT_TRUE(engine.closed);
    // A send without an open output goes nowhere.
    engine.openDevices(nullptr, nullptr, nullptr, nullptr);
    engine.sendShortMessage(0x403C90);
}

// --- A stand-in platform ----------------------------------------------------------------

using InputCallback = void(CALLBACK*)(HMIDIIN, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR);

struct FakePlatform {
    std::vector<std::wstring> inputs, outputs;
    std::wstring mapperName;  // empty: no mapper
    std::set<UINT> failingCaps;
    bool failInOpen = false, failInStart = false, failOutOpen = false;
    std::vector<std::wstring> calls;
    InputCallback callback = nullptr;
    DWORD_PTR callbackInstance = 0;
    int nextHandle = 0x100;
    // Touched by the sending thread too.
    std::atomic<HMIDIOUT> openOutput{nullptr};
    std::atomic<int> sends{0};
    std::atomic<int> sendsToAClosedOutput{0};
    std::atomic<DWORD> lastSent{0};
} fake;

void fillName(WCHAR (&field)[MAXPNAMELEN], const std::wstring& name) {
    // Like a careless driver: a name of 32 characters fills the field without a zero.
    for (size_t i = 0; i < MAXPNAMELEN; ++i) field[i] = i < name.size() ? name[i] : L'\0';
}

UINT WINAPI fakeInGetNumDevs() { return UINT(fake.inputs.size()); }
MMRESULT WINAPI fakeInGetDevCaps(UINT_PTR id, LPMIDIINCAPSW caps, UINT) {
    if (id >= fake.inputs.size() || fake.failingCaps.count(UINT(id))) return MMSYSERR_BADDEVICEID;
    fillName(caps->szPname, fake.inputs[id]);
    return MMSYSERR_NOERROR;
}
MMRESULT WINAPI fakeInOpen(LPHMIDIIN handle, UINT id, DWORD_PTR callback, DWORD_PTR instance, DWORD flags) {
    fake.calls.push_back(L"inOpen " + std::to_wstring(id) + (flags == CALLBACK_FUNCTION ? L" function" : L" ?"));
    if (fake.failInOpen) return MMSYSERR_ALLOCATED;
    *handle = reinterpret_cast<HMIDIIN>(static_cast<intptr_t>(fake.nextHandle++));
    fake.callback = reinterpret_cast<InputCallback>(callback);
    fake.callbackInstance = instance;
    return MMSYSERR_NOERROR;
}
MMRESULT WINAPI fakeInStart(HMIDIIN) {
    fake.calls.push_back(L"inStart");
    return fake.failInStart ? MMSYSERR_ERROR : MMSYSERR_NOERROR;
}
MMRESULT WINAPI fakeInStop(HMIDIIN) {
    fake.calls.push_back(L"inStop");
    return MMSYSERR_NOERROR;
}
MMRESULT WINAPI fakeInReset(HMIDIIN) {
    fake.calls.push_back(L"inReset");
    return MMSYSERR_NOERROR;
}
MMRESULT WINAPI fakeInClose(HMIDIIN handle) {
    fake.calls.push_back(L"inClose");
    fake.callback(handle, MIM_CLOSE, fake.callbackInstance, 0, 0);  // as the platform does
    return MMSYSERR_NOERROR;
}
UINT WINAPI fakeOutGetNumDevs() { return UINT(fake.outputs.size()); }
MMRESULT WINAPI fakeOutGetDevCaps(UINT_PTR id, LPMIDIOUTCAPSW caps, UINT) {
    if (UINT(id) == MIDI_MAPPER) {
        if (fake.mapperName.empty()) return MMSYSERR_BADDEVICEID;
        fillName(caps->szPname, fake.mapperName);
        return MMSYSERR_NOERROR;
    }
    if (id >= fake.outputs.size() || fake.failingCaps.count(UINT(id) + 1000)) return MMSYSERR_BADDEVICEID;
    fillName(caps->szPname, fake.outputs[id]);
    return MMSYSERR_NOERROR;
}
MMRESULT WINAPI fakeOutOpen(LPHMIDIOUT handle, UINT id, DWORD_PTR callback, DWORD_PTR, DWORD flags) {
    fake.calls.push_back(L"outOpen " + std::to_wstring(id) + (callback == 0 && flags == CALLBACK_NULL ? L"" : L" ?"));
    if (fake.failOutOpen) return MMSYSERR_ALLOCATED;
    *handle = reinterpret_cast<HMIDIOUT>(static_cast<intptr_t>(fake.nextHandle++));
    fake.openOutput = *handle;
    return MMSYSERR_NOERROR;
}
MMRESULT WINAPI fakeOutShortMsg(HMIDIOUT handle, DWORD message) {
    if (fake.openOutput.load() != handle) ++fake.sendsToAClosedOutput;
    fake.lastSent = message;
    ++fake.sends;
    return MMSYSERR_NOERROR;
}
MMRESULT WINAPI fakeOutClose(HMIDIOUT) {
    fake.calls.push_back(L"outClose");
    fake.openOutput = nullptr;
    return MMSYSERR_NOERROR;
}

const WinMidiApi kFakeApi{fakeInGetNumDevs, fakeInGetDevCaps, fakeInOpen,        fakeInStart,
                          fakeInStop,       fakeInReset,      fakeInClose,       fakeOutGetNumDevs,
                          fakeOutGetDevCaps, fakeOutOpen,     fakeOutShortMsg,   fakeOutClose};

class VLMMMidiTest : public ::testing::Test {
protected:
    void SetUp() override {
        fake.inputs = {L"Keys", L"Broken", L"A name of exactly thirty-two ch!"};
        fake.outputs = {L"Synth", L"Sampler"};
        fake.mapperName = L"Mapper";
        fake.failingCaps = {1};
        fake.failInOpen = fake.failInStart = fake.failOutOpen = false;
        fake.calls.clear();
        fake.callback = nullptr;
        fake.openOutput = nullptr;
        fake.sends = 0;
        fake.sendsToAClosedOutput = 0;
    }
    void deliver(UINT kind, DWORD_PTR word) { fake.callback(nullptr, kind, fake.callbackInstance, word, 12345); }

    std::vector<Received> received;
};

TEST_F(VLMMMidiTest, EnumerationListsInputsOnThenOutputsOffThenTheMapper) {
    VLMMMidi engine(kFakeApi);
    ASSERT_EQ(engine.devices.size(), 5u);
    const auto expect = [&](size_t i, int32_t id, const std::wstring& name, bool isInput) {
        const MidiDeviceRecord& device = *engine.devices[i];
        EXPECT_EQ(device.deviceId, id) << i;
        EXPECT_EQ(device.name, name) << i;
        EXPECT_EQ(device.isInput, isInput) << i;
        EXPECT_EQ(bool(device.active), isInput) << i;
    };
    expect(0, 0, L"Keys", true);
    expect(1, 2, L"A name of exactly thirty-two ch!", true);  // device 1 could not be asked
    expect(2, 0, L"Synth", false);
    expect(3, 1, L"Sampler", false);
    expect(4, kMidiMapperId, L"Mapper", false);

    fake.mapperName.clear();
    fake.failingCaps = {1000};
    VLMMMidi withoutMapper(kFakeApi);
    ASSERT_EQ(withoutMapper.devices.size(), 4u);
    EXPECT_EQ(withoutMapper.devices.back()->name, L"Sampler");
}

TEST_F(VLMMMidiTest, TheInputCallbackDecodesStampsAndReportsTheClose) {
    VLMMMidi engine(kFakeApi);
    const int32_t input = 2;
    ASSERT_TRUE(engine.openDevices(&input, nullptr, &collect, &received));
    EXPECT_FALSE(engine.closed);
    ASSERT_EQ(engine.inputHandles.size(), 1u);
    EXPECT_EQ(fake.calls, (std::vector<std::wstring>{L"inOpen 2 function", L"inStart"}));

    deliver(MIM_DATA, 0x00FFC593);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    deliver(MIM_DATA, 0xF8);
    for (UINT ignored : {UINT(MIM_OPEN), UINT(MIM_LONGDATA), UINT(MIM_ERROR), UINT(MIM_LONGERROR), UINT(MIM_MOREDATA)})
        deliver(ignored, 0x403C90);
    ASSERT_EQ(received.size(), 2u);
    // The decoding itself is the portable decoder's; here: that the callback reaches it.
    EXPECT_EQ(received[0].message.status, 0x90);
    EXPECT_EQ(received[0].message.data1, 0x45);
    EXPECT_EQ(received[0].message.deltaMs, 0.0);
    EXPECT_EQ(received[1].message.status, 0xF8);
    EXPECT_GE(received[1].message.deltaMs, 25.0);  // the performance counter, not the platform's time stamp
    EXPECT_LT(received[1].message.deltaMs, 5000.0);
    EXPECT_EQ(received[0].record, &engine.messageRecord);

    fake.calls.clear();
    engine.closeDevices();
    EXPECT_TRUE(engine.closed);
    EXPECT_EQ(fake.calls, (std::vector<std::wstring>{L"inStop", L"inReset", L"inClose"}));
    ASSERT_EQ(received.size(), 3u);
    EXPECT_EQ(received[2].message.status, 0);
    EXPECT_EQ(received[2].message.command, 0);
    EXPECT_EQ(received[2].message.channel, 8);  // the rest keeps the last message
    EXPECT_TRUE(engine.inputHandles.empty());
}

TEST_F(VLMMMidiTest, AnInputThatCannotBeStartedIsClosedAgain) {
    VLMMMidi engine(kFakeApi);
    const int32_t input = 0;
    fake.failInStart = true;
    EXPECT_FALSE(engine.openDevices(&input, nullptr, &collect, &received));
    EXPECT_EQ(fake.calls, (std::vector<std::wstring>{L"inOpen 0 function", L"inStart", L"inClose"}));
    EXPECT_TRUE(engine.inputHandles.empty());
    ASSERT_EQ(received.size(), 1u);  // the handler saw the close
    EXPECT_EQ(received[0].message.command, 0);

    fake.calls.clear();
    fake.failInStart = false;
    fake.failInOpen = true;
    EXPECT_FALSE(engine.openDevices(&input, nullptr, &collect, &received));
    EXPECT_EQ(fake.calls, (std::vector<std::wstring>{L"inOpen 0 function"}));
    EXPECT_TRUE(engine.inputHandles.empty());
}

TEST_F(VLMMMidiTest, SendsReachTheOutputUntilItIsClosed) {
    VLMMMidi engine(kFakeApi);
    const int32_t mapper = kMidiMapperId;
    ASSERT_TRUE(engine.openDevices(nullptr, &mapper, nullptr, nullptr));
    EXPECT_EQ(fake.calls, (std::vector<std::wstring>{L"outOpen " + std::to_wstring(MIDI_MAPPER)}));
    // One output at a time: a second one would be lost without a close.
    const int32_t synth = 0;
    EXPECT_FALSE(engine.openDevices(nullptr, &synth, nullptr, nullptr));

    engine.sendShortMessage(0x00403C90);
    EXPECT_EQ(fake.sends, 1);
    EXPECT_EQ(fake.lastSent, 0x00403C90u);

    engine.closeDevices();
    EXPECT_EQ(fake.calls.back(), L"outClose");
    EXPECT_EQ(engine.outputHandle.load(), nullptr);
    engine.sendShortMessage(0x00003C80);
    EXPECT_EQ(fake.sends, 1);  // dropped without a platform call

    fake.failOutOpen = true;
    EXPECT_FALSE(engine.openDevices(nullptr, &synth, nullptr, nullptr));
    engine.sendShortMessage(0x00003C80);
    EXPECT_EQ(fake.sends, 1);
}

TEST_F(VLMMMidiTest, SendsNeverMeetAnOutputBeingClosed) {
    VLMMMidi engine(kFakeApi);
    std::atomic<bool> stop{false};
    std::thread audio([&] {
        while (!stop) engine.sendShortMessage(0x00F8);
    });
    const int32_t synth = 0;
    const int rounds = 100;
    for (int round = 0; round < rounds; ++round) {
        ASSERT_TRUE(engine.openDevices(nullptr, &synth, nullptr, nullptr));
        // Close only once the sender got through, so that every close meets a busy sender.
        const int before = fake.sends;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (fake.sends == before && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
        engine.closeDevices();
        ASSERT_EQ(fake.openOutput.load(), nullptr);
    }
    stop = true;
    audio.join();
    EXPECT_GE(fake.sends.load(), rounds);
    EXPECT_EQ(fake.sendsToAClosedOutput.load(), 0);
}

}  // namespace
}  // namespace vl
