#include "host/PluginPresets.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "host/PluginSlot.h"
#include "platform/FileIO.h"
#include "platform/Text.h"

namespace vl {

namespace {

// Plug-ins write program names past the published 24 bytes: the buffer is far larger.
constexpr size_t kNameBuffer = 256;

std::string cutName(const char* text) {
    return std::string(text, strnlen(text, kMaxProgramNameChars));
}

std::string programNameNow(PluginSlot& slot) {
    char buffer[kNameBuffer] = {};
    slot.dispatch(vst::effGetProgramName, 0, 0, buffer);
    return cutName(buffer);
}

std::vector<float> parametersNow(PluginSlot& slot) {
    std::vector<float> values;
    vst::AEffect* effect = slot.effect;
    if (!effect || !effect->getParameter) return values;
    values.resize(static_cast<size_t>(std::max(effect->numParams, 0)));
    for (size_t i = 0; i < values.size(); ++i) values[i] = effect->getParameter(effect, static_cast<vst::int32>(i));
    return values;
}

void setProgramName(PluginSlot& slot, const std::string& name) {
    char buffer[kNameBuffer] = {};
    std::memcpy(buffer, name.data(), std::min(name.size(), kMaxProgramNameChars));
    slot.dispatch(vst::effSetProgramName, 0, 0, buffer);
}

void setParameters(PluginSlot& slot, const std::vector<float>& values) {
    vst::AEffect* effect = slot.effect;
    if (!effect || !effect->setParameter) return;
    const size_t count = std::min(values.size(), static_cast<size_t>(std::max(effect->numParams, 0)));
    for (size_t i = 0; i < count; ++i) {
        if (!std::isfinite(values[i])) continue;
        effect->setParameter(effect, static_cast<vst::int32>(i), std::clamp(values[i], 0.0f, 1.0f));
    }
}

// The program's own name and parameters, as the current program.
void applyProgramBody(PluginSlot& slot, const FxProgram& program) {
    setProgramName(slot, program.name);
    if (program.isChunk)
        slot.dispatch(vst::effSetChunk, 1, static_cast<vst::intptr>(program.chunk.size()),
                      const_cast<uint8_t*>(program.chunk.data()));
    else
        setParameters(slot, program.params);
}

PresetOutcome refused(PresetKind kind, std::string message) {
    PresetOutcome outcome;
    outcome.kind = kind;
    outcome.message = std::move(message);
    return outcome;
}

const char* kindName(PresetKind kind) { return kind == PresetKind::Bank ? "bank" : "program"; }

std::string busyText(PresetKind kind) {
    return std::string("The plug-in was busy in its audio processing for more than a second; the ") + kindName(kind) +
           " was not changed. Please try again.";
}

}  // namespace

BetweenBlocks directly() {
    return [](const std::function<void()>& change) {
        change();
        return true;
    };
}

PresetLimits presetLimits(PluginSlot& slot) {
    PresetLimits limits;
    if (!slot.effect) return limits;
    limits.uniqueId = slot.effect->uniqueID;
    limits.numParams = std::max(slot.effect->numParams, 0);
    limits.numPrograms = std::max(slot.effect->numPrograms, 0);
    return limits;
}

bool usesProgramChunks(PluginSlot& slot) {
    return slot.effect && (slot.effect->flags & vst::effFlagsProgramChunks) != 0;
}

int32_t programCount(PluginSlot& slot) { return slot.effect ? std::max(slot.effect->numPrograms, 0) : 0; }

int32_t currentProgram(PluginSlot& slot) { return static_cast<int32_t>(slot.dispatch(vst::effGetProgram)); }

std::string currentProgramName(PluginSlot& slot) { return programNameNow(slot); }

FxProgram captureProgram(PluginSlot& slot) {
    FxProgram program;
    if (!slot.effect) return program;
    program.fxId = slot.effect->uniqueID;
    program.fxVersion = slot.effect->version;
    program.numParams = std::max(slot.effect->numParams, 0);
    program.name = programNameNow(slot);
    if (usesProgramChunks(slot)) {
        void* data = nullptr;
        const vst::intptr size = slot.dispatch(vst::effGetChunk, 1, 0, &data);
        program.isChunk = true;
        if (size > 0 && data) program.chunk.assign(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
    } else {
        program.params = parametersNow(slot);
        program.numParams = static_cast<int32_t>(program.params.size());
    }
    return program;
}

FxBank captureBank(PluginSlot& slot, const BetweenBlocks& between) {
    FxBank bank;
    if (!slot.effect) return bank;
    bank.fxId = slot.effect->uniqueID;
    bank.fxVersion = slot.effect->version;
    bank.version = 2;
    bank.numPrograms = programCount(slot);
    bank.currentProgram = currentProgram(slot);
    if (usesProgramChunks(slot)) {
        void* data = nullptr;
        const vst::intptr size = slot.getChunk(&data);
        bank.isChunk = true;
        if (size > 0 && data) bank.chunk.assign(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
        return bank;
    }
    if (bank.numPrograms <= 1) {
        // One program (or none): the current one is the bank.
        bank.programs.push_back(captureProgram(slot));
        bank.numPrograms = 1;
        bank.currentProgram = 0;
        return bank;
    }
    const int32_t current = bank.currentProgram;
    const bool visited = between([&] {
        for (int32_t i = 0; i < bank.numPrograms; ++i) {
            slot.dispatch(vst::effSetProgram, 0, i);
            bank.programs.push_back(captureProgram(slot));
        }
        slot.dispatch(vst::effSetProgram, 0, current);
    });
    if (!visited) bank.programs.clear();
    return bank;
}

PresetOutcome applyBank(PluginSlot& slot, const FxBank& bank, const BetweenBlocks& between) {
    if (!slot.effect) return refused(PresetKind::Bank, "No plug-in is loaded.");
    if (bank.isChunk && !usesProgramChunks(slot))
        return refused(PresetKind::Bank, "The file holds the plug-in's own data (a chunk), but this plug-in keeps its "
                                         "sound in parameters and cannot read it.");
    if (!bank.isChunk && bank.programs.empty()) return refused(PresetKind::Bank, "The bank holds no program.");
    PatchChunkInfo info;
    info.pluginUniqueId = bank.fxId;
    info.pluginVersion = bank.fxVersion;
    info.numElements = bank.numPrograms;
    if (slot.dispatch(vst::effBeginLoadBank, 0, 0, &info) == -1)
        return refused(PresetKind::Bank, "The plug-in refuses this bank (it may come from a version it cannot read).");
    const int32_t programs = programCount(slot);
    const bool made = between([&] {
        if (bank.isChunk) {
            slot.setChunk(bank.chunk.data(), static_cast<vst::intptr>(bank.chunk.size()));
            return;
        }
        const int32_t before = currentProgram(slot);
        if (programs <= 1) {
            applyProgramBody(slot, bank.programs[std::min<size_t>(size_t(std::max(bank.currentProgram, 0)),
                                                                  bank.programs.size() - 1)]);
            return;
        }
        for (size_t i = 0; i < bank.programs.size() && i < size_t(programs); ++i) {
            slot.dispatch(vst::effSetProgram, 0, static_cast<vst::intptr>(i));
            applyProgramBody(slot, bank.programs[i]);
        }
        // A version 1 bank names no current program: the plug-in keeps its own.
        const int32_t current = bank.version >= 2 ? bank.currentProgram : before;
        slot.dispatch(vst::effSetProgram, 0, std::clamp(current, 0, programs - 1));
    });
    if (!made) return refused(PresetKind::Bank, busyText(PresetKind::Bank));
    PresetOutcome outcome;
    outcome.ok = true;
    outcome.kind = PresetKind::Bank;
    return outcome;
}

PresetOutcome applyPreset(PluginSlot& slot, const PresetParse& file, const BetweenBlocks& between) {
    if (!file.ok()) return refused(file.kind, presetErrorText(file, presetLimits(slot)));
    if (file.kind == PresetKind::Bank) return applyBank(slot, file.bank, between);
    if (!slot.effect) return refused(PresetKind::Program, "No plug-in is loaded.");
    const FxProgram& program = file.program;
    if (program.isChunk && !usesProgramChunks(slot))
        return refused(PresetKind::Program, "The file holds the plug-in's own data (a chunk), but this plug-in keeps "
                                            "its sound in parameters and cannot read it.");
    PatchChunkInfo info;
    info.pluginUniqueId = program.fxId;
    info.pluginVersion = program.fxVersion;
    info.numElements = program.numParams;
    if (slot.dispatch(vst::effBeginLoadProgram, 0, 0, &info) == -1)
        return refused(PresetKind::Program,
                       "The plug-in refuses this program (it may come from a version it cannot read).");
    const bool made = between([&] {
        slot.dispatch(vst::effBeginSetProgram);
        applyProgramBody(slot, program);
        slot.dispatch(vst::effEndSetProgram);
    });
    if (!made) return refused(PresetKind::Program, busyText(PresetKind::Program));
    PresetOutcome outcome;
    outcome.ok = true;
    return outcome;
}

PresetOutcome loadPresetFile(PluginSlot& slot, const std::filesystem::path& path, const BetweenBlocks& between) {
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    if (error) return refused(PresetKind::Program, "The file cannot be read: " + error.message() + ".");
    if (size > kMaxPresetFileBytes) {
        PresetParse tooLarge;
        tooLarge.error = PresetError::TooLarge;
        return refused(PresetKind::Program, presetErrorText(tooLarge, presetLimits(slot)));
    }
    const auto bytes = platform::readWholeFile(path, kMaxPresetFileBytes);
    if (!bytes) return refused(PresetKind::Program, "The file cannot be read.");
    const PresetParse parse = parsePresetFile(bytes->data(), bytes->size(), presetLimits(slot));
    return applyPreset(slot, parse, between);
}

PresetOutcome savePresetFile(PluginSlot& slot, const std::filesystem::path& path, PresetKind kind,
                             const BetweenBlocks& between) {
    if (!slot.effect) return refused(kind, "No plug-in is loaded.");
    std::vector<uint8_t> bytes;
    if (kind == PresetKind::Bank) {
        const FxBank bank = captureBank(slot, between);
        if (!bank.isChunk && bank.programs.empty()) return refused(kind, busyText(kind));
        bytes = writeFxBank(bank);
    } else {
        bytes = writeFxProgram(captureProgram(slot));
    }
    std::wstring reason;
    if (!platform::writeFileAtomically(path, bytes.data(), bytes.size(), &reason))
        return refused(kind, "The file could not be written: " + platform::wideToUtf8(reason) + ".");
    PresetOutcome outcome;
    outcome.ok = true;
    outcome.kind = kind;
    return outcome;
}

std::vector<std::string> programNames(PluginSlot& slot, const BetweenBlocks& between) {
    const int32_t count = programCount(slot);
    std::vector<std::string> names;
    if (count <= 0) return names;
    names.reserve(static_cast<size_t>(count));
    char buffer[kNameBuffer] = {};
    if (slot.dispatch(vst::effGetProgramNameIndexed, 0, -1, buffer) != 0) {
        names.push_back(cutName(buffer));
        for (int32_t i = 1; i < count; ++i) {
            std::memset(buffer, 0, sizeof buffer);
            slot.dispatch(vst::effGetProgramNameIndexed, i, -1, buffer);
            names.push_back(cutName(buffer));
        }
        return names;
    }
    const int32_t current = currentProgram(slot);
    const bool visited = between([&] {
        for (int32_t i = 0; i < count; ++i) {
            slot.dispatch(vst::effSetProgram, 0, i);
            names.push_back(programNameNow(slot));
        }
        slot.dispatch(vst::effSetProgram, 0, current);
    });
    if (!visited) names.clear();
    // A program the plug-in gives no name still needs a menu item.
    for (size_t i = 0; i < names.size(); ++i)
        if (names[i].empty()) names[i] = "Program " + std::to_string(i + 1);
    return names;
}

bool namesAreIndexed(PluginSlot& slot) {
    char buffer[kNameBuffer] = {};
    return programCount(slot) > 0 && slot.dispatch(vst::effGetProgramNameIndexed, 0, -1, buffer) != 0;
}

bool selectProgram(PluginSlot& slot, int32_t index, const BetweenBlocks& between) {
    if (index < 0 || index >= programCount(slot)) return false;
    return between([&] {
        slot.dispatch(vst::effBeginSetProgram);
        slot.dispatch(vst::effSetProgram, 0, index);
        slot.dispatch(vst::effEndSetProgram);
    });
}

bool renameProgram(PluginSlot& slot, const std::string& name) {
    if (!slot.effect || programCount(slot) <= 0) return false;
    const std::string wanted = name.substr(0, kMaxProgramNameChars);
    setProgramName(slot, wanted);
    const std::string now = programNameNow(slot);
    // Plug-ins keep names of their own length (24 bytes is the published limit): a name cut
    // short by the plug-in counts as taken.
    return !now.empty() && wanted.compare(0, now.size(), now) == 0;
}

std::vector<ProgramGroup> programGroups(int32_t programs) {
    std::vector<ProgramGroup> groups;
    if (programs <= 0) return groups;
    if (programs <= kProgramsPerMenu) {
        groups.push_back({0, programs, {}});
        return groups;
    }
    for (int32_t first = 0; first < programs; first += kProgramsPerMenu) {
        const int32_t count = std::min(kProgramsPerMenu, programs - first);
        groups.push_back({first, count, std::to_string(first + 1) + "-" + std::to_string(first + count)});
    }
    return groups;
}

void DefaultState::capture(PluginSlot& slot) {
    if (!slot.effect) return;
    bank_ = captureBank(slot, directly());
}

PresetOutcome DefaultState::restore(PluginSlot& slot, const BetweenBlocks& between) const {
    if (!bank_) return refused(PresetKind::Bank, "The plug-in's default state was not kept.");
    return applyBank(slot, *bank_, between);
}

bool isPresetFileName(const std::filesystem::path& path) {
    const std::string ext = platform::lowerExtension(path);
    return ext == ".fxp" || ext == ".fxb";
}

}  // namespace vl
