#include "audio/wasapi/VLWASAPI.h"

#include <propidl.h>
#include <propsys.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "audio/DeviceListing.h"
#include "audio/SampleConvert.h"

namespace vl {

using platform::ComPtr;
using platform::ComThreadScope;
using wasapi::DeviceFormat;

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

using wasapi::Result;

// IAudioClient with the service it gives and its own event.
class ComClient final : public wasapi::Client {
public:
    ComClient(ComPtr<IAudioClient> client, bool capture) : client(std::move(client)), capture(capture) {}
    ~ComClient() override {
        renderService.reset();
        captureService.reset();
        client.reset();
        if (event) CloseHandle(event);
    }
    ComClient(const ComClient&) = delete;
    ComClient& operator=(const ComClient&) = delete;

    HANDLE eventHandle() const { return event; }

    Result mixFormat(DeviceFormat& format) override {
        WAVEFORMATEX* mix = nullptr;
        const HRESULT hr = client->GetMixFormat(&mix);
        if (FAILED(hr) || !mix) return FAILED(hr) ? hr : wasapi::kFail;
        // The size the record claims is not trusted beyond the extensible record.
        const size_t size = std::min<size_t>(sizeof(WAVEFORMATEX) + mix->cbSize, wasapi::kDeviceFormatBytes);
        const bool ok = wasapi::parseDeviceFormat(reinterpret_cast<const uint8_t*>(mix), size, format);
        CoTaskMemFree(mix);
        return ok ? S_OK : wasapi::kUnsupportedFormat;
    }
    Result devicePeriod(int64_t& defaultPeriod, int64_t& minimumPeriod) override {
        REFERENCE_TIME d = 0, m = 0;
        const HRESULT hr = client->GetDevicePeriod(&d, &m);
        defaultPeriod = d;
        minimumPeriod = m;
        return hr;
    }
    bool supportsExclusive(const DeviceFormat& format) override {
        return client->IsFormatSupported(AUDCLNT_SHAREMODE_EXCLUSIVE, asWaveFormat(format), nullptr) == S_OK;
    }
    Result initialize(bool exclusive, int64_t duration, int64_t period, const DeviceFormat& format) override {
        HRESULT hr = client->Initialize(exclusive ? AUDCLNT_SHAREMODE_EXCLUSIVE : AUDCLNT_SHAREMODE_SHARED,
                                        AUDCLNT_STREAMFLAGS_EVENTCALLBACK, duration, period, asWaveFormat(format),
                                        nullptr);
        if (FAILED(hr)) return hr;
        if (!event) event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (!event) return wasapi::kFail;
        if (FAILED(hr = client->SetEventHandle(event))) return hr;
        return capture ? client->GetService(__uuidof(IAudioCaptureClient), captureService.putVoid())
                       : client->GetService(__uuidof(IAudioRenderClient), renderService.putVoid());
    }
    Result bufferFrames(uint32_t& frames) override {
        UINT32 n = 0;
        const HRESULT hr = client->GetBufferSize(&n);
        frames = SUCCEEDED(hr) ? n : 0;
        return hr;
    }
    Result start() override { return client->Start(); }
    void stop() override { client->Stop(); }
    Result padding(uint32_t& frames) override {
        UINT32 n = 0;
        const HRESULT hr = client->GetCurrentPadding(&n);
        frames = n;
        return hr;
    }
    Result getRenderBuffer(uint32_t frames, uint8_t*& data) override {
        if (!renderService) return wasapi::kFail;
        BYTE* p = nullptr;
        const HRESULT hr = renderService->GetBuffer(frames, &p);
        data = p;
        return hr;
    }
    Result releaseRenderBuffer(uint32_t frames, bool silent) override {
        if (!renderService) return wasapi::kFail;
        return renderService->ReleaseBuffer(frames, silent ? AUDCLNT_BUFFERFLAGS_SILENT : 0);
    }
    Result getCapturePacket(uint8_t*& data, uint32_t& frames, bool& silent) override {
        if (!captureService) return wasapi::kFail;
        BYTE* p = nullptr;
        UINT32 n = 0;
        DWORD flags = 0;
        const HRESULT hr = captureService->GetBuffer(&p, &n, &flags, nullptr, nullptr);
        data = p;
        frames = SUCCEEDED(hr) ? n : 0;
        silent = (flags & AUDCLNT_BUFFERFLAGS_SILENT) != 0;
        return hr;
    }
    Result releaseCapturePacket(uint32_t frames) override {
        return captureService ? captureService->ReleaseBuffer(frames) : wasapi::kFail;
    }

private:
    ComPtr<IAudioClient> client;
    ComPtr<IAudioRenderClient> renderService;
    ComPtr<IAudioCaptureClient> captureService;
    HANDLE event = nullptr;
    bool capture;
};

// The endpoints as the system has them; every client it hands out is a ComClient.
class ComEndpoints final : public wasapi::Endpoints {
public:
    explicit ComEndpoints(VLWASAPI& backend) : backend(backend) {}

