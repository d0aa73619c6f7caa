#pragma once
// The per-user folder where programs keep data of their own: %APPDATA% (the roaming application
// data folder) on Windows, $XDG_DATA_HOME or ~/.local/share elsewhere. Beside it, the places a
// save that fails there can go instead: the local application data folder (%LOCALAPPDATA%,
// $XDG_STATE_HOME or ~/.local/state) and the temporary folder.

#include <filesystem>
#include <optional>
#include <vector>

namespace vl::platform {

// Read afresh at each call; nothing when the environment names no such folder.
std::optional<std::filesystem::path> userDataFolder();
// The local folder first, then the temporary one; those the environment names, at each call.
std::vector<std::filesystem::path> secondPlaceFolders();

}  // namespace vl::platform
