#pragma once
// VLDirectSound: the back end on DirectSound (Windows only). It always streams 16-bit stereo
// PCM at 44100 Hz through rings of 16 blocks, a block being the output record's bufferSize in
// bytes rounded down to whole frames. The functions are taken from dsound.dll by ordinal
// (DirectSoundCreate 1, DirectSoundEnumerateW 3, DirectSoundCaptureCreate 6,
// DirectSoundCaptureEnumerateW 8). The device loop runs on the thread that calls openAndStart
// (the coordinator's engine thread); everything it opens is released before it returns.

#include <windows.h>
#include <mmsystem.h>
#include <dsound.h>

#include "audio/AudioDevice.h"

namespace vl {

class VLDirectSound : public VLAudioBase {
public:
    VLDirectSound();
    ~VLDirectSound() override;

    bool openAndStart(AudioDeviceRecord* input, AudioDeviceRecord* output, RenderBlockProc callback,
                      void* user) override;
    void stop() override;
    bool matchFormats(AudioDeviceRecord* input, AudioDeviceRecord* output) override;
    bool queryDetails(AudioDeviceRecord* record, bool probe) override;

    // The longest time the loop waits for the device position to pass a block before the
    // device counts as stalled.
    static constexpr DWORD kStallMs = 2000;
    // Position polls made without yielding before the poll sleeps between reads.
    static constexpr uint32_t kSpinPolls = 16;

    using CreateProc = HRESULT(WINAPI*)(LPCGUID, IDirectSound**, IUnknown*);
    using EnumerateProc = HRESULT(WINAPI*)(LPDSENUMCALLBACKW, void*);
    using CaptureCreateProc = HRESULT(WINAPI*)(LPCGUID, IDirectSoundCapture**, IUnknown*);

private:
    struct Session;
    bool openSession(AudioDeviceRecord* input, AudioDeviceRecord& output, Session& s);
    bool runLoop(Session& s, RenderBlockProc callback, void* user);

    HMODULE module = nullptr;
    CreateProc create = nullptr;
    EnumerateProc enumerate = nullptr;
    CaptureCreateProc captureCreate = nullptr;
    EnumerateProc captureEnumerate = nullptr;
};

}  // namespace vl
