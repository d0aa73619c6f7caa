#pragma once
// VLWASAPI: the back end on the Windows audio session interfaces (Windows only). Every active
// endpoint is listed twice, for exclusive mode (type 8) and for shared mode (type 4); input is
// supported in shared mode only. Streams and the device loop are VLWasapiLoop's; this class
// lists the endpoints, wraps IAudioClient for the loop and rewrites stored device formats.
// A record names one endpoint, found again by its id at every start: a change of the system's
// default output leaves a running engine where it plays (a restart would only open the same
// endpoint again, with a dropout).
//
// COM: the constructing thread (the user-interface thread) keeps COM initialised for the
// object's life, enumeration and details queries run there; openAndStart initialises COM on its
// own thread for the loop's life. Nothing opened by a query outlives it.

#include <windows.h>
#include <audioclient.h>
#include <mmdeviceapi.h>

#include "audio/AudioDevice.h"
#include "audio/wasapi/WasapiFormat.h"
#include "audio/wasapi/WasapiLoop.h"
#include "platform/win/Com.h"

namespace vl {

class VLWASAPI : public VLWasapiLoop {
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
    // Writes the source's rate and width into the stored device format of the target endpoint.
    bool rewriteEndpointFormat(EDataFlow direction, AudioDeviceRecord& target, const AudioDeviceRecord& source);

private:
    void enumerate(EDataFlow direction);

    platform::ComThreadScope com;
};

}  // namespace vl
