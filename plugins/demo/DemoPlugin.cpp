// The VST 2.x face of the demo instrument: entry point, effect record and dispatcher. The
// sound comes from Synth; this file translates calls and keeps the threads apart.
//
// Threads: the host calls the dispatcher, setParameter and the editor from its user-interface
// thread while the audio thread runs effProcessEvents and processReplacing, without a lock
// around either. So the user-interface side only writes atomics (parameters, sample rate, a
// reset request) and the audio thread alone touches the synth.

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <new>

#if defined(__x86_64__) || defined(_M_X64)
#include <xmmintrin.h>
#define DEMO_HAS_MXCSR 1
#endif

#include "Chunk.h"
#include "Editor.h"
#include "MidiQueue.h"
#include "Parameters.h"
#include "Synth.h"
#include "vst/VstAbi.h"

#if defined(_WIN32)
#define DEMO_EXPORT extern "C" __declspec(dllexport)
#else
#define DEMO_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace demo {

namespace {

constexpr char kEffectName[] = "Vorlane Demo Synth";
// Not "Vorlane": that vendor string promises the maker's extension block behind the record.
constexpr char kVendor[] = "Vorlane Examples";
constexpr char kProgramName[] = "Default";
constexpr vst::int32 kUniqueId = 0x566C4453;  // 'VlDS'
constexpr vst::int32 kVersion = 1000;
constexpr vst::int32 kPlugCategorySynth = 2;

// Published text limits, including the terminating zero.
constexpr size_t kEffectNameLimit = 32;
constexpr size_t kVendorLimit = 64;
constexpr size_t kProgramNameLimit = 24;
constexpr size_t kParamTextLimit = kParamTextLength + 1;

// Rates outside this band are a host's mistake; the last good rate stays.
constexpr float kMinSampleRate = 8000.0f;
constexpr float kMaxSampleRate = 384000.0f;
constexpr float kDefaultSampleRate = 44100.0f;

// Frames rendered at a time into the mono buffer: blocks of any length need no allocation.
constexpr int kRenderFrames = 256;

void copyText(void* dest, const char* text, size_t limit) {
    if (!dest) return;
    const size_t length = std::min(std::strlen(text), limit - 1);
    std::memcpy(dest, text, length);
    static_cast<char*>(dest)[length] = '\0';
}

// Flush-to-zero and denormals-are-zero while the plug-in renders, restored afterwards: the
// host's own arithmetic on this thread is left as it was.
class DenormalGuard {
public:
#if DEMO_HAS_MXCSR
    DenormalGuard() : saved_(_mm_getcsr()) { _mm_setcsr(saved_ | 0x8040u); }
    ~DenormalGuard() { _mm_setcsr(saved_); }

private:
    unsigned saved_;
#endif
};

class DemoPlugin final : public EditorHost {
public:
    explicit DemoPlugin(vst::audioMasterCallback host);

    vst::intptr dispatch(vst::int32 opcode, vst::int32 index, vst::intptr value, void* ptr, float opt);
    void process(float** outputs, vst::int32 frames, bool accumulate);
    void setParameter(vst::int32 index, float value) { params_.set(index, value); }
    float getParameter(vst::int32 index) const { return validParam(index) ? params_.get(index) : 0.0f; }

    float parameter(int index) const override { return params_.get(index); }
    void beginEdit(int index) override { callHost(vst::audioMasterBeginEdit, index, 0.0f); }
    void editParameter(int index, float normalized) override {
        if (params_.set(index, normalized)) callHost(vst::audioMasterAutomate, index, params_.get(index));
    }
    void endEdit(int index) override { callHost(vst::audioMasterEndEdit, index, 0.0f); }

    vst::AEffect effect{};

private:
    static bool validParam(vst::int32 index) { return index >= 0 && index < kNumParams; }
    void callHost(vst::int32 opcode, vst::int32 index, float opt) {
        if (host_) host_(&effect, opcode, index, 0, nullptr, opt);
    }

    vst::intptr paramText(vst::int32 opcode, vst::int32 index, void* ptr) const;
    vst::intptr getChunk(void** data);
    vst::intptr setChunk(const void* data, vst::intptr size);
    vst::intptr receiveEvents(const vst::VstEvents* events);
    void setSampleRate(float rate);

    // Audio thread.
    void applyControlChanges();
    int takeBlockEvents();
    void writeOutputs(float** outputs, int offset, int frames, bool accumulate) const;

    vst::audioMasterCallback host_;
    ParameterStore params_;
    std::atomic<float> sampleRate_{kDefaultSampleRate};
    std::atomic<bool> resetRequested_{false};
    MidiQueue queue_;
    Editor editor_{*this};
    ChunkBytes chunk_{};  // effGetChunk hands out this buffer; valid until the next call

