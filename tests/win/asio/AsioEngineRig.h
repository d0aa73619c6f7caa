#pragma once
// The coordinator wired to the ASIO back end and the test driver as the main window wires it,
// with the probe plug-in loaded through the real loader (or a plug-in the test attaches).

#include <memory>

#include "CoordinatorRig.h"
#include "TestAsioModule.h"
#include "audio/asio/VLASIO.h"
#include "support/ProbeModule.h"

namespace vltest {

struct AsioEngineRig {
    // Configures the driver (2 in / 2 out) before the back end lists it. Without loadProbe the
    // test attaches a plug-in of its own to the slot.
    AsioEngineRig(int32_t blockSize, double rate, int32_t pacing = testasio::Paced, bool loadProbe = true) {
        driver.config().pacing = pacing;
        driver.config().preferredSize = blockSize;
        driver.config().sampleRate = rate;
        probe.config().flags = vst::effFlagsCanReplacing;
        probe.config().numInputs = 2;
        if (loadProbe) loaded = slot.load(probe.path()) == vl::LoadResult::Loaded;
        asio = std::make_unique<vl::VLASIO>();
        rig.backends.set(vl::kDeviceTypeASIO, asio.get());
        if (asio->devices.size() >= 2) {
            settings.inputDevice = asio->devices[0].get();
            settings.outputDevice = asio->devices[1].get();
        }
        rig.link();
    }
    ~AsioEngineRig() { host.StopAudioEngine(); }

    TestAsioModule driver;
    ProbeModule probe;
    std::unique_ptr<vl::VLASIO> asio;
    CoordinatorRig rig;  // its own test back end is replaced by the ASIO one
    bool loaded = false;
    vl::PluginSlot& slot = rig.slot;
    vl::VLVSTHostInterface& host = rig.host;
    vl::HostSettings& settings = *rig.settings;
    MessageRecorder& messages = rig.messages;
};

}  // namespace vltest
