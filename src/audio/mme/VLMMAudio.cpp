#include "audio/mme/VLMMAudio.h"

#include <algorithm>
#include <new>
#include <vector>

#include "audio/DeviceListing.h"

namespace vl {

VLMMAudio::VLMMAudio() {
    devices.clear();
    enumerate();
}

VLMMAudio::~VLMMAudio() {
    stop();
    closeDevice();
}

namespace {

// Every wave device of one direction with what its capabilities say (waveIn and waveOut
// capabilities share the fields read here).
template <typename Caps, typename GetCaps>
std::vector<WaveDeviceInfo> waveDevices(UINT count, GetCaps getCaps) {
    std::vector<WaveDeviceInfo> list;
    for (UINT i = 0; i < count; ++i) {
        Caps caps{};
        WaveDeviceInfo info;
        info.number = static_cast<int32_t>(i);
        info.capsRead = getCaps(i, &caps, sizeof caps) == MMSYSERR_NOERROR;
        if (info.capsRead) {
            info.productName = caps.szPname;
            info.channels = caps.wChannels;
            info.supports44k16Stereo = (caps.dwFormats & WAVE_FORMAT_4S16) != 0;
        }
        list.push_back(info);
    }
    return list;
}

}  // namespace

void VLMMAudio::enumerate() {
    appendWaveRecords(waveDevices<WAVEINCAPSW>(waveInGetNumDevs(), &waveInGetDevCapsW),
                      waveDevices<WAVEOUTCAPSW>(waveOutGetNumDevs(), &waveOutGetDevCapsW), devices);
}

bool VLMMAudio::matchFormats(AudioDeviceRecord*, AudioDeviceRecord*) { return true; }

bool VLMMAudio::queryDetails(AudioDeviceRecord* record, bool) {
    if (!record) return false;
    record->detailsKnown = true;
    return true;
}

void VLMMAudio::stop() { freePlanes(); }

bool VLMMAudio::openAndStart(AudioDeviceRecord* input, AudioDeviceRecord* output, RenderBlockProc callback,
                             void* user) {
    stop();
    if (!output) return input != nullptr;  // an input alone opens nothing
    if (!callback) return false;

    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = output->channels;
    format.nSamplesPerSec = static_cast<DWORD>(output->sampleRate);
    format.wBitsPerSample = output->bitsPerSample;
    format.nBlockAlign = static_cast<WORD>(format.nChannels * format.wBitsPerSample / 8);
    format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
    format.cbSize = 0;
    // The writer produces 16-bit stereo frames: any other device format would be filled wrongly.
    if (format.nChannels != 2 || format.wBitsPerSample != 16 || output->bufferSize == 0) return false;

    if (!openDevice(format, output->bufferSize, static_cast<UINT>(output->deviceIndex))) return false;
    ring.route(chooseOutputChannels(format.nChannels, output->leftChannel, output->rightChannel));
    if (!allocatePlanes(output->bufferSize)) {
        closeDevice();
        return false;
    }
    bool failed = false;
    for (;;) {
        // There is no input: the planes are silence before every block.
        std::fill_n(leftPlane, output->bufferSize, 0.0f);
        std::fill_n(rightPlane, output->bufferSize, 0.0f);
        if (!callback(planePair, planePair, output->bufferSize, user)) break;
        if (!open || !ring.write(*this, leftPlane, rightPlane, output->bufferSize)) {
            failed = true;
            break;
        }
    }
    closeDevice();
    if (failed) reportDeviceEvent(DeviceEvent::Failed);
    for (int i = 0; i < kCloseNoticePolls && running.load(std::memory_order_acquire); ++i) Sleep(kCloseNoticePollMs);
    return true;
}

bool VLMMAudio::openDevice(const WAVEFORMATEX& format, uint32_t blockFrames, UINT deviceNumber) {
    waveFormat = format;
    const uint32_t bufferBytes = mme::headerBytes(format.wBitsPerSample, format.nChannels, blockFrames);
    ring.reset(bufferBytes);
    event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!event) return false;

