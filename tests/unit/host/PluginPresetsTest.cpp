// Presets through the probe plug-in: program and bank files of both forms written from the
// plug-in and handed back, the refusals that must never reach it, its own programs, and the
// default state.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/HostCallback.h"
#include "host/PluginPresets.h"
#include "host/PluginSlot.h"
#include "platform/FileIO.h"
#include "support/ProbeModule.h"
#include "support/ScratchDir.h"

using vltest::ProbeModule;
using vltest::ScratchDir;

namespace {

constexpr int32_t kProbeId = 0x50726F62;  // 'Prob'

struct PresetRig {
    explicit PresetRig(bool chunks) {
        vl::setHostContext(&slot);
        auto& cfg = probe.config();
        cfg.flags = vst::effFlagsCanReplacing | (chunks ? vst::effFlagsProgramChunks : 0);
        cfg.numParams = 3;
        cfg.numPrograms = 3;
        cfg.params[0] = 0.25f, cfg.params[1] = 0.5f, cfg.params[2] = 0.75f;
        if (chunks) {
            setText(cfg.chunk, cfg.chunkSize, "whole bank");
            setText(cfg.programChunk, cfg.programChunkSize, "one program");
        }
        std::strcpy(cfg.programNames[0], "Warm Pad");
        loaded = slot.load(probe.path()) == vl::LoadResult::Loaded;
    }
    ~PresetRig() {
        slot.close();
        vl::setHostContext(nullptr);
    }
    static void setText(uint8_t* into, int32_t& size, const std::string& text) {
        std::memcpy(into, text.data(), text.size());
        size = static_cast<int32_t>(text.size());
    }
    std::vector<uint8_t> fileBytes(const std::filesystem::path& path) {
        return vl::platform::readWholeFile(path).value_or(std::vector<uint8_t>{});
    }
    // Nothing that changes the sound reached the plug-in.
    void expectUntouched() {
        EXPECT_EQ(probe.log().setChunkCalls, 0);
        EXPECT_EQ(probe.log().setParameterCalls, 0);
        EXPECT_EQ(probe.log().setProgramCalls, 0);
    }

    ProbeModule probe;
    vl::PluginSlot slot;
    bool loaded = false;
    ScratchDir dir{"presets"};
};

int32_t opcodeCount(ProbeModule& probe, int opcode) {
    int32_t n = 0;
    for (int op : probe.opcodes()) n += op == opcode;
    return n;
}

}  // namespace

TEST(PluginPresets, ChunkProgramAndBankFilesRoundTripThroughTheirOwnChunkCalls) {
    PresetRig rig(true);
    ASSERT_TRUE(rig.loaded);
    const auto fxp = rig.dir.path() / "Warm Pad.FXP";
    const auto fxb = rig.dir.path() / "all.fxb";
    ASSERT_TRUE(vl::savePresetFile(rig.slot, fxp, vl::PresetKind::Program, vl::directly()).ok);
    ASSERT_TRUE(vl::savePresetFile(rig.slot, fxb, vl::PresetKind::Bank, vl::directly()).ok);

    // The files as another host reads them.
    const vl::PresetLimits limits = vl::presetLimits(rig.slot);
    const auto programBytes = rig.fileBytes(fxp);
    const vl::PresetParse program = vl::parsePresetFile(programBytes.data(), programBytes.size(), limits);
    ASSERT_TRUE(program.ok());
    EXPECT_EQ(program.kind, vl::PresetKind::Program);
    EXPECT_TRUE(program.program.isChunk);
    EXPECT_EQ(program.program.fxId, kProbeId);
    EXPECT_EQ(program.program.name, "Warm Pad");
    EXPECT_EQ(std::string(program.program.chunk.begin(), program.program.chunk.end()), "one program");
    const auto bankBytes = rig.fileBytes(fxb);
    const vl::PresetParse bank = vl::parsePresetFile(bankBytes.data(), bankBytes.size(), limits);
    ASSERT_TRUE(bank.ok());
    EXPECT_EQ(bank.kind, vl::PresetKind::Bank);
    EXPECT_EQ(std::string(bank.bank.chunk.begin(), bank.bank.chunk.end()), "whole bank");
    EXPECT_TRUE(vl::isPresetFileName(fxp));
    EXPECT_FALSE(vl::isPresetFileName(rig.dir.path() / "take.wav"));

    // Loaded back: announced first, then the program chunk at index 1 and the bank's at 0.
    const vl::PresetOutcome loadedProgram = vl::loadPresetFile(rig.slot, fxp, vl::directly());
    EXPECT_TRUE(loadedProgram.ok) << loadedProgram.message;
    EXPECT_EQ(rig.probe.log().beginLoadCalls, 1);
    EXPECT_EQ(rig.probe.log().beginLoadUniqueId, kProbeId);
    EXPECT_EQ(rig.probe.log().beginLoadElements, 3);
    EXPECT_EQ(rig.probe.log().setChunkIndex, 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(rig.probe.log().setChunk), size_t(rig.probe.log().setChunkSize)),
              "one program");
    EXPECT_EQ(opcodeCount(rig.probe, vst::effBeginSetProgram), 1);
    EXPECT_EQ(opcodeCount(rig.probe, vst::effEndSetProgram), 1);
    const vl::PresetOutcome loadedBank = vl::loadPresetFile(rig.slot, fxb, vl::directly());
    EXPECT_TRUE(loadedBank.ok) << loadedBank.message;
    EXPECT_EQ(loadedBank.kind, vl::PresetKind::Bank);
    EXPECT_EQ(rig.probe.log().setChunkIndex, 0);
    EXPECT_EQ(rig.probe.log().setChunkSize, 10);
    EXPECT_EQ(rig.probe.log().setParameterCalls, 0);
}

