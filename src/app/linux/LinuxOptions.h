#pragma once
// The Linux application's own option beside the host settings, in the same per-user store and
// key ("<settings key>\Host"), so each wrapped plug-in keeps its own.

#include <filesystem>
#include <string>
#include <vector>

#include "audio/AudioDevice.h"

namespace vl::linuxapp {

inline constexpr wchar_t kFollowTransportValue[] = L"FollowJackTransport";

// Whether the host follows the JACK transport (off when never set).
bool readFollowTransport(const std::wstring& settingsKeyPath);
void writeFollowTransport(const std::wstring& settingsKeyPath, bool on);

// File > Mute Audio Input, kept per effect in the settings key's root as the Windows program
// keeps it ("InputMuted"); off when never set.
inline constexpr wchar_t kInputMutedValue[] = L"InputMuted";
bool readInputMuted(const std::wstring& settingsKeyPath);
void writeInputMuted(const std::wstring& settingsKeyPath, bool muted);

// The JACK ports the host's left and right ports are connected to, kept by name: a port's
// place in the server's list changes as other clients come and go. The record's channel
// names must be the server's current list.
void writePortChoice(const std::wstring& settingsKeyPath, const AudioDeviceRecord& record);
// Turns the stored names into the record's channel indexes; a stored port that is not there
// now leaves that side unconnected (-1). Without stored names the record stays as it is.
void applyPortChoice(const std::wstring& settingsKeyPath, AudioDeviceRecord& record);

// The JACK MIDI connections the user removed from the host's open devices (port names of the
// sources and the sink), kept so that the next start leaves them removed; none when never set.
inline constexpr wchar_t kRemovedMidiValue[] = L"JackMidi Removed Connections";
std::vector<std::string> readRemovedMidiConnections(const std::wstring& settingsKeyPath);
void writeRemovedMidiConnections(const std::wstring& settingsKeyPath, const std::vector<std::string>& ports);

// The folder of the plug-in's state ("contentpath" in the settings key's root), for a session
// manager's folder.
void writeStateFolder(const std::wstring& settingsKeyPath, const std::filesystem::path& folder);

}  // namespace vl::linuxapp
