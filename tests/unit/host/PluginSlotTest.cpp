#include "host/PluginSlot.h"

#include <gtest/gtest.h>

#include <cstring>

#include "host/HostCallback.h"
#include "support/ProbeModule.h"

using vl::LoadResult;
using vl::PluginSlot;
using vltest::ProbeModule;

namespace {

std::filesystem::path withSuffix(const std::string& text) {
    return std::filesystem::path(text + vl::platform::moduleSuffix());
}

class SlotTest : public ::testing::Test {
protected:
    void SetUp() override { vl::setHostContext(&slot); }
    PluginSlot slot;
};

}  // namespace

TEST(ModulePath, FirstExeOccurrenceBecomesModuleSuffix) {
    EXPECT_EQ(vl::modulePathForExecutable("/opt/x/Foo.exe"), withSuffix("/opt/x/Foo"));
    // Only the first occurrence is replaced, even when it lies in a folder name.
    EXPECT_EQ(vl::modulePathForExecutable("/opt/a.exe.d/Foo.exe"), std::filesystem::path(std::string("/opt/a") +
                                                                                          vl::platform::moduleSuffix() +
                                                                                          ".d/Foo.exe"));
    // The search is case-sensitive: an upper-case name gets the suffix appended instead.
    EXPECT_EQ(vl::modulePathForExecutable("/opt/x/Foo.EXE"), withSuffix("/opt/x/Foo.EXE"));
    EXPECT_EQ(vl::modulePathForExecutable("/opt/x/Foo"), withSuffix("/opt/x/Foo"));
    EXPECT_TRUE(vl::modulePathForExecutable("ab").empty());
    EXPECT_FALSE(vl::modulePathForExecutable("abc").empty());
}

TEST(PluginSlotRecord, StartsWithTheInitialTimeInformation) {
    PluginSlot slot;
    EXPECT_EQ(slot.effect, nullptr);
    EXPECT_EQ(slot.module, nullptr);
    EXPECT_EQ(slot.midiOutHook.load(), nullptr);
    EXPECT_EQ(slot.tempoHook.load(), nullptr);
    const vst::VstTimeInfo& t = slot.timeInfo;
    EXPECT_EQ(t.samplePos, 0.0);
    EXPECT_EQ(t.sampleRate, 44100.0);
    EXPECT_EQ(t.ppqPos, 0.0);
    EXPECT_EQ(t.tempo, 120.0);
    EXPECT_EQ(t.timeSigNumerator, 4);
    EXPECT_EQ(t.timeSigDenominator, 4);
    EXPECT_EQ(t.smpteFrameRate, 1);
    EXPECT_EQ(t.flags, 0x600);
    EXPECT_EQ(slot.blockSize(), 0);
}

TEST_F(SlotTest, LoadingSendsEffOpenOnceBeforeAnythingElse) {
    ProbeModule probe;
    ASSERT_TRUE(probe.ok());
    ASSERT_EQ(slot.load(probe.path()), LoadResult::Loaded);
    ASSERT_NE(slot.effect, nullptr);
    EXPECT_NE(slot.module, nullptr);
    EXPECT_EQ(probe.log().vstPluginMainCalls, 1);
    EXPECT_EQ(probe.log().mainCalls, 0);
    EXPECT_EQ(probe.opcodes(), std::vector<int>{vst::effOpen});

    // An engine start then sends exactly its three configuration opcodes, in order.
    slot.setBlockSize(256);
    slot.setSampleRate(48000.0f);
    slot.resume();
    EXPECT_EQ(probe.opcodes(),
              (std::vector<int>{vst::effOpen, vst::effSetBlockSize, vst::effSetSampleRate, vst::effMainsChanged}));
    EXPECT_EQ(probe.call(1).value, 256);
    EXPECT_EQ(probe.call(2).opt, 48000.0f);
    EXPECT_EQ(probe.call(3).value, 1);
    EXPECT_EQ(slot.blockSize(), 256);
    EXPECT_EQ(probe.log().opened, 1);
}

