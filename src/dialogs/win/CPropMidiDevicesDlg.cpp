#include "dialogs/win/CPropMidiDevicesDlg.h"

#include "dialogs/win/MidiSettingsDlgIds.h"

#include <string>
#include <vector>
#include "midi/MidiDevice.h"

namespace vl::dialogs {

namespace {

constexpr int kOptionControls[] = {IDC_MIDI_ACTIVE,       IDC_MIDI_SYNC,          IDC_MIDI_SYNCWHILEPLAYING,
                                   IDC_MIDI_DELAY_LABEL,  IDC_MIDI_DELAY,         IDC_MIDI_DELAY_SPIN,
                                   IDC_MIDI_FILTERCC,     IDC_MIDI_FILTERPROGRAM, IDC_MIDI_CHANNEL_LABEL,
                                   IDC_MIDI_CHANNEL,      IDC_MIDI_RANGE_LABEL,   IDC_MIDI_RANGE_LEFT,
                                   IDC_MIDI_RANGE_RIGHT};

ListKey listKey(WPARAM key) {
    if (key == VK_UP) return ListKey::Up;
    if (key == VK_DOWN) return ListKey::Down;
    return ListKey::Other;
}

}  // namespace

CPropMidiDevicesDlg::CPropMidiDevicesDlg(VLVSTHostInterface& host, VLMidiBase& midi, HostSettings& settings,
                                         MidiCapabilities capabilities, platform::MessageSink* messages)
    : ModelessWindow(IDD_MIDISETTINGS, messages), model(host, midi, settings, capabilities, this->messages()) {}

HICON CPropMidiDevicesDlg::StateIcon(MidiStateIcon icon) const {
    return static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(static_cast<int>(icon)), IMAGE_ICON,
                                         CListBoxCH::kIconSize, CListBoxCH::kIconSize, LR_SHARED));
}

BOOL CPropMidiDevicesDlg::OnInitDialog() {
    inputList.Attach(GetDlgItem(hwnd(), IDC_MIDI_INPUTS));
    model.initialise();
    const std::vector<std::wstring> channels = midiChannelEntries();
    FillList(IDC_MIDI_CHANNEL, static_cast<int>(channels.size()), [&](int i) { return channels[static_cast<size_t>(i)]; });
    FillList(IDC_MIDI_RANGE_LEFT, kNoteCount, noteName);
    FillList(IDC_MIDI_RANGE_RIGHT, kNoteCount, noteName);
    ShowSelection(IDC_MIDI_CHANNEL, 0);
    ShowSelection(IDC_MIDI_RANGE_LEFT, 0);
    ShowSelection(IDC_MIDI_RANGE_RIGHT, kNoteCount - 1);
    for (const auto& entry : model.inputs()) inputList.AddItem(entry.name, StateIcon(entry.icon), entry.device);
    std::vector<std::wstring> outputs;
    for (const auto& entry : model.outputs()) outputs.push_back(entry.name);
    ShowList(IDC_MIDI_OUTPUT, outputs, model.outputIndex());
    ShowEnabled(IDC_MIDI_INPUTS, model.inputListEnabled());
    ShowEnabled(IDC_MIDI_OUTPUT, model.outputListEnabled());
    ShowOptions();
    return TRUE;
}

void CPropMidiDevicesDlg::ShowIcons() {
    const auto& inputs = model.inputs();
    for (size_t i = 0; i < inputs.size(); ++i) {
        const HICON icon = StateIcon(inputs[i].icon);
        if (inputList.ItemIcon(static_cast<int>(i)) != icon) inputList.SetItemIcon(static_cast<int>(i), icon);
    }
}

