#include "audio/asio/VLASIO.h"

#include <windows.h>

#include <emmintrin.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/Clock.h"
#include "platform/Text.h"

namespace vl {

VLASIO* theAsioHost = nullptr;

namespace {

constexpr size_t kNameBuffer = 256;  // drivers are known to write more than the 32 bytes asked

// Driver text (at most kNameBuffer) into a fixed field, always terminated.
template <size_t N>
void copyText(char (&field)[N], const char* text) {
    const size_t n = strnlen(text, N - 1);
    std::memcpy(field, text, n);
    field[n] = 0;
}

std::string wideToAnsi(const std::wstring& text) {
    if (text.empty()) return {};
    const int n = WideCharToMultiByte(CP_ACP, 0, text.c_str(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(n > 0 ? n : 0), '\0');
    if (n > 0) WideCharToMultiByte(CP_ACP, 0, text.c_str(), int(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

// Zero bytes in 16-byte stores. Output halves are short (a few hundred bytes), where the call
// into the C library's memset costs as much as the stores themselves.
void zeroBytes(void* buffer, size_t bytes) {
    auto* p = static_cast<uint8_t*>(buffer);
    const __m128i zero = _mm_setzero_si128();
    for (; bytes >= 64; bytes -= 64, p += 64) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), zero);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 16), zero);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 32), zero);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 48), zero);
    }
    for (; bytes >= 16; bytes -= 16, p += 16) _mm_storeu_si128(reinterpret_cast<__m128i*>(p), zero);
    for (; bytes > 0; --bytes) *p++ = 0;
}

}  // namespace

VLASIO::VLASIO(const char* registryKey) : drivers(registryKey) {
    theAsioHost = this;
    callbacks.bufferSwitch = &VLASIO::bufferSwitch;
    callbacks.sampleRateDidChange = &VLASIO::sampleRateDidChange;
    callbacks.asioMessage = &VLASIO::asioMessage;
    callbacks.bufferSwitchTimeInfo = &VLASIO::bufferSwitchTimeInfo;
    enumerate();
}

VLASIO::~VLASIO() {
    stop();
    drivers.removeCurrentDriver();
    if (theAsioHost == this) theAsioHost = nullptr;
}

void VLASIO::enumerate() {
    devices.clear();
    char name[kNameBuffer];
    for (int32_t i = 0; i < drivers.numDrivers; ++i) {
        if (drivers.getDriverName(i, name, int32_t(sizeof name)) != kAsioListOk) continue;
        for (bool isInput : {true, false}) {
            auto record = std::make_unique<AudioDeviceRecord>();
            record->deviceIndex = i;
            record->type = kDeviceTypeASIO;
            record->name = platform::ansiToWide(name);
            record->isInput = isInput;
            record->bufferSize = defaultBufferSize(kDeviceTypeASIO);
            devices.push_back(std::move(record));
        }
    }
}

bool VLASIO::matchFormats(AudioDeviceRecord*, AudioDeviceRecord*) { return true; }

bool VLASIO::initDriver() {
    minSize = maxSize = preferredSize = granularity = 0;
    blockSize = 0;
    driverInfo = asio::AsioDriverInfo{};
    copyText(driverInfo.name, "No ASIO Driver");
    inputChannels = outputChannels = 0;
    if (!theAsioDriver) return false;
    char text[kNameBuffer] = {};
    if (theAsioDriver->init(nullptr) == asio::kAsioFalse) {
        theAsioDriver->getErrorMessage(text);
        copyText(driverInfo.errorMessage, text);
        theAsioDriver = nullptr;
        return false;
    }
    copyText(driverInfo.errorMessage, "No ASIO Driver Error");
    theAsioDriver->getDriverName(text);
    copyText(driverInfo.name, text);
    driverInfo.driverVersion = theAsioDriver->getDriverVersion();

    if (theAsioDriver->getChannels(&inputChannels, &outputChannels) != asio::ASE_OK) return false;
    inputChannels = std::max(inputChannels, 0);
    outputChannels = std::max(outputChannels, 0);
    if (theAsioDriver->getBufferSize(&minSize, &maxSize, &preferredSize, &granularity) != asio::ASE_OK) return false;
    // The planes must hold the block the callbacks hand out, whatever the driver says its maximum is.
    if (preferredSize <= 0 || !allocatePlanes(uint32_t(std::max(maxSize, preferredSize)))) return false;
    blockSize = preferredSize;
    if (theAsioDriver->getSampleRate(&sampleRate) != asio::ASE_OK) return false;
    postOutput = theAsioDriver->outputReady() == asio::ASE_OK;

    int32_t k = 0;
    for (bool isInput : {true, false}) {
        const int32_t count = std::min(isInput ? inputChannels : outputChannels, kMaxChannels);
        for (int32_t i = 0; i < count; ++i, ++k) {
            channelInfos[k] = asio::AsioChannelInfo{};
            channelInfos[k].channel = i;
            channelInfos[k].isInput = isInput ? asio::kAsioTrue : asio::kAsioFalse;
            if (theAsioDriver->getChannelInfo(&channelInfos[k]) != asio::ASE_OK) return false;
            channelInfos[k].name[sizeof channelInfos[k].name - 1] = 0;
        }
    }
    return true;
}

