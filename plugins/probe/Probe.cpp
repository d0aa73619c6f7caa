// The probe plug-in: records every call it receives and answers as its control block says.
// Built in several variants (see CMakeLists.txt): which entry points it exports, and whether
// it is the maker's own plug-in with the vendor extension block.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "ProbeControl.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <time.h>
#endif

#if defined(_WIN32)
#define PROBE_EXPORT extern "C" __declspec(dllexport)
#else
#define PROBE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

#ifndef VL_PROBE_VENDOR
#define VL_PROBE_VENDOR 0
#endif

namespace probe {
namespace {

void sleepMs(int32_t ms) {
#if defined(_WIN32)
    Sleep(static_cast<DWORD>(ms));
#else
    timespec t{ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&t, nullptr);
#endif
}

void setVariantDefaults(Config& config) {
#if VL_PROBE_VENDOR
    std::strcpy(config.vendor, "Vorlane");
    std::strcpy(config.effectName, "Probe Vendor");
#else
    (void)config;
#endif
}

// Static storage: the block lives exactly as long as the module.
Control& ctl() {
    static Control control;
    static bool initialised = false;
    if (!initialised) {
        initialised = true;
        setVariantDefaults(control.config);
    }
    return control;
}

// The effect record, followed by the maker's four extension entries.
struct EffectWithExtension {
    vst::AEffect effect;
    void* extension[4];
};
EffectWithExtension record;

// ---- text file configuration and log, for hosts started as a separate process -------------

FILE* logFile = nullptr;

void logLine(const std::string& line) {
    if (!logFile) return;
    std::fputs(line.c_str(), logFile);
    std::fputc('\n', logFile);
    std::fflush(logFile);
}

void copyText(char* dest, size_t size, const std::string& text) {
    std::strncpy(dest, text.c_str(), size - 1);
    dest[size - 1] = '\0';
}

// The comma-separated texts of value into rows of a text table, from row 0 on.
void copyList(char* table, int rows, size_t rowBytes, const std::string& value) {
    size_t start = 0;
    for (int i = 0; i < rows && start <= value.size(); ++i) {
        size_t end = value.find(',', start);
        if (end == std::string::npos) end = value.size();
        copyText(table + static_cast<size_t>(i) * rowBytes, rowBytes, value.substr(start, end - start));
        start = end + 1;
    }
}

void applyConfigLine(Config& c, const std::string& key, const std::string& value) {
    auto number = [&] { return static_cast<int32_t>(std::strtol(value.c_str(), nullptr, 0)); };
    if (key == "entryMode") c.entryMode = number();
    else if (key == "callVersionInEntry") c.callVersionInEntry = number();
    else if (key == "flags") c.flags = number();
    else if (key == "numInputs") c.numInputs = number();
    else if (key == "numOutputs") c.numOutputs = number();
    else if (key == "effectName") copyText(c.effectName, sizeof c.effectName, value);
    else if (key == "vendor") copyText(c.vendor, sizeof c.vendor, value);
    else if (key == "canDoReceive") c.canDoReceive = number();
    else if (key == "canDoSend") c.canDoSend = number();
    else if (key == "canDoAbout") c.canDoAbout = number();
    else if (key == "requireOpen") c.requireOpen = number();
    else if (key == "chunk") {  // text bytes
        c.chunkSize = static_cast<int32_t>(value.size() < kMaxChunk ? value.size() : kMaxChunk);
        std::memcpy(c.chunk, value.data(), static_cast<size_t>(c.chunkSize));
    } else if (key == "editorRect") {
        if (value == "none") {
            c.hasEditorRect = 0;
        } else {
            int w = 0, h = 0;
            if (std::sscanf(value.c_str(), "%dx%d", &w, &h) == 2) {
                c.hasEditorRect = 1;
                c.editorRect = vst::ERect{0, 0, static_cast<vst::int16>(h), static_cast<vst::int16>(w)};
            }
        }
    } else if (key == "sizeFlood") {  // "WxH" or "WxH,WxH"
        int w[2] = {0, 0}, h[2] = {0, 0};
        if (std::sscanf(value.c_str(), "%dx%d,%dx%d", &w[0], &h[0], &w[1], &h[1]) >= 2) {
            for (int i = 0; i < 2; ++i) {
                c.sizeFloodWidth[i] = static_cast<vst::int16>(w[i]);
                c.sizeFloodHeight[i] = static_cast<vst::int16>(h[i]);
            }
        }
    } else if (key == "sizeFloodPerBlock") c.sizeFloodPerBlock = number();
    else if (key == "rectAfterOpen" || key == "sizeAtIdle" || key == "sizeAtOpen") {
        int w = 0, h = 0;
        if (std::sscanf(value.c_str(), "%dx%d", &w, &h) == 2) {
            vst::int16& width = key == "rectAfterOpen" ? c.rectAfterOpenWidth
                                : key == "sizeAtIdle"  ? c.sizeAtIdleWidth
                                                       : c.sizeAtOpenWidth;
            vst::int16& height = key == "rectAfterOpen" ? c.rectAfterOpenHeight
                                 : key == "sizeAtIdle"  ? c.sizeAtIdleHeight
                                                        : c.sizeAtOpenHeight;
            width = static_cast<vst::int16>(w);
            height = static_cast<vst::int16>(h);
        }
    } else if (key == "editOpen") c.editOpenAnswer = number();
    else if (key == "keyDown") c.keyDownAnswer = number();
    else if (key == "keyUp") c.keyUpAnswer = number();
    else if (key == "processMode") c.processMode = number();
    else if (key == "constant") c.constant = std::strtof(value.c_str(), nullptr);
    else if (key == "editorOwnsKeys") c.editorOwnsKeys = number();
    else if (key == "numParams") c.numParams = number() < kMaxParams ? number() : kMaxParams;
    else if (key == "numPrograms") c.numPrograms = number();
    else if (key == "program") c.program = number();
    else if (key == "blockLogInterval") c.blockLogInterval = number();
    else if (key == "slowBlockMs") c.slowBlockMs = number();
    else if (key == "slowFromBlock") c.slowFromBlock = number();
    else if (key == "namesIndexed") c.namesIndexed = number();
    else if (key == "renamable") c.renamable = number();
    else if (key == "beginLoadAnswer") c.beginLoadAnswer = number();
    else if (key == "programChunk") {  // text bytes
        c.programChunkSize = static_cast<int32_t>(value.size() < kMaxChunk ? value.size() : kMaxChunk);
        std::memcpy(c.programChunk, value.data(), static_cast<size_t>(c.programChunkSize));
    } else if (key == "programNames") {  // comma-separated from program 0 on
        copyList(&c.programNames[0][0], kMaxPrograms, kProgramNameBytes, value);
    } else if (key == "hasEditor") c.hasEditor = number();
    else if (key == "paramNames") {  // comma-separated from parameter 0 on
        copyList(&c.paramNames[0][0], kMaxParams, kParamNameBytes, value);
    } else if (key == "params") {  // comma-separated values from parameter 0 on
        const char* p = value.c_str();
        for (int i = 0; i < kMaxParams && *p; ++i) {
            char* end = nullptr;
            c.params[i] = std::strtof(p, &end);
            if (end == p) break;
            p = *end == ',' ? end + 1 : end;
        }
    }
}

void loadEnvironmentConfig() {
    static bool done = false;
    if (done) return;
    done = true;
    if (const char* path = std::getenv("VORLANE_PROBE_CONFIG")) {
        if (FILE* f = std::fopen(path, "r")) {
            char line[1024];
            while (std::fgets(line, sizeof line, f)) {
                std::string text(line);
                while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
                size_t eq = text.find('=');
                if (eq == std::string::npos || text[0] == '#') continue;
                applyConfigLine(ctl().config, text.substr(0, eq), text.substr(eq + 1));
            }
            std::fclose(f);
        }
    }
    if (const char* path = std::getenv("VORLANE_PROBE_LOG")) logFile = std::fopen(path, "a");
}

// ---- recording ------------------------------------------------------------------------------

void recordCall(vst::int32 opcode, vst::int32 index, vst::intptr value, void* ptr, float opt) {
    Log& log = ctl().log;
    int32_t n = log.callCount.fetch_add(1, std::memory_order_acq_rel);
    if (n < kMaxCalls) {
        Call& call = log.calls[n];
        call.opcode = opcode;
        call.index = index;
        call.value = value;
        call.opt = opt;
        call.ptrIsNull = ptr == nullptr;
        call.blockCount = log.blockCount.load(std::memory_order_acquire);
        call.text[0] = '\0';
        if (opcode == vst::effCanDo && ptr) copyText(call.text, sizeof call.text, static_cast<const char*>(ptr));
    }
    if (logFile) {
        char line[256];
        std::snprintf(line, sizeof line, "call %d %d %lld %g %s", opcode, index, static_cast<long long>(value),
                      static_cast<double>(opt), opcode == vst::effCanDo && ptr ? static_cast<const char*>(ptr) : "");
        logLine(line);
    }
}

bool usable() { return !ctl().config.requireOpen || ctl().log.opened; }

bool editorOpen = false;

void noteChange() {
    if (ctl().log.insideBlock.load() != 0) ctl().log.changedInsideBlock += 1;
}

std::string programName(int32_t index) {
    const Config& cfg = ctl().config;
    if (index < 0 || index >= kMaxPrograms) return {};
    if (cfg.programNames[index][0]) return cfg.programNames[index];
    return "Program " + std::to_string(index + 1);
}

vst::intptr answerCanDo(const char* text) {
    if (!text || !usable()) return 0;
    const Config& c = ctl().config;
    if (std::strcmp(text, "receiveVstMidiEvent") == 0) return c.canDoReceive;
    if (std::strcmp(text, "sendVstMidiEvent") == 0) return c.canDoSend;
    if (std::strcmp(text, "hasAboutScreen") == 0) return c.canDoAbout;
    return 0;
}

void recordEvents(const vst::VstEvents* events) {
    if (!events) return;
    Log& log = ctl().log;
    const int64_t blocks = log.blockCount.load(std::memory_order_acquire);
    for (vst::int32 i = 0; i < events->numEvents; ++i) {
        const vst::VstEvent* e = events->events[i];
        if (!e) continue;
        int32_t n = log.eventCount.fetch_add(1, std::memory_order_acq_rel);
        if (n >= kMaxEvents) continue;
        Event& out = log.events[n];
        out.blockCount = blocks;
        out.type = e->type;
        out.deltaFrames = e->deltaFrames;
        out.flags = e->flags;
        std::memcpy(out.midi, reinterpret_cast<const vst::VstMidiEvent*>(e)->midiData, 4);
        if (logFile) {
            char line[128];
            std::snprintf(line, sizeof line, "event %lld %d %02x %02x %02x", static_cast<long long>(blocks), e->type,
                          out.midi[0], out.midi[1], out.midi[2]);
            logLine(line);
        }
    }
    log.pendingEvents += events->numEvents;
}

vst::intptr dispatcher(vst::AEffect* effect, vst::int32 opcode, vst::int32 index, vst::intptr value, void* ptr,
                       float opt) {
    recordCall(opcode, index, value, ptr, opt);
    Control& c = ctl();
    Config& cfg = c.config;
    switch (opcode) {
        case vst::effOpen:
            c.log.opened += 1;
            if (cfg.sizeAtOpenWidth > 0 && cfg.sizeAtOpenHeight > 0 && c.host) {
                char canDo[] = "sizeWindow";
                const vst::intptr can = c.host(effect, vst::audioMasterCanDo, 0, 0, canDo, 0.0f);
                const vst::intptr answer =
                    can == 1 ? c.host(effect, vst::audioMasterSizeWindow, cfg.sizeAtOpenWidth, cfg.sizeAtOpenHeight, nullptr, 0.0f) : 0;
                // The rectangle stays as it is: only the request can size the window.
                char line[80];
                std::snprintf(line, sizeof line, "sizeatopen %lld %lld", static_cast<long long>(can),
                              static_cast<long long>(answer));
                logLine(line);
            }
            return 0;
        case vst::effClose:
            c.log.closed += 1;
            if (c.log.insideBlock.load() != 0) c.log.closedInsideBlock += 1;
            return 0;
        case vst::effEditGetRect:
            if (ptr && cfg.hasEditorRect) *static_cast<vst::ERect**>(ptr) = &cfg.editorRect;
            return cfg.hasEditorRect;
        case vst::effEditOpen:
            if (cfg.rectAfterOpenWidth > 0 && cfg.rectAfterOpenHeight > 0) {
                cfg.hasEditorRect = 1;
                cfg.editorRect = vst::ERect{0, 0, cfg.rectAfterOpenHeight, cfg.rectAfterOpenWidth};
            }
            editorOpen = cfg.editOpenAnswer != 0;
            return cfg.editOpenAnswer;
        case vst::effEditClose:
            editorOpen = false;
            return 0;
        case vst::effEditIdle:
            if (editorOpen && cfg.sizeAtIdleWidth > 0 && cfg.sizeAtIdleHeight > 0 && c.host &&
                c.log.sizeWindowAnswer < 0) {
                cfg.hasEditorRect = 1;
                cfg.editorRect = vst::ERect{0, 0, cfg.sizeAtIdleHeight, cfg.sizeAtIdleWidth};
                c.log.sizeWindowAnswer =
                    c.host(effect, vst::audioMasterSizeWindow, cfg.sizeAtIdleWidth, cfg.sizeAtIdleHeight, nullptr, 0.0f);
                char line[64];
                std::snprintf(line, sizeof line, "sizewindow %d %d %lld", cfg.sizeAtIdleWidth, cfg.sizeAtIdleHeight,
                              static_cast<long long>(c.log.sizeWindowAnswer));
                logLine(line);
            }
            return 0;
        case vst::effGetChunk:
            if (index == 1) {
                if (!ptr || !usable() || cfg.programChunkSize <= 0) return 0;
                *static_cast<void**>(ptr) = cfg.programChunk;
                return cfg.programChunkSize;
            }
            if (!ptr || !usable() || cfg.chunkSize <= 0) return 0;
            *static_cast<void**>(ptr) = cfg.chunk;
            return cfg.chunkSize;
        case vst::effSetChunk: {
            noteChange();
            c.log.setChunkCalls += 1;
            c.log.setChunkSize = static_cast<int32_t>(value);
            c.log.setChunkIndex = index;
            if (ptr && value > 0) std::memcpy(c.log.setChunk, ptr, static_cast<size_t>(value < kMaxChunk ? value : kMaxChunk));
            if (logFile && ptr && value >= 0) {  // the bytes as text, for hosts in another process
                logLine("chunk " + std::string(static_cast<const char*>(ptr), static_cast<size_t>(value < 200 ? value : 200)));
            }
            return 1;
        }
        case vst::effProcessEvents:
            recordEvents(static_cast<const vst::VstEvents*>(ptr));
            return 1;
        case vst::effGetEffectName:
            if (ptr) std::strcpy(static_cast<char*>(ptr), cfg.effectName);
            return 1;
        case vst::effGetVendorString:
            if (ptr) std::strcpy(static_cast<char*>(ptr), cfg.vendor);
            return 1;
        case vst::effCanDo:
            return answerCanDo(static_cast<const char*>(ptr));
        case vst::effGetProgram:
            return cfg.program;
        case vst::effSetProgram:
            noteChange();
            c.log.setProgramCalls += 1;
            cfg.program = static_cast<int32_t>(value);
            return 0;
        case vst::effGetProgramName:
            if (ptr) copyText(static_cast<char*>(ptr), 25, programName(cfg.program));
            return 0;
        case vst::effGetProgramNameIndexed:
            if (!ptr || !cfg.namesIndexed || index < 0 || index >= cfg.numPrograms) return 0;
            copyText(static_cast<char*>(ptr), 25, programName(index));
            return 1;
        case vst::effSetProgramName:
            if (ptr && cfg.renamable && cfg.program >= 0 && cfg.program < kMaxPrograms) {
                copyText(cfg.programNames[cfg.program], kProgramNameBytes, static_cast<const char*>(ptr));
                logLine(std::string("programname ") + cfg.programNames[cfg.program]);
            }
            return 0;
        case vst::effBeginLoadBank:
        case vst::effBeginLoadProgram:
            c.log.beginLoadCalls += 1;
            if (ptr) {
                int32_t fields[4];
                std::memcpy(fields, ptr, sizeof fields);
                c.log.beginLoadUniqueId = fields[1];
                c.log.beginLoadElements = fields[3];
            }
            return cfg.beginLoadAnswer;
        case vst::effGetParamName:
            if (!ptr || index < 0 || index >= kMaxParams) return 0;
            if (cfg.paramNames[index][0]) std::strcpy(static_cast<char*>(ptr), cfg.paramNames[index]);
            else std::snprintf(static_cast<char*>(ptr), 9, "Param %d", index + 1);
            return 0;
        case vst::effGetParamDisplay:
            if (ptr && index >= 0 && index < kMaxParams)
                std::snprintf(static_cast<char*>(ptr), 9, "%.2f", static_cast<double>(cfg.params[index]) * 100.0);
            return 0;
        case vst::effGetParamLabel:
            if (ptr) std::strcpy(static_cast<char*>(ptr), "%");
            return 0;
        case vst::effEditKeyDown:
            return cfg.keyDownAnswer;
        case vst::effEditKeyUp:
            return cfg.keyUpAnswer;
        default:
            (void)effect;
            return 0;
    }
}

void processReplacing(vst::AEffect* effect, float** inputs, float** outputs, vst::int32 frames) {
    Control& c = ctl();
    const Config& cfg = c.config;
    Log& log = c.log;
    const int64_t n = log.blockCount.load(std::memory_order_acquire);
    log.insideBlock.fetch_add(1);
    Block& b = log.blocks[n % kMaxBlocks];
    const int numIn = effect->numInputs < kMaxChannels ? effect->numInputs : kMaxChannels;
    const int numOut = effect->numOutputs < kMaxChannels ? effect->numOutputs : kMaxChannels;

    b.frames = frames;
    b.pendingEvents = log.pendingEvents;
    log.pendingEvents = 0;
    b.inputsAliasOutputs = 0;
    for (int i = 0; i < numIn; ++i)
        for (int o = 0; o < numOut; ++o)
            if (inputs[i] == outputs[o]) b.inputsAliasOutputs = 1;
    b.outputsWereClear = 1;
    for (int o = 0; o < numOut; ++o)
        for (vst::int32 f = 0; f < frames; ++f)
            if (outputs[o][f] != 0.0f) b.outputsWereClear = 0;
    for (int i = 0; i < kMaxChannels; ++i) {
        b.firstInput[i] = (i < numIn && frames > 0) ? inputs[i][0] : 0.0f;
        b.lastInput[i] = (i < numIn && frames > 0) ? inputs[i][frames - 1] : 0.0f;
    }
    b.timeValid = 0;
    if (cfg.queryTimePerBlock && c.host) {
        auto* time = reinterpret_cast<const vst::VstTimeInfo*>(c.host(effect, vst::audioMasterGetTime, 0, 0, nullptr, 0));
        if (time) {
            b.timeValid = 1;
            b.ppqPos = time->ppqPos;
            b.tempo = time->tempo;
            b.sampleRate = time->sampleRate;
            b.samplePos = time->samplePos;
            b.timeFlags = time->flags;
        }
    }

    if (logFile && (cfg.blockLogInterval <= 1 || n % cfg.blockLogInterval == 0)) {
        char line[256];
        std::snprintf(line, sizeof line, "block %lld %d %.17g %.17g %d %.9g %.9g %.17g", static_cast<long long>(n), frames,
                      b.ppqPos, b.tempo, b.timeFlags, static_cast<double>(b.firstInput[0]),
                      static_cast<double>(b.lastInput[0]), b.sampleRate);
        logLine(line);
    }

    // Size requests from the audio thread, as some editors make them.
    if (cfg.sizeFloodPerBlock > 0 && c.host) {
        for (int32_t i = 0; i < cfg.sizeFloodPerBlock; ++i) {
            const int which = (i % 2 == 1 && cfg.sizeFloodWidth[1] > 0) ? 1 : 0;
            c.host(effect, vst::audioMasterSizeWindow, cfg.sizeFloodWidth[which], cfg.sizeFloodHeight[which], nullptr, 0.0f);
        }
    }

    const bool active = usable();
    for (int o = 0; o < effect->numOutputs; ++o) {
        float* out = outputs[o];
        const float* in = effect->numInputs > 0 ? inputs[o % effect->numInputs] : nullptr;
        for (vst::int32 f = 0; f < frames; ++f) {
            float v = 0.0f;
            if (active) {
                switch (cfg.processMode) {
                    case ProcessPassThrough: v = in ? in[f] : 0.0f; break;
                    case ProcessConstant: v = cfg.constant + static_cast<float>(o); break;
                    case ProcessInputPlusOne: v = (in ? in[f] : 0.0f) + 1.0f; break;
                    default: v = 0.0f; break;
                }
            }
            out[f] = v;
        }
    }
    if (cfg.slowBlockMs > 0 && n >= cfg.slowFromBlock) sleepMs(cfg.slowBlockMs);
    log.blockCount.store(n + 1, std::memory_order_release);
    log.insideBlock.fetch_sub(1);
}

void setParameter(vst::AEffect*, vst::int32 index, float value) {
    Control& c = ctl();
    noteChange();
    c.log.setParameterCalls += 1;
    if (index >= 0 && index < kMaxParams) c.config.params[index] = value;
    if (logFile) {
        char line[64];
        std::snprintf(line, sizeof line, "param %d %.9g", index, static_cast<double>(value));
        logLine(line);
    }
}

float getParameter(vst::AEffect*, vst::int32 index) {
    return index >= 0 && index < kMaxParams ? ctl().config.params[index] : 0.0f;
}

// ---- the maker's extension entries ------------------------------------------------------------

void showAboutScreen(vst::AEffect*) { ctl().log.aboutCalls += 1; }
void showHelp(vst::AEffect*) { ctl().log.helpCalls += 1; }
void checkForUpdates(vst::AEffect*) { ctl().log.updateCalls += 1; }
bool editorOwnsKeys(vst::AEffect*) {
    ctl().log.ownsKeysCalls += 1;
    return ctl().config.editorOwnsKeys != 0;
}

}  // namespace

// Shared by both exported entry points; which one was used is recorded.
extern "C" vst::AEffect* vl_probe_entry(vst::audioMasterCallback host, int viaMain) {
    loadEnvironmentConfig();
    Control& c = ctl();
    if (viaMain) c.log.mainCalls += 1;
    else c.log.vstPluginMainCalls += 1;
    logLine(viaMain ? "entry main" : "entry VSTPluginMain");
    c.host = host;
    if (c.config.callVersionInEntry && host) {
        c.log.versionAnswerInEntry = host(nullptr, vst::audioMasterVersion, 0, 0, nullptr, 0.0f);
    }
    if (c.config.entryMode == EntryNull) return nullptr;

    std::memset(&record, 0, sizeof record);
    vst::AEffect& e = record.effect;
    e.magic = c.config.entryMode == EntryWrongMagic ? 0x12345678 : vst::kEffectMagic;
    e.dispatcher = &dispatcher;
    e.processReplacing = &processReplacing;
    e.setParameter = &setParameter;
    e.getParameter = &getParameter;
    e.numParams = c.config.numParams;
    e.numPrograms = c.config.numPrograms;
    e.numInputs = c.config.numInputs;
    e.numOutputs = c.config.numOutputs;
    e.flags = c.config.hasEditor ? (c.config.flags | vst::effFlagsHasEditor) : (c.config.flags & ~vst::effFlagsHasEditor);
    e.uniqueID = 0x50726F62;  // 'Prob'
    e.version = 1;
#if VL_PROBE_VENDOR
    record.extension[0] = reinterpret_cast<void*>(&showAboutScreen);
    record.extension[1] = reinterpret_cast<void*>(&showHelp);
    record.extension[2] = reinterpret_cast<void*>(&checkForUpdates);
    record.extension[3] = reinterpret_cast<void*>(&editorOwnsKeys);
#else
    // A foreign plug-in: whatever lies behind its record must never be called.
    (void)&showAboutScreen; (void)&showHelp; (void)&checkForUpdates; (void)&editorOwnsKeys;
    std::memset(record.extension, 0xCC, sizeof record.extension);
#endif
    c.effect = &e;
    return &e;
}

}  // namespace probe

PROBE_EXPORT probe::Control* ProbeGetControl() { return &probe::ctl(); }

PROBE_EXPORT void ProbeReset() {
    probe::Control& c = probe::ctl();
    c.config.~Config();
    new (&c.config) probe::Config();
    probe::setVariantDefaults(c.config);
    c.log.~Log();
    new (&c.log) probe::Log();
    probe::editorOpen = false;
}

PROBE_EXPORT vst::intptr ProbeCallHost(vst::int32 opcode, vst::int32 index, vst::intptr value, void* ptr, float opt) {
    probe::Control& c = probe::ctl();
    if (!c.host) return -12345;
    return c.host(c.effect, opcode, index, value, ptr, opt);
}

#if VL_PROBE_EXPORT_VSTPLUGINMAIN
PROBE_EXPORT vst::AEffect* VSTPluginMain(vst::audioMasterCallback host) { return probe::vl_probe_entry(host, 0); }
#endif
