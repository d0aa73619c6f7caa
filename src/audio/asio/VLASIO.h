#pragma once
// The ASIO back end: every installed driver as one input and one output record; the engine loads
// the driver, creates buffers for up to 32 channels per direction and lets the driver call back
// on its own thread once per buffer half, where the chosen input channels become the two float
// planes, RenderBlock runs, and the planes go to the chosen output channels (every other output
// channel gets silence). Input and output always belong to the same driver. Windows only.
//
// While the engine stops (running cleared, or RenderBlock answering false) the callback writes
// silence into every output half it is handed, so the driver never repeats the last block.

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
    static constexpr uint32_t kStopGraceMs = 100;

    // registryKey: where the drivers are listed below HKEY_LOCAL_MACHINE.
    explicit VLASIO(const char* registryKey = AsioDriverList::kDefaultKey);
    ~VLASIO() override;

    bool openAndStart(AudioDeviceRecord* input, AudioDeviceRecord* output, RenderBlockProc callback,
                      void* user) override;
    void stop() override;
    bool matchFormats(AudioDeviceRecord* input, AudioDeviceRecord* output) override;
    bool queryDetails(AudioDeviceRecord* record, bool probe) override;
    // The driver's control panel: the running driver's, or the record's driver loaded for it.
    bool openControlPanel(AudioDeviceRecord* record);

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

private:
    bool initDriver();
    bool createDriverBuffers();
    void disposeDriverBuffers();
    // Ends a start that failed after the driver was loaded: nothing of it stays behind.
    void abandonStart();
    void enumerate();

    // The block of one buffer half (driver thread).
    void process(int32_t index);
    void readInputs(int32_t index);
    void writeOutputs(int32_t index);
    void silenceOutputs(int32_t index);

    // Per created buffer: its layout, and whether its sample type is one that is converted.
    PlanarLayout layouts[2 * kMaxChannels]{};
    bool convertible[2 * kMaxChannels]{};
    // Set while the buffers exist and the callbacks may write them.
    std::atomic<bool> buffersReady{false};
    // Callbacks under way; stop waits (bounded) until none is.
    std::atomic<int32_t> callbacksInFlight{0};
};

}  // namespace vl
