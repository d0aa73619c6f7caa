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
    // The engine's device list grew (a source plugged in): listed at once, or after Apply
    // when edits are waiting (a new listing would drop them).
    void devicesChanged();

private:
    void relist();
    void show();
    template <class Operation>
    void run(Operation operation);

    MidiSettingsModel model;
    bool showing = false;
    bool listStale = false;
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
