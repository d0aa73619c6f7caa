#pragma once
// The chunk walk that RIFF (WAV) and IFF (AIFF) files share: 4-byte id, 32-bit size, body, and
// one pad byte after a body of odd size.

#include <cstdint>

#include "player/AudioFileFormat.h"
#include "player/AudioFileSource.h"

namespace vl {

struct ChunkHeader {
    uint8_t id[4] = {};
    uint32_t size = 0;
    uint64_t bodyOffset = 0;  // where the chunk's body starts
};

// Walks the chunks from a start offset to the end of the source. Every step moves forward by at
// least the 8 header bytes and the walk stops after kMaxChunks, so it always ends.
class ChunkWalker {
public:
    enum class Step { Chunk, End, Failed };

    ChunkWalker(ByteSource& source, uint64_t start, bool bigEndian)
        : source(source), position(start), bigEndian(bigEndian) {}

    // The next chunk's header. End when no complete header is left; Failed (with the reason
    // in error) when reading fails or the chunk limit is reached.
    Step next(ChunkHeader& chunk, AudioFileError& error);

private:
    ByteSource& source;
    uint64_t position;
    bool bigEndian;
    uint32_t chunks = 0;
};

// The sample layout a format chunk describes, before it is checked.
struct SampleLayout {
    uint32_t channels = 0;
    uint32_t sampleRate = 0;
    uint32_t bitsPerSample = 0;
    uint32_t containerBytes = 0;  // bytes that hold one sample
    bool isFloat = false;
};

// Checks channels, rate and encoding against what the readers support and gives the
// SampleFormat; AudioFileError::None or the first reason the layout is refused.
AudioFileError sampleFormatOf(const SampleLayout& layout, SampleFormat& format);

// True when `bytes` bytes from offset lie inside the source.
inline bool fitsInSource(const ByteSource& source, uint64_t offset, uint64_t bytes) {
    return offset <= source.size() && bytes <= source.size() - offset;
}

}  // namespace vl
