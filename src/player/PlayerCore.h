#pragma once
// The player and recorder arithmetic of the process cycle, and the calculations the player
// window makes for the user: plain functions without state.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace vl {

class VLAudioFileBase;

enum PlayState : int32_t { Stopped = 0, Running = 1, Waiting = 2 };

// Writes frames of the loaded file into left and right, reading at playPosition with linear
// interpolation (the arrays hold fileFrames + 1 floats; the extra one repeats frame 0) and
// advancing by step per output frame. At the end a looping file wraps to position 0.0; a
// non-looping one fills the rest of the block with zeros and sets ended. The positions are
// exactly the running sum of step; a sample is x[n] + (x[n+1] - x[n]) * f within 1e-6 of that
// formula in double precision, for samples inside full scale (most frames are computed in
// single precision).
void playerFill(const float* playerLeft, const float* playerRight, uint32_t fileFrames, bool loop, double step,
                double& playPosition, bool& ended, float* left, float* right, uint32_t frames);

// The player's copy of a whole sample file: frames + 1 floats per channel, the last one a copy
// of frame 0 so that interpolation at the last frame reads the first.
struct PlayerSample {
    std::unique_ptr<float[]> left, right;
    uint32_t frames = 0;
};

// Reads every frame of an open file into sample, with all sizes in 64 bits. False, and sample
// empty, for a file of no frames or of more than kMaxReadFrames, when memory is short or when
// reading fails.
bool readPlayerSample(VLAudioFileBase& file, PlayerSample& sample);

// Appends a block to the record buffer up to its capacity; answers the new recorded count.
uint32_t recorderCapture(float* recordLeft, float* recordRight, uint32_t capacity, uint32_t recordedFrames,
                         const float* left, const float* right, uint32_t frames);

// Tempo guessed from a file's length, taking it to be 2, 4, ... 64 beats at 90 to 178 BPM.
std::optional<double> DetectTempo(uint32_t frames, uint32_t fileSampleRate);
// "%.2f BPM" of the tempo rounded to hundredths, or "failed".
std::wstring detectedTempoText(std::optional<double> tempo);

// The maximum-length choices of the recorder ("1 Bar" .. "16 min").
constexpr int kRecordLengthCount = 19;
const wchar_t* recordLengthText(int index);

// Record options ("Start / Stop Options").
enum RecordOption : int32_t {
    RecordManually = 0,
    RecordOnMidiEvent = 1,
    RecordOnPlay = 2,
    RecordWithPlayStop = 3,
};

struct RecordLengthRequest {
    int32_t recordOption = RecordManually;
    int32_t maxLengthIndex = 0;
    bool loopFile = false;
    uint32_t loadedFrames = 0;
    double deviceSampleRate = 44100.0;
    double tempo = 120.0;
    uint32_t fileSampleRate = 0;
    bool fromPlay = false;
};
uint32_t RecordLengthFrames(const RecordLengthRequest& request);

// Time texts of the player window: "m:ss", and "m:ss / max:" for the recorder.
std::wstring playerTimeText(uint32_t frames, double deviceSampleRate);
std::wstring recorderTimeText(uint32_t frames, double deviceSampleRate);

// 300 seconds at the device rate: the buffer of a recording without a length (and never more
// than the player could load back, kMaxReadFrames).
uint32_t recordLimitFrames(double deviceSampleRate);
// 960 seconds, the longest length the player window offers ("16 min"), with the same cap.
uint32_t recordLongestFrames(double deviceSampleRate);
// The recorder's buffer for a recording of maxFrames: all of a chosen length, up to the longest
// entry; 0 (no length) takes recordLimitFrames.
uint32_t recordCapacityFrames(uint32_t maxFrames, double deviceSampleRate);

}  // namespace vl
