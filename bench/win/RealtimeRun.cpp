// Real-time comparison (not a test): plays a 997 Hz sine for a number of seconds, either
// through the host's engine and one of its back ends ("ours", with an in-process sine
// plug-in), or through a trivial client written straight on the same API ("ref"). Run under
// Wine against a sound server paced by the system clock (see realtime-pulse.sh), the captured
// sink output shows the dropouts of each.
//
//   vl_rt_winaudio <wasapi|dsound|mme> <ours|ref> [seconds]

#include <windows.h>
#include <mmsystem.h>
#include <audioclient.h>
#include <dsound.h>
#include <mmdeviceapi.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "audio/WindowsAudioBackends.h"
#include "host/HostCallback.h"
#include "host/PluginSlot.h"
#include "host/VLVSTHostInterface.h"
#include "midi/VLNullMidi.h"
#include "platform/win/Com.h"
#include "settings/HostSettings.h"
#include "settings/MemoryStore.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kHz = 997.0;
constexpr double kAmplitude = 0.5;

struct Sine {
    double phase = 0.0, step = 0.0;
    explicit Sine(double rate) : step(2.0 * kPi * kHz / rate) {}
    float next() {
        const float v = static_cast<float>(kAmplitude * std::sin(phase));
        phase += step;
        if (phase > 2.0 * kPi) phase -= 2.0 * kPi;
        return v;
    }
};

// ---- ours: the engine with an in-process sine instrument ---------------------------------------

struct SineEffect {
    vst::AEffect effect{};
    Sine sine{44100.0};
    SineEffect() {
        effect.magic = vst::kEffectMagic;
        effect.numOutputs = 2;
        effect.flags = vst::effFlagsIsSynth | vst::effFlagsCanReplacing;
        effect.object = this;
        effect.dispatcher = [](vst::AEffect* e, vst::int32 op, vst::int32, vst::intptr, void*, float opt) -> vst::intptr {
            if (op == vst::effSetSampleRate) static_cast<SineEffect*>(e->object)->sine = Sine(opt);
            return 0;
        };
        effect.processReplacing = [](vst::AEffect* e, float**, float** out, vst::int32 n) {
            auto* self = static_cast<SineEffect*>(e->object);
            for (vst::int32 i = 0; i < n; ++i) out[0][i] = out[1][i] = self->sine.next();
        };
    }
};

int runOurs(uint32_t type, double seconds) {
    vl::WindowsAudioBackends backends;
    vl::VLAudioBase* backend = type == vl::kDeviceTypeWasapiShared ? &backends.wasapi()
                               : type == vl::kDeviceTypeDirectSound ? backends.directSound()
                                                                   : backends.mme();
    vl::AudioDeviceRecord* output = nullptr;
    for (auto& r : backend->devices)
        if (r->type == type && !r->isInput && !output) output = r.get();
    if (!output) return 2;
    SineEffect sine;
    vl::PluginSlot slot;
    slot.effect = &sine.effect;
    vl::setHostContext(&slot);
    vl::VLNullMidi midi;
    vl::HostSettings settings(L"Realtime", std::make_shared<vl::MemoryStore>());
    settings.outputDevice = output;
    int rc = 0;
    {
        vl::VLVSTHostInterface host;
        host.link(&slot, &backends.set(), &midi, &settings);
        if (!host.StartAudioEngine()) rc = 3;
        else Sleep(static_cast<DWORD>(seconds * 1000));
        host.StopAudioEngine();
    }
    vl::setHostContext(nullptr);
    slot.effect = nullptr;
    return rc;
}

// ---- ref: trivial clients --------------------------------------------------------------------

int refWasapi(double seconds) {
    vl::platform::ComThreadScope com(COINIT_MULTITHREADED);
    using vl::platform::ComPtr;
    ComPtr<IMMDeviceEnumerator> enumerator;
    ComPtr<IMMDevice> device;
    ComPtr<IAudioClient> client;
    ComPtr<IAudioRenderClient> render;
    WAVEFORMATEX* mix = nullptr;
    if (FAILED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL, __uuidof(IMMDeviceEnumerator),
                                enumerator.putVoid())) ||
        FAILED(enumerator->GetDefaultAudioEndpoint(eRender, eMultimedia, device.put())) ||
        FAILED(device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, client.putVoid())) ||
        FAILED(client->GetMixFormat(&mix)))
        return 2;
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    UINT32 size = 0;
    if (FAILED(client->Initialize(AUDCLNT_SHAREMODE_SHARED, AUDCLNT_STREAMFLAGS_EVENTCALLBACK, 0, 0, mix, nullptr)) ||
        FAILED(client->SetEventHandle(event)) || FAILED(client->GetBufferSize(&size)) ||
        FAILED(client->GetService(__uuidof(IAudioRenderClient), render.putVoid())))
        return 3;
    const unsigned channels = mix->nChannels;
    Sine sine(mix->nSamplesPerSec);
    client->Start();
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000);
    while (GetTickCount64() < end) {
        if (WaitForSingleObject(event, 2000) != WAIT_OBJECT_0) break;
        UINT32 padding = 0;
        client->GetCurrentPadding(&padding);
        const UINT32 frames = size - padding;
        BYTE* data = nullptr;
        if (frames == 0 || FAILED(render->GetBuffer(frames, &data))) continue;
        float* out = reinterpret_cast<float*>(data);
        for (UINT32 i = 0; i < frames; ++i) {
            const float v = sine.next();
            for (unsigned c = 0; c < channels; ++c) out[i * channels + c] = v;
        }
        render->ReleaseBuffer(frames, 0);
    }
    client->Stop();
    CoTaskMemFree(mix);
    CloseHandle(event);
    return 0;
}