bool VLASIO::createDriverBuffers() {
    inputBuffers = std::min(inputChannels, kMaxChannels);
    outputBuffers = std::min(outputChannels, kMaxChannels);
    const int32_t total = inputBuffers + outputBuffers;
    for (int32_t k = 0; k < total; ++k) {
        const bool isInput = k < inputBuffers;
        bufferInfos[k] = asio::AsioBufferInfo{};
        bufferInfos[k].isInput = isInput ? asio::kAsioTrue : asio::kAsioFalse;
        bufferInfos[k].channelNum = isInput ? k : k - inputBuffers;
    }
    if (theAsioDriver->createBuffers(bufferInfos, total, blockSize, &callbacks) != asio::ASE_OK) {
        inputBuffers = outputBuffers = 0;
        return false;
    }
    for (int32_t k = 0; k < total; ++k) {
        channelInfos[k].channel = bufferInfos[k].channelNum;
        channelInfos[k].isInput = bufferInfos[k].isInput;
        if (theAsioDriver->getChannelInfo(&channelInfos[k]) != asio::ASE_OK) {
            disposeDriverBuffers();
            return false;
        }
        convertible[k] = planarLayoutFor(channelInfos[k].type, layouts[k]);
    }
    buffersReady.store(true, std::memory_order_release);
    return theAsioDriver->getLatencies(&inputLatency, &outputLatency) == asio::ASE_OK;
}

void VLASIO::disposeDriverBuffers() {
    buffersReady.store(false, std::memory_order_release);
    if (theAsioDriver) theAsioDriver->disposeBuffers();
    inputBuffers = outputBuffers = 0;
}

void VLASIO::abandonStart() {
    if (inputBuffers + outputBuffers > 0 || buffersReady.load(std::memory_order_acquire)) disposeDriverBuffers();
    drivers.removeCurrentDriver();
    freePlanes();
}

bool VLASIO::openAndStart(AudioDeviceRecord* input, AudioDeviceRecord* output, RenderBlockProc newCallback,
                          void* newUser) {
    if (!output || !newCallback) return false;
    if (input && input->deviceIndex != output->deviceIndex) return false;
    if (output->deviceIndex < 0 || drivers.numDrivers <= output->deviceIndex) return false;
    if (running.load(std::memory_order_acquire)) stop();

    callback = newCallback;
    user = newUser;
    if (input) {
        inputLeft = input->leftChannel;
        inputRight = input->rightChannel;
    }
    inputRecord = input;
    outputLeft = output->leftChannel;
    outputRight = output->rightChannel;

    char name[kNameBuffer];
    if (drivers.getDriverName(output->deviceIndex, name, int32_t(sizeof name)) != kAsioListOk) return false;
    if (!drivers.loadDriver(name)) return false;
    if (!initDriver() || !createDriverBuffers()) {
        abandonStart();
        return false;
    }
    if (theAsioDriver->start() != asio::ASE_OK) {
        abandonStart();
        return false;
    }
    running.store(true, std::memory_order_seq_cst);
    return true;
}

void VLASIO::stop() {
    if (running.load(std::memory_order_acquire)) {
        running.store(false, std::memory_order_seq_cst);
        // Callbacks that began before the flag was cleared may still convert or render; the
        // driver is stopped once they are out (at most the grace time).
        const uint32_t started = platform::tickCountMs();
        while (callbacksInFlight.load(std::memory_order_seq_cst) != 0 && platform::tickCountMs() - started < kStopGraceMs)
            platform::sleepMs(1);
        if (theAsioDriver) theAsioDriver->stop();
        disposeDriverBuffers();
        drivers.removeCurrentDriver();
    }
    freePlanes();
}

bool VLASIO::queryDetails(AudioDeviceRecord* record, bool) {
    if (!record) return false;
    if (record->detailsKnown) return true;
    // Loading would release the driver that is calling back right now.
    if (running.load(std::memory_order_acquire)) return false;
    if (!drivers.loadDriver(wideToAnsi(record->name).c_str())) return false;
    if (!initDriver()) {
        drivers.removeCurrentDriver();
        freePlanes();
        return false;
    }
    record->sampleRate = sampleRate;
    record->bufferSize = uint32_t(blockSize);
    record->channelNames.clear();
    const int32_t total = std::min(inputChannels, kMaxChannels) + std::min(outputChannels, kMaxChannels);
    const asio::AsioBool direction = record->isInput ? asio::kAsioTrue : asio::kAsioFalse;
    for (int32_t k = 0; k < total; ++k)
        if (channelInfos[k].isInput == direction) record->channelNames.push_back(platform::ansiToWide(channelInfos[k].name));
    drivers.removeCurrentDriver();
    record->detailsKnown = true;
    freePlanes();
    return true;
}

