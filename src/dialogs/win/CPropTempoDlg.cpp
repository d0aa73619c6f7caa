#include "dialogs/win/CPropTempoDlg.h"

#include <commctrl.h>

#include "dialogs/models/DialogText.h"
#include "dialogs/win/TempoDlgIds.h"

namespace vl::dialogs {

namespace {
constexpr UINT_PTR kTemboBoxSubclass = 1;
}

void CTemboBox::Attach(HWND control) {
    edit = control;
    if (edit) SetWindowSubclass(edit, &SubclassProc, kTemboBoxSubclass, reinterpret_cast<DWORD_PTR>(this));
}

void CTemboBox::Detach() {
    if (edit) RemoveWindowSubclass(edit, &SubclassProc, kTemboBoxSubclass);
    edit = nullptr;
}

LRESULT CALLBACK CTemboBox::SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                         DWORD_PTR data) {
    auto* self = reinterpret_cast<CTemboBox*>(data);
    const int x = static_cast<short>(LOWORD(lParam));
    const int y = static_cast<short>(HIWORD(lParam));
    switch (message) {
        case WM_LBUTTONDOWN:
            self->owner.ReadValue();
            self->owner.model.beginDrag(x, y);
            break;  // the edit's own handling follows (caret, capture)
        case WM_MOUSEMOVE:
            if (self->owner.model.dragMode() != TempoModel::DragMode::None) {
                self->owner.ReadValue();
                self->owner.model.dragTo(y);
                self->owner.ShowValue();
            }
            break;
        case WM_LBUTTONUP: self->owner.model.endDrag(); break;
        // The capture went elsewhere (Alt+Tab, a box): the button-up will never come here.
        case WM_CAPTURECHANGED: self->owner.model.endDrag(); break;
        case WM_NCDESTROY: self->edit = nullptr; RemoveWindowSubclass(window, &SubclassProc, kTemboBoxSubclass); break;
        default: break;
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

CPropTempoDlg::CPropTempoDlg(VLVSTHostInterface& host, HostSettings& settings, platform::MessageSink* messages)
    : ModelessWindow(IDD_TEMPO, messages), model(host, settings) {}

BOOL CPropTempoDlg::OnInitDialog() {
    temboBox.Attach(GetDlgItem(hwnd(), IDC_TEMPO_VALUE));
    model.initialise();
    ShowValue();
    return TRUE;
}

void CPropTempoDlg::ReadValue() {
    updating = true;  // a text the model rounds is shown back without another round trip
    model.typed(ItemText(IDC_TEMPO_VALUE));
    updating = false;
}

void CPropTempoDlg::ShowValue() { ShowText(IDC_TEMPO_VALUE, model.text()); }

bool CPropTempoDlg::OnCommand(WORD id, WORD code, HWND) {
    switch (id) {
        case IDC_TEMPO_VALUE: {
            if (code != EN_CHANGE || updating) return true;
            const std::wstring text = ItemText(IDC_TEMPO_VALUE);
            if (!model.typed(text)) {
                // An empty field is a number being typed; anything else is reported.
                double ignored = 0;
                if (!text.empty()) ExchangeNumber(IDC_TEMPO_VALUE, ignored);
                return true;
            }
            // The text stays as typed unless the model rounded it ("120.456" shows 120.46).
            const std::optional<double> typed = parseDecimal(text);
            if (typed && *typed != model.value()) ShowValue();
            return true;
        }
        case IDC_TEMPO_TAP:
            if (code == BN_CLICKED) {
                model.tap();
                ShowValue();
            }
            return true;
        default: return false;
    }
}

INT_PTR CPropTempoDlg::OnMessage(UINT message, WPARAM, LPARAM lParam, bool& handled) {
    handled = false;
    if (message != WM_NOTIFY) return 0;
    const int steps = UpSteps(lParam, IDC_TEMPO_SPIN);
    if (steps == 0) return 0;
    ReadValue();
    model.stepSpin(steps);
    ShowValue();
    handled = true;
    return 0;  // the step is accepted
}

void CPropTempoDlg::OnOK() {
    ReadValue();
    model.close();
    ShowValue();
    Close();
}

}  // namespace vl::dialogs
