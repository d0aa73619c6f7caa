// RIFF WAVE: reading PCM and IEEE float files (also in WAVE_FORMAT_EXTENSIBLE form), writing
// 16-bit or 24-bit stereo PCM and 32-bit float stereo.

#include <algorithm>

#include "player/AudioFile.h"
#include "player/AudioFileBytes.h"
#include "player/AudioFileChunks.h"

namespace vl {

namespace {

using namespace bytes;

constexpr uint16_t kTagPcm = 1;
constexpr uint16_t kTagFloat = 3;
constexpr uint16_t kTagExtensible = 0xFFFE;
// The 14 bytes that follow the 16-bit format tag in the sub-format GUID of an extensible "fmt ".
constexpr uint8_t kSubFormatSuffix[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                          0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
constexpr uint32_t kFmtMinBytes = 16;
constexpr uint32_t kFmtExtensibleBytes = 40;

struct WavFormat {
    uint16_t tag = 0;
    uint16_t channels = 0;
    uint32_t sampleRate = 0;
    uint16_t blockAlign = 0;
    uint16_t bitsPerSample = 0;
};

AudioFileError readFmt(ByteSource& source, const ChunkHeader& chunk, WavFormat& fmt) {
    if (chunk.size < kFmtMinBytes) return AudioFileError::MalformedChunk;
    uint8_t body[kFmtExtensibleBytes] = {};
    if (!source.readAt(chunk.bodyOffset, body, std::min(chunk.size, kFmtExtensibleBytes)))
        return AudioFileError::ReadFailed;
    fmt.tag = loadLE16(body);
    fmt.channels = loadLE16(body + 2);
    fmt.sampleRate = loadLE32(body + 4);
    fmt.blockAlign = loadLE16(body + 12);
    fmt.bitsPerSample = loadLE16(body + 14);
    if (fmt.tag == kTagExtensible) {
        // The real tag is the first two bytes of the sub-format GUID; the bits per sample
        // stay the container width, which is how the samples are laid out.
        if (chunk.size < kFmtExtensibleBytes) return AudioFileError::MalformedChunk;
        if (!std::equal(std::begin(kSubFormatSuffix), std::end(kSubFormatSuffix), body + 26))
            return AudioFileError::UnsupportedEncoding;
        fmt.tag = loadLE16(body + 24);
    }
    return AudioFileError::None;
}

}  // namespace

AudioFileError VLAudioFileWAV::parseHeader(ByteSource& source, AudioFileHeader& header) const {
    uint8_t riff[12];
    if (!fitsInSource(source, 0, sizeof riff)) return AudioFileError::NotWave;
    if (!source.readAt(0, riff, sizeof riff)) return AudioFileError::ReadFailed;
    // The RIFF size is not trusted (streaming writers leave it 0 or wrong); the walk goes to
    // the end of the file instead.
    if (!isId(riff, "RIFF") || !isId(riff + 8, "WAVE")) return AudioFileError::NotWave;

    FoundChunks found;
    AudioFileError error = findChunks(source, sizeof riff, false, "fmt ", "data", found);
    if (error != AudioFileError::None) return error;
    WavFormat fmt;
    if ((error = readFmt(source, found.format, fmt)) != AudioFileError::None) return error;
    const ChunkHeader& data = found.data;

    if (fmt.tag != kTagPcm && fmt.tag != kTagFloat) return AudioFileError::UnsupportedEncoding;
    SampleLayout layout;
    layout.channels = fmt.channels;
    layout.sampleRate = fmt.sampleRate;
    layout.bitsPerSample = fmt.bitsPerSample;
    layout.containerBytes = bytesForBits(fmt.bitsPerSample);
    layout.isFloat = fmt.tag == kTagFloat;
    SampleFormat format;
    if ((error = sampleFormatOf(layout, format)) != AudioFileError::None) return error;
    const uint32_t frameBytes = bytesPerFrameOf(format);
    // A block alignment that disagrees with channels and width means a layout we do not know.
    if (fmt.blockAlign != frameBytes) return AudioFileError::UnsupportedEncoding;
    if (!fitsInSource(source, data.bodyOffset, data.size)) return AudioFileError::DataPastEnd;

    header = headerFor(layout, format, data.bodyOffset, data.size / frameBytes);
    return AudioFileError::None;
}

std::vector<uint8_t> VLAudioFileWAV::writerHeader(uint32_t frames, uint32_t sampleRate, SampleFormat format) const {
    return wavHeader(frames, sampleRate, format);
}

}  // namespace vl
