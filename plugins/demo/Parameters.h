#pragma once
// The demo instrument's parameters: their names, ranges and texts, the plain-unit patch the
// sound engine works from, and the lock-free store shared by the host, the editor and the
// audio thread.

#include <array>
#include <atomic>
#include <cstdint>

namespace demo {

enum ParamId : int {
    kOscMix,       // 0 = saw only, 1 = pulse only
    kDetune,       // second oscillator above the first, in cents
    kCutoff,       // filter cutoff
    kResonance,
    kEnvAmount,    // filter envelope depth, in octaves
    kFilterDecay,  // filter envelope decay (it has no sustain)
    kAttack,
    kDecay,
    kSustain,
    kRelease,
    kVelocity,     // how much velocity changes loudness and brightness
    kVolume,
    kNumParams
};

// Normalised values (0..1), the form the host and the chunk exchange.
using ParamValues = std::array<float, kNumParams>;

// The parameters in plain units.
struct Patch {
    float oscMix;
    float detuneCents;
    float cutoffHz;
    float resonance;  // 0..1
    float envOctaves;
    float filterDecaySeconds;
    float attackSeconds;
    float decaySeconds;
    float sustain;  // 0..1
    float releaseSeconds;
    float velocitySensitivity;  // 0..1
    float volume;               // linear gain
};

// Short texts for the host's parameter queries, which allow 8 characters plus the zero.
constexpr int kParamTextLength = 8;

struct ParamText {
    char value[16];
    char label[16];
};

const char* paramName(int index);
float paramToPlain(int index, float normalized);
float paramToNormalized(int index, float plain);
float paramDefault(int index);  // normalised
ParamValues defaultParamValues();
Patch patchFrom(const ParamValues& values);
// Value text and unit for a normalised value; both fit kParamTextLength.
void formatParam(int index, float normalized, ParamText& text);

// The current parameter values. Written by the host and the editor on the user-interface
// thread, read by the audio thread; the generation counter tells the audio thread that its
// patch is stale without a lock.
class ParameterStore {
public:
    ParameterStore();

    float get(int index) const { return values_[static_cast<size_t>(index)].load(std::memory_order_relaxed); }
    // Clamps to 0..1; a value that is not a number is ignored (answer false).
    bool set(int index, float normalized);
    void setAll(const ParamValues& values);
    ParamValues snapshot() const;
    uint32_t generation() const { return generation_.load(std::memory_order_acquire); }

private:
    std::array<std::atomic<float>, kNumParams> values_;
    std::atomic<uint32_t> generation_{1};
};

}  // namespace demo
