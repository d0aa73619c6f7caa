// The Midi Settings dialog's decisions: entries and icons, clock-sync exclusivity, options,
// the output marks on Apply, OK and Cancel.

#include <gtest/gtest.h>

#include "DialogRig.h"
#include "dialogs/models/MidiSettingsModel.h"

using namespace vltest;
using vl::MidiSettingsModel;
using vl::MidiStateIcon;

TEST(MidiLists, NoteNamesAndChannels) {
    struct Note {
        int number;
        const wchar_t* name;
    };
    for (const Note& n : {Note{0, L"C-2"}, Note{1, L"C#-2"}, Note{11, L"B-2"}, Note{12, L"C-1"}, Note{24, L"C0"},
                          Note{60, L"C3"}, Note{70, L"A#3"}, Note{127, L"G8"}}) {
        EXPECT_EQ(vl::noteName(n.number), n.name);
    }
    const std::vector<std::wstring> channels = vl::midiChannelEntries();
    ASSERT_EQ(channels.size(), 17u);
    EXPECT_EQ(channels.front(), L"all");
    EXPECT_EQ(channels[16], L"16");
}

namespace {

// Three inputs and three outputs present, their settings records merged as at start-up.
struct MidiRig {
    MidiRig() {
        rig.probe.config().canDoSend = 1;
        for (int i = 0; i < 3; ++i) rig.midi.addDevice(i, L"In " + std::to_wstring(i), true, true);
        for (int i = 0; i < 3; ++i) rig.midi.addDevice(i, L"Out " + std::to_wstring(i), false, false);
        rig.settings->mergeMidiDevices(rig.midi.devices);
        rig.load();
    }
    vl::MidiDeviceRecord* stored(const std::wstring& name, bool isInput) {
        vl::MidiDeviceRecord key;
        key.name = name;
        key.isInput = isInput;
        return rig.settings->findMidiDevice(key);
    }
    vl::MidiDeviceRecord* engineOutput(int i) { return rig.midi.devices[3 + i].get(); }
    MidiSettingsModel open() {
        MidiSettingsModel model(rig.host, rig.midi, *rig.settings, vl::midiCapabilitiesOf(rig.slot), &rig.messages);
        model.initialise();
        return model;
    }
    std::vector<bool> storedOutputMarks() {
        return {stored(L"Out 0", false)->active, stored(L"Out 1", false)->active, stored(L"Out 2", false)->active};
    }
    DialogRig rig;
};

}  // namespace

TEST(MidiSettingsModel, EntriesIconsAndTheOutputFoundActive) {
    MidiRig m;
    m.stored(L"In 1", true)->active = false;
    m.stored(L"In 2", true)->sync = true;
    m.stored(L"Out 0", false)->active = true;
    m.stored(L"Out 2", false)->active = true;  // a later active output wins
    MidiSettingsModel model = m.open();

    ASSERT_EQ(model.inputs().size(), 3u);
    EXPECT_EQ(model.inputs()[0].icon, MidiStateIcon::Active);
    EXPECT_EQ(model.inputs()[1].icon, MidiStateIcon::Inactive);
    EXPECT_EQ(model.inputs()[2].icon, MidiStateIcon::ClockSync);
    ASSERT_EQ(model.outputs().size(), 4u);
    EXPECT_EQ(model.outputs()[0].name, L"No Output");
    EXPECT_EQ(model.outputIndex(), 3);
    EXPECT_EQ(m.storedOutputMarks(), (std::vector<bool>{true, false, true}));  // untouched while open
    EXPECT_TRUE(model.inputListEnabled());
    EXPECT_TRUE(model.outputListEnabled());
    EXPECT_FALSE(model.optionsEnabled());
    EXPECT_FALSE(model.applyEnabled());
}

