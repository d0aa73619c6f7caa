#include "audio/wasapi/VLWASAPI.h"

#include <propidl.h>
#include <propsys.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "audio/DeviceListing.h"
#include "audio/SampleConvert.h"

namespace vl {

using platform::ComPtr;
using platform::ComThreadScope;
using wasapi::DeviceFormat;
using wasapi::SampleKind;

namespace {

// Property keys, written out so that no GUID definitions have to be pulled from the SDK.
constexpr PROPERTYKEY kFriendlyName = {{0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 14};
constexpr PROPERTYKEY kDeviceDesc = {{0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 2};
constexpr PROPERTYKEY kDeviceFormat = {{0xf19f064d, 0x082c, 0x4e27, {0xbc, 0x73, 0x68, 0x82, 0xa1, 0xbb, 0x8e, 0x4c}}, 0};
constexpr PROPERTYKEY kFormFactor = {{0x1da5d803, 0xd492, 0x4edd, {0x8c, 0x23, 0xe0, 0xc0, 0xff, 0xee, 0x7f, 0x0e}}, 0};

// Holds a PROPVARIANT and clears it.
struct PropValue {
    PROPVARIANT v;
    PropValue() { PropVariantInit(&v); }
    ~PropValue() { PropVariantClear(&v); }
    PropValue(const PropValue&) = delete;
    PropValue& operator=(const PropValue&) = delete;
};

std::optional<std::wstring> readString(IPropertyStore* store, const PROPERTYKEY& key) {
    PropValue value;
    if (FAILED(store->GetValue(key, &value.v)) || value.v.vt != VT_LPWSTR || !value.v.pwszVal) return std::nullopt;
    return std::wstring(value.v.pwszVal);
}

std::optional<std::vector<uint8_t>> readBlob(IPropertyStore* store, const PROPERTYKEY& key) {
    PropValue value;
    if (FAILED(store->GetValue(key, &value.v)) || value.v.vt != VT_BLOB || !value.v.blob.pBlobData) return std::nullopt;
    const uint8_t* data = value.v.blob.pBlobData;
    return std::vector<uint8_t>(data, data + value.v.blob.cbSize);
}

bool readable(IPropertyStore* store, const PROPERTYKEY& key) {
    PropValue value;
    return SUCCEEDED(store->GetValue(key, &value.v)) && value.v.vt != VT_EMPTY;
}

std::optional<std::wstring> deviceId(IMMDevice* device) {
    LPWSTR id = nullptr;
    if (FAILED(device->GetId(&id)) || !id) return std::nullopt;
    std::wstring text(id);
    CoTaskMemFree(id);
    return text;
}

ComPtr<IMMDeviceEnumerator> createEnumerator() {
    ComPtr<IMMDeviceEnumerator> enumerator;
    if (FAILED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL, __uuidof(IMMDeviceEnumerator),
                                enumerator.putVoid())))
        enumerator.reset();
    return enumerator;
}

const WAVEFORMATEX* asWaveFormat(const DeviceFormat& format) {
    return reinterpret_cast<const WAVEFORMATEX*>(format.bytes);
}

void convertInput(SampleKind kind, const BYTE* data, uint32_t channels, interleaved::InputChannels chosen, float* left,
                  float* right, uint32_t frames) {
    switch (kind) {
        case SampleKind::Int16:
            interleaved::int16ToChosenPlanes(reinterpret_cast<const int16_t*>(data), channels, chosen, left, right, frames);
            break;
        case SampleKind::Int32:
            interleaved::int32ToChosenPlanes(reinterpret_cast<const int32_t*>(data), channels, chosen, left, right, frames);
            break;
        case SampleKind::Float32:
            interleaved::float32ToChosenPlanes(reinterpret_cast<const float*>(data), channels, chosen, left, right, frames);
            break;
        case SampleKind::Unsupported: break;
    }
}

void convertOutput(SampleKind kind, const float* left, const float* right, BYTE* data, const AudioDeviceRecord& output,
                   uint32_t channels, uint32_t frames) {
    switch (kind) {
        case SampleKind::Int16:
            interleaved::planesToInt16(left, right, reinterpret_cast<int16_t*>(data), channels, output.leftChannel,
                                       output.rightChannel, frames);
            break;
        case SampleKind::Int32:
            interleaved::planesToInt32(left, right, reinterpret_cast<int32_t*>(data), channels, output.leftChannel,
                                       output.rightChannel, frames);
            break;
        case SampleKind::Float32:
            interleaved::planesToFloat32(left, right, reinterpret_cast<float*>(data), channels, output.leftChannel,
                                         output.rightChannel, frames);
            break;
        case SampleKind::Unsupported: break;
    }
}

}  // namespace

// What one run of the device loop owns. Released by the one close routine, whatever was opened.
struct VLWASAPI::Streams {
    ComPtr<IAudioClient> captureClient;
    ComPtr<IAudioClient> renderClient;
    ComPtr<IAudioCaptureClient> captureService;
    ComPtr<IAudioRenderClient> renderService;
    DeviceFormat inputFormat, outputFormat;
    SampleKind inputKind = SampleKind::Unsupported, outputKind = SampleKind::Unsupported;
    HANDLE event = nullptr;
    bool renderStarted = false, captureStarted = false;
    uint32_t planeFrames = 0;

