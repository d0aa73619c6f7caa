#include "audio/WindowsAudioBackends.h"

#include "audio/asio/VLASIO.h"
#include "audio/dsound/VLDirectSound.h"
#include "audio/mme/VLMMAudio.h"
#include "audio/wasapi/VLWASAPI.h"

namespace vl {

WindowsAudioBackends::WindowsAudioBackends()
    : wasapiBackend(std::make_unique<VLWASAPI>()),
      directSoundBackend(std::make_unique<VLDirectSound>()),
      mmeBackend(std::make_unique<VLMMAudio>()) {
    backends.set(kDeviceTypeWasapiShared, wasapiBackend.get());
    backends.set(kDeviceTypeWasapiExclusive, wasapiBackend.get());
    backends.set(kDeviceTypeDirectSound, directSoundBackend.get());
    backends.set(kDeviceTypeMME, mmeBackend.get());
    setAsio(std::make_unique<VLASIO>());
}

// The ASIO back end goes first: it may still hold a driver.
WindowsAudioBackends::~WindowsAudioBackends() {
    backends.set(kDeviceTypeASIO, nullptr);
    asioBackend.reset();
}

AudioBackendSet& WindowsAudioBackends::set() { return backends; }
VLAudioBase& WindowsAudioBackends::wasapi() { return *wasapiBackend; }

void WindowsAudioBackends::setAsio(std::unique_ptr<VLAudioBase> asio) {
    backends.set(kDeviceTypeASIO, asio.get());
    asioBackend = std::move(asio);
}

VLAudioBase* WindowsAudioBackends::asio() { return asioBackend.get(); }
VLAudioBase* WindowsAudioBackends::directSound() { return directSoundBackend.get(); }
VLAudioBase* WindowsAudioBackends::mme() { return mmeBackend.get(); }

}  // namespace vl
