#include "audio/wasapi/WasapiFormat.h"

#include <cmath>
#include <cstring>

namespace vl::wasapi {

namespace {

uint16_t read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t read32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
void write16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void write32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

// KSDATAFORMAT_SUBTYPE_IEEE_FLOAT {00000003-0000-0010-8000-00AA00389B71} as stored.
constexpr uint8_t kFloatSubFormat[16] = {0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                         0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

}  // namespace

bool parseDeviceFormat(const uint8_t* blob, size_t size, DeviceFormat& format) {
    format = DeviceFormat{};
    if (!blob || size < 16) return false;
    const size_t n = size < kDeviceFormatBytes ? size : kDeviceFormatBytes;
    std::memcpy(format.bytes, blob, n);
    const uint8_t* b = format.bytes;
    format.formatTag = read16(b);
    format.channels = read16(b + 2);
    format.samplesPerSec = read32(b + 4);
    format.avgBytesPerSec = read32(b + 8);
    format.blockAlign = read16(b + 12);
    format.bitsPerSample = read16(b + 14);
    if (format.formatTag == kFormatTagExtensible) {
        if (n < kDeviceFormatBytes) return false;
        format.extraSize = read16(b + 16);
        format.validBits = read16(b + 18);
        format.channelMask = read32(b + 20);
        std::memcpy(format.subFormat, b + 24, 16);
    } else {
        // The record ends after the basic fields: no extension follows whatever size it claims.
        std::memset(format.bytes + 16, 0, kDeviceFormatBytes - 16);
    }
    return format.channels > 0 && format.samplesPerSec > 0;
}

SampleKind sampleKindOf(const DeviceFormat& format) {
    const bool isFloat = format.formatTag == kFormatTagFloat ||
                         (format.formatTag == kFormatTagExtensible &&
                          std::memcmp(format.subFormat, kFloatSubFormat, sizeof kFloatSubFormat) == 0);
    if (format.bitsPerSample == 32) return isFloat ? SampleKind::Float32 : SampleKind::Int32;
    if (format.bitsPerSample == 16 && !isFloat) return SampleKind::Int16;
    if (format.bitsPerSample == 24 && !isFloat) return SampleKind::Int24;
    return SampleKind::Unsupported;
}

int64_t exclusiveBufferDuration(uint32_t frames, uint32_t samplesPerSec) {
    if (samplesPerSec == 0) return 0;
    const double ms = (static_cast<double>(frames) + 1.0) * 1000.0 / static_cast<double>(samplesPerSec);
    return static_cast<int64_t>(std::floor(ms * 2.0) * 0.5 * 10000.0);
}

int64_t durationOfFrames(uint32_t frames, uint32_t samplesPerSec) {
    if (samplesPerSec == 0) return 0;
    return static_cast<int64_t>(std::floor(10000000.0 * frames / samplesPerSec + 0.5));
}

uint32_t standardChannelMask(uint16_t channels) {
    switch (channels) {
        case 1: return 0x4;    // front centre
        case 2: return 0x3;    // front left, front right
        case 4: return 0x33;   // front and back pairs
        case 6: return 0x3F;   // front pair, centre, low frequency, back pair
        case 8: return 0x63F;  // 5.1 and the side pair
        default: return 0;
    }
}

uint32_t exclusiveChannelMask(const DeviceFormat& deviceFormat) {
    uint32_t bits = 0;
    for (uint32_t m = deviceFormat.channelMask; m; m &= m - 1) ++bits;
    const bool own = deviceFormat.formatTag == kFormatTagExtensible && bits == deviceFormat.channels;
    return own ? deviceFormat.channelMask : standardChannelMask(deviceFormat.channels);
}

DeviceFormat exclusiveLadderFormat(size_t step, uint16_t channels, uint32_t samplesPerSec, uint32_t channelMask) {
    struct Step { uint16_t bits, validBits; bool isFloat; };
    static constexpr Step kSteps[kExclusiveLadderSteps] = {{32, 32, true}, {32, 32, false}, {32, 24, false},
                                                           {24, 24, false}, {16, 16, false}};
    const Step& s = kSteps[step < kExclusiveLadderSteps ? step : kExclusiveLadderSteps - 1];
    DeviceFormat format;
    uint8_t* b = format.bytes;
    write16(b, kFormatTagExtensible);
    write16(b + 2, channels);
    write32(b + 4, samplesPerSec);
    write16(b + 12, static_cast<uint16_t>(channels * s.bits / 8));
    write32(b + 8, samplesPerSec * channels * s.bits / 8);
    write16(b + 14, s.bits);
    write16(b + 16, 22);
    write16(b + 18, s.validBits);
    // A mask of 0 for a device of other than two channels is refused by many drivers.
    write32(b + 20, channelMask ? channelMask : standardChannelMask(channels));
    std::memcpy(b + 24, kFloatSubFormat, sizeof kFloatSubFormat);
    if (!s.isFloat) b[24] = 0x01;  // KSDATAFORMAT_SUBTYPE_PCM differs in its first byte only
    DeviceFormat parsed;
    parseDeviceFormat(b, kDeviceFormatBytes, parsed);
    return parsed;
}

uint32_t sharedWritableFrames(uint32_t bufferSize, uint32_t padding) {
    return padding >= bufferSize ? 0 : bufferSize - padding;
}

void rewriteFormat(uint8_t (&bytes)[kDeviceFormatBytes], uint32_t rate, uint16_t bits) {
    const uint16_t channels = read16(bytes + 2);
    write32(bytes + 4, rate);
    write16(bytes + 14, bits);
    write16(bytes + 12, static_cast<uint16_t>((bits / 8) * channels));
    write32(bytes + 8, static_cast<uint32_t>(uint64_t(channels) * bits * rate / 8));
    // The valid bits follow the width: a stored 16-bit format claiming 24 valid bits (or a float
    // one claiming 24) is a record no driver can honour.
    if (read16(bytes) == kFormatTagExtensible) write16(bytes + 18, bits);
}

}  // namespace vl::wasapi
