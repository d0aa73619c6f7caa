#include "app/win/GenericEditorWindow.h"

#include <commctrl.h>

#include <algorithm>
#include <stdexcept>

#include "app/win/PluginWindow.h"
#include "dialogs/models/GenericEditorModel.h"
#include "host/PluginSlot.h"
#include "platform/Text.h"

namespace vl::app {

namespace {

// The toolkit's sizes of a row, the program line and the margins, in pixels.
constexpr GenericEditorMetrics kMetrics{26, 28, 8};
constexpr int kNameWidth = 150;
constexpr int kValueWidth = 100;
constexpr int kGap = 6;
constexpr int kNoParametersId = kGenericFirstRowId - 1;
constexpr int kDropDownHeight = 300;

std::wstring pluginText(const std::string& text) { return platform::ansiToWide(text); }

int shownRowsFor(size_t rows) { return static_cast<int>(std::min<size_t>(rows, kGenericVisibleRows)); }

}  // namespace

EditorExtent genericEditorExtent(PluginSlot& slot) {
    const int rows = slot.effect ? std::max(slot.effect->numParams, 0) : 0;
    // A plug-in without parameters still gets its line that says so.
    const GenericEditorSize size = genericEditorSize(std::max(shownRowsFor(static_cast<size_t>(rows)), 1), kMetrics);
    const int scrollBar = size.scrolls || rows > kGenericVisibleRows ? GetSystemMetrics(SM_CXVSCROLL) : 0;
    return {static_cast<int16_t>(size.width + scrollBar), static_cast<int16_t>(size.height)};
}

GenericEditorWindow::GenericEditorWindow(PluginSlot& slot, BetweenBlocks between, HWND parent)
    : model_(std::make_unique<GenericEditorModel>(slot)), between_(std::move(between)) {
    registerChildClass(kGenericEditorClass, CS_VREDRAW | CS_HREDRAW);
    // Its own extent at the top left: the editor window may be larger than the editor it holds.
    const EditorExtent extent = genericEditorExtent(slot);
    const bool scrolls = model_->rows().size() > static_cast<size_t>(kGenericVisibleRows);
    hwnd_ = CreateWindowExW(WS_EX_CONTROLPARENT, kGenericEditorClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | (scrolls ? WS_VSCROLL : 0),
                            0, 0, extent.right, extent.bottom, parent, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!hwnd_) throw std::runtime_error("the generic editor's window could not be made");
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&GenericEditorWindow::WindowProc));
    HWND dialog = GetAncestor(parent, GA_ROOT);
    font_ = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
    if (!font_) font_ = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    createControls();
    layout();
    showRows();
    if (scrolls) scrollTo(0);
}

GenericEditorWindow::~GenericEditorWindow() {
    if (hwnd_ && IsWindow(hwnd_)) {
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);
    }
}

