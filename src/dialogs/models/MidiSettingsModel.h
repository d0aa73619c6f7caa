#pragma once
// MidiSettingsModel: what the Midi Settings dialog decides. Its edits are held in the model:
// Apply (or OK) hands them to the MIDI device records of HostSettings and of the MIDI engine,
// saves the settings and restarts the MIDI engine. Until then the records stay as they are, so
// a save by any other window never stores a choice made here and not applied, and Cancel has
// nothing to undo.
//
// Input entries carry the engine's record; the options shown and changed are a copy of the
// matching settings record (HostSettings::findMidiDevice), taken when the dialog opens.

#include <cstdint>
#include <string>
#include <vector>

#include "midi/MidiDevice.h"
#include "platform/UserMessages.h"

namespace vl {

class HostSettings;
class PluginSlot;
class VLVSTHostInterface;

inline constexpr wchar_t kMidiEngineErrorText[] = L"Couldn't start Midi-Engine";
inline constexpr wchar_t kNoMidiOutputText[] = L"No Output";

// The state icon of an input entry; the values are the icon resources.
enum class MidiStateIcon : int { Inactive = 137, Active = 138, ClockSync = 139 };
MidiStateIcon midiStateIcon(const MidiDeviceRecord& settingsRecord);

// Note names of the keyboard range lists: 0 -> "C-2", 60 -> "C3", 127 -> "G8".
std::wstring noteName(int note);
constexpr int kNoteCount = 128;
// "all", "1" .. "16": the entry index is the record's channel value.
std::vector<std::wstring> midiChannelEntries();

// The input list's own keyboard handling: up moves to the entry above (from the first entry to
// none, -1), down to the entry below while there is one, other keys keep the caret.
enum class ListKey { Up, Down, Other };
int listIndexAfterKey(ListKey key, int caretIndex, int count);

struct MidiCapabilities {
    bool receivesMidi = false;  // canDo "receiveVstMidiEvent"
    bool sendsMidi = false;     // canDo "sendVstMidiEvent"
};
MidiCapabilities midiCapabilitiesOf(PluginSlot& slot);

class MidiSettingsModel {
public:
    struct InputEntry {
        std::wstring name;
        MidiDeviceRecord* device = nullptr;  // the engine's record
        MidiStateIcon icon = MidiStateIcon::Inactive;
    };
    struct OutputEntry {
        std::wstring name;
        MidiDeviceRecord* device = nullptr;  // the engine's record; none for "No Output"
    };

    MidiSettingsModel(VLVSTHostInterface& host, VLMidiBase& midi, HostSettings& settings,
                      MidiCapabilities capabilities, platform::MessageSink* messages);

    // ---- control events ----------------------------------------------------------------
    void initialise();
    void selectInput(int index);                  // -1 = no entry
    int keyOnInputList(ListKey key, int caretIndex);  // answers the new index
    void setActive(bool on);
    void setSync(bool on);
    void setSyncWhilePlaying(bool on);
    void setFilterCCMessages(bool on);
    void setFilterProgramChanges(bool on);
    void selectChannel(int index);
    void selectKeyboardRangeLeft(int note);
    void selectKeyboardRangeRight(int note);
    void stepDelay(int upSteps);  // up arrow = +1 ms
    void selectOutput(int index);
    bool apply();                 // restarts the MIDI engine; true when it started
    void ok();
    void cancel();

    // ---- what the dialog shows -----------------------------------------------------------
    const std::vector<InputEntry>& inputs() const { return inputEntries; }
    int currentInput() const { return current; }
    // The options of the current entry as edited (not yet applied); none = no input.
    const MidiDeviceRecord* selectedDevice() const;
    const std::vector<OutputEntry>& outputs() const { return outputEntries; }
    int outputIndex() const { return selectedOutput; }
    int32_t delayValue() const { return delay; }
    std::wstring delayText() const { return std::to_wstring(delay); }
    bool optionsEnabled() const { return optionsOn; }
    bool inputListEnabled() const { return capabilities.receivesMidi; }
    bool outputListEnabled() const { return capabilities.sendsMidi; }
    bool applyEnabled() const { return applyOn; }

private:
    void refreshIcon(size_t index);
    void showSelected();
    MidiDeviceRecord* editedDevice();
    void markChosenOutput();
    void takeEdits();

    VLVSTHostInterface& host;
    VLMidiBase& midi;
    HostSettings& settings;
    MidiCapabilities capabilities;
    platform::MessageSink* messages;

    std::vector<InputEntry> inputEntries;
    std::vector<OutputEntry> outputEntries;
    std::vector<MidiDeviceRecord> editedInputs;  // one per input entry: its options as edited
    int current = -1;
    int selectedOutput = 0;
    int32_t delay = 0;
    bool optionsOn = false;
    bool applyOn = false;
};

}  // namespace vl
