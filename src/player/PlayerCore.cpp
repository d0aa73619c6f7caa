#include "player/PlayerCore.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

#include "player/AudioFile.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define VL_PLAYER_SSE2 1
#endif

namespace vl {

namespace {

// Linear interpolation at position: the difference in single precision, the rest in double.
inline float interpolate(const float* data, double position) {
    const uint32_t n = static_cast<uint32_t>(position);
    const double f = position - static_cast<double>(n);
    const float difference = data[n + 1] - data[n];
    return static_cast<float>(static_cast<double>(difference) * f + static_cast<double>(data[n]));
}

// Positions inside one binade [2^e, 2^(e+1)) are whole multiples of its spacing 2^(e-52), so
// there a position is a 53-bit integer count of that unit. Adding step rounds to a multiple of
// the unit, which is the same as adding step rounded to the unit once (unless step lies exactly
// half way, which is left to the plain sum). Within a binade the sums of the plain loop are
// therefore count + k * increment, exactly: the positions need no chain of dependent additions,
// and a fixed-width chunk of them is computed at once.
struct FixedRun {
    uint64_t count = 0;      // the position in units
    uint64_t increment = 0;  // step in units
    int fractionBits = 0;    // 52 - e: units per frame are 2^fractionBits
    uint32_t frames = 0;     // additions that stay inside the binade (0: none)
};

constexpr uint64_t kBinadeEnd = uint64_t(1) << 53;

// 2^e for e in -1022..1023, built from its bits (ldexp is a library call).
inline double powerOfTwo(int e) { return std::bit_cast<double>(uint64_t(1023 + e) << 52); }

FixedRun fixedRunAt(double position, double step, uint32_t wanted) {
    FixedRun run;
    // Below 1 the binades are short and the unit arithmetic would need more than 52 bits of
    // fraction; those frames take the plain sum.
    if (!(position >= 1.0 && position < 4503599627370496.0) || !(step > 0.0)) return run;
    const int exponent = static_cast<int>(std::bit_cast<uint64_t>(position) >> 52) - 1023;  // position in [2^e, 2^(e+1))
    run.fractionBits = 52 - exponent;
    const double scale = powerOfTwo(run.fractionBits);
    const double units = step * scale;  // exact: a power-of-two scale
    if (!(units < 9.0e15)) return run;
    const auto whole = static_cast<uint64_t>(units);
    const double rest = units - static_cast<double>(whole);  // exact
    if (rest == 0.5) return run;  // a tie: rounding depends on the position's last bit
    run.increment = whole + (rest > 0.5 ? 1 : 0);
    run.count = static_cast<uint64_t>(position * scale);  // exact, in [2^52, 2^53)
    if (run.increment == 0) return run;
    // Every sum must stay below the binade's end (the last one included, since it becomes the
    // next block's position).
    const uint64_t room = (kBinadeEnd - 1 - run.count) / run.increment;
    run.frames = room < wanted ? static_cast<uint32_t>(room) : wanted;
    return run;
}

// Frames of a fixed run, a fixed-width chunk at a time: the positions are split into whole
// frame and fraction in a loop the vectoriser takes, then both channels are interpolated. The
// baseline vector unit has no gather, so with SSE2 each frame and its successor are loaded as
// one pair and four pairs regrouped; the four indices and fractions serve both channels. The
// interpolation runs in single precision, with the fraction cut to its top 24 bits: within
// 1e-6 (some 3e-7 at worst) of the double-precision formula for samples inside full scale, at
// half its cost.
// The positions stay exact.
void interpolateRun(const float* __restrict playerLeft, const float* __restrict playerRight, const FixedRun& run,
                    float* __restrict left, float* __restrict right) {
    constexpr uint32_t kChunk = 64;
    const uint64_t mask = (uint64_t(1) << run.fractionBits) - 1;
    const int shift = run.fractionBits;
    // The fraction's top 24 bits (all of them when there are fewer) as an integer, and its scale.
    const int fractionShift = shift > 24 ? shift - 24 : 0;
    const float fractionScale = static_cast<float>(powerOfTwo(fractionShift - shift));
    uint32_t index[kChunk];
    float fraction[kChunk];
    uint64_t count = run.count;
    for (uint32_t done = 0; done < run.frames; done += kChunk) {
        const uint32_t n = run.frames - done < kChunk ? run.frames - done : kChunk;
        uint64_t at = count;  // an induction the vectoriser steps by whole vectors
        for (uint32_t k = 0; k < n; ++k, at += run.increment) {
            index[k] = static_cast<uint32_t>(at >> shift);
            fraction[k] = static_cast<float>(static_cast<int32_t>((at & mask) >> fractionShift)) * fractionScale;
        }
        count = at;
        float* __restrict outLeft = left + done;
        float* __restrict outRight = right + done;
        uint32_t k = 0;
#if VL_PLAYER_SSE2
        // An unaligned 8-byte load of frames `frame` and `frame + 1`, free of aliasing.
        const auto pair = [](const float* d, uint32_t frame) {
            return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(d + frame));
        };
        const auto interpolate4 = [&pair](const float* d, const uint32_t* at4, __m128 f) {
            const __m128 x01 = _mm_castsi128_ps(_mm_unpacklo_epi64(pair(d, at4[0]), pair(d, at4[1])));
            const __m128 x23 = _mm_castsi128_ps(_mm_unpacklo_epi64(pair(d, at4[2]), pair(d, at4[3])));
            const __m128 here = _mm_shuffle_ps(x01, x23, 0x88);
            const __m128 difference = _mm_sub_ps(_mm_shuffle_ps(x01, x23, 0xDD), here);
            return _mm_add_ps(_mm_mul_ps(difference, f), here);
        };
        for (; k + 4 <= n; k += 4) {
            const __m128 f = _mm_loadu_ps(fraction + k);
            _mm_storeu_ps(outLeft + k, interpolate4(playerLeft, index + k, f));
            _mm_storeu_ps(outRight + k, interpolate4(playerRight, index + k, f));
        }
#endif
        for (; k < n; ++k) {
            const float* l = playerLeft + index[k];
            const float* r = playerRight + index[k];
            outLeft[k] = (l[1] - l[0]) * fraction[k] + l[0];
            outRight[k] = (r[1] - r[0]) * fraction[k] + r[0];
        }
    }
}

}  // namespace

