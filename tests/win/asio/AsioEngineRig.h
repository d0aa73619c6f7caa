#pragma once
// The coordinator wired to the ASIO back end and the test driver as the main window wires it,
// with the probe plug-in loaded through the real loader.

#include <memory>

#include "TestAsioModule.h"
#include "audio/asio/VLASIO.h"
#include "host/HostCallback.h"
#include "host/PluginSlot.h"
#include "host/VLVSTHostInterface.h"
#include "settings/HostSettings.h"
#include "support/FakeMidiEngine.h"
#include "support/MessageRecorder.h"
#include "support/ProbeModule.h"
#include "support/TestSettings.h"

namespace vltest {

struct AsioEngineRig {
    // Configures the driver (paced, 2 in / 2 out) before the back end lists it.
    // Without loadProbe the test attaches a plug-in of its own to the slot.
    AsioEngineRig(int32_t blockSize, double rate, int32_t pacing = testasio::Paced, bool loadProbe = true) {
        driver.config().pacing = pacing;
        driver.config().preferredSize = blockSize;
        driver.config().sampleRate = rate;
        probe.config().flags = vst::effFlagsCanReplacing;
        probe.config().numInputs = 2;
        vl::setHostContext(&slot);
        if (loadProbe) loaded = slot.load(probe.path()) == vl::LoadResult::Loaded;
        asio = std::make_unique<vl::VLASIO>();
        backends.set(vl::kDeviceTypeASIO, asio.get());
        settings = settingsStore.make();
        if (asio->devices.size() >= 2) {
            settings->inputDevice = asio->devices[0].get();
            settings->outputDevice = asio->devices[1].get();
        }
        host.setMessageSink(&messages);
        host.link(&slot, &backends, &midi, settings.get());
    }
    ~AsioEngineRig() {
        host.StopAudioEngine();
        vl::setHostContext(nullptr);
    }

    TestAsioModule driver;
    ProbeModule probe;
    vl::PluginSlot slot;
    bool loaded = false;
    std::unique_ptr<vl::VLASIO> asio;
    vl::AudioBackendSet backends;
    FakeMidiEngine midi;
    TestSettingsStore settingsStore;
    std::unique_ptr<vl::HostSettings> settings;
    MessageRecorder messages;
    vl::VLVSTHostInterface host;  // last: destroyed first
};

}  // namespace vltest