TEST_F(SlotTest, PluginThatNeedsEffOpenWorksAfterLoading) {
    ProbeModule probe;
    probe.config().requireOpen = 1;
    probe.config().canDoReceive = 1;
    probe.config().chunkSize = 3;
    std::memcpy(probe.config().chunk, "abc", 3);
    ASSERT_EQ(slot.load(probe.path()), LoadResult::Loaded);
    EXPECT_TRUE(slot.canDo("receiveVstMidiEvent"));
    void* data = nullptr;
    EXPECT_EQ(slot.getChunk(&data), 3);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(std::memcmp(data, "abc", 3), 0);
}

TEST_F(SlotTest, EntryPointFailuresLeaveNoEffect) {
    {
        ProbeModule probe;
        probe.config().entryMode = probe::EntryNull;
        EXPECT_EQ(slot.load(probe.path()), LoadResult::NullEffect);
        EXPECT_EQ(slot.effect, nullptr);
        EXPECT_NE(slot.module, nullptr);  // the handle is kept even without an effect
        EXPECT_EQ(probe.log().mainCalls, 0);
    }
    PluginSlot other;
    vl::setHostContext(&other);
    ProbeModule probe;
    probe.config().entryMode = probe::EntryWrongMagic;
    EXPECT_EQ(other.load(probe.path()), LoadResult::WrongMagic);
    EXPECT_EQ(other.effect, nullptr);
    // Both entry points are exported, but a failing VSTPluginMain is not followed by main.
    EXPECT_EQ(probe.log().vstPluginMainCalls, 1);
    EXPECT_EQ(probe.log().mainCalls, 0);
    EXPECT_EQ(probe.log().opened, 0);
}

TEST_F(SlotTest, MainIsUsedOnlyWhenVstPluginMainIsMissing) {
    ProbeModule probe("vorlane_probe_mainonly");
    ASSERT_TRUE(probe.ok());
    EXPECT_EQ(slot.load(probe.path()), LoadResult::Loaded);
    EXPECT_EQ(probe.log().mainCalls, 1);
    EXPECT_EQ(probe.log().vstPluginMainCalls, 0);
    EXPECT_EQ(probe.opcodes(), std::vector<int>{vst::effOpen});
}

TEST_F(SlotTest, MissingOrRelativeModuleIsNotLoaded) {
    EXPECT_EQ(slot.load(vltest::binaryDir() / "no_such_plugin.dll"), LoadResult::ModuleNotFound);
    EXPECT_EQ(slot.module, nullptr);
    // A relative name is never looked up through the search path.
    PluginSlot other;
    EXPECT_EQ(other.load(std::filesystem::path("vorlane_probe") += vl::platform::moduleSuffix()),
              LoadResult::ModuleNotFound);
    EXPECT_EQ(other.loadForExecutable("ab"), LoadResult::PathTooShort);
}

TEST_F(SlotTest, ModuleIsFoundBesideTheExecutable) {
    ProbeModule probe;
#ifdef _WIN32
    const std::filesystem::path exe = vltest::binaryDir() / "vorlane_probe.exe";
#else
    const std::filesystem::path exe = vltest::binaryDir() / "vorlane_probe";
#endif
    EXPECT_EQ(slot.loadForExecutable(exe), LoadResult::Loaded);
    EXPECT_EQ(probe.log().vstPluginMainCalls, 1);
}

