#include "app/AppRules.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "app/MainWindowIds.h"
#include "settings/EffectName.h"
#include "vst/VstAbi.h"

namespace vl::app {

namespace {

struct KeyPair {
    int windowsKey;
    int32_t vstKey;
};

// Searched in this order, the first match wins. VKEY_NEXT and VKEY_EQUALS are never produced.
constexpr KeyPair kVirtualKeys[] = {
    {vk::Back, vst::VKEY_BACK},
    {vk::Tab, vst::VKEY_TAB},
    {vk::Clear, vst::VKEY_CLEAR},
    {vk::Return, vst::VKEY_RETURN},
    {vk::Pause, vst::VKEY_PAUSE},
    {vk::Escape, vst::VKEY_ESCAPE},
    {vk::Space, vst::VKEY_SPACE},
    {vk::End, vst::VKEY_END},
    {vk::Home, vst::VKEY_HOME},
    {vk::Left, vst::VKEY_LEFT},
    {vk::Up, vst::VKEY_UP},
    {vk::Right, vst::VKEY_RIGHT},
    {vk::Down, vst::VKEY_DOWN},
    {vk::Prior, vst::VKEY_PAGEUP},
    {vk::Next, vst::VKEY_PAGEDOWN},
    {vk::Select, vst::VKEY_SELECT},
    {vk::Print, vst::VKEY_PRINT},
    {vk::Execute, vst::VKEY_ENTER},
    {vk::Snapshot, vst::VKEY_SNAPSHOT},
    {vk::Insert, vst::VKEY_INSERT},
    {vk::Delete, vst::VKEY_DELETE},
    {vk::Help, vst::VKEY_HELP},
    {vk::Numpad0 + 0, vst::VKEY_NUMPAD0},
    {vk::Numpad0 + 1, vst::VKEY_NUMPAD1},
    {vk::Numpad0 + 2, vst::VKEY_NUMPAD2},
    {vk::Numpad0 + 3, vst::VKEY_NUMPAD3},
    {vk::Numpad0 + 4, vst::VKEY_NUMPAD4},
    {vk::Numpad0 + 5, vst::VKEY_NUMPAD5},
    {vk::Numpad0 + 6, vst::VKEY_NUMPAD6},
    {vk::Numpad0 + 7, vst::VKEY_NUMPAD7},
    {vk::Numpad0 + 8, vst::VKEY_NUMPAD8},
    {vk::Numpad0 + 9, vst::VKEY_NUMPAD9},
    {vk::Multiply, vst::VKEY_MULTIPLY},
    {vk::Add, vst::VKEY_ADD},
    {vk::Separator, vst::VKEY_SEPARATOR},
    {vk::Subtract, vst::VKEY_SUBTRACT},
    {vk::Decimal, vst::VKEY_DECIMAL},
    {vk::Divide, vst::VKEY_DIVIDE},
    {vk::F1 + 0, vst::VKEY_F1},
    {vk::F1 + 1, vst::VKEY_F2},
    {vk::F1 + 2, vst::VKEY_F3},
    {vk::F1 + 3, vst::VKEY_F4},
    {vk::F1 + 4, vst::VKEY_F5},
    {vk::F1 + 5, vst::VKEY_F6},
    {vk::F1 + 6, vst::VKEY_F7},
    {vk::F1 + 7, vst::VKEY_F8},
    {vk::F1 + 8, vst::VKEY_F9},
    {vk::F1 + 9, vst::VKEY_F10},
    {vk::F1 + 10, vst::VKEY_F11},
    {vk::F1 + 11, vst::VKEY_F12},
    {vk::Numlock, vst::VKEY_NUMLOCK},
    {vk::Scroll, vst::VKEY_SCROLL},
    {vk::Shift, vst::VKEY_SHIFT},
    {vk::Control, vst::VKEY_CONTROL},
    {vk::Menu, vst::VKEY_ALT},
};

// Ctrl shortcuts that run a menu command when the key is released.
struct CtrlCommand {
    int windowsKey;
    int command;
};
constexpr CtrlCommand kCtrlCommands[] = {
    {'A', ID_FILE_AUDIOSETTINGS}, {'M', ID_FILE_MIDISETTINGS}, {'T', ID_FILE_TEMPO},
    {'R', ID_FILE_AUDIOENGINE},   {'P', ID_FILE_AUDIOPLAYER},
};

}  // namespace

int32_t vstVirtualKey(int windowsKey) {
    for (const KeyPair& pair : kVirtualKeys) {
        if (pair.windowsKey == windowsKey) return pair.vstKey;
    }
    return 0;
}

size_t vstVirtualKeyTableSize() { return std::size(kVirtualKeys); }

int32_t keyCharacter(int windowsKey) { return windowsKey >= 'A' && windowsKey <= 'Z' ? windowsKey + 32 : windowsKey; }

int32_t modifierBits(bool shift, bool ctrl, bool alt) {
    return (shift ? vst::MODIFIER_SHIFT : 0) + (ctrl ? vst::MODIFIER_CONTROL : 0) + (alt ? vst::MODIFIER_ALTERNATE : 0);
}

bool isHostShortcut(int windowsKey, bool ctrl, bool alt) {
    if (!ctrl || alt) return false;
    if (windowsKey == 'X') return true;
    return std::any_of(std::begin(kCtrlCommands), std::end(kCtrlCommands),
                       [&](const CtrlCommand& shortcut) { return shortcut.windowsKey == windowsKey; });
}

namespace {

bool isCharacterKey(int key) {
    return (key >= '0' && key <= '9') || (key >= 'A' && key <= 'Z') || (key >= vk::Numpad0 && key <= vk::Divide) ||
           (key >= 0xBA && key <= 0xE2) || key == vk::Back || key == vk::Delete;
}

}  // namespace

bool dialogTakesKey(int windowsKey, bool ctrl, bool alt, FocusKeys focus) {
    if (isHostShortcut(windowsKey, ctrl, alt)) return false;
    switch (windowsKey) {
        case vk::Escape:
        case vk::Return:
        case vk::Tab:
        case vk::Left:
        case vk::Up:
        case vk::Right:
        case vk::Down:
        case vk::Prior:
        case vk::Next:
        case vk::Home:
        case vk::End: return true;
        case vk::Space: return focus.chars || focus.button;
        default: return isCharacterKey(windowsKey) && focus.chars;
    }
}

KeyDecision routeKey(int windowsKey, bool keyDown, bool ctrl, bool alt) {
    if (ctrl) {
        if (alt) return {KeyRoute::General, 0};  // AltGr: a character for the plug-in, no shortcut
        for (const CtrlCommand& shortcut : kCtrlCommands) {
            if (shortcut.windowsKey != windowsKey) continue;
            if (keyDown) return {KeyRoute::Swallow, 0};
            return {KeyRoute::Command, shortcut.command};
        }
        if (windowsKey == 'X') return keyDown ? KeyDecision{KeyRoute::PanicKey, 0} : KeyDecision{KeyRoute::Swallow, 0};
        return {KeyRoute::General, 0};
    }
    if (windowsKey == vk::Escape && keyDown) return {KeyRoute::Swallow, 0};
    if (windowsKey == vk::Space && !keyDown) return {KeyRoute::ToggleTransport, 0};
    return {KeyRoute::General, 0};
}

PluginKey pluginKey(int windowsKey, bool shift, bool ctrl, bool alt) {
    return {keyCharacter(windowsKey), vstVirtualKey(windowsKey), static_cast<float>(modifierBits(shift, ctrl, alt))};
}

KeyMessage classifyKeyMessage(unsigned message, bool keyHoldsNote) {
    switch (message) {
        case wm::KeyDown: return KeyMessage::Down;
        case wm::KeyUp: return keyHoldsNote ? KeyMessage::NoteRelease : KeyMessage::Up;
        case wm::SysKeyUp: return keyHoldsNote ? KeyMessage::NoteRelease : KeyMessage::Other;
        default: return KeyMessage::Other;
    }
}

bool endsKeyboardNotes(unsigned message, uintptr_t wParam) {
    switch (message) {
        case wm::EnterMenuLoop:
        case wm::EnterSizeMove: return true;
        case wm::Activate: return (wParam & 0xFFFF) == wm::kInactive;
        case wm::Enable:
        case wm::ActivateApp: return wParam == wm::kInactive;
        default: return false;
    }
}

uint32_t EditorSizeMailbox::pack(int width, int height) {
    return (static_cast<uint32_t>(width & 0xFFFF) << 16) | static_cast<uint32_t>(height & 0xFFFF);
}

bool EditorSizeMailbox::offer(int width, int height) {
    const uint32_t size = pack(width, height);
    latest.store(size, std::memory_order_seq_cst);
    // A message on its way reads the newest request when it arrives.
    if (posted.load(std::memory_order_seq_cst)) return false;
    if (size == inPlace.load(std::memory_order_seq_cst)) return false;
    return !posted.exchange(true, std::memory_order_seq_cst);
}

std::optional<EditorSizeMailbox::Request> EditorSizeMailbox::take() {
    // Cleared before the request is read: a request stored after this either is read now or
    // posts a message of its own.
    posted.store(false, std::memory_order_seq_cst);
    const uint32_t size = latest.load(std::memory_order_seq_cst);
    if (size == 0 || size == inPlace.load(std::memory_order_seq_cst)) return std::nullopt;
    return Request{static_cast<int>(size >> 16), static_cast<int>(size & 0xFFFF)};
}

bool EditorSizeMailbox::applied(int width, int height) {
    const uint32_t size = pack(width, height);
    inPlace.store(size, std::memory_order_seq_cst);
    // A request that came while this one was applied found its size not yet in place, or the
    // message already taken: it is posted here.
    const uint32_t newest = latest.load(std::memory_order_seq_cst);
    if (newest == 0 || newest == size) return false;
    return !posted.exchange(true, std::memory_order_seq_cst);
}

void EditorSizeMailbox::placed(int width, int height) {
    const uint32_t size = pack(width, height);
    latest.store(size, std::memory_order_seq_cst);
    inPlace.store(size, std::memory_order_seq_cst);
}

TransportChange spaceToggle(bool requestedPlaying, bool timeInfoPlaying) {
    const bool wanted = !requestedPlaying;
    return {wanted != timeInfoPlaying, wanted};
}

StartupTransport transportAtStartup(bool anyClockSync, std::string_view effectName, bool timeInfoPlaying) {
    if (anyClockSync || effectName == "Halvorn" || effectName == "Mirabond") return {};
    return {true, {!timeInfoPlaying, true}};
}

MenuVariant menuVariant(bool isVendorPlugin, bool hasAboutScreen) {
    if (!isVendorPlugin) return MenuVariant::Foreign;
    return hasAboutScreen ? MenuVariant::VendorFull : MenuVariant::VendorWithoutAbout;
}

std::vector<MenuRemoval> menuRemovals(MenuVariant variant) {
    switch (variant) {
        case MenuVariant::Foreign:
            // "Audio Player / Recorder" and the separator above it; then "Help", the separator
            // and "Check for Updates" (each removal moves the next entry to position 0).
            return {{MENU_POS_FILE, 7}, {MENU_POS_FILE, 6}, {MENU_POS_HELP, 0}, {MENU_POS_HELP, 0}, {MENU_POS_HELP, 0}};
        case MenuVariant::VendorWithoutAbout:
            return {{MENU_POS_HELP, 3}};
        case MenuVariant::VendorFull:
            break;
    }
    return {};
}

const wchar_t* engineItemText(bool running) {
    return running ? L"&Audioengine Running\tCtrl+R" : L"&Audioengine Stopped\tCtrl+R";
}

std::wstring statusCaption(std::wstring_view effectName, double tempo, int cpuPercent) {
    char figures[96];
    std::snprintf(figures, sizeof figures, " | Tempo: %.2f | CPU: %d%%\n", tempo, cpuPercent);
    std::wstring caption(effectName);
    for (const char* c = figures; *c; ++c) caption.push_back(static_cast<wchar_t>(*c));
    return caption;
}

namespace {

Placement placementFrom(const Rect& client, int width, int height) {
    return {client.left, client.top, std::max(0, width), std::max(0, height)};
}

}  // namespace

std::wstring runningCopyMutexName(const std::wstring& effectName) {
    // The session-local namespace keeps users apart. The name is the state folder's, case
    // folded as the settings key is: no backslash (which would name a namespace), at most 160
    // characters, and one name for every effect name that shares a settings key.
    return L"Local\\VorlaneHost." + foldCase(stateFolderName(effectName));
}

std::wstring missingDeviceText(const std::wstring& deviceName) {
    return L"The audio device \"" + deviceName +
           L"\" is not available.\r\nThe default device plays for now; your choice stays stored.";
}

std::wstring stateSaveFailedText(const std::wstring& file, const std::wstring& reason) {
    return L"The plug-in's state could not be saved to\r\n" + file + L"\r\n\r\n" + reason +
           L"\r\n\r\nRetry, or Cancel to quit without saving.";
}

std::wstring keptFilesText(const std::vector<KeptFileText>& files) {
    std::wstring text = L"At the end of the last session these files could not be saved in their place and were kept elsewhere:";
    for (const KeptFileText& file : files) {
        text += L"\r\n\r\n" + file.keptAt;
        if (file.movedHome) text += L"\r\nis back in " + file.home;
        else if (file.home.empty()) text += L"\r\nstays there";
        else text += L"\r\nstays there: " + file.home + L" cannot be written";
    }
    return text;
}

std::wstring mutedInputCaption(const std::wstring& caption) { return caption + L" (audio input muted)"; }

std::wstring secondCopyCaption(const std::wstring& effectName) {
    return effectName + L" (second copy: settings and state are not saved)";
}

Placement mainWindowPlacement(const Rect& client, EditorExtent editor) {
    return placementFrom(client, editor.right + 6 - client.left, editor.bottom + 46 - client.top);
}

Size mainWindowForEditor(Size editor, Size frame, Size workArea) {
    const auto fit = [](int wanted, int limit) { return std::max(1, limit > 0 ? std::min(wanted, limit) : wanted); };
    return {fit(std::max(1, editor.width) + std::max(0, frame.width), workArea.width),
            fit(std::max(1, editor.height) + std::max(0, frame.height), workArea.height)};
}

Placement editorWindowPlacement(const Rect& client, EditorExtent editor) {
    const int right = client.right + editor.right - 10;
    const int bottom = client.bottom + editor.bottom - 10;
    return placementFrom(client, right - client.left, bottom - client.top);
}

}  // namespace vl::app
