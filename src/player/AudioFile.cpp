#include "player/AudioFile.h"

#include <algorithm>
#include <memory>
#include <new>

#include "platform/FileIO.h"
#include "player/AudioFileDecode.h"

namespace vl {

namespace {

// Sample data is read and converted in pieces of up to this size: each read is a system call
// whose fixed cost outweighs copying 32 KB, so few large reads load a file much faster.
constexpr size_t kReadBlockBytes = size_t(1) << 20;
// Recordings are encoded and written in pieces of this many frames (of at most 8 bytes).
constexpr uint32_t kWriteBlockFrames = 256;

}  // namespace

VLAudioFileBase::~VLAudioFileBase() { close(); }

void VLAudioFileBase::close() {
    reader.reset();
    if (writer) finishWriting();
    values.dataOffset = 0;
    values.frameCount = 0;
    values.bitsPerSample = 0;
}

bool VLAudioFileBase::fail(AudioFileError reason) {
    error = reason;
    close();
    return false;
}

uint32_t VLAudioFileBase::openRead(const std::filesystem::path& path) {
    close();
    auto source = FileByteSource::open(path);
    if (!source) {
        fail(AudioFileError::CannotOpen);
        return 0;
    }
    return openRead(std::move(source));
}

uint32_t VLAudioFileBase::openRead(std::unique_ptr<ByteSource> source) {
    close();
    error = AudioFileError::None;
    if (!source) {
        fail(AudioFileError::CannotOpen);
        return 0;
    }
    AudioFileHeader parsed;
    AudioFileError reason = parseHeader(*source, parsed);
    if (reason == AudioFileError::None && parsed.frameCount > kMaxReadFrames) reason = AudioFileError::TooLong;
    if (reason != AudioFileError::None) {
        values = AudioFileHeader{};
        fail(reason);
        return 0;
    }
    values = parsed;
    reader = std::move(source);
    return values.frameCount;
}

bool VLAudioFileBase::readAll(const StereoBuffer& destination) {
    if (!reader) {
        error = AudioFileError::NotOpen;
        return false;
    }
    if (!destination.left || !destination.right) {
        error = AudioFileError::MissingBuffer;
        return false;
    }
    const FrameDecoder decode = frameDecoderFor(values.sampleFormat, type);
    const uint32_t frameBytes = bytesPerFrameOf(values.sampleFormat);
    if (!decode || frameBytes == 0) {
        error = AudioFileError::UnsupportedEncoding;
        return false;
    }
    const size_t blockBytes = size_t(std::min<uint64_t>(kReadBlockBytes, uint64_t(values.frameCount) * frameBytes));
    const std::unique_ptr<uint8_t[]> blockMemory(new (std::nothrow) uint8_t[blockBytes > 0 ? blockBytes : 1]);
    if (!blockMemory) {
        error = AudioFileError::ReadFailed;
        return false;
    }
    uint8_t* block = blockMemory.get();
    const uint32_t framesPerBlock = uint32_t(std::max<size_t>(blockBytes / frameBytes, 1));
    uint64_t offset = values.dataOffset;
    for (uint32_t done = 0; done < values.frameCount;) {
        const uint32_t frames = std::min(framesPerBlock, values.frameCount - done);
        const size_t bytes = size_t(frames) * frameBytes;
        if (!reader->readAt(offset, block, bytes)) {
            error = AudioFileError::ReadFailed;
            return false;
        }
        decode(block, frames, destination.left + done, destination.right + done);
        done += frames;
        offset += bytes;
    }
    return true;
}

bool VLAudioFileBase::create(const std::filesystem::path& path, uint32_t frames, uint32_t sampleRate,
                             SampleFormat format) {
    close();
    error = AudioFileError::None;
    values = AudioFileHeader{};
    if (maxWritableFrames(format) == 0 || sampleRate < kMinSampleRate || sampleRate > kMaxSampleRate)
        return fail(AudioFileError::InvalidArgument);
    writer = platform::openFile(path, "wb");
    if (!writer) return fail(AudioFileError::CannotOpen);
    const uint32_t announced = std::min(frames, maxWritableFrames(format));
    values.sampleRate = static_cast<int32_t>(sampleRate);
    values.channels = 2;
    values.sampleFormat = format;
    values.bitsPerSample = bytesPerSampleOf(format) * 8;
    values.frameCount = announced;
    values.dataBytes = uint64_t(announced) * bytesPerFrameOf(format);
    if (!writeHeaderAtStart(announced)) return fail(AudioFileError::WriteFailed);
    return true;
}

bool VLAudioFileBase::writeHeaderAtStart(uint32_t frames) {
    const std::vector<uint8_t> header = writerHeader(frames, static_cast<uint32_t>(values.sampleRate), values.sampleFormat);
    values.dataOffset = header.size();
    return seekFile(writer, 0) && std::fwrite(header.data(), 1, header.size(), writer) == header.size();
}

bool VLAudioFileBase::writeFrames(const StereoBuffer& source, uint32_t frames) {
    if (!writer) {
        error = AudioFileError::NotOpen;
        return false;
    }
    const SampleFormat format = values.sampleFormat;
    const size_t frameBytes = bytesPerFrameOf(format);
    bool ok = true;
    uint32_t toWrite = std::min(frames, maxWritableFrames(format));
    if (toWrite < frames) {
        error = AudioFileError::InvalidArgument;
        ok = false;
    }
    if (toWrite > 0 && (!source.left || !source.right)) {
        error = AudioFileError::MissingBuffer;
        ok = false;
        toWrite = 0;
    }
    uint8_t block[kWriteBlockFrames * 8];
    uint32_t written = 0;
    while (written < toWrite) {
        const uint32_t count = std::min(kWriteBlockFrames, toWrite - written);
        encodeStereo(format, source.left + written, source.right + written, count, block, type);
        if (std::fwrite(block, 1, count * frameBytes, writer) != count * frameBytes) {
            error = AudioFileError::WriteFailed;
            ok = false;
            break;
        }
        written += count;
    }
    if (written != values.frameCount) {
        values.frameCount = written;
        values.dataBytes = uint64_t(written) * frameBytes;
        if (!writeHeaderAtStart(written)) {
            error = AudioFileError::WriteFailed;
            ok = false;
        }
    }
    if (!finishWriting()) {
        error = AudioFileError::WriteFailed;
        ok = false;
    }
    close();
    return ok;
}

bool VLAudioFileBase::finishWriting() {
    // fclose flushes; a failure there (a full disk) means the data did not reach the file.
    const bool flushed = std::fflush(writer) == 0;
    const bool closed = std::fclose(writer) == 0;
    writer = nullptr;
    return flushed && closed;
}

AudioFileType audioFileTypeForPath(const std::filesystem::path& path, bool ignoreCase) {
    const auto& text = path.native();
    if (text.empty()) return AudioFileType::None;
    auto last = text.back();
    if (ignoreCase && (last == 'V' || last == 'F')) last = static_cast<decltype(last)>(last + ('a' - 'A'));
    if (last == 'v') return AudioFileType::Wav;
    if (last == 'f') return AudioFileType::Aiff;
    return AudioFileType::None;
}

std::unique_ptr<VLAudioFileBase> makeAudioFile(AudioFileType type) {
    switch (type) {
        case AudioFileType::Wav: return std::make_unique<VLAudioFileWAV>();
        case AudioFileType::Aiff: return std::make_unique<VLAudioFileAIFF>();
        case AudioFileType::None: break;
    }
    return nullptr;
}

uint32_t OpenAudioFile(std::unique_ptr<VLAudioFileBase>& slot, const std::filesystem::path& path) {
    slot.reset();
    slot = makeAudioFile(audioFileTypeForPath(path, true));
    return slot ? slot->openRead(path) : 0;
}

bool CreateAudioFile(std::unique_ptr<VLAudioFileBase>& slot, const std::filesystem::path& path, uint32_t frames,
                     uint32_t sampleRate, SampleFormat format) {
    slot.reset();
    slot = makeAudioFile(audioFileTypeForPath(path, false));
    return slot && slot->create(path, frames, sampleRate, format);
}

}  // namespace vl
