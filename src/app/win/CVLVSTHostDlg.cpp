#include "app/win/CVLVSTHostDlg.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/AppRules.h"
#include "app/PresetRules.h"
#include "app/ReadOnlyStore.h"
#include "app/win/CHostAbout.h"
#include "app/win/EngineWaitPump.h"
#include "audio/asio/VLASIO.h"
#include "dialogs/win/AudioFileDlg.h"
#include "dialogs/win/CPropAudioDevicesDlg.h"
#include "dialogs/win/CPropMidiDevicesDlg.h"
#include "dialogs/win/CPropTempoDlg.h"
#include "host/HostCallback.h"
#include "platform/Module.h"
#include "platform/StartupTrace.h"
#include "platform/Text.h"
#include "settings/EffectName.h"

namespace vl::app {

namespace {

constexpr wchar_t kPathTooLongText[] =
    L"Couldn't load Plugin!\r\nThe path of the program is 260 characters or longer; move it to a shorter folder.";
constexpr UINT kEditorSizeMessage = WM_APP + 1;  // the editor's size waits in the mailbox
// While a close waits for an engine call to return, this timer looks whether it has.
constexpr UINT_PTR kDeferredCloseTimer = 7;
constexpr UINT kDeferredCloseMs = 20;

bool keyHeld(int key) { return GetKeyState(key) < 0; }

RECT workAreaOf(HWND window) {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &info)) return info.rcWork;
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    return work;
}

bool testHooksEnabled() {
    wchar_t value[8] = {};
    return GetEnvironmentVariableW(kTestHooksVariable, value, 8) > 0;
}

}  // namespace

platform::MessageAnswer MessageBoxSink::show(const platform::UserMessage& message) {
    UINT style = message.buttons == platform::MessageButtons::YesNo ? MB_YESNO : MB_OK;
    switch (message.icon) {
        case platform::MessageIcon::Error: style |= MB_ICONERROR; break;
        case platform::MessageIcon::Warning: style |= MB_ICONWARNING; break;
        case platform::MessageIcon::Question: style |= MB_ICONQUESTION; break;
        case platform::MessageIcon::Information: style |= MB_ICONINFORMATION; break;
        case platform::MessageIcon::None: break;
    }
    HWND ownerWindow = message.owner ? static_cast<HWND>(message.owner) : *owner;
    // The box's loop takes the keys: a note key released meanwhile would never end its note.
    if (keyboard) keyboard->ReleaseKeyboardNotes();
    const int answer = MessageBoxW(ownerWindow, message.text.c_str(), message.caption.c_str(), style);
    if (answer == IDYES) return platform::MessageAnswer::Yes;
    if (answer == IDNO) return platform::MessageAnswer::No;
    if (answer == IDOK) return platform::MessageAnswer::Ok;
    // Ended without an answer (dismissed, or the box could not be shown): nobody said OK.
    return platform::MessageAnswer::Cancel;
}

CVLVSTHostDlg::CVLVSTHostDlg() : Dialog(IDD_VORLANEHOST_DIALOG) {
    // From here on the host callback answers from the slot's time information, also while the
    // plug-in's entry point runs.
    setHostContext(&slot);
    HINSTANCE instance = GetModuleHandleW(nullptr);
    icon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                         GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
    smallIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                              GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
    coordinator.setMessageSink(&messageSink);
    messageSink.keyboard = &coordinator;
    testQueryMessage = testHooksEnabled() ? RegisterWindowMessageW(kTestQueryMessage) : 0;
    platform::startupTrace().stamp("midi-listed");  // the members are built, the MIDI ports among them
}

CVLVSTHostDlg::~CVLVSTHostDlg() {
    Shutdown();
    CloseModelessWindows();  // they work on the settings and the coordinator
    // The settings go first; the coordinator must not reach them any more.
    coordinator.settings = nullptr;
    settings.reset();
    if (runningCopyMutex) {
        if (!secondCopy) ReleaseMutex(runningCopyMutex);  // held since the start: a second copy may save now
        CloseHandle(runningCopyMutex);
    }
    if (icon) DestroyIcon(icon);
    if (smallIcon) DestroyIcon(smallIcon);
}

void CVLVSTHostDlg::DoDataExchange() { pluginWindow.Attach(GetDlgItem(hwnd(), IDC_PLUGINWINDOW)); }

void CVLVSTHostDlg::ShowMessage(const wchar_t* text, const wchar_t* caption) {
    messageSink.show(platform::okMessage(text, caption));
}