    ~Streams() { close(); }
    void close() {
        if (renderStarted && renderClient) renderClient->Stop();
        if (captureStarted && captureClient) captureClient->Stop();
        renderStarted = captureStarted = false;
        renderService.reset();
        captureService.reset();
        renderClient.reset();
        captureClient.reset();
        if (event) CloseHandle(event);
        event = nullptr;
    }
};

VLWASAPI::VLWASAPI() {
    devices.clear();
    if (!com.usable()) return;
    enumerate(eRender);
    enumerate(eCapture);
}

VLWASAPI::~VLWASAPI() {
    stop();
    captureService.reset();
    renderService.reset();
    captureClient.reset();
    renderClient.reset();
}

void VLWASAPI::enumerate(EDataFlow direction) {
    ComPtr<IMMDeviceEnumerator> enumerator = createEnumerator();
    if (!enumerator) return;
    ComPtr<IMMDeviceCollection> collection;
    UINT count = 0;
    ComPtr<IMMDevice> defaultDevice;
    if (FAILED(enumerator->EnumAudioEndpoints(direction, DEVICE_STATE_ACTIVE, collection.put())) ||
        FAILED(collection->GetCount(&count)) ||
        FAILED(enumerator->GetDefaultAudioEndpoint(direction, eMultimedia, defaultDevice.put())))
        return;
    const std::optional<std::wstring> defaultId = deviceId(defaultDevice.get());
    if (!defaultId) return;

    for (UINT i = 0; i < count; ++i) {
        ComPtr<IMMDevice> device;
        if (FAILED(collection->Item(i, device.put()))) continue;
        ComPtr<IPropertyStore> store;
        if (FAILED(device->OpenPropertyStore(STGM_READ, store.put()))) continue;
        EndpointInfo info;
        info.id = deviceId(device.get());
        if (info.id) {
            info.friendlyName = readString(store.get(), kFriendlyName);
            info.description = readString(store.get(), kDeviceDesc);
            info.deviceFormat = readBlob(store.get(), kDeviceFormat);
            info.formFactorRead = readable(store.get(), kFormFactor);
        }
        if (appendEndpointRecords(info, direction == eCapture, *defaultId, devices) == EndpointOutcome::EndOfDirection)
            break;
    }
}

ComPtr<IMMDevice> VLWASAPI::findEndpoint(const AudioDeviceRecord& record) {
    ComThreadScope scope;
    ComPtr<IMMDeviceEnumerator> enumerator = createEnumerator();
    ComPtr<IMMDeviceCollection> collection;
    UINT count = 0;
    if (!enumerator ||
        FAILED(enumerator->EnumAudioEndpoints(record.isInput ? eCapture : eRender, DEVICE_STATE_ACTIVE, collection.put())) ||
        FAILED(collection->GetCount(&count)))
        return {};
    for (UINT i = 0; i < count; ++i) {
        ComPtr<IMMDevice> device;
        if (FAILED(collection->Item(i, device.put()))) continue;
        const std::optional<std::wstring> id = deviceId(device.get());
        if (id && *id == record.endpointId) return device;
    }
    return {};
}

bool VLWASAPI::readDeviceFormat(IMMDevice* device, DeviceFormat& format) {
    ComPtr<IPropertyStore> store;
    if (!device || FAILED(device->OpenPropertyStore(STGM_READ, store.put()))) return false;
    const std::optional<std::vector<uint8_t>> blob = readBlob(store.get(), kDeviceFormat);
    return blob && wasapi::parseDeviceFormat(blob->data(), blob->size(), format);
}

ComPtr<IAudioRenderClient> VLWASAPI::initRenderClient(IAudioClient* client, const DeviceFormat& format,
                                                      uint32_t blockSize, uint32_t type) {
    if (!client) return {};
    const bool exclusive = type == kDeviceTypeWasapiExclusive;
    const REFERENCE_TIME duration = exclusive ? wasapi::exclusiveBufferDuration(blockSize, format.samplesPerSec) : 0;
    ComPtr<IAudioRenderClient> service;
    if (FAILED(client->Initialize(exclusive ? AUDCLNT_SHAREMODE_EXCLUSIVE : AUDCLNT_SHAREMODE_SHARED,
                                  AUDCLNT_STREAMFLAGS_EVENTCALLBACK, duration, duration, asWaveFormat(format), nullptr)) ||
        FAILED(client->GetService(__uuidof(IAudioRenderClient), service.putVoid())))
        service.reset();
    return service;
}

ComPtr<IAudioCaptureClient> VLWASAPI::initCaptureClient(IAudioClient* client, const DeviceFormat& format,
                                                        uint32_t type) {
    if (!client || type == kDeviceTypeWasapiExclusive) return {};
    REFERENCE_TIME period = 0;
    ComPtr<IAudioCaptureClient> service;
    if (FAILED(client->GetDevicePeriod(&period, nullptr)) ||
        FAILED(client->Initialize(AUDCLNT_SHAREMODE_SHARED, AUDCLNT_STREAMFLAGS_EVENTCALLBACK, period, 0,
                                  asWaveFormat(format), nullptr)) ||
        FAILED(client->GetService(__uuidof(IAudioCaptureClient), service.putVoid())))
        service.reset();
    return service;
}

bool VLWASAPI::queryDetails(AudioDeviceRecord* record, bool probe) {
    if (!record) return false;
    if (record->detailsKnown) return true;
    if (record->type == kDeviceTypeWasapiExclusive) return record->bufferSize != 0;
    if (record->type != kDeviceTypeWasapiShared) return false;

    ComThreadScope scope;
    ComPtr<IMMDevice> device = findEndpoint(*record);
    ComPtr<IAudioClient> client;
    DeviceFormat format;
    if (!device || FAILED(device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, client.putVoid())) ||
        !readDeviceFormat(device.get(), format))
        return false;
    ComPtr<IAudioRenderClient> render;
    ComPtr<IAudioCaptureClient> capture;
    if (record->isInput) capture = initCaptureClient(client.get(), format, record->type);
    else render = initRenderClient(client.get(), format, record->bufferSize, record->type);
    if (!capture && !render) return false;
    UINT32 frames = 0;
    if (FAILED(client->GetBufferSize(&frames))) frames = 0;
    record->bufferSize = frames;
    if (frames == 0) return false;
    if (!probe) {
        if (record->isInput) {
            captureService = std::move(capture);
            captureClient = std::move(client);
        } else {
            renderService = std::move(render);
            renderClient = std::move(client);
        }
    }
    record->detailsKnown = true;
    return true;
}

