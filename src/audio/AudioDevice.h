#pragma once
// The audio device interface: one record per device and direction, the abstract back end,
// and the per-block function that every back end calls.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vl {

// Device type codes: single bits, so that callers can test families with masks.
enum AudioDeviceType : uint32_t {
    kDeviceTypeMME = 1,
    kDeviceTypeASIO = 2,
    kDeviceTypeWasapiShared = 4,
    kDeviceTypeWasapiExclusive = 8,
    kDeviceTypeDirectSound = 32,
};
constexpr uint32_t kDeviceTypeWasapiMask = kDeviceTypeWasapiShared | kDeviceTypeWasapiExclusive;

bool isValidDeviceType(uint32_t type);
// bufferSize of a new record of this type (frames; DirectSound reads it as bytes).
uint32_t defaultBufferSize(uint32_t type);

struct AudioDeviceRecord {
    int32_t deviceIndex = 0;        // ASIO: driver position; MME: wave device number
    std::wstring endpointId;        // WASAPI endpoint id; DirectSound GUID text
    uint32_t type = 0;              // AudioDeviceType
    std::wstring name;              // display name; the settings find the device by it
    bool isInput = true;
    bool isDefault = false;         // WASAPI: default endpoint of its direction
    bool detailsKnown = false;      // queryDetails has succeeded
    uint16_t channels = 0;
    double sampleRate = 0.0;
    uint16_t bitsPerSample = 0;
    uint32_t bufferSize = 0;        // frames handed to RenderBlock
    std::vector<std::wstring> channelNames;
    int32_t leftChannel = 0;
    int32_t rightChannel = 1;
};

// The largest block, in frames, that the record's back end hands to RenderBlock: bufferSize,
// except for DirectSound, whose bufferSize counts bytes of 16-bit stereo.
uint32_t blockFramesOf(const AudioDeviceRecord& record);

// The device channels that carry the left and right planes on output: the record's choice, an
// index outside the running stream's channels falling back to 0 (left) or 1 (right), a single
// channel carrying the left plane - the rule the input side follows. Every family maps its
// output through this, so that a choice made for another device (or a stored one the device
// no longer has) still sounds instead of leaving the output silent.
struct OutputChannels {
    int32_t left = 0;
    int32_t right = 1;
};
OutputChannels chooseOutputChannels(uint32_t channels, int32_t leftChannel, int32_t rightChannel);

// Called once per block on the back end's audio thread. inputs and outputs both point at the
// back end's pair of planes {left, right}, each holding at least frames floats: the input is
// in them before the call, the output is expected in them after it. false ends a blocking
// back end's device loop.
using RenderBlockProc = bool (*)(float** inputs, float** outputs, uint32_t frames, void* user);

// What a back end reports about its device outside the flow of blocks. Written by the back
// end's own threads (the device loop, the driver's callback), taken on the user-interface
// thread, which alone may stop or restart the engine.
enum class DeviceEvent : int32_t {
    None = 0,
    RestartRequested,  // the driver asks for a restart (new block size, rate, or a reset)
    Failed,            // the device vanished, changed format or stalled; its loop ends
};

class VLAudioBase {
public:
    VLAudioBase() = default;
    virtual ~VLAudioBase();
    VLAudioBase(const VLAudioBase&) = delete;
    VLAudioBase& operator=(const VLAudioBase&) = delete;

    // Starts the output device (and the input, if given) with callback. ASIO returns at once;
    // every other family runs its device loop and returns when it ends.
    virtual bool openAndStart(AudioDeviceRecord* input, AudioDeviceRecord* output, RenderBlockProc callback,
                              void* user) = 0;
    virtual void stop() = 0;
    // A stop that gave up waiting for a callback still under way (ASIO's driver thread inside a
    // long block) leaves that callback running and the teardown pending. Finishes it, waiting
    // at most waitMs: true once no callback of the last run can reach its user any more.
    virtual bool settleStop(uint32_t waitMs) { return true; }
    // User-interface thread, at each look at a running engine: a back end without a device
    // loop of its own checks on its device here (and reports what it finds as a device event).
    virtual void poll() {}
    // Makes the two devices agree on sample rate and width; true when they agree afterwards.
    virtual bool matchFormats(AudioDeviceRecord* input, AudioDeviceRecord* output) = 0;
    // Completes a record (channel names, rate, block size); true at once when detailsKnown.
    virtual bool queryDetails(AudioDeviceRecord* record, bool probe) = 0;

    std::vector<std::unique_ptr<AudioDeviceRecord>> devices;
    float* leftPlane = nullptr;
    float* rightPlane = nullptr;
    std::atomic<bool> running{false};

    // Any thread; never waits, allocates nothing. A failure is never downgraded to a restart
    // request before it has been taken.
    void reportDeviceEvent(DeviceEvent event);
    // User-interface thread: the event reported since the last call, and clears it.
    DeviceEvent takeDeviceEvent();

protected:
    // Allocates both planes for blocks of up to frames (zeroed) and points planePair at them.
    // false when the memory cannot be had.
    bool allocatePlanes(uint32_t frames);
    void freePlanes();
    float* planePair[2] = {nullptr, nullptr};  // what RenderBlock receives as inputs and outputs

private:
    std::atomic<DeviceEvent> deviceEvent{DeviceEvent::None};
    std::unique_ptr<float[]> leftStorage;
    std::unique_ptr<float[]> rightStorage;
};

// The back ends of the four families, by device type code. Both WASAPI codes name the same
// back end. The set does not own the back ends.
class AudioBackendSet {
public:
    // Builds the back end of a family on first demand and answers it (null when there is none);
    // it is expected to set() what it builds. User-interface thread only.
    using Builder = VLAudioBase* (*)(uint32_t type, void* user);

    void set(uint32_t type, VLAudioBase* backend);
    // A family not yet set is built by the builder, if there is one.
    VLAudioBase* backendFor(uint32_t type) const;
    void setBuilder(Builder builder, void* user);

private:
    VLAudioBase* current(uint32_t type) const;

    Builder builder = nullptr;
    void* builderUser = nullptr;
    VLAudioBase* mme = nullptr;
    VLAudioBase* asio = nullptr;
    VLAudioBase* wasapiShared = nullptr;
    VLAudioBase* wasapiExclusive = nullptr;
    VLAudioBase* directSound = nullptr;
};

}  // namespace vl
