#pragma once
// The instrument: a fixed pool of voices, MIDI handling and the output stage. Everything is
// allocated up front; render() and handleMidi() allocate nothing and take no lock.

#include <array>
#include <cstdint>

#include "Parameters.h"
#include "Voice.h"

namespace demo {

constexpr int kMaxVoices = 16;

class Synth {
public:
    Synth();

    void setSampleRate(double sampleRate);
    double sampleRate() const { return settings_.sampleRate; }
    void setPatch(const Patch& patch);
    // Every voice silent, controllers back to rest.
    void reset();

    // One short MIDI message (status and two data bytes); channels are not told apart.
    void handleMidi(const uint8_t message[3]);

    // Writes frames mono samples into out, each within [-1, 1].
    void render(float* out, int frames);

    int activeVoiceCount() const;
    bool isSounding(int note) const;  // some voice plays this note, held or releasing
    bool isHeld(int note) const;      // ... and it has not been released

private:
    void noteOn(int note, int velocity);
    void noteOff(int note);
    void controlChange(int controller, int value);
    void releaseAll();
    void setSustainPedal(bool down);
    Voice& voiceFor(int note, bool& fresh);

    std::array<Voice, kMaxVoices> voices_{};
    VoiceSettings settings_;
    Patch patch_{};
    uint64_t nextOrder_ = 1;
    double pitchBend_ = 1.0;  // frequency ratio
    bool sustainPedal_ = false;
    float volume_ = 0.0f;     // follows patch_.volume smoothly
    float volumeGlide_ = 1.0f;
};

}  // namespace demo
