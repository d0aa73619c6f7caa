#pragma once
// The WASAPI back end's arithmetic and format rules, kept free of Windows headers so that they
// are tested natively.

#include <cstddef>
#include <cstdint>

namespace vl::wasapi {

// The device format blob is read into a buffer of this size (WAVEFORMATEXTENSIBLE).
constexpr size_t kDeviceFormatBytes = 40;

constexpr uint16_t kFormatTagPcm = 0x0001;
constexpr uint16_t kFormatTagFloat = 0x0003;
constexpr uint16_t kFormatTagExtensible = 0xFFFE;

// How the samples of a device format are read and written.
// Int24 is packed in three bytes; 24 valid bits in a 32-bit container are Int32 (they sit in
// the container's high bits).
enum class SampleKind { Int16, Int24, Int32, Float32, Unsupported };

// The fields of a WAVEFORMATEX / WAVEFORMATEXTENSIBLE record, and the record's bytes as they
// are handed to IAudioClient::Initialize.
struct DeviceFormat {
    uint16_t formatTag = 0;
    uint16_t channels = 0;
    uint32_t samplesPerSec = 0;
    uint32_t avgBytesPerSec = 0;
    uint16_t blockAlign = 0;
    uint16_t bitsPerSample = 0;
    uint16_t extraSize = 0;
    uint16_t validBits = 0;
    uint32_t channelMask = 0;
    uint8_t subFormat[16] = {};
    uint8_t bytes[kDeviceFormatBytes] = {};
};

// Reads at most 40 bytes of a device format blob. false for a blob too short for the basic
// record (16 bytes), or an extensible one without its extension, or one without channels or
// rate: such a device format cannot be used. A basic record is handed on with extra size 0.
bool parseDeviceFormat(const uint8_t* blob, size_t size, DeviceFormat& format);

// IEEE float (the float tag, or the extensible tag with the float sub-format) of 32 bits is
// Float32; otherwise 16 bits are Int16, 24 bits Int24 and 32 bits Int32; every other width is
// Unsupported.
SampleKind sampleKindOf(const DeviceFormat& format);

// Exclusive-mode buffer duration and period in 100-ns units for a block the user asked for:
// the block's length in milliseconds rounded down to a multiple of 0.5 ms (256 frames at
// 48000 Hz give 50000). A block within a frame below a multiple counts as that multiple, so
// that the size a device grants for a rounded duration (512 frames at 44100 Hz give 11.5 ms,
// granted as 507 frames) asks for the same duration again rather than for 0.5 ms less.
int64_t exclusiveBufferDuration(uint32_t frames, uint32_t samplesPerSec);

// A duration in 100-ns units that holds exactly frames at the rate (rounded to the nearest
// unit), as the aligned-size retry asks for.
int64_t durationOfFrames(uint32_t frames, uint32_t samplesPerSec);

// The speaker positions of the usual layouts: mono (front centre), stereo, quad, 5.1, 7.1;
// 0 (left to the driver) for other counts.
uint32_t standardChannelMask(uint16_t channels);

// The speaker positions an exclusive stream asks for: the device's own mask when it names
// exactly its channels, else the standard mask for the count.
uint32_t exclusiveChannelMask(const DeviceFormat& deviceFormat);

// The formats an exclusive stream tries, in this order, at the device's rate and channels:
// float32, int32, 24 valid bits in 32, packed 24, int16 (WAVEFORMATEXTENSIBLE records), with
// the channel mask given (0: the standard mask for the count).
constexpr size_t kExclusiveLadderSteps = 5;
DeviceFormat exclusiveLadderFormat(size_t step, uint16_t channels, uint32_t samplesPerSec, uint32_t channelMask = 0);

// Frames a shared-mode render stream takes in a cycle: bufferSize minus padding, 0 when the
// padding already fills the block.
uint32_t sharedWritableFrames(uint32_t bufferSize, uint32_t padding);

// Rewrites a device format (the 40-byte record) to rate and width: block align, bytes per
// second and, for the extensible record, valid bits equal to the width.
void rewriteFormat(uint8_t (&bytes)[kDeviceFormatBytes], uint32_t rate, uint16_t bits);

}  // namespace vl::wasapi