void playerFill(const float* playerLeft, const float* playerRight, uint32_t fileFrames, bool loop, double step,
                double& playPosition, bool& ended, float* left, float* right, uint32_t frames) {
    const double end = static_cast<double>(fileFrames);
    double position = playPosition;
    uint32_t i = 0;
    while (i < frames) {
        if (position >= end) {
            if (!loop) {
                std::memset(left + i, 0, (frames - i) * sizeof(float));
                std::memset(right + i, 0, (frames - i) * sizeof(float));
                ended = true;
                break;
            }
            position = 0.0;  // the fractional overshoot is dropped
        }
        const uint32_t remaining = frames - i;
        const uint32_t whole = static_cast<uint32_t>(position);
        if (step == 1.0 && static_cast<double>(whole) == position) {
            // File and device at one rate: the interpolation reads whole frames, so it is a copy.
            const uint32_t run = std::min(remaining, fileFrames - whole);
            std::memcpy(left + i, playerLeft + whole, run * sizeof(float));
            std::memcpy(right + i, playerRight + whole, run * sizeof(float));
            position += static_cast<double>(run);
            i += run;
            continue;
        }
        // Frames that certainly stay inside the file run without the end test; near the end
        // they go one at a time through it.
        const double safe = std::floor((end - position) / step) - 1.0;
        const uint32_t run = !(safe >= 1.0) ? 1 : (safe >= static_cast<double>(remaining) ? remaining : static_cast<uint32_t>(safe));
        const FixedRun fixed = fixedRunAt(position, step, run);
        if (fixed.frames > 0) {
            interpolateRun(playerLeft, playerRight, fixed, left + i, right + i);
            position = static_cast<double>(fixed.count + uint64_t(fixed.frames) * fixed.increment) *
                       powerOfTwo(-fixed.fractionBits);
            i += fixed.frames;
            continue;
        }
        // Below 1, across a binade's end, or a step half way between two units: the plain sum.
        left[i] = interpolate(playerLeft, position);
        right[i] = interpolate(playerRight, position);
        position += step;
        ++i;
    }
    playPosition = position;
}

bool readPlayerSample(VLAudioFileBase& file, PlayerSample& sample) {
    static_assert((uint64_t(kMaxReadFrames) + 1) * sizeof(float) <= SIZE_MAX, "a player array must be addressable");
    sample = PlayerSample{};
    const uint32_t frames = file.frameCount();
    if (frames == 0 || frames > kMaxReadFrames) return false;
    const size_t count = static_cast<size_t>(uint64_t(frames) + 1);
    std::unique_ptr<float[]> left(new (std::nothrow) float[count]);
    std::unique_ptr<float[]> right(new (std::nothrow) float[count]);
    if (!left || !right || !file.readAll(StereoBuffer{left.get(), right.get()})) return false;
    left[frames] = left[0];
    right[frames] = right[0];
    sample.left = std::move(left);
    sample.right = std::move(right);
    sample.frames = frames;
    return true;
}

uint32_t recorderCapture(float* recordLeft, float* recordRight, uint32_t capacity, uint32_t recordedFrames,
                         const float* left, const float* right, uint32_t frames) {
    if (recordedFrames >= capacity) return recordedFrames;
    const uint32_t room = capacity - recordedFrames;
    const uint32_t n = frames < room ? frames : room;
    std::memcpy(recordLeft + recordedFrames, left, n * sizeof(float));
    std::memcpy(recordRight + recordedFrames, right, n * sizeof(float));
    return recordedFrames + n;
}

