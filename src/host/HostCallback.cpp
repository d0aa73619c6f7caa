#include "host/HostCallback.h"

#include <atomic>
#include <cstring>

#include "host/PluginSlot.h"

namespace vl {

namespace {

std::atomic<PluginSlot*> context{nullptr};

// Width in the high, height in the low 16 bits; 0 = none.
std::atomic<uint32_t> earlySize{0};

constexpr int kCountedOpcodes = 128;
std::atomic<uint64_t> unanswered[kCountedOpcodes];

void countUnanswered(vst::int32 opcode) {
    int index = opcode < 0 ? kCountedOpcodes - 1 : (opcode >= kCountedOpcodes ? kCountedOpcodes - 1 : opcode);
    unanswered[index].fetch_add(1, std::memory_order_relaxed);
}

vst::intptr forwardMidiEvents(PluginSlot& slot, const vst::VstEvents* events) {
    if (!events) return 0;
    vst::intptr forwarded = 0;
    for (vst::int32 i = 0; i < events->numEvents; ++i) {
        const vst::VstEvent* event = events->events[i];
        if (!event || event->type != vst::kVstMidiType) continue;  // SysEx is not passed on
        MidiOutHook hook = slot.midiOutHook.load(std::memory_order_acquire);
        if (!hook) break;
        hook(reinterpret_cast<const vst::VstMidiEvent*>(event), slot.midiOutUser.load(std::memory_order_acquire));
        forwarded = 1;
    }
    return forwarded;
}

thread_local int processDepth = 0;

// A sequence lock over the record's words: odd while the writer rewrites them. The words are
// atomics, so a reader that overlaps a write reads a torn copy it then throws away, never
// undefined memory.
constexpr size_t kTimeWords = (sizeof(vst::VstTimeInfo) + sizeof(uint64_t) - 1) / sizeof(uint64_t);
std::atomic<uint64_t> timeSequence{0};
std::atomic<uint64_t> timeWords[kTimeWords];
constexpr int kTimeReadTries = 1000;

const vst::VstTimeInfo* timeForThisThread(PluginSlot& slot) {
    if (onProcessThread()) return &slot.timeInfo;
    thread_local vst::VstTimeInfo copy{};
    if (!readPublishedTimeInfo(copy)) return &slot.timeInfo;  // no cycle has run: nobody rewrites it
    return &copy;
}

vst::intptr copyString(void* ptr, const char* text, size_t sizeWithZero) {
    if (!ptr) return 0;
    std::memcpy(ptr, text, sizeWithZero);
    return 1;
}

}  // namespace

ProcessThreadScope::ProcessThreadScope() { ++processDepth; }
ProcessThreadScope::~ProcessThreadScope() { --processDepth; }
bool onProcessThread() { return processDepth > 0; }

void publishTimeInfo(const vst::VstTimeInfo& time) {
    uint64_t words[kTimeWords] = {};
    std::memcpy(words, &time, sizeof time);
    const uint64_t sequence = timeSequence.load(std::memory_order_relaxed);
    timeSequence.store(sequence + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    for (size_t i = 0; i < kTimeWords; ++i) timeWords[i].store(words[i], std::memory_order_relaxed);
    timeSequence.store(sequence + 2, std::memory_order_release);
}

bool readPublishedTimeInfo(vst::VstTimeInfo& out) {
    uint64_t words[kTimeWords];
    for (int tries = 0; tries < kTimeReadTries; ++tries) {
        const uint64_t before = timeSequence.load(std::memory_order_acquire);
        if (before == 0) return false;
        if (before & 1) continue;
        for (size_t i = 0; i < kTimeWords; ++i) words[i] = timeWords[i].load(std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_acquire);
        if (timeSequence.load(std::memory_order_relaxed) != before) continue;
        std::memcpy(&out, words, sizeof out);
        return true;
    }
    // A writer that never lets a copy through (it cannot: a block writes the record once or
    // twice): the previous copy stays.
    return true;
}

void setHostContext(PluginSlot* slot) { context.store(slot, std::memory_order_release); }

PluginSlot* hostContext() { return context.load(std::memory_order_acquire); }

vst::intptr VLHostCallback(vst::AEffect* /*effect: answers never depend on it*/, vst::int32 opcode,
                           vst::int32 index, vst::intptr value, void* ptr, float opt) {
    PluginSlot* slot = hostContext();
    if (!slot) return 0;

    switch (opcode) {
        case vst::audioMasterAutomate:
            return 1;  // parameter changes are not recorded
        case vst::audioMasterVersion:
            return kHostVstVersion;
        case vst::audioMasterGetTime:
            // The filter bits in value are ignored: the whole record goes back, on the process
            // thread the cycle's own, elsewhere this thread's consistent copy of it.
            return reinterpret_cast<vst::intptr>(timeForThisThread(*slot));
        case vst::audioMasterGetCurrentProcessLevel:
            return onProcessThread() ? 2 : 1;
        case vst::audioMasterProcessEvents:
            return forwardMidiEvents(*slot, static_cast<const vst::VstEvents*>(ptr));
        case vst::audioMasterGetSampleRate:
            // Plug-ins that ask instead of waiting for effSetSampleRate would otherwise play
            // out of tune.
            return static_cast<vst::intptr>(slot->timeInfo.sampleRate);
        case vst::audioMasterGetBlockSize:
            return slot->blockSize();
        case vst::audioMasterGetVendorString:
            return copyString(ptr, kHostVendorString, sizeof kHostVendorString);
        case vst::audioMasterGetProductString:
            return copyString(ptr, kHostProductString, sizeof kHostProductString);
        case vst::audioMasterCanDo: {
            const char* text = static_cast<const char*>(ptr);
            if (!text) return 0;
            // Yes from the first call: a request before the window exists is kept for it.
            if (std::strcmp(text, "sizeWindow") == 0) return 1;
            return (std::strcmp(text, "sendVstMidiEvent") == 0 || std::strcmp(text, "receiveVstMidiEvent") == 0) ? 1
                                                                                                                : 0;
        }
        case vst::audioMasterSizeWindow: {
            // index = width, value = height of the editor the plug-in wants.
            if (index <= 0 || value <= 0 || value > 0x7FFF || index > 0x7FFF) return 0;
            SizeWindowHook hook = slot->sizeWindowHook.load(std::memory_order_acquire);
            if (!hook) {
                earlySize.store((static_cast<uint32_t>(index) << 16) | static_cast<uint32_t>(value),
                                std::memory_order_release);
                return 1;
            }
            return hook(index, static_cast<int>(value), slot->sizeWindowUser.load(std::memory_order_acquire)) ? 1 : 0;
        }
        case vst::audioMasterSetTempoPrivate: {
            TempoHook hook = slot->tempoHook.load(std::memory_order_acquire);
            if (!hook) return 0;
            hook(static_cast<double>(opt), slot->tempoUser.load(std::memory_order_acquire));
            return 1;
        }
        case vst::audioMasterUpdateDisplay:
            // Programs or their names changed: the menus read them again when they next open.
            // Any thread, the audio thread included: one atomic store.
            slot->displayChanged.store(true, std::memory_order_release);
            return 1;
        // Deliberately unanswered, among others: audioMasterIdle (no idle service),
        // audioMasterIOChanged (the host keeps its channel layout),
        // audioMasterGetInputLatency / GetOutputLatency (not known to the engine),
        // audioMasterGetVendorVersion,
        // audioMasterGetDirectory, audioMasterBeginEdit / EndEdit.
        default:
            (void)index;
            (void)value;
            countUnanswered(opcode);
            return 0;
    }
}

std::optional<EarlyEditorSize> takeEarlyEditorSize() {
    const uint32_t size = earlySize.exchange(0, std::memory_order_acq_rel);
    if (size == 0) return std::nullopt;
    return EarlyEditorSize{static_cast<int>(size >> 16), static_cast<int>(size & 0xFFFF)};
}

uint64_t unansweredOpcodeCount(vst::int32 opcode) {
    int i = opcode < 0 ? kCountedOpcodes - 1 : (opcode >= kCountedOpcodes ? kCountedOpcodes - 1 : opcode);
    return unanswered[i].load(std::memory_order_relaxed);
}

void resetUnansweredOpcodeCounts() {
    for (auto& count : unanswered) count.store(0, std::memory_order_relaxed);
}

}  // namespace vl
