#include "dialogs/models/MidiSettingsModel.h"

#include "dialogs/models/DialogText.h"
#include "host/PluginSlot.h"
#include "host/VLVSTHostInterface.h"
#include "settings/HostSettings.h"

namespace vl {

MidiStateIcon midiStateIcon(const MidiDeviceRecord& record) {
    if (!record.active) return MidiStateIcon::Inactive;
    return record.sync ? MidiStateIcon::ClockSync : MidiStateIcon::Active;
}

std::wstring noteName(int note) {
    static const wchar_t* const names[12] = {L"C", L"C#", L"D", L"D#", L"E", L"F",
                                             L"F#", L"G", L"G#", L"A", L"A#", L"B"};
    if (note < 0 || note >= kNoteCount) return L"";
    return names[note % 12] + std::to_wstring(note / 12 - 2);
}

std::vector<std::wstring> midiChannelEntries() {
    std::vector<std::wstring> entries{L"all"};
    for (int channel = 1; channel <= 16; ++channel) entries.push_back(std::to_wstring(channel));
    return entries;
}

int listIndexAfterKey(ListKey key, int caretIndex, int count) {
    switch (key) {
        case ListKey::Up:
            return caretIndex - 1 < -1 ? -1 : caretIndex - 1;
        case ListKey::Down:
            return caretIndex + 1 < count ? caretIndex + 1 : caretIndex;
        case ListKey::Other:
            break;
    }
    return caretIndex;
}

MidiCapabilities midiCapabilitiesOf(PluginSlot& slot) {
    return {slot.canDo("receiveVstMidiEvent"), slot.canDo("sendVstMidiEvent")};
}

MidiSettingsModel::MidiSettingsModel(VLVSTHostInterface& host, VLMidiBase& midi, HostSettings& settings,
                                     MidiCapabilities capabilities, platform::MessageSink* messages)
    : host(host), midi(midi), settings(settings), capabilities(capabilities), messages(messages) {}

void MidiSettingsModel::initialise() {
    applyOn = false;
    optionsOn = false;
    current = -1;
    inputEntries.clear();
    editedInputs.clear();
    outputEntries.assign(1, OutputEntry{kNoMidiOutputText, nullptr});
    selectedOutput = 0;
    for (const auto& owned : midi.devices) {
        MidiDeviceRecord* engineRecord = owned.get();
        MidiDeviceRecord* settingsRecord = settings.findMidiDevice(*engineRecord);
        if (!settingsRecord) continue;
        if (engineRecord->isInput) {
            inputEntries.push_back({engineRecord->name, engineRecord, midiStateIcon(*settingsRecord)});
            editedInputs.push_back(*settingsRecord);
            continue;
        }
        outputEntries.push_back({engineRecord->name, engineRecord});
        if (settingsRecord->active) selectedOutput = static_cast<int>(outputEntries.size()) - 1;  // a later one wins
    }
}

const MidiDeviceRecord* MidiSettingsModel::selectedDevice() const {
    return current >= 0 && current < static_cast<int>(editedInputs.size()) ? &editedInputs[current] : nullptr;
}

MidiDeviceRecord* MidiSettingsModel::editedDevice() {
    return current >= 0 && current < static_cast<int>(editedInputs.size()) ? &editedInputs[current] : nullptr;
}

void MidiSettingsModel::refreshIcon(size_t index) {
    if (index < inputEntries.size() && index < editedInputs.size()) inputEntries[index].icon = midiStateIcon(editedInputs[index]);
}

void MidiSettingsModel::showSelected() {
    const MidiDeviceRecord* record = selectedDevice();
    optionsOn = record != nullptr;
    if (record) delay = record->delay;
}

void MidiSettingsModel::selectInput(int index) {
    current = index >= 0 && index < static_cast<int>(inputEntries.size()) ? index : -1;
    showSelected();
}

int MidiSettingsModel::keyOnInputList(ListKey key, int caretIndex) {
    const int index = listIndexAfterKey(key, caretIndex, static_cast<int>(inputEntries.size()));
    selectInput(index);
    return current;
}

void MidiSettingsModel::setActive(bool on) {
    if (MidiDeviceRecord* record = editedDevice()) {
        record->active = on;
        refreshIcon(static_cast<size_t>(current));
    }
    applyOn = true;
}

void MidiSettingsModel::setSync(bool on) {
    MidiDeviceRecord* record = editedDevice();
    if (record && on) {
        // One input at most is the clock source.
        for (size_t i = 0; i < editedInputs.size(); ++i) {
            MidiDeviceRecord& other = editedInputs[i];
            if (&other == record || !other.sync) continue;
            other.sync = false;
            refreshIcon(i);
        }
    }
    if (record) {
        record->sync = on;
        refreshIcon(static_cast<size_t>(current));
    }
    applyOn = true;
}

namespace {

template <typename T>
void setOption(MidiDeviceRecord* record, RelaxedAtomic<T> MidiDeviceRecord::*field, T value) {
    if (record) (record->*field) = value;
}

// The user's options of an input, from the dialog's copy into a live record.
void copyOptions(const MidiDeviceRecord& from, MidiDeviceRecord& to) {
    to.active = from.active;
    to.sync = from.sync;
    to.syncWhilePlaying = from.syncWhilePlaying;
    to.delay = from.delay;
    to.filterCCMessages = from.filterCCMessages;
    to.filterProgramChanges = from.filterProgramChanges;
    to.channel = from.channel;
    to.keyboardRangeLeft = from.keyboardRangeLeft;
    to.keyboardRangeRight = from.keyboardRangeRight;
}

}  // namespace

void MidiSettingsModel::setSyncWhilePlaying(bool on) {
    setOption(editedDevice(), &MidiDeviceRecord::syncWhilePlaying, on);
    refreshIcon(static_cast<size_t>(current));
    applyOn = true;
}

void MidiSettingsModel::setFilterCCMessages(bool on) {
    setOption(editedDevice(), &MidiDeviceRecord::filterCCMessages, on);
    refreshIcon(static_cast<size_t>(current));
    applyOn = true;
}

void MidiSettingsModel::setFilterProgramChanges(bool on) {
    setOption(editedDevice(), &MidiDeviceRecord::filterProgramChanges, on);
    refreshIcon(static_cast<size_t>(current));
    applyOn = true;
}

void MidiSettingsModel::selectChannel(int index) {
    if (index >= 0 && index <= 16) setOption(editedDevice(), &MidiDeviceRecord::channel, index);
    applyOn = true;
}

void MidiSettingsModel::selectKeyboardRangeLeft(int note) {
    if (note >= 0 && note < kNoteCount) setOption(editedDevice(), &MidiDeviceRecord::keyboardRangeLeft, note);
    applyOn = true;
}

void MidiSettingsModel::selectKeyboardRangeRight(int note) {
    if (note >= 0 && note < kNoteCount) setOption(editedDevice(), &MidiDeviceRecord::keyboardRangeRight, note);
    applyOn = true;
}

void MidiSettingsModel::stepDelay(int upSteps) {
    delay += upSteps;
    if (MidiDeviceRecord* record = editedDevice()) {
        record->delay = delay;
        applyOn = true;
    }
}

void MidiSettingsModel::selectOutput(int index) {
    if (index >= 0 && index < static_cast<int>(outputEntries.size())) selectedOutput = index;
    applyOn = true;
}

void MidiSettingsModel::markChosenOutput() {
    // Every output is unmarked, then the chosen one marked (none for "No Output"). Two outputs
    // of one name share a settings record, so the marks are cleared before any is set.
    for (const OutputEntry& entry : outputEntries) {
        if (!entry.device) continue;
        entry.device->active = false;
        if (MidiDeviceRecord* settingsRecord = settings.findMidiDevice(*entry.device)) settingsRecord->active = false;
    }
    if (selectedOutput < 0 || selectedOutput >= static_cast<int>(outputEntries.size())) return;
    MidiDeviceRecord* engineRecord = outputEntries[selectedOutput].device;
    if (!engineRecord) return;
    engineRecord->active = true;
    if (MidiDeviceRecord* settingsRecord = settings.findMidiDevice(*engineRecord)) settingsRecord->active = true;
}

void MidiSettingsModel::takeEdits() {
    for (size_t i = 0; i < inputEntries.size() && i < editedInputs.size(); ++i) {
        if (!inputEntries[i].device) continue;
        if (MidiDeviceRecord* settingsRecord = settings.findMidiDevice(*inputEntries[i].device))
            copyOptions(editedInputs[i], *settingsRecord);
    }
    markChosenOutput();
}

bool MidiSettingsModel::apply() {
    takeEdits();
    settings.saveSettings();
    host.StopMidiEngine();
    const bool started = host.StartMidiEngine();
    if (!started) showMessage(messages, kMidiEngineErrorText);
    applyOn = false;
    return started;
}

void MidiSettingsModel::ok() {
    if (applyOn) {
        apply();
        return;
    }
    // Nothing changed: the settings are saved as they are, and the engine keeps running.
    settings.saveSettings();
}

void MidiSettingsModel::cancel() {
    // Nothing reached the records before Apply: the edits are simply dropped.
    initialise();
}

}  // namespace vl
