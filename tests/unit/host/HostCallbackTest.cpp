#include "host/HostCallback.h"

#include <gtest/gtest.h>

#include <cstring>
#include <chrono>
#include <thread>
#include <vector>
#include <atomic>

#include "host/PluginSlot.h"
#include "support/ProbeModule.h"

using vl::LoadResult;
using vl::PluginSlot;
using vltest::ProbeModule;

namespace {

struct MidiOutRecorder {
    std::vector<std::vector<uint8_t>> messages;
    static void hook(const vst::VstMidiEvent* event, void* user) {
        auto* self = static_cast<MidiOutRecorder*>(user);
        const auto* d = reinterpret_cast<const uint8_t*>(event->midiData);
        self->messages.push_back({d[0], d[1], d[2]});
    }
};

struct TempoRecorder {
    std::vector<double> tempos;
    static void hook(double tempo, void* user) { static_cast<TempoRecorder*>(user)->tempos.push_back(tempo); }
};

vst::VstMidiEvent midiEvent(uint8_t status, uint8_t d1, uint8_t d2) {
    vst::VstMidiEvent e{};
    e.type = vst::kVstMidiType;
    e.byteSize = sizeof e;
    e.midiData[0] = static_cast<char>(status);
    e.midiData[1] = static_cast<char>(d1);
    e.midiData[2] = static_cast<char>(d2);
    return e;
}

vst::VstMidiSysexEvent sysexEvent() {
    static char dump[] = {char(0xF0), 0x7E, 0x7F, 0x09, 0x01, char(0xF7)};
    vst::VstMidiSysexEvent e{};
    e.type = vst::kVstSysExType;
    e.byteSize = sizeof e;
    e.dumpBytes = sizeof dump;
    e.sysexDump = dump;
    return e;
}

// A VstEvents list with room for n events.
struct EventList {
    explicit EventList(std::vector<vst::VstEvent*> events)
        : storage(16 + 8 * (events.size() < 2 ? 2 : events.size())) {
        auto* list = reinterpret_cast<vst::VstEvents*>(storage.data());
        list->numEvents = static_cast<vst::int32>(events.size());
        for (size_t i = 0; i < events.size(); ++i) list->events[i] = events[i];
    }
    vst::VstEvents* get() { return reinterpret_cast<vst::VstEvents*>(storage.data()); }
    std::vector<uint8_t> storage;
};

class CallbackTest : public ::testing::Test {
protected:
    void SetUp() override {
        vl::setHostContext(&slot);
        ASSERT_TRUE(probe.ok());
        ASSERT_EQ(slot.load(probe.path()), LoadResult::Loaded);
    }
    ProbeModule probe;
    PluginSlot slot;
};

}  // namespace

TEST(HostCallbackWithoutContext, AnswersZeroToEverything) {
    vl::setHostContext(nullptr);
    char buffer[64] = {};
    for (vst::int32 opcode : {0, 1, 7, 8, 16, 17, 32, 33, 37, 50}) {
        EXPECT_EQ(vl::VLHostCallback(nullptr, opcode, 0, 0, buffer, 0.0f), 0) << opcode;
    }
    EXPECT_EQ(buffer[0], 0);
}

TEST(HostCallbackEntry, VersionAskedFromInsideTheEntryPointIsAnswered) {
    PluginSlot slot;
    vl::setHostContext(&slot);
    ProbeModule probe;
    probe.config().callVersionInEntry = 1;
    ASSERT_EQ(slot.load(probe.path()), LoadResult::Loaded);
    EXPECT_EQ(probe.log().versionAnswerInEntry, 2400);
}

