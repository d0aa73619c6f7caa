// The plug-in's state: "saved.chunk" or "saved.parameters", in the folder named by "contentpath"
// or in the effect's own folder under the per-user data folder.

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <initializer_list>
#include <string>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <vector>

#include "CoordinatorRig.h"
#include "host/ParameterState.h"
#include "platform/FileIO.h"
#include "platform/Text.h"
#include "support/ProbeModule.h"
#include "support/ScratchDir.h"

using namespace vltest;
namespace fs = std::filesystem;

// Allocations of more than this many bytes fail as they do when memory runs out. The program's
// own operator new is replaced for that; it changes nothing until a test lowers the limit.
std::atomic<size_t> failAllocationsAbove{SIZE_MAX};

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
// new and delete below are a matching malloc / free pair, which GCC cannot see once inlined.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(size_t size) {
    if (size > failAllocationsAbove.load(std::memory_order_relaxed)) throw std::bad_alloc();
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t size) { return ::operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    try {
        return ::operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](size_t size, const std::nothrow_t& tag) noexcept { return ::operator new(size, tag); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

namespace {

// Points a folder named by the environment at a scratch folder for the life of a test, and
// puts back what was there.
class EnvironmentFolder {
public:
    EnvironmentFolder(const char* name, const fs::path& folder) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        set(vl::platform::wideToUtf8(vl::platform::pathToWide(folder)));
    }
    ~EnvironmentFolder() { set(old_); }

private:
    void set(const std::string& value) {
#ifdef _WIN32
        _putenv_s(name_, value.c_str());
#else
        if (value.empty()) unsetenv(name_);
        else setenv(name_, value.c_str(), 1);
#endif
    }
    const char* name_;
    std::string old_;
};

#ifdef _WIN32
constexpr const char* kDataVariable = "APPDATA";
constexpr const char* kLocalVariable = "LOCALAPPDATA";
constexpr const char* kTempVariable = "TMP";
#else
constexpr const char* kDataVariable = "XDG_DATA_HOME";
constexpr const char* kLocalVariable = "XDG_STATE_HOME";
constexpr const char* kTempVariable = "TMPDIR";
#endif

struct StateRig {
    explicit StateRig(int32_t flags = vst::effFlagsCanReplacing) {
        probe.config().flags = flags;
        loaded = rig.slot.load(probe.path()) == vl::LoadResult::Loaded;
        rig.link();
    }
    // The effect's own state folder when no "contentpath" exists.
    fs::path userFolder() const { return dir / "data" / "Vorlane" / "Test Effect"; }
    void setParameters(std::initializer_list<float> values, int32_t programs = 0, int32_t program = 0) {
        probe.config().numParams = static_cast<int32_t>(values.size());
        probe.config().numPrograms = programs;
        probe.config().program = program;
        int i = 0;
        for (float v : values) probe.config().params[i++] = v;
    }
    void setContentPath(const fs::path& folder, bool trailingSeparator = true) {
        std::wstring text = vl::platform::pathToWide(folder);
        if (trailingSeparator) text += static_cast<wchar_t>(fs::path::preferred_separator);
        rig.settingsStore.setRootString(*rig.settings, L"contentpath", text);
    }
    void setChunk(const std::string& bytes) {
        probe.config().chunkSize = static_cast<int32_t>(bytes.size());
        std::memcpy(probe.config().chunk, bytes.data(), bytes.size());
    }
    std::string fileText(const fs::path& path) {
        auto bytes = vl::platform::readWholeFile(path);
        return bytes ? std::string(bytes->begin(), bytes->end()) : "<none>";
    }
    // The effect the settings are kept for.
    void useEffect(const std::wstring& name) {
        rig.settings = rig.settingsStore.make(name);
        rig.link();
    }
    fs::path folderOf(const std::wstring& folderName) const {
        return dir / "data" / "Vorlane" / vl::platform::pathFromWide(folderName);
    }
    // Whether a load leaves the plug-in's state alone (no effSetChunk).
    bool loadSendsNoChunk() {
        const int before = probe.log().setChunkCalls;
        rig.host.LoadChunk();
        return probe.log().setChunkCalls == before;
    }
    // The chunk the last effSetChunk handed over.
    std::string received() {
        return std::string(reinterpret_cast<const char*>(probe.log().setChunk), static_cast<size_t>(probe.log().setChunkSize));
    }
    ScratchDir scratch{"state"};
    const fs::path& dir = scratch.path();
    EnvironmentFolder dataFolder{kDataVariable, dir / "data"};
    EnvironmentFolder localFolder{kLocalVariable, dir / "local"};
    EnvironmentFolder tempFolder{kTempVariable, dir / "temp"};
    ProbeModule probe;
    CoordinatorRig rig;
    bool loaded = false;
};

}  // namespace

TEST(PluginState, SavedAndLoadedByteForByte) {
    StateRig s;
    ASSERT_TRUE(s.loaded);
    s.setContentPath(s.dir);
    const std::string state("\x00\x01state\xff", 8);
    s.setChunk(state);
    s.rig.host.SaveChunk();
    EXPECT_EQ(s.fileText(s.dir / "saved.chunk"), state);
    EXPECT_EQ(s.probe.lastCall(vst::effGetChunk)->index, 0);

    s.rig.host.LoadChunk();
    EXPECT_EQ(s.probe.log().setChunkCalls, 1);
    EXPECT_EQ(s.probe.log().setChunkSize, 8);
    EXPECT_EQ(std::memcmp(s.probe.log().setChunk, state.data(), 8), 0);
    EXPECT_EQ(s.probe.lastCall(vst::effSetChunk)->index, 0);
}

TEST(PluginState, NothingToSaveKeepsTheEarlierFile) {
    StateRig s;
    s.setContentPath(s.dir);
    s.setChunk("earlier");
    s.rig.host.SaveChunk();
    s.probe.config().chunkSize = 0;
    s.rig.host.SaveChunk();
    EXPECT_EQ(s.fileText(s.dir / "saved.chunk"), "earlier");
    s.rig.host.LoadChunk();
    EXPECT_EQ(s.probe.log().setChunkSize, 7);
}

TEST(PluginState, EmptyFileIsStillHandedOver) {
    StateRig s;
    s.setContentPath(s.dir);
    ASSERT_TRUE(vl::platform::writeFileAtomically(s.dir / "saved.chunk", "", 0));
    s.rig.host.LoadChunk();
    EXPECT_EQ(s.probe.log().setChunkCalls, 1);
    EXPECT_EQ(s.probe.log().setChunkSize, 0);
    EXPECT_FALSE(s.probe.lastCall(vst::effSetChunk)->ptrIsNull);
}

// Failing first: without "contentpath" the state used to be neither written nor read.
TEST(PluginState, WithoutContentPathTheUserFolderKeepsTheState) {
    StateRig s;
    // A missing file leaves the plug-in as it is.
    s.rig.host.LoadChunk();
    EXPECT_EQ(s.probe.log().setChunkCalls, 0);
    s.setChunk("state");
    s.rig.host.SaveChunk();
    EXPECT_EQ(s.fileText(s.userFolder() / "saved.chunk"), "state");
    s.rig.host.LoadChunk();
    EXPECT_EQ(s.probe.log().setChunkCalls, 1);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(s.probe.log().setChunk), 5), "state");
    // "contentpath", where it exists, still wins; its folder is never created by the host.
    s.setContentPath(s.dir / "missing");
    s.rig.host.SaveChunk();
    EXPECT_FALSE(fs::exists(s.dir / "missing"));
}

