#pragma once
// AudioFileDlg: the modeless "Audio Player / Recorder" window. PlayerWindowModel drives the
// player and recorder and decides texts and enabled states; the window binds its controls to it,
// runs its 500 ms timer and asks for file names with the system's file dialogs (UTF-16 paths).

#include <windows.h>

#include <filesystem>
#include <optional>
#include <string>

#include "dialogs/models/PlayerWindowModel.h"
#include "platform/win/ModelessWindow.h"

namespace vl::dialogs {

// The system's file dialogs with a "Name|*.ext||" filter; none = cancelled. askPath starts in
// folder (empty = the system's choice) with fileName filled in.
std::optional<std::filesystem::path> askPath(HWND owner, bool save, const wchar_t* title, const wchar_t* filter,
                                             const wchar_t* extension, const std::wstring& folder,
                                             const std::wstring& fileName);
std::optional<std::filesystem::path> askOpenPath(HWND owner, const wchar_t* filter, const wchar_t* extension);
std::optional<std::filesystem::path> askSavePath(HWND owner, const wchar_t* title, const wchar_t* filter,
                                                 const wchar_t* extension, const wchar_t* fileName);

class AudioFileDlg final : public platform::ModelessWindow, private SavePathChooser {
public:
    AudioFileDlg(VLVSTHostInterface& host, HostSettings& settings, bool playerDisabled,
                 platform::MessageSink* messages);
    // The host is closing: a running recording is stopped and offered for saving.
    void OfferRecording();
    // A file given from outside (dropped on the main window) becomes the player's input, as
    // Load File would make it; false when it could not be loaded (the window has said why) or
    // Load File is off (TakesFiles: while playing, for an instrument, without an output device).
    bool OpenFile(const std::filesystem::path& path);
    bool TakesFiles() const;

protected:
    BOOL OnInitDialog() override;
    bool OnCommand(WORD id, WORD code, HWND control) override;
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;
    void OnOK() override {}  // Enter does not close the window
    void OnCancel() override;

private:
    std::optional<std::filesystem::path> chooseSavePath() override;
    void LoadFile();
    void ShowControls();

    VLVSTHostInterface& host;
    HostSettings& settings;
    PlayerWindowModel model;
    bool connected = false;
};

}  // namespace vl::dialogs