void VLWASAPI::stop() { freePlanes(); }

bool VLWASAPI::openStreams(AudioDeviceRecord* input, AudioDeviceRecord& output, Streams& s) {
    // Clients kept by a details query now belong to this run.
    s.captureClient = std::move(captureClient);
    s.captureService = std::move(captureService);
    s.renderClient = std::move(renderClient);
    s.renderService = std::move(renderService);
    if (!input) {
        s.captureService.reset();
        s.captureClient.reset();
    } else {
        if (input->type == kDeviceTypeWasapiExclusive) return false;
        ComPtr<IMMDevice> device = findEndpoint(*input);
        if (!device) return false;
        if (!s.captureClient &&
            FAILED(device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, s.captureClient.putVoid())))
            return false;
        if (!readDeviceFormat(device.get(), s.inputFormat)) return false;
        if (!s.captureService) s.captureService = initCaptureClient(s.captureClient.get(), s.inputFormat, input->type);
        if (!s.captureService) return false;
        s.inputKind = wasapi::sampleKindOf(s.inputFormat);
        if (s.inputKind == SampleKind::Unsupported) return false;
    }

    ComPtr<IMMDevice> device = findEndpoint(output);
    if (!device) return false;
    if (!s.renderClient && FAILED(device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, s.renderClient.putVoid())))
        return false;
    if (!readDeviceFormat(device.get(), s.outputFormat)) return false;
    if (!s.renderService)
        s.renderService = initRenderClient(s.renderClient.get(), s.outputFormat, output.bufferSize, output.type);
    if (!s.renderService) return false;
    s.outputKind = wasapi::sampleKindOf(s.outputFormat);
    if (s.outputKind == SampleKind::Unsupported) return false;

    // The planes hold the largest block either stream can hand over.
    UINT32 renderFrames = 0, captureFrames = 0;
    if (FAILED(s.renderClient->GetBufferSize(&renderFrames))) return false;
    if (s.captureClient && FAILED(s.captureClient->GetBufferSize(&captureFrames))) return false;
    s.planeFrames = std::max({output.bufferSize, input ? input->bufferSize : 0u, uint32_t(renderFrames), uint32_t(captureFrames)});
    if (!allocatePlanes(s.planeFrames)) return false;

    s.event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!s.event || FAILED(s.renderClient->SetEventHandle(s.event))) return false;
    if (s.captureClient && FAILED(s.captureClient->SetEventHandle(s.event))) return false;

    // Pre-roll: one block of silence queued before the stream starts.
    BYTE* data = nullptr;
    if (FAILED(s.renderService->GetBuffer(output.bufferSize, &data)) ||
        FAILED(s.renderService->ReleaseBuffer(output.bufferSize, AUDCLNT_BUFFERFLAGS_SILENT)))
        return false;

    if (FAILED(s.renderClient->Start())) return false;
    s.renderStarted = true;
    if (s.captureClient) {
        if (FAILED(s.captureClient->Start())) return false;
        s.captureStarted = true;
    }
    return true;
}

