#include "audio/asio/VLASIO.h"

#include <windows.h>

#include <emmintrin.h>

#include <algorithm>
#include <cstdlib>
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
    // A callback that outlived the stop's wait still uses this object, the buffers and the
    // driver: nothing of them may go away under it.
    if (teardownPending() && !finishTeardown(stopWaitMs)) std::_Exit(kExitCallbackHung);
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

// init with the main window (drivers parent their own dialogs to it), then the naming calls.
bool VLASIO::initialise() {
    driverInfo = asio::AsioDriverInfo{};
    copyText(driverInfo.name, "No ASIO Driver");
    if (!theAsioDriver) return false;
    char text[kNameBuffer] = {};
    driverInfo.sysRef = windowHandle;
    if (theAsioDriver->init(windowHandle) == asio::kAsioFalse) {
        theAsioDriver->getErrorMessage(text);
        copyText(driverInfo.errorMessage, text);
        theAsioDriver = nullptr;
        return false;
    }
    copyText(driverInfo.errorMessage, "No ASIO Driver Error");
    theAsioDriver->getDriverName(text);
    copyText(driverInfo.name, text);
    driverInfo.driverVersion = theAsioDriver->getDriverVersion();
    return true;
}

bool VLASIO::initDriver(bool initialised) {
    minSize = maxSize = preferredSize = granularity = 0;
    blockSize = 0;
    inputChannels = outputChannels = 0;
    if (!initialised && !initialise()) return false;

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
    clearOutputHalves();
    unusedNeedClearing = false;
    buffersReady.store(true, std::memory_order_release);
    return theAsioDriver->getLatencies(&inputLatency, &outputLatency) == asio::ASE_OK;
}

// A driver that hands out its halves uncleared would play them once before the first block.
void VLASIO::clearOutputHalves() {
    for (int32_t k = inputBuffers; k < inputBuffers + outputBuffers; ++k) {
        if (!convertible[k]) continue;
        for (void* half : bufferInfos[k].buffers)
            if (half) zeroBytes(half, size_t(blockSize) * layouts[k].bytesPerSample);
    }
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
    if (teardownPending() && !finishTeardown(0)) return false;  // a callback of the last run is still under way
    const bool configuredFromRecord = output->detailsKnown;
    // The driver loaded for its control panel is the one to start: that object, initialised
    // with the main window, may hold the panel's window, so it is kept rather than replaced.
    const bool reusePanelDriver =
        panelDriver == output->deviceIndex && drivers.currentIndex == panelDriver && theAsioDriver;
    if (reusePanelDriver) {
        forgetDetails(panelDriver);
        panelDriver = -1;
    } else {
        releasePanelDriver();
    }

    callback = newCallback;
    user = newUser;
    if (input) {
        inputLeft = input->leftChannel;
        inputRight = input->rightChannel;
    }
    inputRecord = input;
    outputLeft = output->leftChannel;
    outputRight = output->rightChannel;

    if (!reusePanelDriver) {
        char name[kNameBuffer];
        if (drivers.getDriverName(output->deviceIndex, name, int32_t(sizeof name)) != kAsioListOk) return false;
        if (!drivers.loadDriver(name)) return false;
    }
    if (!initDriver(reusePanelDriver) || !createDriverBuffers()) {
        abandonStart();
        return false;
    }
    // A stored choice beyond the driver's outputs plays on its first ones, as the input does.
    const OutputChannels channels = chooseOutputChannels(uint32_t(outputBuffers), outputLeft, outputRight);
    outputLeft = channels.left;
    outputRight = channels.right;
    // The driver may have changed since its records were read (its control panel): the engine
    // was configured with the records, so a restart follows with what the driver says now.
    const bool changed =
        configuredFromRecord && (blockSize != int32_t(output->bufferSize) || sampleRate != output->sampleRate);
    detailsStale.store(false, std::memory_order_relaxed);
    runningDriver = output->deviceIndex;
    lastSwitchMs.store(platform::tickCountMs(), std::memory_order_relaxed);
    stallReported = false;
    if (theAsioDriver->start() != asio::ASE_OK) {
        abandonStart();
        return false;
    }
    running.store(true, std::memory_order_seq_cst);
    if (changed) {
        detailsStale.store(true, std::memory_order_relaxed);
        reportDeviceEvent(DeviceEvent::RestartRequested);
    }
    return true;
}

bool VLASIO::waitForCallbacksOut(uint32_t waitMs) const {
    const uint32_t started = platform::tickCountMs();
    while (callbacksInFlight.load(std::memory_order_seq_cst) != 0) {
        if (platform::tickCountMs() - started >= waitMs) return false;
        platform::sleepMs(1);
    }
    return true;
}

