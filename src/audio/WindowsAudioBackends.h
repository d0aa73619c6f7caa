#pragma once
// The audio back-end set as the main window owns it on Windows: WASAPI, ASIO, DirectSound and MME,
// each enumerating its devices when built (tests may replace the ASIO back end). The set links
// every device type code to its back end.

#include <memory>

#include "audio/AudioDevice.h"

namespace vl {

class WindowsAudioBackends {
public:
    WindowsAudioBackends();  // builds WASAPI, ASIO, DirectSound, MME (each enumerates)
    ~WindowsAudioBackends();
    WindowsAudioBackends(const WindowsAudioBackends&) = delete;
    WindowsAudioBackends& operator=(const WindowsAudioBackends&) = delete;

    AudioBackendSet& set();  // what the coordinator and HostSettings::loadSettings link to
    VLAudioBase& wasapi();   // for HostSettings::chooseDefaultAudioDevices
    void setAsio(std::unique_ptr<VLAudioBase> asio);
    VLAudioBase* asio();
    VLAudioBase* directSound();
    VLAudioBase* mme();

private:
    std::unique_ptr<VLAudioBase> wasapiBackend;
    std::unique_ptr<VLAudioBase> asioBackend;
    std::unique_ptr<VLAudioBase> directSoundBackend;
    std::unique_ptr<VLAudioBase> mmeBackend;
    AudioBackendSet backends;
};

}  // namespace vl
