#include "platform/win/Dialog.h"

#include <cerrno>
#include <climits>
#include <cwchar>
#include <vector>

namespace vl::platform {

Dialog* Dialog::mainWindow_ = nullptr;

namespace {

// Open dialogs of this thread, for the routing of keys to the dialog manager.
std::vector<Dialog*>& openDialogs() {
    static std::vector<Dialog*> dialogs;
    return dialogs;
}

bool isKeyMessage(UINT message) { return message >= WM_KEYFIRST && message <= WM_KEYLAST; }

bool answersDirectly(UINT message) {
    switch (message) {
        case WM_CHARTOITEM:
        case WM_COMPAREITEM:
        case WM_VKEYTOITEM:
        case WM_QUERYDRAGICON:
        case WM_CTLCOLORMSGBOX:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSCROLLBAR:
        case WM_CTLCOLORSTATIC: return true;
        default: return false;
    }
}

}  // namespace

Dialog::~Dialog() {
    if (hwnd_) {
        SetWindowLongPtrW(hwnd_, DWLP_USER, 0);
        DestroyWindow(hwnd_);
    }
    std::erase(openDialogs(), this);
    if (mainWindow_ == this) mainWindow_ = nullptr;
}

INT_PTR CALLBACK Dialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Dialog* self = nullptr;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<Dialog*>(lParam);
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        self->hwnd_ = hwnd;
        openDialogs().push_back(self);
        return self->OnInitDialog();
    }
    self = reinterpret_cast<Dialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    if (!self) return FALSE;

    switch (message) {
        case WM_COMMAND: {
            const WORD id = LOWORD(wParam);
            if (self->OnCommand(id, HIWORD(wParam), reinterpret_cast<HWND>(lParam))) return TRUE;
            if (id == IDOK) {
                self->OnOK();
                return TRUE;
            }
            if (id == IDCANCEL) {
                self->OnCancel();
                return TRUE;
            }
            return FALSE;
        }
        case WM_CLOSE:
            self->OnCancel();
            return TRUE;
        case WM_NCDESTROY: {
            std::erase(openDialogs(), self);
            self->hwnd_ = nullptr;
            SetWindowLongPtrW(hwnd, DWLP_USER, 0);
            if (self->modeless_) self->OnDestroyed();  // may delete the object
            return FALSE;
        }
        default: {
            bool handled = false;
            const INT_PTR result = self->OnMessage(message, wParam, lParam, handled);
            if (!handled) return FALSE;
            // A few messages take the dialog procedure's own return value as their answer
            // (a list box's key-to-item index, a brush, a drag icon); the rest read it from
            // DWLP_MSGRESULT.
            if (answersDirectly(message)) return result;
            SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, result);
            return TRUE;
        }
    }
}

bool Dialog::OnCommand(WORD, WORD, HWND) { return false; }

INT_PTR Dialog::OnMessage(UINT, WPARAM, LPARAM, bool& handled) {
    handled = false;
    return 0;
}

bool Dialog::RouteThroughDialogs(MSG& message) {
    if (isKeyMessage(message.message) && mainWindow_ && mainWindow_->PreTranslateMessage(message)) return true;
    for (Dialog* dialog : openDialogs()) {
        HWND window = dialog->hwnd_;
        if (window && (message.hwnd == window || IsChild(window, message.hwnd))) {
            return dialog->UsesDialogKeys() && IsDialogMessageW(window, &message) != FALSE;
        }
    }
    return false;
}

INT_PTR Dialog::RunModal(HWND owner) {
    HWND created = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(templateId_), owner, &DialogProc,
                                      reinterpret_cast<LPARAM>(this));
    if (!created) return -1;
    modalRunning_ = true;
    const bool ownerEnabled = owner && IsWindowEnabled(owner);
    if (ownerEnabled) EnableWindow(owner, FALSE);
    if (!ended_) {
        ShowWindow(created, SW_SHOW);
        UpdateWindow(created);
    }
    MSG message;
    while (!ended_) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0) {
            PostQuitMessage(static_cast<int>(message.wParam));  // leave the quit for the outer loop
            break;
        }
        if (got < 0) break;
        if (RouteThroughDialogs(message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    // Left without EndDialog (a quit message): the default action still runs before the
    // window goes away.
    if (!ended_ && hwnd_) OnCancel();
    if (ownerEnabled) EnableWindow(owner, TRUE);
    modalRunning_ = false;
    if (hwnd_) DestroyWindow(hwnd_);
    return endCode_;
}

INT_PTR Dialog::RunSystemModal(HWND owner) {
    systemModal_ = true;
    return DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(templateId_), owner, &DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

bool Dialog::CreateModeless(HWND owner) {
    modeless_ = true;
    HWND created = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(templateId_), owner, &DialogProc,
                                      reinterpret_cast<LPARAM>(this));
    if (!created) return false;
    ShowWindow(created, SW_SHOW);
    return true;
}

void Dialog::EndDialog(INT_PTR code) {
    endCode_ = code;
    ended_ = true;
    if (!hwnd_) return;
    if (systemModal_) {
        ::EndDialog(hwnd_, code);
    } else if (modeless_) {
        DestroyWindow(hwnd_);
    } else {
        // Our own modal run (or its creation): the loop ends and destroys the window.
        ShowWindow(hwnd_, SW_HIDE);
        PostMessageW(hwnd_, WM_NULL, 0, 0);
    }
}

void Dialog::SetItemText(int controlId, const std::wstring& text) { SetDlgItemTextW(hwnd_, controlId, text.c_str()); }

std::wstring Dialog::ItemText(int controlId) const {
    HWND control = GetDlgItem(hwnd_, controlId);
    const int length = control ? GetWindowTextLengthW(control) : 0;
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    GetDlgItemTextW(hwnd_, controlId, text.data(), length + 1);
    text.resize(wcslen(text.c_str()));
    return text;
}

void Dialog::failExchange(int controlId, const wchar_t* text) {
    MessageBoxW(hwnd_, text, L"Error", MB_OK | MB_ICONEXCLAMATION);
    if (HWND control = GetDlgItem(hwnd_, controlId)) {
        SetFocus(control);
        SendMessageW(control, EM_SETSEL, 0, -1);
    }
}

bool Dialog::ExchangeInteger(int controlId, int& value) {
    const std::wstring text = ItemText(controlId);
    wchar_t* end = nullptr;
    errno = 0;
    const long parsed = std::wcstol(text.c_str(), &end, 10);
    while (end && *end == L' ') ++end;
    if (text.empty() || !end || *end != L'\0' || errno == ERANGE || parsed < INT_MIN || parsed > INT_MAX) {
        failExchange(controlId, L"Enter an integer.");
        return false;
    }
    value = static_cast<int>(parsed);
    return true;
}

bool Dialog::ExchangeNumber(int controlId, double& value) {
    const std::wstring text = ItemText(controlId);
    wchar_t* end = nullptr;
    errno = 0;
    const double parsed = std::wcstod(text.c_str(), &end);
    while (end && *end == L' ') ++end;
    if (text.empty() || !end || *end != L'\0' || errno == ERANGE) {
        failExchange(controlId, L"Enter a number.");
        return false;
    }
    value = parsed;
    return true;
}

}  // namespace vl::platform
