#pragma once
// Text conversions between the plug-in's 8-bit strings, UTF-8 and the wide strings of the UI.

#include <filesystem>
#include <string>
#include <string_view>

namespace vl::platform {

// 8-bit text from a plug-in (effect name, vendor) to a wide string: the system ANSI code page
// on Windows, UTF-8 elsewhere. At most maxChars characters are produced.
std::wstring ansiToWide(std::string_view text, size_t maxChars = 256);

// Wide text to UTF-8 and back. Malformed input becomes U+FFFD; nothing throws.
std::string wideToUtf8(std::wstring_view text);
std::wstring utf8ToWide(std::string_view text);

// Paths from and to the wide strings of the UI and the settings. Independent of the C locale
// (std::filesystem would convert wide text through it on Linux).
std::filesystem::path pathFromWide(std::wstring_view text);
std::wstring pathToWide(const std::filesystem::path& path);
// A path's extension with its dot, in UTF-8 with A-Z lowered (".FXP" -> ".fxp"), for telling
// file kinds apart by name.
std::string lowerExtension(const std::filesystem::path& path);

}  // namespace vl::platform
