#pragma once
// PluginWindow: the child window (control IDC_PLUGINWINDOW, class "PluginWndCtrl") in which
// the plug-in opens its editor. Its 40 ms timer drives the editor's idle calls and, while the
// audio engine runs, the main window's status caption.

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "app/AppRules.h"

namespace vl {
class PluginSlot;
class VLVSTHostInterface;
}  // namespace vl

namespace vl::app {

constexpr wchar_t kPluginWindowClass[] = L"PluginWndCtrl";
constexpr UINT_PTR kEditorTimerId = 1;
constexpr UINT kEditorTimerMs = 40;

class GenericEditorWindow;

// Registers a child window class of the editor's kind (arrow cursor, dialog background, the
// default window procedure) unless it exists; throws std::runtime_error when it cannot.
void registerChildClass(const wchar_t* name, UINT style);

// The editor extent used by both windows; the slot's default size without a rectangle, and
// the generic editor's for a plug-in without an editor of its own.
EditorExtent editorExtentOf(PluginSlot& slot);

class PluginWindow {
public:
    // Registers the window class unless it exists; throws std::runtime_error when it cannot.
    PluginWindow();
    ~PluginWindow();
    PluginWindow(const PluginWindow&) = delete;
    PluginWindow& operator=(const PluginWindow&) = delete;

    // Takes over the dialog's control (data exchange).
    void Attach(HWND control);
    HWND hwnd() const { return hwnd_; }

    // Timer, size and effEditOpen (for a plug-in without an editor the generic one instead);
    // false when an argument is missing or the editor refused.
    bool SetupEditor(PluginSlot* slot, VLVSTHostInterface* host, HWND mainWindow);

    // The name at the head of the status caption (the effect name unless set otherwise).
    void SetCaptionName(const std::wstring& name) { effectName_ = name; }

    // Set by the shut-down before effEditClose: no idle call or caption after it.
    bool editorClosing = false;
    // Run at every tick before the caption is written (the main window follows the engine).
    std::function<void()> onTick;

    // Calls that the timer made (for the tests' idle-rate check).
    unsigned long idleCalls() const { return idleCalls_; }
    bool showsGenericEditor() const { return generic_ != nullptr; }

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void OnTimer(UINT_PTR id);

    HWND hwnd_ = nullptr;
    WNDPROC previousProc_ = nullptr;
    PluginSlot* slot_ = nullptr;
    VLVSTHostInterface* host_ = nullptr;
    HWND mainWindow_ = nullptr;
    std::wstring effectName_;
    unsigned long idleCalls_ = 0;
    std::unique_ptr<GenericEditorWindow> generic_;
};

}  // namespace vl::app
