#include "host/ProcessBuffers.h"

#include <cstring>
#include <new>

#include "host/PluginSlot.h"

namespace vl {

bool ProcessBuffers::prepare(int32_t numInputs, int32_t numOutputs, uint32_t maxFrames) {
    release();
    if (maxFrames == 0) return false;
    declaredOutputs = numOutputs < 0 ? 0 : numOutputs;
    inputCount = numInputs > 2 ? numInputs : 2;
    outputCount = declaredOutputs > 2 ? declaredOutputs : 2;
    // Inputs 0 and 1 are the engine's planes; every other pointer gets a plane here.
    const size_t planes = static_cast<size_t>(inputCount - 2) + static_cast<size_t>(outputCount);
    try {
        storage.reset(new float[planes * maxFrames]());
        inputs.assign(static_cast<size_t>(inputCount), nullptr);
        outputs.assign(static_cast<size_t>(outputCount), nullptr);
    } catch (const std::bad_alloc&) {
        release();
        return false;
    }
    float* next = storage.get();
    for (int32_t i = 2; i < inputCount; ++i, next += maxFrames) inputs[static_cast<size_t>(i)] = next;
    for (int32_t o = 0; o < outputCount; ++o, next += maxFrames) outputs[static_cast<size_t>(o)] = next;
    capacity = maxFrames;
    return true;
}

void ProcessBuffers::release() {
    capacity = 0;
    storage.reset();
    inputs.clear();
    outputs.clear();
}

void ProcessBuffers::process(PluginSlot& slot, float* const* in, float* const* out, uint32_t frames) {
    if (capacity == 0 || frames > capacity) return;
    const size_t bytes = frames * sizeof(float);
    inputs[0] = in[0];
    inputs[1] = in[1];
    // Scratch inputs are re-silenced: a plug-in may have written into them last time.
    for (int32_t i = 2; i < inputCount; ++i) std::memset(inputs[static_cast<size_t>(i)], 0, bytes);
    for (int32_t o = 0; o < outputCount; ++o) std::memset(outputs[static_cast<size_t>(o)], 0, bytes);

    slot.processReplacing(inputs.data(), outputs.data(), static_cast<int32_t>(frames));

    std::memcpy(out[0], outputs[0], bytes);
    std::memcpy(out[1], outputs[declaredOutputs == 1 ? 0 : 1], bytes);
}

}  // namespace vl