TEST(PluginSlotWithoutPlugin, EveryCallIsANoOpAnsweringZero) {
    PluginSlot slot;
    EXPECT_EQ(slot.dispatch(vst::effGetVstVersion), 0);
    slot.setBlockSize(512);
    EXPECT_EQ(slot.blockSize(), 0);
    slot.setSampleRate(44100.0f);
    slot.resume();
    EXPECT_FALSE(slot.editGetRect().has_value());
    EXPECT_FALSE(slot.editorSize().fromPlugin);
    EXPECT_FALSE(slot.editOpen(nullptr));
    void* data = reinterpret_cast<void*>(1);
    EXPECT_EQ(slot.getChunk(&data), 0);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(slot.effectName(), "");
    EXPECT_FALSE(slot.canDo("receiveVstMidiEvent"));
    EXPECT_FALSE(slot.checkVendor());
    EXPECT_FALSE(slot.editorOwnsKeys());
    EXPECT_FALSE(slot.isSynth());
    EXPECT_EQ(slot.numInputs(), 0);
    slot.processReplacing(nullptr, nullptr, 64);
    slot.close();
}

TEST_F(SlotTest, OnlyTheAnswerOneCountsAsYes) {
    ProbeModule probe;
    ASSERT_EQ(slot.load(probe.path()), LoadResult::Loaded);
    for (int answer : {-1, 0, 2}) {
        probe.config().canDoSend = answer;
        EXPECT_FALSE(slot.canDo("sendVstMidiEvent")) << answer;
    }
    probe.config().canDoSend = 1;
    EXPECT_TRUE(slot.canDo("sendVstMidiEvent"));
    EXPECT_STREQ(probe.lastCall(vst::effCanDo)->text, "sendVstMidiEvent");

    // A key counts as consumed on any nonzero answer, negative ones too.
    for (int answer : {-1, 0, 1, 2}) {
        probe.config().keyDownAnswer = answer;
        probe.config().keyUpAnswer = answer;
        EXPECT_EQ(slot.editKeyDown('a', 0, 0.0f), answer != 0) << answer;
        EXPECT_EQ(slot.editKeyUp('a', 0, 0.0f), answer != 0) << answer;
    }
    probe.config().keyDownAnswer = 1;
    EXPECT_TRUE(slot.editKeyDown('a', vst::VKEY_SPACE, 8.0f));
    const probe::Call* key = probe.lastCall(vst::effEditKeyDown);
    EXPECT_EQ(key->index, 'a');
    EXPECT_EQ(key->value, vst::VKEY_SPACE);
    EXPECT_EQ(key->opt, 8.0f);
}

TEST_F(SlotTest, EditorRectangleOrDefaultSize) {
    ProbeModule probe;
    probe.config().editorRect = vst::ERect{0, 0, 123, 456};
    ASSERT_EQ(slot.load(probe.path()), LoadResult::Loaded);
    vl::EditorSize size = slot.editorSize();
    EXPECT_TRUE(size.fromPlugin);
    EXPECT_EQ(size.width, 456);
    EXPECT_EQ(size.height, 123);

    probe.config().hasEditorRect = 0;
    size = slot.editorSize();
    EXPECT_FALSE(size.fromPlugin);
    EXPECT_EQ(size.width, vl::kDefaultEditorWidth);
    EXPECT_EQ(size.height, vl::kDefaultEditorHeight);
}

TEST_F(SlotTest, StringsAreReadWithAnExplicitLimit) {
    ProbeModule probe;
    std::memset(probe.config().effectName, 'x', 299);
    probe.config().effectName[299] = '\0';
    ASSERT_EQ(slot.load(probe.path()), LoadResult::Loaded);
    EXPECT_EQ(slot.effectName(), std::string(255, 'x'));
    EXPECT_EQ(slot.effectNameWide(), std::wstring(255, L'x'));
    std::strcpy(probe.config().effectName, "Probe Synth");
    EXPECT_EQ(slot.effectNameWide(), L"Probe Synth");
}

TEST_F(SlotTest, VendorCheckComparesTheWholeString) {
    ProbeModule probe;
    ASSERT_EQ(slot.load(probe.path()), LoadResult::Loaded);
    for (const char* vendor : {"VorlaneX", "Vorlane Audio", "Vorlan", "vorlane", ""}) {
        std::strcpy(probe.config().vendor, vendor);
        EXPECT_FALSE(slot.checkVendor()) << vendor;
    }
    std::strcpy(probe.config().vendor, "Vorlane");
    EXPECT_TRUE(slot.checkVendor());
}

