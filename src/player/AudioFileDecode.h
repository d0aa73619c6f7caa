#pragma once
// Converters between the sample data of WAV / AIFF files and float channel arrays.

#include <cstdint>

#include "player/AudioFileFormat.h"

namespace vl {

// Decodes `frames` whole frames starting at `in` into left[0..frames) and right[0..frames);
// a mono sample goes to both. Integers are scaled so that full scale is +-1 (8-bit by 1/128,
// 16-bit by 2^-15, 24-bit by 2^-23, 32-bit by 2^-31 and 64-bit by 2^-63); floats are taken as
// they are. Nothing is clamped.
using FrameDecoder = void (*)(const uint8_t* in, uint32_t frames, float* left, float* right);

// The decoder for a layout of a file type: WAV is little-endian with unsigned 8-bit samples
// (128 = silence), AIFF big-endian with signed 8-bit samples. Null for SampleFormat::None.
FrameDecoder frameDecoderFor(SampleFormat format, AudioFileType type);

// Encodes frames as interleaved 16-bit left/right samples, each trunc(x * 32767) computed in
// single precision, in the byte order of the file type. x is held at [-1, 1] first and NaN
// becomes 0, so an overshoot never wraps to the opposite sign.
void encodeStereo16(const float* left, const float* right, uint32_t frames, uint8_t* out, AudioFileType type);

// Encodes frames as interleaved left/right samples of format: Stereo16 as above; Stereo24 as
// trunc(x * 8388607) in double precision after the same holding at [-1, 1]; StereoFloat32 as
// the floats themselves, nothing held or changed (values beyond +-1 survive). out takes
// frames * bytesPerFrameOf(format) bytes. False for any other format.
bool encodeStereo(SampleFormat format, const float* left, const float* right, uint32_t frames, uint8_t* out,
                  AudioFileType type);

}  // namespace vl
