#include "player/AudioFileChunks.h"

#include <algorithm>

#include "player/AudioFileBytes.h"

namespace vl {

AudioFileError findChunks(ByteSource& source, uint64_t start, bool bigEndian, const char (&formatId)[5],
                          const char (&dataId)[5], FoundChunks& found) {
    uint64_t position = start;
    for (uint32_t chunks = 0; !(found.haveFormat && found.haveData); ++chunks) {
        if (!fitsInSource(source, position, 8)) break;
        if (chunks == kMaxChunks) return AudioFileError::TooManyChunks;
        uint8_t header[8];
        if (!source.readAt(position, header, sizeof header)) return AudioFileError::ReadFailed;
        ChunkHeader chunk;
        std::copy(header, header + 4, chunk.id);
        chunk.size = bigEndian ? bytes::loadBE32(header + 4) : bytes::loadLE32(header + 4);
        chunk.bodyOffset = position + 8;
        // 64-bit arithmetic: a size near 4 GB moves past the end of the source instead of wrapping.
        position = chunk.bodyOffset + paddedChunkSize(chunk.size);
        if (!found.haveFormat && bytes::isId(chunk.id, formatId)) {
            found.format = chunk;
            found.haveFormat = true;
        } else if (!found.haveData && bytes::isId(chunk.id, dataId)) {
            found.data = chunk;
            found.haveData = true;
        }
    }
    if (!found.haveFormat) return AudioFileError::MissingFormat;
    if (!found.haveData) return AudioFileError::MissingData;
    return AudioFileError::None;
}

AudioFileError sampleFormatOf(const SampleLayout& layout, SampleFormat& format) {
    format = SampleFormat::None;
    if (layout.channels != 1 && layout.channels != 2) return AudioFileError::UnsupportedChannels;
    if (layout.sampleRate < kMinSampleRate || layout.sampleRate > kMaxSampleRate)
        return AudioFileError::UnsupportedSampleRate;
    // A float sample fills its container exactly; integers of 12 or 20 bits sit left-aligned
    // in 2 or 3 bytes and decode as the container's width.
    if (layout.bitsPerSample == 0 || (layout.isFloat && layout.bitsPerSample != layout.containerBytes * 8))
        return AudioFileError::UnsupportedEncoding;
    format = sampleFormatFor(layout.channels, layout.containerBytes, layout.isFloat);
    return format == SampleFormat::None ? AudioFileError::UnsupportedEncoding : AudioFileError::None;
}

AudioFileHeader headerFor(const SampleLayout& layout, SampleFormat format, uint64_t dataOffset, uint32_t frames) {
    AudioFileHeader header;
    header.dataOffset = dataOffset;
    header.frameCount = frames;
    header.dataBytes = uint64_t(frames) * bytesPerFrameOf(format);
    header.sampleRate = static_cast<int32_t>(layout.sampleRate);
    header.channels = layout.channels;
    header.sampleFormat = format;
    header.bitsPerSample = layout.bitsPerSample;
    return header;
}

}  // namespace vl
