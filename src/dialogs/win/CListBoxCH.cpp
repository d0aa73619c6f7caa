#include "dialogs/win/CListBoxCH.h"

#include <commctrl.h>

#include <cwchar>

namespace vl::dialogs {

namespace {
constexpr UINT_PTR kListSubclass = 1;
constexpr size_t kItemBlock = 10;
constexpr int kTextIndent = 18;
constexpr int kIconOffset = 1;
constexpr int kTextOffset = 2;
}  // namespace

CListBoxCH::~CListBoxCH() {
    if (list) RemoveWindowSubclass(list, &SubclassProc, kListSubclass);
}

void CListBoxCH::Attach(HWND control) {
    list = control;
    current = previous = -1;
    if (list) SetWindowSubclass(list, &SubclassProc, kListSubclass, reinterpret_cast<DWORD_PTR>(this));
}

int CListBoxCH::AddItem(const std::wstring& text, HICON icon, void* data) {
    auto item = std::make_unique<CExtItem>();
    wcsncpy(item->text, text.c_str(), 255);
    item->icon = icon;
    item->data = data;
    if (items.size() == items.capacity()) items.reserve(items.size() + kItemBlock);
    CExtItem* raw = item.get();
    items.push_back(std::move(item));
    const int index = static_cast<int>(SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(raw->text)));
    if (index >= 0) SendMessageW(list, LB_SETITEMDATA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(raw));
    return index;
}

void CListBoxCH::SetItemIcon(int index, HICON icon) {
    if (index < 0 || index >= static_cast<int>(items.size())) return;
    items[static_cast<size_t>(index)]->icon = icon;
    InvalidateEntry(index);
    InvalidateEntry(current);
}

HICON CListBoxCH::ItemIcon(int index) const {
    return index >= 0 && index < static_cast<int>(items.size()) ? items[static_cast<size_t>(index)]->icon : nullptr;
}

void CListBoxCH::SetCurrent(int index) {
    current = index;
    RepaintChange();
}

void CListBoxCH::Measure(MEASUREITEMSTRUCT& measure) const {
    measure.itemWidth = kItemWidth;
    measure.itemHeight = kItemHeight;
}

void CListBoxCH::DrawEntry(HDC dc, RECT rect, const CExtItem& item, bool selected) const {
    if (selected) {
        HBRUSH frame = CreateSolidBrush(RGB(0, 0, 0));
        FrameRect(dc, &rect, frame);
        DeleteObject(frame);
        InflateRect(&rect, -1, -1);
    }
    HBRUSH fill = CreateSolidBrush(selected ? kSelectionColour : kBackgroundColour);
    FillRect(dc, &rect, fill);
    DeleteObject(fill);
    if (sunkenEdge) DrawEdge(dc, &rect, EDGE_SUNKEN, BF_BOTTOM);
    if (item.icon) {
        DrawIconEx(dc, rect.left + kIconOffset, rect.top + kIconOffset, item.icon, kIconSize, kIconSize, 0, nullptr,
                   DI_NORMAL);
    }
    RECT text = rect;
    text.left += kTextIndent;
    OffsetRect(&text, kTextOffset, kTextOffset);
    SetTextColor(dc, selected ? kSelectedTextColour : RGB(0, 0, 0));
    DrawTextW(dc, item.text, -1, &text, DT_SINGLELINE | DT_NOPREFIX);
}

void CListBoxCH::Draw(const DRAWITEMSTRUCT& draw) const {
    if (draw.itemID == static_cast<UINT>(-1)) return;
    const auto* item = reinterpret_cast<const CExtItem*>(draw.itemData);
    if (!item) return;
    SetBkMode(draw.hDC, TRANSPARENT);
    const bool whole = (draw.itemAction & ODA_DRAWENTIRE) != 0;
    const bool selectionChanged = (draw.itemAction & ODA_SELECT) != 0;
    const bool selected = (draw.itemState & ODS_SELECTED) != 0;
    if (whole || (!selected && selectionChanged)) DrawEntry(draw.hDC, draw.rcItem, *item, false);
    if (selected && (whole || selectionChanged)) DrawEntry(draw.hDC, draw.rcItem, *item, true);
}

LRESULT CListBoxCH::KeyToItem(int index) {
    current = index;
    SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
    RepaintChange();
    // The key is handled here; -1 would let the list move its caret itself.
    return index < 0 ? -2 : index;
}

void CListBoxCH::InvalidateEntry(int index) {
    RECT rect{};
    if (index >= 0 && SendMessageW(list, LB_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&rect)) != LB_ERR)
        InvalidateRect(list, &rect, TRUE);
}

void CListBoxCH::RepaintChange() {
    if (previous == current) return;
    InvalidateEntry(previous);
    InvalidateEntry(current);
    previous = current;
}

LRESULT CALLBACK CListBoxCH::SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                          DWORD_PTR data) {
    auto* self = reinterpret_cast<CListBoxCH*>(data);
    if (message == WM_LBUTTONUP) {
        // The entry under the pointer, or the nearest one below the last.
        const LRESULT hit = SendMessageW(window, LB_ITEMFROMPOINT, 0, lParam);
        const int count = static_cast<int>(SendMessageW(window, LB_GETCOUNT, 0, 0));
        self->current = count > 0 ? static_cast<int>(LOWORD(hit)) : -1;
        self->RepaintChange();
    } else if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(window, &SubclassProc, kListSubclass);
        self->list = nullptr;
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

}  // namespace vl::dialogs
