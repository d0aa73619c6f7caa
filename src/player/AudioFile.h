#pragma once
// Sample files for the audio player and recorder: WAV and AIFF (AIFC with float samples) are
// read into two float arrays; recordings are written as 16-bit stereo WAV or AIFF (and, for
// offline renders, as 24-bit or 32-bit float stereo WAV).

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

#include "player/AudioFileFormat.h"
#include "player/AudioFileSource.h"

namespace vl {

// What a reader learns from a file's header.
struct AudioFileHeader {
    uint64_t dataOffset = 0;  // byte offset of the first sample frame
    uint64_t dataBytes = 0;   // bytes of sample data readAll converts (whole frames)
    uint32_t frameCount = 0;
    int32_t sampleRate = 0;   // whole hertz
    uint32_t channels = 0;
    SampleFormat sampleFormat = SampleFormat::None;
    uint32_t bitsPerSample = 0;  // as the header states it
};

class VLAudioFileBase {
public:
    virtual ~VLAudioFileBase();
    VLAudioFileBase(const VLAudioFileBase&) = delete;
    VLAudioFileBase& operator=(const VLAudioFileBase&) = delete;

    // Opens a file for reading and parses its header. Returns the frame count, or 0 on any
    // failure (lastError() tells why; the file is then closed), also for a file of more than
    // kMaxReadFrames frames (TooLong). An opened file stays open for readAll until close() or
    // destruction.
    uint32_t openRead(const std::filesystem::path& path);
    // The same over any byte source (memory in tests and fuzzing).
    uint32_t openRead(std::unique_ptr<ByteSource> source);

    // Creates (or truncates) the file and writes a complete header for `frames` frames of
    // stereo at sampleRate: SampleFormat::Stereo16 for both types, and for WAV also Stereo24
    // and StereoFloat32; any other format is refused (InvalidArgument) before anything is
    // created. Frame counts beyond what the format's 32-bit sizes describe are clamped.
    bool create(const std::filesystem::path& path, uint32_t frames, uint32_t sampleRate,
                SampleFormat format = SampleFormat::Stereo16);

    // Converts all sample data into destination.left/right[0 .. frameCount). The arrays must
    // hold frameCount floats each. False without an open file, without both arrays, or when
    // the file cannot be read.
    bool readAll(const StereoBuffer& destination);

    // Appends frames, encoded in the format create() was given, after the header it wrote and
    // closes the file, whether the writing succeeded or not. When fewer frames are written than
    // the header announced (the caller passed fewer, or a write failed), the header sizes are
    // rewritten to what the file holds, so that it stays valid.
    bool writeFrames(const StereoBuffer& source, uint32_t frames);
    // The same, for files created as 16-bit stereo (the recorder's format).
    bool writeStereo16(const StereoBuffer& source, uint32_t frames) { return writeFrames(source, frames); }

    // Flushes a file being written, closes the file; forgets dataOffset, frameCount and
    // bitsPerSample. The other header values stay readable.
    void close();

    bool isOpen() const { return reader != nullptr || writer != nullptr; }
    AudioFileError lastError() const { return error; }
    AudioFileType fileType() const { return type; }
    bool bigEndian() const { return type == AudioFileType::Aiff; }
    bool writing() const { return writer != nullptr; }

    const AudioFileHeader& header() const { return values; }
    uint64_t dataOffset() const { return values.dataOffset; }
    uint64_t dataBytes() const { return values.dataBytes; }
    uint32_t frameCount() const { return values.frameCount; }
    int32_t sampleRate() const { return values.sampleRate; }
    uint32_t channels() const { return values.channels; }
    SampleFormat sampleFormat() const { return values.sampleFormat; }
    uint32_t bitsPerSample() const { return values.bitsPerSample; }

protected:
    explicit VLAudioFileBase(AudioFileType type) : type(type) {}

    // Reads the header of the file in source; AudioFileError::None and the header values, or the
    // reason it cannot be read.
    virtual AudioFileError parseHeader(ByteSource& source, AudioFileHeader& header) const = 0;
    // The header for frames (already clamped to maxWritableFrames) of format; empty when this
    // type does not write that format.
    virtual std::vector<uint8_t> writerHeader(uint32_t frames, uint32_t sampleRate, SampleFormat format) const = 0;
    virtual uint32_t maxWritableFrames(SampleFormat format) const = 0;

private:
    // Records error, closes the file and answers false.
    bool fail(AudioFileError reason);
    // Writes the header for frames at the start of the file.
    bool writeHeaderAtStart(uint32_t frames);
    // Flushes and closes the file being written; false when that fails.
    bool finishWriting();

    const AudioFileType type;
    std::unique_ptr<ByteSource> reader;
    FILE* writer = nullptr;
    AudioFileHeader values;
    AudioFileError error = AudioFileError::None;
};

class VLAudioFileWAV final : public VLAudioFileBase {
public:
    VLAudioFileWAV() : VLAudioFileBase(AudioFileType::Wav) {}

protected:
    AudioFileError parseHeader(ByteSource& source, AudioFileHeader& header) const override;
    std::vector<uint8_t> writerHeader(uint32_t frames, uint32_t sampleRate, SampleFormat format) const override;
    uint32_t maxWritableFrames(SampleFormat format) const override { return maxWavFrames(format); }
};

class VLAudioFileAIFF final : public VLAudioFileBase {
public:
    VLAudioFileAIFF() : VLAudioFileBase(AudioFileType::Aiff) {}

protected:
    AudioFileError parseHeader(ByteSource& source, AudioFileHeader& header) const override;
    std::vector<uint8_t> writerHeader(uint32_t frames, uint32_t sampleRate, SampleFormat format) const override;
    uint32_t maxWritableFrames(SampleFormat format) const override {
        return format == SampleFormat::Stereo16 ? kMaxAiffFrames : 0;
    }
};

// The file type a path names by its last character: 'v' (".wav") is WAV, 'f' (".aif", ".aiff")
// AIFF. ignoreCase also accepts 'V' and 'F'.
AudioFileType audioFileTypeForPath(const std::filesystem::path& path, bool ignoreCase);
std::unique_ptr<VLAudioFileBase> makeAudioFile(AudioFileType type);

// Replaces the object in slot by a reader for path (chosen by the last character, upper or
// lower case) and opens it. The frame count, or 0; the object stays in the slot even then, so
// that lastError() can be asked. A path of any other type leaves the slot empty.
uint32_t OpenAudioFile(std::unique_ptr<VLAudioFileBase>& slot, const std::filesystem::path& path);

// Replaces the object in slot by a writer for path (only a lower-case last character counts)
// and creates the file for frames of stereo in format (16-bit unless told). A path of any other
// type leaves the slot empty, creates nothing and answers false.
bool CreateAudioFile(std::unique_ptr<VLAudioFileBase>& slot, const std::filesystem::path& path, uint32_t frames,
                     uint32_t sampleRate, SampleFormat format = SampleFormat::Stereo16);

}  // namespace vl
