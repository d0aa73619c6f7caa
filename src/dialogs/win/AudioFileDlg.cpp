#include "dialogs/win/AudioFileDlg.h"

#include <commdlg.h>

#include <cwchar>
#include <vector>

#include "dialogs/win/PlayerDlgIds.h"
#include "host/VLVSTHostInterface.h"
#include "player/PlayerCore.h"
#include "settings/HostSettings.h"

namespace vl::dialogs {

namespace {

constexpr UINT_PTR kPlayerTimer = 2;
constexpr UINT kPlayerTimerMs = 500;
constexpr int kAutomaticStartPosition = 5;  // where an automatic start puts the window
constexpr DWORD kPathCapacity = 32768;      // the longest path the system can name

// "Name|*.ext||" as the file dialogs want it: separated by zeros, ending with two.
std::vector<wchar_t> dialogFilter(const wchar_t* filter) {
    std::vector<wchar_t> out;
    for (const wchar_t* c = filter; *c; ++c) out.push_back(*c == L'|' ? L'\0' : *c);
    out.push_back(L'\0');
    out.push_back(L'\0');
    return out;
}

// The extension without its dot, as lpstrDefExt wants it.
const wchar_t* bareExtension(const wchar_t* extension) { return extension[0] == L'.' ? extension + 1 : extension; }

}  // namespace

std::optional<std::filesystem::path> askPath(HWND owner, bool save, const wchar_t* title, const wchar_t* filter,
                                             const wchar_t* extension, const std::wstring& folder,
                                             const std::wstring& fileName) {
    std::vector<wchar_t> name(kPathCapacity, L'\0');
    wcsncpy(name.data(), fileName.c_str(), kPathCapacity - 1);
    const std::vector<wchar_t> filters = dialogFilter(filter);
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrTitle = title;
    dialog.lpstrFilter = filters.data();
    dialog.lpstrFile = name.data();
    dialog.nMaxFile = kPathCapacity;
    dialog.lpstrDefExt = bareExtension(extension);
    dialog.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
    dialog.Flags = OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_EXPLORER | OFN_NOCHANGEDIR |
                   (save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST);
    if (!(save ? GetSaveFileNameW(&dialog) : GetOpenFileNameW(&dialog))) return std::nullopt;
    return std::filesystem::path(name.data());
}

std::optional<std::filesystem::path> askOpenPath(HWND owner, const wchar_t* filter, const wchar_t* extension) {
    return askPath(owner, false, nullptr, filter, extension, {}, {});
}

std::optional<std::filesystem::path> askSavePath(HWND owner, const wchar_t* title, const wchar_t* filter,
                                                 const wchar_t* extension, const wchar_t* fileName) {
    return askPath(owner, true, title, filter, extension, {}, fileName ? fileName : L"");
}

AudioFileDlg::AudioFileDlg(VLVSTHostInterface& host, HostSettings& settings, bool playerDisabled,
                           platform::MessageSink* messages)
    : ModelessWindow(IDD_AUDIOFILE, messages),
      host(host),
      settings(settings),
      model(host, settings, playerDisabled, this->messages(), this) {}

BOOL AudioFileDlg::OnInitDialog() {
    connected = model.initialise();
    if (!connected) return TRUE;  // no output device: the window stays unconnected
    SetTimer(hwnd(), kPlayerTimer, kPlayerTimerMs, nullptr);
    FillList(IDC_RECORDER_OPTION, model.controls().recordOptionCount, [](int i) { return std::wstring(recordOptionText(i)); });
    FillList(IDC_RECORDER_MAXLENGTH, kRecordLengthCount, [](int i) { return std::wstring(recordLengthText(i)); });
    ShowControls();
    if (settings.startPlayerAutomatic) {
        SetWindowPos(hwnd(), nullptr, kAutomaticStartPosition, kAutomaticStartPosition, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    return TRUE;
}

void AudioFileDlg::ShowControls() {
    const PlayerControls& c = model.controls();
    ShowText(IDC_PLAYER_FILENAME, c.fileName);
    ShowText(IDC_PLAYER_PLAY, c.playText);
    ShowText(IDC_PLAYER_TIME, c.playTime);
    ShowText(IDC_PLAYER_TEMPO, c.tempoText);
    ShowText(IDC_RECORDER_RECORD, c.recordText);
    ShowText(IDC_RECORDER_TIME, c.recordTime);
    ShowCheck(IDC_PLAYER_DETECTTEMPO, c.detectTempo);
    ShowCheck(IDC_PLAYER_LOOP, c.loopFile);
    ShowCheck(IDC_PLAYER_STARTBYMIDI, c.startByMidi);
    ShowCheck(IDC_PLAYER_OPENONSTARTUP, c.openOnStartup);
    ShowSelection(IDC_RECORDER_OPTION, c.recordOption);
    ShowSelection(IDC_RECORDER_MAXLENGTH, c.maxLengthIndex);
    for (int id : {IDC_PLAYER_REWIND, IDC_PLAYER_PLAY, IDC_PLAYER_TIME, IDC_PLAYER_FILENAME, IDC_PLAYER_TEMPO})
        ShowEnabled(id, c.playerEnabled);
    for (int id : {IDC_PLAYER_LOAD, IDC_PLAYER_DETECTTEMPO, IDC_PLAYER_LOOP, IDC_PLAYER_STARTBYMIDI})
        ShowEnabled(id, c.fileOptionsEnabled);
    ShowEnabled(IDC_RECORDER_RECORD, c.recordEnabled);
    ShowEnabled(IDC_RECORDER_OPTION, c.recordOptionEnabled);
    ShowEnabled(IDC_RECORDER_MAXLENGTH, c.maxLengthEnabled);
}

void AudioFileDlg::LoadFile() {
    // The dialog's loop takes the keys: a note key released meanwhile would never end its note.
    host.ReleaseKeyboardNotes();
    const std::optional<std::filesystem::path> path = askOpenPath(hwnd(), kLoadFileFilter, kLoadFileExtension);
    if (path) model.loadFile(*path);
}

bool AudioFileDlg::TakesFiles() const { return connected && model.controls().fileOptionsEnabled; }

bool AudioFileDlg::OpenFile(const std::filesystem::path& path) {
    if (!TakesFiles()) return false;
    const bool loaded = model.loadFile(path);
    ShowControls();
    return loaded;
}

std::optional<std::filesystem::path> AudioFileDlg::chooseSavePath() {
    host.ReleaseKeyboardNotes();
    return askSavePath(hwnd(), kSaveFileTitle, kSaveFileFilter, kSaveFileExtension, kSaveFileName);
}

bool AudioFileDlg::OnCommand(WORD id, WORD code, HWND) {
    if (!connected || updating) return false;
    const bool clicked = code == BN_CLICKED;
    const bool selected = code == CBN_SELCHANGE;
    switch (id) {
        case IDC_PLAYER_LOAD: if (clicked) LoadFile(); break;
        case IDC_PLAYER_REWIND: if (clicked) model.rewind(); break;
        case IDC_PLAYER_PLAY: if (clicked) model.togglePlay(); break;
        case IDC_RECORDER_RECORD: if (clicked) model.toggleRecording(false); break;
        case IDC_PLAYER_DETECTTEMPO: if (clicked) model.setDetectTempo(Checked(id)); break;
        case IDC_PLAYER_LOOP: if (clicked) model.setLoopFile(Checked(id)); break;
        case IDC_PLAYER_STARTBYMIDI: if (clicked) model.setStartByMidi(Checked(id)); break;
        case IDC_PLAYER_OPENONSTARTUP: if (clicked) model.setOpenOnStartup(Checked(id)); break;
        case IDC_RECORDER_OPTION: if (selected) model.selectRecordOption(Selection(id)); break;
        case IDC_RECORDER_MAXLENGTH: if (selected) model.selectMaxLength(Selection(id)); break;
        default: return false;
    }
    if (hwnd()) ShowControls();
    return true;
}

INT_PTR AudioFileDlg::OnMessage(UINT message, WPARAM wParam, LPARAM, bool& handled) {
    handled = false;
    if (message != WM_TIMER || wParam != kPlayerTimer || !connected) return 0;
    model.timerTick();
    ShowControls();
    handled = true;
    return 0;
}

void AudioFileDlg::OfferRecording() {
    if (!connected) return;
    model.offerRecording();
    if (hwnd()) ShowControls();
}

void AudioFileDlg::OnCancel() {
    if (connected) {
        KillTimer(hwnd(), kPlayerTimer);
        model.setOpenOnStartup(Checked(IDC_PLAYER_OPENONSTARTUP));
        model.close();
    }
    Close();
}

}  // namespace vl::dialogs