TEST_F(CallbackTest, FixedAnswers) {
    EXPECT_EQ(probe.callHost(vst::audioMasterVersion), 2400);
    EXPECT_EQ(probe.callHost(vst::audioMasterAutomate, 3, 0, nullptr, 0.5f), 1);
    char buffer[64];
    std::memset(buffer, 'z', sizeof buffer);
    EXPECT_EQ(probe.callHost(vst::audioMasterGetVendorString, 0, 0, buffer), 1);
    EXPECT_STREQ(buffer, "Vorlane");
    std::memset(buffer, 'z', sizeof buffer);
    EXPECT_EQ(probe.callHost(vst::audioMasterGetProductString, 0, 0, buffer), 1);
    EXPECT_STREQ(buffer, "Vorlane Host");
    EXPECT_EQ(probe.callHost(vst::audioMasterGetVendorString, 0, 0, nullptr), 0);
}

TEST_F(CallbackTest, GetTimeReturnsTheOneRecordAtFullWidthWhateverTheMask) {
    const vst::intptr expected = reinterpret_cast<vst::intptr>(&slot.timeInfo);
    for (vst::intptr mask : {vst::intptr(0), vst::intptr(0xFFFF), vst::intptr(vst::kVstNanosValid)}) {
        EXPECT_EQ(probe.callHost(vst::audioMasterGetTime, 0, mask), expected);
    }
    auto* time = reinterpret_cast<const vst::VstTimeInfo*>(probe.callHost(vst::audioMasterGetTime));
    EXPECT_EQ(time->samplePos, 0.0);
    EXPECT_EQ(time->flags, 0x600);
}

TEST_F(CallbackTest, CapabilityStringsMatchExactly) {
    char send[] = "sendVstMidiEvent";
    char receive[] = "receiveVstMidiEvent";
    char longer[] = "sendVstMidiEventX";
    char shorter[] = "sendVstMidiEven";
    char other[] = "sendVstTimeInfo";
    char empty[] = "";
    EXPECT_EQ(probe.callHost(vst::audioMasterCanDo, 0, 0, send), 1);
    EXPECT_EQ(probe.callHost(vst::audioMasterCanDo, 0, 0, receive), 1);
    EXPECT_EQ(probe.callHost(vst::audioMasterCanDo, 0, 0, longer), 0);
    EXPECT_EQ(probe.callHost(vst::audioMasterCanDo, 0, 0, shorter), 0);
    EXPECT_EQ(probe.callHost(vst::audioMasterCanDo, 0, 0, other), 0);
    EXPECT_EQ(probe.callHost(vst::audioMasterCanDo, 0, 0, empty), 0);
    EXPECT_EQ(probe.callHost(vst::audioMasterCanDo, 0, 0, nullptr), 0);
}

TEST_F(CallbackTest, MidiOutputReachesTheHookAndSysExIsDropped) {
    vst::VstMidiEvent note = midiEvent(0x90, 60, 100);
    vst::VstMidiEvent off = midiEvent(0x80, 60, 0);
    vst::VstMidiSysexEvent sysex = sysexEvent();
    EventList mixed({reinterpret_cast<vst::VstEvent*>(&note), reinterpret_cast<vst::VstEvent*>(&sysex),
                     reinterpret_cast<vst::VstEvent*>(&off)});
    EventList sysexOnly({reinterpret_cast<vst::VstEvent*>(&sysex)});

    // Before the hook is installed the events are lost.
    EXPECT_EQ(probe.callHost(vst::audioMasterProcessEvents, 0, 0, mixed.get()), 0);

    MidiOutRecorder recorder;
    slot.installMidiOutHook(&MidiOutRecorder::hook, &recorder);
    EXPECT_EQ(probe.callHost(vst::audioMasterProcessEvents, 0, 0, sysexOnly.get()), 0);
    EXPECT_TRUE(recorder.messages.empty());
    EXPECT_EQ(probe.callHost(vst::audioMasterProcessEvents, 0, 0, mixed.get()), 1);
    ASSERT_EQ(recorder.messages.size(), 2u);
    EXPECT_EQ(recorder.messages[0], (std::vector<uint8_t>{0x90, 60, 100}));
    EXPECT_EQ(recorder.messages[1], (std::vector<uint8_t>{0x80, 60, 0}));
    EXPECT_EQ(probe.callHost(vst::audioMasterProcessEvents, 0, 0, nullptr), 0);
}

