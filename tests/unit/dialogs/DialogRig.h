#pragma once
// The engine objects the dialog models work on, wired as the main window wires them: the
// probe plug-in, one stand-in back end per family with devices set by the test, the MIDI
// stand-in, settings in memory and the message boxes recorded.

#include <memory>
#include <string>
#include <vector>

#include "host/HostCallback.h"
#include "host/PluginSlot.h"
#include "host/VLVSTHostInterface.h"
#include "settings/HostSettings.h"
#include "support/FakeMidiEngine.h"
#include "support/MessageRecorder.h"
#include "support/ProbeModule.h"
#include "support/TestAudioBackend.h"
#include "support/TestSettings.h"

namespace vltest {

// A back end whose device list the test fills; its details query can fail, reports the
// driver's preferred block size like an ASIO driver, and notes whether the engine ran then.
class DeviceBackend : public TestAudioBackend {
public:
    explicit DeviceBackend(uint32_t type) : TestAudioBackend(type) {
        devices.clear();
        paceMicros = 2000;  // blocking families: a calm device loop
    }

    vl::AudioDeviceRecord* add(uint32_t type, const std::wstring& name, bool isInput, bool isDefault = false,
                               double rate = 44100.0, int channels = 2, uint32_t bufferSize = 512) {
        auto record = std::make_unique<vl::AudioDeviceRecord>();
        record->type = type;
        record->name = name;
        record->isInput = isInput;
        record->isDefault = isDefault;
        record->sampleRate = rate;
        record->bitsPerSample = 32;
        record->bufferSize = bufferSize;
        for (int c = 1; c <= channels; ++c)
            record->channelNames.push_back(name + (isInput ? L" In " : L" Out ") + std::to_wstring(c));
        devices.push_back(std::move(record));
        return devices.back().get();
    }

    bool failQueries = false;
    uint32_t preferredSize = 0;  // non-zero: a query sets the record's block size to it
    int queriesWhileRunning = 0;

    bool queryDetails(vl::AudioDeviceRecord* record, bool probe) override {
        if (!record || failQueries) return false;
        if (record->detailsKnown) return true;  // as every back end: known details are not asked again
        if (running) queriesWhileRunning += 1;
        TestAudioBackend::queryDetails(record, probe);
        if (preferredSize) record->bufferSize = preferredSize;
        return true;
    }
};

struct DialogRig {
    DialogRig() {
        vl::setHostContext(&slot);
        backends.set(vl::kDeviceTypeWasapiShared, &wasapi);
        backends.set(vl::kDeviceTypeWasapiExclusive, &wasapi);
        backends.set(vl::kDeviceTypeASIO, &asio);
        backends.set(vl::kDeviceTypeDirectSound, &directSound);
        host.setMessageSink(&messages);
    }
    ~DialogRig() { vl::setHostContext(nullptr); }

    // Loads the probe (after the test has configured it) and links the coordinator.
    void load() {
        loaded = slot.load(probe.path()) == vl::LoadResult::Loaded;
        EXPECT_TRUE(loaded);
        host.link(&slot, &backends, &midi, settings.get());
    }
    void makeInstrument() {
        probe.config().flags = vst::effFlagsCanReplacing | vst::effFlagsIsSynth;
        probe.config().numInputs = 0;
    }
    std::wstring savedHostValue(const std::wstring& name) {
        std::wstring value;
        return settingsStore.readHostString(*settings, name, value) ? value : L"<none>";
    }
    std::vector<std::wstring> messageTexts() const {
        std::vector<std::wstring> texts;
        for (const auto& m : messages.shown) texts.push_back(m.text);
        return texts;
    }

    ProbeModule probe;
    vl::PluginSlot slot;
    DeviceBackend wasapi{vl::kDeviceTypeWasapiShared};
    DeviceBackend asio{vl::kDeviceTypeASIO};
    DeviceBackend directSound{vl::kDeviceTypeDirectSound};
    vl::AudioBackendSet backends;
    FakeMidiEngine midi;
    TestSettingsStore settingsStore;
    std::unique_ptr<vl::HostSettings> settings = settingsStore.make();
    MessageRecorder messages;
    vl::VLVSTHostInterface host;  // last: destroyed first
    bool loaded = false;
};

}  // namespace vltest
