#include "audio/dsound/VLDirectSound.h"

#include <cstring>
#include <vector>

#include "audio/DeviceListing.h"
#include "audio/SampleConvert.h"
#include "audio/dsound/DirectSoundRing.h"
#include "platform/win/Com.h"

namespace vl {

using platform::ComPtr;
using platform::ComThreadScope;

namespace {

BOOL CALLBACK collectDevice(LPGUID guid, LPCWSTR description, LPCWSTR, LPVOID context) {
    auto* list = static_cast<std::vector<DirectSoundDeviceInfo>*>(context);
    DirectSoundDeviceInfo info;
    if (guid) {
        wchar_t text[64] = {};
        if (StringFromGUID2(*guid, text, 64) > 0) info.guidText = text;
    }
    info.description = description ? description : L"";
    list->push_back(info);
    return TRUE;
}

// The id of a record as a GUID; false for a malformed id. An empty id names the default device.
bool deviceGuid(const AudioDeviceRecord& record, GUID& guid, bool& isDefault) {
    isDefault = record.endpointId.empty();
    if (isDefault) return true;
    return SUCCEEDED(CLSIDFromString(record.endpointId.c_str(), &guid));
}

WAVEFORMATEX streamFormat() {
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = 44100;
    format.nAvgBytesPerSec = dsound::kBytesPerSecond;
    format.nBlockAlign = 4;
    format.wBitsPerSample = 16;
    format.cbSize = 0;
    return format;
}

}  // namespace

// What one run opens; released by the one close routine, whatever was opened.
struct VLDirectSound::Session {
    dsound::Ring ring;
    WAVEFORMATEX format = streamFormat();
    ComPtr<IDirectSound> playback;
    ComPtr<IDirectSoundCapture> capture;
    ComPtr<IDirectSoundBuffer> primary;
    ComPtr<IDirectSoundBuffer> playBuffer;
    ComPtr<IDirectSoundCaptureBuffer> captureBuffer;
    ComPtr<IDirectSoundNotify> notify;
    HANDLE events[dsound::kBlockCount] = {};
    bool withInput = false;

    ~Session() { close(); }
    void close() {
        if (playBuffer) playBuffer->Stop();
        if (captureBuffer) captureBuffer->Stop();
        if (primary) primary->Stop();
        notify.reset();
        captureBuffer.reset();
        playBuffer.reset();
        primary.reset();
        capture.reset();
        playback.reset();
        for (HANDLE& e : events) {
            if (e) CloseHandle(e);
            e = nullptr;
        }
    }
};

namespace {

// Capture and playback buffers lock alike.
template <class Buffer>
bool lockRegion(Buffer* buffer, uint32_t offset, uint32_t bytes, dsound::Region& r) {
    DWORD b1 = 0, b2 = 0;
    const bool ok = SUCCEEDED(buffer->Lock(offset, bytes, &r.part1, &b1, &r.part2, &b2, 0));
    r.bytes1 = b1;
    r.bytes2 = b2;
    return ok;
}

// The loop's view of one session's buffers.
class SessionBuffers final : public dsound::Buffers {
public:
    explicit SessionBuffers(VLDirectSound::Session& s) : s(s) {}

