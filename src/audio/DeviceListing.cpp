#include "audio/DeviceListing.h"

#include "audio/wasapi/WasapiFormat.h"

namespace vl {

std::vector<std::wstring> numberedChannelNames(const std::wstring& prefix, bool isInput, uint32_t count) {
    std::vector<std::wstring> names;
    names.reserve(count);
    for (uint32_t n = 1; n <= count; ++n) names.push_back(prefix + (isInput ? L" In " : L" Out ") + std::to_wstring(n));
    return names;
}

EndpointOutcome appendEndpointRecords(const EndpointInfo& endpoint, bool isCapture, const std::wstring& defaultId,
                                      DeviceList& devices) {
    if (!endpoint.id) return EndpointOutcome::EndOfDirection;
    wasapi::DeviceFormat format;
    if (!endpoint.friendlyName || !endpoint.description || !endpoint.deviceFormat || !endpoint.formFactorRead ||
        !wasapi::parseDeviceFormat(endpoint.deviceFormat->data(), endpoint.deviceFormat->size(), format))
        return EndpointOutcome::Skipped;

    for (uint32_t type : {kDeviceTypeWasapiExclusive, kDeviceTypeWasapiShared}) {
        auto record = std::make_unique<AudioDeviceRecord>();
        record->type = type;
        record->bufferSize = defaultBufferSize(type);
        record->endpointId = *endpoint.id;
        record->isDefault = *endpoint.id == defaultId;
        record->name = *endpoint.friendlyName;
        record->channels = format.channels;
        record->sampleRate = static_cast<double>(format.samplesPerSec);
        record->bitsPerSample = format.bitsPerSample;
        record->isInput = isCapture;
        record->channelNames = numberedChannelNames(*endpoint.description, isCapture, format.channels);
        devices.push_back(std::move(record));
    }
    return EndpointOutcome::Listed;
}

namespace {

std::unique_ptr<AudioDeviceRecord> fixedFormatRecord(uint32_t type, bool isInput, uint16_t channels) {
    auto record = std::make_unique<AudioDeviceRecord>();
    record->type = type;
    record->isInput = isInput;
    record->bufferSize = defaultBufferSize(type);
    record->channels = channels;
    record->sampleRate = 44100.0;
    record->bitsPerSample = 16;
    record->channelNames = numberedChannelNames(L"", isInput, channels);
    return record;
}

}  // namespace

void appendDirectSoundRecords(const std::vector<DirectSoundDeviceInfo>& capture,
                              const std::vector<DirectSoundDeviceInfo>& playback, DeviceList& devices) {
    for (bool isInput : {true, false}) {
        for (const DirectSoundDeviceInfo& device : isInput ? capture : playback) {
            auto record = fixedFormatRecord(kDeviceTypeDirectSound, isInput, 2);
            record->endpointId = device.guidText;
            record->name = device.description;
            devices.push_back(std::move(record));
        }
    }
}

void appendWaveRecords(const std::vector<WaveDeviceInfo>& inputs, const std::vector<WaveDeviceInfo>& outputs,
                       DeviceList& devices) {
    for (const WaveDeviceInfo& device : inputs) {
        if (!device.capsRead) continue;
        auto record = fixedFormatRecord(kDeviceTypeMME, true, device.supports44k16Stereo ? 2 : device.channels);
        if (!device.supports44k16Stereo) {  // only the channel count is known
            record->sampleRate = 0.0;
            record->bitsPerSample = 0;
        }
        record->deviceIndex = device.number;
        record->name = device.productName;
        devices.push_back(std::move(record));
    }
    for (const WaveDeviceInfo& device : outputs) {
        if (!device.capsRead || !device.supports44k16Stereo) continue;
        auto record = fixedFormatRecord(kDeviceTypeMME, false, 2);
        record->deviceIndex = device.number;
        record->name = device.productName;
        devices.push_back(std::move(record));
    }
}

}  // namespace vl
