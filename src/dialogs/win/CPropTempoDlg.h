#pragma once
// CPropTempoDlg: the modeless "Tempo" window. The tempo is typed, stepped with the spin, dragged
// with the mouse on the number (CTemboBox) or tapped; TempoModel decides every value and hands
// it to the coordinator.

#include <windows.h>

#include "dialogs/models/TempoModel.h"
#include "platform/win/ModelessWindow.h"

namespace vl::dialogs {

class CPropTempoDlg;

// The tempo edit: besides editing as usual, a press on the whole beats or on the decimals
// followed by mouse moves steps the tempo up or down, one step per move.
class CTemboBox {
public:
    explicit CTemboBox(CPropTempoDlg& owner) : owner(owner) {}
    ~CTemboBox() { Detach(); }
    void Attach(HWND edit);
    void Detach();

private:
    static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                         DWORD_PTR data);
    CPropTempoDlg& owner;
    HWND edit = nullptr;
};

class CPropTempoDlg final : public platform::ModelessWindow {
public:
    CPropTempoDlg(VLVSTHostInterface& host, HostSettings& settings, platform::MessageSink* messages);

protected:
    BOOL OnInitDialog() override;
    bool OnCommand(WORD id, WORD code, HWND control) override;
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;
    void OnOK() override;  // the Close button

private:
    friend class CTemboBox;
    // The edit's text into the model, silently (a half-typed number is left as it is).
    void ReadValue();
    void ShowValue();

    TempoModel model;
    CTemboBox temboBox{*this};
};

}  // namespace vl::dialogs
