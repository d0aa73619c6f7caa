#include "platform/win/ModelessWindow.h"

#include <commctrl.h>

namespace vl::platform {

MessageAnswer OwnedMessageSink::show(const UserMessage& message) {
    if (!target) return MessageAnswer::Ok;
    UserMessage owned = message;
    if (!owned.owner && owner && owner->hwnd()) owned.owner = owner->hwnd();
    return target->show(owned);
}

void ModelessWindow::OnDestroyed() {
    if (onClosed) onClosed();
    delete this;
}

void ModelessWindow::ShowText(int id, const std::wstring& text) {
    if (ItemText(id) == text) return;
    updating = true;
    SetItemText(id, text);
    updating = false;
}

void ModelessWindow::ShowCheck(int id, bool on) {
    CheckDlgButton(hwnd(), id, on ? BST_CHECKED : BST_UNCHECKED);
}

void ModelessWindow::ShowEnabled(int id, bool on) {
    HWND control = GetDlgItem(hwnd(), id);
    if (control && (IsWindowEnabled(control) != FALSE) != on) EnableWindow(control, on);
}

void ModelessWindow::ShowSelection(int id, int index) {
    if (Selection(id) != index) SendDlgItemMessageW(hwnd(), id, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

bool ModelessWindow::Checked(int id) const { return IsDlgButtonChecked(hwnd(), id) == BST_CHECKED; }

int ModelessWindow::Selection(int id) const {
    return static_cast<int>(SendDlgItemMessageW(hwnd(), id, CB_GETCURSEL, 0, 0));
}

void ModelessWindow::FillList(int id, int count, const std::function<std::wstring(int)>& text) {
    SendDlgItemMessageW(hwnd(), id, CB_RESETCONTENT, 0, 0);
    for (int i = 0; i < count; ++i) {
        const std::wstring entry = text(i);
        SendDlgItemMessageW(hwnd(), id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
    }
}

std::vector<std::wstring> ModelessWindow::ListEntries(int id) const {
    std::vector<std::wstring> entries;
    const int count = static_cast<int>(SendDlgItemMessageW(hwnd(), id, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        const LRESULT length = SendDlgItemMessageW(hwnd(), id, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
        std::wstring text(static_cast<size_t>(length < 0 ? 0 : length) + 1, L'\0');
        SendDlgItemMessageW(hwnd(), id, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text.data()));
        text.resize(wcslen(text.c_str()));
        entries.push_back(text);
    }
    return entries;
}

void ModelessWindow::ShowList(int id, const std::vector<std::wstring>& entries, int selected) {
    if (ListEntries(id) != entries) {
        FillList(id, static_cast<int>(entries.size()), [&](int i) { return entries[static_cast<size_t>(i)]; });
    }
    ShowSelection(id, selected);
}

int ModelessWindow::UpSteps(LPARAM notification, int spinId) {
    const auto* header = reinterpret_cast<const NMHDR*>(notification);
    if (static_cast<int>(header->idFrom) != spinId || header->code != UDN_DELTAPOS) return 0;
    return -reinterpret_cast<const NMUPDOWN*>(notification)->iDelta;
}

}  // namespace vl::platform