bool VLASIO::openControlPanel(AudioDeviceRecord* record) {
    if (running.load(std::memory_order_acquire)) return theAsioDriver && theAsioDriver->controlPanel() == asio::ASE_OK;
    if (!record || record->deviceIndex < 0 || drivers.numDrivers <= record->deviceIndex) return false;
    char name[kNameBuffer];
    if (drivers.getDriverName(record->deviceIndex, name, int32_t(sizeof name)) != kAsioListOk) return false;
    if (!drivers.loadDriver(name)) return false;
    const bool opened = theAsioDriver && theAsioDriver->controlPanel() == asio::ASE_OK;
    drivers.removeCurrentDriver();
    return opened;
}

// ---------------------------------------------------------------------------------------------
// Driver thread

void VLASIO::bufferSwitch(int32_t index, asio::AsioBool directProcess) {
    asio::AsioTime time{};
    if (asio::IAsioDriver* driver = theAsioDriver)
        if (driver->getSamplePosition(&time.timeInfo.samplePosition, &time.timeInfo.systemTime) == asio::ASE_OK)
            time.timeInfo.flags = asio::kSystemTimeValid | asio::kSamplePositionValid;
    bufferSwitchTimeInfo(&time, index, directProcess);
}

asio::AsioTime* VLASIO::bufferSwitchTimeInfo(asio::AsioTime*, int32_t index, asio::AsioBool) {
    if (VLASIO* host = theAsioHost) host->process(index);
    return nullptr;
}

void VLASIO::sampleRateDidChange(asio::AsioSampleRate) {}

int32_t VLASIO::asioMessage(int32_t selector, int32_t value, void*, double*) {
    switch (selector) {
        case asio::kAsioSelectorSupported:
            switch (value) {
                case asio::kAsioEngineVersion:
                case asio::kAsioResetRequest:
                case asio::kAsioResyncRequest:
                case asio::kAsioLatenciesChanged:
                case asio::kAsioSupportsTimeInfo:
                case asio::kAsioSupportsTimeCode:
                case asio::kAsioSupportsInputMonitor:
                    return 1;
                default:
                    return 0;
            }
        case asio::kAsioEngineVersion: return 2;
        case asio::kAsioResetRequest:
        case asio::kAsioResyncRequest:
        case asio::kAsioLatenciesChanged:
        case asio::kAsioSupportsTimeInfo:
            return 1;
        default:
            return 0;
    }
}

void VLASIO::process(int32_t index) {
    callbacksInFlight.fetch_add(1, std::memory_order_seq_cst);
    if ((index == 0 || index == 1) && buffersReady.load(std::memory_order_acquire)) {
        if (!running.load(std::memory_order_seq_cst)) {
            silenceOutputs(index);
        } else {
            readInputs(index);
            if (callback(planePair, planePair, uint32_t(blockSize), user))
                writeOutputs(index);
            else
                silenceOutputs(index);
        }
        if (postOutput)
            if (asio::IAsioDriver* driver = theAsioDriver) driver->outputReady();
    }
    callbacksInFlight.fetch_sub(1, std::memory_order_release);
}

void VLASIO::readInputs(int32_t index) {
    const size_t bytes = size_t(blockSize) * sizeof(float);
    bool leftDone = false, rightDone = false;
    if (inputRecord) {
        for (int32_t k = 0; k < inputBuffers; ++k) {
            if (k != inputLeft && k != inputRight) continue;
            void* half = bufferInfos[k].buffers[index];
            if (!half || !convertible[k]) continue;
            // Converted once even when it feeds both planes: big-endian buffers are reversed in place.
            float* plane = k == inputLeft ? leftPlane : rightPlane;
            planarToFloat(layouts[k], half, plane, uint32_t(blockSize));
            if (k == inputLeft) leftDone = true;
            if (k == inputRight) {
                if (plane != rightPlane) std::memcpy(rightPlane, plane, bytes);
                rightDone = true;
            }
        }
    }
    // No channel delivered: silence rather than the previous block's output.
    if (!leftDone) std::memset(leftPlane, 0, bytes);
    if (!rightDone) std::memset(rightPlane, 0, bytes);
}

void VLASIO::writeOutputs(int32_t index) {
    for (int32_t j = 0; j < outputBuffers; ++j) {
        const int32_t k = inputBuffers + j;
        void* half = bufferInfos[k].buffers[index];
        if (!half || !convertible[k]) continue;
        if (j == outputLeft)
            floatToPlanar(layouts[k], leftPlane, half, uint32_t(blockSize));
        else if (j == outputRight)
            floatToPlanar(layouts[k], rightPlane, half, uint32_t(blockSize));
        else
            zeroBytes(half, size_t(blockSize) * layouts[k].bytesPerSample);
    }
}

void VLASIO::silenceOutputs(int32_t index) {
    for (int32_t k = inputBuffers; k < inputBuffers + outputBuffers; ++k)
        if (void* half = bufferInfos[k].buffers[index]; half && convertible[k])
            zeroBytes(half, size_t(blockSize) * layouts[k].bytesPerSample);
}

}  // namespace vl
