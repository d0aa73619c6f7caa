#pragma once
// CPropMidiDevicesDlg: the modeless "Midi Settings" window. MidiSettingsModel edits the live
// MIDI device records; the window binds the input list (CListBoxCH with state icons), the option
// boxes, the delay spin, the channel / keyboard range lists and the output list to it.

#include <windows.h>

#include "dialogs/models/MidiSettingsModel.h"
#include "dialogs/win/CListBoxCH.h"
#include "platform/win/ModelessWindow.h"

namespace vl::dialogs {

class CPropMidiDevicesDlg final : public platform::ModelessWindow {
public:
    CPropMidiDevicesDlg(VLVSTHostInterface& host, VLMidiBase& midi, HostSettings& settings,
                        MidiCapabilities capabilities, platform::MessageSink* messages);

protected:
    BOOL OnInitDialog() override;
    bool OnCommand(WORD id, WORD code, HWND control) override;
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;
    void OnOK() override;
    void OnCancel() override;

private:
    HICON StateIcon(MidiStateIcon icon) const;
    void ShowOptions();
    void ShowIcons();

    MidiSettingsModel model;
    CListBoxCH inputList;
};

}  // namespace vl::dialogs
