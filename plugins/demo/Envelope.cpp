#include "Envelope.h"

#include <algorithm>
#include <cmath>

namespace demo {

namespace {

// How far past its end point a segment aims, relative to the distance it travels. A large
// overshoot makes the attack nearly straight, a small one makes decay and release sound
// exponential while still ending in finite time.
constexpr float kAttackOvershoot = 0.3f;
constexpr float kFallOvershoot = 0.01f;

// Per-sample coefficient of a segment that aims `overshoot` past its end and reaches the end
// after `seconds`.
float segmentCoef(double sampleRate, float seconds, float overshoot) {
    const double samples = std::max(1.0, static_cast<double>(seconds) * sampleRate);
    return static_cast<float>(std::exp(-std::log((1.0 + overshoot) / overshoot) / samples));
}

// Sustain changes while a note is held glide instead of stepping (a click otherwise).
constexpr double kSustainGlideSeconds = 0.01;

}  // namespace

float glideCoefficient(double seconds, double sampleRate) {
    return static_cast<float>(1.0 - std::exp(-1.0 / std::max(1.0, seconds * sampleRate)));
}

EnvelopeSettings EnvelopeSettings::make(double sampleRate, float attackSeconds, float decaySeconds, float sustain,
                                        float releaseSeconds) {
    EnvelopeSettings s;
    s.attackCoef = segmentCoef(sampleRate, attackSeconds, kAttackOvershoot);
    s.decayCoef = segmentCoef(sampleRate, decaySeconds, kFallOvershoot);
    s.sustain = std::clamp(sustain, 0.0f, 1.0f);
    s.releaseCoef = segmentCoef(sampleRate, releaseSeconds, kFallOvershoot);
    s.sustainGlide = glideCoefficient(kSustainGlideSeconds, sampleRate);
    return s;
}

float Envelope::next(const EnvelopeSettings& s) {
    switch (stage_) {
        case Stage::Idle:
            break;
        case Stage::Attack: {
            const float target = 1.0f + kAttackOvershoot;
            level_ = target + (level_ - target) * s.attackCoef;
            if (level_ >= 1.0f) {
                level_ = 1.0f;
                stage_ = Stage::Decay;
            }
            break;
        }
        case Stage::Decay: {
            const float target = s.sustain - kFallOvershoot * (1.0f - s.sustain);
            level_ = target + (level_ - target) * s.decayCoef;
            if (level_ <= s.sustain) {
                level_ = s.sustain;
                stage_ = Stage::Sustain;
            }
            break;
        }
        case Stage::Sustain: {
            glideToward(level_, s.sustain, s.sustainGlide);
            // A held note whose sustain is 0 has nothing more to say: free its voice.
            if (level_ <= 0.0f) reset();
            break;
        }
        case Stage::Release: {
            const float target = -kFallOvershoot;
            level_ = target + (level_ - target) * s.releaseCoef;
            if (level_ <= 0.0f) reset();
            break;
        }
    }
    return level_;
}

}  // namespace demo