TEST(PluginState, ContentPathWithoutSeparatorPutsTheFileBesideTheFolder) {
    StateRig s;
    const fs::path folder = s.dir / "content";
    fs::create_directories(folder);
    s.setContentPath(folder, false);
    s.setChunk("x");
    s.rig.host.SaveChunk();
    EXPECT_TRUE(fs::exists(s.dir / "contentsaved.chunk"));
}

TEST(PluginState, NonLatinFolderAndFailedSavesKeepThePreviousState) {
    StateRig s;
    const fs::path folder = s.dir / vl::platform::pathFromWide(L"\u97f3\u8272 \u00c5");
    fs::create_directories(folder);
    s.setContentPath(folder);
    s.setChunk("first");
    s.rig.host.SaveChunk();
    EXPECT_EQ(s.fileText(folder / "saved.chunk"), "first");
    s.setChunk("second");
    vl::platform::setAtomicWriteFaultForTesting(vl::platform::AtomicWriteFault::ShortWrite);
    s.rig.host.SaveChunk();
    vl::platform::setAtomicWriteFaultForTesting(vl::platform::AtomicWriteFault::None);
    EXPECT_EQ(s.fileText(folder / "saved.chunk"), "first");
    s.rig.host.SaveChunk();
    EXPECT_EQ(s.fileText(folder / "saved.chunk"), "second");
}

