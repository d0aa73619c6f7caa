#include "player/AudioFileChunks.h"

#include "player/AudioFileBytes.h"

namespace vl {

ChunkWalker::Step ChunkWalker::next(ChunkHeader& chunk, AudioFileError& error) {
    if (!fitsInSource(source, position, 8)) return Step::End;
    if (chunks >= kMaxChunks) {
        error = AudioFileError::TooManyChunks;
        return Step::Failed;
    }
    uint8_t header[8];
    if (!source.readAt(position, header, sizeof header)) {
        error = AudioFileError::ReadFailed;
        return Step::Failed;
    }
    for (int i = 0; i < 4; ++i) chunk.id[i] = header[i];
    chunk.size = bigEndian ? bytes::loadBE32(header + 4) : bytes::loadLE32(header + 4);
    chunk.bodyOffset = position + 8;
    // 64-bit arithmetic: a size near 4 GB moves past the end of the source instead of wrapping.
    position = chunk.bodyOffset + paddedChunkSize(chunk.size);
    chunks += 1;
    return Step::Chunk;
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

}  // namespace vl
