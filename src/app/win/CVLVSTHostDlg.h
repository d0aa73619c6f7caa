#pragma once
// CVLVSTHostDlg: the main window. It owns every long-lived part of the host (members in
// construction order below; destruction runs backwards, so the settings go first and the
// plug-in module is released last), runs the start-up, the menu commands, the key handling
// and the shut-down.

#include <windows.h>
#include <shellapi.h>

#include <memory>
#include <string>
#include <vector>

#include "app/EngineWatch.h"
#include "app/MainWindowIds.h"
#include "app/win/PluginWindow.h"
#include "audio/WindowsAudioBackends.h"
#include "host/PluginPresets.h"
#include "host/PluginSlot.h"
#include "host/VLVSTHostInterface.h"
#include "midi/VLMMMidi.h"
#include "platform/UserMessages.h"
#include "platform/win/Dialog.h"
#include "settings/HostSettings.h"

namespace vl::app {

// Environment variable that switches the test query message on (any non-empty value).
constexpr wchar_t kTestHooksVariable[] = L"VORLANE_HOST_TEST_HOOKS";
// Registered message of the test query: wParam = the window that receives the answer as
// WM_COPYDATA, lParam = the query. Menus cannot be read from another process.
constexpr wchar_t kTestQueryMessage[] = L"VorlaneHost.TestQuery";
enum TestQuery : LPARAM {
    kQueryMenu = 1,  // one line per menu entry: "<menu>:<position>:<id>:<text>", separators id 0
    // The Preset menu as it stands (it is filled when it opens), submenus included: one line per
    // entry, "<position>[.<position>]:<id>:<flags>:<text>", flags "c" checked, "g" greyed, "s"
    // a submenu, "-" none; separators id 0.
    kQueryPresetMenu = 2,
};

// Message boxes of the engine, owned by the main window.
class MessageBoxSink final : public platform::MessageSink {
public:
    explicit MessageBoxSink(HWND* owner) : owner(owner) {}
    platform::MessageAnswer show(const platform::UserMessage& message) override;
    // Its computer-keyboard notes end when a box opens.
    VLVSTHostInterface* keyboard = nullptr;

private:
    HWND* owner;
};

class CVLVSTHostDlg : public platform::Dialog, private EngineView {
public:
    CVLVSTHostDlg();
    ~CVLVSTHostDlg() override;

    // Stops the engines, saves the plug-in's state and closes its editor and the plug-in.
    // Runs once, before the window goes away, whichever way it ends.
    virtual void Shutdown();

protected:
    BOOL OnInitDialog() override;
    bool OnCommand(WORD id, WORD code, HWND control) override;
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;
    bool PreTranslateMessage(MSG& message) override;
    // Keys of the editor go to the editor, not to the dialog manager (Enter is no "OK" here).
    bool UsesDialogKeys() const override { return false; }
    void OnOK() override;
    void OnCancel() override;

private:
    // The modeless windows of later dialogs; each stays at most once.
    enum class ModelessWindow { AudioSettings, MidiSettings, Tempo, Player };

    void DoDataExchange();
    void OpenModeless(ModelessWindow which, bool applyEnabledAtStart);
    void CloseModelessWindows();
    void ShowMessage(const wchar_t* text, const wchar_t* caption);
    void StartAudioAtStartup();
    void ApplyStartupTransport();
    void AdjustMenu(HMENU menu);
    void SetEngineItemText(HMENU menu, bool running);
    void ToggleEngine();
    // EngineView: what the window shows of the engine.
    void showEngineState(bool running) override;
    void tellDeviceFailed(const std::wstring& deviceName) override;
    void tellStartFailed() override;
    void offerAudioSettings() override;
    // Brings a message box or file dialog of this thread to the front; true when one is open.
    // A close never answers it: each runs its own loop, which a shut-down must not run inside.
    bool BringOpenBoxToFront();
    // A size the plug-in asked for from another thread (see EditorSizeMailbox).
    void TakeEditorSize();
    // The modeless window that a key message is meant for, if any.
    platform::Dialog* ModelessWindowOf(HWND target) const;
    // The plug-in asks for another editor size: the editor and this window follow.
    static bool OnEditorSize(int width, int height, void* user);
    void FitEditor(int width, int height);
    void ShowPathTooLong();
    // The output device the user chose, as stored (empty before any choice).
    std::wstring StoredOutputName() const;
    // The input mute of an effect with audio inputs: its menu item, its stored value (per
    // effect, beside the settings) and the caption's note.
    void AddMuteInputItem(HMENU menu);
    void SetInputMuted(bool muted);
    bool StoredInputMuted() const;
    void ShowCaptionName();
    void ToggleTransport();
    bool GeneralKeyHandling(int key, bool keyDown);
    // Shut-down steps up to the state save, also run when the session ends.
    void StopEnginesAndSaveState();
    // The mutex of the first copy for this effect: taken at start, and again at the end by a
    // second copy whose first one has gone (which then saves the state).
    bool TakeRunningCopyMutex();
    bool MayWriteState();
    // The state save at the end: a failure is told with Retry or quit without saving; at the
    // session's end the state goes to a second place instead.
    void SaveStateOrAsk();
    void TellKeptFiles(const std::vector<VLVSTHostInterface::KeptFile>& kept);
    void AnswerTestQuery(HWND replyTo, LPARAM query);

