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

bool VLDirectSound::runLoop(Session& s, RenderBlockProc callback, void* user) {
    const dsound::Ring& ring = s.ring;
    uint32_t readOffset = 0, writeOffset = 0;
    bool playing = !s.withInput;
    for (;;) {
        WaitForMultipleObjects(dsound::kBlockCount, s.events, FALSE, ring.waitMs);
        // Poll until the device has passed the block. Without input the play cursor is asked,
        // not the write cursor: the region between the two may not have been mixed yet, and a
        // block rewritten there would sometimes be heard a ring early. The poll spins briefly,
        // then yields a millisecond at a time (a spin at time-critical priority keeps the
        // driver's own thread, which moves the position, from running), and gives up when the
        // position stops moving.
        const ULONGLONG pollStart = GetTickCount64();
        for (uint32_t polls = 0;; ++polls) {
            DWORD capturePos = 0, readPos = 0, playPos = 0, writePos = 0;
            const HRESULT hr = s.withInput ? s.captureBuffer->GetCurrentPosition(&capturePos, &readPos)
                                           : s.playBuffer->GetCurrentPosition(&playPos, &writePos);
            if (FAILED(hr) || dsound::blockReady(ring, s.withInput ? readPos : playPos, readOffset)) break;
            if (GetTickCount64() - pollStart > kStallMs) return false;
            if (polls >= kSpinPolls) Sleep(1);
        }

        void* in1 = nullptr;
        void* in2 = nullptr;
        DWORD inBytes1 = 0, inBytes2 = 0;
        if (s.withInput) {
            if (FAILED(s.captureBuffer->Lock(readOffset, ring.blockBytes, &in1, &inBytes1, &in2, &inBytes2, 0))) break;
            interleaved::int16ToChosenPlanes(static_cast<const int16_t*>(in1), 2, interleaved::InputChannels{},
                                             leftPlane, rightPlane, inBytes1 / 4);
        }
        void* out1 = nullptr;
        void* out2 = nullptr;
        DWORD outBytes1 = 0, outBytes2 = 0;
        if (FAILED(s.playBuffer->Lock(writeOffset / 4 * 4, ring.blockBytes, &out1, &outBytes1, &out2, &outBytes2, 0))) {
            if (s.withInput) s.captureBuffer->Unlock(in1, inBytes1, in2, inBytes2);
            break;
        }
        bool keepGoing = true;
        if (!s.withInput || inBytes1 >= outBytes1) {
            keepGoing = callback(planePair, planePair, outBytes1 / 4, user);
            if (keepGoing)
                interleaved::planesToInt16(leftPlane, rightPlane, static_cast<int16_t*>(out1), 2, 0, 1, outBytes1 / 4);
        }
        const bool unlocked = SUCCEEDED(s.playBuffer->Unlock(out1, outBytes1, out2, outBytes2)) &&
                              (!s.withInput || SUCCEEDED(s.captureBuffer->Unlock(in1, inBytes1, in2, inBytes2)));
        if (!keepGoing || !unlocked) break;
        if (!playing && writeOffset > 3) {
            if (FAILED(s.playBuffer->Play(0, 0, DSBPLAY_LOOPING))) break;
            playing = true;
        }
        readOffset = (readOffset + ring.blockBytes) % ring.ringBytes;
        writeOffset = dsound::advance(ring, writeOffset);
    }
    return true;
}

bool VLDirectSound::openAndStart(AudioDeviceRecord* input, AudioDeviceRecord* output, RenderBlockProc callback,
                                 void* user) {
    stop();
    if (!output || !callback) return false;
    ComThreadScope scope(COINIT_MULTITHREADED);
    bool ok = false;
    {
        Session s;
        if (openSession(input, *output, s)) ok = runLoop(s, callback, user);
        s.close();
    }
    freePlanes();
    return ok;
}

}  // namespace vl
