#include "app/win/PluginWindow.h"

#include <stdexcept>

#include "app/win/GenericEditorWindow.h"
#include "dialogs/models/GenericEditorModel.h"
#include "host/PluginSlot.h"
#include "host/VLVSTHostInterface.h"

namespace vl::app {

EditorExtent editorExtentOf(PluginSlot& slot) {
    if (needsGenericEditor(slot)) return genericEditorExtent(slot);
    if (auto rect = slot.editGetRect()) return {rect->right, rect->bottom};
    return {static_cast<int16_t>(kDefaultEditorWidth), static_cast<int16_t>(kDefaultEditorHeight)};
}

void registerChildClass(const wchar_t* name, UINT style) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW existing{};
    if (GetClassInfoW(instance, name, &existing)) return;
    WNDCLASSW windowClass{};
    windowClass.style = style;
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = name;
    if (!RegisterClassW(&windowClass)) throw std::runtime_error("the editor window class could not be registered");
}

PluginWindow::PluginWindow() { registerChildClass(kPluginWindowClass, CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS); }

PluginWindow::~PluginWindow() {
    if (hwnd_ && IsWindow(hwnd_)) {
        KillTimer(hwnd_, kEditorTimerId);
        SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previousProc_));
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    }
}

void PluginWindow::Attach(HWND control) {
    if (!control || hwnd_) return;
    hwnd_ = control;
    SetWindowLongPtrW(control, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    previousProc_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&PluginWindow::WindowProc)));
}

LRESULT CALLBACK PluginWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<PluginWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) return DefWindowProcW(hwnd, message, wParam, lParam);
    WNDPROC previous = self->previousProc_;
    if (message == WM_TIMER) {
        self->OnTimer(wParam);
        return 0;
    }
    if (message == WM_NCDESTROY) {
        self->generic_.reset();
        KillTimer(hwnd, kEditorTimerId);
        SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        self->hwnd_ = nullptr;
    }
    return CallWindowProcW(previous, hwnd, message, wParam, lParam);
}

bool PluginWindow::SetupEditor(PluginSlot* slot, VLVSTHostInterface* host, HWND mainWindow) {
    if (!slot || !host || !mainWindow || !hwnd_) return false;
    slot_ = slot;
    host_ = host;
    mainWindow_ = mainWindow;
    effectName_ = slot->effectNameWide();

    SetTimer(hwnd_, kEditorTimerId, kEditorTimerMs, nullptr);

    const EditorExtent editor = editorExtentOf(*slot);
    RECT client{};
    GetClientRect(hwnd_, &client);
    const Placement placed =
        editorWindowPlacement(Rect{client.left, client.top, client.right, client.bottom}, editor);
    MoveWindow(hwnd_, placed.x, placed.y, placed.width, placed.height, TRUE);

    if (needsGenericEditor(*slot)) {
        // The host's own rows of parameters; Tab moves between its controls.
        SetWindowLongPtrW(hwnd_, GWL_EXSTYLE, GetWindowLongPtrW(hwnd_, GWL_EXSTYLE) | WS_EX_CONTROLPARENT);
        try {
            generic_ = std::make_unique<GenericEditorWindow>(*slot, host->betweenBlocks(), hwnd_);
        } catch (const std::exception&) {
            return false;  // no windows left to make: the host plays on without the rows
        }
        return true;
    }
    return slot->editOpen(hwnd_);
}

void PluginWindow::OnTimer(UINT_PTR id) {
    if (id != kEditorTimerId || editorClosing || !slot_) return;
    if (generic_) generic_->refresh();
    else slot_->editIdle();
    ++idleCalls_;
    // A tempo the plug-in set is written to the settings here, on the user-interface thread.
    host_->SavePendingTempo();
    if (onTick) onTick();
    if (editorClosing) return;  // the tick may have ended the host
    if (host_->engineRunning.load(std::memory_order_acquire)) {
        const std::wstring caption =
            statusCaption(effectName_, host_->tempo.load(std::memory_order_acquire), host_->cpuPercent.get());
        SetWindowTextW(mainWindow_, caption.c_str());
    }
}

}  // namespace vl::app
