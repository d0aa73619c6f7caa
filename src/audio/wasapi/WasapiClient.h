#pragma once
// The few audio-client calls the WASAPI back end makes, as an interface free of Windows
// headers: the real one wraps IAudioClient and its services, native tests put a scripted
// device behind it.

#include <cstdint>
#include <memory>

#include "audio/AudioDevice.h"
#include "audio/wasapi/WasapiFormat.h"

namespace vl::wasapi {

// HRESULT values as the audio client returns them.
using Result = int32_t;
constexpr Result kOk = 0;
constexpr Result kFail = static_cast<Result>(0x80004005u);                   // E_FAIL
constexpr Result kBufferEmpty = static_cast<Result>(0x08890001u);            // AUDCLNT_S_BUFFER_EMPTY
constexpr Result kDeviceInvalidated = static_cast<Result>(0x88890004u);      // AUDCLNT_E_DEVICE_INVALIDATED
constexpr Result kBufferTooLarge = static_cast<Result>(0x88890006u);         // AUDCLNT_E_BUFFER_TOO_LARGE
constexpr Result kUnsupportedFormat = static_cast<Result>(0x88890008u);      // AUDCLNT_E_UNSUPPORTED_FORMAT
constexpr Result kBufferSizeNotAligned = static_cast<Result>(0x88890019u);   // AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED
inline bool failed(Result r) { return r < 0; }

// One audio client of one endpoint, render or capture by the endpoint's direction, with the
// service it gives once initialised. Initialisation is always event driven: the client
// signals its own auto-reset event from then on.
class Client {
public:
    virtual ~Client() = default;
    virtual Result mixFormat(DeviceFormat& format) = 0;
    virtual Result devicePeriod(int64_t& defaultPeriod, int64_t& minimumPeriod) = 0;
    virtual bool supportsExclusive(const DeviceFormat& format) = 0;
    virtual Result initialize(bool exclusive, int64_t duration, int64_t period, const DeviceFormat& format) = 0;
    virtual Result bufferFrames(uint32_t& frames) = 0;
    virtual Result start() = 0;
    virtual void stop() = 0;
    virtual Result padding(uint32_t& frames) = 0;
    virtual Result getRenderBuffer(uint32_t frames, uint8_t*& data) = 0;
    virtual Result releaseRenderBuffer(uint32_t frames, bool silent) = 0;
    // The next capture packet; kBufferEmpty (a success) with no frames when none waits.
    virtual Result getCapturePacket(uint8_t*& data, uint32_t& frames, bool& silent) = 0;
    virtual Result releaseCapturePacket(uint32_t frames) = 0;
};

// Bits of Endpoints::wait's answer.
constexpr uint32_t kRenderSignalled = 1;
constexpr uint32_t kCaptureSignalled = 2;

// The endpoints behind the records, and the wait on the clients' events.
class Endpoints {
public:
    virtual ~Endpoints() = default;
    // A new, uninitialised client of the record's endpoint; none when it is not active.
    virtual std::unique_ptr<Client> activate(const AudioDeviceRecord& record) = 0;
    // The endpoint's stored device format: its rate and channels lead the exclusive formats.
    virtual bool storedFormat(const AudioDeviceRecord& record, DeviceFormat& format) = 0;
    // Waits at most ms for the event of either client (capture may be none); the bits of
    // those signalled, 0 when neither was.
    virtual uint32_t wait(Client& render, Client* capture, uint32_t ms) = 0;
    virtual uint64_t nowMs() = 0;
    virtual void sleepMs(uint32_t ms) = 0;
};

}  // namespace vl::wasapi
