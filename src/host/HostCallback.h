#pragma once
// The host callback ("audioMaster") handed to the plug-in's entry point. Every answer comes
// from one process-wide context, the plug-in slot, so that calls made while the entry point
// is still running are answered like all later ones.

#include <cstdint>
#include <optional>

#include "vst/VstAbi.h"

namespace vl {

class PluginSlot;

// Set when the slot's owner is constructed, before the plug-in is loaded. With no context
// every opcode answers 0.
void setHostContext(PluginSlot* slot);
PluginSlot* hostContext();

vst::intptr VLHostCallback(vst::AEffect* effect, vst::int32 opcode, vst::int32 index, vst::intptr value, void* ptr,
                           float opt);

// A size the plug-in asked for before any window could follow it (plug-ins decide at effOpen
// whether they will ever ask, and some ask right then): the newest one is kept, answered 1, and
// taken by the window when the editor opens. Any thread; none when there was none.
struct EarlyEditorSize {
    int width = 0, height = 0;
};
std::optional<EarlyEditorSize> takeEarlyEditorSize();

constexpr char kHostVendorString[] = "Vorlane";
constexpr char kHostProductString[] = "Vorlane Host";
constexpr vst::intptr kHostVstVersion = 2400;

// How often an opcode was asked that the host deliberately leaves unanswered (answered 0).
// Opcodes above 127 are counted together under 127. For tests and diagnostics.
uint64_t unansweredOpcodeCount(vst::int32 opcode);
void resetUnansweredOpcodeCounts();

}  // namespace vl
