#include "Parameters.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace demo {

namespace {

enum class Scale { Linear, Exponential, Gain };
enum class Unit { Percent, Cents, Hertz, Octaves, Seconds, Decibels };

struct Descriptor {
    const char* name;  // at most kParamTextLength characters
    Scale scale;
    float min;
    float max;
    float defaultPlain;
    Unit unit;
};

// Exponential ranges give equal knob travel to equal ratios, which is how cutoff and times are
// heard. The default patch: a mostly-saw voice whose filter opens on each note and settles, with
// both oscillators in tune so that the pitch is unambiguous; the release stays short enough that
// fast playing does not pile up voices.
constexpr Descriptor kDescriptors[kNumParams] = {
    {"Osc Mix", Scale::Linear, 0.0f, 1.0f, 0.3f, Unit::Percent},
    {"Detune", Scale::Linear, 0.0f, 50.0f, 0.0f, Unit::Cents},
    {"Cutoff", Scale::Exponential, 20.0f, 20000.0f, 1500.0f, Unit::Hertz},
    {"Reso", Scale::Linear, 0.0f, 1.0f, 0.3f, Unit::Percent},
    {"Env Amt", Scale::Linear, 0.0f, 6.0f, 2.0f, Unit::Octaves},
    {"Flt Dec", Scale::Exponential, 0.005f, 5.0f, 0.35f, Unit::Seconds},
    {"Attack", Scale::Exponential, 0.001f, 5.0f, 0.003f, Unit::Seconds},
    {"Decay", Scale::Exponential, 0.005f, 5.0f, 0.4f, Unit::Seconds},
    {"Sustain", Scale::Linear, 0.0f, 1.0f, 0.7f, Unit::Percent},
    {"Release", Scale::Exponential, 0.005f, 5.0f, 0.3f, Unit::Seconds},
    {"Velocity", Scale::Linear, 0.0f, 1.0f, 0.7f, Unit::Percent},
    {"Volume", Scale::Gain, 0.0f, 1.0f, 0.5f, Unit::Decibels},
};

const Descriptor& descriptor(int index) { return kDescriptors[std::clamp(index, 0, kNumParams - 1)]; }

float clamp01(float value) { return std::clamp(value, 0.0f, 1.0f); }

void formatValue(const Descriptor& d, float plain, ParamText& text) {
    const char* label = "";
    char* out = text.value;
    const size_t size = sizeof text.value;
    switch (d.unit) {
        case Unit::Percent:
            std::snprintf(out, size, "%.0f", plain * 100.0f);
            label = "%";
            break;
        case Unit::Cents:
            std::snprintf(out, size, "%.1f", plain);
            label = "cent";
            break;
        case Unit::Hertz:
            if (plain < 1000.0f) {
                std::snprintf(out, size, "%.0f", plain);
                label = "Hz";
            } else {
                std::snprintf(out, size, plain < 10000.0f ? "%.2f" : "%.1f", plain / 1000.0f);
                label = "kHz";
            }
            break;
        case Unit::Octaves:
            std::snprintf(out, size, "%.2f", plain);
            label = "oct";
            break;
        case Unit::Seconds:
            if (plain < 1.0f) {
                std::snprintf(out, size, plain < 0.01f ? "%.1f" : "%.0f", plain * 1000.0f);
                label = "ms";
            } else {
                std::snprintf(out, size, "%.2f", plain);
                label = "s";
            }
            break;
        case Unit::Decibels:
            if (plain <= 1e-6f) std::snprintf(out, size, "-inf");
            else std::snprintf(out, size, "%.1f", 20.0f * std::log10(plain));
            label = "dB";
            break;
    }
    std::snprintf(text.label, sizeof text.label, "%s", label);
    // The host's buffers hold 8 characters: never hand out more, whatever the number was.
    text.value[kParamTextLength] = '\0';
    text.label[kParamTextLength] = '\0';
}

}  // namespace

const char* paramName(int index) { return descriptor(index).name; }

float paramToPlain(int index, float normalized) {
    const Descriptor& d = descriptor(index);
    const float n = clamp01(normalized);
    switch (d.scale) {
        case Scale::Linear: return d.min + (d.max - d.min) * n;
        case Scale::Exponential: return d.min * std::pow(d.max / d.min, n);
        case Scale::Gain: return n * n;
    }
    return d.min;
}

float paramToNormalized(int index, float plain) {
    const Descriptor& d = descriptor(index);
    const float p = std::clamp(plain, d.min, d.max);
    switch (d.scale) {
        case Scale::Linear: return clamp01((p - d.min) / (d.max - d.min));
        case Scale::Exponential: return clamp01(std::log(p / d.min) / std::log(d.max / d.min));
        case Scale::Gain: return clamp01(std::sqrt(p));
    }
    return 0.0f;
}

float paramDefault(int index) { return paramToNormalized(index, descriptor(index).defaultPlain); }

ParamValues defaultParamValues() {
    ParamValues values{};
    for (int i = 0; i < kNumParams; ++i) values[static_cast<size_t>(i)] = paramDefault(i);
    return values;
}

Patch patchFrom(const ParamValues& v) {
    auto plain = [&](ParamId id) { return paramToPlain(id, v[static_cast<size_t>(id)]); };
    Patch p{};
    p.oscMix = plain(kOscMix);
    p.detuneCents = plain(kDetune);
    p.cutoffHz = plain(kCutoff);
    p.resonance = plain(kResonance);
    p.envOctaves = plain(kEnvAmount);
    p.filterDecaySeconds = plain(kFilterDecay);
    p.attackSeconds = plain(kAttack);
    p.decaySeconds = plain(kDecay);
    p.sustain = plain(kSustain);
    p.releaseSeconds = plain(kRelease);
    p.velocitySensitivity = plain(kVelocity);
    p.volume = plain(kVolume);
    return p;
}

void formatParam(int index, float normalized, ParamText& text) {
    formatValue(descriptor(index), paramToPlain(index, normalized), text);
}

ParameterStore::ParameterStore() {
    for (int i = 0; i < kNumParams; ++i) values_[static_cast<size_t>(i)].store(paramDefault(i));
}

bool ParameterStore::set(int index, float normalized) {
    if (index < 0 || index >= kNumParams || std::isnan(normalized)) return false;
    values_[static_cast<size_t>(index)].store(clamp01(normalized), std::memory_order_relaxed);
    generation_.fetch_add(1, std::memory_order_release);
    return true;
}

void ParameterStore::setAll(const ParamValues& values) {
    for (int i = 0; i < kNumParams; ++i)
        values_[static_cast<size_t>(i)].store(clamp01(values[static_cast<size_t>(i)]), std::memory_order_relaxed);
    generation_.fetch_add(1, std::memory_order_release);
}

ParamValues ParameterStore::snapshot() const {
    ParamValues values{};
    for (int i = 0; i < kNumParams; ++i) values[static_cast<size_t>(i)] = get(i);
    return values;
}

}  // namespace demo