TEST(MidiSettingsModel, ClockSyncMovesFromOneInputToAnother) {
    MidiRig m;
    MidiSettingsModel model = m.open();
    model.selectInput(0);
    model.setSync(true);
    EXPECT_EQ(model.inputs()[0].icon, MidiStateIcon::ClockSync);
    model.selectInput(1);
    model.setSync(true);
    EXPECT_FALSE(m.stored(L"In 0", true)->sync);
    EXPECT_EQ(model.inputs()[0].icon, MidiStateIcon::Active);
    EXPECT_EQ(model.inputs()[1].icon, MidiStateIcon::ClockSync);
    model.setActive(false);
    EXPECT_EQ(model.inputs()[1].icon, MidiStateIcon::Inactive);
    EXPECT_TRUE(model.applyEnabled());
}

TEST(MidiSettingsModel, OptionsReachTheSelectedInputsSettingsRecordOnApply) {
    MidiRig m;
    MidiSettingsModel model = m.open();
    // Without an input nothing is written, yet Apply is enabled; the delay alone needs one.
    model.selectInput(-1);
    model.setFilterCCMessages(true);
    model.stepDelay(+1);
    EXPECT_TRUE(model.applyEnabled());
    EXPECT_FALSE(m.stored(L"In 0", true)->filterCCMessages);

    model.selectInput(2);
    EXPECT_TRUE(model.optionsEnabled());
    EXPECT_EQ(model.delayValue(), 0);
    model.setSyncWhilePlaying(true);
    model.setFilterCCMessages(true);
    model.setFilterProgramChanges(true);
    model.selectChannel(16);
    model.selectKeyboardRangeLeft(60);
    model.selectKeyboardRangeRight(48);  // no check keeps left below right
    for (int i = 0; i < 3; ++i) model.stepDelay(+1);
    EXPECT_EQ(model.delayText(), L"3");
    const vl::MidiDeviceRecord* r = m.stored(L"In 2", true);
    EXPECT_FALSE(r->syncWhilePlaying || r->filterCCMessages || r->filterProgramChanges) << "not before Apply";
    EXPECT_EQ(r->delay, 0);
    ASSERT_TRUE(model.apply());
    EXPECT_TRUE(r->syncWhilePlaying && r->filterCCMessages && r->filterProgramChanges);
    EXPECT_EQ(r->channel, 16);
    EXPECT_EQ(r->keyboardRangeLeft, 60);
    EXPECT_EQ(r->keyboardRangeRight, 48);
    EXPECT_EQ(r->delay, 3);
    EXPECT_FALSE(m.stored(L"In 1", true)->filterCCMessages);

    model.selectInput(0);
    model.stepDelay(-1);
    model.apply();
    EXPECT_EQ(m.stored(L"In 0", true)->delay, -1);
    EXPECT_EQ(model.keyOnInputList(vl::ListKey::Up, 0), -1);
    EXPECT_FALSE(model.optionsEnabled());
}

TEST(MidiSettingsModel, ApplyMarksTheChosenOutputSavesAndRestarts) {
    struct Case {
        int output;  // entry of the output list
        std::vector<bool> marks;
    };
    for (const Case& c : {Case{2, {false, true, false}}, Case{0, {false, false, false}}}) {
        MidiRig m;
        m.stored(L"Out 0", false)->active = true;
        MidiSettingsModel model = m.open();
        model.selectOutput(c.output);
        EXPECT_TRUE(model.apply());
        EXPECT_EQ(m.storedOutputMarks(), c.marks);
        EXPECT_EQ(m.engineOutput(1)->active, c.marks[1]);
        EXPECT_EQ(m.rig.midi.openOutput, c.output == 0 ? -2 : 1);
        EXPECT_EQ(m.rig.savedHostValue(L"Tempo"), L"120");  // saved
        EXPECT_FALSE(model.applyEnabled());
        EXPECT_TRUE(m.rig.messages.shown.empty());
    }
    MidiRig m;
    m.rig.midi.failingInputs = {1};
    MidiSettingsModel model = m.open();
    EXPECT_FALSE(model.apply());
    EXPECT_EQ(m.rig.messageTexts(), (std::vector<std::wstring>{L"Couldn't start Midi-Engine"}));
}