void CPropMidiDevicesDlg::ShowOptions() {
    for (int id : kOptionControls) ShowEnabled(id, model.optionsEnabled());
    ShowEnabled(IDC_MIDI_APPLY, model.applyEnabled());
    ShowSelection(IDC_MIDI_OUTPUT, model.outputIndex());
    ShowIcons();
    const MidiDeviceRecord* device = model.selectedDevice();
    ShowText(IDC_MIDI_DELAY, model.delayText());
    if (!device) return;  // no input chosen: the disabled options keep what they showed
    ShowCheck(IDC_MIDI_ACTIVE, device->active);
    ShowCheck(IDC_MIDI_SYNC, device->sync);
    ShowCheck(IDC_MIDI_SYNCWHILEPLAYING, device->syncWhilePlaying);
    ShowCheck(IDC_MIDI_FILTERCC, device->filterCCMessages);
    ShowCheck(IDC_MIDI_FILTERPROGRAM, device->filterProgramChanges);
    ShowSelection(IDC_MIDI_CHANNEL, device->channel);
    ShowSelection(IDC_MIDI_RANGE_LEFT, device->keyboardRangeLeft);
    ShowSelection(IDC_MIDI_RANGE_RIGHT, device->keyboardRangeRight);
}

bool CPropMidiDevicesDlg::OnCommand(WORD id, WORD code, HWND) {
    const bool clicked = code == BN_CLICKED;
    const bool selected = code == CBN_SELCHANGE;  // also LBN_SELCHANGE
    switch (id) {
        case IDC_MIDI_INPUTS:
            if (code != LBN_SELCHANGE) return true;
            inputList.SetCurrent(static_cast<int>(SendDlgItemMessageW(hwnd(), IDC_MIDI_INPUTS, LB_GETCURSEL, 0, 0)));
            model.selectInput(inputList.currentIndex());
            break;
        case IDC_MIDI_ACTIVE: if (clicked) model.setActive(Checked(id)); break;
        case IDC_MIDI_SYNC: if (clicked) model.setSync(Checked(id)); break;
        case IDC_MIDI_SYNCWHILEPLAYING: if (clicked) model.setSyncWhilePlaying(Checked(id)); break;
        case IDC_MIDI_FILTERCC: if (clicked) model.setFilterCCMessages(Checked(id)); break;
        case IDC_MIDI_FILTERPROGRAM: if (clicked) model.setFilterProgramChanges(Checked(id)); break;
        case IDC_MIDI_CHANNEL: if (selected) model.selectChannel(Selection(id)); break;
        case IDC_MIDI_RANGE_LEFT: if (selected) model.selectKeyboardRangeLeft(Selection(id)); break;
        case IDC_MIDI_RANGE_RIGHT: if (selected) model.selectKeyboardRangeRight(Selection(id)); break;
        case IDC_MIDI_OUTPUT: if (selected) model.selectOutput(Selection(id)); break;
        case IDC_MIDI_APPLY: if (clicked) model.apply(); break;
        default: return false;
    }
    if (hwnd()) ShowOptions();
    return true;
}

INT_PTR CPropMidiDevicesDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
    handled = true;
    switch (message) {
        case WM_MEASUREITEM:
            if (wParam != IDC_MIDI_INPUTS) break;
            inputList.Measure(*reinterpret_cast<MEASUREITEMSTRUCT*>(lParam));
            return TRUE;
        case WM_DRAWITEM:
            if (wParam != IDC_MIDI_INPUTS) break;
            inputList.Draw(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
            return TRUE;
        case WM_VKEYTOITEM: {
            if (reinterpret_cast<HWND>(lParam) != inputList.handle()) break;
            const int index = model.keyOnInputList(listKey(LOWORD(wParam)), HIWORD(wParam));
            const LRESULT result = inputList.KeyToItem(index);
            ShowOptions();
            return result;
        }
        case WM_NOTIFY: {
            const int steps = UpSteps(lParam, IDC_MIDI_DELAY_SPIN);
            if (steps == 0) break;
            model.stepDelay(steps);
            ShowOptions();
            return 0;  // the change is allowed
        }
        default: break;
    }
    handled = false;
    return 0;
}

void CPropMidiDevicesDlg::OnOK() {
    model.ok();
    Close();
}

void CPropMidiDevicesDlg::OnCancel() {
    model.cancel();
    Close();
}

}  // namespace vl::dialogs
