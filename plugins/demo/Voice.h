#pragma once
// One voice: two oscillators into the resonant low-pass, shaped by the amplitude envelope,
// with a second envelope sweeping the cutoff.

#include <cstdint>

#include "Envelope.h"
#include "Filter.h"
#include "Oscillator.h"

namespace demo {

// Everything a voice needs from the patch, prepared once per patch or sample-rate change.
struct VoiceSettings {
    double sampleRate = 44100.0;
    float oscMix = 0.0f;
    double detuneRatio = 1.0;  // second oscillator's frequency over the first's
    float cutoffHz = 1000.0f;
    float resonance = 0.0f;
    float envOctaves = 0.0f;
    float velocitySensitivity = 0.0f;
    float gainGlide = 1.0f;  // per-sample share by which a voice's gain follows a new velocity
    EnvelopeSettings amp;
    EnvelopeSettings filter;
};

class Voice {
public:
    // fresh: the voice was silent, so it starts from clean oscillator and filter state. A
    // voice taken over while sounding keeps both and attacks from its present level.
    void start(int note, int velocity, uint64_t order, bool fresh, const VoiceSettings& settings);
    void release();
    void silence();  // at once, no release

    // Adds frames samples to out.
    void render(float* out, int frames, const VoiceSettings& settings, double pitchBend);

    bool active() const { return amp_.active(); }
    bool held() const { return held_; }  // key down (sounding, not yet released)
    bool sustained() const { return sustained_; }
    // Key released while the sustain pedal is down: it keeps sounding until the pedal lifts.
    void holdByPedal() {
        held_ = false;
        sustained_ = true;
    }
    int note() const { return note_; }
    uint64_t order() const { return order_; }  // when it was started; smaller is older
    float level() const { return amp_.level(); }

private:
    void updateControls(const VoiceSettings& settings, double pitchBend);

    Oscillator osc1_, osc2_;
    LowPassFilter filter_;
    Envelope amp_, filterEnv_;
    int note_ = -1;
    uint64_t order_ = 0;
    bool held_ = false;
    bool sustained_ = false;  // key released while the sustain pedal was down
    float gain_ = 0.0f;       // from velocity; glides when a sounding voice is taken over
    float targetGain_ = 0.0f;
    float brightness_ = 0.0f; // filter envelope depth from velocity
    int untilControl_ = 0;    // samples until pitch and cutoff are recomputed
    double increment1_ = 0.0, increment2_ = 0.0;
};

}  // namespace demo
