#pragma once
// Everything a coordinator needs, wired as the main window wires it, with test stand-ins for
// the sound card, the MIDI engine, the settings store and the message boxes.

#include <memory>
#include <string>

#include "host/HostCallback.h"
#include "host/PluginSlot.h"
#include "host/VLVSTHostInterface.h"
#include "settings/HostSettings.h"
#include "support/FakeMidiEngine.h"
#include "support/MessageRecorder.h"
#include "support/TestAudioBackend.h"
#include "support/TestSettings.h"

namespace vltest {

struct CoordinatorRig {
    explicit CoordinatorRig(uint32_t type = vl::kDeviceTypeASIO, double rate = 44100.0, uint32_t bufferSize = 64)
        : backend(type, rate, bufferSize), settings(settingsStore.make()) {
        vl::setHostContext(&slot);
        backends.set(type, &backend);
        settings->outputDevice = backend.output();
        host.setMessageSink(&messages);
    }
    ~CoordinatorRig() { vl::setHostContext(nullptr); }

    void link() { host.link(&slot, &backends, &midi, settings.get()); }

    // Starts the engine and, for the ASIO stand-in, runs n blocks.
    bool startAndPump(int blocks = 0) {
        if (!host.StartAudioEngine()) return false;
        for (int i = 0; i < blocks; ++i) backend.pump(backend.output()->bufferSize);
        return true;
    }

    vl::PluginSlot slot;
    TestAudioBackend backend;
    vl::AudioBackendSet backends;
    FakeMidiEngine midi;
    TestSettingsStore settingsStore;
    std::unique_ptr<vl::HostSettings> settings;
    MessageRecorder messages;
    vl::VLVSTHostInterface host;  // last: destroyed first
};

}  // namespace vltest
