// The main window's presets: the Preset menu, the program and bank files, the plug-in's own
// programs, Reset to Default, files given on the command line or dropped on the window, and
// the window's remembered place.

#include <windows.h>
#include <commdlg.h>
#include <shellapi.h>

#include <algorithm>
#include <cwchar>
#include <filesystem>
#include <string>
#include <vector>

#include "app/PresetRules.h"
#include "app/win/CVLVSTHostDlg.h"
#include "dialogs/win/AudioFileDlg.h"
#include "platform/Text.h"

namespace vl::app {

namespace {

constexpr wchar_t kLoadFilter[] =
    L"Presets and banks (*.fxp, *.fxb)|*.fxp;*.fxb|Presets (*.fxp)|*.fxp|Banks (*.fxb)|*.fxb|All files (*.*)|*.*||";
constexpr wchar_t kProgramFilter[] = L"Presets (*.fxp)|*.fxp|All files (*.*)|*.*||";
constexpr wchar_t kBankFilter[] = L"Banks (*.fxb)|*.fxb|All files (*.*)|*.*||";
constexpr wchar_t kSaveProgramTitle[] = L"Save Preset";
constexpr wchar_t kSaveBankTitle[] = L"Save Bank";
constexpr wchar_t kLoadTitle[] = L"Load Preset / Bank";

// A program name as a file name: what Windows does not allow becomes "_".
std::wstring fileNameOf(std::wstring name) {
    for (wchar_t& c : name) {
        if (c < 32 || std::wcschr(L"\\/:*?\"<>|", c)) c = L'_';
    }
    while (!name.empty() && (name.back() == L' ' || name.back() == L'.')) name.pop_back();
    return name;
}

// The system's file dialog, started in the remembered folder; empty = cancelled.
std::wstring askFile(HWND owner, bool save, const wchar_t* title, const wchar_t* filter, const wchar_t* extension,
                     const std::wstring& folder, const std::wstring& fileName) {
    const auto path = dialogs::askPath(owner, save, title, filter, extension, folder, fileName);
    return path ? platform::pathToWide(*path) : std::wstring();
}

// Program names are the plug-in's 8-bit text: the system's ANSI code page.
std::string toPluginText(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(std::max(size, 0)), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}

std::wstring fromPluginText(const std::string& text) { return platform::ansiToWide(text, kMaxProgramNameChars); }

// The Rename Program dialog: one line of text, at most the length the host sends.
class RenameProgramDlg final : public platform::Dialog {
public:
    explicit RenameProgramDlg(std::wstring name) : Dialog(IDD_RENAMEPROGRAM), name(std::move(name)) {}
    std::wstring name;

protected:
    BOOL OnInitDialog() override {
        SendDlgItemMessageW(hwnd(), IDC_RENAME_NAME, EM_LIMITTEXT, kMaxProgramNameChars, 0);
        SetItemText(IDC_RENAME_NAME, name);
        SendDlgItemMessageW(hwnd(), IDC_RENAME_NAME, EM_SETSEL, 0, -1);
        SetFocus(GetDlgItem(hwnd(), IDC_RENAME_NAME));
        return FALSE;  // the focus is set
    }
    void OnOK() override {
        name = ItemText(IDC_RENAME_NAME);
        EndDialog(IDOK);
    }
};

BOOL CALLBACK collectWorkArea(HMONITOR monitor, HDC, LPRECT, LPARAM data) {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (GetMonitorInfoW(monitor, &info)) {
        const RECT& work = info.rcWork;
        reinterpret_cast<std::vector<Rect>*>(data)->push_back(Rect{work.left, work.top, work.right, work.bottom});
    }
    return TRUE;
}

MONITORINFO primaryMonitor() {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    GetMonitorInfoW(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &info);
    return info;
}

}  // namespace

const std::vector<std::string>& CVLVSTHostDlg::ProgramNames() {
    // A plug-in that names its programs by index is asked each time (cheap, and it may rename
    // them itself); the other way goes through every program and is asked only when needed.
    if (slot.takeDisplayChange()) programNamesKnown = false;  // the plug-in said its programs changed
    if (!programNamesKnown || namesAreIndexed(slot)) {
        programNameCache = programNames(slot, coordinator.betweenBlocks());
        // A plug-in that stayed busy gives no names: asked again at the next opening.
        programNamesKnown = !programNameCache.empty();
    }
    return programNameCache;
}

void CVLVSTHostDlg::FillPresetMenu(HMENU preset) {
    while (GetMenuItemCount(preset) > 0) DeleteMenu(preset, 0, MF_BYPOSITION);  // submenus go with their items
    AppendMenuW(preset, MF_STRING, ID_PRESET_LOAD, menuItemText(kLoadPresetText, L'L').c_str());
    AppendMenuW(preset, MF_STRING, ID_PRESET_SAVE, menuItemText(kSavePresetText, L'S').c_str());
    AppendMenuW(preset, MF_STRING, ID_PRESET_SAVEBANK, menuItemText(kSaveBankText, L'B').c_str());
    AppendMenuW(preset, MF_SEPARATOR, 0, nullptr);
    const int32_t count = std::min<int32_t>(programCount(slot), kMaxProgramCommands);
    if (count <= 0) {
        AppendMenuW(preset, MF_STRING | MF_GRAYED, ID_PRESET_NOPROGRAMS, kNoProgramsText);
    } else {
        const std::vector<std::string>& names = ProgramNames();
        const int32_t current = currentProgram(slot);
        for (const ProgramGroup& group : programGroups(count)) {
            HMENU target = preset;
            const bool holdsCurrent = current >= group.first && current < group.first + group.count;
            if (!group.title.empty()) {
                target = CreatePopupMenu();
                AppendMenuW(preset, MF_POPUP | (holdsCurrent ? MF_CHECKED : 0), reinterpret_cast<UINT_PTR>(target),
                            platform::utf8ToWide(group.title).c_str());
            }
            for (int32_t i = group.first; i < group.first + group.count; ++i) {
                const std::wstring name = static_cast<size_t>(i) < names.size()
                                              ? fromPluginText(names[static_cast<size_t>(i)])
                                              : L"Program " + std::to_wstring(i + 1);
                AppendMenuW(target, MF_STRING | (i == current ? MF_CHECKED : 0),
                            static_cast<UINT_PTR>(kFirstProgramCommand + i), menuItemText(name).c_str());
            }
        }
    }
    AppendMenuW(preset, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(preset, MF_STRING | (count > 0 ? 0 : MF_GRAYED), ID_PRESET_RENAME,
                menuItemText(kRenameProgramText, L'n').c_str());
    AppendMenuW(preset, MF_STRING | (defaultState.captured() ? 0 : MF_GRAYED), ID_PRESET_RESET,
                menuItemText(kResetToDefaultText, L'D').c_str());
}

void CVLVSTHostDlg::ShowCurrentProgram() {
    captionProgram = fromPluginText(currentProgramName(slot));
    ShowCaptionName();
}

bool CVLVSTHostDlg::LoadPresetFile(const std::wstring& path) {
    const PresetOutcome outcome = loadPresetFile(slot, platform::pathFromWide(path), coordinator.betweenBlocks());
    if (!outcome.ok) {
        ShowMessage(presetLoadFailedText(path, outcome.message).c_str(), kErrorCaption);
        return false;
    }
    programNamesKnown = false;  // a bank brings its own names, a program its own name
    ShowCurrentProgram();
    return true;
}

void CVLVSTHostDlg::RememberPresetFolder(const std::wstring& file) {
    if (!settings || !MayWriteState()) return;  // a second copy writes nothing
    const std::wstring folder = platform::pathToWide(platform::pathFromWide(file).parent_path());
    writePresetFolder(settings->valueStore(), settings->keyPath, folder);
}

void CVLVSTHostDlg::AskAndLoadPreset() {
    if (shutDown || !settings) return;
    // The dialog's loop takes the keys: a note key released meanwhile would never end its note.
    coordinator.ReleaseKeyboardNotes();
    const std::wstring path = askFile(hwnd(), false, kLoadTitle, kLoadFilter, L"fxp",
                                      readPresetFolder(settings->valueStore(), settings->keyPath), {});
    if (path.empty() || shutDown) return;
    if (LoadPresetFile(path)) RememberPresetFolder(path);
}

void CVLVSTHostDlg::AskAndSavePreset(PresetKind kind) {
    if (shutDown || !settings) return;
    coordinator.ReleaseKeyboardNotes();
    const bool bank = kind == PresetKind::Bank;
    const std::wstring suggested = fileNameOf(bank ? effectName : fromPluginText(currentProgramName(slot)));
    const std::wstring path = askFile(hwnd(), true, bank ? kSaveBankTitle : kSaveProgramTitle,
                                      bank ? kBankFilter : kProgramFilter, bank ? L"fxb" : L"fxp",
                                      readPresetFolder(settings->valueStore(), settings->keyPath), suggested);
    if (path.empty() || shutDown) return;
    const PresetOutcome outcome = savePresetFile(slot, platform::pathFromWide(path), kind, coordinator.betweenBlocks());
    if (!outcome.ok) {
        ShowMessage(presetSaveFailedText(path, outcome.message).c_str(), kErrorCaption);
        return;
    }
    RememberPresetFolder(path);
}

void CVLVSTHostDlg::ChooseProgram(int index) {
    if (shutDown) return;
    if (!selectProgram(slot, index, coordinator.betweenBlocks())) {
        ShowMessage(kProgramBusyText, kErrorCaption);
        return;
    }
    ShowCurrentProgram();
}

void CVLVSTHostDlg::RenameCurrentProgram() {
    if (shutDown || programCount(slot) <= 0) return;
    coordinator.ReleaseKeyboardNotes();
    RenameProgramDlg dialog(fromPluginText(currentProgramName(slot)));
    if (dialog.RunSystemModal(hwnd()) != IDOK || shutDown) return;
    programNamesKnown = false;
    if (!renameProgram(slot, toPluginText(dialog.name))) {
        ShowMessage(kRenameRefusedText, kWarningCaption);
        return;
    }
    if (!captionProgram.empty()) ShowCurrentProgram();
}

void CVLVSTHostDlg::ResetToDefault() {
    if (shutDown || !defaultState.captured()) return;
    platform::UserMessage question;
    question.text = kResetQuestion;
    question.caption = kResetToDefaultText;
    question.buttons = platform::MessageButtons::YesNo;
    question.icon = platform::MessageIcon::Question;
    if (messageSink.show(question) != platform::MessageAnswer::Yes || shutDown) return;
    const PresetOutcome outcome = defaultState.restore(slot, coordinator.betweenBlocks());
    if (!outcome.ok) {
        ShowMessage(presetResetFailedText(outcome.message).c_str(), kErrorCaption);
        return;
    }
    programNamesKnown = false;
    captionProgram.clear();  // the plug-in is as it was opened
    ShowCaptionName();
}

void CVLVSTHostDlg::OpenGivenFile(const std::wstring& path) {
    const std::filesystem::path file = platform::pathFromWide(path);
    if (isPresetFileName(file)) LoadPresetFile(path);
    else if (isAudioFileName(file)) OpenInPlayer(path);
    else ShowMessage(kDroppedFileRefusedText, kErrorCaption);
}

void CVLVSTHostDlg::OpenInPlayer(const std::wstring& path) {
    OpenModeless(ModelessWindow::Player, false);
    auto* player = dynamic_cast<dialogs::AudioFileDlg*>(playerDialog);
    if (!player) return;
    // What its Load File would refuse (greyed while it plays) is refused here too.
    if (!player->TakesFiles()) {
        ShowMessage(kPlayerTakesNoFileText, kErrorCaption);
        return;
    }
    player->OpenFile(platform::pathFromWide(path));
}

void CVLVSTHostDlg::OnDropFiles(HDROP drop) {
    std::vector<std::wstring> files;
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        const UINT length = DragQueryFileW(drop, i, nullptr, 0);
        std::wstring name(length + 1, L'\0');
        name.resize(DragQueryFileW(drop, i, name.data(), length + 1));
        if (!name.empty()) files.push_back(name);
    }
    DragFinish(drop);
    // A box or dialog of ours runs its own loop (a question is open): the drop is not taken,
    // as a close is not.
    if (shutDown || closePending || BringOpenBoxToFront()) return;
    for (const std::wstring& file : files) OpenGivenFile(file);
}

void CVLVSTHostDlg::RestoreWindowPosition() {
    positionRestored = true;
    const std::optional<WindowPosition> stored = readWindowPosition(settings->valueStore(), settings->keyPath);
    if (!stored) return;  // the first start keeps the window centred
    std::vector<Rect> workAreas;
    EnumDisplayMonitors(nullptr, nullptr, &collectWorkArea, reinterpret_cast<LPARAM>(&workAreas));
    const RECT primary = primaryMonitor().rcWork;
    RECT frame{};
    GetWindowRect(hwnd(), &frame);
    const WindowPosition at = placeOnScreens(*stored, Size{frame.right - frame.left, frame.bottom - frame.top}, workAreas,
                                             Rect{primary.left, primary.top, primary.right, primary.bottom});
    SetWindowPos(hwnd(), nullptr, at.left, at.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CVLVSTHostDlg::StoreWindowPosition() {
    if (!positionRestored || !settings || !hwnd() || !MayWriteState()) return;
    RECT frame{};
    if (IsIconic(hwnd())) {
        // The normal place of a minimised window, in workspace coordinates: relative to the
        // primary screen's work area.
        WINDOWPLACEMENT placement{};
        placement.length = sizeof placement;
        if (!GetWindowPlacement(hwnd(), &placement)) return;
        const MONITORINFO primary = primaryMonitor();
        frame = placement.rcNormalPosition;
        OffsetRect(&frame, primary.rcWork.left - primary.rcMonitor.left, primary.rcWork.top - primary.rcMonitor.top);
    } else if (!GetWindowRect(hwnd(), &frame)) {
        return;
    }
    writeWindowPosition(settings->valueStore(), settings->keyPath, WindowPosition{frame.left, frame.top});
}

}  // namespace vl::app