bool VLWASAPI::runLoop(Streams& s, AudioDeviceRecord* input, AudioDeviceRecord& output, RenderBlockProc callback,
                       void* user) {
    const bool shared = output.type != kDeviceTypeWasapiExclusive;
    const uint32_t outChannels = s.outputFormat.channels;
    const uint32_t inChannels = s.inputFormat.channels;
    const interleaved::InputChannels chosen =
        input ? interleaved::chooseInputChannels(inChannels, input->leftChannel, input->rightChannel)
              : interleaved::InputChannels{};
    ULONGLONG lastBlock = GetTickCount64();
    // A device that keeps signalling without ever giving or taking audio is stalled as well.
    const auto stalled = [&lastBlock] { return GetTickCount64() - lastBlock > kEventWaitMs; };

    for (;;) {
        if (WaitForSingleObject(s.event, kEventWaitMs) != WAIT_OBJECT_0) return false;
        uint32_t frames = output.bufferSize;
        if (input) {
            UINT32 packet = 0;
            if (FAILED(s.captureService->GetNextPacketSize(&packet)) || packet == 0) {
                if (stalled()) return false;
                continue;
            }
            BYTE* data = nullptr;
            UINT32 captured = 0;
            DWORD flags = 0;
            const HRESULT hr = s.captureService->GetBuffer(&data, &captured, &flags, nullptr, nullptr);
            if (FAILED(hr)) return false;
            if (hr == AUDCLNT_S_BUFFER_EMPTY || captured == 0) continue;
            frames = std::min<uint32_t>(captured, s.planeFrames);
            if (flags & AUDCLNT_BUFFERFLAGS_SILENT) {
                std::fill(leftPlane, leftPlane + frames, 0.0f);
                std::fill(rightPlane, rightPlane + frames, 0.0f);
            } else {
                convertInput(s.inputKind, data, inChannels, chosen, leftPlane, rightPlane, frames);
            }
            if (FAILED(s.captureService->ReleaseBuffer(captured))) return false;
            lastBlock = GetTickCount64();
            if (!callback(planePair, planePair, frames, user)) return true;
            if (WaitForSingleObject(s.event, kEventWaitMs) != WAIT_OBJECT_0) return false;
            if (shared) {
                UINT32 padding = 0;
                if (FAILED(s.renderClient->GetCurrentPadding(&padding))) return false;
                if (padding >= output.bufferSize) continue;
            }
        } else {
            if (shared) {
                UINT32 padding = 0;
                if (FAILED(s.renderClient->GetCurrentPadding(&padding))) return false;
                frames = std::min(wasapi::sharedWritableFrames(output.bufferSize, padding), s.planeFrames);
                if (frames == 0) {
                    if (stalled()) return false;
                    continue;
                }
            }
        }
        BYTE* data = nullptr;
        const HRESULT hr = s.renderService->GetBuffer(frames, &data);
        if (hr == AUDCLNT_E_BUFFER_TOO_LARGE) {
            if (stalled()) return false;
            continue;
        }
        if (FAILED(hr)) return false;
        if (!input) {
            lastBlock = GetTickCount64();
            if (!callback(planePair, planePair, frames, user)) {
                s.renderService->ReleaseBuffer(frames, AUDCLNT_BUFFERFLAGS_SILENT);
                return true;
            }
        }
        convertOutput(s.outputKind, leftPlane, rightPlane, data, output, outChannels, frames);
        if (FAILED(s.renderService->ReleaseBuffer(frames, 0))) return false;
    }
}