    // --- presets ------------------------------------------------------------------------
    // The Preset menu's entries, made when it opens: the file commands, the plug-in's programs
    // (the current one checked; groups of 32 in submenus), Rename Program and Reset to Default.
    void FillPresetMenu(HMENU preset);
    // The program names, asked once and again after whatever may have changed them (a load, a
    // rename, a reset); a plug-in that answers them by index is asked each time.
    const std::vector<std::string>& ProgramNames();
    bool LoadPresetFile(const std::wstring& path);  // false: refused, and the user told why
    void AskAndLoadPreset();
    void AskAndSavePreset(PresetKind kind);
    void ChooseProgram(int index);
    void RenameCurrentProgram();
    void ResetToDefault();
    // The caption names the current program from now on (a program chosen or a file loaded).
    void ShowCurrentProgram();
    // A file given on the command line or dropped on the window: a preset loads, an audio file
    // becomes the player's input.
    void OpenGivenFile(const std::wstring& path);
    void OpenInPlayer(const std::wstring& path);
    void OnDropFiles(HDROP drop);
    // The place of the main window: restored where it is visible on the screens of this run,
    // stored at the end.
    void RestoreWindowPosition();
    void StoreWindowPosition();
    void RememberPresetFolder(const std::wstring& file);
    void PaintMinimised();

    // --- members in construction order ------------------------------------------------
    PluginSlot slot;
    WindowsAudioBackends backends;
    VLMMMidi midi;
    platform::Dialog* audioSettingsDialog = nullptr;
    platform::Dialog* tempoDialog = nullptr;
    platform::Dialog* midiSettingsDialog = nullptr;
    platform::Dialog* playerDialog = nullptr;
    PluginWindow pluginWindow;
    VLVSTHostInterface coordinator;
    std::unique_ptr<HostSettings> settings;
    bool isVendorPlugin = false;
    HICON icon = nullptr;
    HICON smallIcon = nullptr;

    MessageBoxSink messageSink{&messageOwner};
    HWND messageOwner = nullptr;
    EngineWatch engineWatch{coordinator, *this};
    std::wstring effectName;     // as the plug-in gives it
    std::wstring effectCaption;  // the bare caption: the effect name and its notes
    DWORD uiThread = 0;
    bool shutDown = false;
    bool askingAtExit = false;  // the save question of a running recording is open
    bool closePending = false;  // a close waits for an engine call to return
    HANDLE runningCopyMutex = nullptr;
    bool secondCopy = false;  // another copy runs for this effect: nothing is written
    EditorSizeMailbox editorSizes;
    bool stateSavedForSessionEnd = false;
    UINT testQueryMessage = 0;
    DefaultState defaultState;  // right after the plug-in was opened, before its saved state
    std::vector<std::string> programNameCache;
    bool programNamesKnown = false;
    std::wstring captionProgram;  // the program the caption names; empty = none this session
    std::vector<std::wstring> givenFiles;  // on the command line, opened once the window runs
    bool positionRestored = false;         // the start-up placed the window: its place is stored at the end
};

}  // namespace vl::app
