#pragma once
// ADSR envelope with analogue-style exponential segments. Each segment aims past its end
// point and stops there, so every stage takes exactly its set time, the release ends at an
// exact 0 (the voice can then go quiet for good) and no level ever decays into denormals.

namespace demo {

// Per-sample share by which a one-pole smoother closes the gap to its target, for a time
// constant in seconds.
float glideCoefficient(double seconds, double sampleRate);

// One step of such a glide. It lands exactly on the target once a step no longer changes the
// value (float resolution would otherwise stall it just short) or the rest is negligible.
inline void glideToward(float& value, float target, float coefficient) {
    const float next = value + (target - value) * coefficient;
    const float rest = target - next;
    value = (next == value || (rest < 1e-9f && rest > -1e-9f)) ? target : next;
}

// Coefficients shared by every voice; recomputed when the patch or the sample rate changes.
struct EnvelopeSettings {
    float attackCoef = 0.0f;
    float decayCoef = 0.0f;
    float sustain = 1.0f;
    float releaseCoef = 0.0f;
    float sustainGlide = 1.0f;  // how fast a held level follows a changed sustain

    static EnvelopeSettings make(double sampleRate, float attackSeconds, float decaySeconds, float sustain,
                                 float releaseSeconds);
};

class Envelope {
public:
    enum class Stage { Idle, Attack, Decay, Sustain, Release };

    // Starts the attack from the present level, so that a retriggered voice does not jump.
    void gateOn() { stage_ = Stage::Attack; }
    void gateOff() {
        if (stage_ != Stage::Idle) stage_ = Stage::Release;
    }
    void reset() {
        stage_ = Stage::Idle;
        level_ = 0.0f;
    }

    float next(const EnvelopeSettings& s);

    Stage stage() const { return stage_; }
    bool active() const { return stage_ != Stage::Idle; }
    float level() const { return level_; }

private:
    Stage stage_ = Stage::Idle;
    float level_ = 0.0f;
};

}  // namespace demo