BOOL CVLVSTHostDlg::OnInitDialog() {
    // 1. Data exchange, wait cursor, icons.
    messageOwner = hwnd();
    backends.setAsioOwner(hwnd());  // for the driver's dialogs; ASIO itself is built when first needed
    DoDataExchange();
    SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    SendMessageW(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    SendMessageW(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon ? smallIcon : icon));

    // 2. The plug-in beside the executable.
    uiThread = GetCurrentThreadId();
    const LoadResult loaded = slot.loadForExecutable(platform::executablePath());
    platform::startupTrace().stamp("plugin-loaded");
    if (loaded == LoadResult::PathTooShort) {
        ShowPathTooLong();
        return FALSE;
    }
    if (!slot.effect) {
        ShowMessage(kNoPluginText, kErrorCaption);
        if (MainWindow()) SendMessageW(MainWindow()->hwnd(), WM_CLOSE, 0, 0);
        return FALSE;
    }

    // 3. Editor rectangle and effect name (the caption).
    const EditorExtent editor = editorExtentOf(slot);
    // A nameless plug-in is kept under the executable's base name (caption, settings, state).
    effectName = effectIdentity(slot.effectNameWide(), platform::executablePath());
    effectCaption = effectName;
    SetWindowTextW(hwnd(), effectCaption.c_str());

    // 4. Settings of this effect, with the MIDI devices of this run merged in. A second copy
    // for the same effect reads them but writes neither them nor the state: the first copy's
    // would be overwritten by whichever ends last. The first copy holds the mutex for its life.
    runningCopyMutex = CreateMutexW(nullptr, FALSE, runningCopyMutexName(effectName).c_str());
    secondCopy = runningCopyMutex && !TakeRunningCopyMutex();
    settings = secondCopy ? std::make_unique<HostSettings>(effectName, std::make_shared<ReadOnlyStore>(makeUserSettingsStore()))
                          : std::make_unique<HostSettings>(effectName);
    settings->loadSettings(backends.set());
    settings->mergeMidiDevices(midi.devices);
    platform::startupTrace().stamp("settings-read");
    // Files named on the command line ("Foo.exe some.fxp"), opened once the state is restored.
    for (int i = 1; i < __argc && __wargv; ++i) {
        if (__wargv[i] && __wargv[i][0]) givenFiles.emplace_back(__wargv[i]);
    }

    // 5. Window size from the editor and the window's real frame (caption, menu and border
    // differ between systems), centred on the screen.
    FitEditor(editor.right, editor.bottom);
    RECT work{}, frame{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    GetWindowRect(hwnd(), &frame);
    SetWindowPos(hwnd(), nullptr, work.left + (work.right - work.left - (frame.right - frame.left)) / 2,
                 work.top + (work.bottom - work.top - (frame.bottom - frame.top)) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);

    // 6. The editor. It may ask for another size from inside effEditOpen already, and many
    // editors report their real size only once they are open.
    slot.installSizeWindowHook(&OnEditorSize, this);
    pluginWindow.onTick = [this] {
        if (!shutDown && !closePending) engineWatch.tick();
        // The audio thread only marks its first block; the file is written here.
        if (platform::startupTrace().firstBlockUnwritten()) platform::startupTrace().write();
    };
    pluginWindow.SetupEditor(&slot, &coordinator, hwnd());
    const EditorExtent opened = editorExtentOf(slot);
    if (opened.right != editor.right || opened.bottom != editor.bottom) FitEditor(opened.right, opened.bottom);
    // A size the plug-in asked for before there was a window (at effOpen) applies now.
    if (const std::optional<EarlyEditorSize> early = takeEarlyEditorSize()) {
        FitEditor(early->width, early->height);
        editorSizes.placed(early->width, early->height);
    }
    platform::startupTrace().stamp("editor-open");
    // Where the window was at the end of the last run, now that its size is known.
    RestoreWindowPosition();

    // 7. Coordinator links.
    coordinator.link(&slot, &backends.set(), &midi, settings.get());

    // 8. The plug-in's saved state, before any block is processed: a plug-in need not be
    // ready for its state to change while it processes. What the end of the last session had to
    // keep elsewhere is handed back, and the user told where it was.
    // Reset to Default hands back what the plug-in had before it: kept now.
    defaultState.capture(slot);
    const auto kept = coordinator.LoadChunk();
    if (!kept.empty()) TellKeptFiles(kept);
    // A preset on the command line comes over the restored state.
    for (const std::wstring& file : givenFiles) {
        if (isPresetFileName(platform::pathFromWide(file))) OpenGivenFile(file);
    }

    // 9. Audio engine.
    SetCursor(LoadCursorW(nullptr, IDC_ARROW));
    if (!takesNoAudioInput(slot)) coordinator.inputMuted = StoredInputMuted();
    StartAudioAtStartup();
    platform::startupTrace().stamp("engine-started");
    ShowCaptionName();

    // 10. MIDI engine.
    if (!coordinator.StartMidiEngine()) {
        ShowMessage(kMidiEngineErrorText, kErrorCaption);
        OpenModeless(ModelessWindow::MidiSettings, false);
    }
    platform::startupTrace().stamp("midi-opened");

    // 11. Transport.
    ApplyStartupTransport();

    // 12. - 15. Menu for this plug-in.
    HMENU menu = GetMenu(hwnd());
    if (!menu) return FALSE;
    isVendorPlugin = slot.checkVendor();
    engineWatch.follow();
    AdjustMenu(menu);
    AddMuteInputItem(menu);

    // 16. The player window, if the user asked for it at start.
    if (settings->openPlayerOnStartup) OnCommand(ID_FILE_AUDIOPLAYER, 0, nullptr);
    // An audio file on the command line is the player's input (the engine runs by now).
    for (const std::wstring& file : givenFiles) {
        if (!isPresetFileName(platform::pathFromWide(file))) OpenGivenFile(file);
    }
    givenFiles.clear();
    // From here on the window keeps answering while an engine start or stop is waited for.
    coordinator.setWaitHook(&pumpMessagesWhileEngineWaits, nullptr);

    // 17.
    return TRUE;
}

void CVLVSTHostDlg::StartAudioAtStartup() {
    if (coordinator.StartAudioEngine()) return;
    if (settings->outputDevice) {
        // A start refused for a missing input device has shown its own message.
        if (!coordinator.startFailureTold()) ShowMessage(kAudioEngineErrorText, kErrorCaption);
        OpenModeless(ModelessWindow::AudioSettings, true);
        return;
    }
    // Either a first start, or the stored interface is off or unplugged: then the defaults
    // play for this run only, and the user's choice stays stored.
    const std::wstring missing = StoredOutputName();
    if (!settings->chooseDefaultAudioDevices(backends.wasapi())) return;
    // At the first start an effect would send the default microphone straight to the
    // speakers (feedback on a laptop): it starts with its input muted.
    const bool firstStart = missing.empty();
    settings->audioDevicesAreFallback = !firstStart;
    if (firstStart && settings->inputDevice && !takesNoAudioInput(slot)) coordinator.inputMuted = true;
    if (!coordinator.StartAudioEngine()) {
        OpenModeless(ModelessWindow::AudioSettings, true);
    } else if (firstStart) {
        settings->saveSettings();
        if (coordinator.inputMuted) SetInputMuted(true);
    } else {
        ShowMessage(missingDeviceText(missing).c_str(), kWarningCaption);
    }
}

namespace {
constexpr wchar_t kInputMutedValue[] = L"InputMuted";
}

bool CVLVSTHostDlg::StoredInputMuted() const {
    std::shared_ptr<KeyValueStore> store = makeUserSettingsStore();
    ScopedKey root(*store, store->openKey(settings->keyPath));
    uint32_t muted = 0;
    if (root) store->readDword(root.get(), kInputMutedValue, muted);
    return muted != 0;
}

void CVLVSTHostDlg::SetInputMuted(bool muted) {
    coordinator.inputMuted = muted;
    if (!secondCopy) {
        std::shared_ptr<KeyValueStore> store = makeUserSettingsStore();
        ScopedKey root(*store, store->createKey(settings->keyPath));
        if (root) {
            store->deleteValue(root.get(), kInputMutedValue);
            store->writeDword(root.get(), kInputMutedValue, muted ? 1u : 0u);
        }
    }
    if (HMENU menu = GetMenu(hwnd())) CheckMenuItem(menu, ID_FILE_MUTEINPUT, MF_BYCOMMAND | (muted ? MF_CHECKED : MF_UNCHECKED));
    ShowCaptionName();
}

void CVLVSTHostDlg::AddMuteInputItem(HMENU menu) {
    HMENU file = GetSubMenu(menu, MENU_POS_FILE);
    if (!file || takesNoAudioInput(slot)) return;
    // Right after "Panic", so the positions the menu variants remove stay as they are.
    const int count = GetMenuItemCount(file);
    int at = count;
    for (int i = 0; i < count; ++i) {
        if (GetMenuItemID(file, i) == ID_FILE_PANIC) at = i + 1;
    }
    const UINT checked = coordinator.inputMuted ? MF_CHECKED : MF_UNCHECKED;
    InsertMenuW(file, static_cast<UINT>(at), MF_BYPOSITION | MF_STRING | checked, ID_FILE_MUTEINPUT, kMuteInputItemText);
}

void CVLVSTHostDlg::ShowCaptionName() {
    const std::wstring name = presetCaptionName(effectName, captionProgram);
    effectCaption = secondCopy ? secondCopyCaption(name) : name;
    if (coordinator.inputMuted && !takesNoAudioInput(slot)) effectCaption = mutedInputCaption(effectCaption);
    pluginWindow.SetCaptionName(effectCaption);
    if (!coordinator.engineRunning.load(std::memory_order_acquire)) SetWindowTextW(hwnd(), effectCaption.c_str());
}

std::wstring CVLVSTHostDlg::StoredOutputName() const {
    std::shared_ptr<KeyValueStore> store = makeUserSettingsStore();
    ScopedKey host(*store, store->openKey(settings->keyPath + L"\\Host"));
    std::wstring name;
    if (host) store->readString(host.get(), L"AudioDeviceOut Name", name);
    return name;
}

void CVLVSTHostDlg::ApplyStartupTransport() {
    const StartupTransport start =
        transportAtStartup(settings->anyClockSync(), slot.effectName(), coordinator.transportPlaying());
    if (!start.apply) return;
    // requestedPlaying is published before the request that announces it.
    coordinator.requestedPlaying.store(start.change.requestedPlaying, std::memory_order_release);
    if (start.change.setRequest) coordinator.transportRequest.store(true, std::memory_order_release);
}

void CVLVSTHostDlg::ToggleTransport() {
    const TransportChange change =
        spaceToggle(coordinator.requestedPlaying.load(std::memory_order_acquire), coordinator.transportPlaying());
    coordinator.requestedPlaying.store(change.requestedPlaying, std::memory_order_release);
    if (change.setRequest) coordinator.transportRequest.store(true, std::memory_order_release);
}

void CVLVSTHostDlg::SetEngineItemText(HMENU menu, bool running) {
    MENUITEMINFOW item{};
    item.cbSize = sizeof item;
    item.fMask = MIIM_STRING;
    item.dwTypeData = const_cast<wchar_t*>(engineItemText(running));
    SetMenuItemInfoW(menu, ID_FILE_AUDIOENGINE, FALSE, &item);
}

void CVLVSTHostDlg::AdjustMenu(HMENU menu) {
    const MenuVariant variant = menuVariant(isVendorPlugin, isVendorPlugin && slot.canDo("hasAboutScreen"));
    for (const MenuRemoval& removal : menuRemovals(variant)) {
        if (HMENU popup = GetSubMenu(menu, removal.menu)) DeleteMenu(popup, removal.position, MF_BYPOSITION);
    }
    DrawMenuBar(hwnd());
}

void CVLVSTHostDlg::OpenModeless(ModelessWindow which, bool applyEnabledAtStart) {
    if (shutDown || closePending) return;  // the window would outlive what it works on
    platform::Dialog* open = nullptr;
    switch (which) {
        case ModelessWindow::AudioSettings: open = audioSettingsDialog; break;
        case ModelessWindow::MidiSettings: open = midiSettingsDialog; break;
        case ModelessWindow::Tempo: open = tempoDialog; break;
        case ModelessWindow::Player: open = playerDialog; break;
    }
    if (open && open->hwnd()) {
        SetForegroundWindow(open->hwnd());
        return;
    }
    // The windows are created modeless, with this window as parent; each clears its pointer
    // when it is destroyed.
    if (!settings) return;
    platform::ModelessWindow* created = nullptr;
    platform::Dialog** slotOf = nullptr;
    switch (which) {
        case ModelessWindow::AudioSettings:
            created = new dialogs::CPropAudioDevicesDlg(backends.set(), *settings, coordinator, takesNoAudioInput(slot),
                                                        applyEnabledAtStart, &messageSink);
            slotOf = &audioSettingsDialog;
            break;
        case ModelessWindow::MidiSettings:
            created = new dialogs::CPropMidiDevicesDlg(coordinator, midi, *settings, midiCapabilitiesOf(slot),
                                                       &messageSink);
            slotOf = &midiSettingsDialog;
            break;
        case ModelessWindow::Tempo:
            created = new dialogs::CPropTempoDlg(coordinator, *settings, &messageSink);
            slotOf = &tempoDialog;
            break;
        case ModelessWindow::Player:
            created = new dialogs::AudioFileDlg(coordinator, *settings, slot.isSynth(), &messageSink);
            slotOf = &playerDialog;
            break;
    }
    *slotOf = created;
    created->onClosed = [slotOf] { *slotOf = nullptr; };
    if (!created->CreateModeless(hwnd())) {
        *slotOf = nullptr;
        delete created;
    }
}

void CVLVSTHostDlg::CloseModelessWindows() {
    for (platform::Dialog* open : {audioSettingsDialog, midiSettingsDialog, tempoDialog, playerDialog}) {
        if (open && open->hwnd()) DestroyWindow(open->hwnd());
    }
}

void CVLVSTHostDlg::ToggleEngine() {
    if (GetMenu(hwnd())) engineWatch.toggle();
}

void CVLVSTHostDlg::showEngineState(bool running) {
    if (HMENU menu = GetMenu(hwnd())) SetEngineItemText(menu, running);
    // While running, the editor's timer writes the status caption; a stopped engine's figures
    // would be stale.
    if (!running) SetWindowTextW(hwnd(), effectCaption.c_str());
}

void CVLVSTHostDlg::tellDeviceFailed(const std::wstring& deviceName) {
    ShowMessage(deviceFailedText(deviceName).c_str(), kErrorCaption);
}

void CVLVSTHostDlg::tellStartFailed() { ShowMessage(kAudioEngineErrorText, kErrorCaption); }

void CVLVSTHostDlg::offerAudioSettings() { OpenModeless(ModelessWindow::AudioSettings, true); }

bool CVLVSTHostDlg::OnEditorSize(int width, int height, void* user) {
    auto* self = static_cast<CVLVSTHostDlg*>(user);
    if (!self || !self->hwnd()) return false;
    // A plug-in thread (the audio thread among them) must not wait for the user-interface
    // thread: the size is handed over, the newest only and one message at a time (the
    // shut-down, which removes this hook first, is checked there).
    if (GetCurrentThreadId() != self->uiThread) {
        if (self->editorSizes.offer(width, height)) PostMessageW(self->hwnd(), kEditorSizeMessage, 0, 0);
        return true;
    }
    if (self->shutDown) return false;
    self->FitEditor(width, height);
    self->editorSizes.placed(width, height);
    return true;
}

void CVLVSTHostDlg::TakeEditorSize() {
    const std::optional<EditorSizeMailbox::Request> size = editorSizes.take();
    if (!size || shutDown) return;
    FitEditor(size->width, size->height);
    if (editorSizes.applied(size->width, size->height)) PostMessageW(hwnd(), kEditorSizeMessage, 0, 0);
}

void CVLVSTHostDlg::FitEditor(int width, int height) {
    if (width <= 0 || height <= 0) return;
    if (HWND editor = pluginWindow.hwnd()) SetWindowPos(editor, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    RECT frame{}, client{};
    GetWindowRect(hwnd(), &frame);
    GetClientRect(hwnd(), &client);
    // The screen the window is on: a window restored to a second screen stays there.
    const RECT work = workAreaOf(hwnd());
    const Size size = mainWindowForEditor(
        Size{width, height},
        Size{(frame.right - frame.left) - (client.right - client.left), (frame.bottom - frame.top) - (client.bottom - client.top)},
        Size{work.right - work.left, work.bottom - work.top});
    // Kept inside the work area: a grown window moves up and left rather than off the screen.
    const int x = std::max<int>(work.left, std::min<int>(frame.left, work.right - size.width));
    const int y = std::max<int>(work.top, std::min<int>(frame.top, work.bottom - size.height));
    SetWindowPos(hwnd(), nullptr, x, y, size.width, size.height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void CVLVSTHostDlg::ShowPathTooLong() {
    wchar_t probe[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameW(nullptr, probe, MAX_PATH);
    if (length < MAX_PATH) return;  // a path shorter than 3 characters: nothing to say
    ShowMessage(kPathTooLongText, kErrorCaption);
    PostMessageW(hwnd(), WM_CLOSE, 0, 0);
}

bool CVLVSTHostDlg::OnCommand(WORD id, WORD, HWND) {
    switch (id) {
        case ID_FILE_AUDIOSETTINGS: OpenModeless(ModelessWindow::AudioSettings, false); return true;
        case ID_FILE_MIDISETTINGS: OpenModeless(ModelessWindow::MidiSettings, false); return true;
        case ID_FILE_TEMPO:
            if (settings && settings->anyClockSync()) {
                ShowMessage(kTempoSyncedText, kWarningCaption);
            } else {
                OpenModeless(ModelessWindow::Tempo, false);
            }
            return true;
        case ID_FILE_AUDIOENGINE: ToggleEngine(); return true;
        case ID_FILE_AUDIOPLAYER: OpenModeless(ModelessWindow::Player, false); return true;
        case ID_FILE_PANIC: coordinator.Panic(); return true;
        case ID_FILE_MUTEINPUT: SetInputMuted(!coordinator.inputMuted); return true;
        case ID_PRESET_LOAD: AskAndLoadPreset(); return true;
        case ID_PRESET_SAVE: AskAndSavePreset(PresetKind::Program); return true;
        case ID_PRESET_SAVEBANK: AskAndSavePreset(PresetKind::Bank); return true;
        case ID_PRESET_RENAME: RenameCurrentProgram(); return true;
        case ID_PRESET_RESET: ResetToDefault(); return true;
        case ID_FILE_EXIT:
            // The shut-down saves the state, once the engine has stopped.
            if (MainWindow()) SendMessageW(MainWindow()->hwnd(), WM_CLOSE, 0, 0);
            return true;
        case ID_HELP_HELP:
            if (isVendorPlugin) slot.showHelp();
            else ShowMessage(kVendorOnlyText, kErrorCaption);
            return true;
        case ID_HELP_CHECKFORUPDATES:
            if (isVendorPlugin) slot.checkForUpdates();
            else ShowMessage(kVendorOnlyText, kErrorCaption);
            return true;
        case ID_HELP_ABOUT:
            if (isVendorPlugin) {
                slot.showAboutScreen();
            } else {
                CHostAbout about;
                about.RunSystemModal(hwnd());
            }
            return true;
        default:
            if (const std::optional<int> program = programOfCommand(id, programCount(slot))) {
                ChooseProgram(*program);
                return true;
            }
            return false;
    }
}

// Enter never ends the host: it belongs to the editor. Exit, the close box and Alt+F4 do.
void CVLVSTHostDlg::OnOK() {}

void CVLVSTHostDlg::OnCancel() {
    // A close never answers a question the user has open (a take waiting for "Save As" would
    // be thrown away): the question comes to the front and the close is dropped, as while the
    // exit's own question is open.
    if (BringOpenBoxToFront() || askingAtExit) return;
    // Inside an engine call's wait the call is still on the stack (a settings window's Apply,
    // whose window the shut-down would destroy): the close comes once the call has returned.
    if (engineWaitPumping()) {
        if (!closePending) SetTimer(hwnd(), kDeferredCloseTimer, kDeferredCloseMs, nullptr);
        closePending = true;
        return;
    }
    Shutdown();
    platform::Dialog::OnCancel();
}

namespace {

struct BoxSearch {
    HWND main;
    std::vector<HWND> modeless;
    std::vector<HWND> boxes;
};

BOOL CALLBACK collectBox(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<BoxSearch*>(data);
    if (window == search->main || !IsWindowVisible(window)) return TRUE;
    if (std::find(search->modeless.begin(), search->modeless.end(), window) != search->modeless.end()) return TRUE;
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    // A box or file dialog runs its loop with its owner disabled; a plug-in's own modeless
    // dialog leaves it enabled and never holds a close back.
    HWND owner = GetWindow(window, GW_OWNER);
    if (std::wstring(name) == L"#32770" && owner && !IsWindowEnabled(owner)) search->boxes.push_back(window);
    return TRUE;
}

}  // namespace

bool CVLVSTHostDlg::BringOpenBoxToFront() {
    BoxSearch search{hwnd(), {}, {}};
    for (platform::Dialog* open : {audioSettingsDialog, midiSettingsDialog, tempoDialog, playerDialog}) {
        if (open && open->hwnd()) search.modeless.push_back(open->hwnd());
    }
    EnumThreadWindows(GetCurrentThreadId(), &collectBox, reinterpret_cast<LPARAM>(&search));
    if (search.boxes.empty()) return false;
    // The topmost of them is the one whose loop runs now.
    HWND box = search.boxes.front();
    SetForegroundWindow(box);
    SetActiveWindow(box);
    FlashWindow(box, TRUE);
    return true;
}

void CVLVSTHostDlg::StopEnginesAndSaveState() {
    coordinator.StopAudioEngine();
    if (coordinator.linked()) coordinator.StopMidiEngine();  // closes the devices, ends clock sync
    coordinator.SavePendingTempo();  // a tempo the plug-in set since the last caption tick
    if (MayWriteState()) SaveStateOrAsk();
}

bool CVLVSTHostDlg::TakeRunningCopyMutex() {
    // Free, or left behind by a copy that ended without releasing it: ours now.
    const DWORD taken = WaitForSingleObject(runningCopyMutex, 0);
    return taken == WAIT_OBJECT_0 || taken == WAIT_ABANDONED;
}

bool CVLVSTHostDlg::MayWriteState() {
    // A second copy whose first copy has ended since is the only one left: it saves.
    if (secondCopy && runningCopyMutex && TakeRunningCopyMutex()) {
        secondCopy = false;
        ShowCaptionName();
    }
    return !secondCopy;
}

void CVLVSTHostDlg::SaveStateOrAsk() {
    // At the end of a session no one can be asked: what cannot be written goes to a second
    // place, and the next start tells and brings it back.
    if (stateSavedForSessionEnd) {
        coordinator.SaveChunkForSessionEnd();
        return;
    }
    // Before the plug-in is closed, while its state can still be taken: the user hears which
    // file could not be written and why, and retries or quits without saving.
    for (;;) {
        const auto result = coordinator.SaveChunk();
        if (result.saved) return;
        const std::wstring text = stateSaveFailedText(result.file.wstring(), result.reason);
        if (MessageBoxW(hwnd(), text.c_str(), kErrorCaption, MB_RETRYCANCEL | MB_ICONERROR) != IDRETRY) return;
    }
}

void CVLVSTHostDlg::TellKeptFiles(const std::vector<VLVSTHostInterface::KeptFile>& kept) {
    std::vector<KeptFileText> files;
    for (const auto& file : kept) files.push_back({file.keptAt.wstring(), file.home.wstring(), file.movedHome});
    ShowMessage(keptFilesText(files).c_str(), kWarningCaption);
}

void CVLVSTHostDlg::Shutdown() {
    if (shutDown || askingAtExit) return;
    // While the window can still ask: a running recording is offered for saving. A close that
    // comes meanwhile is ignored, so that it cannot cancel the question and lose the take.
    askingAtExit = true;
    if (auto* player = dynamic_cast<dialogs::AudioFileDlg*>(playerDialog)) player->OfferRecording();
    askingAtExit = false;
    StoreWindowPosition();
    shutDown = true;
    // No engine starts from here on, whatever a closing window does; the windows go first,
    // as they work on the engine and the settings.
    coordinator.beginShutdown();
    CloseModelessWindows();
    StopEnginesAndSaveState();
    pluginWindow.editorClosing = true;
    slot.installSizeWindowHook(nullptr, nullptr);
    // A plug-in without an editor was never sent effEditOpen: nothing to close.
    if (!pluginWindow.showsGenericEditor()) slot.editClose();
    slot.close();
}

INT_PTR CVLVSTHostDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
    handled = true;
    switch (message) {
        case WM_PAINT:
            if (IsIconic(hwnd())) {
                PaintMinimised();
                return 0;
            }
            break;
        case WM_QUERYDRAGICON: return reinterpret_cast<INT_PTR>(icon);
        case WM_SHOWWINDOW:
            if (wParam) platform::startupTrace().stamp("window-shown");
            handled = false;
            return 0;
        case WM_ACTIVATEAPP:
        case WM_ACTIVATE:
        case WM_ENABLE:
        case WM_ENTERMENULOOP:
        case WM_ENTERSIZEMOVE:
            // Another window, a menu or a move takes the keyboard: releases would never reach
            // the key handling, and the notes would hang.
            if (endsKeyboardNotes(message, wParam)) coordinator.ReleaseKeyboardNotes();
            break;
        case kEditorSizeMessage: TakeEditorSize(); return 0;
        case WM_INITMENUPOPUP:
            if (HMENU menu = GetMenu(hwnd()); menu && reinterpret_cast<HMENU>(wParam) == GetSubMenu(menu, MENU_POS_PRESET))
                FillPresetMenu(reinterpret_cast<HMENU>(wParam));
            handled = false;
            return 0;
        case WM_DROPFILES: OnDropFiles(reinterpret_cast<HDROP>(wParam)); return 0;
        case WM_TIMER:
            if (wParam != kDeferredCloseTimer) break;
            // The engine call that held the close has returned.
            if (!engineWaitPumping()) {
                KillTimer(hwnd(), kDeferredCloseTimer);
                closePending = false;
                PostMessageW(hwnd(), WM_CLOSE, 0, 0);
            }
            return 0;
        case WM_QUERYENDSESSION: return TRUE;
        case WM_ENDSESSION:
            // The session ends without a close message: the engines are stopped and the
            // plug-in's state is saved now, as the shut-down would.
            if (wParam && !shutDown && !stateSavedForSessionEnd) {
                stateSavedForSessionEnd = true;
                StoreWindowPosition();
                coordinator.SaveRecordingForSessionEnd();  // no one to ask: kept beside the state
                // The state first: a driver that hangs in its stop must not take it along.
                coordinator.SavePendingTempo();
                if (MayWriteState()) SaveStateOrAsk();  // what cannot be written goes to a second place
                coordinator.StopAudioEngine();
                if (coordinator.linked()) coordinator.StopMidiEngine();
            }
            return 0;
        default:
            if (testQueryMessage && message == testQueryMessage) {
                AnswerTestQuery(reinterpret_cast<HWND>(wParam), lParam);
                return 1;
            }
            break;
    }
    handled = false;
    return 0;
}

void CVLVSTHostDlg::PaintMinimised() {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(hwnd(), &paint);
    SendMessageW(hwnd(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client{};
    GetClientRect(hwnd(), &client);
    const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc, x, y, icon);
    EndPaint(hwnd(), &paint);
}

namespace {

// One line per entry of a popup and its submenus (see kQueryPresetMenu).
void describeMenu(HMENU popup, const std::wstring& prefix, std::wstring& answer) {
    const int items = popup ? GetMenuItemCount(popup) : 0;
    for (int i = 0; i < items; ++i) {
        wchar_t text[256] = {};
        MENUITEMINFOW item{};
        item.cbSize = sizeof item;
        item.fMask = MIIM_ID | MIIM_FTYPE | MIIM_STRING | MIIM_STATE | MIIM_SUBMENU;
        item.dwTypeData = text;
        item.cch = 255;
        GetMenuItemInfoW(popup, static_cast<UINT>(i), TRUE, &item);
        const bool separator = (item.fType & MFT_SEPARATOR) != 0;
        std::wstring flags;  // a separator's state says nothing (Wine reports it greyed)
        if (!separator && (item.fState & MFS_CHECKED)) flags += L'c';
        if (!separator && (item.fState & MFS_GRAYED)) flags += L'g';
        if (item.hSubMenu) flags += L's';
        const std::wstring position = prefix + std::to_wstring(i);
        answer += position + L":" + std::to_wstring(separator || item.hSubMenu ? 0 : item.wID) + L":" +
                  (flags.empty() ? L"-" : flags) + L":" + (separator ? L"" : text) + L"\n";
        if (item.hSubMenu) describeMenu(item.hSubMenu, position + L".", answer);
    }
}

}  // namespace

void CVLVSTHostDlg::AnswerTestQuery(HWND replyTo, LPARAM query) {
    if (!replyTo || (query != kQueryMenu && query != kQueryPresetMenu)) return;
    std::wstring answer;
    HMENU menu = GetMenu(hwnd());
    const int menus = menu && query == kQueryMenu ? GetMenuItemCount(menu) : 0;
    if (menu && query == kQueryPresetMenu) describeMenu(GetSubMenu(menu, MENU_POS_PRESET), L"", answer);
    for (int m = 0; m < menus; ++m) {
        HMENU popup = GetSubMenu(menu, m);
        const int items = popup ? GetMenuItemCount(popup) : 0;
        for (int i = 0; i < items; ++i) {
            wchar_t text[256] = {};
            MENUITEMINFOW item{};
            item.cbSize = sizeof item;
            item.fMask = MIIM_ID | MIIM_FTYPE | MIIM_STRING;
            item.dwTypeData = text;
            item.cch = 255;
            GetMenuItemInfoW(popup, static_cast<UINT>(i), TRUE, &item);
            const bool separator = (item.fType & MFT_SEPARATOR) != 0;
            answer += std::to_wstring(m) + L":" + std::to_wstring(i) + L":" +
                      std::to_wstring(separator ? 0 : item.wID) + L":" + (separator ? L"" : text) + L"\n";
        }
    }
    COPYDATASTRUCT data{};
    data.dwData = static_cast<ULONG_PTR>(query);
    data.cbData = static_cast<DWORD>((answer.size() + 1) * sizeof(wchar_t));
    data.lpData = answer.data();
    SendMessageW(replyTo, WM_COPYDATA, reinterpret_cast<WPARAM>(hwnd()), reinterpret_cast<LPARAM>(&data));
}

platform::Dialog* CVLVSTHostDlg::ModelessWindowOf(HWND target) const {
    for (platform::Dialog* open : {audioSettingsDialog, midiSettingsDialog, tempoDialog, playerDialog}) {
        if (open && open->hwnd() && (target == open->hwnd() || IsChild(open->hwnd(), target))) return open;
    }
    return nullptr;
}

namespace {

FocusKeys focusKeysOf(HWND control, MSG& message) {
    const LRESULT code = SendMessageW(control, WM_GETDLGCODE, message.wParam, reinterpret_cast<LPARAM>(&message));
    FocusKeys keys;
    keys.chars = (code & (DLGC_WANTCHARS | DLGC_WANTALLKEYS | DLGC_HASSETSEL | DLGC_WANTMESSAGE)) != 0;
    keys.button = (code & (DLGC_BUTTON | DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON | DLGC_RADIOBUTTON)) != 0;
    return keys;
}

}  // namespace

bool CVLVSTHostDlg::PreTranslateMessage(MSG& message) {
    const int key = static_cast<int>(message.wParam);
    const bool isKey = message.message >= WM_KEYFIRST && message.message <= WM_KEYLAST;
    const KeyMessage kind = classifyKeyMessage(message.message, isKey && coordinator.keyHoldsNote(key & 0xFF));
    if (kind == KeyMessage::Other) return false;
    const bool keyDown = kind == KeyMessage::Down;
    const bool ctrl = keyHeld(VK_CONTROL);
    const bool alt = keyHeld(VK_MENU);

    // A release ends the note its press started, wherever the focus went and whatever
    // modifier is held now (with Alt it comes as a system key-up).
    if (kind == KeyMessage::NoteRelease) {
        const PluginKey forPlugin = pluginKey(key, keyHeld(VK_SHIFT), ctrl, alt);
        slot.editKeyUp(forPlugin.character, forPlugin.virtualKey, forPlugin.modifiers);
        coordinator.KeyboardNote(key & 0xFF, false);
        return true;
    }
    // In a settings window its own dialog keys come first (not swallowed here: the dialog
    // layer hands them to that window's dialog manager).
    if (ModelessWindowOf(message.hwnd) && dialogTakesKey(key, ctrl, alt, focusKeysOf(message.hwnd, message)))
        return false;

    const KeyDecision decision = routeKey(key, keyDown, ctrl, alt);
    switch (decision.route) {
        case KeyRoute::Swallow: return true;
        case KeyRoute::Command: OnCommand(static_cast<WORD>(decision.command), 0, nullptr); return true;
        case KeyRoute::ToggleTransport: ToggleTransport(); return true;
        case KeyRoute::PanicKey:
            if (coordinator.KeyboardNote('P', true)) return true;
            break;
        case KeyRoute::General: break;
    }
    return GeneralKeyHandling(key, keyDown);
}

bool CVLVSTHostDlg::GeneralKeyHandling(int key, bool keyDown) {
    const PluginKey forPlugin = pluginKey(key, keyHeld(VK_SHIFT), keyHeld(VK_CONTROL), keyHeld(VK_MENU));
    const bool consumed = keyDown ? slot.editKeyDown(forPlugin.character, forPlugin.virtualKey, forPlugin.modifiers)
                                  : slot.editKeyUp(forPlugin.character, forPlugin.virtualKey, forPlugin.modifiers);
    if (consumed) return true;
    if (isVendorPlugin && slot.editorOwnsKeys()) return false;
    return coordinator.KeyboardNote(key & 0xFF, keyDown);
}

}  // namespace vl::app
