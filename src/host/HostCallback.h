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

// The thread running the process cycle marks itself for the length of each block: the
// plug-in's audioMasterGetCurrentProcessLevel is answered 2 (real-time) there, 1 (user) on
// every other thread. Nests; allocates nothing.
class ProcessThreadScope {
public:
    ProcessThreadScope();
    ~ProcessThreadScope();
    ProcessThreadScope(const ProcessThreadScope&) = delete;
    ProcessThreadScope& operator=(const ProcessThreadScope&) = delete;
};
bool onProcessThread();

// The time information as the process cycle last left it, for the plug-in's
// audioMasterGetTime from other threads: they get a consistent copy of their own, never the
// record the cycle is rewriting. The writer (the process cycle, or the engine start while no
// cycle runs) never waits; one writer at a time.
void publishTimeInfo(const vst::VstTimeInfo& time);
// Any thread but the writer: the last published record; false when none was published yet.
bool readPublishedTimeInfo(vst::VstTimeInfo& out);

// How often an opcode was asked that the host deliberately leaves unanswered (answered 0).
// Opcodes above 127 are counted together under 127. For tests and diagnostics.
uint64_t unansweredOpcodeCount(vst::int32 opcode);
void resetUnansweredOpcodeCounts();

}  // namespace vl
