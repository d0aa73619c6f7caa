#include "audio/AudioDevice.h"

#include <new>

#include "audio/SampleConvert.h"

namespace vl {

bool isValidDeviceType(uint32_t type) {
    switch (type) {
        case kDeviceTypeMME:
        case kDeviceTypeASIO:
        case kDeviceTypeWasapiShared:
        case kDeviceTypeWasapiExclusive:
        case kDeviceTypeDirectSound:
            return true;
        default:
            return false;
    }
}

uint32_t blockFramesOf(const AudioDeviceRecord& record) {
    return record.type == kDeviceTypeDirectSound ? record.bufferSize / 4 : record.bufferSize;
}

OutputChannels chooseOutputChannels(uint32_t channels, int32_t leftChannel, int32_t rightChannel) {
    const interleaved::InputChannels chosen = interleaved::chooseInputChannels(channels, leftChannel, rightChannel);
    return {static_cast<int32_t>(chosen.left), static_cast<int32_t>(chosen.right)};
}

uint32_t defaultBufferSize(uint32_t type) {
    switch (type) {
        case kDeviceTypeASIO: return 512;
        case kDeviceTypeWasapiExclusive: return 256;
        default: return 1024;
    }
}

VLAudioBase::~VLAudioBase() { freePlanes(); }

bool VLAudioBase::allocatePlanes(uint32_t frames) {
    freePlanes();
    if (frames == 0) return false;
    leftStorage.reset(new (std::nothrow) float[frames]());
    rightStorage.reset(new (std::nothrow) float[frames]());
    if (!leftStorage || !rightStorage) {
        freePlanes();
        return false;
    }
    leftPlane = leftStorage.get();
    rightPlane = rightStorage.get();
    planePair[0] = leftPlane;
    planePair[1] = rightPlane;
    return true;
}

void VLAudioBase::freePlanes() {
    leftPlane = rightPlane = nullptr;
    planePair[0] = planePair[1] = nullptr;
    leftStorage.reset();
    rightStorage.reset();
}

void VLAudioBase::reportDeviceEvent(DeviceEvent event) {
    DeviceEvent current = deviceEvent.load(std::memory_order_acquire);
    while (static_cast<int32_t>(event) > static_cast<int32_t>(current) &&
           !deviceEvent.compare_exchange_weak(current, event, std::memory_order_acq_rel, std::memory_order_acquire)) {
    }
}

DeviceEvent VLAudioBase::takeDeviceEvent() {
    return deviceEvent.exchange(DeviceEvent::None, std::memory_order_acq_rel);
}

void AudioBackendSet::set(uint32_t type, VLAudioBase* backend) {
    switch (type) {
        case kDeviceTypeMME: mme = backend; break;
        case kDeviceTypeASIO: asio = backend; break;
        case kDeviceTypeWasapiShared: wasapiShared = backend; break;
        case kDeviceTypeWasapiExclusive: wasapiExclusive = backend; break;
        case kDeviceTypeDirectSound: directSound = backend; break;
        default: break;
    }
}

VLAudioBase* AudioBackendSet::backendFor(uint32_t type) const {
    if (VLAudioBase* backend = current(type)) return backend;
    return builder && isValidDeviceType(type) ? builder(type, builderUser) : nullptr;
}

void AudioBackendSet::setBuilder(Builder build, void* user) {
    builder = build;
    builderUser = user;
}

VLAudioBase* AudioBackendSet::current(uint32_t type) const {
    switch (type) {
        case kDeviceTypeMME: return mme;
        case kDeviceTypeASIO: return asio;
        case kDeviceTypeWasapiShared: return wasapiShared;
        case kDeviceTypeWasapiExclusive: return wasapiExclusive;
        case kDeviceTypeDirectSound: return directSound;
        default: return nullptr;
    }
}

}  // namespace vl