void fillStereo16(Sine& sine, int16_t* out, size_t frames) {
    for (size_t i = 0; i < frames; ++i) out[2 * i] = out[2 * i + 1] = static_cast<int16_t>(sine.next() * 32767.0f);
}

int refMme(double seconds) {
    WAVEFORMATEX format{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HWAVEOUT out = nullptr;
    if (waveOutOpen(&out, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(event), 0, CALLBACK_EVENT) != MMSYSERR_NOERROR)
        return 2;
    constexpr int kBuffers = 4;
    constexpr size_t kFrames = 1024;
    std::vector<int16_t> data(kBuffers * kFrames * 2);
    WAVEHDR headers[kBuffers] = {};
    Sine sine(44100.0);
    for (int i = 0; i < kBuffers; ++i) {
        headers[i].lpData = reinterpret_cast<LPSTR>(&data[i * kFrames * 2]);
        headers[i].dwBufferLength = kFrames * 4;
        waveOutPrepareHeader(out, &headers[i], sizeof headers[i]);
        fillStereo16(sine, &data[i * kFrames * 2], kFrames);
        waveOutWrite(out, &headers[i], sizeof headers[i]);
    }
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000);
    while (GetTickCount64() < end) {
        WaitForSingleObject(event, 2000);
        for (int i = 0; i < kBuffers; ++i) {
            if (!(headers[i].dwFlags & WHDR_DONE)) continue;
            fillStereo16(sine, &data[i * kFrames * 2], kFrames);
            waveOutWrite(out, &headers[i], sizeof headers[i]);
        }
    }
    waveOutReset(out);
    for (WAVEHDR& h : headers) waveOutUnprepareHeader(out, &h, sizeof h);
    waveOutClose(out);
    CloseHandle(event);
    return 0;
}

int refDirectSound(double seconds) {
    vl::platform::ComThreadScope com(COINIT_MULTITHREADED);
    using vl::platform::ComPtr;
    ComPtr<IDirectSound> ds;
    ComPtr<IDirectSoundBuffer> buffer;
    if (FAILED(DirectSoundCreate(nullptr, ds.put(), nullptr)) ||
        FAILED(ds->SetCooperativeLevel(GetDesktopWindow(), DSSCL_PRIORITY)))
        return 2;
    WAVEFORMATEX format{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
    constexpr DWORD kBytes = 176400 / 5;  // 200 ms ring, refilled behind the play cursor
    DSBUFFERDESC desc{};
    desc.dwSize = sizeof desc;
    desc.dwFlags = DSBCAPS_GLOBALFOCUS | DSBCAPS_GETCURRENTPOSITION2;
    desc.dwBufferBytes = kBytes;
    desc.lpwfxFormat = &format;
    if (FAILED(ds->CreateSoundBuffer(&desc, buffer.put(), nullptr))) return 3;
    Sine sine(44100.0);
    DWORD written = 0;  // bytes written ahead, as a ring offset
    auto fill = [&](DWORD bytes) {
        void *p1, *p2;
        DWORD b1, b2;
        if (FAILED(buffer->Lock(written, bytes, &p1, &b1, &p2, &b2, 0))) return;
        fillStereo16(sine, static_cast<int16_t*>(p1), b1 / 4);
        if (p2) fillStereo16(sine, static_cast<int16_t*>(p2), b2 / 4);
        buffer->Unlock(p1, b1, p2, b2);
        written = (written + b1 + b2) % kBytes;
    };
    fill(kBytes / 2);
    buffer->Play(0, 0, DSBPLAY_LOOPING);
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000);
    while (GetTickCount64() < end) {
        Sleep(10);
        DWORD play = 0, write = 0;
        buffer->GetCurrentPosition(&play, &write);
        // Keep half the ring queued ahead of the play cursor.
        const DWORD queued = (written + kBytes - play) % kBytes;
        if (queued < kBytes / 2) fill((kBytes / 2 - queued) / 4 * 4);
    }
    buffer->Stop();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::printf("usage: vl_rt_winaudio <wasapi|dsound|mme> <ours|ref> [seconds]\n");
        return 1;
    }
    const std::string family = argv[1], who = argv[2];
    const double seconds = argc > 3 ? std::atof(argv[3]) : 20.0;
    const uint32_t type = family == "wasapi" ? vl::kDeviceTypeWasapiShared
                          : family == "dsound" ? vl::kDeviceTypeDirectSound
                                               : vl::kDeviceTypeMME;
    if (who == "ours") return runOurs(type, seconds);
    if (family == "wasapi") return refWasapi(seconds);
    if (family == "dsound") return refDirectSound(seconds);
    return refMme(seconds);
}