    void waitNotification(uint32_t ms) override { WaitForMultipleObjects(dsound::kBlockCount, s.events, FALSE, ms); }
    bool captureReadPosition(uint32_t& position) override {
        DWORD capture = 0, read = 0;
        const bool ok = SUCCEEDED(s.captureBuffer->GetCurrentPosition(&capture, &read));
        position = read;
        return ok;
    }
    bool playCursors(uint32_t& play, uint32_t& write) override {
        DWORD p = 0, w = 0;
        const bool ok = SUCCEEDED(s.playBuffer->GetCurrentPosition(&p, &w));
        play = p;
        write = w;
        return ok;
    }
    bool lockCapture(uint32_t offset, uint32_t bytes, dsound::Region& r) override {
        return lockRegion(s.captureBuffer.get(), offset, bytes, r);
    }
    bool unlockCapture(const dsound::Region& r) override {
        return SUCCEEDED(s.captureBuffer->Unlock(r.part1, r.bytes1, r.part2, r.bytes2));
    }
    bool lockPlay(uint32_t offset, uint32_t bytes, dsound::Region& r) override {
        return lockRegion(s.playBuffer.get(), offset, bytes, r);
    }
    bool unlockPlay(const dsound::Region& r) override {
        return SUCCEEDED(s.playBuffer->Unlock(r.part1, r.bytes1, r.part2, r.bytes2));
    }
    bool startPlayback() override { return SUCCEEDED(s.playBuffer->Play(0, 0, DSBPLAY_LOOPING)); }
    uint64_t nowMs() override { return GetTickCount64(); }
    void sleepMs(uint32_t ms) override { Sleep(ms); }

private:
    VLDirectSound::Session& s;
};

}  // namespace

VLDirectSound::VLDirectSound() {
    devices.clear();
    module = LoadLibraryW(L"dsound.dll");
    if (!module) return;
    create = reinterpret_cast<CreateProc>(reinterpret_cast<void*>(GetProcAddress(module, MAKEINTRESOURCEA(1))));
    enumerate = reinterpret_cast<EnumerateProc>(reinterpret_cast<void*>(GetProcAddress(module, MAKEINTRESOURCEA(3))));
    captureCreate =
        reinterpret_cast<CaptureCreateProc>(reinterpret_cast<void*>(GetProcAddress(module, MAKEINTRESOURCEA(6))));
    captureEnumerate =
        reinterpret_cast<EnumerateProc>(reinterpret_cast<void*>(GetProcAddress(module, MAKEINTRESOURCEA(8))));
    ComThreadScope scope;
    std::vector<DirectSoundDeviceInfo> capture, playback;
    if (captureEnumerate) captureEnumerate(&collectDevice, &capture);
    if (enumerate) enumerate(&collectDevice, &playback);
    appendDirectSoundRecords(capture, playback, devices);
}

VLDirectSound::~VLDirectSound() {
    stop();
    if (module) FreeLibrary(module);
}

bool VLDirectSound::matchFormats(AudioDeviceRecord*, AudioDeviceRecord*) { return true; }

bool VLDirectSound::queryDetails(AudioDeviceRecord* record, bool) {
    if (!record) return false;
    record->detailsKnown = true;
    return true;
}

void VLDirectSound::stop() { freePlanes(); }

bool VLDirectSound::openSession(AudioDeviceRecord* input, AudioDeviceRecord& output, Session& s) {
    if (!create || (input && !captureCreate)) return false;
    s.ring = dsound::ringFor(output.bufferSize);
    if (s.ring.blockBytes == 0) return false;
    s.withInput = input != nullptr;
    GUID guid{};
    bool isDefault = false;

    if (input) {
        if (!deviceGuid(*input, guid, isDefault) || FAILED(captureCreate(isDefault ? nullptr : &guid, s.capture.put(), nullptr)))
            return false;
    }
    if (!deviceGuid(output, guid, isDefault) || FAILED(create(isDefault ? nullptr : &guid, s.playback.put(), nullptr)) ||
        FAILED(s.playback->SetCooperativeLevel(GetDesktopWindow(), DSSCL_PRIORITY)))
        return false;

    DSBUFFERDESC primaryDesc{};
    primaryDesc.dwSize = sizeof primaryDesc;
    primaryDesc.dwFlags = DSBCAPS_PRIMARYBUFFER;
    WAVEFORMATEX primaryFormat{};
    if (FAILED(s.playback->CreateSoundBuffer(&primaryDesc, s.primary.put(), nullptr)) ||
        FAILED(s.primary->Play(0, 0, DSBPLAY_LOOPING)) ||
        FAILED(s.primary->GetFormat(&primaryFormat, sizeof primaryFormat, nullptr)))
        return false;

    if (input) {
        DSCCAPS caps{};
        caps.dwSize = sizeof caps;
        DSCBUFFERDESC captureDesc{};
        captureDesc.dwSize = sizeof captureDesc;
        captureDesc.dwBufferBytes = s.ring.ringBytes;
        captureDesc.lpwfxFormat = &s.format;
        if (FAILED(s.capture->GetCaps(&caps)) ||
            FAILED(s.capture->CreateCaptureBuffer(&captureDesc, s.captureBuffer.put(), nullptr)))
            return false;
    }

    DSBUFFERDESC playDesc{};
    playDesc.dwSize = sizeof playDesc;
    playDesc.dwFlags = DSBCAPS_CTRLPOSITIONNOTIFY | DSBCAPS_GLOBALFOCUS;
    playDesc.dwBufferBytes = s.ring.ringBytes;
    playDesc.lpwfxFormat = &s.format;
    if (FAILED(s.playback->CreateSoundBuffer(&playDesc, s.playBuffer.put(), nullptr)) || FAILED(s.playBuffer->Stop()))
        return false;
    void* part1 = nullptr;
    void* part2 = nullptr;
    DWORD bytes1 = 0, bytes2 = 0;
    if (FAILED(s.playBuffer->Lock(0, 0, &part1, &bytes1, &part2, &bytes2, DSBLOCK_ENTIREBUFFER))) return false;
    if (part1) std::memset(part1, 0, bytes1);
    if (part2) std::memset(part2, 0, bytes2);
    if (FAILED(s.playBuffer->Unlock(part1, bytes1, part2, bytes2))) return false;

    DSBPOSITIONNOTIFY positions[dsound::kBlockCount];
    for (uint32_t i = 0; i < dsound::kBlockCount; ++i) {
        s.events[i] = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (!s.events[i]) return false;
        positions[i].dwOffset = s.ring.notificationOffset(i);
        positions[i].hEventNotify = s.events[i];
    }
    const HRESULT hr = input ? s.captureBuffer->QueryInterface(IID_IDirectSoundNotify, s.notify.putVoid())
                             : s.playBuffer->QueryInterface(IID_IDirectSoundNotify, s.notify.putVoid());
    if (FAILED(hr) || FAILED(s.notify->SetNotificationPositions(dsound::kBlockCount, positions))) return false;

    if (input ? FAILED(s.captureBuffer->Start(DSCBSTART_LOOPING)) : FAILED(s.playBuffer->Play(0, 0, DSBPLAY_LOOPING)))
        return false;
    return allocatePlanes(output.bufferSize);
}

bool VLDirectSound::openAndStart(AudioDeviceRecord* input, AudioDeviceRecord* output, RenderBlockProc callback,
                                 void* user) {
    stop();
    if (!output || !callback) return false;
    ComThreadScope scope(COINIT_MULTITHREADED);
    bool ok = false;
    {
        Session s;
        if (openSession(input, *output, s)) {
            // A failure inside the loop is reported by the loop; the start itself succeeded.
            SessionBuffers buffers(s);
            const interleaved::InputChannels chosen =
                input ? interleaved::chooseInputChannels(2, input->leftChannel, input->rightChannel)
                      : interleaved::InputChannels{};
            runLoop(buffers, s.ring, s.withInput, chosen,
                    chooseOutputChannels(s.format.nChannels, output->leftChannel, output->rightChannel), callback, user);
            ok = true;
        }
        s.close();
    }
    freePlanes();
    return ok;
}

}  // namespace vl
