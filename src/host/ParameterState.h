#pragma once
// The state of a plug-in without chunks: its current program and every parameter, in a small
// file of our own ("saved.parameters"). Layout, little-endian:
//   0  "VLPS"            magic
//   4  uint32 version    kParameterStateVersion
//   8  int32  uniqueID   the effect record's, so another plug-in's file is never applied
//  12  int32  program    effGetProgram's answer
//  16  uint32 count      number of parameters
//  20  count × float32   effGetParameter of each, 0..1
// A file of a later version, of another plug-in, or whose length does not match is refused.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "settings/EffectName.h"  // the state folder names

namespace vl {

class PluginSlot;

constexpr uint32_t kParameterStateVersion = 1;
// More parameters than any real plug-in has; a count beyond it marks a damaged file.
constexpr uint32_t kMaxStateParameters = 1u << 20;

struct ParameterState {
    int32_t uniqueId = 0;
    int32_t program = 0;
    std::vector<float> values;
};

// Empty when the plug-in has no parameters (or no getParameter entry).
ParameterState captureParameterState(PluginSlot& slot);
std::vector<uint8_t> encodeParameterState(const ParameterState& state);
std::optional<ParameterState> decodeParameterState(const std::vector<uint8_t>& bytes);
// Sets the program, then each parameter the plug-in has; false (and nothing sent) when the file
// belongs to another plug-in. Values outside 0..1 are clamped, non-finite ones skipped.
bool applyParameterState(PluginSlot& slot, const ParameterState& state);

}  // namespace vl
