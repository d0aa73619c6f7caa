#include "Voice.h"

#include <algorithm>
#include <cmath>

namespace demo {

namespace {

// Pitch and cutoff follow their modulation at this many samples; the filter is smooth enough
// that the steps are inaudible, and it saves a tangent per sample per voice.
constexpr int kControlInterval = 16;

// Keyboard tracking of the cutoff, so that high notes are not duller than low ones.
constexpr double kKeyTracking = 0.5;
constexpr int kTrackingCentre = 60;

// Oscillator increments stay below the band-limiting's limit even for the highest notes at
// the lowest sample rates (those notes then stop rising instead of folding back).
constexpr double kMaxIncrement = 0.45;

double noteFrequency(int note) { return 440.0 * std::exp2((note - 69) / 12.0); }

}  // namespace

void Voice::start(int note, int velocity, uint64_t order, bool fresh, const VoiceSettings& settings) {
    if (fresh) {
        osc1_.reset();
        osc2_.reset();
        filter_.reset();
        amp_.reset();
        filterEnv_.reset();
    }
    note_ = note;
    order_ = order;
    held_ = true;
    sustained_ = false;
    const float v = std::clamp(velocity, 1, 127) / 127.0f;
    const float s = settings.velocitySensitivity;
    targetGain_ = (1.0f - s) + s * v * v;
    // A sounding voice keeps its loudness and glides to the new one: a step would click.
    if (fresh) gain_ = targetGain_;
    brightness_ = (1.0f - s) + s * v;
    untilControl_ = 0;
    amp_.gateOn();
    filterEnv_.gateOn();
}

void Voice::release() {
    held_ = false;
    sustained_ = false;
    amp_.gateOff();
    filterEnv_.gateOff();
}

void Voice::silence() {
    held_ = false;
    sustained_ = false;
    amp_.reset();
    filterEnv_.reset();
    filter_.reset();
}

void Voice::updateControls(const VoiceSettings& s, double pitchBend) {
    const double frequency = noteFrequency(note_) * pitchBend;
    increment1_ = std::min(frequency / s.sampleRate, kMaxIncrement);
    increment2_ = std::min(frequency * s.detuneRatio / s.sampleRate, kMaxIncrement);
    const double octaves =
        s.envOctaves * filterEnv_.level() * brightness_ + kKeyTracking * (note_ - kTrackingCentre) / 12.0;
    filter_.setCutoff(s.cutoffHz * std::exp2(octaves), s.sampleRate, s.resonance);
    filter_.flushTinyStates();
}

void Voice::render(float* out, int frames, const VoiceSettings& s, double pitchBend) {
    // Resonance raises the level around the cutoff; taking some of it back at the input keeps
    // the loudness roughly even across the knob's travel.
    const float drive = 1.0f - 0.4f * s.resonance;
    const float sawLevel = (1.0f - s.oscMix) * drive;
    const float squareLevel = s.oscMix * drive;
    int i = 0;
    while (i < frames && amp_.active()) {
        if (untilControl_ <= 0) {
            updateControls(s, pitchBend);
            untilControl_ = kControlInterval;
        }
        const int run = std::min(frames - i, untilControl_);
        untilControl_ -= run;
        for (const int end = i + run; i < end; ++i) {
            const float source = sawLevel * osc1_.saw(increment1_) + squareLevel * osc2_.square(increment2_);
            filterEnv_.next(s.filter);
            glideToward(gain_, targetGain_, s.gainGlide);
            out[i] += filter_.process(source) * amp_.next(s.amp) * gain_;
        }
    }
    if (!amp_.active()) held_ = sustained_ = false;
}

}  // namespace demo
