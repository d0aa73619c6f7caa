#pragma once
// The Linux application's own option beside the host settings, in the same per-user store and
// key ("<settings key>\Host"), so each wrapped plug-in keeps its own.

#include <string>

namespace vl::linuxapp {

inline constexpr wchar_t kFollowTransportValue[] = L"FollowJackTransport";

// Whether the host follows the JACK transport (off when never set).
bool readFollowTransport(const std::wstring& settingsKeyPath);
void writeFollowTransport(const std::wstring& settingsKeyPath, bool on);

}  // namespace vl::linuxapp
