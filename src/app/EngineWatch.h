#pragma once
// EngineWatch: keeps what the main window shows of the audio engine (the engine item and the
// caption) in step with the engine's real state, whoever started or stopped it (the engine
// command, a settings window's Apply, a device loop that ended by itself), and answers what the
// engine reports at each caption tick: a failed device is told once and the Audio Settings
// window offered; a driver's restart request restarts the engine on the user-interface thread,
// so that the plug-in is told the block size and rate again (a restart that fails is told as
// the device's failure). Portable; the window implements
// EngineView.

#include <optional>
#include <string>

namespace vl {
class VLVSTHostInterface;
}

namespace vl::app {

class EngineView {
public:
    virtual ~EngineView() = default;
    // The engine item's text and the caption (the bare effect name while stopped).
    virtual void showEngineState(bool running) = 0;
    virtual void tellDeviceFailed(const std::wstring& deviceName) = 0;
    // "Couldn't start Audioengine"; not called when the engine told the user why already.
    virtual void tellStartFailed() = 0;
    virtual void offerAudioSettings() = 0;
};

class EngineWatch {
public:
    EngineWatch(VLVSTHostInterface& host, EngineView& view) : host(host), view(view) {}

    // At every caption tick. Re-entry (a tick inside one of its own message boxes) does nothing.
    void tick();
    // After a start or stop made elsewhere: the view follows the engine's state.
    void follow();
    // The engine command: stops a running engine, else starts it (a failure is told).
    void toggle();
    // Stops and starts again; false when it runs no more.
    bool restart();

private:
    void tellIfUntold();

    VLVSTHostInterface& host;
    EngineView& view;
    std::optional<bool> shown;
    bool inTick = false;
};

// The message for a device that stopped working.
std::wstring deviceFailedText(const std::wstring& deviceName);

}  // namespace vl::app
