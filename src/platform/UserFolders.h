#pragma once
// The per-user folder where programs keep data of their own: %APPDATA% (the roaming application
// data folder) on Windows, $XDG_DATA_HOME or ~/.local/share elsewhere.

#include <filesystem>
#include <optional>

namespace vl::platform {

// Read afresh at each call; nothing when the environment names no such folder.
std::optional<std::filesystem::path> userDataFolder();

}  // namespace vl::platform