std::optional<double> DetectTempo(uint32_t frames, uint32_t fileSampleRate) {
    const double length = static_cast<double>(frames);
    const double rate = static_cast<double>(fileSampleRate);
    for (uint32_t d : {1u, 2u, 4u, 8u, 16u, 32u}) {
        if (length > rate * 0.675 * d && length < rate * 1.325 * d) {
            const uint32_t period = frames / d;
            if (period == 0) return std::nullopt;
            return rate / static_cast<double>(period) * 120.0;
        }
    }
    return std::nullopt;
}

std::wstring detectedTempoText(std::optional<double> tempo) {
    if (!tempo) return L"failed";
    wchar_t text[64];
    std::swprintf(text, 64, L"%.2f BPM", std::floor(*tempo * 100.0 + 0.5) / 100.0);
    return text;
}

const wchar_t* recordLengthText(int index) {
    static const wchar_t* const texts[kRecordLengthCount] = {
        L"1 Bar",  L"2 Bar",  L"3 Bar",  L"4 Bar",  L"5 Bar",  L"6 Bar",  L"7 Bar",  L"8 Bar",  L"12 Bar", L"16 Bar",
        L"24 Bar", L"32 Bar", L"48 Bar", L"64 Bar", L"1 min",  L"2 min",  L"4 min",  L"8 min",  L"16 min"};
    return index >= 0 && index < kRecordLengthCount ? texts[index] : L"";
}

namespace {

uint32_t clampFrames(double frames) {
    if (!(frames > 0.0)) return 0;
    if (frames >= static_cast<double>(std::numeric_limits<uint32_t>::max())) return std::numeric_limits<uint32_t>::max();
    return static_cast<uint32_t>(frames);
}

uint64_t wholeRate(double rate) { return rate > 0.0 ? static_cast<uint64_t>(rate) : 0; }

}  // namespace

uint32_t RecordLengthFrames(const RecordLengthRequest& r) {
    const uint64_t rate = wholeRate(r.deviceSampleRate);
    uint64_t frames = r.loopFile ? rate * 960 : r.loadedFrames;
    if (r.recordOption != RecordWithPlayStop && r.maxLengthIndex >= 0 && r.maxLengthIndex < kRecordLengthCount) {
        static const uint32_t bars[14] = {1, 2, 3, 4, 5, 6, 7, 8, 12, 16, 24, 32, 48, 64};
        static const uint32_t seconds[5] = {60, 120, 240, 480, 960};
        if (r.maxLengthIndex < 14) {
            const double beat = r.tempo > 0.0 ? r.deviceSampleRate / (r.tempo * (1.0 / 60.0)) : 0.0;
            const uint64_t bar = static_cast<uint64_t>(clampFrames(beat)) * 4;
            frames = bar * bars[r.maxLengthIndex];
        } else {
            frames = rate * seconds[r.maxLengthIndex - 14];
        }
    }
    if (r.fromPlay && r.recordOption == RecordWithPlayStop && r.fileSampleRate > 0) {
        return clampFrames(r.deviceSampleRate / static_cast<double>(r.fileSampleRate) * static_cast<double>(frames));
    }
    return frames > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max()
                                                         : static_cast<uint32_t>(frames);
}

namespace {

std::wstring timeText(uint32_t frames, double rate, const wchar_t* suffix) {
    const double exact = rate > 0.0 ? static_cast<double>(frames) / rate + 0.5 : 0.0;
    uint64_t seconds = static_cast<uint64_t>(exact);
    uint64_t minutes = 0;
    if (seconds >= 60) {
        minutes = seconds / 60;
        seconds %= 60;
    }
    wchar_t text[64];
    std::swprintf(text, 64, seconds < 10 ? L"%u:0%u%ls" : L"%u:%u%ls", static_cast<unsigned>(minutes),
                  static_cast<unsigned>(seconds), suffix);
    return text;
}

}  // namespace

std::wstring playerTimeText(uint32_t frames, double deviceSampleRate) { return timeText(frames, deviceSampleRate, L""); }

std::wstring recorderTimeText(uint32_t frames, double deviceSampleRate) {
    return timeText(frames, deviceSampleRate, L" / max:");
}

uint32_t recordLimitFrames(double deviceSampleRate) {
    return std::min(clampFrames(static_cast<double>(wholeRate(deviceSampleRate)) * 300.0), kMaxReadFrames);
}

uint32_t recordLongestFrames(double deviceSampleRate) {
    return std::min(clampFrames(static_cast<double>(wholeRate(deviceSampleRate)) * 960.0), kMaxReadFrames);
}

uint32_t recordCapacityFrames(uint32_t maxFrames, double deviceSampleRate) {
    return maxFrames == 0 ? recordLimitFrames(deviceSampleRate)
                          : std::min(maxFrames, recordLongestFrames(deviceSampleRate));
}

}  // namespace vl
