// The generic editor's rules: its rows from the probe's parameters, texts that overrun the
// published limits cut, the slider mapping, values set and read back, refresh reporting what a
// program or the plug-in changed, and the program list.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <set>
#include <string>

#include "dialogs/models/GenericEditorModel.h"
#include "host/PluginSlot.h"
#include "support/FakePlugin.h"
#include "support/ProbeModule.h"

namespace {

using namespace vl;

class GenericEditorRig : public ::testing::Test {
protected:
    void load() {
        ASSERT_TRUE(probe.ok());
        ASSERT_EQ(slot.load(probe.path()), LoadResult::Loaded);
    }
    int setParameterCalls() { return probe.log().setParameterCalls; }
    vltest::ProbeModule probe;
    PluginSlot slot;
};

TEST_F(GenericEditorRig, OnlyAPluginWithoutItsOwnEditorGetsTheGenericOne) {
    EXPECT_FALSE(needsGenericEditor(slot)) << "no plug-in, no editor";
    probe.config().hasEditor = 1;
    load();
    EXPECT_FALSE(needsGenericEditor(slot));
    slot.effect->flags &= ~vst::effFlagsHasEditor;
    EXPECT_TRUE(needsGenericEditor(slot));
}

TEST_F(GenericEditorRig, RowsCarryNameValueAndTheTextsOfThePlugin) {
    probe.config().hasEditor = 0;
    probe.config().numParams = 3;
    probe.config().params[0] = 0.5f;
    probe.config().params[1] = 0.125f;
    probe.config().params[2] = 1.5f;  // beyond the range: shown at its end
    std::strcpy(probe.config().paramNames[1], "A name far longer than the eight bytes a host is told to expect");
    load();
    ASSERT_TRUE(needsGenericEditor(slot));
    GenericEditorModel model(slot);
    ASSERT_EQ(model.rows().size(), 3u);
    EXPECT_EQ(model.rows()[0].name, "Param 1");
    // Whole up to the kept length: the plug-in wrote beyond 8 bytes and nothing broke.
    EXPECT_EQ(model.rows()[1].name, std::string("A name far longer than the eight bytes a host is told to expect")
                                        .substr(0, kMaxParameterTextChars));
    EXPECT_FLOAT_EQ(model.rows()[0].value, 0.5f);
    EXPECT_EQ(model.rows()[0].valueText(), "50.00 %");
    EXPECT_EQ(model.rows()[1].valueText(), "12.50 %");
    EXPECT_FLOAT_EQ(model.rows()[2].value, 1.0f);
    EXPECT_EQ(model.rows()[2].position(), kSliderSteps);
    EXPECT_EQ(setParameterCalls(), 0) << "showing the rows changes nothing";
}

// A plug-in that writes its whole buffer and more without a terminating zero, pads its texts,
// and whose texts can change while its values stay (a unit switched by another parameter).
class Overrunner : public vltest::FakePlugin {
public:
    explicit Overrunner(int params) : FakePlugin(2, 2, vst::effFlagsCanReplacing) {
        effect.numParams = params;
        effect.getParameter = [](vst::AEffect*, vst::int32) { return 0.25f; };
    }
    std::string unit = "dB      ";

protected:
    vst::intptr onDispatch(vst::int32 opcode, vst::int32 index, vst::intptr, void* ptr, float) override {
        char* text = static_cast<char*>(ptr);
        if (opcode == vst::effGetParamName && index == 0) std::memset(text, 'n', kParameterTextBuffer);
        if (opcode == vst::effGetParamName && index == 1) std::strcpy(text, "");  // no name
        if (opcode == vst::effGetParamDisplay) std::strcpy(text, "   -6.0  ");
        if (opcode == vst::effGetParamLabel) std::strcpy(text, index == 1 ? "" : unit.c_str());
        return 0;
    }
};

// The plug-in belongs to the test, not to the slot that would close it.
struct Borrowed {
    explicit Borrowed(vltest::FakePlugin& plugin) { plugin.attach(slot); }
    ~Borrowed() { slot.effect = nullptr; }
    PluginSlot slot;
};

TEST(GenericEditorTexts, UnterminatedNamesAreCutPaddingGoesAndANamelessParameterIsNumbered) {
    Overrunner plugin(2);
    Borrowed borrowed(plugin);
    GenericEditorModel model(borrowed.slot);
    ASSERT_EQ(model.rows().size(), 2u);
    EXPECT_EQ(model.rows()[0].name, std::string(kMaxParameterTextChars, 'n'));
    EXPECT_EQ(model.rows()[1].name, "Parameter 2");
    EXPECT_EQ(model.rows()[0].valueText(), "-6.0 dB");
    EXPECT_EQ(model.rows()[1].valueText(), "-6.0");
    EXPECT_FALSE(model.set(0, 0.5f)) << "no setParameter entry: nothing to set";
}

TEST(GenericEditorTexts, ATextThatChangesWithoutItsValueIsFoundByTheSweep) {
    Overrunner plugin(40);
    Borrowed borrowed(plugin);
    GenericEditorModel model(borrowed.slot);
    EXPECT_FALSE(model.refresh().any());
    plugin.unit = "Hz";
    // Every row but the unlabelled one, each once, within the calls that sweep all rows.
    std::multiset<size_t> reported;
    const size_t calls = (40 + GenericEditorModel::kTextSweepRows - 1) / GenericEditorModel::kTextSweepRows;
    for (size_t i = 0; i < calls; ++i)
        for (size_t row : model.refresh().rows) reported.insert(row);
    EXPECT_EQ(reported.size(), 39u);
    EXPECT_EQ(reported.count(1), 0u);
    EXPECT_EQ(reported.count(0), 1u);
    EXPECT_EQ(reported.count(39), 1u);
    EXPECT_EQ(model.rows()[39].valueText(), "-6.0 Hz");
    EXPECT_FALSE(model.refresh().any());
}

TEST(GenericEditorSlider, PositionsAndValuesMapBothWays) {
    for (int position = 0; position <= kSliderSteps; ++position)
        ASSERT_EQ(sliderPosition(valueAtPosition(position)), position);
    EXPECT_EQ(sliderPosition(0.0f), 0);
    EXPECT_EQ(sliderPosition(1.0f), kSliderSteps);
    EXPECT_EQ(sliderPosition(0.3337f), 334);
    EXPECT_NEAR(valueAtPosition(sliderPosition(0.3337f)), 0.3337f, 0.5f / kSliderSteps);
    EXPECT_EQ(sliderPosition(-2.0f), 0);
    EXPECT_EQ(sliderPosition(std::nanf("")), 0);
    EXPECT_FLOAT_EQ(valueAtPosition(-5), 0.0f);
    EXPECT_FLOAT_EQ(valueAtPosition(kSliderSteps * 3), 1.0f);
}

TEST(GenericEditorSize, FixedWidthRowsUpToALimitThenScrolling) {
    const GenericEditorMetrics metrics{20, 30, 5};
    const GenericEditorSize none = genericEditorSize(0, metrics);
    EXPECT_EQ(none.width, kGenericEditorWidth);
    EXPECT_EQ(none.height, 5 + 30 + 5 + 5);
    EXPECT_FALSE(none.scrolls);
    EXPECT_EQ(genericEditorSize(3, metrics).height, 45 + 3 * 20);
    const GenericEditorSize full = genericEditorSize(kGenericVisibleRows, metrics);
    EXPECT_FALSE(full.scrolls);
    const GenericEditorSize many = genericEditorSize(500, metrics);
    EXPECT_TRUE(many.scrolls);
    EXPECT_EQ(many.height, full.height);
}

TEST_F(GenericEditorRig, SetReachesThePluginAndRefreshReportsWhatChangedElsewhere) {
    probe.config().hasEditor = 0;
    probe.config().numParams = 40;  // more rows than one refresh sweeps
    load();
    GenericEditorModel model(slot);
    ASSERT_EQ(model.rows().size(), 40u);

    ASSERT_TRUE(model.setPosition(2, 750));
    EXPECT_EQ(setParameterCalls(), 1);
    EXPECT_FLOAT_EQ(probe.config().params[2], 0.75f);
    EXPECT_EQ(model.rows()[2].valueText(), "75.00 %") << "the row reads the plug-in's text back";
    EXPECT_FALSE(model.set(40, 0.5f)) << "a row out of range";
    EXPECT_EQ(setParameterCalls(), 1);
    // Nothing changed since: refresh reports nothing and sets nothing.
    for (int i = 0; i < 10; ++i) EXPECT_FALSE(model.refresh().any());
    EXPECT_EQ(setParameterCalls(), 1);

    // The plug-in moves two knobs itself (MIDI learn, a program): both rows, in order.
    probe.config().params[31] = 0.5f;
    probe.config().params[5] = 0.25f;
    const GenericEditorModel::Changes changes = model.refresh();
    ASSERT_EQ(changes.rows.size(), 2u);
    EXPECT_EQ(changes.rows[0], 5u);
    EXPECT_EQ(changes.rows[1], 31u);
    EXPECT_FALSE(changes.program);
    EXPECT_EQ(model.rows()[31].valueText(), "50.00 %");
    EXPECT_EQ(model.rows()[31].position(), 500);
    EXPECT_FALSE(model.refresh().any());

}

TEST_F(GenericEditorRig, ProgramsAreListedChosenAndFollowed) {
    probe.config().hasEditor = 0;
    probe.config().numParams = 2;
    probe.config().numPrograms = 3;
    probe.config().program = 1;
    std::strcpy(probe.config().programNames[0], "Warm");
    std::strcpy(probe.config().programNames[2], "Bright");
    load();
    GenericEditorModel model(slot);
    EXPECT_FALSE(model.programsLoaded());
    int runs = 0;
    const BetweenBlocks counting = [&](const std::function<void()>& change) {
        ++runs;
        change();
        return true;
    };
    model.loadPrograms(counting);
    ASSERT_TRUE(model.programsLoaded());
    ASSERT_EQ(model.programs().size(), 3u);
    EXPECT_EQ(model.programs()[0], "Warm");
    EXPECT_EQ(model.programs()[1], "Program 2");
    EXPECT_EQ(model.currentProgram(), 1);

    // Chosen through the runner; the rows read again.
    probe.config().params[0] = 0.0f;
    EXPECT_TRUE(model.chooseProgram(2, counting));
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(probe.config().program, 2);
    EXPECT_EQ(model.currentProgram(), 2);
    EXPECT_FALSE(model.chooseProgram(3, counting)) << "out of range";
    EXPECT_FALSE(model.chooseProgram(-1, counting));
    EXPECT_EQ(runs, 1);
    // A runner that gives up leaves the program.
    EXPECT_FALSE(model.chooseProgram(0, [](const std::function<void()>&) { return false; }));
    EXPECT_EQ(probe.config().program, 2);

    // Changed elsewhere (the preset menu, a MIDI program change), renamed: refresh says so.
    probe.config().program = 0;
    GenericEditorModel::Changes changes = model.refresh();
    EXPECT_TRUE(changes.program);
    EXPECT_EQ(model.currentProgram(), 0);
    std::strcpy(probe.config().programNames[0], "Warmer");
    changes = model.refresh();
    EXPECT_TRUE(changes.program);
    EXPECT_EQ(model.programs()[0], "Warmer");
    EXPECT_FALSE(model.refresh().any());

    // A bank renamed programs other than the current one: read again before the list opens.
    std::strcpy(probe.config().programNames[2], "Brighter");
    EXPECT_FALSE(model.refresh().any()) << "only the current program's name is followed at every call";
    EXPECT_TRUE(model.rereadProgramNames(counting));
    EXPECT_EQ(model.programs()[2], "Brighter");
    EXPECT_FALSE(model.rereadProgramNames(counting)) << "nothing changed since";
    EXPECT_EQ(runs, 1) << "names by index visit no program";

    // Names of a plug-in without effGetProgramNameIndexed come through the runner, and are not
    // read again before each opening (that would visit every program).
    std::strcpy(probe.config().programNames[2], "Bright");
    probe.config().namesIndexed = 0;
    model.loadPrograms(counting);
    EXPECT_EQ(runs, 2);
    ASSERT_EQ(model.programs().size(), 3u);
    EXPECT_EQ(model.programs()[2], "Bright");
    EXPECT_EQ(probe.config().program, 0) << "the current program is put back";
    std::strcpy(probe.config().programNames[2], "Dark");
    EXPECT_FALSE(model.rereadProgramNames(counting));
    EXPECT_EQ(runs, 2);
}

}  // namespace