    if (waveOutOpen(&device, deviceNumber, &waveFormat, reinterpret_cast<DWORD_PTR>(&waveCallback),
                    reinterpret_cast<DWORD_PTR>(this), CALLBACK_FUNCTION) != MMSYSERR_NOERROR) {
        device = nullptr;
        closeDevice();
        return false;
    }
    if (blockFrames == 0) return true;
    if (waveOutPause(device) != MMSYSERR_NOERROR) {
        closeDevice();
        return false;
    }
    for (int32_t i = 0; i < mme::kHeaderCount; ++i) {
        Header& h = headers[i];
        h.buffer.reset(new (std::nothrow) uint8_t[bufferBytes]());
        h.header = WAVEHDR{};
        h.back.store(false, std::memory_order_relaxed);
        if (!h.buffer) {
            closeDevice();
            return false;
        }
        h.header.lpData = reinterpret_cast<LPSTR>(h.buffer.get());
        h.header.dwBufferLength = bufferBytes;
        h.header.dwUser = static_cast<DWORD_PTR>(i);
        if (waveOutPrepareHeader(device, &h.header, sizeof h.header) != MMSYSERR_NOERROR) {
            closeDevice();
            return false;
        }
    }
    open = true;
    return true;
}

uint8_t* VLMMAudio::buffer(int32_t index) { return headers[index].buffer.get(); }

bool VLMMAudio::send(int32_t index, uint32_t bytes) {
    Header& h = headers[index];
    h.back.store(false, std::memory_order_relaxed);
    h.header.dwBufferLength = bytes;
    return waveOutWrite(device, &h.header, sizeof h.header) == MMSYSERR_NOERROR;
}

bool VLMMAudio::returned(int32_t index) {
    const Header& h = headers[index];
    // The callback's flag orders the driver's write of the header's flags before this read.
    return h.back.load(std::memory_order_acquire) && (h.header.dwFlags & WHDR_DONE) != 0;
}

bool VLMMAudio::waitForReturn(uint32_t ms) { return WaitForSingleObject(event, ms) == WAIT_OBJECT_0; }

void VLMMAudio::restart() { waveOutRestart(device); }

void VLMMAudio::pause() { waveOutPause(device); }

void CALLBACK VLMMAudio::waveCallback(HWAVEOUT, UINT message, DWORD_PTR instance, DWORD_PTR p1, DWORD_PTR) {
    auto* self = reinterpret_cast<VLMMAudio*>(instance);
    if (!self) return;
    switch (message) {
        case WOM_OPEN: self->running.store(true, std::memory_order_release); break;
        case WOM_CLOSE: self->running.store(false, std::memory_order_release); break;
        case WOM_DONE: {
            // The header handed back is named by the driver, not assumed from the order sent.
            const auto* header = reinterpret_cast<const WAVEHDR*>(p1);
            if (header && header->dwUser < static_cast<DWORD_PTR>(mme::kHeaderCount))
                self->headers[header->dwUser].back.store(true, std::memory_order_release);
            SetEvent(self->event);
            break;
        }
        default: break;
    }
}

void VLMMAudio::closeDevice() {
    if (device) {
        if (open) {
            // The partly filled header goes out with its shorter length, and every header sent
            // is waited for, bounded per header.
            ring.flush(*this);
            ring.drain(*this);
        }
        waveOutReset(device);
        Sleep(100);
        for (Header& h : headers) {
            if (h.header.dwFlags & WHDR_PREPARED) waveOutUnprepareHeader(device, &h.header, sizeof h.header);
        }
        waveOutClose(device);
        Sleep(50);
        device = nullptr;
    }
    open = false;
    for (Header& h : headers) {
        h.buffer.reset();
        h.header = WAVEHDR{};
        h.back.store(false, std::memory_order_relaxed);
    }
    if (event) {
        CloseHandle(event);
        event = nullptr;
    }
}

}  // namespace vl