    // Owned by the audio thread.
    Synth synth_;
    uint32_t patchGeneration_ = 0;
    std::array<MidiMessage, MidiQueue::kCapacity> blockEvents_{};
    std::array<float, kRenderFrames> mono_{};
};

DemoPlugin* instanceOf(vst::AEffect* effect) { return effect ? static_cast<DemoPlugin*>(effect->object) : nullptr; }

vst::intptr dispatcherProc(vst::AEffect* effect, vst::int32 opcode, vst::int32 index, vst::intptr value, void* ptr,
                           float opt) {
    DemoPlugin* plugin = instanceOf(effect);
    if (!plugin) return 0;
    if (opcode == vst::effClose) {
        delete plugin;  // the record dies with it, as the host expects
        return 1;
    }
    return plugin->dispatch(opcode, index, value, ptr, opt);
}

void processReplacingProc(vst::AEffect* effect, float** /*inputs*/, float** outputs, vst::int32 frames) {
    if (DemoPlugin* plugin = instanceOf(effect)) plugin->process(outputs, frames, false);
}

void processAccumulatingProc(vst::AEffect* effect, float** /*inputs*/, float** outputs, vst::int32 frames) {
    if (DemoPlugin* plugin = instanceOf(effect)) plugin->process(outputs, frames, true);
}

void setParameterProc(vst::AEffect* effect, vst::int32 index, float value) {
    if (DemoPlugin* plugin = instanceOf(effect)) plugin->setParameter(index, value);
}

float getParameterProc(vst::AEffect* effect, vst::int32 index) {
    DemoPlugin* plugin = instanceOf(effect);
    return plugin ? plugin->getParameter(index) : 0.0f;
}

DemoPlugin::DemoPlugin(vst::audioMasterCallback host) : host_(host) {
    effect.magic = vst::kEffectMagic;
    effect.dispatcher = &dispatcherProc;
    effect.process = &processAccumulatingProc;
    effect.setParameter = &setParameterProc;
    effect.getParameter = &getParameterProc;
    effect.numPrograms = 1;
    effect.numParams = kNumParams;
    effect.numInputs = 0;
    effect.numOutputs = 2;
    effect.flags = vst::effFlagsIsSynth | vst::effFlagsCanReplacing | vst::effFlagsProgramChunks |
                   (Editor::kAvailable ? vst::effFlagsHasEditor : 0);
    effect.ioRatio = 1.0f;
    effect.object = this;
    effect.uniqueID = kUniqueId;
    effect.version = kVersion;
    effect.processReplacing = &processReplacingProc;
    // Everything is ready now: hosts that never send effOpen get a working instrument too.
    synth_.setSampleRate(kDefaultSampleRate);
}

vst::intptr DemoPlugin::dispatch(vst::int32 opcode, vst::int32 index, vst::intptr value, void* ptr, float opt) {
    switch (opcode) {
        case vst::effOpen:
            return 0;
        case vst::effGetProgram:
            return 0;
        case vst::effGetProgramName:
            copyText(ptr, kProgramName, kProgramNameLimit);
            return 0;
        case vst::effGetProgramNameIndexed:
            if (index != 0) return 0;
            copyText(ptr, kProgramName, kProgramNameLimit);
            return 1;
        case vst::effGetParamLabel:
        case vst::effGetParamDisplay:
        case vst::effGetParamName:
            return paramText(opcode, index, ptr);
        case vst::effSetSampleRate:
            setSampleRate(opt);
            return 0;
        case vst::effSetBlockSize:
            return 0;  // rendering works in fixed internal slices, whatever the block size
        case vst::effMainsChanged:
            // Resuming starts from silence: notes held across a stop would otherwise hang on.
            if (value != 0) resetRequested_.store(true, std::memory_order_release);
            return 0;
        case vst::effEditGetRect:
            if (!ptr || !editor_.rect()) return 0;
            *static_cast<vst::ERect**>(ptr) = const_cast<vst::ERect*>(editor_.rect());
            return 1;
        case vst::effEditOpen:
            return editor_.open(ptr) ? 1 : 0;
        case vst::effEditClose:
            editor_.close();
            return 0;
        case vst::effEditIdle:
            editor_.idle();
            return 0;
        case vst::effGetChunk:
            return getChunk(static_cast<void**>(ptr));
        case vst::effSetChunk:
            return setChunk(ptr, value);
        case vst::effProcessEvents:
            return receiveEvents(static_cast<const vst::VstEvents*>(ptr));
        case vst::effCanBeAutomated:
            return validParam(index) ? 1 : 0;
        case vst::effGetPlugCategory:
            return kPlugCategorySynth;
        case vst::effGetEffectName:
            copyText(ptr, kEffectName, kEffectNameLimit);
            return ptr ? 1 : 0;
        case vst::effGetVendorString:
            copyText(ptr, kVendor, kVendorLimit);
            return ptr ? 1 : 0;
        case vst::effGetProductString:
            copyText(ptr, kEffectName, kVendorLimit);
            return ptr ? 1 : 0;
        case vst::effGetVendorVersion:
            return kVersion;
        case vst::effCanDo:
            return ptr && std::strcmp(static_cast<const char*>(ptr), "receiveVstMidiEvent") == 0 ? 1 : 0;
        case vst::effGetVstVersion:
            return vst::kVstVersion;
        default:
            return 0;
    }
}

vst::intptr DemoPlugin::paramText(vst::int32 opcode, vst::int32 index, void* ptr) const {
    if (!ptr || !validParam(index)) return 0;
    ParamText text{};
    formatParam(index, params_.get(index), text);
    const char* source = opcode == vst::effGetParamName ? paramName(index)
                         : opcode == vst::effGetParamDisplay ? text.value
                                                             : text.label;
    copyText(ptr, source, kParamTextLimit);
    return 1;
}

void DemoPlugin::setSampleRate(float rate) {
    if (!(rate >= kMinSampleRate && rate <= kMaxSampleRate)) return;
    sampleRate_.store(rate, std::memory_order_release);
}

vst::intptr DemoPlugin::getChunk(void** data) {
    if (!data) return 0;
    encodeChunk(params_.snapshot(), chunk_);
    *data = chunk_.data();
    return static_cast<vst::intptr>(chunk_.size());
}

vst::intptr DemoPlugin::setChunk(const void* data, vst::intptr size) {
    if (size <= 0) return 0;
    ParamValues values{};
    if (decodeChunk(data, static_cast<size_t>(size), values) != ChunkError::None) return 0;
    params_.setAll(values);
    return 1;
}

vst::intptr DemoPlugin::receiveEvents(const vst::VstEvents* events) {
    if (!events) return 0;
    for (vst::int32 i = 0; i < events->numEvents; ++i) {
        const vst::VstEvent* event = events->events[i];
        if (!event || event->type != vst::kVstMidiType) continue;
        const auto* midi = reinterpret_cast<const vst::VstMidiEvent*>(event);
        MidiMessage message{};
        message.deltaFrames = std::max<vst::int32>(0, midi->deltaFrames);
        std::memcpy(message.data, midi->midiData, sizeof message.data);
        queue_.push(message);  // a full queue drops the rest: nothing may block here
    }
    return 1;
}

void DemoPlugin::applyControlChanges() {
    if (resetRequested_.exchange(false, std::memory_order_acq_rel)) synth_.reset();
    const float rate = sampleRate_.load(std::memory_order_acquire);
    if (rate != synth_.sampleRate()) synth_.setSampleRate(rate);
    const uint32_t generation = params_.generation();
    if (generation != patchGeneration_) {
        patchGeneration_ = generation;
        synth_.setPatch(patchFrom(params_.snapshot()));
    }
}

int DemoPlugin::takeBlockEvents() {
    int count = 0;
    MidiMessage message{};
    while (count < static_cast<int>(blockEvents_.size()) && queue_.pop(message)) {
        // Insertion keeps arrival order among equal positions; hosts normally send them
        // sorted, which makes this linear.
        int at = count++;
        while (at > 0 && blockEvents_[static_cast<size_t>(at - 1)].deltaFrames > message.deltaFrames) {
            blockEvents_[static_cast<size_t>(at)] = blockEvents_[static_cast<size_t>(at - 1)];
            --at;
        }
        blockEvents_[static_cast<size_t>(at)] = message;
    }
    return count;
}

void DemoPlugin::writeOutputs(float** outputs, int offset, int frames, bool accumulate) const {
    for (int channel = 0; channel < 2; ++channel) {
        float* out = outputs[channel] + offset;
        if (accumulate) {
            for (int i = 0; i < frames; ++i) out[i] += mono_[static_cast<size_t>(i)];
        } else {
            std::copy(mono_.begin(), mono_.begin() + frames, out);
        }
    }
}

void DemoPlugin::process(float** outputs, vst::int32 frames, bool accumulate) {
    if (!outputs || !outputs[0] || !outputs[1] || frames <= 0) return;
    DenormalGuard denormals;
    applyControlChanges();
    const int count = takeBlockEvents();
    int next = 0;
    for (int start = 0; start < frames; start += kRenderFrames) {
        const int end = std::min<int>(frames, start + kRenderFrames);
        int position = start;
        while (position < end) {
            while (next < count && blockEvents_[static_cast<size_t>(next)].deltaFrames <= position)
                synth_.handleMidi(blockEvents_[static_cast<size_t>(next++)].data);
            const int until =
                next < count ? std::min(end, static_cast<int>(blockEvents_[static_cast<size_t>(next)].deltaFrames))
                             : end;
            synth_.render(mono_.data() + (position - start), until - position);
            position = until;
        }
        writeOutputs(outputs, start, end - start, accumulate);
    }
    // Events placed beyond this block take effect before the next one.
    while (next < count) synth_.handleMidi(blockEvents_[static_cast<size_t>(next++)].data);
}

}  // namespace

}  // namespace demo

DEMO_EXPORT vst::AEffect* VSTPluginMain(vst::audioMasterCallback host) {
    auto* plugin = new (std::nothrow) demo::DemoPlugin(host);
    return plugin ? &plugin->effect : nullptr;
}