TEST(PluginState, AStateTooLargeForMemoryIsSkippedSilently) {
    StateRig s;
    ASSERT_TRUE(s.loaded);
    s.setContentPath(s.dir);
    const std::vector<uint8_t> big(4 << 20, 0x5A);
    ASSERT_TRUE(vl::platform::writeFileAtomically(s.dir / "saved.chunk", big.data(), big.size()));
    failAllocationsAbove = 1 << 20;
    bool threw = false;
    try {
        s.rig.host.LoadChunk();
    } catch (...) {
        threw = true;
    }
    failAllocationsAbove = SIZE_MAX;
    EXPECT_FALSE(threw);
    EXPECT_EQ(s.probe.log().setChunkCalls, 0);  // the plug-in keeps the state it has
    // With memory enough the same file is handed over.
    s.rig.host.LoadChunk();
    EXPECT_EQ(s.probe.log().setChunkCalls, 1);
    EXPECT_EQ(s.probe.log().setChunkSize, static_cast<int32_t>(big.size()));
}

// Failing first (the third column): "A:B", "A_B", "A?B" and "A*B" shared the folder "A_B",
// every nameless plug-in the folder "_", "CON .x" and "COM\u00b9" were taken for ordinary names.
// The second column is the folder of earlier versions, still read where the new one is absent.
TEST(PluginState, StateFolderNamesAreSafeFileNames) {
    const struct {
        const wchar_t* effect;
        const wchar_t* legacy;
        const wchar_t* folder;
    } cases[] = {
        {L"Probe E2E", L"Probe E2E", L"Probe E2E"},
        {L"A/B\\C:D", L"A_B_C_D", L"A~2FB~5CC~3AD"},
        {L"What?*\"<>|", L"What______", L"What~3F~2A~22~3C~3E~7C"},
        {L"Trailing. . ", L"Trailing", L"Trailing~2E~20~2E~20"},
        {L"", L"_", L"~"},
        {L"...", L"_", L"~2E~2E~2E"},
        {L"con", L"con_", L"~63on"},
        {L"NUL.synth", L"NUL.synth_", L"~4EUL.synth"},
        {L"COM7", L"COM7_", L"~43OM7"},
        {L"COMPRESSOR", L"COMPRESSOR", L"COMPRESSOR"},
        {L"\u97f3\u8272", L"\u97f3\u8272", L"\u97f3\u8272"},
        {L"tab\there", L"tab_here", L"tab~09here"},
        {L"A:B", L"A_B", L"A~3AB"},
        {L"A_B", L"A_B", L"A_B"},
        {L"A~B", L"A~B", L"A~7EB"},
        {L"CON .x", L"CON .x", L"~43ON .x"},
        {L"COM\u00b9", L"COM\u00b9", L"~43OM\u00b9"},
        {L"lpt\u00b2.dll", L"lpt\u00b2.dll", L"~6Cpt\u00b2.dll"},
        {L"CONIN$", L"CONIN$", L"~43ONIN$"},
        {L"CONSOLE.x", L"CONSOLE.x", L"CONSOLE.x"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(vl::legacyStateFolderName(c.effect), c.legacy) << vl::platform::wideToUtf8(c.effect);
        EXPECT_EQ(vl::stateFolderName(c.effect), c.folder) << vl::platform::wideToUtf8(c.effect);
    }
}

// Failing first: a name of 255 characters gave a state path beyond 260.
TEST(PluginState, StateFolderNamesAreDistinctAndShort) {
    // Distinct names never meet in one folder, also where the file system ignores case.
    const std::wstring longA(255, L'a');
    const std::wstring longB = std::wstring(254, L'a') + L'b';
    const std::wstring names[] = {L"A:B", L"A_B", L"A?B", L"A*B", L"A~3AB", L"", L".", L"..", L" ",
                                  L"X.", L"X", L"CON", L"CON_", L"~43ON", longA, longB};
    for (const auto& a : names) {
        for (const auto& b : names) {
            if (&a == &b) continue;
            EXPECT_NE(vl::foldCase(vl::stateFolderName(a)), vl::foldCase(vl::stateFolderName(b)))
                << vl::platform::wideToUtf8(a) << " / " << vl::platform::wideToUtf8(b);
        }
    }
    // The longest state path under a usual %APPDATA% stays within Windows' limit.
    for (const auto& name : {longA, vl::ownStateFolderName(longA, 0x12345678)}) {
        const std::wstring path = L"C:\\Users\\a-long-user-name\\AppData\\Roaming\\Vorlane\\" +
                                  vl::stateFolderName(name) + L"\\saved.parameters.tmp~";
        EXPECT_LT(path.size(), 260u);
    }
}

// Failing first: two plug-ins with one effect name swapped their chunks and overwrote them.
TEST(PluginState, AChunkIsNeverHandedToAnotherPlugin) {
    StateRig s;
    ASSERT_TRUE(s.loaded);
    const int32_t firstId = s.rig.slot.effect->uniqueID;
    s.setChunk("first's");
    EXPECT_TRUE(s.rig.host.SaveChunk().saved);

    // Another plug-in of the same name: nothing of the first's, and its own save goes beside.
    s.rig.slot.effect->uniqueID = firstId + 1;
    EXPECT_TRUE(s.loadSendsNoChunk());
    s.setChunk("second's");
    EXPECT_TRUE(s.rig.host.SaveChunk().saved);
    EXPECT_EQ(s.fileText(s.userFolder() / "saved.chunk"), "first's");
    s.rig.host.LoadChunk();
    EXPECT_EQ(s.received(), "second's");

    s.rig.slot.effect->uniqueID = firstId;
    s.rig.host.LoadChunk();
    EXPECT_EQ(s.received(), "first's");

    // A name that differs only in case finds the folder taken where case is ignored (as on
    // Windows, where it is the same folder; elsewhere the test makes it look so).
    s.useEffect(L"TEST EFFECT");
    fs::create_directories(s.folderOf(L"TEST EFFECT"));
    if (!fs::equivalent(s.userFolder(), s.folderOf(L"TEST EFFECT"))) {
        fs::copy_file(s.userFolder() / "saved.owner", s.folderOf(L"TEST EFFECT") / "saved.owner");
        fs::copy_file(s.userFolder() / "saved.chunk", s.folderOf(L"TEST EFFECT") / "saved.chunk");
    }
    EXPECT_TRUE(s.loadSendsNoChunk());
}

TEST(PluginState, AFolderOfAnEarlierVersionIsReadUntilTheNewOneExists) {
    StateRig s;
    ASSERT_TRUE(s.loaded);
    s.useEffect(L"A:B");
    fs::create_directories(s.folderOf(L"A_B"));
    ASSERT_TRUE(vl::platform::writeFileAtomically(s.folderOf(L"A_B") / "saved.chunk", "old", 3));
    s.rig.host.LoadChunk();
    EXPECT_EQ(s.received(), "old");
    s.setChunk("new");
    s.rig.host.SaveChunk();
    EXPECT_EQ(s.fileText(s.folderOf(L"A~3AB") / "saved.chunk"), "new");
    s.rig.host.LoadChunk();
    EXPECT_EQ(s.received(), "new");

    // "A_B" itself owns its folder once it saves there; "A:B" no longer reads it.
    s.useEffect(L"A_B");
    s.rig.slot.effect->uniqueID += 1;
    s.setChunk("a_b");
    s.rig.host.SaveChunk();
    EXPECT_EQ(s.fileText(s.folderOf(L"A_B") / "saved.chunk"), "a_b");
    s.rig.slot.effect->uniqueID -= 1;
    s.useEffect(L"A:B");
    fs::remove_all(s.folderOf(L"A~3AB"));
    EXPECT_TRUE(s.loadSendsNoChunk());
}

// Failing first: every one of these failures was silent and the old file stayed.
TEST(PluginState, AFailedSaveSaysWhichFileAndWhy) {
    StateRig s;
    ASSERT_TRUE(s.loaded);
    s.setChunk("state");
    // A file where the state's folder belongs (a folder that cannot be written).
    fs::create_directories(s.dir / "data" / "Vorlane");
    { std::ofstream(s.userFolder()) << "in the way"; }
    auto result = s.rig.host.SaveChunk();
    EXPECT_FALSE(result.saved);
    EXPECT_EQ(result.file, s.userFolder() / "saved.chunk");
    EXPECT_NE(result.reason.find(L"folder"), std::wstring::npos) << vl::platform::wideToUtf8(result.reason);
    fs::remove(s.userFolder());

    // A blocked temporary file: the old file stays and the answer names the temporary file.
    ASSERT_TRUE(s.rig.host.SaveChunk().saved);
    s.setChunk("newer");
    fs::create_directories(s.userFolder() / "saved.chunk.tmp~");
    result = s.rig.host.SaveChunk();
    EXPECT_FALSE(result.saved);
    EXPECT_NE(result.reason.find(L"saved.chunk.tmp~"), std::wstring::npos) << vl::platform::wideToUtf8(result.reason);
    EXPECT_EQ(s.fileText(s.userFolder() / "saved.chunk"), "state");

    // A "contentpath" folder that is not there.
    s.setContentPath(s.dir / "gone");
    result = s.rig.host.SaveChunk();
    EXPECT_FALSE(result.saved);
    EXPECT_EQ(result.file, s.dir / "gone" / "saved.chunk");
    EXPECT_FALSE(result.reason.empty());
}

TEST(PluginState, TheSessionEndKeepsAFailedSaveElsewhereAndTheNextStartBringsItBack) {
    StateRig s;
    ASSERT_TRUE(s.loaded);
    s.setChunk("before");
    ASSERT_TRUE(s.rig.host.SaveChunk().saved);
    s.setChunk("at the end");
    fs::create_directories(s.userFolder() / "saved.chunk.tmp~");
    const auto result = s.rig.host.SaveChunkForSessionEnd();
    EXPECT_FALSE(result.saved);
    ASSERT_FALSE(result.keptAt.empty());
    EXPECT_EQ(s.fileText(result.keptAt), "at the end");
    EXPECT_EQ(result.keptAt.parent_path().parent_path().parent_path().parent_path(), s.dir / "local");

    // Still blocked at the next start: the kept state is handed over and stays where it is.
    auto kept = s.rig.host.LoadChunk();
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_FALSE(kept[0].movedHome);
    EXPECT_EQ(s.received(), "at the end");
    // Unblocked: it goes home, and is gone from the second place.
    fs::remove(s.userFolder() / "saved.chunk.tmp~");
    kept = s.rig.host.LoadChunk();
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_TRUE(kept[0].movedHome);
    EXPECT_EQ(kept[0].home, s.userFolder() / "saved.chunk");
    EXPECT_EQ(s.fileText(s.userFolder() / "saved.chunk"), "at the end");
    EXPECT_EQ(s.received(), "at the end");
    EXPECT_TRUE(s.rig.host.LoadChunk().empty());
}

// Failing first: a plug-in without chunks lost every parameter at each restart.
TEST(PluginState, APluginWithoutChunksGetsItsParametersAndProgramBack) {
    StateRig s;
    ASSERT_TRUE(s.loaded);
    s.setParameters({0.25f, 0.5f, 1.0f, 0.0f}, 3, 2);
    // The effect record was made before: tell it what the probe now has.
    s.rig.slot.effect->numParams = 4;
    s.rig.slot.effect->numPrograms = 3;
    s.rig.host.SaveChunk();
    EXPECT_FALSE(fs::exists(s.userFolder() / "saved.chunk"));
    ASSERT_TRUE(fs::exists(s.userFolder() / "saved.parameters"));

    s.setParameters({0.9f, 0.9f, 0.9f, 0.9f}, 3, 0);
    s.rig.host.LoadChunk();
    EXPECT_EQ(s.probe.log().setChunkCalls, 0);
    EXPECT_EQ(s.probe.log().setProgramCalls, 1);
    EXPECT_EQ(s.probe.config().program, 2);
    const float expected[] = {0.25f, 0.5f, 1.0f, 0.0f};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(s.probe.config().params[i], expected[i]) << "parameter " << i;
    // The program is chosen before the parameters, which would otherwise be overwritten by it.
    const auto ops = s.probe.opcodes();
    EXPECT_EQ(ops.back(), vst::effSetProgram);
    EXPECT_EQ(s.probe.log().setParameterCalls, 4);
}

TEST(PluginState, APluginWithChunksKeepsOnlyItsChunk) {
    StateRig s(vst::effFlagsCanReplacing | vst::effFlagsProgramChunks);
    s.rig.slot.effect->numParams = 2;
    s.setParameters({0.1f, 0.2f});
    s.rig.host.SaveChunk();  // no chunk offered: nothing at all is written
    EXPECT_FALSE(fs::exists(s.userFolder() / "saved.parameters"));
    EXPECT_FALSE(fs::exists(s.userFolder() / "saved.chunk"));
    s.setChunk("bank");
    s.rig.host.SaveChunk();
    EXPECT_EQ(s.fileText(s.userFolder() / "saved.chunk"), "bank");
    EXPECT_FALSE(fs::exists(s.userFolder() / "saved.parameters"));
}

TEST(PluginState, ParameterFilesThatDoNotFitAreRefused) {
    vl::ParameterState state;
    state.uniqueId = 0x50726F62;
    state.program = 1;
    state.values = {0.5f, 0.75f};
    const auto good = vl::encodeParameterState(state);
    ASSERT_EQ(good.size(), 28u);
    ASSERT_TRUE(vl::decodeParameterState(good));
    EXPECT_EQ(vl::decodeParameterState(good)->values, state.values);
    EXPECT_EQ(vl::decodeParameterState(good)->program, 1);

    auto with = [&](size_t at, uint8_t byte) {
        auto bytes = good;
        bytes[at] = byte;
        return bytes;
    };
    auto cut = good;
    cut.pop_back();
    auto longer = good;
    longer.push_back(0);
    const struct {
        const char* name;
        std::vector<uint8_t> bytes;
    } bad[] = {
        {"empty", {}},
        {"wrong magic", with(0, 'X')},
        {"later version", with(4, 2)},
        {"count beyond the data", with(16, 3)},
        {"huge count", with(19, 0x7F)},
        {"cut short", cut},
        {"trailing bytes", longer},
    };
    for (const auto& b : bad) EXPECT_FALSE(vl::decodeParameterState(b.bytes)) << b.name;
}

TEST(PluginState, StoredParametersOfAnotherPluginOrOutOfRangeAreNotApplied) {
    StateRig s;
    ASSERT_TRUE(s.loaded);
    s.rig.slot.effect->numParams = 3;
    s.setParameters({0.3f, 0.3f, 0.3f});
    vl::ParameterState state;
    state.uniqueId = s.rig.slot.effect->uniqueID;
    state.program = 7;  // the probe has no programs: not sent
    state.values = {2.0f, std::nanf(""), -1.0f, 0.5f /* beyond numParams */};
    fs::create_directories(s.userFolder());
    auto bytes = vl::encodeParameterState(state);
    ASSERT_TRUE(vl::platform::writeFileAtomically(s.userFolder() / "saved.parameters", bytes.data(), bytes.size()));
    s.rig.host.LoadChunk();
    EXPECT_EQ(s.probe.log().setProgramCalls, 0);
    EXPECT_EQ(s.probe.log().setParameterCalls, 2);
    EXPECT_EQ(s.probe.config().params[0], 1.0f);
    EXPECT_EQ(s.probe.config().params[1], 0.3f);
    EXPECT_EQ(s.probe.config().params[2], 0.0f);

    // Another plug-in's file under the same effect name: nothing is sent.
    state.uniqueId += 1;
    bytes = vl::encodeParameterState(state);
    ASSERT_TRUE(vl::platform::writeFileAtomically(s.userFolder() / "saved.parameters", bytes.data(), bytes.size()));
    s.rig.host.LoadChunk();
    EXPECT_EQ(s.probe.log().setParameterCalls, 2);
}
