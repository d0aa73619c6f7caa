#include "audio/WindowsAudioBackends.h"

#include "audio/asio/VLASIO.h"
#include "audio/dsound/VLDirectSound.h"
#include "audio/mme/VLMMAudio.h"
#include "audio/wasapi/VLWASAPI.h"

namespace vl {

WindowsAudioBackends::WindowsAudioBackends() { backends.setBuilder(&WindowsAudioBackends::build, this); }

// The ASIO back end goes first: it may still hold a driver.
WindowsAudioBackends::~WindowsAudioBackends() {
    backends.setBuilder(nullptr, nullptr);
    backends.set(kDeviceTypeASIO, nullptr);
    asioBackend.reset();
}

VLAudioBase* WindowsAudioBackends::build(uint32_t type, void* user) {
    return static_cast<WindowsAudioBackends*>(user)->build(type);
}

VLAudioBase* WindowsAudioBackends::build(uint32_t type) {
    switch (type) {
        case kDeviceTypeWasapiShared:
        case kDeviceTypeWasapiExclusive:
            if (!wasapiBackend) {
                wasapiBackend = std::make_unique<VLWASAPI>();
                backends.set(kDeviceTypeWasapiShared, wasapiBackend.get());
                backends.set(kDeviceTypeWasapiExclusive, wasapiBackend.get());
            }
            return wasapiBackend.get();
        case kDeviceTypeASIO:
            if (!asioBackend) {
                auto asio = std::make_unique<VLASIO>();
                asio->setWindowHandle(asioOwner);
                setAsio(std::move(asio));
            }
            return asioBackend.get();
        case kDeviceTypeDirectSound:
            if (!directSoundBackend) {
                directSoundBackend = std::make_unique<VLDirectSound>();
                backends.set(kDeviceTypeDirectSound, directSoundBackend.get());
            }
            return directSoundBackend.get();
        case kDeviceTypeMME:
            if (!mmeBackend) {
                mmeBackend = std::make_unique<VLMMAudio>();
                backends.set(kDeviceTypeMME, mmeBackend.get());
            }
            return mmeBackend.get();
        default: return nullptr;
    }
}

AudioBackendSet& WindowsAudioBackends::set() { return backends; }
VLAudioBase& WindowsAudioBackends::wasapi() { return *build(kDeviceTypeWasapiShared); }

void WindowsAudioBackends::setAsio(std::unique_ptr<VLAudioBase> asio) {
    backends.set(kDeviceTypeASIO, asio.get());
    asioBackend = std::move(asio);
}

VLAudioBase* WindowsAudioBackends::asio() { return build(kDeviceTypeASIO); }
VLAudioBase* WindowsAudioBackends::directSound() { return build(kDeviceTypeDirectSound); }
VLAudioBase* WindowsAudioBackends::mme() { return build(kDeviceTypeMME); }

void WindowsAudioBackends::setAsioOwner(void* window) {
    asioOwner = window;
    if (auto* asio = dynamic_cast<VLASIO*>(asioBackend.get())) asio->setWindowHandle(window);
}

uint32_t WindowsAudioBackends::builtFamilies() const {
    uint32_t mask = 0;
    if (wasapiBackend) mask |= kDeviceTypeWasapiShared | kDeviceTypeWasapiExclusive;
    if (asioBackend) mask |= kDeviceTypeASIO;
    if (directSoundBackend) mask |= kDeviceTypeDirectSound;
    if (mmeBackend) mask |= kDeviceTypeMME;
    return mask;
}

}  // namespace vl
