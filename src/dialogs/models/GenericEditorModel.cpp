#include "dialogs/models/GenericEditorModel.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "host/PluginSlot.h"

namespace vl {

namespace {

// What the plug-in wrote, up to its terminating zero or the buffer's end, without the spaces
// that plug-ins pad their texts with, and at most kMaxParameterTextChars characters.
std::string cutText(const char* buffer) {
    size_t length = strnlen(buffer, kParameterTextBuffer - 1);
    size_t start = 0;
    while (start < length && buffer[start] == ' ') ++start;
    while (length > start && buffer[length - 1] == ' ') --length;
    return std::string(buffer + start, std::min(length - start, kMaxParameterTextChars));
}

std::string parameterText(PluginSlot& slot, vst::int32 opcode, int32_t index) {
    // One spare byte beyond what is read: a plug-in that writes the whole buffer without a
    // terminating zero is still cut inside it.
    char buffer[kParameterTextBuffer + 1] = {};
    slot.dispatch(opcode, index, 0, buffer);
    buffer[kParameterTextBuffer] = '\0';
    return cutText(buffer);
}

float clampValue(float value) {
    if (!std::isfinite(value)) return 0.0f;
    return std::clamp(value, 0.0f, 1.0f);
}

}  // namespace

bool needsGenericEditor(const PluginSlot& slot) {
    return slot.effect && (slot.effect->flags & vst::effFlagsHasEditor) == 0;
}

int sliderPosition(float value) { return static_cast<int>(std::lround(clampValue(value) * kSliderSteps)); }

float valueAtPosition(int position) {
    return static_cast<float>(std::clamp(position, 0, kSliderSteps)) / static_cast<float>(kSliderSteps);
}

std::string GenericParameterRow::valueText() const {
    if (label.empty()) return display;
    if (display.empty()) return label;
    return display + " " + label;
}

GenericEditorSize genericEditorSize(int rows, const GenericEditorMetrics& metrics) {
    GenericEditorSize size;
    const int shown = std::clamp(rows, 0, kGenericVisibleRows);
    size.scrolls = rows > kGenericVisibleRows;
    size.height = metrics.margin + metrics.programHeight + metrics.margin + shown * metrics.rowHeight + metrics.margin;
    return size;
}

GenericEditorModel::GenericEditorModel(PluginSlot& slot) : slot_(slot) {
    const int32_t count = slot.effect ? std::max(slot.effect->numParams, 0) : 0;
    rows_.resize(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i) {
        GenericParameterRow& row = rows_[static_cast<size_t>(i)];
        row.index = i;
        row.name = parameterText(slot, vst::effGetParamName, i);
        if (row.name.empty()) row.name = "Parameter " + std::to_string(i + 1);
        readRow(row);
    }
    current_ = slot.effect ? vl::currentProgram(slot) : 0;
}

float GenericEditorModel::readValue(int32_t index) const {
    vst::AEffect* effect = slot_.effect;
    if (!effect || !effect->getParameter) return 0.0f;
    return clampValue(effect->getParameter(effect, index));
}

void GenericEditorModel::readTexts(GenericParameterRow& row) {
    row.display = parameterText(slot_, vst::effGetParamDisplay, row.index);
    row.label = parameterText(slot_, vst::effGetParamLabel, row.index);
}

bool GenericEditorModel::readRow(GenericParameterRow& row) {
    const GenericParameterRow before = row;
    row.value = readValue(row.index);
    readTexts(row);
    return row.value != before.value || row.display != before.display || row.label != before.label;
}

bool GenericEditorModel::set(size_t row, float value) {
    vst::AEffect* effect = slot_.effect;
    if (row >= rows_.size() || !effect || !effect->setParameter) return false;
    effect->setParameter(effect, rows_[row].index, clampValue(value));
    readRow(rows_[row]);
    return true;
}

GenericEditorModel::Changes GenericEditorModel::refresh() {
    Changes changes;
    if (!slot_.effect) return changes;
    std::vector<bool> read(rows_.size(), false);
    for (size_t i = 0; i < rows_.size(); ++i) {
        GenericParameterRow& row = rows_[i];
        const float value = readValue(row.index);
        if (value == row.value) continue;
        row.value = value;
        readTexts(row);
        read[i] = true;
        changes.rows.push_back(i);
    }
    const size_t sweep = std::min(kTextSweepRows, rows_.size());
    for (size_t n = 0; n < sweep; ++n) {
        const size_t i = (sweep_ + n) % rows_.size();
        if (read[i]) continue;
        GenericParameterRow& row = rows_[i];
        const std::string display = row.display, label = row.label;
        readTexts(row);
        if (row.display != display || row.label != label) changes.rows.push_back(i);
    }
    if (!rows_.empty()) sweep_ = (sweep_ + sweep) % rows_.size();
    std::sort(changes.rows.begin(), changes.rows.end());

    const int32_t current = vl::currentProgram(slot_);
    if (current != current_) {
        current_ = current;
        changes.program = true;
    }
    if (programsLoaded_ && current_ >= 0 && static_cast<size_t>(current_) < programs_.size()) {
        std::string name = currentProgramName(slot_);
        if (!name.empty() && name != programs_[static_cast<size_t>(current_)]) {
            programs_[static_cast<size_t>(current_)] = std::move(name);
            changes.program = true;
        }
    }
    return changes;
}

void GenericEditorModel::loadPrograms(const BetweenBlocks& between) {
    programs_ = programNames(slot_, between);
    current_ = vl::currentProgram(slot_);
    programsLoaded_ = true;
}

bool GenericEditorModel::rereadProgramNames(const BetweenBlocks& between) {
    if (!slot_.effect || !namesAreIndexed(slot_)) return false;
    std::vector<std::string> names = programNames(slot_, between);
    if (names == programs_) return false;
    programs_ = std::move(names);
    programsLoaded_ = true;
    return true;
}

bool GenericEditorModel::chooseProgram(int32_t index, const BetweenBlocks& between) {
    if (!selectProgram(slot_, index, between)) return false;
    current_ = vl::currentProgram(slot_);
    for (GenericParameterRow& row : rows_) readRow(row);
    return true;
}

}  // namespace vl