void VLASIO::stop() {
    if (running.load(std::memory_order_acquire)) {
        // Callbacks from here on only write silence; the block under way may still render.
        running.store(false, std::memory_order_seq_cst);
        pendingTeardown = Teardown::DriverRunning;
    }
    if (teardownPending()) {
        finishTeardown(stopWaitMs);
        return;
    }
    freePlanes();
}

bool VLASIO::finishTeardown(uint32_t waitMs) {
    if (pendingTeardown == Teardown::DriverRunning) {
        // Stopping the driver under a callback would wait for that callback, or pull its
        // buffers away.
        if (!waitForCallbacksOut(waitMs)) return false;
        if (theAsioDriver) theAsioDriver->stop();
        pendingTeardown = Teardown::DriverStopped;
    }
    if (pendingTeardown == Teardown::DriverStopped) {
        // A driver may still be inside a callback that began before its stop: the buffers go
        // once it has left.
        buffersReady.store(false, std::memory_order_seq_cst);
        if (!waitForCallbacksOut(waitMs)) return false;
        disposeDriverBuffers();
        drivers.removeCurrentDriver();
        freePlanes();
        if (detailsStale.exchange(false, std::memory_order_acq_rel)) forgetDetails(runningDriver);
        runningDriver = -1;
        pendingTeardown = Teardown::None;
    }
    return true;
}

void VLASIO::forgetDetails(int32_t driverIndex) {
    for (const auto& record : devices)
        if (record->deviceIndex == driverIndex) record->detailsKnown = false;
}

void VLASIO::releasePanelDriver() {
    if (panelDriver < 0) return;
    if (drivers.currentIndex == panelDriver && !running.load(std::memory_order_acquire) && !teardownPending())
        drivers.removeCurrentDriver();
    // The panel may have changed the rate or the buffer size.
    forgetDetails(panelDriver);
    panelDriver = -1;
}

void VLASIO::releaseControlPanel() {
    if (running.load(std::memory_order_acquire)) return;  // the panel was the running driver's
    releasePanelDriver();
}

bool VLASIO::queryDetails(AudioDeviceRecord* record, bool) {
    if (!record) return false;
    if (record->detailsKnown) return true;
    // Loading would release the driver that is calling back right now.
    if (running.load(std::memory_order_acquire)) return false;
    if (teardownPending() && !finishTeardown(0)) return false;
    if (panelDriver >= 0 && drivers.currentIndex == panelDriver && theAsioDriver &&
        record->deviceIndex != panelDriver)
        return queryBesidePanel(record);
    // The panel's own driver is asked afresh: what its panel changed counts.
    releasePanelDriver();
    if (!drivers.loadDriver(wideToAnsi(record->name).c_str())) return false;
    const bool known = initDriver() && takeDetails(record);
    drivers.removeCurrentDriver();
    freePlanes();
    return known;
}

// The driver of an open control panel stays loaded (the panel may live in it): another driver
// is created beside it for the query and released again.
bool VLASIO::queryBesidePanel(AudioDeviceRecord* record) {
    asio::IAsioDriver* panelObject = theAsioDriver;
    bool known = false;
    if (record->deviceIndex >= 0 && record->deviceIndex < drivers.numDrivers &&
        drivers.openDriver(record->deviceIndex) == kAsioListOk) {
        known = initDriver() && takeDetails(record);
        drivers.closeDriver(record->deviceIndex);
    }
    theAsioDriver = panelObject;
    freePlanes();
    return known;
}

bool VLASIO::takeDetails(AudioDeviceRecord* record) {
    record->sampleRate = sampleRate;
    record->bufferSize = uint32_t(blockSize);
    record->channelNames.clear();
    const int32_t total = std::min(inputChannels, kMaxChannels) + std::min(outputChannels, kMaxChannels);
    const asio::AsioBool direction = record->isInput ? asio::kAsioTrue : asio::kAsioFalse;
    for (int32_t k = 0; k < total; ++k)
        if (channelInfos[k].isInput == direction) record->channelNames.push_back(platform::ansiToWide(channelInfos[k].name));
    record->detailsKnown = true;
    return true;
}

void VLASIO::poll() {
    // A driver that stops calling back (an interface unplugged under some drivers) sends no
    // reset request either. A block still inside the plug-in is no stall.
    if (!running.load(std::memory_order_acquire) || stallReported) return;
    if (callbacksInFlight.load(std::memory_order_acquire) != 0) return;
    if (platform::tickCountMs() - lastSwitchMs.load(std::memory_order_relaxed) < stallMs) return;
    stallReported = true;
    reportDeviceEvent(DeviceEvent::Failed);
}