bool VLWASAPI::openAndStart(AudioDeviceRecord* input, AudioDeviceRecord* output, RenderBlockProc callback,
                            void* user) {
    stop();
    if (!output || !callback) return false;
    ComThreadScope scope(COINIT_MULTITHREADED);
    if (!scope.usable()) return false;
    bool ok = false;
    {
        Streams s;
        if (openStreams(input, *output, s)) {
            ok = runLoop(s, input, *output, callback, user);
            if (ok) {
                // Let the last buffer play before the stream stops.
                REFERENCE_TIME minimum = 0;
                if (SUCCEEDED(s.renderClient->GetDevicePeriod(nullptr, &minimum)))
                    Sleep(static_cast<DWORD>(minimum / 10000));
            }
        }
        s.close();
    }
    freePlanes();
    return ok;
}

bool VLWASAPI::matchFormats(AudioDeviceRecord* input, AudioDeviceRecord* output) {
    if (!input || !output) return false;
    if (input->sampleRate == output->sampleRate && input->bitsPerSample == output->bitsPerSample) return true;
    if (input->sampleRate < output->sampleRate || input->bitsPerSample < output->bitsPerSample)
        return rewriteEndpointFormat(eCapture, *input, *output);
    if (input->sampleRate > output->sampleRate || input->bitsPerSample > output->bitsPerSample)
        return rewriteEndpointFormat(eRender, *output, *input);
    return false;
}

bool VLWASAPI::rewriteEndpointFormat(EDataFlow direction, AudioDeviceRecord& target, const AudioDeviceRecord& source) {
    ComThreadScope scope;
    ComPtr<IMMDeviceEnumerator> enumerator = createEnumerator();
    ComPtr<IMMDeviceCollection> collection;
    UINT count = 0;
    if (!enumerator || FAILED(enumerator->EnumAudioEndpoints(direction, DEVICE_STATE_ACTIVE, collection.put())) ||
        FAILED(collection->GetCount(&count)))
        return false;
    for (UINT i = 0; i < count; ++i) {
        ComPtr<IMMDevice> device;
        ComPtr<IPropertyStore> store;
        if (FAILED(collection->Item(i, device.put())) || FAILED(device->OpenPropertyStore(STGM_READWRITE, store.put())))
            continue;
        const std::optional<std::wstring> id = deviceId(device.get());
        if (!id || *id != target.endpointId) continue;

        const std::optional<std::vector<uint8_t>> blob = readBlob(store.get(), kDeviceFormat);
        DeviceFormat format;
        if (!blob || !wasapi::parseDeviceFormat(blob->data(), blob->size(), format)) return false;
        target.sampleRate = source.sampleRate;
        target.bitsPerSample = source.bitsPerSample;
        target.bufferSize = source.bufferSize;
        wasapi::rewriteFormat(format.bytes, static_cast<uint32_t>(source.sampleRate), source.bitsPerSample);
        PROPVARIANT value;
        PropVariantInit(&value);
        value.vt = VT_BLOB;
        value.blob.cbSize = wasapi::kDeviceFormatBytes;
        value.blob.pBlobData = format.bytes;
        return SUCCEEDED(store->SetValue(kDeviceFormat, value)) && SUCCEEDED(store->Commit());
    }
    return false;
}

}  // namespace vl