TEST(PluginPresets, ParameterBanksVisitEveryProgramAndPutTheCurrentOneBack) {
    PresetRig rig(false);
    ASSERT_TRUE(rig.loaded);
    auto& cfg = rig.probe.config();
    cfg.program = 1;
    const auto fxp = rig.dir.path() / "one.fxp";
    const auto fxb = rig.dir.path() / "bank.fxb";
    ASSERT_TRUE(vl::savePresetFile(rig.slot, fxp, vl::PresetKind::Program, vl::directly()).ok);
    ASSERT_TRUE(vl::savePresetFile(rig.slot, fxb, vl::PresetKind::Bank, vl::directly()).ok);
    EXPECT_EQ(cfg.program, 1) << "the bank's visit puts the current program back";
    const auto bankBytes = rig.fileBytes(fxb);
    const vl::PresetParse bank = vl::parsePresetFile(bankBytes.data(), bankBytes.size(), vl::presetLimits(rig.slot));
    ASSERT_TRUE(bank.ok());
    ASSERT_EQ(bank.bank.programs.size(), 3u);
    EXPECT_EQ(bank.bank.currentProgram, 1);
    EXPECT_EQ(bank.bank.programs[0].name, "Warm Pad");
    EXPECT_EQ(bank.bank.programs[2].name, "Program 3");
    EXPECT_EQ(bank.bank.programs[1].params, (std::vector<float>{0.25f, 0.5f, 0.75f}));

    // The sound changes; the program file brings it back on the current program.
    cfg.params[0] = cfg.params[1] = cfg.params[2] = 0.0f;
    const int32_t programCallsBefore = rig.probe.log().setProgramCalls;
    ASSERT_TRUE(vl::loadPresetFile(rig.slot, fxp, vl::directly()).ok);
    EXPECT_EQ(cfg.params[0], 0.25f);
    EXPECT_EQ(cfg.params[2], 0.75f);
    EXPECT_EQ(rig.probe.log().setProgramCalls, programCallsBefore);
    EXPECT_EQ(rig.probe.log().setChunkCalls, 0);

    // A bank: every program gets its values, the bank's current program is chosen last.
    cfg.program = 0;
    cfg.params[1] = 0.0f;
    ASSERT_TRUE(vl::loadPresetFile(rig.slot, fxb, vl::directly()).ok);
    EXPECT_EQ(cfg.program, 1);
    EXPECT_EQ(cfg.params[1], 0.5f);
    EXPECT_EQ(rig.probe.log().setProgramCalls, programCallsBefore + 4);
}

TEST(PluginPresets, RefusedFilesNeverReachThePlugin) {
    PresetRig rig(false);
    ASSERT_TRUE(rig.loaded);
    const auto write = [&](const std::string& name, const std::vector<uint8_t>& bytes) {
        const auto path = rig.dir.path() / name;
        EXPECT_TRUE(vl::platform::writeFileAtomically(path, bytes.data(), bytes.size()));
        return path;
    };
    vl::FxProgram foreign;
    foreign.fxId = 0x41424344;  // 'ABCD'
    foreign.numParams = 3;
    foreign.params = {0.1f, 0.2f, 0.3f};
    vl::FxProgram chunk;
    chunk.fxId = kProbeId;
    chunk.isChunk = true;
    chunk.chunk = {1, 2, 3};
    vl::FxProgram tooMany;
    tooMany.fxId = kProbeId;
    tooMany.params.assign(4, 0.5f);
    tooMany.numParams = 4;
    auto truncated = vl::writeFxProgram(foreign);
    truncated.resize(40);

    const auto expectRefused = [&](const std::filesystem::path& path, const std::string& says) {
        const vl::PresetOutcome outcome = vl::loadPresetFile(rig.slot, path, vl::directly());
        EXPECT_FALSE(outcome.ok) << path;
        EXPECT_NE(outcome.message.find(says), std::string::npos) << path << ": " << outcome.message;
        rig.expectUntouched();
    };
    expectRefused(write("foreign.fxp", vl::writeFxProgram(foreign)), "ABCD");
    expectRefused(write("chunk.fxp", vl::writeFxProgram(chunk)), "chunk");
    expectRefused(write("many.fxp", vl::writeFxProgram(tooMany)), "more parameters");
    expectRefused(write("cut.fxp", truncated), "truncated");
    expectRefused(rig.dir.path() / "missing.fxp", "cannot be read");
    {
        // A file over the limit is refused by its size, before it is read.
        const auto huge = rig.dir.path() / "huge.fxb";
        std::ofstream(huge, std::ios::binary).put('C');
        std::filesystem::resize_file(huge, vl::kMaxPresetFileBytes + 1);
        expectRefused(huge, "64 MiB");
    }
    EXPECT_EQ(rig.probe.log().beginLoadCalls, 0) << "no refused file is announced to the plug-in";

    // A plug-in that answers -1 refuses the file: nothing follows the announcement.
    vl::FxProgram own = vl::captureProgram(rig.slot);
    const auto good = write("good.fxp", vl::writeFxProgram(own));
    rig.probe.config().beginLoadAnswer = -1;
    expectRefused(good, "refuses");
    EXPECT_EQ(rig.probe.log().beginLoadCalls, 1);
    rig.probe.config().beginLoadAnswer = 1;
    EXPECT_TRUE(vl::loadPresetFile(rig.slot, good, vl::directly()).ok);

    // A runner that found no moment between blocks changes nothing and says so.
    const int32_t setsBefore = rig.probe.log().setParameterCalls;
    const vl::PresetOutcome busy =
        vl::loadPresetFile(rig.slot, good, [](const std::function<void()>&) { return false; });
    EXPECT_FALSE(busy.ok);
    EXPECT_NE(busy.message.find("busy"), std::string::npos);
    EXPECT_EQ(rig.probe.log().setParameterCalls, setsBefore);
}