    std::unique_ptr<wasapi::Client> activate(const AudioDeviceRecord& record) override {
        ComPtr<IMMDevice> device = backend.findEndpoint(record);
        ComPtr<IAudioClient> client;
        if (!device || FAILED(device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, client.putVoid())))
            return nullptr;
        return std::make_unique<ComClient>(std::move(client), record.isInput);
    }
    bool storedFormat(const AudioDeviceRecord& record, DeviceFormat& format) override {
        ComPtr<IMMDevice> device = backend.findEndpoint(record);
        return device && VLWASAPI::readDeviceFormat(device.get(), format);
    }
    uint32_t wait(wasapi::Client& render, wasapi::Client* capture, uint32_t ms) override {
        const HANDLE handles[2] = {static_cast<ComClient&>(render).eventHandle(),
                                   capture ? static_cast<ComClient*>(capture)->eventHandle() : nullptr};
        const DWORD count = capture ? 2 : 1;
        const DWORD r = WaitForMultipleObjects(count, handles, FALSE, ms);
        if (r >= WAIT_OBJECT_0 + count) return 0;
        const uint32_t bits[2] = {wasapi::kRenderSignalled, wasapi::kCaptureSignalled};
        const DWORD first = r - WAIT_OBJECT_0;
        uint32_t signalled = bits[first];
        // The other event may be set as well: taken now rather than on a wake of its own.
        if (count == 2 && WaitForSingleObject(handles[1 - first], 0) == WAIT_OBJECT_0) signalled |= bits[1 - first];
        return signalled;
    }
    uint64_t nowMs() override { return GetTickCount64(); }
    void sleepMs(uint32_t ms) override { Sleep(ms); }

private:
    VLWASAPI& backend;
};

}  // namespace

VLWASAPI::VLWASAPI() {
    devices.clear();
    if (!com.usable()) return;
    enumerate(eRender);
    enumerate(eCapture);
}

VLWASAPI::~VLWASAPI() { stop(); }

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

bool VLWASAPI::queryDetails(AudioDeviceRecord* record, bool probe) {
    ComThreadScope scope;
    ComEndpoints endpoints(*this);
    return queryStreamDetails(endpoints, record, probe);
}

void VLWASAPI::stop() { freePlanes(); }

bool VLWASAPI::openAndStart(AudioDeviceRecord* input, AudioDeviceRecord* output, RenderBlockProc callback,
                            void* user) {
    stop();
    if (!output || !callback) return false;
    ComThreadScope scope(COINIT_MULTITHREADED);
    if (!scope.usable()) return false;
    ComEndpoints endpoints(*this);
    return runStreams(endpoints, input, *output, callback, user);
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
        target.detailsKnown = false;  // its block is to be learnt (or negotiated) again at the new rate
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
