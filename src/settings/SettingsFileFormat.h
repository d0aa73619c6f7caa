#pragma once
// The text form of the settings file: UTF-8 in the style of a registry export, so that a user
// can read and edit it by hand.
//
//   ; comment
//   [Software\Vorlane\EFFECT\Host]
//   "Tempo"="120"
//   "AudioDeviceType"=dword:00000004
//
// In quoted names and texts a backslash escapes '\', '"', 'n' (line feed) and 'r' (carriage
// return); "@" names the key's unnamed value.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <variant>

namespace vl {

// Orders names as the registry compares them: ASCII letters without regard to case.
struct FoldedLess {
    bool operator()(std::wstring_view a, std::wstring_view b) const;
};

using SettingsValue = std::variant<uint32_t, std::wstring>;
using SettingsValues = std::map<std::wstring, SettingsValue, FoldedLess>;
// Key path -> its values. A key also exists implicitly as the parent of a listed key.
using SettingsTree = std::map<std::wstring, SettingsValues, FoldedLess>;

// A key path is non-empty, has no empty component and no control character.
bool isValidKeyPath(std::wstring_view path);

// True when path is listed or is the parent of a listed key.
bool keyExists(const SettingsTree& tree, const std::wstring& path);

std::string formatSettingsText(const SettingsTree& tree);

// Reads as much as is sound: a line that does not parse is skipped, and the values after a
// damaged section line are skipped up to the next sound one, so that they never land in the
// wrong key. Never fails.
SettingsTree parseSettingsText(std::string_view text);

}  // namespace vl
