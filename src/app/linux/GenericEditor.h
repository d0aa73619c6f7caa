#pragma once
// The host's own editor for a plug-in without one: the program list on top, then a row per
// parameter (its name, a slider and the plug-in's text for the value) in a scroll area. The
// rules are GenericEditorModel's; the main window shows this widget in the editor's place and
// calls refresh() from its idle timer.

#include <QWidget>

#include <memory>
#include <vector>

#include "dialogs/models/GenericEditorModel.h"

class QComboBox;
class QLabel;
class QSlider;

namespace vl::linuxapp {

class GenericEditor : public QWidget {
public:
    GenericEditor(PluginSlot& slot, BetweenBlocks between, QWidget* parent);

    // Shows what changed in the plug-in since the last call (values moved by a program, by MIDI
    // or by the plug-in itself); the programs are read at the first call, once the engine is
    // linked.
    void refresh();

private:
    struct Row {
        QSlider* slider = nullptr;
        QLabel* value = nullptr;
    };
    void showRow(size_t row);
    void fillPrograms();
    void userMoved(size_t row, int position);

    GenericEditorModel model;
    BetweenBlocks between;
    QComboBox* programs = nullptr;
    std::vector<Row> rows;
};

}  // namespace vl::linuxapp
