#pragma once
// VLDirectSound: the back end on DirectSound (Windows only). It always streams 16-bit stereo
// PCM at 44100 Hz through rings of 16 blocks, a block being the output record's bufferSize in
// bytes rounded down to whole frames. The functions are taken from dsound.dll by ordinal
// (DirectSoundCreate 1, DirectSoundEnumerateW 3, DirectSoundCaptureCreate 6,
// DirectSoundCaptureEnumerateW 8). The device loop runs on the thread that calls openAndStart
// (the coordinator's engine thread, VLDirectSoundLoop); everything it opens is released before
// it returns.

#include <windows.h>
#include <mmsystem.h>
#include <dsound.h>

#include "audio/AudioDevice.h"
#include "audio/dsound/DirectSoundLoop.h"

namespace vl {

class VLDirectSound : public VLDirectSoundLoop {
public:
    VLDirectSound();
    ~VLDirectSound() override;

    bool openAndStart(AudioDeviceRecord* input, AudioDeviceRecord* output, RenderBlockProc callback,
                      void* user) override;
    void stop() override;
    bool matchFormats(AudioDeviceRecord* input, AudioDeviceRecord* output) override;
    bool queryDetails(AudioDeviceRecord* record, bool probe) override;

    using CreateProc = HRESULT(WINAPI*)(LPCGUID, IDirectSound**, IUnknown*);
    using EnumerateProc = HRESULT(WINAPI*)(LPDSENUMCALLBACKW, void*);
    using CaptureCreateProc = HRESULT(WINAPI*)(LPCGUID, IDirectSoundCapture**, IUnknown*);

    struct Session;  // what one run opens

private:
    bool openSession(AudioDeviceRecord* input, AudioDeviceRecord& output, Session& s);

    HMODULE module = nullptr;
    CreateProc create = nullptr;
    EnumerateProc enumerate = nullptr;
    CaptureCreateProc captureCreate = nullptr;
    EnumerateProc captureEnumerate = nullptr;
};

}  // namespace vl
