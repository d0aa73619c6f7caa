#pragma once
// The chunk walk that RIFF (WAV) and IFF (AIFF) files share: 4-byte id, 32-bit size, body, and
// one pad byte after a body of odd size.

#include <cstdint>

#include "player/AudioFile.h"
#include "player/AudioFileFormat.h"
#include "player/AudioFileSource.h"

namespace vl {

struct ChunkHeader {
    uint8_t id[4] = {};
    uint32_t size = 0;
    uint64_t bodyOffset = 0;  // where the chunk's body starts
};

// The two chunks a reader needs: the one that describes the samples ("fmt ", "COMM") and the
// one that holds them ("data", "SSND"). The first chunk of each id counts.
struct FoundChunks {
    ChunkHeader format, data;
    bool haveFormat = false, haveData = false;
};

// Walks the chunks from start until both are found or no complete chunk header is left. Every
// step moves forward by at least the 8 header bytes, and after kMaxChunks chunks the walk gives
// up (TooManyChunks), so it always ends. A missing chunk is reported as MissingFormat or
// MissingData.
AudioFileError findChunks(ByteSource& source, uint64_t start, bool bigEndian, const char (&formatId)[5],
                          const char (&dataId)[5], FoundChunks& found);

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

// The header of a file whose layout sampleFormatOf accepted, with `frames` whole frames from
// dataOffset on.
AudioFileHeader headerFor(const SampleLayout& layout, SampleFormat format, uint64_t dataOffset, uint32_t frames);

// True when `bytes` bytes from offset lie inside the source.
inline bool fitsInSource(const ByteSource& source, uint64_t offset, uint64_t bytes) {
    return offset <= source.size() && bytes <= source.size() - offset;
}

}  // namespace vl