TEST(PluginPresets, ProgramsAreListedChosenRenamedAndTheDefaultComesBack) {
    PresetRig rig(false);
    ASSERT_TRUE(rig.loaded);
    auto& cfg = rig.probe.config();
    cfg.program = 2;
    const std::vector<std::string> expected = {"Warm Pad", "Program 2", "Program 3"};
    EXPECT_EQ(vl::programNames(rig.slot, vl::directly()), expected);
    EXPECT_EQ(rig.probe.log().setProgramCalls, 0) << "indexed names need no visit";
    cfg.namesIndexed = 0;
    EXPECT_EQ(vl::programNames(rig.slot, vl::directly()), expected);
    EXPECT_EQ(cfg.program, 2) << "the visit puts the current program back";

    EXPECT_TRUE(vl::selectProgram(rig.slot, 0, vl::directly()));
    EXPECT_EQ(cfg.program, 0);
    const std::vector<int> ops = rig.probe.opcodes();
    ASSERT_GE(ops.size(), 3u);
    EXPECT_EQ(std::vector<int>(ops.end() - 3, ops.end()),
              (std::vector<int>{vst::effBeginSetProgram, vst::effSetProgram, vst::effEndSetProgram}));
    EXPECT_FALSE(vl::selectProgram(rig.slot, 3, vl::directly()));
    EXPECT_EQ(vl::currentProgramName(rig.slot), "Warm Pad");

    EXPECT_TRUE(vl::renameProgram(rig.slot, "A name longer than any program name may be"));
    EXPECT_EQ(vl::currentProgramName(rig.slot), std::string("A name longer than any program name may be").substr(0, 24));
    cfg.renamable = 0;
    EXPECT_FALSE(vl::renameProgram(rig.slot, "Kept"));

    EXPECT_EQ(vl::programGroups(0).size(), 0u);
    const auto one = vl::programGroups(32);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_TRUE(one[0].title.empty());
    const auto three = vl::programGroups(70);
    ASSERT_EQ(three.size(), 3u);
    EXPECT_EQ(three[1].title, "33-64");
    EXPECT_EQ(three[2].first, 64);
    EXPECT_EQ(three[2].count, 6);
}

TEST(PluginPresets, ResetToDefaultHandsBackTheStateOfTheOpening) {
    for (const bool chunks : {false, true}) {
        PresetRig rig(chunks);
        ASSERT_TRUE(rig.loaded);
        vl::DefaultState opening;
        EXPECT_FALSE(opening.restore(rig.slot, vl::directly()).ok) << "nothing kept yet";
        opening.capture(rig.slot);
        ASSERT_TRUE(opening.captured());
        rig.probe.config().params[0] = 0.9f;
        rig.probe.config().program = 2;
        const vl::PresetOutcome reset = opening.restore(rig.slot, vl::directly());
        EXPECT_TRUE(reset.ok) << reset.message;
        if (chunks) {
            EXPECT_EQ(rig.probe.log().setChunkIndex, 0);
            EXPECT_EQ(std::string(reinterpret_cast<char*>(rig.probe.log().setChunk),
                                  size_t(rig.probe.log().setChunkSize)),
                      "whole bank");
        } else {
            EXPECT_EQ(rig.probe.config().params[0], 0.25f);
            EXPECT_EQ(rig.probe.config().program, 0);
        }
    }
}
