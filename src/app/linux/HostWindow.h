#pragma once
// The Linux application's main window: the plug-in's editor (an X11 child window), the status
// caption, the menu and the keys, over the same engine as the Windows program. The window
// only applies answers: the rules are the engine's, the app rules' and the dialog models'.

#include <QDialog>
#include <QMainWindow>
#include <QPointer>
#include <QTimer>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/AppRules.h"
#include "app/linux/EditorKeys.h"
#include "app/linux/KeyRepeat.h"
#include "app/linux/PresetMenu.h"
#include "app/linux/Process.h"
#include "audio/AudioDevice.h"
#include "audio/jack/VLJack.h"
#include "host/PluginSlot.h"
#include "host/VLVSTHostInterface.h"
#include "host/jack/JackTransportFollow.h"
#include "midi/jack/VLJackMidi.h"
#include "platform/UserMessages.h"
#include "settings/HostSettings.h"

class QAction;
class QDragEnterEvent;
class QDropEvent;
class QWidget;

namespace vl::linuxapp {

class GenericEditor;

// Texts of the Linux back end's failures.
inline constexpr wchar_t kJackNotRunningText[] =
    L"The JACK server is not running.\r\nStart it (or PipeWire's JACK service), then switch the Audio Engine on (Ctrl+R).";
inline constexpr wchar_t kJackShutDownText[] =
    L"The JACK server has shut down.\r\nThe Audio Engine is stopped.";

class MessageBoxSink : public platform::MessageSink {
public:
    explicit MessageBoxSink(QWidget* owner) : owner(owner) {}
    platform::MessageAnswer show(const platform::UserMessage& message) override;

private:
    QWidget* owner;
};

// Where this run lives: the command line's or a session manager's choice.
struct RunPlace {
    std::string clientName;               // the JACK client's name; empty = the effect's name
    std::filesystem::path sessionFolder;  // a session's folder for the state; empty = none
};

class HostWindow : public QMainWindow {
public:
    HostWindow();
    ~HostWindow() override;

    // The start-up sequence for the program invoked as `executable` (its plug-in is beside
    // it); false when there is no plug-in (the message has been shown).
    bool start(const std::filesystem::path& executable, const RunPlace& place = {});
    // A session manager's save: the settings and the plug-in's state, asking nothing. Answers
    // why it failed, none when saved.
    std::optional<std::wstring> saveForSession();
    // Preset files given on the command line: loaded after the state at start-up.
    void setStartupPresets(std::vector<std::filesystem::path> files) { startupPresets = std::move(files); }
    // A signal or the end of the X session: nobody is asked anything. A running take is kept
    // in the state folder, then the state is saved (the engines stop). Runs once.
    void saveWithoutAsking();
    // Every way out ends here (close box, Exit, SIGTERM, end of the session): the engines
    // stop, the plug-in's state is saved and its editor closed. Runs once.
    void shutdown();
    void stopEnginesAndSaveState();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    // A .fxp / .fxb dropped on the window loads; a WAV or AIFF opens in the Audio Player.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    enum class Modeless { Audio, Midi, Tempo, Player };
    // Each window exists at most once; its command again brings it to the front.
    QDialog* openWindow(Modeless which);
    // Where the window was last, if that is still on a screen.
    void restorePosition();
    void keepPosition();
    void closeWindows();
    void buildMenu();
    void runCommand(int command);
    void startAudioAtStartup();
    // The stored port choice into the server's records, and back after a start or an Apply.
    void restorePortChoice();
    void keepPortChoice();
    void toggleEngine();
    void reconnectMidi();
    // Ports that came on the server (a keyboard plugged in, a2jmidid) join the settings and
    // an open Midi Settings window; a source the settings have active plays at once.
    void followMidiPorts();
    // The connections the user removed from open MIDI devices, into the settings.
    void keepRemovedMidiConnections();
    void applyStartupTransport();
    void toggleTransport();
    bool routeKey(int key, bool keyDown, Qt::KeyboardModifiers modifiers);
    bool generalKeyHandling(int key, bool keyDown, Qt::KeyboardModifiers modifiers);
    void onIdle();
    void watchServer();
    void fitEditor();
    void resizeEditor(int width, int height);
    // audioMasterSizeWindow, from whichever thread the plug-in calls on. From another thread
    // (the audio thread among them) only the newest size is kept, and the idle tick applies
    // it: nothing is posted, allocated or waited for there, however often the plug-in asks.
    static bool onSizeWindow(int width, int height, void* user);
    void takeEditorSize();
    void showMessage(const wchar_t* text, const wchar_t* caption);
    // A second copy for the same effect stores nothing; it becomes the first when the first
    // has ended meanwhile (asked again before anything is written).
    bool mayWriteState();
    void showCaptionName();
    void setInputMuted(bool muted);
    void setEngineItem(bool running);

    PluginSlot slot;
    std::unique_ptr<VLJack> jack;
    std::unique_ptr<VLJackMidi> midi;
    AudioBackendSet backends;
    std::unique_ptr<HostSettings> settings;
    VLVSTHostInterface coordinator;
    JackTransportFollow follow{coordinator};
    MessageBoxSink messages{this};

    QPointer<QDialog> windows[4];
    QWidget* editorHost = nullptr;           // the plug-in's editor, or
    GenericEditor* genericEditor = nullptr;  // the host's own for a plug-in without one
    std::unique_ptr<EditorKeyFocus> editorKeys;
    QAction* engineAction = nullptr;
    QAction* followAction = nullptr;
    QAction* muteAction = nullptr;
    PresetMenu* presets = nullptr;
    std::vector<std::filesystem::path> startupPresets;
    std::wstring programShown;  // the program chosen or loaded this session, for the caption
    RunningCopyLock copyLock;
    std::filesystem::path copyLockFile;
    std::wstring caption;
    bool secondCopy = false;
    QTimer idleTimer;
    QTimer releaseTimer;
    KeyRepeatFilter keyRepeat;
    std::wstring effectName;
    app::EditorSizeMailbox editorSizes;
    std::thread::id uiThread;
    int editorWidth = 0;
    int editorHeight = 0;
    int rectWidth = 0;  // the editor's rectangle at the last look
    int rectHeight = 0;
    bool isVendorPlugin = false;
    bool editorOpen = false;
    bool shutDown = false;
    bool stateSaved = false;
};

}  // namespace vl::linuxapp
