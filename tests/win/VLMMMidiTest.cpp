// The MIDI engine on the multimedia MIDI functions: first against Wine's own (which has no
// MIDI devices here), then against a stand-in platform that records every call.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cwchar>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "midi/VLMMMidi.h"

namespace vl {
namespace {

using Calls = std::vector<std::wstring>;
using InputCallback = void(CALLBACK*)(HMIDIIN, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR);

void collect(const MidiMessage* message, void* received) {
    static_cast<std::vector<MidiMessage>*>(received)->push_back(*message);
}

TEST(VLMMMidiPlatform, EnumerationListsWhatThePlatformReports) {
    VLMMMidi engine;
    const UINT inputs = midiInGetNumDevs(), outputs = midiOutGetNumDevs();
    MIDIOUTCAPSW mapper{};
    const bool hasMapper = midiOutGetDevCapsW(MIDI_MAPPER, &mapper, sizeof mapper) == MMSYSERR_NOERROR;
    ASSERT_EQ(engine.devices.size(), inputs + outputs + (hasMapper ? 1u : 0u));
    for (size_t i = 0; i < engine.devices.size(); ++i) {
        EXPECT_EQ(engine.devices[i]->isInput, i < inputs);
        EXPECT_EQ(bool(engine.devices[i]->active), i < inputs);
    }
    if (hasMapper) {
        EXPECT_EQ(engine.devices.back()->deviceId, kMidiMapperId);
        EXPECT_EQ(engine.devices.back()->name, std::wstring(mapper.szPname, wcsnlen(mapper.szPname, MAXPNAMELEN)));
    }
    engine.closed = true;
    EXPECT_FALSE(engine.openDevices(nullptr, nullptr, nullptr, nullptr));
    EXPECT_FALSE(engine.closed);  // cleared all the same
}

// --- A stand-in platform ----------------------------------------------------------------

struct FakePlatform {
    std::vector<std::wstring> inputs{L"Keys", L"Broken", L"A name of exactly thirty-two ch!"};
    std::vector<std::wstring> outputs{L"Synth", L"Sampler"};
    std::wstring mapper = L"Mapper";  // empty: the platform has none
    UINT brokenInput = 1;
    bool failInOpen = false, failInStart = false, failOutOpen = false;
    Calls calls;
    InputCallback callback = nullptr;
    DWORD_PTR callbackInstance = 0;
    intptr_t nextHandle = 0x100;
    std::atomic<HMIDIOUT> openOutput{nullptr};  // the sending thread looks at these
    std::atomic<int> sends{0}, sendsToAClosedOutput{0};
    std::atomic<DWORD> lastSent{0};
};
FakePlatform* fake = nullptr;

// Like a careless driver: a name of 32 characters fills the field without a zero.
MMRESULT caps(const std::vector<std::wstring>& names, UINT_PTR id, WCHAR (&field)[MAXPNAMELEN]) {
    const std::wstring* name = UINT(id) == MIDI_MAPPER ? &fake->mapper : id < names.size() ? &names[id] : nullptr;
    if (!name || name->empty() || (&names == &fake->inputs && id == fake->brokenInput)) return MMSYSERR_BADDEVICEID;
    for (size_t i = 0; i < MAXPNAMELEN; ++i) field[i] = i < name->size() ? (*name)[i] : L'\0';
    return MMSYSERR_NOERROR;
}
MMRESULT note(const wchar_t* call, MMRESULT result = MMSYSERR_NOERROR) {
    fake->calls.push_back(call);
    return result;
}
template <class Handle>
Handle newHandle() { return reinterpret_cast<Handle>(fake->nextHandle++); }

const WinMidiApi kFakeApi{
    []() -> UINT { return UINT(fake->inputs.size()); },
    [](UINT_PTR id, LPMIDIINCAPSW c, UINT) { return caps(fake->inputs, id, c->szPname); },
    [](LPHMIDIIN handle, UINT id, DWORD_PTR callback, DWORD_PTR instance, DWORD flags) {
        fake->calls.push_back(L"inOpen " + std::to_wstring(id) + (flags == CALLBACK_FUNCTION ? L" function" : L""));
        if (fake->failInOpen) return MMRESULT(MMSYSERR_ALLOCATED);
        *handle = newHandle<HMIDIIN>();
        fake->callback = reinterpret_cast<InputCallback>(callback);
        fake->callbackInstance = instance;
        return MMRESULT(MMSYSERR_NOERROR);
    },
    [](HMIDIIN) { return note(L"inStart", fake->failInStart ? MMSYSERR_ERROR : MMSYSERR_NOERROR); },
    [](HMIDIIN) { return note(L"inStop"); },
    [](HMIDIIN) { return note(L"inReset"); },
    [](HMIDIIN handle) {
        fake->callback(handle, MIM_CLOSE, fake->callbackInstance, 0, 0);  // as the platform does
        return note(L"inClose");
    },
    []() -> UINT { return UINT(fake->outputs.size()); },
    [](UINT_PTR id, LPMIDIOUTCAPSW c, UINT) { return caps(fake->outputs, id, c->szPname); },
    [](LPHMIDIOUT handle, UINT id, DWORD_PTR callback, DWORD_PTR, DWORD flags) {
        fake->calls.push_back(L"outOpen " + std::to_wstring(id) + (callback || flags != CALLBACK_NULL ? L" ?" : L""));
        if (fake->failOutOpen) return MMRESULT(MMSYSERR_ALLOCATED);
        fake->openOutput = *handle = newHandle<HMIDIOUT>();
        return MMRESULT(MMSYSERR_NOERROR);
    },
    [](HMIDIOUT handle, DWORD message) {
        if (fake->openOutput.load() != handle) ++fake->sendsToAClosedOutput;
        fake->lastSent = message;
        ++fake->sends;
        return MMRESULT(MMSYSERR_NOERROR);
    },
    [](HMIDIOUT) {
        fake->openOutput = nullptr;
        return note(L"outClose");
    },
};

class VLMMMidiTest : public ::testing::Test {
protected:
    void SetUp() override { fake = &platform; }
    void TearDown() override { fake = nullptr; }
    void deliver(UINT kind, DWORD_PTR word) { fake->callback(nullptr, kind, fake->callbackInstance, word, 12345); }

