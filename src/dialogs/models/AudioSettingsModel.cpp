#include "dialogs/models/AudioSettingsModel.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "dialogs/models/DialogText.h"
#include "host/PluginSlot.h"
#include "host/VLVSTHostInterface.h"
#include "settings/HostSettings.h"

namespace vl {

double latencyMsFromSamples(int32_t samples, double sampleRate) {
    if (!(sampleRate > 0.0)) return 0.0;
    return roundToTenths(static_cast<double>(samples) / sampleRate * 1000.0);
}

int32_t samplesFromLatencyMs(double ms, double sampleRate) {
    const double samples = std::trunc(ms * sampleRate / 1000.0);
    if (!(samples > std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
    if (samples >= std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(samples);
}

namespace {

bool listsDevices(const AudioBackendSet& backends, uint32_t type) {
    const VLAudioBase* backend = backends.backendFor(type);
    return backend && !backend->devices.empty();
}

bool inRange(int index, size_t count) { return index >= 0 && static_cast<size_t>(index) < count; }

}  // namespace

std::vector<AudioTypeEntry> audioTypeEntries(const AudioBackendSet& backends, bool takesNoAudioInput) {
    std::vector<AudioTypeEntry> entries;
    const bool wasapi = listsDevices(backends, kDeviceTypeWasapiShared);
    if (wasapi) {
        entries.push_back({L"WASAPI (Shared Mode)", kDeviceTypeWasapiShared});
        // Exclusive mode cannot run a capture stream beside the render stream.
        if (takesNoAudioInput) entries.push_back({L"WASAPI (Exclusive Mode)", kDeviceTypeWasapiExclusive});
    }
    if (listsDevices(backends, kDeviceTypeASIO)) entries.push_back({L"ASIO", kDeviceTypeASIO});
    if (!wasapi && listsDevices(backends, kDeviceTypeDirectSound))
        entries.push_back({L"Direct Sound", kDeviceTypeDirectSound});
    return entries;
}

// The engine's rule: a count below 1 is no input.
bool takesNoAudioInput(const PluginSlot& slot) { return slot.isSynth() || slot.numInputs() <= 0; }

std::wstring deviceFailureText(const wchar_t* message, const std::wstring& deviceName, const std::wstring& reason) {
    std::wstring text = std::wstring(message) + L"\r\n" + deviceName;
    if (!reason.empty()) text += L": " + reason;
    return text;
}

// One user action (a pick, Apply): a device that fails several queries in it is told once.
struct AudioSettingsModel::Action {
    explicit Action(AudioSettingsModel& model) : model(model) {
        if (model.actionDepth++ == 0) model.failuresTold.clear();
    }
    ~Action() { --model.actionDepth; }
    AudioSettingsModel& model;
};

AudioSettingsModel::AudioSettingsModel(AudioBackendSet& backends, HostSettings& settings, VLVSTHostInterface& host,
                                       bool takesNoAudioInput, bool applyEnabledAtStart,
                                       platform::MessageSink* messages)
    : backends(backends),
      settings(settings),
      host(host),
      messages(messages),
      noAudioInput(takesNoAudioInput),
      applyOn(applyEnabledAtStart) {}

std::wstring AudioSettingsModel::samplesText() const { return std::to_wstring(bufferSamples); }
std::wstring AudioSettingsModel::latencyText() const { return decimalText(latencyMs); }

void AudioSettingsModel::initialise() {
    const Action action(*this);
    initialising = true;
    controlPanelOn = false;
    typeEntries = audioTypeEntries(backends, noAudioInput);
    selectedType = typeEntries.empty() ? -1 : 0;
    const uint32_t current = settings.outputDevice ? settings.outputDevice->type : 0;
    for (size_t i = 0; i < typeEntries.size(); ++i) {
        if (typeEntries[i].type == current) selectedType = static_cast<int>(i);
    }
    selectType(selectedType);
    initialising = false;
}

uint32_t AudioSettingsModel::selectedTypeCode() const {
    return inRange(selectedType, typeEntries.size()) ? typeEntries[selectedType].type : 0;
}

void AudioSettingsModel::selectType(int index) {
    const Action action(*this);
    selectedType = inRange(index, typeEntries.size()) ? index : -1;
    inputList = {};
    outputList = {};
    const uint32_t type = selectedTypeCode();
    if (type == 0) {
        inputChannelLists = {};
        outputChannelLists = {};
        return;
    }
    // ASIO drivers and the shared WASAPI stream choose their own block size.
    const bool systemSized = type == kDeviceTypeASIO || type == kDeviceTypeWasapiShared;
    bufferControlsOn = !systemSized;
    controlPanelOn = type == kDeviceTypeASIO;
    fillDeviceLists(type);
    selectInputDevice(inputList.selected);
    selectOutputDevice(outputList.selected);
}

void AudioSettingsModel::fillDeviceLists(uint32_t type) {
    VLAudioBase* backend = backends.backendFor(type);
    if (!backend) return;
    bool inputCurrentMet = false, outputCurrentMet = false;
    for (const auto& owned : backend->devices) {
        AudioDeviceRecord* record = owned.get();
        if (record->type != type) continue;
        DeviceList& list = record->isInput ? inputList : outputList;
        AudioDeviceRecord* current = record->isInput ? settings.inputDevice : settings.outputDevice;
        bool& currentMet = record->isInput ? inputCurrentMet : outputCurrentMet;
        list.devices.push_back(record);
        const int index = static_cast<int>(list.devices.size()) - 1;
        // The current device wins; until it is met, each system default is taken instead.
        if (record == current) {
            list.selected = index;
            currentMet = true;
        } else if (!currentMet && record->isDefault) {
            list.selected = index;
        }
    }
    if (inputList.selected < 0 && !inputList.devices.empty()) inputList.selected = 0;
    if (outputList.selected < 0 && !outputList.devices.empty()) outputList.selected = 0;
}

bool AudioSettingsModel::mayQuery(const AudioDeviceRecord* record) const {
    return !(record && record->type == kDeviceTypeASIO && host.RunningDeviceType() == kDeviceTypeASIO);
}

bool AudioSettingsModel::queryDetails(AudioDeviceRecord* record, bool tell) {
    VLAudioBase* backend = record && isValidDeviceType(record->type) ? backends.backendFor(record->type) : nullptr;
    if (backend && backend->queryDetails(record, true)) return true;
    lastQueryReason = record ? reasonOf(*record) : std::wstring();
    const std::wstring& reason = lastQueryReason;
    if (!tell) return false;
    // An ASIO driver lists an input and an output record: both fail with it, as one failure.
    if (!firstFailureOf(record)) return false;
    if (!record) showMessage(messages, kDeviceInfosErrorText);
    else showMessage(messages, deviceFailureText(kDeviceInfosErrorText, record->name, reason).c_str());
    return false;
}

bool AudioSettingsModel::firstFailureOf(const AudioDeviceRecord* record) {
    const std::wstring told = record ? std::to_wstring(record->type) + L":" + record->name : std::wstring();
    if (std::find(failuresTold.begin(), failuresTold.end(), told) != failuresTold.end()) return false;
    failuresTold.push_back(told);
    return true;
}

std::wstring AudioSettingsModel::reasonOf(const AudioDeviceRecord& record) const {
    return failureReason ? failureReason(record) : std::wstring();
}

void AudioSettingsModel::showChannels(AudioDeviceRecord* record, AudioDeviceRecord* current, ChannelLists& lists) {
    lists = {};
    if (!record) return;
    lists.names = record->channelNames;
    const size_t count = lists.names.size();
    if (record == current) {
        lists.left = inRange(record->leftChannel, count) ? record->leftChannel : -1;
        lists.right = inRange(record->rightChannel, count) ? record->rightChannel : -1;
    } else if (count > 0) {
        // A device that is not the current one shows its first two channels, which Apply
        // hands to its record.
        lists.left = 0;
        if (count > 1) lists.right = 1;
    }
}

AudioDeviceRecord* AudioSettingsModel::chooseDevice(DeviceList& list, int index, ChannelLists& channels,
                                                    AudioDeviceRecord* current, bool& detailsShown) {
    list.selected = inRange(index, list.devices.size()) ? index : -1;
    AudioDeviceRecord* record = list.selectedDevice();
    detailsShown = true;
    if (record) {
        // An unknown ASIO driver is not loaded beside the running one: its details wait for Apply.
        if (mayQuery(record)) detailsShown = queryDetails(record);
        else detailsShown = record->detailsKnown;
    }
    showChannels(record, current, channels);
    return record;
}

void AudioSettingsModel::selectInputDevice(int index) {
    const Action action(*this);
    chooseDevice(inputList, index, inputChannelLists, settings.inputDevice, inputDetails);
    changed();
}

void AudioSettingsModel::selectOutputDevice(int index) {
    const Action action(*this);
    if (AudioDeviceRecord* record =
            chooseDevice(outputList, index, outputChannelLists, settings.outputDevice, outputDetails)) {
        bufferSamples = static_cast<int32_t>(std::min<uint32_t>(record->bufferSize, std::numeric_limits<int32_t>::max()));
        latencyMs = latencyMsFromSamples(bufferSamples, record->sampleRate);
        unreadableEdit = Edit::None;
    }
    changed();
}

void AudioSettingsModel::storeChannel(ChannelLists& lists, Side side, int index) {
    if (!inRange(index, lists.names.size())) return;
    (side == Side::Left ? lists.left : lists.right) = index;
    changed();
}

void AudioSettingsModel::selectInputChannel(Side side, int index) { storeChannel(inputChannelLists, side, index); }

void AudioSettingsModel::selectOutputChannel(Side side, int index) { storeChannel(outputChannelLists, side, index); }

void AudioSettingsModel::takeSamples(int32_t samples) {
    bufferSamples = samples;
    unreadableEdit = Edit::None;
    if (AudioDeviceRecord* record = outputList.selectedDevice()) latencyMs = latencyMsFromSamples(samples, record->sampleRate);
}

void AudioSettingsModel::takeLatency(double ms) {
    latencyMs = ms;
    unreadableEdit = Edit::None;
    // The rate is the one the device selection read; without one the block size stays.
    AudioDeviceRecord* record = outputList.selectedDevice();
    if (record && record->sampleRate > 0.0) bufferSamples = std::max(samplesFromLatencyMs(ms, record->sampleRate), 0);
}

void AudioSettingsModel::stepSamples(int upSteps) {
    const int64_t samples = static_cast<int64_t>(bufferSamples) + upSteps;
    takeSamples(static_cast<int32_t>(std::clamp<int64_t>(samples, kMinBufferSamples, kMaxBufferSamples)));
    changed();
}

void AudioSettingsModel::stepLatency(int upSteps) {
    double ms = latencyMs + upSteps * 0.1;
    if (ms < kMinLatencyMs) ms = kMinLatencyMs;
    takeLatency(roundToTenths(ms));
    changed();
}

bool AudioSettingsModel::editSamples(std::wstring_view text) {
    const std::optional<int32_t> samples = parseInteger(text);
    changed();
    if (!samples || *samples < 0) {
        unreadableEdit = Edit::Samples;
        return false;
    }
    takeSamples(*samples);
    return true;
}

bool AudioSettingsModel::editLatency(std::wstring_view text) {
    const std::optional<double> ms = parseDecimal(text);
    changed();
    if (!ms || !(*ms >= 0.0)) {
        unreadableEdit = Edit::Latency;
        return false;
    }
    takeLatency(*ms);
    return true;
}

void AudioSettingsModel::pressControlPanel() {
    AudioDeviceRecord* record = outputList.selectedDevice();
    if (!record) return;
    if (openControlPanel && openControlPanel(*record)) {
        applyOn = true;
    } else {
        showMessage(messages, kControlPanelErrorText);
    }
}

void AudioSettingsModel::changed() {
    if (!initialising) applyOn = true;
}

void AudioSettingsModel::commitDeviceChoice() {
    if (initialising) return;
    AudioDeviceRecord* input = inputList.selectedDevice();
    AudioDeviceRecord* output = outputList.selectedDevice();
    if (input) {
        settings.inputDevice = input;
    } else if (settings.inputDevice && output && settings.inputDevice->type != output->type) {
        // The back ends take an input only from their own family: a family without inputs
        // leaves none rather than the input of the family chosen before.
        settings.inputDevice = nullptr;
    }
    if (output) settings.outputDevice = output;
}

void AudioSettingsModel::showSettingsChoice() {
    const bool wasInitialising = initialising;
    initialising = true;
    const uint32_t current = settings.outputDevice ? settings.outputDevice->type : 0;
    for (size_t i = 0; i < typeEntries.size(); ++i) {
        if (typeEntries[i].type == current) selectedType = static_cast<int>(i);
    }
    selectType(selectedType);
    initialising = wasInitialising;
}

namespace {

// The values of a record that Apply changes, to put back when the new choice does not start.
struct RecordValues {
    AudioDeviceRecord* record = nullptr;
    int32_t left = 0, right = 0;
    uint32_t bufferSize = 0;
};

void remember(std::vector<RecordValues>& saved, AudioDeviceRecord* record) {
    if (!record) return;
    for (const auto& r : saved) {
        if (r.record == record) return;
    }
    saved.push_back({record, record->leftChannel, record->rightChannel, record->bufferSize});
}

void putChannels(AudioDeviceRecord* record, const AudioSettingsModel::ChannelLists& lists) {
    if (!record) return;
    if (lists.left >= 0) record->leftChannel = lists.left;
    if (lists.right >= 0) record->rightChannel = lists.right;
}

}  // namespace

bool AudioSettingsModel::apply() {
    const Action action(*this);
    if (unreadableEdit != Edit::None) {
        showMessage(messages, unreadableEdit == Edit::Samples ? kEnterIntegerText : kEnterNumberText);
        return false;
    }
    AudioDeviceRecord* const previousInput = settings.inputDevice;
    AudioDeviceRecord* const previousOutput = settings.outputDevice;
    const bool wasRunning = host.engineRunning.load(std::memory_order_acquire);
    AudioDeviceRecord* input = inputList.selectedDevice();
    AudioDeviceRecord* record = outputList.selectedDevice();
    std::vector<RecordValues> saved;
    for (AudioDeviceRecord* r : {previousInput, previousOutput, input, record}) remember(saved, r);

    host.StopAudioEngine();
    putChannels(input, inputChannelLists);
    putChannels(record, outputChannelLists);
    if (record) {
        record->bufferSize = static_cast<uint32_t>(std::clamp(bufferSamples, kMinBufferSamples, kMaxBufferSamples));
        record->detailsKnown = false;
    }
    // A device that cannot tell its details will not start either: that failure is told once,
    // below, with what the query learnt.
    lastQueryReason.clear();
    queryDetails(record, false);
    const std::wstring queryReason = lastQueryReason;
    if (record && (record->type == kDeviceTypeASIO || record->type == kDeviceTypeWasapiShared)) {
        // The driver's preferred size (ASIO) or the stream's size (shared WASAPI), as the query
        // has just reported it.
        bufferSamples = static_cast<int32_t>(std::min<uint32_t>(record->bufferSize, std::numeric_limits<int32_t>::max()));
        latencyMs = latencyMsFromSamples(bufferSamples, record->sampleRate);
    }
    if (bufferSamples < kMinBufferSamples || bufferSamples > kMaxBufferSamples) {
        takeSamples(std::clamp(bufferSamples, kMinBufferSamples, kMaxBufferSamples));
        if (record) record->bufferSize = static_cast<uint32_t>(bufferSamples);
    }
    // The choice is stored only once it runs, so that a device that fails never breaks the
    // next start.
    commitDeviceChoice();
    if (host.StartAudioEngine()) {
        // Other devices than the stand-ins for a missing interface: the user's new choice.
        if (settings.inputDevice != previousInput || settings.outputDevice != previousOutput)
            settings.audioDevicesAreFallback = false;
        if (!initialising) settings.saveSettings();
        applyOn = false;
        return true;
    }
    // Stopped while it started (the engine command, the shut-down): no failure of the device,
    // nothing to tell and no restart against that stop. The new choice waits for Apply again.
    const bool cancelled = host.startWasCancelled();
    // A start refused with its own reason (an effect without an input device) needs no second box.
    if (!cancelled && !host.startFailureTold() && firstFailureOf(record)) {
        std::wstring reason = record ? reasonOf(*record) : std::wstring();
        if (reason.empty()) reason = queryReason;
        if (record) showMessage(messages, deviceFailureText(kAudioEngineErrorText, record->name, reason).c_str());
        else showMessage(messages, kAudioEngineErrorText);
    }
    settings.inputDevice = previousInput;
    settings.outputDevice = previousOutput;
    for (const auto& r : saved) {
        r.record->leftChannel = r.left;
        r.record->rightChannel = r.right;
        r.record->bufferSize = r.bufferSize;
    }
    if (cancelled) {
        applyOn = true;
        return false;
    }
    if (wasRunning) host.StartAudioEngine();
    showSettingsChoice();
    applyOn = true;
    return false;
}

bool AudioSettingsModel::ok() { return !applyOn || apply(); }

}  // namespace vl
