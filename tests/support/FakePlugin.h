#pragma once
// An in-process plug-in for tests and benchmarks that need their own processing or event
// logic: an effect record whose dispatcher and processReplacing call virtual functions.

#include "host/PluginSlot.h"
#include "vst/VstAbi.h"

namespace vltest {

class FakePlugin {
public:
    FakePlugin(vst::int32 numInputs = 2, vst::int32 numOutputs = 2, vst::int32 flags = vst::effFlagsCanReplacing) {
        effect.magic = vst::kEffectMagic;
        effect.dispatcher = &dispatchThunk;
        effect.processReplacing = &processThunk;
        effect.numInputs = numInputs;
        effect.numOutputs = numOutputs;
        effect.flags = flags;
        effect.object = this;
    }
    virtual ~FakePlugin() = default;
    FakePlugin(const FakePlugin&) = delete;
    FakePlugin& operator=(const FakePlugin&) = delete;

    // Puts the plug-in into a slot as if the slot had loaded it. The plug-in must outlive the
    // slot (the slot closes it when it goes away).
    void attach(vl::PluginSlot& slot) { slot.effect = &effect; }

    vst::AEffect effect{};

protected:
    virtual vst::intptr onDispatch(vst::int32 opcode, vst::int32 index, vst::intptr value, void* ptr, float opt) {
        if (opcode == vst::effProcessEvents) onEvents(static_cast<const vst::VstEvents*>(ptr));
        if (opcode == vst::effCanDo && ptr) return canDoAnswer(static_cast<const char*>(ptr));
        return 0;
    }
    virtual vst::intptr canDoAnswer(const char*) { return 1; }
    virtual void onEvents(const vst::VstEvents*) {}
    virtual void onProcess(float** inputs, float** outputs, vst::int32 frames) {
        for (vst::int32 c = 0; c < effect.numOutputs; ++c)
            for (vst::int32 i = 0; i < frames; ++i) outputs[c][i] = 0.0f;
        (void)inputs;
    }

private:
    static vst::intptr dispatchThunk(vst::AEffect* e, vst::int32 opcode, vst::int32 index, vst::intptr value,
                                     void* ptr, float opt) {
        return static_cast<FakePlugin*>(e->object)->onDispatch(opcode, index, value, ptr, opt);
    }
    static void processThunk(vst::AEffect* e, float** inputs, float** outputs, vst::int32 frames) {
        static_cast<FakePlugin*>(e->object)->onProcess(inputs, outputs, frames);
    }
};

}  // namespace vltest