void GenericEditorWindow::createControls() {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    auto make = [&](const wchar_t* className, DWORD style, int id, const wchar_t* text = L"") {
        HWND control = CreateWindowExW(0, className, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 10, 10, hwnd_,
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
        return control;
    };
    programLabel_ = make(L"STATIC", SS_LEFT | SS_CENTERIMAGE, kGenericProgramsId - 1, L"Program:");
    programs_ = make(WC_COMBOBOXW, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, kGenericProgramsId);
    shownRows_ = shownRowsFor(model_->rows().size());
    for (int shown = 0; shown < shownRows_; ++shown) {
        make(L"STATIC", SS_LEFT | SS_CENTERIMAGE | SS_ENDELLIPSIS | SS_NOPREFIX, genericNameId(shown));
        HWND slider = make(TRACKBAR_CLASSW, TBS_HORZ | TBS_NOTICKS | WS_TABSTOP, genericSliderId(shown));
        SendMessageW(slider, TBM_SETRANGEMIN, FALSE, 0);
        SendMessageW(slider, TBM_SETRANGEMAX, FALSE, kSliderSteps);
        SendMessageW(slider, TBM_SETLINESIZE, 0, kSliderSteps / 100);
        SendMessageW(slider, TBM_SETPAGESIZE, 0, kSliderSteps / 10);
        make(L"STATIC", SS_LEFT | SS_CENTERIMAGE | SS_NOPREFIX, genericValueId(shown));
    }
    if (shownRows_ == 0) make(L"STATIC", SS_LEFT | SS_CENTERIMAGE, kNoParametersId, L"This plug-in has no parameters to show.");
    EnableWindow(programs_, FALSE);  // until the programs are read
}

void GenericEditorWindow::layout() {
    RECT client{};
    GetClientRect(hwnd_, &client);
    const int m = kMetrics.margin;
    const int width = std::max<int>(client.right - 2 * m, kNameWidth + kValueWidth + 2 * kGap + 40);
    constexpr int kLabelWidth = 60;
    MoveWindow(programLabel_, m, m, kLabelWidth, kMetrics.programHeight, FALSE);
    MoveWindow(programs_, m + kLabelWidth, m + 2, width - kLabelWidth, kDropDownHeight, FALSE);
    const int top = m + kMetrics.programHeight + m;
    const int sliderX = m + kNameWidth + kGap;
    const int sliderWidth = width - kNameWidth - kValueWidth - 2 * kGap;
    for (int shown = 0; shown < shownRows_; ++shown) {
        const int y = top + shown * kMetrics.rowHeight;
        MoveWindow(GetDlgItem(hwnd_, genericNameId(shown)), m, y, kNameWidth, kMetrics.rowHeight, FALSE);
        MoveWindow(GetDlgItem(hwnd_, genericSliderId(shown)), sliderX, y, sliderWidth, kMetrics.rowHeight, FALSE);
        MoveWindow(GetDlgItem(hwnd_, genericValueId(shown)), sliderX + sliderWidth + kGap, y, kValueWidth,
                   kMetrics.rowHeight, FALSE);
    }
    if (HWND none = GetDlgItem(hwnd_, kNoParametersId)) MoveWindow(none, m, top, width, kMetrics.rowHeight, FALSE);
    InvalidateRect(hwnd_, nullptr, TRUE);
}

void GenericEditorWindow::showRow(int shown) {
    const size_t row = static_cast<size_t>(first_ + shown);
    if (shown < 0 || shown >= shownRows_ || row >= model_->rows().size()) return;
    const GenericParameterRow& parameter = model_->rows()[row];
    SetDlgItemTextW(hwnd_, genericNameId(shown), pluginText(parameter.name).c_str());
    HWND slider = GetDlgItem(hwnd_, genericSliderId(shown));
    // The trackbar the user drags keeps the place of the mouse.
    if (GetCapture() != slider) SendMessageW(slider, TBM_SETPOS, TRUE, parameter.position());
    SetDlgItemTextW(hwnd_, genericValueId(shown), pluginText(parameter.valueText()).c_str());
}

void GenericEditorWindow::showRows() {
    for (int shown = 0; shown < shownRows_; ++shown) showRow(shown);
}

void GenericEditorWindow::scrollTo(int first) {
    const int rows = static_cast<int>(model_->rows().size());
    first_ = std::clamp(first, 0, std::max(rows - shownRows_, 0));
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
    info.nMin = 0;
    info.nMax = std::max(rows - 1, 0);
    info.nPage = static_cast<UINT>(shownRows_);
    info.nPos = first_;
    SetScrollInfo(hwnd_, SB_VERT, &info, TRUE);
    showRows();
}

void GenericEditorWindow::onSlider(HWND slider) {
    const int id = GetDlgCtrlID(slider);
    if (id < kGenericFirstRowId || (id - kGenericFirstRowId) % 3 != 1) return;
    const int shown = (id - kGenericFirstRowId) / 3;
    const size_t row = static_cast<size_t>(first_ + shown);
    if (shown >= shownRows_ || row >= model_->rows().size()) return;
    const int position = static_cast<int>(SendMessageW(slider, TBM_GETPOS, 0, 0));
    if (position == model_->rows()[row].position()) return;
    model_->setPosition(row, position);
    SetDlgItemTextW(hwnd_, genericValueId(shown), pluginText(model_->rows()[row].valueText()).c_str());
}

void GenericEditorWindow::fillPrograms() {
    SendMessageW(programs_, CB_RESETCONTENT, 0, 0);
    for (const std::string& name : model_->programs())
        SendMessageW(programs_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(pluginText(name).c_str()));
    const int current = model_->currentProgram();
    const int count = static_cast<int>(model_->programs().size());
    SendMessageW(programs_, CB_SETCURSEL, current >= 0 && current < count ? current : -1, 0);
    EnableWindow(programs_, count > 0);
}

void GenericEditorWindow::refresh() {
    if (!model_->programsLoaded()) {
        model_->loadPrograms(between_);
        fillPrograms();
    }
    const GenericEditorModel::Changes changes = model_->refresh();
    for (size_t row : changes.rows) showRow(static_cast<int>(row) - first_);
    if (changes.program) fillPrograms();
}

LRESULT CALLBACK GenericEditorWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<GenericEditorWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) return DefWindowProcW(hwnd, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        self->hwnd_ = nullptr;
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    return self->OnMessage(message, wParam, lParam);
}

LRESULT GenericEditorWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_HSCROLL:
            if (lParam) onSlider(reinterpret_cast<HWND>(lParam));
            return 0;
        case WM_VSCROLL: {
            SCROLLINFO info{};
            info.cbSize = sizeof info;
            info.fMask = SIF_ALL;
            GetScrollInfo(hwnd_, SB_VERT, &info);
            int first = first_;
            switch (LOWORD(wParam)) {
                case SB_LINEUP: first -= 1; break;
                case SB_LINEDOWN: first += 1; break;
                case SB_PAGEUP: first -= shownRows_; break;
                case SB_PAGEDOWN: first += shownRows_; break;
                case SB_THUMBTRACK:
                case SB_THUMBPOSITION: first = info.nTrackPos; break;
                case SB_TOP: first = 0; break;
                case SB_BOTTOM: first = static_cast<int>(model_->rows().size()); break;
                default: return 0;
            }
            scrollTo(first);
            return 0;
        }
        case WM_MOUSEWHEEL:
            if (GetWindowLongPtrW(hwnd_, GWL_STYLE) & WS_VSCROLL)
                scrollTo(first_ - 3 * GET_WHEEL_DELTA_WPARAM(wParam) / WHEEL_DELTA);
            return 0;
        case WM_COMMAND:
            if (LOWORD(wParam) == kGenericProgramsId && HIWORD(wParam) == CBN_DROPDOWN) {
                if (model_->rereadProgramNames(between_)) fillPrograms();
                return 0;
            }
            if (LOWORD(wParam) == kGenericProgramsId && HIWORD(wParam) == CBN_SELCHANGE) {
                const int index = static_cast<int>(SendMessageW(programs_, CB_GETCURSEL, 0, 0));
                if (index >= 0 && model_->chooseProgram(index, between_)) showRows();
                fillPrograms();
                return 0;
            }
            break;
        case WM_CTLCOLORSTATIC:
            SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_BTNFACE));
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
        default: break;
    }
    return DefWindowProcW(hwnd_, message, wParam, lParam);
}

}  // namespace vl::app
