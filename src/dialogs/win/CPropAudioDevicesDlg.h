#pragma once
// CPropAudioDevicesDlg: the modeless "Audio Settings" window. AudioSettingsModel holds the
// choices and hands them to the back ends' device records and the engine on Apply; the window
// binds the type, device and channel lists, the buffer-size edits and spins and the buttons.

#include <windows.h>

#include "dialogs/models/AudioSettingsModel.h"
#include "platform/win/ModelessWindow.h"

namespace vl {
class VLASIO;
}

namespace vl::dialogs {

class CPropAudioDevicesDlg final : public platform::ModelessWindow {
public:
    CPropAudioDevicesDlg(AudioBackendSet& backends, HostSettings& settings, VLVSTHostInterface& host,
                         bool takesNoAudioInput, bool applyEnabledAtStart, platform::MessageSink* messages);
    // A driver loaded for its control panel goes with the window.
    ~CPropAudioDevicesDlg() override;

protected:
    BOOL OnInitDialog() override;
    bool OnCommand(WORD id, WORD code, HWND control) override;
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;
    void OnOK() override;

private:
    // Brings every control up to date; the edit being typed in keeps its text.
    void ShowControls(int typingIn = 0);
    // Apply (or OK when closing) with the wait cursor; true when the new choice runs.
    bool Apply(bool closing);

    AudioSettingsModel model;
    VLASIO* asio = nullptr;  // the one family with a control panel
};

}  // namespace vl::dialogs
