#pragma once
// What both programs' Preset menus and windows share: the menu's command ids for the
// plug-in's programs, the caption while a program or file was chosen, the file dialogs' filters
// and remembered folder, and where the main window goes at start-up. Portable and tested
// natively; the windows only bind controls to it.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/AppRules.h"
#include "settings/KeyValueStore.h"

namespace vl::app {

// Menu texts.
inline constexpr wchar_t kPresetMenuText[] = L"Preset";
inline constexpr wchar_t kLoadPresetText[] = L"Load Preset / Bank...";
inline constexpr wchar_t kSavePresetText[] = L"Save Preset...";
inline constexpr wchar_t kSaveBankText[] = L"Save Bank...";
inline constexpr wchar_t kRenameProgramText[] = L"Rename Program...";
inline constexpr wchar_t kResetToDefaultText[] = L"Reset to Default";
inline constexpr wchar_t kNoProgramsText[] = L"(no programs)";
inline constexpr wchar_t kResetQuestion[] =
    L"Reset the plug-in to the sound it had when it was opened?\r\nThe current sound is lost unless you saved it.";
inline constexpr wchar_t kRenameRefusedText[] = L"The plug-in keeps its own program names.";

// What a file dropped on the window is for: a .fxp / .fxb loads (isPresetFileName), a WAV or
// AIFF (".wav", ".aif", ".aiff", any case) opens in the Audio Player as its input.
bool isAudioFileName(const std::filesystem::path& path);

inline constexpr wchar_t kProgramBusyText[] =
    L"The plug-in was busy in its audio processing for more than a second; the program was not changed. Please try "
    L"again.";
inline constexpr wchar_t kPlayerTakesNoFileText[] =
    L"The Audio Player cannot open the file now: stop its playback first. It plays into effects only, and only "
    L"while an audio device runs.";
inline constexpr wchar_t kDroppedFileRefusedText[] =
    L"Only preset files (.fxp, .fxb) and audio files (.wav, .aif, .aiff) can be opened here.";

// A menu item's text: "&" marks the mnemonic in the Windows menus, so a program name's own "&"
// is doubled. With a letter, the first occurrence of it becomes the mnemonic.
std::wstring menuItemText(std::wstring_view text, wchar_t mnemonic = 0);

// Command ids of the programs: kFirstProgramCommand + program index, far above the fixed
// menu commands. Programs beyond kMaxProgramCommands are not listed.
constexpr int kFirstProgramCommand = 0x4000;
constexpr int kMaxProgramCommands = 0x2000;
// The program a command chooses, or none.
std::optional<int> programOfCommand(int command, int programs);

// The effect's name in the caption while a program was chosen or a file loaded this session:
// "<effect> - <program>" (the name alone when the program has none).
std::wstring presetCaptionName(const std::wstring& effectName, const std::wstring& programName);

// The box after a refused file: the file's name, then the reason.
std::wstring presetLoadFailedText(const std::wstring& file, const std::string& reason);
std::wstring presetSaveFailedText(const std::wstring& file, const std::string& reason);
std::wstring presetResetFailedText(const std::string& reason);

// Where the Preset dialogs start and the main window's place, kept per effect beside the
// other settings ("PresetFolder", "WindowLeft", "WindowTop"): pass the settings' own store
// (HostSettings::valueStore) and key path.
std::wstring readPresetFolder(KeyValueStore& store, const std::wstring& settingsKeyPath);
void writePresetFolder(KeyValueStore& store, const std::wstring& settingsKeyPath, const std::wstring& folder);
struct WindowPosition {
    int left = 0, top = 0;
};
std::optional<WindowPosition> readWindowPosition(KeyValueStore& store, const std::wstring& settingsKeyPath);
void writeWindowPosition(KeyValueStore& store, const std::wstring& settingsKeyPath, WindowPosition position);

// Where a window of this size goes: at the stored position when a strip of its title bar
// (kVisibleTitleStrip pixels high, at least kVisibleTitleWidth wide) lies on one of the screens'
// work areas (at least half of the strip's height), else at the primary work area's top-left
// corner.
constexpr int kVisibleTitleStrip = 24;
constexpr int kVisibleTitleWidth = 64;
WindowPosition placeOnScreens(WindowPosition stored, Size window, const std::vector<Rect>& workAreas,
                              const Rect& primaryWorkArea);

}  // namespace vl::app