bool VLASIO::openControlPanel(AudioDeviceRecord* record) {
    if (running.load(std::memory_order_acquire)) return theAsioDriver && theAsioDriver->controlPanel() == asio::ASE_OK;
    if (!record || record->deviceIndex < 0 || drivers.numDrivers <= record->deviceIndex) return false;
    if (teardownPending() && !finishTeardown(0)) return false;
    // Pressed again: the loaded driver's panel again, not a second driver object.
    const bool loaded = panelDriver == record->deviceIndex && drivers.currentIndex == panelDriver && theAsioDriver;
    if (!loaded) {
        releasePanelDriver();
        char name[kNameBuffer];
        if (drivers.getDriverName(record->deviceIndex, name, int32_t(sizeof name)) != kAsioListOk) return false;
        if (!drivers.loadDriver(name)) return false;
        if (!initialise()) {
            drivers.removeCurrentDriver();
            return false;
        }
        panelDriver = record->deviceIndex;
    }
    if (theAsioDriver->controlPanel() == asio::ASE_OK) return true;
    releasePanelDriver();
    return false;
}

// ---------------------------------------------------------------------------------------------
// Driver thread

namespace {

// Counts a driver callback in and out, so that stop can tell when none is under way.
class CallbackScope {
public:
    explicit CallbackScope(std::atomic<int32_t>& inFlight) : inFlight(inFlight) {
        inFlight.fetch_add(1, std::memory_order_seq_cst);
    }
    ~CallbackScope() { inFlight.fetch_sub(1, std::memory_order_release); }
    CallbackScope(const CallbackScope&) = delete;
    CallbackScope& operator=(const CallbackScope&) = delete;

private:
    std::atomic<int32_t>& inFlight;
};

}  // namespace

void VLASIO::bufferSwitch(int32_t index, asio::AsioBool) {
    VLASIO* host = theAsioHost;
    if (!host) return;
    CallbackScope scope(host->callbacksInFlight);
    host->process(index);
}

asio::AsioTime* VLASIO::bufferSwitchTimeInfo(asio::AsioTime*, int32_t index, asio::AsioBool) {
    VLASIO* host = theAsioHost;
    if (!host) return nullptr;
    CallbackScope scope(host->callbacksInFlight);
    host->process(index);
    return nullptr;
}

void VLASIO::requestRestart() {
    // Outside a run there is nothing to restart.
    if (!buffersReady.load(std::memory_order_acquire)) return;
    detailsStale.store(true, std::memory_order_release);
    reportDeviceEvent(DeviceEvent::RestartRequested);
}

// 0 means the driver lost its clock: the rate is unknown, and a restart would not find one.
void VLASIO::sampleRateDidChange(asio::AsioSampleRate rate) {
    if (VLASIO* host = theAsioHost; host && rate > 0.0 && rate != host->sampleRate) host->requestRestart();
}

int32_t VLASIO::asioMessage(int32_t selector, int32_t value, void*, double*) {
    switch (selector) {
        case asio::kAsioSelectorSupported:
            switch (value) {
                case asio::kAsioEngineVersion:
                case asio::kAsioResetRequest:
                case asio::kAsioBufferSizeChange:
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
        case asio::kAsioBufferSizeChange:
        case asio::kAsioResyncRequest:
            // Never torn down inside the callback: the user-interface thread restarts the engine.
            if (VLASIO* host = theAsioHost) host->requestRestart();
            return 1;
        case asio::kAsioLatenciesChanged:
        case asio::kAsioSupportsTimeInfo:
            return 1;
        default:
            return 0;
    }
}

// Inside a CallbackScope: the buffers stay while buffersReady is seen set here.
void VLASIO::process(int32_t index) {
    lastSwitchMs.store(platform::tickCountMs(), std::memory_order_relaxed);
    if ((index == 0 || index == 1) && buffersReady.load(std::memory_order_seq_cst)) {
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
            clearUnusedOutput(half, size_t(blockSize) * layouts[k].bytesPerSample);
    }
}

// Cleared before the start, an unused half stays silent with a driver that keeps what the host
// wrote; checking its ends costs a fraction of clearing it.
void VLASIO::clearUnusedOutput(void* half, size_t bytes) {
    if (!unusedNeedClearing) {
        uint64_t head = 0, tail = 0;
        const size_t n = std::min<size_t>(bytes, sizeof head);
        std::memcpy(&head, half, n);
        std::memcpy(&tail, static_cast<const uint8_t*>(half) + bytes - n, n);
        if ((head | tail) == 0) return;
        unusedNeedClearing = true;  // this driver hands out dirty halves: every block from now on
    }
    zeroBytes(half, bytes);
}

void VLASIO::silenceOutputs(int32_t index) {
    for (int32_t k = inputBuffers; k < inputBuffers + outputBuffers; ++k)
        if (void* half = bufferInfos[k].buffers[index]; half && convertible[k])
            zeroBytes(half, size_t(blockSize) * layouts[k].bytesPerSample);
}

}  // namespace vl
