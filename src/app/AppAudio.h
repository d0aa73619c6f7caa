#pragma once
// The Windows audio back ends the main window owns. Until the back ends of the Windows
// families are part of the build, a set without any device stands in, with the same surface:
// the engine then cannot start and start-up takes its "no output device" path.

#if __has_include("audio/WindowsAudioBackends.h")
#include "audio/WindowsAudioBackends.h"
#else
#include <memory>

#include "audio/AudioDevice.h"

namespace vl {

class WindowsAudioBackends {
public:
    WindowsAudioBackends() = default;
    AudioBackendSet& set() { return backendSet; }
    VLAudioBase& wasapi() { return none; }
    void setAsio(std::unique_ptr<VLAudioBase> driver) { asioBackend = std::move(driver); }
    VLAudioBase* asio() { return asioBackend.get(); }
    VLAudioBase* directSound() { return nullptr; }
    VLAudioBase* mme() { return nullptr; }

private:
    class NoDevices final : public VLAudioBase {
    public:
        bool openAndStart(AudioDeviceRecord*, AudioDeviceRecord*, RenderBlockProc, void*) override { return false; }
        void stop() override {}
        bool matchFormats(AudioDeviceRecord*, AudioDeviceRecord*) override { return false; }
        bool queryDetails(AudioDeviceRecord*, bool) override { return false; }
    };
    NoDevices none;
    std::unique_ptr<VLAudioBase> asioBackend;
    AudioBackendSet backendSet;
};

}  // namespace vl
#endif
