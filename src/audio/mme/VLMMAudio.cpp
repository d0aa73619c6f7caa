#include "audio/mme/VLMMAudio.h"

#include <new>
#include <vector>

#include "audio/DeviceListing.h"

namespace vl {

VLMMAudio::VLMMAudio() {
    InitializeCriticalSection(&lock);
    devices.clear();
    enumerate();
}

VLMMAudio::~VLMMAudio() {
    stop();
    closeDevice();
    DeleteCriticalSection(&lock);
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
    if (!allocatePlanes(output->bufferSize)) {
        closeDevice();
        return false;
    }
    for (;;) {
        if (!callback(planePair, planePair, output->bufferSize, user)) break;
        if (writeBlock(leftPlane, rightPlane, output->bufferSize) < 0) break;
    }
    closeDevice();
    for (int i = 0; i < kCloseNoticePolls && running.load(std::memory_order_acquire); ++i) Sleep(kCloseNoticePollMs);
    return true;
}

bool VLMMAudio::openDevice(const WAVEFORMATEX& format, uint32_t blockFrames, UINT deviceNumber) {
    EnterCriticalSection(&lock);
    waiting = false;
    allPlayed = false;
    fillIndex = 0;
    returnIndex = 0;
    queued = 0;
    LeaveCriticalSection(&lock);
    fillPosition = 0;
    waveFormat = format;
    bufferBytes = mme::headerBytes(format.wBitsPerSample, format.nChannels, blockFrames);
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
    for (Header& h : headers) {
        h.buffer.reset(new (std::nothrow) uint8_t[bufferBytes]());
        h.header = WAVEHDR{};
        if (!h.buffer) {
            closeDevice();
            return false;
        }
        h.header.lpData = reinterpret_cast<LPSTR>(h.buffer.get());
        h.header.dwBufferLength = bufferBytes;
        if (waveOutPrepareHeader(device, &h.header, sizeof h.header) != MMSYSERR_NOERROR) {
            closeDevice();
            return false;
        }
    }
    open = true;
    paused = true;
    return true;
}

bool VLMMAudio::waitForHeader() {
    // Called with waiting set under the lock; the callback clears it and signals.
    return WaitForSingleObject(event, kHeaderWaitMs) == WAIT_OBJECT_0;
}

int32_t VLMMAudio::writeBlock(const float* left, const float* right, uint32_t frames) {
    if (!open) return -1;
    EnterCriticalSection(&lock);
    const bool dry = allPlayed;
    LeaveCriticalSection(&lock);
    if (dry) {
        closeDevice();
        return -1;
    }
    uint32_t done = 0;
    while (done < frames) {
        Header& h = headers[fillIndex];
        if (!h.buffer) return -1;
        const uint32_t room = (bufferBytes - fillPosition) / 4;
        const uint32_t n = frames - done < room ? frames - done : room;
        mme::writeStereoInt16(left + done, right + done, h.buffer.get() + fillPosition, n);
        fillPosition += n * 4;
        done += n;
        if (fillPosition < bufferBytes) continue;

        h.header.dwBufferLength = bufferBytes;
        EnterCriticalSection(&lock);
        queued += 1;
        LeaveCriticalSection(&lock);
        if (waveOutWrite(device, &h.header, sizeof h.header) != MMSYSERR_NOERROR) {
            EnterCriticalSection(&lock);
            queued -= 1;
            LeaveCriticalSection(&lock);
            closeDevice();
            return -1;
        }
        fillPosition = 0;
        if (paused && fillIndex >= mme::kPrerollIndex) {
            paused = false;
            waveOutRestart(device);
        }
        EnterCriticalSection(&lock);
        fillIndex = mme::nextHeader(fillIndex);
        const bool full = queued >= mme::kHeaderCount;
        if (full) waiting = true;
        LeaveCriticalSection(&lock);
        if (full && !waitForHeader()) {
            closeDevice();
            return -1;
        }
    }
    return static_cast<int32_t>(frames);
}

void CALLBACK VLMMAudio::waveCallback(HWAVEOUT, UINT message, DWORD_PTR instance, DWORD_PTR, DWORD_PTR) {
    auto* self = reinterpret_cast<VLMMAudio*>(instance);
    if (!self) return;
    switch (message) {
        case WOM_OPEN: self->running.store(true, std::memory_order_release); break;
        case WOM_CLOSE: self->running.store(false, std::memory_order_release); break;
        case WOM_DONE: self->onDone(); break;
        default: break;
    }
}

void VLMMAudio::onDone() {
    EnterCriticalSection(&lock);
    returnIndex = mme::nextHeader(returnIndex);
    if (queued > 0) queued -= 1;
    if (queued == 0) allPlayed = true;
    const bool wake = waiting;
    waiting = false;
    LeaveCriticalSection(&lock);
    if (wake) SetEvent(event);
}

void VLMMAudio::closeDevice() {
    open = false;
    if (device) {
        if (fillPosition > 0 && headers[fillIndex].buffer) {
            // The partly filled header goes out with its shorter length.
            waveOutRestart(device);
            Header& h = headers[fillIndex];
            h.header.dwBufferLength = fillPosition;
            EnterCriticalSection(&lock);
            queued += 1;
            LeaveCriticalSection(&lock);
            const bool sent = waveOutWrite(device, &h.header, sizeof h.header) == MMSYSERR_NOERROR;
            EnterCriticalSection(&lock);
            if (sent) fillIndex = mme::nextHeader(fillIndex);
            else queued -= 1;
            LeaveCriticalSection(&lock);
            fillPosition = 0;
        } else if (paused) {
            waveOutRestart(device);  // a device still in pre-roll would never return its headers
        }
        paused = false;
        // Wait, bounded per header, until every header sent has come back.
        for (int guard = 0; guard <= mme::kHeaderCount; ++guard) {
            EnterCriticalSection(&lock);
            const bool pending = queued > 0;
            if (pending) waiting = true;
            LeaveCriticalSection(&lock);
            if (!pending || !waitForHeader()) break;
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
    for (Header& h : headers) {
        h.buffer.reset();
        h.header = WAVEHDR{};
    }
    EnterCriticalSection(&lock);
    waiting = false;
    LeaveCriticalSection(&lock);
    if (event) {
        CloseHandle(event);
        event = nullptr;
    }
}

}  // namespace vl
