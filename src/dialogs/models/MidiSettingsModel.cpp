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
    outputEntries.assign(1, OutputEntry{kNoMidiOutputText, nullptr});
    outputMarks.clear();
    selectedOutput = 0;
    for (const auto& owned : midi.devices) {
        MidiDeviceRecord* engineRecord = owned.get();
        MidiDeviceRecord* settingsRecord = settings.findMidiDevice(*engineRecord);
        if (!settingsRecord) continue;
        if (engineRecord->isInput) {
            inputEntries.push_back({engineRecord->name, engineRecord, midiStateIcon(*settingsRecord)});
            continue;
        }
        outputMarks.push_back({engineRecord, settingsRecord, engineRecord->active, settingsRecord->active});
        const bool wasActive = settingsRecord->active;
        settingsRecord->active = false;
        engineRecord->active = false;
        outputEntries.push_back({engineRecord->name, engineRecord});
        if (wasActive) selectedOutput = static_cast<int>(outputEntries.size()) - 1;  // a later one wins
    }
}

MidiDeviceRecord* MidiSettingsModel::selectedDevice() const {
    if (current < 0 || current >= static_cast<int>(inputEntries.size())) return nullptr;
    const MidiDeviceRecord* engineRecord = inputEntries[current].device;
    return engineRecord ? settings.findMidiDevice(*engineRecord) : nullptr;
}

void MidiSettingsModel::refreshIcon(size_t index) {
    if (index >= inputEntries.size() || !inputEntries[index].device) return;
    if (const MidiDeviceRecord* record = settings.findMidiDevice(*inputEntries[index].device))
        inputEntries[index].icon = midiStateIcon(*record);
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
    if (MidiDeviceRecord* record = selectedDevice()) {
        record->active = on;
        refreshIcon(static_cast<size_t>(current));
    }
    applyOn = true;
}

void MidiSettingsModel::setSync(bool on) {
    MidiDeviceRecord* record = selectedDevice();
    if (record && on) {
        // One input at most is the clock source.
        for (size_t i = 0; i < inputEntries.size(); ++i) {
            MidiDeviceRecord* other = inputEntries[i].device ? settings.findMidiDevice(*inputEntries[i].device) : nullptr;
            if (!other || other == record || !other->sync) continue;
            other->sync = false;
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

}  // namespace

void MidiSettingsModel::setSyncWhilePlaying(bool on) {
    setOption(selectedDevice(), &MidiDeviceRecord::syncWhilePlaying, on);
    refreshIcon(static_cast<size_t>(current));
    applyOn = true;
}

void MidiSettingsModel::setFilterCCMessages(bool on) {
    setOption(selectedDevice(), &MidiDeviceRecord::filterCCMessages, on);
    refreshIcon(static_cast<size_t>(current));
    applyOn = true;
}

void MidiSettingsModel::setFilterProgramChanges(bool on) {
    setOption(selectedDevice(), &MidiDeviceRecord::filterProgramChanges, on);
    refreshIcon(static_cast<size_t>(current));
    applyOn = true;
}

void MidiSettingsModel::selectChannel(int index) {
    if (index >= 0 && index <= 16) setOption(selectedDevice(), &MidiDeviceRecord::channel, index);
    applyOn = true;
}

void MidiSettingsModel::selectKeyboardRangeLeft(int note) {
    if (note >= 0 && note < kNoteCount) setOption(selectedDevice(), &MidiDeviceRecord::keyboardRangeLeft, note);
    applyOn = true;
}

void MidiSettingsModel::selectKeyboardRangeRight(int note) {
    if (note >= 0 && note < kNoteCount) setOption(selectedDevice(), &MidiDeviceRecord::keyboardRangeRight, note);
    applyOn = true;
}

void MidiSettingsModel::stepDelay(int upSteps) {
    delay += upSteps;
    if (MidiDeviceRecord* record = selectedDevice()) {
        record->delay = delay;
        applyOn = true;
    }
}

void MidiSettingsModel::selectOutput(int index) {
    if (index >= 0 && index < static_cast<int>(outputEntries.size())) selectedOutput = index;
    for (const OutputMarks& marks : outputMarks) {
        marks.engineRecord->active = false;
        marks.settingsRecord->active = false;
    }
    applyOn = true;
}

void MidiSettingsModel::markChosenOutput(bool engineToo) {
    if (selectedOutput < 0 || selectedOutput >= static_cast<int>(outputEntries.size())) return;
    MidiDeviceRecord* engineRecord = outputEntries[selectedOutput].device;
    if (!engineRecord) return;  // "No Output"
    if (engineToo) engineRecord->active = true;
    if (MidiDeviceRecord* settingsRecord = settings.findMidiDevice(*engineRecord)) settingsRecord->active = true;
}

void MidiSettingsModel::rememberOutputMarks() {
    for (OutputMarks& marks : outputMarks) {
        marks.engineActive = marks.engineRecord->active;
        marks.settingsActive = marks.settingsRecord->active;
    }
}

bool MidiSettingsModel::apply() {
    markChosenOutput(true);
    rememberOutputMarks();
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
    // Nothing to restart: the chosen output is marked again and saved. The engine record is
    // marked too, so that a later engine start opens the output the settings name.
    markChosenOutput(true);
    rememberOutputMarks();
    settings.saveSettings();
}

void MidiSettingsModel::cancel() {
    // Opening the dialog unmarked every output; without this the next save by any part of the
    // host would store no MIDI output.
    // Backwards: two outputs of one name share a settings record, and the first saw its mark.
    for (auto it = outputMarks.rbegin(); it != outputMarks.rend(); ++it) {
        const OutputMarks& marks = *it;
        marks.engineRecord->active = marks.engineActive;
        marks.settingsRecord->active = marks.settingsActive;
    }
}

}  // namespace vl
