#pragma once
// The audio back-end set as the main window owns it on Windows: WASAPI, ASIO, DirectSound and MME.
// A family is built (and so enumerates its devices) only when it is first asked for, through the
// set or an accessor: the start-up then pays for the family it plays on alone, and the Audio
// Settings window brings in the others. Tests may replace the ASIO back end. The set links every
// device type code to its back end. User-interface thread only.

#include <memory>

#include "audio/AudioDevice.h"

namespace vl {

class WindowsAudioBackends {
public:
    WindowsAudioBackends();  // enumerates nothing yet
    ~WindowsAudioBackends();
    WindowsAudioBackends(const WindowsAudioBackends&) = delete;
    WindowsAudioBackends& operator=(const WindowsAudioBackends&) = delete;

    AudioBackendSet& set();  // what the coordinator and HostSettings::loadSettings link to
    VLAudioBase& wasapi();   // for HostSettings::chooseDefaultAudioDevices
    void setAsio(std::unique_ptr<VLAudioBase> asio);
    VLAudioBase* asio();
    VLAudioBase* directSound();
    VLAudioBase* mme();
    // The window that owns the ASIO drivers' dialogs, handed on whenever ASIO is built.
    void setAsioOwner(void* window);
    // Families built so far, as a mask of device type codes (both WASAPI codes for WASAPI).
    uint32_t builtFamilies() const;

private:
    static VLAudioBase* build(uint32_t type, void* user);
    VLAudioBase* build(uint32_t type);

    std::unique_ptr<VLAudioBase> wasapiBackend;
    std::unique_ptr<VLAudioBase> asioBackend;
    std::unique_ptr<VLAudioBase> directSoundBackend;
    std::unique_ptr<VLAudioBase> mmeBackend;
    void* asioOwner = nullptr;
    AudioBackendSet backends;
};

}  // namespace vl
