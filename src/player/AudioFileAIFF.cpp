// AIFF and AIFC: reading integer AIFF and float AIFC ("fl32", "fl64"), writing 16-bit stereo
// AIFF.

#include <algorithm>

#include "player/AudioFile.h"
#include "player/AudioFileBytes.h"
#include "player/AudioFileChunks.h"

namespace vl {

namespace {

using namespace bytes;

constexpr uint32_t kCommBytes = 18;            // channels, frames, bits, 80-bit rate
constexpr uint32_t kCommCompressedBytes = 22;  // AIFC adds the compression type
constexpr uint32_t kSsndFieldBytes = 8;        // offset and block size before the samples

struct Comm {
    uint16_t channels = 0;
    uint32_t frames = 0;
    uint16_t bitsPerSample = 0;
    uint32_t sampleRate = 0;
    bool isFloat = false;
};

AudioFileError readComm(ByteSource& source, const ChunkHeader& chunk, bool aifc, Comm& comm) {
    // An AIFC COMM of exactly 18 bytes carries no compression type and is read as plain AIFF.
    const bool compressed = aifc && chunk.size > kCommBytes;
    if (chunk.size < (compressed ? kCommCompressedBytes : kCommBytes)) return AudioFileError::MalformedChunk;
    uint8_t body[kCommCompressedBytes] = {};
    if (!source.readAt(chunk.bodyOffset, body, compressed ? kCommCompressedBytes : kCommBytes))
        return AudioFileError::ReadFailed;
    comm.channels = loadBE16(body);
    comm.frames = loadBE32(body + 2);
    comm.bitsPerSample = loadBE16(body + 6);
    comm.sampleRate = decodeExtendedRate(body + 8);
    if (compressed) {
        const uint8_t* type = body + 18;
        // Only the float types are read; "NONE", "sowt" and real codecs are refused.
        const bool float32 = isId(type, "fl32") || isId(type, "FL32");
        const bool float64 = isId(type, "fl64") || isId(type, "FL64");
        if (!float32 && !float64) return AudioFileError::UnsupportedEncoding;
        if (comm.bitsPerSample != (float32 ? 32 : 64)) return AudioFileError::UnsupportedEncoding;
        comm.isFloat = true;
    }
    return AudioFileError::None;
}

}  // namespace

AudioFileError VLAudioFileAIFF::parseHeader(ByteSource& source, AudioFileHeader& header) const {
    uint8_t form[12];
    if (!fitsInSource(source, 0, sizeof form)) return AudioFileError::NotAiff;
    if (!source.readAt(0, form, sizeof form)) return AudioFileError::ReadFailed;
    const bool aifc = isId(form + 8, "AIFC");
    if (!isId(form, "FORM") || !(aifc || isId(form + 8, "AIFF"))) return AudioFileError::NotAiff;

    FoundChunks found;
    AudioFileError error = findChunks(source, sizeof form, true, "COMM", "SSND", found);
    if (error != AudioFileError::None) return error;
    Comm comm;
    if ((error = readComm(source, found.format, aifc, comm)) != AudioFileError::None) return error;
    const ChunkHeader& ssnd = found.data;
    if (ssnd.size < kSsndFieldBytes) return AudioFileError::MalformedChunk;

    SampleLayout layout;
    layout.channels = comm.channels;
    layout.sampleRate = comm.sampleRate;
    layout.bitsPerSample = comm.bitsPerSample;
    layout.containerBytes = bytesForBits(comm.bitsPerSample);
    layout.isFloat = comm.isFloat;
    SampleFormat format;
    if ((error = sampleFormatOf(layout, format)) != AudioFileError::None) return error;

    // The samples begin `offset` bytes after the two SSND fields and must lie inside both the
    // chunk and the file.
    uint8_t fields[kSsndFieldBytes];
    if (!source.readAt(ssnd.bodyOffset, fields, sizeof fields)) return AudioFileError::ReadFailed;
    const uint64_t dataStart = ssnd.bodyOffset + kSsndFieldBytes + loadBE32(fields);
    const uint64_t dataBytes = uint64_t(comm.frames) * bytesPerFrameOf(format);
    const uint64_t chunkEnd = ssnd.bodyOffset + ssnd.size;
    if (dataStart > chunkEnd || dataBytes > chunkEnd - dataStart || !fitsInSource(source, dataStart, dataBytes))
        return AudioFileError::DataPastEnd;

    header = headerFor(layout, format, dataStart, comm.frames);
    return AudioFileError::None;
}

std::vector<uint8_t> VLAudioFileAIFF::writerHeader(uint32_t frames, uint32_t sampleRate, SampleFormat format) const {
    if (format != SampleFormat::Stereo16) return {};
    const auto header = aiffStereo16Header(frames, sampleRate);
    return {header.begin(), header.end()};
}

}  // namespace vl
