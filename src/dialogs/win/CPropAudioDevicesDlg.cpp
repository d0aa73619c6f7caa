#include "dialogs/win/CPropAudioDevicesDlg.h"

#include <cstring>
#include <string>

#include "audio/asio/VLASIO.h"
#include "dialogs/win/AudioSettingsDlgIds.h"
#include "platform/Text.h"

namespace vl::dialogs {

namespace {

std::vector<std::wstring> deviceNames(const AudioSettingsModel::DeviceList& list) {
    std::vector<std::wstring> names;
    for (const AudioDeviceRecord* device : list.devices) names.push_back(device->name);
    return names;
}

}  // namespace

CPropAudioDevicesDlg::CPropAudioDevicesDlg(AudioBackendSet& backends, HostSettings& settings, VLVSTHostInterface& host,
                                           bool takesNoAudioInput, bool applyEnabledAtStart,
                                           platform::MessageSink* messages)
    : ModelessWindow(IDD_AUDIOSETTINGS, messages),
      model(backends, settings, host, takesNoAudioInput, applyEnabledAtStart, this->messages()),
      asio(dynamic_cast<VLASIO*>(backends.backendFor(kDeviceTypeASIO))) {
    // Only the ASIO family has a control panel; the button is enabled for it alone.
    model.openControlPanel = [this](AudioDeviceRecord& record) { return asio && asio->openControlPanel(&record); };
    // An ASIO driver that refuses its init says why; the text is taken once (a later failure of
    // another kind, or of a driver that could not even be loaded, must not repeat it).
    model.failureReason = [this](const AudioDeviceRecord& record) {
        if (!asio || record.type != kDeviceTypeASIO) return std::wstring();
        char* text = asio->driverInfo.errorMessage;
        const std::string reason(text, strnlen(text, sizeof asio->driverInfo.errorMessage));
        text[0] = '\0';
        if (reason.empty() || reason == "No ASIO Driver Error") return std::wstring();
        return platform::ansiToWide(reason);
    };
}

CPropAudioDevicesDlg::~CPropAudioDevicesDlg() {
    if (asio) asio->releaseControlPanel();
}

BOOL CPropAudioDevicesDlg::OnInitDialog() {
    {
        WaitCursor wait;
        model.initialise();
    }
    ShowControls();
    return TRUE;
}

void CPropAudioDevicesDlg::ShowControls(int typingIn) {
    std::vector<std::wstring> types;
    for (const AudioTypeEntry& entry : model.types()) types.push_back(entry.text);
    updating = true;  // selections set here are no user's choice
    ShowList(IDC_AUDIO_TYPE, types, model.typeIndex());
    ShowList(IDC_AUDIO_INPUT, deviceNames(model.inputs()), model.inputs().selected);
    ShowList(IDC_AUDIO_OUTPUT, deviceNames(model.outputs()), model.outputs().selected);
    ShowList(IDC_AUDIO_INPUT_LEFT, model.inputChannels().names, model.inputChannels().left);
    ShowList(IDC_AUDIO_INPUT_RIGHT, model.inputChannels().names, model.inputChannels().right);
    ShowList(IDC_AUDIO_OUTPUT_LEFT, model.outputChannels().names, model.outputChannels().left);
    ShowList(IDC_AUDIO_OUTPUT_RIGHT, model.outputChannels().names, model.outputChannels().right);
    updating = false;
    if (typingIn != IDC_AUDIO_OUTPUT_SAMPLES) ShowText(IDC_AUDIO_OUTPUT_SAMPLES, model.samplesText());
    if (typingIn != IDC_AUDIO_OUTPUT_MS) ShowText(IDC_AUDIO_OUTPUT_MS, model.latencyText());
    // No back end reports an input latency: the boxes stay empty and greyed.
    ShowText(IDC_AUDIO_INPUT_SAMPLES, L"");
    ShowText(IDC_AUDIO_INPUT_MS, L"");
    ShowEnabled(IDC_AUDIO_APPLY, model.applyEnabled());
    ShowEnabled(IDC_AUDIO_CONTROLPANEL, model.controlPanelEnabled());
    for (int id : {IDC_AUDIO_OUTPUT_SAMPLES, IDC_AUDIO_OUTPUT_SAMPLES_SPIN, IDC_AUDIO_OUTPUT_MS, IDC_AUDIO_OUTPUT_MS_SPIN})
        ShowEnabled(id, model.bufferControlsEnabled());
    ShowEnabled(IDC_AUDIO_INPUT, model.inputControlsEnabled());
    for (int id : {IDC_AUDIO_INPUT_LEFT, IDC_AUDIO_INPUT_RIGHT}) ShowEnabled(id, model.inputChannelsEnabled());
    for (int id : {IDC_AUDIO_OUTPUT_LEFT, IDC_AUDIO_OUTPUT_RIGHT}) ShowEnabled(id, model.outputChannelsEnabled());
    for (int id : {IDC_AUDIO_INPUT_SAMPLES, IDC_AUDIO_INPUT_SAMPLES_SPIN, IDC_AUDIO_INPUT_MS, IDC_AUDIO_INPUT_MS_SPIN})
        ShowEnabled(id, model.inputLatencyKnown());
}

bool CPropAudioDevicesDlg::Apply(bool closing) {
    bool done = false;
    {
        WaitCursor wait;
        done = closing ? model.ok() : model.apply();
    }
    // An edit without a number gets the focus back, with its text selected.
    const int unreadable = model.samplesUnreadable() ? IDC_AUDIO_OUTPUT_SAMPLES
                           : model.latencyUnreadable() ? IDC_AUDIO_OUTPUT_MS : 0;
    if (unreadable && hwnd()) {
        if (HWND edit = GetDlgItem(hwnd(), unreadable)) {
            SetFocus(edit);
            SendMessageW(edit, EM_SETSEL, 0, -1);
        }
    }
    return done;
}


bool CPropAudioDevicesDlg::OnCommand(WORD id, WORD code, HWND) {
    if (updating) return true;
    const bool selected = code == CBN_SELCHANGE;
    int typingIn = 0;
    switch (id) {
        case IDC_AUDIO_TYPE: if (selected) { WaitCursor wait; model.selectType(Selection(id)); } break;
        case IDC_AUDIO_INPUT: if (selected) { WaitCursor wait; model.selectInputDevice(Selection(id)); } break;
        case IDC_AUDIO_OUTPUT: if (selected) { WaitCursor wait; model.selectOutputDevice(Selection(id)); } break;
        case IDC_AUDIO_INPUT_LEFT: if (selected) model.selectInputChannel(AudioSettingsModel::Side::Left, Selection(id)); break;
        case IDC_AUDIO_INPUT_RIGHT: if (selected) model.selectInputChannel(AudioSettingsModel::Side::Right, Selection(id)); break;
        case IDC_AUDIO_OUTPUT_LEFT: if (selected) model.selectOutputChannel(AudioSettingsModel::Side::Left, Selection(id)); break;
        case IDC_AUDIO_OUTPUT_RIGHT: if (selected) model.selectOutputChannel(AudioSettingsModel::Side::Right, Selection(id)); break;
        case IDC_AUDIO_OUTPUT_SAMPLES:
            if (code != EN_CHANGE) return true;
            // A text on its way to a number ("", ".", "0.") is checked when it is applied.
            model.editSamples(ItemText(id));
            typingIn = id;
            break;
        case IDC_AUDIO_OUTPUT_MS:
            if (code != EN_CHANGE) return true;
            model.editLatency(ItemText(id));
            typingIn = id;
            break;
        case IDC_AUDIO_CONTROLPANEL: if (code == BN_CLICKED) model.pressControlPanel(); break;
        case IDC_AUDIO_APPLY:
            if (code == BN_CLICKED) Apply(false);
            break;
        default: return false;
    }
    if (hwnd()) ShowControls(typingIn);
    return true;
}

INT_PTR CPropAudioDevicesDlg::OnMessage(UINT message, WPARAM, LPARAM lParam, bool& handled) {
    handled = false;
    if (message != WM_NOTIFY) return 0;
    if (const int samples = UpSteps(lParam, IDC_AUDIO_OUTPUT_SAMPLES_SPIN)) {
        model.stepSamples(samples);
    } else if (const int tenths = UpSteps(lParam, IDC_AUDIO_OUTPUT_MS_SPIN)) {
        model.stepLatency(tenths);
    } else {
        return 0;
    }
    ShowControls();
    handled = true;
    return 0;
}

void CPropAudioDevicesDlg::OnOK() {
    // After a failed Apply the window stays, showing the choice that runs again.
    if (Apply(true)) {
        Close();
    } else if (hwnd()) {
        ShowControls();
    }
}

}  // namespace vl::dialogs