TEST_F(SlotTest, ForeignPluginHasNoExtensionBlock) {
    // The bytes behind a foreign record are garbage (0xCC...): calling through them would crash.
    ProbeModule probe;
    ASSERT_EQ(slot.load(probe.path()), LoadResult::Loaded);
    EXPECT_FALSE(slot.checkVendor());
    slot.showAboutScreen();
    slot.showHelp();
    slot.checkForUpdates();
    EXPECT_FALSE(slot.editorOwnsKeys());
}

TEST_F(SlotTest, VendorExtensionEntriesAreCalledForTheMakersPlugin) {
    ProbeModule probe("vorlane_probe_vendor");
    ASSERT_TRUE(probe.ok());
    ASSERT_EQ(slot.load(probe.path()), LoadResult::Loaded);
    // Before the check the block is not consulted.
    EXPECT_FALSE(slot.editorOwnsKeys());
    EXPECT_EQ(probe.log().ownsKeysCalls, 0);

    ASSERT_TRUE(slot.checkVendor());
    slot.showAboutScreen();
    slot.showHelp();
    slot.showHelp();
    slot.checkForUpdates();
    EXPECT_EQ(probe.log().aboutCalls, 1);
    EXPECT_EQ(probe.log().helpCalls, 2);
    EXPECT_EQ(probe.log().updateCalls, 1);
    EXPECT_FALSE(slot.editorOwnsKeys());
    probe.config().editorOwnsKeys = 1;
    EXPECT_TRUE(slot.editorOwnsKeys());
    EXPECT_EQ(probe.log().ownsKeysCalls, 2);
}

TEST_F(SlotTest, CloseSendsEffCloseOnceAndForgetsTheEffect) {
    ProbeModule probe;
    {
        PluginSlot local;
        vl::setHostContext(&local);
        ASSERT_EQ(local.load(probe.path()), LoadResult::Loaded);
        local.close();
        EXPECT_EQ(local.effect, nullptr);
        local.close();
        EXPECT_EQ(local.dispatch(vst::effEditIdle), 0);
    }  // the destructor must not close again
    EXPECT_EQ(probe.log().closed, 1);
    EXPECT_EQ(probe.opcodes(), (std::vector<int>{vst::effOpen, vst::effClose}));
}

TEST_F(SlotTest, SynthFlagAndChannelCountsComeFromTheRecord) {
    ProbeModule probe;
    probe.config().flags = vst::effFlagsIsSynth | vst::effFlagsCanReplacing;
    probe.config().numInputs = 2;
    probe.config().numOutputs = 6;
    ASSERT_EQ(slot.load(probe.path()), LoadResult::Loaded);
    EXPECT_TRUE(slot.isSynth());
    EXPECT_EQ(slot.numInputs(), 2);
    EXPECT_EQ(slot.numOutputs(), 6);
}

TEST_F(SlotTest, ChunkRoundTripAndDispatcherArguments) {
    ProbeModule probe;
    ASSERT_EQ(slot.load(probe.path()), LoadResult::Loaded);
    const char state[] = "state bytes";
    slot.setChunk(state, sizeof state);
    EXPECT_EQ(probe.log().setChunkSize, static_cast<int>(sizeof state));
    EXPECT_EQ(std::memcmp(probe.log().setChunk, state, sizeof state), 0);
    const probe::Call* call = probe.lastCall(vst::effSetChunk);
    ASSERT_NE(call, nullptr);
    EXPECT_EQ(call->index, 0);
    void* data = nullptr;
    EXPECT_EQ(slot.getChunk(&data), 0);  // the probe has no chunk configured
    EXPECT_EQ(probe.lastCall(vst::effGetChunk)->index, 0);
}
