#pragma once
// The channel pointer arrays handed to processReplacing. A plug-in gets at least as many input
// and output pointers as it declares (many crash with fewer), and its outputs never alias its
// inputs (some sound different when they do): inputs are the engine's two planes plus silent
// scratch planes, outputs are planes of our own, cleared before the call and copied back into
// the engine's planes after it. A plug-in with one output is heard on both sides.
// Everything is allocated by prepare(), at engine start; process() allocates nothing.

#include <cstdint>
#include <memory>
#include <vector>

namespace vl {

class PluginSlot;

class ProcessBuffers {
public:
    // false when the memory cannot be had.
    bool prepare(int32_t numInputs, int32_t numOutputs, uint32_t maxFrames);
    void release();

    // Runs processReplacing on one block of at most maxFrames(): reads the engine's planes
    // in[0], in[1] and writes the plug-in's first two outputs into out[0], out[1].
    void process(PluginSlot& slot, float* const* in, float* const* out, uint32_t frames);

    uint32_t maxFrames() const { return capacity; }

private:
    uint32_t capacity = 0;
    int32_t inputCount = 2;
    int32_t outputCount = 2;
    int32_t declaredOutputs = 2;
    std::unique_ptr<float[]> storage;
    std::vector<float*> inputs;
    std::vector<float*> outputs;
};

}  // namespace vl
