#pragma once
// CListBoxCH: an owner-drawn list box whose entries show a 16 x 16 icon and a name, 18 pixels
// high, the selected one framed and filled in the selection colour. It keeps the entry the user
// last chose (currentIndex) and repaints the entries whose state changed.

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

namespace vl::dialogs {

struct CExtItem {
    wchar_t text[256] = {};
    HICON icon = nullptr;
    void* data = nullptr;
};

class CListBoxCH {
public:
    static constexpr int kItemWidth = 100;
    static constexpr int kItemHeight = 18;
    static constexpr int kIconSize = 16;
    static constexpr COLORREF kSelectionColour = 0xFF9933;  // red 51, green 153, blue 255
    static constexpr COLORREF kBackgroundColour = RGB(255, 255, 255);
    static constexpr COLORREF kSelectedTextColour = RGB(255, 255, 255);

    CListBoxCH() = default;
    ~CListBoxCH();
    CListBoxCH(const CListBoxCH&) = delete;
    CListBoxCH& operator=(const CListBoxCH&) = delete;

    void Attach(HWND list);
    HWND handle() const { return list; }
    int AddItem(const std::wstring& text, HICON icon, void* data);
    void SetItemIcon(int index, HICON icon);
    HICON ItemIcon(int index) const;
    int currentIndex() const { return current; }
    // The entry chosen by other means (the list's own selection): becomes the current one.
    void SetCurrent(int index);

    // Messages the list box sends to its owner, passed on by the dialog.
    void Measure(MEASUREITEMSTRUCT& measure) const;
    void Draw(const DRAWITEMSTRUCT& draw) const;
    // WM_VKEYTOITEM with the new current index the dialog decided; answers the message's result.
    LRESULT KeyToItem(int index);

private:
    static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                         DWORD_PTR data);
    void DrawEntry(HDC dc, RECT rect, const CExtItem& item, bool selected) const;
    void RepaintChange();
    void InvalidateEntry(int index);

    HWND list = nullptr;
    std::vector<std::unique_ptr<CExtItem>> items;
    bool sunkenEdge = false;
    int current = -1;
    int previous = -1;
};

}  // namespace vl::dialogs
