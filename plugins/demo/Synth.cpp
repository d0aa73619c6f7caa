#include "Synth.h"

#include <algorithm>
#include <cmath>

namespace demo {

namespace {

// Headroom: eight full-velocity voices in phase stay close to full scale before the clipper.
constexpr float kVoiceGain = 0.25f;
// Below the knee the output is untouched; above it a tanh curve approaches but never passes 1.
constexpr float kClipKnee = 0.75f;
constexpr double kPitchBendSemitones = 2.0;
constexpr double kVolumeGlideSeconds = 0.005;
constexpr double kVoiceGainGlideSeconds = 0.003;

enum MidiStatus : uint8_t { kNoteOff = 0x80, kNoteOn = 0x90, kControlChange = 0xB0, kPitchBend = 0xE0 };
enum Controller : int {
    kSustainPedal = 64,
    kAllSoundOff = 120,
    kResetControllers = 121,
    kAllNotesOff = 123,
    kPolyModeOn = 127,  // 124..127 change the mode and end all notes too
};

float softClip(float x) {
    const float a = std::abs(x);
    if (a <= kClipKnee) return x;
    if (!(a < 1e30f)) return std::isnan(a) ? 0.0f : std::copysign(1.0f, x);
    const float range = 1.0f - kClipKnee;
    return std::copysign(kClipKnee + range * std::tanh((a - kClipKnee) / range), x);
}

// Which voice to take over when all are busy: released voices first (the quietest), then
// those the pedal holds, then held keys; among the latter two the oldest.
int stealRank(const Voice& v) {
    if (!v.held() && !v.sustained()) return 0;
    return v.sustained() ? 1 : 2;
}

bool betterToSteal(const Voice& a, const Voice& b) {
    const int ra = stealRank(a), rb = stealRank(b);
    if (ra != rb) return ra < rb;
    if (ra == 0) return a.level() < b.level();
    return a.order() < b.order();
}

}  // namespace

Synth::Synth() {
    setSampleRate(44100.0);
    setPatch(patchFrom(defaultParamValues()));
    volume_ = patch_.volume;
}

void Synth::setSampleRate(double sampleRate) {
    if (!(sampleRate > 0.0) || !std::isfinite(sampleRate)) return;
    settings_.sampleRate = sampleRate;
    volumeGlide_ = glideCoefficient(kVolumeGlideSeconds, sampleRate);
    setPatch(patch_);  // every time constant depends on the rate
}

void Synth::setPatch(const Patch& p) {
    patch_ = p;
    const double rate = settings_.sampleRate;
    settings_.oscMix = p.oscMix;
    settings_.detuneRatio = std::exp2(p.detuneCents / 1200.0);
    settings_.cutoffHz = p.cutoffHz;
    settings_.resonance = p.resonance;
    settings_.envOctaves = p.envOctaves;
    settings_.velocitySensitivity = p.velocitySensitivity;
    settings_.gainGlide = glideCoefficient(kVoiceGainGlideSeconds, rate);
    settings_.amp = EnvelopeSettings::make(rate, p.attackSeconds, p.decaySeconds, p.sustain, p.releaseSeconds);
    settings_.filter = EnvelopeSettings::make(rate, p.attackSeconds, p.filterDecaySeconds, 0.0f, p.releaseSeconds);
}

void Synth::reset() {
    for (Voice& v : voices_) v.silence();
    pitchBend_ = 1.0;
    sustainPedal_ = false;
    volume_ = patch_.volume;
}

void Synth::handleMidi(const uint8_t message[3]) {
    const int data1 = message[1] & 0x7F;
    const int data2 = message[2] & 0x7F;
    switch (message[0] & 0xF0) {
        case kNoteOff: noteOff(data1); break;
        case kNoteOn:
            if (data2 == 0) noteOff(data1);  // running-status keyboards send note-off this way
            else noteOn(data1, data2);
            break;
        case kControlChange: controlChange(data1, data2); break;
        case kPitchBend: {
            const int bend = ((data2 << 7) | data1) - 8192;
            pitchBend_ = std::exp2(bend / 8192.0 * kPitchBendSemitones / 12.0);
            break;
        }
        default: break;
    }
}

Voice& Synth::voiceFor(int note, bool& fresh) {
    fresh = false;
    // The same key again takes over its own voice, so repeated notes do not stack up.
    for (Voice& v : voices_)
        if (v.active() && v.note() == note) return v;
    for (Voice& v : voices_)
        if (!v.active()) {
            fresh = true;
            return v;
        }
    Voice* victim = &voices_[0];
    for (Voice& v : voices_)
        if (betterToSteal(v, *victim)) victim = &v;
    return *victim;
}

void Synth::noteOn(int note, int velocity) {
    bool fresh = false;
    Voice& v = voiceFor(note, fresh);
    v.start(note, velocity, nextOrder_++, fresh, settings_);
}

void Synth::noteOff(int note) {
    for (Voice& v : voices_) {
        if (!v.active() || !v.held() || v.note() != note) continue;
        if (sustainPedal_) v.holdByPedal();
        else v.release();
    }
}

void Synth::controlChange(int controller, int value) {
    if (controller == kSustainPedal) {
        setSustainPedal(value >= 64);
    } else if (controller == kAllSoundOff) {
        for (Voice& v : voices_) v.silence();
    } else if (controller == kResetControllers) {
        pitchBend_ = 1.0;
        setSustainPedal(false);
    } else if (controller >= kAllNotesOff && controller <= kPolyModeOn) {
        releaseAll();
    }
}

void Synth::releaseAll() {
    for (Voice& v : voices_)
        if (v.active()) v.release();
}

void Synth::setSustainPedal(bool down) {
    sustainPedal_ = down;
    if (down) return;
    for (Voice& v : voices_)
        if (v.active() && v.sustained()) v.release();
}

void Synth::render(float* out, int frames) {
    if (frames <= 0) return;
    std::fill(out, out + frames, 0.0f);
    for (Voice& v : voices_)
        if (v.active()) v.render(out, frames, settings_, pitchBend_);
    const float target = patch_.volume;
    for (int i = 0; i < frames; ++i) {
        glideToward(volume_, target, volumeGlide_);
        out[i] = softClip(out[i] * kVoiceGain * volume_);
    }
}

int Synth::activeVoiceCount() const {
    return static_cast<int>(std::count_if(voices_.begin(), voices_.end(), [](const Voice& v) { return v.active(); }));
}

bool Synth::isSounding(int note) const {
    return std::any_of(voices_.begin(), voices_.end(), [&](const Voice& v) { return v.active() && v.note() == note; });
}

bool Synth::isHeld(int note) const {
    return std::any_of(voices_.begin(), voices_.end(),
                       [&](const Voice& v) { return v.active() && v.held() && v.note() == note; });
}

}  // namespace demo
