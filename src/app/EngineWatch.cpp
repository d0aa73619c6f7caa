#include "app/EngineWatch.h"

#include "host/VLVSTHostInterface.h"

namespace vl::app {

std::wstring deviceFailedText(const std::wstring& deviceName) {
    return L"The audio device \"" + deviceName + L"\" stopped working.";
}

void EngineWatch::follow() {
    const bool running = host.engineRunning.load(std::memory_order_acquire);
    if (shown == running) return;
    shown = running;
    view.showEngineState(running);
}

void EngineWatch::tellIfUntold() {
    // A start ended by a stop asked for meanwhile (the shut-down among them) did not fail.
    if (!host.startFailureTold() && !host.startWasCancelled()) view.tellStartFailed();
}

void EngineWatch::tick() {
    if (inTick) return;
    inTick = true;
    switch (host.PollEngine()) {
        case EngineNotice::DeviceFailed:
            // The engine is stopped already: the item and caption say so before the message.
            follow();
            view.tellDeviceFailed(host.failedDeviceName());
            view.offerAudioSettings();
            break;
        case EngineNotice::RestartRequested: {
            const std::wstring device = host.engineDeviceName();
            // The sound stopped without the user asking: as for a failed device, say which
            // one and offer the settings, unless the start told the user why already.
            if (!restart() && !host.startFailureTold() && !host.startWasCancelled()) {
                view.tellDeviceFailed(device);
                view.offerAudioSettings();
            }
            break;
        }
        case EngineNotice::None: follow(); break;
    }
    inTick = false;
}

bool EngineWatch::restart() {
    host.StopAudioEngine();
    const bool started = host.StartAudioEngine();
    follow();
    return started;
}

void EngineWatch::toggle() {
    if (host.engineRunning.load(std::memory_order_acquire)) {
        host.StopAudioEngine();
        follow();
        return;
    }
    const bool started = host.StartAudioEngine();
    follow();
    if (!started) tellIfUntold();
}

}  // namespace vl::app
