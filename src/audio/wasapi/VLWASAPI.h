#pragma once
// VLWASAPI: the back end on the Windows audio session interfaces (Windows only). Every active
// endpoint is listed twice, for exclusive mode (type 8) and for shared mode (type 4); input is
// supported in shared mode only. The device loop is event driven and runs on the thread that
// calls openAndStart (the coordinator's engine thread). Streams are opened in the endpoint's
// own device format (PKEY_AudioEngine_DeviceFormat), whose samples are 16-bit or 32-bit
// integers or 32-bit IEEE floats.
//
// COM: the constructing thread (the user-interface thread) keeps COM initialised for the
// object's life, enumeration and details queries run there; openAndStart initialises COM on its
// own thread for the loop's life. Clients kept by a details query are handed to the loop, which
// alone uses and releases them from then on.

#include <windows.h>
#include <audioclient.h>
#include <mmdeviceapi.h>

#include "audio/AudioDevice.h"
#include "audio/wasapi/WasapiFormat.h"
#include "platform/win/Com.h"

namespace vl {

class VLWASAPI : public VLAudioBase {
public:
    VLWASAPI();
    ~VLWASAPI() override;

    bool openAndStart(AudioDeviceRecord* input, AudioDeviceRecord* output, RenderBlockProc callback,
                      void* user) override;
    void stop() override;
    bool matchFormats(AudioDeviceRecord* input, AudioDeviceRecord* output) override;
    bool queryDetails(AudioDeviceRecord* record, bool probe) override;

    // The active endpoint of the record's direction whose id is the record's endpointId.
    platform::ComPtr<IMMDevice> findEndpoint(const AudioDeviceRecord& record);
    static bool readDeviceFormat(IMMDevice* device, wasapi::DeviceFormat& format);
    static platform::ComPtr<IAudioRenderClient> initRenderClient(IAudioClient* client,
                                                                 const wasapi::DeviceFormat& format,
                                                                 uint32_t blockSize, uint32_t type);
    static platform::ComPtr<IAudioCaptureClient> initCaptureClient(IAudioClient* client,
                                                                   const wasapi::DeviceFormat& format, uint32_t type);
    // Writes the source's rate and width into the stored device format of the target endpoint.
    bool rewriteEndpointFormat(EDataFlow direction, AudioDeviceRecord& target, const AudioDeviceRecord& source);

    // Every wait for the stream event, and the longest time the loop may go without handing a
    // block to RenderBlock, before the device counts as stalled.
    static constexpr DWORD kEventWaitMs = 2000;

private:
    struct Streams;
    void enumerate(EDataFlow direction);
    bool openStreams(AudioDeviceRecord* input, AudioDeviceRecord& output, Streams& s);
    bool runLoop(Streams& s, AudioDeviceRecord* input, AudioDeviceRecord& output, RenderBlockProc callback,
                 void* user);

    platform::ComThreadScope com;
    platform::ComPtr<IAudioClient> captureClient;
    platform::ComPtr<IAudioClient> renderClient;
    platform::ComPtr<IAudioCaptureClient> captureService;
    platform::ComPtr<IAudioRenderClient> renderService;
};

}  // namespace vl
