#include "player/AudioFileFormat.h"

#include <algorithm>
#include <bit>

#include "player/AudioFileBytes.h"

namespace vl {

using namespace bytes;

SampleFormat sampleFormatFor(uint32_t channels, uint32_t containerBytes, bool isFloat) {
    if (channels != 1 && channels != 2) return SampleFormat::None;
    SampleFormat mono = SampleFormat::None;
    if (isFloat) {
        if (containerBytes == 4) mono = SampleFormat::MonoFloat32;
        if (containerBytes == 8) mono = SampleFormat::MonoFloat64;
    } else {
        switch (containerBytes) {
            case 1: mono = SampleFormat::Mono8; break;
            case 2: mono = SampleFormat::Mono16; break;
            case 3: mono = SampleFormat::Mono24; break;
            case 4: mono = SampleFormat::Mono32; break;
            case 8: mono = SampleFormat::Mono64; break;
            default: break;
        }
    }
    if (mono == SampleFormat::None || channels == 1) return mono;
    // Each stereo code is its mono code plus 7.
    return static_cast<SampleFormat>(static_cast<uint32_t>(mono) + 7);
}

uint32_t channelsOf(SampleFormat format) {
    const auto code = static_cast<uint32_t>(format);
    if (code >= 1 && code <= 7) return 1;
    if (code >= 8 && code <= 14) return 2;
    return 0;
}

uint32_t bytesPerSampleOf(SampleFormat format) {
    static constexpr uint32_t kBytes[7] = {1, 2, 3, 4, 4, 8, 8};
    const auto code = static_cast<uint32_t>(format);
    if (code < 1 || code > 14) return 0;
    return kBytes[(code - 1) % 7];
}

const char* describe(AudioFileError error) {
    switch (error) {
        case AudioFileError::None: return "no error";
        case AudioFileError::UnknownFileType: return "the file name ends in neither .wav nor .aif/.aiff";
        case AudioFileError::CannotOpen: return "the file cannot be opened";
        case AudioFileError::ReadFailed: return "the file ends early or cannot be read";
        case AudioFileError::NotWave: return "not a RIFF WAVE file";
        case AudioFileError::NotAiff: return "not an AIFF or AIFC file";
        case AudioFileError::MalformedChunk: return "a format chunk is too short";
        case AudioFileError::TooManyChunks: return "too many chunks before the sample data";
        case AudioFileError::MissingFormat: return "no format chunk";
        case AudioFileError::MissingData: return "no sample data chunk";
        case AudioFileError::UnsupportedEncoding: return "unsupported sample encoding";
        case AudioFileError::UnsupportedChannels: return "only mono and stereo files are supported";
        case AudioFileError::UnsupportedSampleRate: return "unsupported sample rate";
        case AudioFileError::DataPastEnd: return "the header announces more samples than the file holds";
        case AudioFileError::NotOpen: return "no file is open";
        case AudioFileError::MissingBuffer: return "a sample array is missing";
        case AudioFileError::InvalidArgument: return "invalid argument";
        case AudioFileError::WriteFailed: return "writing the file failed";
        case AudioFileError::TooLong: return "the file is longer than the player can hold";
    }
    return "unknown error";
}

uint32_t decodeExtendedRate(const uint8_t bytes[10]) {
    if (bytes[0] & 0x80) return 0;  // negative
    const int exponent = int(loadBE16(bytes) & 0x7FFF) - 16383;
    if (exponent < 0 || exponent > 31) return 0;
    // The mantissa carries its integer bit, so the integer part is its top exponent+1 bits.
    return static_cast<uint32_t>(loadBE64(bytes + 2) >> (63 - exponent));
}

std::array<uint8_t, 10> encodeExtendedRate(uint32_t rate) {
    std::array<uint8_t, 10> out{};
    if (rate == 0) return out;
    const int highest = 31 - std::countl_zero(rate);
    storeBE16(out.data(), uint16_t(16383 + highest));
    storeBE64(out.data() + 2, uint64_t(rate) << (63 - highest));
    return out;
}

std::array<uint8_t, kWavHeaderBytes> wavStereo16Header(uint32_t frames, uint32_t sampleRate) {
    const std::vector<uint8_t> header = wavHeader(frames, sampleRate, SampleFormat::Stereo16);
    std::array<uint8_t, kWavHeaderBytes> h{};
    std::copy(header.begin(), header.end(), h.begin());
    return h;
}

uint32_t wavHeaderBytes(SampleFormat format) {
    switch (format) {
        case SampleFormat::Stereo16:
        case SampleFormat::Stereo24: return kWavHeaderBytes;
        case SampleFormat::StereoFloat32: return kWavFloatHeaderBytes;
        default: return 0;
    }
}

uint32_t maxWavFrames(SampleFormat format) {
    const uint32_t headerBytes = wavHeaderBytes(format);
    // The RIFF size counts everything after its own 8 bytes.
    return headerBytes ? (0xFFFFFFFFu - (headerBytes - 8)) / bytesPerFrameOf(format) : 0;
}

std::vector<uint8_t> wavHeader(uint32_t frames, uint32_t sampleRate, SampleFormat format) {
    const uint32_t headerBytes = wavHeaderBytes(format);
    if (headerBytes == 0) return {};
    const bool isFloat = format == SampleFormat::StereoFloat32;
    const uint32_t frameBytes = bytesPerFrameOf(format);
    const uint32_t clamped = std::min(frames, maxWavFrames(format));
    const uint32_t dataBytes = clamped * frameBytes;  // no wrap: clamped above
    std::vector<uint8_t> h(headerBytes);
    storeId(&h[0], "RIFF");
    storeLE32(&h[4], dataBytes + (headerBytes - 8));
    storeId(&h[8], "WAVE");
    storeId(&h[12], "fmt ");
    storeLE32(&h[16], isFloat ? 18 : 16);
    storeLE16(&h[20], isFloat ? 3 : 1);  // IEEE float or PCM
    storeLE16(&h[22], 2);
    storeLE32(&h[24], sampleRate);
    storeLE32(&h[28], static_cast<uint32_t>(std::min<uint64_t>(uint64_t(sampleRate) * frameBytes, 0xFFFFFFFFu)));
    storeLE16(&h[32], static_cast<uint16_t>(frameBytes));
    storeLE16(&h[34], static_cast<uint16_t>(bytesPerSampleOf(format) * 8));
    size_t data = 36;
    if (isFloat) {
        storeLE16(&h[36], 0);  // no extension
        storeId(&h[38], "fact");
        storeLE32(&h[42], 4);
        storeLE32(&h[46], clamped);  // frames per channel
        data = 50;
    }
    storeId(&h[data], "data");
    storeLE32(&h[data + 4], dataBytes);
    return h;
}

std::array<uint8_t, kAiffHeaderBytes> aiffStereo16Header(uint32_t frames, uint32_t sampleRate) {
    const uint32_t clamped = std::min(frames, kMaxAiffFrames);
    std::array<uint8_t, kAiffHeaderBytes> h{};
    storeId(&h[0], "FORM");
    storeBE32(&h[4], clamped * 4 + 46);
    storeId(&h[8], "AIFF");
    storeId(&h[12], "COMM");
    storeBE32(&h[16], 18);
    storeBE16(&h[20], 2);
    storeBE32(&h[22], clamped);
    storeBE16(&h[26], 16);
    const auto rate = encodeExtendedRate(sampleRate);
    std::copy(rate.begin(), rate.end(), h.begin() + 28);
    storeId(&h[38], "SSND");
    storeBE32(&h[42], clamped * 4 + 8);
    // offset and block size stay 0
    return h;
}

}  // namespace vl
