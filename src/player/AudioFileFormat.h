#pragma once
// Vocabulary of the audio file readers and writers: sample layouts, failure reasons, limits,
// and the small pieces of size arithmetic that RIFF and IFF files share.

#include <array>
#include <cstdint>
#include <vector>

namespace vl {

enum class AudioFileType : uint32_t { None = 0, Wav = 1, Aiff = 2 };

// How the sample data of an open file is laid out (stored as a number; 0 = none).
enum class SampleFormat : uint32_t {
    None = 0,
    Mono8 = 1,
    Mono16 = 2,
    Mono24 = 3,
    Mono32 = 4,
    MonoFloat32 = 5,
    Mono64 = 6,
    MonoFloat64 = 7,
    Stereo8 = 8,
    Stereo16 = 9,
    Stereo24 = 10,
    Stereo32 = 11,
    StereoFloat32 = 12,
    Stereo64 = 13,
    StereoFloat64 = 14,
};

// The layout for channels (1 or 2) of containerBytes-sized samples (1, 2, 3, 4 or 8; floats 4 or
// 8); None for anything else.
SampleFormat sampleFormatFor(uint32_t channels, uint32_t containerBytes, bool isFloat);
uint32_t channelsOf(SampleFormat format);
uint32_t bytesPerSampleOf(SampleFormat format);
inline uint32_t bytesPerFrameOf(SampleFormat format) { return channelsOf(format) * bytesPerSampleOf(format); }

// Two float channel arrays owned by the caller. Decoded audio is full scale at +-1.
struct StereoBuffer {
    float* left = nullptr;
    float* right = nullptr;
};

// Why opening, reading or writing a file failed. The engine only sees 0 frames or false; this
// is for tests and tools.
enum class AudioFileError : uint8_t {
    None = 0,
    UnknownFileType,        // the path ends in neither a WAV nor an AIFF extension
    CannotOpen,             // the file could not be opened or created
    ReadFailed,             // a read hit the end of the file or failed
    NotWave,                // no "RIFF" ... "WAVE" header
    NotAiff,                // no "FORM" ... "AIFF"/"AIFC" header
    MalformedChunk,         // a format chunk too short for its fields
    TooManyChunks,          // more chunks than any real file has before its samples
    MissingFormat,          // no "fmt " / "COMM" chunk
    MissingData,            // no "data" / "SSND" chunk
    UnsupportedEncoding,    // format tag, sample width or compression we do not decode
    UnsupportedChannels,    // not mono or stereo
    UnsupportedSampleRate,  // outside kMinSampleRate..kMaxSampleRate
    DataPastEnd,            // the header announces more sample data than the file holds
    NotOpen,                // no file is open for this operation
    MissingBuffer,          // a destination or source array is missing
    InvalidArgument,        // create() with a sample rate or format we cannot write
    WriteFailed,            // a write, flush or close failed
    TooLong,                // more frames than the player holds (kMaxReadFrames)
};
const char* describe(AudioFileError error);

// Sample rates the readers accept and the writers write. The upper bound is far above any
// audio rate and keeps rate arithmetic of the player inside 32 bits.
inline constexpr uint32_t kMinSampleRate = 1;
inline constexpr uint32_t kMaxSampleRate = 0x3FFFFFFF;
// The most frames a reader accepts. The player holds a whole file as two arrays of frames + 1
// floats, so this bounds what one load may allocate (2 GiB for both arrays; about 100 minutes
// at 44.1 kHz) and keeps frames + 1 and every size computed from it far from 32-bit wrap.
inline constexpr uint32_t kMaxReadFrames = uint32_t(1) << 28;
// Chunks a reader walks before it gives up: real files have a handful, and the cap keeps a
// crafted file of millions of empty chunks from keeping the reader busy.
inline constexpr uint32_t kMaxChunks = 4096;

// Bytes that hold one sample of `bits` bits (PCM of 12 or 20 bits sits in 2 or 3 bytes).
constexpr uint32_t bytesForBits(uint32_t bits) { return bits / 8 + (bits % 8 != 0 ? 1 : 0); }
// A RIFF or IFF chunk of an odd size is followed by one pad byte.
constexpr uint64_t paddedChunkSize(uint32_t size) { return uint64_t(size) + (size & 1u); }

// The 80-bit IEEE extended sample rate of AIFF, big-endian. Reading yields the integer part of
// rates from 1 to 2^32 - 1 and 0 for anything else (negative, below 1, too large, not a
// normal number). Writing encodes any whole rate exactly; 0 is encoded as 0.0.
uint32_t decodeExtendedRate(const uint8_t bytes[10]);
std::array<uint8_t, 10> encodeExtendedRate(uint32_t rate);

// The headers the writers put before 16-bit stereo samples. The frame count is clamped to
// what the format's 32-bit size fields can describe, so the sizes never wrap.
inline constexpr uint32_t kWavHeaderBytes = 44;
inline constexpr uint32_t kAiffHeaderBytes = 54;
inline constexpr uint32_t kMaxWavFrames = (0xFFFFFFFFu - 36) / 4;
inline constexpr uint32_t kMaxAiffFrames = (0xFFFFFFFFu - 46) / 4;
std::array<uint8_t, kWavHeaderBytes> wavStereo16Header(uint32_t frames, uint32_t sampleRate);
std::array<uint8_t, kAiffHeaderBytes> aiffStereo16Header(uint32_t frames, uint32_t sampleRate);

// WAV files are also written as 24-bit PCM (Stereo24) and 32-bit IEEE float (StereoFloat32).
// PCM headers are 44 bytes; a float file, not being PCM, has an 18-byte "fmt " (with an empty
// extension) and a "fact" chunk holding the frame count before its "data": 58 bytes.
inline constexpr uint32_t kWavFloatHeaderBytes = 58;
// Header bytes of a WAV written in format, 0 for a format the writer does not write.
uint32_t wavHeaderBytes(SampleFormat format);
// Most frames a WAV of format can describe (0 for a format the writer does not write).
uint32_t maxWavFrames(SampleFormat format);
// The WAV header for frames (clamped to maxWavFrames) of format; empty for a format the writer
// does not write.
std::vector<uint8_t> wavHeader(uint32_t frames, uint32_t sampleRate, SampleFormat format);

}  // namespace vl
