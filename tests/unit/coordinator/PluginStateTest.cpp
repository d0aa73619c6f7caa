// The plug-in's state file "saved.chunk" in the folder named by "contentpath".

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "CoordinatorRig.h"
#include "platform/FileIO.h"
#include "platform/Text.h"
#include "support/ProbeModule.h"
#include "support/ScratchDir.h"

using namespace vltest;
namespace fs = std::filesystem;

namespace {

struct StateRig {
    StateRig() {
        loaded = rig.slot.load(probe.path()) == vl::LoadResult::Loaded;
        rig.link();
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
    ScratchDir scratch{"state"};
    const fs::path& dir = scratch.path();
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

TEST(PluginState, WithoutContentPathNothingIsReadOrWritten) {
    StateRig s;
    s.setChunk("state");
    s.rig.host.SaveChunk();
    s.rig.host.LoadChunk();
    EXPECT_EQ(s.probe.lastCall(vst::effGetChunk), nullptr);
    EXPECT_EQ(s.probe.log().setChunkCalls, 0);
    // A missing file leaves the plug-in as it is.
    s.setContentPath(s.dir);
    s.rig.host.LoadChunk();
    EXPECT_EQ(s.probe.log().setChunkCalls, 0);
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