    FakePlatform platform;
    std::vector<MidiMessage> received;
};

TEST_F(VLMMMidiTest, EnumerationListsInputsOnThenOutputsOffThenTheMapper) {
    VLMMMidi engine(kFakeApi);
    std::vector<std::tuple<int32_t, std::wstring, bool, bool>> listed;
    for (const auto& d : engine.devices) listed.emplace_back(d->deviceId, d->name, d->isInput, d->active.get());
    EXPECT_EQ(listed, (decltype(listed){{0, L"Keys", true, true},  // device 1 could not be asked
                                        {2, L"A name of exactly thirty-two ch!", true, true},
                                        {0, L"Synth", false, false},
                                        {1, L"Sampler", false, false},
                                        {kMidiMapperId, L"Mapper", false, false}}));
    platform.mapper.clear();
    EXPECT_EQ(VLMMMidi(kFakeApi).devices.back()->name, L"Sampler");
}

TEST_F(VLMMMidiTest, TheInputCallbackDecodesStampsAndReportsTheClose) {
    VLMMMidi engine(kFakeApi);
    const int32_t input = 2;
    ASSERT_TRUE(engine.openDevices(&input, nullptr, &collect, &received));
    EXPECT_EQ(platform.calls, (Calls{L"inOpen 2 function", L"inStart"}));
    deliver(MIM_DATA, 0x00FFC593);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    deliver(MIM_DATA, 0xF8);
    for (UINT ignored : {MIM_OPEN, MIM_LONGDATA, MIM_ERROR, MIM_LONGERROR, MIM_MOREDATA}) deliver(ignored, 0x403C90);
    // The decoding itself is the portable decoder's; here: that the callback reaches it.
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(std::tuple(received[0].status, received[0].data1, received[0].deltaMs), std::tuple(0x90, 0x45, 0.0));
    EXPECT_EQ(received[1].status, 0xF8);
    EXPECT_GE(received[1].deltaMs, 25.0);  // the performance counter, not the platform's time stamp
    EXPECT_LT(received[1].deltaMs, 5000.0);

    platform.calls.clear();
    engine.closeDevices();
    EXPECT_EQ(platform.calls, (Calls{L"inStop", L"inReset", L"inClose"}));
    ASSERT_EQ(received.size(), 3u);
    EXPECT_EQ(std::tuple(received[2].status, received[2].command, received[2].channel), std::tuple(0, 0, 8));
    EXPECT_TRUE(engine.inputHandles.empty());
}

TEST_F(VLMMMidiTest, AnInputThatCannotBeStartedIsClosedAgain) {
    VLMMMidi engine(kFakeApi);
    const int32_t input = 0;
    platform.failInStart = true;
    EXPECT_FALSE(engine.openDevices(&input, nullptr, &collect, &received));
    EXPECT_EQ(platform.calls, (Calls{L"inOpen 0 function", L"inStart", L"inClose"}));
    EXPECT_EQ(received.size(), 1u);  // the handler saw the close
    platform.failInStart = false;
    platform.failInOpen = true;
    EXPECT_FALSE(engine.openDevices(&input, nullptr, &collect, &received));
    EXPECT_TRUE(engine.inputHandles.empty());
}

TEST_F(VLMMMidiTest, SendsReachTheOutputUntilItIsClosedAndThenNoPlatformCall) {
    VLMMMidi engine(kFakeApi);
    const int32_t mapper = kMidiMapperId, synth = 0;
    ASSERT_TRUE(engine.openDevices(nullptr, &mapper, nullptr, nullptr));
    EXPECT_EQ(platform.calls, (Calls{L"outOpen " + std::to_wstring(MIDI_MAPPER)}));
    EXPECT_FALSE(engine.openDevices(nullptr, &synth, nullptr, nullptr));  // one at a time; none is lost
    engine.sendShortMessage(0x00403C90);
    EXPECT_EQ(std::tuple(platform.sends.load(), platform.lastSent.load()), std::tuple(1, DWORD(0x00403C90)));

    engine.closeDevices();
    EXPECT_EQ(platform.calls.back(), L"outClose");
    engine.sendShortMessage(0x00003C80);
    platform.failOutOpen = true;
    EXPECT_FALSE(engine.openDevices(nullptr, &synth, nullptr, nullptr));
    engine.sendShortMessage(0x00003C80);
    EXPECT_EQ(platform.sends, 1);
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
        const int before = platform.sends;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (platform.sends == before && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
        engine.closeDevices();
    }
    stop = true;
    audio.join();
    EXPECT_GE(platform.sends.load(), rounds);
    EXPECT_EQ(platform.sendsToAClosedOutput.load(), 0);
}

}  // namespace
}  // namespace vl
