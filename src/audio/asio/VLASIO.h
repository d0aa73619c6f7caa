#pragma once
// The ASIO back end: every installed driver as one input and one output record; the engine loads
// the driver, creates buffers for up to 32 channels per direction and lets the driver call back
// on its own thread once per buffer half, where the chosen input channels become the two float
// planes, RenderBlock runs, and the planes go to the chosen output channels (every other output
// channel gets silence). Input and output always belong to the same driver. Windows only.
//
// While the engine stops (running cleared, or RenderBlock answering false) the callback writes
// silence into every output half it is handed, so the driver never repeats the last block.
//
// Stop: callbacks are counted in and out. Nothing the callbacks use (driver buffers, planes, the
// driver object) is released while one may be under way; a block that outlives the bounded
// wait leaves all of it alive, and the teardown is finished by the next stop, start, query or
// control panel once the block has left (the destructor waits once more, then ends the process).
//
// Driver requests (a reset, a new buffer size, a resync, a new sample rate) are answered at once
// and reported as DeviceEvent::RestartRequested; the user-interface thread restarts the engine.
// The driver's records are then queried afresh at that start.
//
// Output halves are cleared before the driver starts. Unused output channels are cleared then
// only: a driver whose halves come back dirty (seen at the first dirty one) gets them cleared
// every block.

#include <atomic>
#include <cstdint>

#include "audio/AudioDevice.h"
#include "audio/SampleConvert.h"
#include "audio/asio/AsioAbi.h"
#include "audio/asio/AsioDriverList.h"

namespace vl {

class VLASIO;
// The one ASIO back end of the process; the static driver callbacks reach it through this.
extern VLASIO* theAsioHost;

class VLASIO : public VLAudioBase {
public:
    static constexpr int32_t kMaxChannels = 32;  // per direction
    // How long stop waits for a callback under way before it leaves the buffers alive.
    static constexpr uint32_t kStopWaitMs = 1000;
    // Exit code when the back end is destroyed under a callback that never returned.
    static constexpr int kExitCallbackHung = 3;

    // registryKey: where the drivers are listed below HKEY_LOCAL_MACHINE.
    explicit VLASIO(const char* registryKey = AsioDriverList::kDefaultKey);
    ~VLASIO() override;

    bool openAndStart(AudioDeviceRecord* input, AudioDeviceRecord* output, RenderBlockProc callback,
                      void* user) override;
    void stop() override;
    bool settleStop(uint32_t waitMs) override { return !teardownPending() || finishTeardown(waitMs); }
    // No buffer switch for stallMs while running (and none under way) is a failed device.
    void poll() override;
    bool matchFormats(AudioDeviceRecord* input, AudioDeviceRecord* output) override;
    bool queryDetails(AudioDeviceRecord* record, bool probe) override;
    // The driver's control panel: the running driver's, or the record's driver loaded and
    // initialised for it. That driver stays loaded (its panel may live in it) until the next
    // engine start or query of another driver, or releaseControlPanel.
    bool openControlPanel(AudioDeviceRecord* record);
    // The Audio Settings window closes: a driver loaded for its panel is released, and what the
    // panel may have changed (rate, buffer size) is queried afresh next time.
    void releaseControlPanel();
    // The application's main window, handed to the driver's init for its own dialogs.
    void setWindowHandle(void* handle) { windowHandle = handle; }

    // Driver callbacks (the driver's thread).
    static void bufferSwitch(int32_t index, asio::AsioBool directProcess);
    static asio::AsioTime* bufferSwitchTimeInfo(asio::AsioTime* time, int32_t index, asio::AsioBool directProcess);
    static void sampleRateDidChange(asio::AsioSampleRate rate);
    static int32_t asioMessage(int32_t selector, int32_t value, void* message, double* opt);

    AsioDrivers drivers;
    asio::AsioDriverInfo driverInfo{};
    asio::AsioCallbacks callbacks{};
    asio::AsioChannelInfo channelInfos[2 * kMaxChannels]{};
    int32_t inputChannels = 0, outputChannels = 0;
    asio::AsioBufferInfo bufferInfos[2 * kMaxChannels]{};
    int32_t inputBuffers = 0, outputBuffers = 0;
    int32_t inputLatency = 0, outputLatency = 0;
    int32_t minSize = 0, maxSize = 0, preferredSize = 0, granularity = 0;
    double sampleRate = 0.0;
    int32_t blockSize = 0;
    bool postOutput = false;
    int32_t inputLeft = 0, inputRight = 1, outputLeft = 0, outputRight = 1;
    AudioDeviceRecord* inputRecord = nullptr;
    RenderBlockProc callback = nullptr;
    void* user = nullptr;
    // Bound of stop's wait for a callback under way (tests shorten it).
    uint32_t stopWaitMs = kStopWaitMs;
    static constexpr uint32_t kStallMs = 2000;
    uint32_t stallMs = kStallMs;
    // A stop left the buffers alive because a callback was still under way.
    bool teardownPending() const { return pendingTeardown != Teardown::None; }

private:
    enum class Teardown { None, DriverRunning, DriverStopped };

    bool initialise();
    // initialised: the loaded driver had its init already (the control panel's).
    bool initDriver(bool initialised = false);
    // A query's results into the record (after initDriver).
    bool takeDetails(AudioDeviceRecord* record);
    bool queryBesidePanel(AudioDeviceRecord* record);
    bool createDriverBuffers();
    void disposeDriverBuffers();
    // Ends a start that failed after the driver was loaded: nothing of it stays behind.
    void abandonStart();
    void enumerate();
    // The stop's steps from where a bounded wait left them; true once nothing is left.
    bool finishTeardown(uint32_t waitMs);
    bool waitForCallbacksOut(uint32_t waitMs) const;
    // Forgets what is known of both records of a driver (they are queried afresh).
    void forgetDetails(int32_t driverIndex);
    void releasePanelDriver();
    void clearOutputHalves();
    // A driver request that only a restart can follow (driver thread).
    void requestRestart();

    // The block of one buffer half (driver thread).
    void process(int32_t index);
    void readInputs(int32_t index);
    void writeOutputs(int32_t index);
    void silenceOutputs(int32_t index);
    void clearUnusedOutput(void* half, size_t bytes);

    // Per created buffer: its layout, and whether its sample type is one that is converted.
    PlanarLayout layouts[2 * kMaxChannels]{};
    bool convertible[2 * kMaxChannels]{};
    // Set while the buffers exist and the callbacks may write them.
    std::atomic<bool> buffersReady{false};
    // Callbacks under way; stop waits (bounded) until none is.
    std::atomic<int32_t> callbacksInFlight{0};
    std::atomic<uint32_t> lastSwitchMs{0};  // tick count of the last driver callback
    bool stallReported = false;             // user-interface thread
    // Driver thread: the driver hands out unused output halves that are no longer silent.
    bool unusedNeedClearing = false;
    // A driver request changed what the driver's records say (set by the driver thread).
    std::atomic<bool> detailsStale{false};

    // User-interface thread.
    void* windowHandle = nullptr;
    Teardown pendingTeardown = Teardown::None;
    int32_t runningDriver = -1;
    int32_t panelDriver = -1;  // driver loaded for its control panel, -1 none
};

}  // namespace vl
