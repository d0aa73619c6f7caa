#pragma once
// Sample conversions between device buffers and the engine's two float planes.
//
// Every function converts one block in a straight loop, allocates nothing and takes no lock,
// so the back ends call them on the audio thread. The arithmetic is fixed to the last bit
// (single precision unless noted, truncation toward zero) so that a block converts the same
// on every build; the library is compiled without floating-point contraction for that reason.

#include <cstddef>
#include <cstdint>

namespace vl {

// The limiter's bound: the largest float below 1 but one (bit pattern 0x3F7FFFFE).
inline constexpr float kLimiterBound = 0.99999988f;

// c(x) = (|x + k| - |x - k|) * 0.5 in single precision: x limited to -k..+k without a branch.
// Inputs beyond +-1 are first held at +-1 and NaN becomes 0: the bare formula gives 1.0 for
// some inputs above 1 (which wraps the 24- and 32-bit outputs to full negative scale), 0 for
// inputs of 2^24 and more, and NaN for infinities.
float limitSample(float x);

// ---------------------------------------------------------------------------------------------
// Planar devices: one buffer per channel (ASIO). Each function converts `frames` samples.
namespace planar {

// 16-bit signed: (s + 0.5) * 3.051804e-5 and trunc(c(x) * 32767.506 - 0.5).
void int16ToFloat(const int16_t* in, float* out, uint32_t frames);
void floatToInt16(const float* in, int16_t* out, uint32_t frames);

// 24-bit signed packed in 3 bytes, low byte first: (v + 0.5) * 2^-23 and
// trunc(c(x) * 8388608 - 0.5).
void int24ToFloat(const uint8_t* in, float* out, uint32_t frames);
void floatToInt24(const float* in, uint8_t* out, uint32_t frames);

// 32-bit container with significantBits (16, 18, 20, 24 or 32) in its low part, aligned to 24
// bits by shifting, then converted as the 24-bit family.
void int32ToFloat(const int32_t* in, float* out, uint32_t frames, unsigned significantBits);
void floatToInt32(const float* in, int32_t* out, uint32_t frames, unsigned significantBits);

// IEEE single: copied both ways (no limiting).
void float32ToFloat(const float* in, float* out, uint32_t frames);
void floatToFloat32(const float* in, float* out, uint32_t frames);

// IEEE double: rounded to single on input (no limiting); c(x) widened on output.
void float64ToFloat(const double* in, float* out, uint32_t frames);
void floatToFloat64(const float* in, double* out, uint32_t frames);

}  // namespace planar

// Reverses the bytes of each of `samples` samples of bytesPerSample (2, 3, 4 or 8) in place.
// Big-endian device formats are converted as their little-endian twin around this.
void reverseSampleBytes(void* buffer, uint32_t samples, unsigned bytesPerSample);

// Device sample types of planar devices. The values are the ASIO sample type codes, so the ASIO
// back end passes what the driver reports straight through.
enum class PlanarSampleType : int32_t {
    Int16MSB = 0,
    Int24MSB = 1,
    Int32MSB = 2,
    Float32MSB = 3,
    Float64MSB = 4,
    Int32MSB16 = 8,
    Int32MSB18 = 9,
    Int32MSB20 = 10,
    Int32MSB24 = 11,
    Int16LSB = 16,
    Int24LSB = 17,
    Int32LSB = 18,
    Float32LSB = 19,
    Float64LSB = 20,
    Int32LSB16 = 24,
    Int32LSB18 = 25,
    Int32LSB20 = 26,
    Int32LSB24 = 27,
};

// How one planar sample type is laid out.
struct PlanarLayout {
    enum class Family : uint8_t { Int16, Int24, Int32, Float32, Float64 };
    Family family = Family::Int16;
    uint8_t bytesPerSample = 2;
    uint8_t significantBits = 16;  // Int32 family only
    bool bigEndian = false;
};

// The layout of an ASIO sample type code; false for the DSD types and unknown codes.
bool planarLayoutFor(int32_t sampleType, PlanarLayout& layout);

// One device channel buffer of `frames` samples to floats. Big-endian buffers are byte-reversed
// in place first (the device buffer is modified).
void planarToFloat(const PlanarLayout& layout, void* device, float* out, uint32_t frames);
// Floats to one device channel buffer; big-endian buffers are byte-reversed afterwards.
void floatToPlanar(const PlanarLayout& layout, const float* in, void* device, uint32_t frames);

// ---------------------------------------------------------------------------------------------
// Interleaved devices: one buffer of frames of `channels` samples (WASAPI, DirectSound).
namespace interleaved {

// Input: the samples of a frame are taken in pairs and the last pair (channels 2p and 2p+1 for
// p = channels/2 - 1) goes to left and right, scaled by 2^-15 (2^-31 for 32-bit) in double
// precision and rounded to single (which, the scale being a power of two, is the sample rounded
// to single and scaled). A frame is `channels` samples long; with an odd count its last sample is unread.
// A single channel goes to both planes.
void int16ToPlanes(const int16_t* in, uint32_t channels, float* left, float* right, uint32_t frames);
void int32ToPlanes(const int32_t* in, uint32_t channels, float* left, float* right, uint32_t frames);

// Output: channel leftChannel takes the left plane, otherwise channel rightChannel the right
// plane, every other channel 0. A value is x * 32767 (2147483648 for 32-bit) in single
// precision, limited to the integer range (as in double precision) and truncated; NaN gives 0.
// A channel index outside 0..channels-1 selects no channel.
void planesToInt16(const float* left, const float* right, int16_t* out, uint32_t channels, int32_t leftChannel,
                   int32_t rightChannel, uint32_t frames);
void planesToInt32(const float* left, const float* right, int32_t* out, uint32_t channels, int32_t leftChannel,
                   int32_t rightChannel, uint32_t frames);

// The device channels that feed the left and right planes: the record's choice, a mono device
// feeding both planes, an index outside the device's channels falling back to 0 (left) or 1
// (right).
struct InputChannels {
    uint32_t left = 0;
    uint32_t right = 1;
};
InputChannels chooseInputChannels(uint32_t channels, int32_t leftChannel, int32_t rightChannel);

// Input from the chosen channels (see chooseInputChannels): integers scaled by 2^-15 or 2^-31
// in double precision as above, IEEE singles copied.
void int16ToChosenPlanes(const int16_t* in, uint32_t channels, InputChannels chosen, float* left, float* right,
                         uint32_t frames);
void int32ToChosenPlanes(const int32_t* in, uint32_t channels, InputChannels chosen, float* left, float* right,
                         uint32_t frames);
void float32ToChosenPlanes(const float* in, uint32_t channels, InputChannels chosen, float* left, float* right,
                           uint32_t frames);

// Output to IEEE singles: the channel choice of planesToInt16, every value limited with c(x).
void planesToFloat32(const float* left, const float* right, float* out, uint32_t channels, int32_t leftChannel,
                     int32_t rightChannel, uint32_t frames);

}  // namespace interleaved

}  // namespace vl
