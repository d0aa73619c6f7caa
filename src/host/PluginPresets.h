#pragma once
// Presets through the plug-in: the current program or the whole bank saved as a .fxp / .fxb
// file, such a file loaded back, the plug-in's own programs listed, chosen and renamed, and
// the state the plug-in had right after it was opened handed back (Reset to Default).
//
// Thread: the user-interface thread. Whatever changes the plug-in's sound (a chunk, a program,
// parameters) goes through a BetweenBlocks runner: the coordinator's holds the plug-in out of
// the process cycle while the change is made, so that no parameter is ever set while
// processReplacing runs, whether or not the plug-in is thread-safe. Tests pass a runner that
// simply calls the change.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "host/PresetFile.h"

namespace vl {

class PluginSlot;

// Makes a change to the plug-in while no process cycle is inside it; false (and the change not
// made) when no such moment came within its bound.
using BetweenBlocks = std::function<bool(const std::function<void()>& change)>;
// A runner for a plug-in that no engine runs (tests, start-up, the offline renderer).
BetweenBlocks directly();

// The published VstPatchChunkInfo record handed to effBeginLoadBank / effBeginLoadProgram.
struct PatchChunkInfo {
    int32_t version = 1;
    int32_t pluginUniqueId = 0;
    int32_t pluginVersion = 0;
    int32_t numElements = 0;  // programs (bank) or parameters (program)
    char future[48] = {};
};
static_assert(sizeof(PatchChunkInfo) == 64);

PresetLimits presetLimits(PluginSlot& slot);
bool usesProgramChunks(PluginSlot& slot);

// The current program (effGetChunk with index 1 for a plug-in with program chunks, else its
// parameters) and the whole bank (index 0, else every program's parameters: the bank's programs
// are visited through the runner and the current one is put back).
FxProgram captureProgram(PluginSlot& slot);
FxBank captureBank(PluginSlot& slot, const BetweenBlocks& between);

// What a load or save came to. message is a sentence for the user when ok is false.
struct PresetOutcome {
    bool ok = false;
    PresetKind kind = PresetKind::Program;
    std::string message;
};

// Hands a parsed file to the plug-in: effBeginLoadProgram / effBeginLoadBank first (an answer
// of -1 refuses the file and nothing else is sent), then the chunk (effSetChunk) or the program
// and its parameters. A chunk file is refused for a plug-in without program chunks.
PresetOutcome applyPreset(PluginSlot& slot, const PresetParse& file, const BetweenBlocks& between);
PresetOutcome applyBank(PluginSlot& slot, const FxBank& bank, const BetweenBlocks& between);

// Files: the kind is the file's own (a .fxb name holding a program loads the program). A file
// is checked whole before anything reaches the plug-in. A save writes atomically.
PresetOutcome loadPresetFile(PluginSlot& slot, const std::filesystem::path& path, const BetweenBlocks& between);
PresetOutcome savePresetFile(PluginSlot& slot, const std::filesystem::path& path, PresetKind kind,
                             const BetweenBlocks& between);

// The plug-in's programs.
int32_t programCount(PluginSlot& slot);
int32_t currentProgram(PluginSlot& slot);
std::string currentProgramName(PluginSlot& slot);
// effGetProgramNameIndexed, else effSetProgram + effGetProgramName for each through the
// runner, with the current program put back.
std::vector<std::string> programNames(PluginSlot& slot, const BetweenBlocks& between);
// Whether the names come without visiting the programs (a menu may then ask at every opening).
bool namesAreIndexed(PluginSlot& slot);
// effBeginSetProgram, effSetProgram, effEndSetProgram; false for an index out of range.
bool selectProgram(PluginSlot& slot, int32_t index, const BetweenBlocks& between);
// effSetProgramName for the current program; false when the plug-in keeps its own name (it
// reads back unchanged).
bool renameProgram(PluginSlot& slot, const std::string& name);
// Longest program name the host sends (the file's field less its terminating zero).
constexpr size_t kMaxProgramNameChars = kPresetNameBytes - 1;

// Menus list the programs in groups of at most this many.
constexpr int32_t kProgramsPerMenu = 32;
struct ProgramGroup {
    int32_t first = 0;
    int32_t count = 0;
    std::string title;  // "1-32" ... for a submenu; empty when all programs fit one menu
};
std::vector<ProgramGroup> programGroups(int32_t programs);

// The state the plug-in had right after it was opened, kept for Reset to Default.
class DefaultState {
public:
    // Right after effOpen, before any saved state reaches the plug-in.
    void capture(PluginSlot& slot);
    bool captured() const { return bank_.has_value(); }
    PresetOutcome restore(PluginSlot& slot, const BetweenBlocks& between) const;

private:
    std::optional<FxBank> bank_;
};

// The preset files a dropped or given path names: ".fxp" / ".fxb", any case.
bool isPresetFileName(const std::filesystem::path& path);

}  // namespace vl
