#pragma once
// The application's rules that do not draw anything: how a key message is routed and
// translated for the plug-in, what the menu loses for which plug-in, whether the transport
// starts at start-up, the status caption, and the window size arithmetic. Portable, so that
// the native tests cover them; the Windows main window only applies the answers.

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vl::app {

// Windows virtual-key codes used by the rules (the values of <windows.h>).
namespace vk {
constexpr int Back = 0x08, Tab = 0x09, Clear = 0x0C, Return = 0x0D, Shift = 0x10, Control = 0x11, Menu = 0x12,
              Pause = 0x13, Escape = 0x1B, Space = 0x20, Prior = 0x21, Next = 0x22, End = 0x23, Home = 0x24,
              Left = 0x25, Up = 0x26, Right = 0x27, Down = 0x28, Select = 0x29, Print = 0x2A, Execute = 0x2B,
              Snapshot = 0x2C, Insert = 0x2D, Delete = 0x2E, Help = 0x2F, Numpad0 = 0x60, Numpad9 = 0x69,
              Multiply = 0x6A, Add = 0x6B, Separator = 0x6C, Subtract = 0x6D, Decimal = 0x6E, Divide = 0x6F,
              F1 = 0x70, F12 = 0x7B, Numlock = 0x90, Scroll = 0x91;
}  // namespace vk

// ---- keys ---------------------------------------------------------------------------------

// The plug-in's virtual key (VstVirtualKey) for a Windows virtual-key code; 0 when the code is
// not one of the 55 translated keys.
int32_t vstVirtualKey(int windowsKey);
// Number of entries of the translation table.
size_t vstVirtualKeyTableSize();
// The character handed with effEditKeyDown/Up: letters A..Z in lower case, others unchanged.
int32_t keyCharacter(int windowsKey);
// VstModifierKey bits: Shift 1, Alt 2, Ctrl 8.
int32_t modifierBits(bool shift, bool ctrl, bool alt);

enum class KeyRoute {
    General,          // the general handling (plug-in, then computer-keyboard notes)
    Swallow,          // marked handled, goes nowhere else
    Command,          // run the menu command in KeyDecision::command, then swallow
    PanicKey,         // Ctrl+X key-down: KeyboardNote("P"), swallowed if it answered true
    ToggleTransport,  // Space released: toggle the requested transport, then swallow
};

struct KeyDecision {
    KeyRoute route = KeyRoute::General;
    int command = 0;  // menu command id for KeyRoute::Command
};

// Routes a key-down or key-up message of the thread (Ctrl and Alt as held at that moment). The
// Ctrl shortcuts need Ctrl without Alt: AltGr arrives as Ctrl+Alt and types characters.
KeyDecision routeKey(int windowsKey, bool keyDown, bool ctrl, bool alt = false);

// Whether a key is one of the host's Ctrl shortcuts (A, M, T, R, P, X) with Ctrl and no Alt.
bool isHostShortcut(int windowsKey, bool ctrl, bool alt);

// What the focused control of a settings window takes, from its dialog code.
struct FocusKeys {
    bool chars = false;   // edits, lists and combo boxes: characters, Space, Back, Delete
    bool button = false;  // buttons and check boxes: Space presses them
};

// A key message for one of the host's modeless windows. true: the window's own dialog handling
// takes it and nothing else sees it (Esc, Enter, Tab and the arrows always; characters where
// the focused control takes them; Space on a button). false: the main window's key handling
// runs as everywhere else (the host's Ctrl shortcuts always, note keys on a plain button).
bool dialogTakesKey(int windowsKey, bool ctrl, bool alt, FocusKeys focus);

// What the general handling sends to the plug-in for one key message.
struct PluginKey {
    int32_t character = 0;
    int32_t virtualKey = 0;
    float modifiers = 0.0f;
};
PluginKey pluginKey(int windowsKey, bool shift, bool ctrl, bool alt);

// Window messages the rules below tell apart (the values of <windows.h>).
namespace wm {
constexpr unsigned Activate = 0x0006, Enable = 0x000A, ActivateApp = 0x001C, KeyDown = 0x0100, KeyUp = 0x0101,
                   SysKeyDown = 0x0104, SysKeyUp = 0x0105, EnterMenuLoop = 0x0211, EnterSizeMove = 0x0231;
constexpr uintptr_t kInactive = 0;  // WA_INACTIVE, and FALSE for the enable and activate-app messages
}  // namespace wm

// What the main window's pre-translation does with a message of the thread.
enum class KeyMessage {
    Other,        // not a key message it handles: the dialog layer goes on
    Down,         // a key-down: the routing above
    Up,           // a key-up: the routing above
    NoteRelease,  // the release of a key that holds a computer-keyboard note: it ends that note
};
// A release ends the note its press started whatever modifier is held now: with Alt held it
// arrives as a system key-up, which otherwise belongs to the menu.
KeyMessage classifyKeyMessage(unsigned message, bool keyHoldsNote);

// Whether a message of the main window means that releases may never reach its key handling:
// a modal loop of a menu or of moving and sizing starts (each takes the keys), the window is
// disabled (a box or dialog it owns opens), or it or the application loses the keyboard.
// The computer-keyboard notes are ended then, else they would hang.
bool endsKeyboardNotes(unsigned message, uintptr_t wParam);

// ---- editor size requests -------------------------------------------------------------------

// Sizes the plug-in asks for from a thread other than the user-interface thread (the audio
// thread among them): only the latest one is kept, one message at a time is posted for it,
// and a request for the size already in place posts nothing. No lock, no allocation, no wait.
class EditorSizeMailbox {
public:
    struct Request {
        int width = 0, height = 0;
    };
    // Any thread. true: the caller posts one message to the user-interface thread.
    bool offer(int width, int height);
    // User-interface thread, at that message: the size to apply, none when it is in place.
    // Then applied() must follow (with the size taken).
    std::optional<Request> take();
    // User-interface thread, after the size taken is in place. true: a newer request came
    // meanwhile and the caller posts one more message.
    bool applied(int width, int height);
    // User-interface thread: a size set without the mailbox (a request made on that thread, the
    // editor's first size) is the newest and in place.
    void placed(int width, int height);

private:
    static uint32_t pack(int width, int height);
    std::atomic<uint32_t> latest{0};     // the newest request, 0 = none
    std::atomic<uint32_t> inPlace{0};    // the size the window has
    std::atomic<bool> posted{false};     // a message is on its way
};

// ---- transport ----------------------------------------------------------------------------

struct TransportChange {
    bool setRequest = false;      // set the coordinator's transportRequest
    bool requestedPlaying = false;  // the value to store in requestedPlaying
};

// Space released: the requested state flips; a request is raised only when the new state
// differs from what the time information shows.
TransportChange spaceToggle(bool requestedPlaying, bool timeInfoPlaying);

// Start-up: the transport is asked to play unless a MIDI clock device is synced or the effect
// is one of the two that start stopped. effectName is the plug-in's 8-bit name as it stands in
// its buffer (up to the first zero byte); the comparison is byte-exact.
struct StartupTransport {
    bool apply = false;        // false: leave transportRequest and requestedPlaying alone
    TransportChange change{};  // when apply: what to store
};
StartupTransport transportAtStartup(bool anyClockSync, std::string_view effectName, bool timeInfoPlaying);

// ---- menu ---------------------------------------------------------------------------------

enum class MenuVariant {
    Foreign,             // no player item, Help menu only "About"
    VendorWithoutAbout,  // everything but "About"
    VendorFull,          // the menu as the resource defines it
};
MenuVariant menuVariant(bool isVendorPlugin, bool hasAboutScreen);

struct MenuRemoval {
    int menu;      // MENU_POS_FILE or MENU_POS_HELP
    int position;  // position inside that pull-down at the moment of the removal
};
// Removals in the order in which they are applied to the menu of the resource.
std::vector<MenuRemoval> menuRemovals(MenuVariant variant);

// Text of the engine switch item.
const wchar_t* engineItemText(bool running);

// ---- texts -------------------------------------------------------------------------------

// Message box captions and texts that both programs show.
inline constexpr wchar_t kErrorCaption[] = L"Error";
inline constexpr wchar_t kWarningCaption[] = L"Warning";
inline constexpr wchar_t kNoPluginText[] = L"Couldn't load Plugin!";
inline constexpr wchar_t kTempoSyncedText[] =
    L"The tempo is already synced by an external Midi device!\r\nTo change this open the Midi Settings Dialog.";
inline constexpr wchar_t kVendorOnlyText[] = L"This feature only works with Vorlane products!";

// ---- caption ------------------------------------------------------------------------------

// "<name> | Tempo: <tempo, two decimals> | CPU: <cpu>%" followed by a newline.
std::wstring statusCaption(std::wstring_view effectName, double tempo, int cpuPercent);

// The warning at start-up when the stored output device is not there.
std::wstring missingDeviceText(const std::wstring& deviceName);

// The box at the end when the plug-in's state could not be written (Retry / Cancel).
std::wstring stateSaveFailedText(const std::wstring& file, const std::wstring& reason);

// The notice at start-up about files the end of the last session kept in a second place.
struct KeptFileText {
    std::wstring keptAt;
    std::wstring home;  // empty when no place for it could be named
    bool movedHome = false;
};
std::wstring keptFilesText(const std::vector<KeptFileText>& files);

// The input mute's menu item, and the note the caption carries while the input is muted.
constexpr wchar_t kMuteInputItemText[] = L"Mute Audio Input";
std::wstring mutedInputCaption(const std::wstring& caption);

// ---- a second copy -------------------------------------------------------------------------

// Name of the per-user mutex that tells a running copy of the host for this effect (the same
// effect name, in any case, means the same settings key). effectName is the name the host keeps
// the effect under (effectIdentity: the executable's base name for a nameless plug-in).
std::wstring runningCopyMutexName(const std::wstring& effectName);
// The bare caption of a copy that keeps no settings and no state.
std::wstring secondCopyCaption(const std::wstring& effectName);

// ---- window sizes -------------------------------------------------------------------------

struct Rect {
    int left = 0, top = 0, right = 0, bottom = 0;
};
struct Placement {
    int x = 0, y = 0, width = 0, height = 0;
};

// The editor's extent as the windows use it: the right and bottom of the plug-in's rectangle,
// 16-bit signed values. Without a rectangle the plug-in slot's default size stands in.
struct EditorExtent {
    int16_t right = 0;
    int16_t bottom = 0;
};

// Main window: at the client rectangle's top-left corner, editor right + 6 wide and editor
// bottom + 46 high (both less the client origin). A rectangle with a negative extent gives an
// empty window rather than a negative size.
Placement mainWindowPlacement(const Rect& client, EditorExtent editor);
// Editor child window: the control's client size plus the editor's extent less 10 pixels.
Placement editorWindowPlacement(const Rect& client, EditorExtent editor);

// Main window size for an editor that asked for a new size: the editor's size plus the
// window's real frame (window size less client size, menu bar included), at most the work
// area. Sizes below 1 are taken as 1.
struct Size {
    int width = 0, height = 0;
};
Size mainWindowForEditor(Size editor, Size frame, Size workArea);

}  // namespace vl::app
