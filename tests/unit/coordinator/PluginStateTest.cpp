// The plug-in's state file "saved.chunk" in the folder named by "contentpath".

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <vector>

#include "CoordinatorRig.h"
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
