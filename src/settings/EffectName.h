#pragma once
// The name the host keeps an effect under - its settings key, its state folder, the mutex of a
// running copy and the caption - and the helpers that make names of it which the system takes.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace vl {

// A plug-in without a usable effect name (empty, or only dots and spaces) would keep its
// settings in the maker's root key and share one state folder with every other such plug-in:
// it is kept under the executable's base name instead ("C:\Plugins\Foo.exe" -> "Foo").
bool isNamelessEffect(std::wstring_view effectName);
std::wstring effectIdentity(const std::wstring& effectName, const std::filesystem::path& executable);

// Case folded the way the registry compares key names (ASCII and the Latin-1 letters, the
// characters an 8-bit effect name brings), so that names one key holds fold to one text.
std::wstring foldCase(std::wstring_view text);

// 64-bit FNV-1a over the UTF-16 units, as lower-case hex digits (16, or the first `digits`).
std::wstring nameHash(std::wstring_view text, size_t digits = 16);
std::wstring hex32(uint32_t value);

// A name of at most maxChars characters: unchanged when it fits, else its first characters,
// "~~" and the hash of the whole name (maxChars must exceed 18).
std::wstring cutWithHash(std::wstring_view name, size_t maxChars);

// The name of an effect's state folder in the user's data folder. A name that is a plain file
// name stays as it is ("Demo Synth"); a character no file name may hold, a "~", the trailing
// dots and spaces Windows would drop, and the first letter of a device name ("CON", "COM1.x",
// "LPT\u00b2") are written as "~" and two hex digits, so that distinct names never share a
// folder ("A:B" -> "A~3AB", "A_B" stays). Names beyond 160 characters are cut with a hash.
std::wstring stateFolderName(const std::wstring& effectName);
// The folder an effect had before: unsafe characters replaced by "_", trailing dots and
// spaces dropped, "_" for no name, "_" appended to a device name. Read when the new one is absent.
std::wstring legacyStateFolderName(const std::wstring& effectName);
// The folder of a plug-in that finds its name's folder owned by another plug-in (another
// unique ID, or a name that differs only in case): the name's folder, "~~", the unique ID and
// a hash of the exact name.
std::wstring ownStateFolderName(const std::wstring& effectName, int32_t uniqueId);

}  // namespace vl
