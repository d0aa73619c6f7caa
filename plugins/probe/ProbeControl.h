#pragma once
// The probe plug-in's control block: what the probe answers (config) and what it received
// (log). In-process tests reach it through the exported ProbeGetControl(); a host started as
// a separate process configures the probe with a text file named by VORLANE_PROBE_CONFIG and
// gets every call appended as a text line to the file named by VORLANE_PROBE_LOG.
//
// Plain data only: the block is shared across module boundaries.

#include <atomic>
#include <cstdint>

#include "vst/VstAbi.h"

namespace probe {

enum EntryMode : int32_t { EntryNormal = 0, EntryNull = 1, EntryWrongMagic = 2 };

enum ProcessMode : int32_t {
    ProcessSilence = 0,      // every output 0
    ProcessPassThrough = 1,  // output c = input (c mod numInputs), silence without inputs
    ProcessConstant = 2,     // output c = constant + c
    ProcessInputPlusOne = 3, // output c = input (c mod numInputs) + 1 (a plug-in that really works)
};

constexpr int kMaxChunk = 65536;
constexpr int kMaxCalls = 8192;
constexpr int kMaxBlocks = 16384;
constexpr int kMaxEvents = 16384;
constexpr int kMaxChannels = 8;
constexpr int kMaxParams = 64;
constexpr int kMaxPrograms = 128;
constexpr int kProgramNameBytes = 32;
constexpr int kParamNameBytes = 128;

struct Config {
    int32_t entryMode = EntryNormal;
    int32_t callVersionInEntry = 0;  // ask audioMasterVersion from inside the entry point
    int32_t flags = vst::effFlagsCanReplacing;
    int32_t numInputs = 2;
    int32_t numOutputs = 2;
    char effectName[300] = "Probe";
    char vendor[300] = "Probe Makers";
    int32_t canDoReceive = 1;  // answer to "receiveVstMidiEvent"
    int32_t canDoSend = 0;     // answer to "sendVstMidiEvent"
    int32_t canDoAbout = 0;    // answer to "hasAboutScreen"
    // Behave like plug-ins that do nothing useful before effOpen: silence, no chunk, every
    // capability denied.
    int32_t requireOpen = 0;
    int32_t chunkSize = 0;  // 0 = effGetChunk answers 0
    uint8_t chunk[kMaxChunk] = {};
    int32_t hasEditorRect = 1;
    vst::ERect editorRect{0, 0, 200, 300};
    int32_t editOpenAnswer = 1;
    int32_t keyDownAnswer = 0;
    int32_t keyUpAnswer = 0;
    int32_t processMode = ProcessSilence;
    float constant = 0.25f;
    int32_t queryTimePerBlock = 1;  // ask audioMasterGetTime inside every processReplacing
    int32_t editorOwnsKeys = 0;     // the vendor variant's extension answer
    // Parameters (0 = none, the default) and programs; their current values start here.
    int32_t numParams = 0;
    int32_t numPrograms = 0;
    float params[kMaxParams] = {};
    int32_t program = 0;
    // Program names (empty = "Program N"); effGetProgramNameIndexed is answered only while
    // namesIndexed is set (else a host must visit each program), effSetProgramName is taken
    // only while renamable is set.
    char programNames[kMaxPrograms][kProgramNameBytes] = {};
    int32_t namesIndexed = 1;
    int32_t renamable = 1;
    // The program chunk (effGetChunk with index 1); chunk above is the bank's.
    int32_t programChunkSize = 0;
    uint8_t programChunk[kMaxChunk] = {};
    int32_t beginLoadAnswer = 0;  // effBeginLoadBank / effBeginLoadProgram
    // Only every n-th block is written to the text log (a fast test driver writes gigabytes).
    int32_t blockLogInterval = 1;
    // An editor that reports its real size only once open (0 x 0 = keeps editorRect).
    vst::int16 rectAfterOpenWidth = 0, rectAfterOpenHeight = 0;
    // An editor that grows itself: at its first idle call after effEditOpen it takes this size
    // and asks the host for it with audioMasterSizeWindow (0 x 0 = never).
    vst::int16 sizeAtIdleWidth = 0, sizeAtIdleHeight = 0;
    // A plug-in whose blocks take long (a sampler loading a program): from block
    // slowFromBlock on, every processReplacing sleeps slowBlockMs before it returns.
    int32_t slowBlockMs = 0;
    int32_t slowFromBlock = 0;
    // An editor that asks at effOpen whether the host can size its window, and for this size
    // right then (0 x 0 = never).
    vst::int16 sizeAtOpenWidth = 0, sizeAtOpenHeight = 0;
    // A plug-in that floods the host with size requests from its process call: this many per
    // block, alternating between the two sizes (the second 0 x 0 = always the first).
    int32_t sizeFloodPerBlock = 0;
    vst::int16 sizeFloodWidth[2] = {0, 0}, sizeFloodHeight[2] = {0, 0};
    // effFlagsHasEditor is set in the record's flags while hasEditor is (whatever flags says);
    // without it the probe is a plug-in without an editor of its own.
    int32_t hasEditor = 1;
    // Parameter names (empty = "Param N"); texts longer than the published 8 bytes are written
    // whole, as many plug-ins do. The display is the value in percent with two decimals, the
    // label "%".
    char paramNames[kMaxParams][kParamNameBytes] = {};
};

struct Call {
    int32_t opcode;
    int32_t index;
    int64_t value;
    float opt;
    int32_t ptrIsNull;
    int64_t blockCount;  // blocks processed before this call
    char text[64];       // string argument of effCanDo
};

struct Block {
    int32_t frames;
    int32_t inputsAliasOutputs;    // some input pointer equals some output pointer
    int32_t outputsWereClear;      // every output sample was 0 before the probe wrote it
    int32_t pendingEvents;         // events delivered since the previous block
    int32_t timeValid;             // audioMasterGetTime answered a record
    double ppqPos;
    double tempo;
    double sampleRate;
    double samplePos;
    int32_t timeFlags;
    float firstInput[kMaxChannels];  // input c, frame 0
    float lastInput[kMaxChannels];   // input c, last frame
};

struct Event {
    int64_t blockCount;  // blocks processed before the effProcessEvents call
    int32_t type;
    int32_t deltaFrames;
    int32_t flags;
    uint8_t midi[4];
};

struct Log {
    std::atomic<int32_t> callCount{0};
    Call calls[kMaxCalls];
    std::atomic<int64_t> blockCount{0};
    Block blocks[kMaxBlocks];  // block n is at blocks[n % kMaxBlocks]
    std::atomic<int32_t> eventCount{0};
    Event events[kMaxEvents];
    int32_t vstPluginMainCalls = 0;
    int32_t mainCalls = 0;
    int64_t versionAnswerInEntry = -1;
    int32_t opened = 0;
    int32_t closed = 0;
    int32_t setChunkCalls = 0;
    int32_t setChunkSize = -1;
    int32_t setChunkIndex = -1;
    int32_t beginLoadCalls = 0;
    int32_t beginLoadElements = -1;  // numElements of the last effBeginLoad* record
    int32_t beginLoadUniqueId = 0;
    // setParameter, effSetChunk and effSetProgram calls that came while a block ran.
    int32_t changedInsideBlock = 0;
    uint8_t setChunk[kMaxChunk] = {};
    int32_t aboutCalls = 0;
    int32_t helpCalls = 0;
    int32_t updateCalls = 0;
    int32_t ownsKeysCalls = 0;
    int32_t pendingEvents = 0;
    int32_t setParameterCalls = 0;
    int32_t setProgramCalls = 0;
    int64_t sizeWindowAnswer = -1;  // the host's answer to the size request
    std::atomic<int32_t> insideBlock{0};  // processReplacing calls under way
    int32_t closedInsideBlock = 0;        // effClose calls that came while a block ran
};

struct Control {
    Config config;
    Log log;
    vst::audioMasterCallback host = nullptr;
    vst::AEffect* effect = nullptr;
};

// Exported by every probe module.
using GetControlProc = Control* (*)();
using ResetProc = void (*)();
using CallHostProc = vst::intptr (*)(vst::int32 opcode, vst::int32 index, vst::intptr value, void* ptr, float opt);

}  // namespace probe
