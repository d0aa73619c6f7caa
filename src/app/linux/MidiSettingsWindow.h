#pragma once
// The Midi Settings window of the Linux application: every MIDI input with its options and the
// MIDI output, bound to the Midi Settings model the Windows program uses.

#include <QDialog>

#include "dialogs/models/MidiSettingsModel.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;

namespace vl::linuxapp {

class MidiSettingsWindow : public QDialog {
public:
    MidiSettingsWindow(QWidget* parent, VLVSTHostInterface& host, VLMidiBase& midi, HostSettings& settings,
                       MidiCapabilities capabilities, platform::MessageSink* messages);

private:
    void show();
    template <class Operation>
    void run(Operation operation);

    MidiSettingsModel model;
    bool showing = false;
    QListWidget* inputs;
    QCheckBox* active;
    QCheckBox* sync;
    QCheckBox* syncWhilePlaying;
    QCheckBox* filterCC;
    QCheckBox* filterProgram;
    QComboBox* channel;
    QComboBox* rangeLeft;
    QComboBox* rangeRight;
    QLabel* delay;
    QComboBox* output;
    QPushButton* applyButton;
};

}  // namespace vl::linuxapp
