#pragma once
// GenericEditorModel: the host's own editor for a plug-in that brings none (effFlagsHasEditor
// clear). One row per parameter with its name, its value 0..1 (a slider) and the plug-in's
// text for it (effGetParamDisplay and effGetParamLabel), and the plug-in's programs.
//
// Thread: the user-interface thread. A slider's value goes to the plug-in's setParameter right
// away, as generic editors and automation do; a program change goes through the BetweenBlocks
// runner. The window calls refresh() from its idle timer, so that values that a program, MIDI
// or the plug-in itself changed show.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/PluginPresets.h"

namespace vl {

class PluginSlot;

// A plug-in without an editor of its own gets the generic one.
bool needsGenericEditor(const PluginSlot& slot);

// Bytes offered to the plug-in for a name or text (the published limit is 8: plug-ins write
// more), and the characters kept of what it wrote.
constexpr size_t kParameterTextBuffer = 256;
constexpr size_t kMaxParameterTextChars = 48;

// Slider positions 0..kSliderSteps stand for the values 0..1.
constexpr int kSliderSteps = 1000;
int sliderPosition(float value);
float valueAtPosition(int position);

struct GenericParameterRow {
    int32_t index = 0;
    std::string name;     // "Parameter N" when the plug-in gives none
    float value = 0.0f;   // getParameter, clamped to 0..1
    std::string display;  // effGetParamDisplay
    std::string label;    // effGetParamLabel (the unit)
    // What the row shows beside its slider: the display and the unit.
    std::string valueText() const;
    int position() const { return sliderPosition(value); }
};

// The generic editor's extent from the size of a row in the window's toolkit: a fixed width,
// the program line, and the rows up to kGenericVisibleRows; more rows scroll.
constexpr int kGenericEditorWidth = 480;
constexpr int kGenericVisibleRows = 16;
struct GenericEditorMetrics {
    int rowHeight = 28;
    int programHeight = 32;  // the program line (also the line that says there are no parameters)
    int margin = 8;          // above, below and between the program line and the rows
};
struct GenericEditorSize {
    int width = kGenericEditorWidth;
    int height = 0;
    bool scrolls = false;  // the rows do not fit the height
};
GenericEditorSize genericEditorSize(int rows, const GenericEditorMetrics& metrics);

class GenericEditorModel {
public:
    // Reads every row; the programs wait for loadPrograms().
    explicit GenericEditorModel(PluginSlot& slot);

    const std::vector<GenericParameterRow>& rows() const { return rows_; }

    // Sets row's parameter (value clamped to 0..1) and reads it back with its texts (plug-ins
    // round to their steps); false for a row out of range or without a plug-in.
    bool set(size_t row, float value);
    bool setPosition(size_t row, int position) { return set(row, valueAtPosition(position)); }

    // What refresh() found changed.
    struct Changes {
        std::vector<size_t> rows;  // rows whose value or texts changed
        bool program = false;      // the current program, or its name, changed
        bool any() const { return program || !rows.empty(); }
    };
    // Reads every value again, the texts of the rows whose value changed and, in turn, those of
    // kTextSweepRows further rows (a text can change without its value: units, another
    // parameter's mode), so that many parameters cost little per call.
    Changes refresh();
    static constexpr size_t kTextSweepRows = 8;

    // The programs: names through the runner (see programNames); empty when the plug-in has
    // none.
    void loadPrograms(const BetweenBlocks& between);
    bool programsLoaded() const { return programsLoaded_; }
    const std::vector<std::string>& programs() const { return programs_; }
    int32_t currentProgram() const { return current_; }
    // Before the list opens: the names read again where that visits no program (the plug-in
    // names them by index; it may have renamed them, a bank may have come). True when they
    // changed.
    bool rereadProgramNames(const BetweenBlocks& between);
    // Selects a program through the runner, then reads every row again; false when the index
    // is out of range or the runner gave up.
    bool chooseProgram(int32_t index, const BetweenBlocks& between);

private:
    bool readRow(GenericParameterRow& row);  // true when something changed
    void readTexts(GenericParameterRow& row);
    float readValue(int32_t index) const;

    PluginSlot& slot_;
    std::vector<GenericParameterRow> rows_;
    std::vector<std::string> programs_;
    int32_t current_ = 0;
    bool programsLoaded_ = false;
    size_t sweep_ = 0;
};

}  // namespace vl
