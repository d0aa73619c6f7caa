#pragma once
// PlayerWindowModel: what the Audio Player / Recorder window decides. It drives the
// coordinator's player and recorder, keeps the player options in HostSettings (saved after
// every change) and gives the window its texts and enabled states.
//
// Binding: each control event and each tick of the window's 500 ms timer calls one operation;
// afterwards the window re-reads controls(). Questions and errors go to the message sink; the
// file dialogs stay with the window (Load File passes the chosen path in, the save loop asks
// the SavePathChooser).

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/UserMessages.h"
#include "player/PlayerCore.h"

namespace vl {

class HostSettings;
class VLVSTHostInterface;

inline constexpr wchar_t kLoadSampleErrorText[] = L"Error loading Sample File!";
inline constexpr wchar_t kSaveRecordQuestionText[] = L"Would you like to save the record?";
inline constexpr wchar_t kSaveRecordErrorText[] = L"Error saving record to file!";
inline constexpr wchar_t kRecordStartErrorText[] = L"Couldn't start recording: not enough memory!";
inline constexpr wchar_t kRecordInterruptedText[] = L"recording interrupted";
inline constexpr wchar_t kSamplePathTooLongText[] =
    L"The path of this file is too long to be remembered: it plays now, but not at the next start.";
// The warning for a path too long to be stored, when an earlier file stays stored (its name):
// that one comes back at the next start. Empty: none is stored, nothing comes back.
std::wstring samplePathTooLongText(const std::wstring& rememberedFile);
inline constexpr wchar_t kPlayerCaption[] = L"Vorlane";
// The file dialogs of the window.
inline constexpr wchar_t kLoadFileFilter[] = L"Supported Files|*.wav; *.aif; *.aiff||";
inline constexpr wchar_t kLoadFileExtension[] = L".wav";
inline constexpr wchar_t kSaveFileTitle[] = L"Save As";
inline constexpr wchar_t kSaveFileFilter[] = L"WAV files (*.wav)|*.wav||";
inline constexpr wchar_t kSaveFileExtension[] = L"wav";
inline constexpr wchar_t kSaveFileName[] = L"record";

// The "Start / Stop Options" entries: the two manual ones, and for a plug-in that takes audio
// input the two that follow the player.
constexpr int kRecordOptionCount = 4;
const wchar_t* recordOptionText(int option);
int recordOptionCount(bool playerDisabled);

// The longest recording the window can ask for: its longest length entry ("16 min").
uint32_t longestRecordFrames(double deviceSampleRate);
// Frames the recorder's buffer holds for a recording of recordMaxFrames: all of it, up to the
// longest entry (0, "no length", takes the recorder's 300 seconds).
uint32_t recordBufferFrames(uint32_t recordMaxFrames, double deviceSampleRate);

// Asks the user where to save the recording; none = cancelled.
class SavePathChooser {
public:
    virtual ~SavePathChooser() = default;
    virtual std::optional<std::filesystem::path> chooseSavePath() = 0;
};

struct PlayerControls {
    std::wstring fileName;                          // 1028
    std::wstring playText = L"Play";                // 1033: "Play", "Stop", "Waiting"
    std::wstring playTime = L"0:00";                // 1038
    std::wstring tempoText;                         // 1043: "%.2f BPM", "failed" or empty
    std::wstring recordText = L"Start Recording";   // 1034: "Start Recording", "Stop Recording", "Waiting"
    std::wstring recordTime = L"0:00 / max:";       // 1039
    bool detectTempo = false;                       // 1042
    bool loopFile = false;                          // 1030
    bool startByMidi = false;                       // 1035
    bool openOnStartup = false;                     // 1041
    int recordOption = 0;                           // selection of 1036
    int recordOptionCount = kRecordOptionCount;     // entries of 1036
    int maxLengthIndex = 0;                         // selection of 1040
    // Enabled states.
    bool playerEnabled = true;       // 1032, 1033, 1038, 1028, 1043: off for an instrument
    bool fileOptionsEnabled = true;  // 1037, 1042, 1030, 1035: off for an instrument and while playing
    bool recordEnabled = true;       // 1034
    bool recordOptionEnabled = true; // 1036
    bool maxLengthEnabled = true;    // 1040
};

class PlayerWindowModel {
public:
    PlayerWindowModel(VLVSTHostInterface& host, HostSettings& settings, bool playerDisabled,
                      platform::MessageSink* messages, SavePathChooser* saveChooser);

    // ---- control events ----------------------------------------------------------------
    // Loads the stored sample (silently) and runs the automatic start. false: no output device;
    // the window then stays unconnected and the operations below do nothing.
    bool initialise();
    bool loadFile(const std::filesystem::path& path);  // Load File; false: "Error loading Sample File!"
    void rewind();                                      // "<<|"
    void togglePlay();                                  // Play
    void toggleRecording(bool fromPlay = false);        // Start Recording
    void timerTick();
    void setDetectTempo(bool on);
    void setLoopFile(bool on);
    void setStartByMidi(bool on);
    void selectRecordOption(int option);
    void selectMaxLength(int index);
    void setOpenOnStartup(bool on);
    // The window is closing: stops the player and keeps the start-up option. A running
    // recording is stopped and offered for saving first.
    void close();
    // The host is closing while it records: the recording is stopped and offered for saving,
    // as by Stop Recording. Nothing without a running recording or while the question is open.
    void offerRecording();

    // ---- what the window shows -----------------------------------------------------------
    const PlayerControls& controls() const { return view; }
    bool playing() const { return isPlaying; }
    bool recording() const { return isRecording; }
    uint32_t loadedFrames() const { return loaded; }
    uint32_t recordMaxFrames() const { return maxFrames; }

private:
    void updateControls();
    void optionChanged();  // saves the settings and updates the controls
    void detectTempo();
    void stopRecording();
    void saveRecordingLoop();
    void showFileName(const std::filesystem::path& path);

    VLVSTHostInterface& host;
    HostSettings& settings;
    bool playerDisabled;
    platform::MessageSink* messages;
    SavePathChooser* saveChooser;

    bool connected = false;
    bool isPlaying = false;
    bool isRecording = false;
    bool asking = false;  // the save question is open
    bool takeKept = false;  // the question ended without an answer: the take waits to be offered
    uint32_t loaded = 0;
    uint32_t maxFrames = 0;
    PlayerControls view;
};

}  // namespace vl
