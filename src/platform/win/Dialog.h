#pragma once
// A small dialog layer over the Win32 dialog manager: one static dialog procedure forwarding
// to virtual handlers, modal runs in our own message loop (key messages pass the main window's
// pre-translation first, then IsDialogMessageW of the dialog they belong to), modeless dialogs
// kept at most once each, and the numeric data exchange of edit controls.

#include <windows.h>

#include <string>

namespace vl::platform {

class Dialog {
public:
    explicit Dialog(UINT templateId) : templateId_(templateId) {}
    virtual ~Dialog();
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    HWND hwnd() const { return hwnd_; }

    // Creates the dialog and runs it in our own message loop until EndDialog; the owner (if
    // any) is disabled meanwhile. Answers the code given to EndDialog, -1 when the dialog
    // could not be created.
    INT_PTR RunModal(HWND owner);
    // Runs the dialog modally through the system's dialog box loop (for small boxes that need
    // no pre-translation).
    INT_PTR RunSystemModal(HWND owner);
    // Creates the dialog modeless; it destroys itself when closed and then calls OnDestroyed
    // (where an owner clears its pointer to it).
    bool CreateModeless(HWND owner);
    void EndDialog(INT_PTR code);

    // The application-wide pre-translation: the main window's turn (see SetMainWindow).
    static void SetMainWindow(Dialog* dialog) { mainWindow_ = dialog; }
    static Dialog* MainWindow() { return mainWindow_; }

protected:
    virtual BOOL OnInitDialog() { return TRUE; }
    // A WM_COMMAND; true when handled.
    virtual bool OnCommand(WORD id, WORD code, HWND control);
    // Any other message; set handled and answer the result.
    virtual INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled);
    // Key messages of the thread, before the dialog manager; true = swallowed.
    virtual bool PreTranslateMessage(MSG& message) { return false; }
    // Whether the dialog manager handles this dialog's keys (Tab, Enter, Esc, mnemonics).
    virtual bool UsesDialogKeys() const { return true; }
    // The dialog's default actions (Enter, Esc, close box); they end the dialog.
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }
    virtual void OnDestroyed() {}

    // Numeric data exchange: reads an edit control; on a bad number shows "Enter an integer."
    // or "Enter a number.", puts the focus back on the control and answers false.
    bool ExchangeInteger(int controlId, int& value);
    bool ExchangeNumber(int controlId, double& value);

    void SetItemText(int controlId, const std::wstring& text);
    std::wstring ItemText(int controlId) const;

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static bool RouteThroughDialogs(MSG& message);
    void failExchange(int controlId, const wchar_t* text);

    UINT templateId_;
    HWND hwnd_ = nullptr;
    bool modeless_ = false;
    bool modalRunning_ = false;
    bool systemModal_ = false;
    bool ended_ = false;
    INT_PTR endCode_ = 0;

    static Dialog* mainWindow_;
};

}  // namespace vl::platform
