#include "player/PlayerCore.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

#include "player/AudioFile.h"

namespace vl {

namespace {

// Linear interpolation at position: the difference in single precision, the rest in double.
inline float interpolate(const float* data, double position) {
    const uint32_t n = static_cast<uint32_t>(position);
    const double f = position - static_cast<double>(n);
    const float difference = data[n + 1] - data[n];
    return static_cast<float>(static_cast<double>(difference) * f + static_cast<double>(data[n]));
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
        for (uint32_t k = 0; k < run; ++k, ++i) {
            left[i] = interpolate(playerLeft, position);
            right[i] = interpolate(playerRight, position);
            position += step;
        }
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