TEST_F(CallbackTest, PrivateTempoOpcodeGoesThroughTheTempoHook) {
    EXPECT_EQ(probe.callHost(vst::audioMasterSetTempoPrivate, 0, 0, nullptr, 133.5f), 0);
    TempoRecorder recorder;
    slot.installTempoHook(&TempoRecorder::hook, &recorder);
    EXPECT_EQ(probe.callHost(vst::audioMasterSetTempoPrivate, 0, 0, nullptr, 133.5f), 1);
    ASSERT_EQ(recorder.tempos.size(), 1u);
    EXPECT_EQ(recorder.tempos[0], 133.5);
}

struct SizeRecorder {
    std::vector<std::pair<int, int>> sizes;
    bool follow = true;
    static bool hook(int width, int height, void* user) {
        auto* self = static_cast<SizeRecorder*>(user);
        self->sizes.emplace_back(width, height);
        return self->follow;
    }
};

// An editor that grows itself: answered through the window's hook; sizes no window can take
// are refused. "sizeWindow" is claimed from the first call (plug-ins decide at effOpen whether
// they will ever ask), and a request before there is a window is kept for it.
TEST_F(CallbackTest, SizeWindowGoesThroughTheWindowsHook) {
    char sizeWindow[] = "sizeWindow";
    vl::takeEarlyEditorSize();
    EXPECT_EQ(probe.callHost(vst::audioMasterCanDo, 0, 0, sizeWindow), 1);
    EXPECT_EQ(probe.callHost(vst::audioMasterSizeWindow, 500, 400), 1);
    EXPECT_EQ(probe.callHost(vst::audioMasterSizeWindow, 640, 480), 1);
    EXPECT_EQ(probe.callHost(vst::audioMasterSizeWindow, 0, 480), 0);
    const auto early = vl::takeEarlyEditorSize();
    ASSERT_TRUE(early) << "kept for the window";
    EXPECT_EQ(early->width, 640);  // the newest
    EXPECT_EQ(early->height, 480);
    EXPECT_FALSE(vl::takeEarlyEditorSize()) << "taken once";
    SizeRecorder recorder;
    slot.installSizeWindowHook(&SizeRecorder::hook, &recorder);
    EXPECT_EQ(probe.callHost(vst::audioMasterCanDo, 0, 0, sizeWindow), 1);
    struct Case {
        vst::int32 width;
        vst::intptr height;
        vst::intptr answer;
    };
    for (const Case& c : {Case{640, 480, 1}, Case{0, 480, 0}, Case{640, -1, 0}, Case{40000, 300, 0},
                          Case{300, vst::intptr{1} << 33, 0}}) {
        EXPECT_EQ(probe.callHost(vst::audioMasterSizeWindow, c.width, c.height), c.answer) << c.width << "x" << c.height;
    }
    recorder.follow = false;
    EXPECT_EQ(probe.callHost(vst::audioMasterSizeWindow, 320, 200), 0);
    EXPECT_EQ(recorder.sizes, (std::vector<std::pair<int, int>>{{640, 480}, {320, 200}}));
    EXPECT_FALSE(vl::takeEarlyEditorSize()) << "requests with a window go to it";
    slot.installSizeWindowHook(nullptr, nullptr);
}

TEST_F(CallbackTest, SampleRateAndBlockSizeAreAnswered) {
    EXPECT_EQ(probe.callHost(vst::audioMasterGetSampleRate), 44100);
    EXPECT_EQ(probe.callHost(vst::audioMasterGetBlockSize), 0);
    slot.timeInfo.sampleRate = 48000.0;
    slot.setBlockSize(128);
    EXPECT_EQ(probe.callHost(vst::audioMasterGetSampleRate), 48000);
    EXPECT_EQ(probe.callHost(vst::audioMasterGetBlockSize), 128);
}