TEST(MidiSettingsModel, OkAndCancelKeepTheOutputChoice) {
    {
        MidiRig m;
        m.stored(L"Out 1", false)->active = true;
        m.engineOutput(1)->active = true;
        MidiSettingsModel model = m.open();
        model.selectOutput(3);  // looked at another output, then cancelled
        model.cancel();
        EXPECT_EQ(m.storedOutputMarks(), (std::vector<bool>{false, true, false}));
        EXPECT_TRUE(m.engineOutput(1)->active);
    }
    {
        // OK without a change marks the output again and saves, without a restart.
        MidiRig m;
        m.stored(L"Out 1", false)->active = true;
        MidiSettingsModel model = m.open();
        const int closes = m.rig.midi.closeCalls;
        model.ok();
        EXPECT_EQ(m.storedOutputMarks(), (std::vector<bool>{false, true, false}));
        EXPECT_EQ(m.rig.midi.closeCalls, closes);
        EXPECT_NE(m.rig.savedHostValue(L"Tempo"), L"<none>");
    }
    {
        // Cancel after an Apply keeps what was applied.
        MidiRig m;
        m.stored(L"Out 1", false)->active = true;
        MidiSettingsModel model = m.open();
        model.selectOutput(3);
        model.apply();
        model.selectOutput(0);
        model.cancel();
        EXPECT_EQ(m.storedOutputMarks(), (std::vector<bool>{false, false, true}));
    }
}

// Failing first: opening unmarked every output, so a save by another window stored none.
TEST(MidiSettingsModel, SavesByOtherWindowsCarryNoUnappliedEdit) {
    MidiRig m;
    m.stored(L"Out 1", false)->active = true;
    m.engineOutput(1)->active = true;
    MidiSettingsModel model = m.open();
    model.selectOutput(0);  // "No Output", not applied
    model.selectInput(0);
    model.setActive(false);
    model.setSync(true);
    model.selectChannel(5);
    const int closes = m.rig.midi.closeCalls;
    m.rig.settings->saveSettings();  // Tempo closed, a player option, Audio Settings' Apply
    EXPECT_EQ(m.storedOutputMarks(), (std::vector<bool>{false, true, false}));
    EXPECT_TRUE(m.engineOutput(1)->active);
    const vl::MidiDeviceRecord* in0 = m.stored(L"In 0", true);
    EXPECT_TRUE(in0->active);
    EXPECT_FALSE(in0->sync);
    EXPECT_EQ(in0->channel, 0);
    EXPECT_EQ(m.rig.midi.closeCalls, closes);
    // The dialog still shows its edits; Cancel drops them and shows the records again.
    EXPECT_EQ(model.inputs()[0].icon, MidiStateIcon::Inactive);
    model.cancel();
    EXPECT_EQ(model.inputs()[0].icon, MidiStateIcon::Active);
    EXPECT_EQ(model.outputIndex(), 2);
    EXPECT_EQ(m.storedOutputMarks(), (std::vector<bool>{false, true, false}));
}

TEST(MidiSettingsModel, APluginWithoutMidiGetsDisabledLists) {
    DialogRig rig;
    rig.probe.config().canDoReceive = 0;
    rig.load();
    MidiSettingsModel model(rig.host, rig.midi, *rig.settings, vl::midiCapabilitiesOf(rig.slot), &rig.messages);
    model.initialise();
    EXPECT_FALSE(model.inputListEnabled());
    EXPECT_FALSE(model.outputListEnabled());
    EXPECT_TRUE(model.inputs().empty());
    ASSERT_EQ(model.outputs().size(), 1u);  // "No Output"
    model.selectInput(0);
    EXPECT_FALSE(model.optionsEnabled());
}