TEST_F(CallbackTest, OtherOpcodesAnswerZeroAndAreCounted) {
    vl::resetUnansweredOpcodeCounts();
    for (vst::int32 opcode : std::initializer_list<vst::int32>{vst::audioMasterIdle, vst::audioMasterIOChanged,
                              vst::audioMasterGetInputLatency, vst::audioMasterGetOutputLatency,
                              vst::audioMasterGetVendorVersion,
                              vst::audioMasterGetDirectory,
                              vst::audioMasterBeginEdit, vst::audioMasterEndEdit, 49, 51, 4000, -1}) {
        EXPECT_EQ(probe.callHost(opcode, 1, 1, nullptr, 1.0f), 0) << opcode;
    }
    EXPECT_EQ(vl::unansweredOpcodeCount(vst::audioMasterIdle), 1u);
    EXPECT_EQ(vl::unansweredOpcodeCount(127), 2u);  // 4000 and -1
    EXPECT_EQ(vl::unansweredOpcodeCount(vst::audioMasterVersion), 0u);

    // A display update is taken once, by whoever shows the programs next.
    EXPECT_FALSE(slot.takeDisplayChange());
    EXPECT_EQ(probe.callHost(vst::audioMasterUpdateDisplay), 1);
    EXPECT_TRUE(slot.takeDisplayChange());
    EXPECT_FALSE(slot.takeDisplayChange());
    EXPECT_EQ(vl::unansweredOpcodeCount(vst::audioMasterUpdateDisplay), 0u);
}

namespace {

TEST_F(CallbackTest, TheProcessLevelSaysWhetherTheCallerRunsTheProcessCycle) {
    EXPECT_EQ(probe.callHost(vst::audioMasterGetCurrentProcessLevel), 1);  // user thread
    {
        const vl::ProcessThreadScope cycle;
        EXPECT_EQ(probe.callHost(vst::audioMasterGetCurrentProcessLevel), 2);
        int32_t elsewhere = -1;
        std::thread other([&] { elsewhere = static_cast<int32_t>(probe.callHost(vst::audioMasterGetCurrentProcessLevel)); });
        other.join();
        EXPECT_EQ(elsewhere, 1);  // only the marked thread is the real-time one
    }
    EXPECT_EQ(probe.callHost(vst::audioMasterGetCurrentProcessLevel), 1);
}

TEST_F(CallbackTest, TimeFromAnotherThreadIsAlwaysAWholeRecordOfOneBlock) {
    // The cycle's thread gets the cycle's own record; before anything was published, so do
    // the others (nobody rewrites it then).
    EXPECT_EQ(probe.callHost(vst::audioMasterGetTime), reinterpret_cast<vst::intptr>(&slot.timeInfo));
    // A writer publishes records whose every field is the block number; a reader on this
    // thread must never see two blocks mixed.
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        const vl::ProcessThreadScope cycle;
        vst::VstTimeInfo t{};
        for (int k = 1; !stop.load(); ++k) {
            t.samplePos = t.sampleRate = t.nanoSeconds = t.ppqPos = t.tempo = t.barStartPos = t.cycleStartPos =
                t.cycleEndPos = k;
            t.timeSigNumerator = t.timeSigDenominator = t.smpteOffset = t.smpteFrameRate = t.samplesToNextClock =
                t.flags = k;
            vl::publishTimeInfo(t);
        }
    });
    int torn = 0, seen = 0;
    double last = 0.0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (seen < 20000 && std::chrono::steady_clock::now() < until) {
        const auto* t = reinterpret_cast<const vst::VstTimeInfo*>(probe.callHost(vst::audioMasterGetTime));
        ASSERT_NE(t, nullptr);
        if (t == &slot.timeInfo) continue;  // nothing published yet
        ++seen;
        const double k = t->samplePos;
        if (t->ppqPos != k || t->cycleEndPos != k || t->flags != static_cast<vst::int32>(k) ||
            t->samplesToNextClock != static_cast<vst::int32>(k))
            ++torn;
        EXPECT_GE(k, last);  // never an older block than the one before
        last = k;
    }
    stop.store(true);
    writer.join();
    EXPECT_GT(seen, 0);
    EXPECT_EQ(torn, 0);
}

}  // namespace
