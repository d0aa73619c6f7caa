#pragma once
// The Linux application's settings windows: Audio (the JACK ports), Midi, Tempo and the Audio
// Player / Recorder. Each binds Qt controls to the dialog model the Windows program uses: a
// control event calls one model operation, then the window shows what the model says.

#include <QDialog>
#include <QLineEdit>
#include <QTimer>

#include <memory>

#include "dialogs/models/AudioSettingsModel.h"
#include "dialogs/models/MidiSettingsModel.h"
#include "dialogs/models/PlayerWindowModel.h"
#include "dialogs/models/TempoModel.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;

namespace vl::linuxapp {

// The family list of the Audio Settings: the back end at the ASIO code is the JACK server's.
QString audioTypeText(const AudioTypeEntry& entry);

class AudioWindow : public QDialog {
public:
    // applied: after Apply or OK has restarted the engine with the choice.
    AudioWindow(QWidget* parent, AudioBackendSet& backends, HostSettings& settings, VLVSTHostInterface& host,
                bool noAudioInput, platform::MessageSink* messages, std::function<void()> applied);

private:
    void show();  // the model's state into the controls
    template <class Operation>
    void run(Operation operation);

    AudioSettingsModel model;
    std::function<void()> applied;
    bool showing = false;
    QComboBox* type;
    QComboBox* inputDevice;
    QComboBox* inputLeft;
    QComboBox* inputRight;
    QComboBox* outputDevice;
    QComboBox* outputLeft;
    QComboBox* outputRight;
    QLineEdit* samples;
    QLineEdit* latency;
    QPushButton* applyButton;
};

class MidiWindow : public QDialog {
public:
    MidiWindow(QWidget* parent, VLVSTHostInterface& host, VLMidiBase& midi, HostSettings& settings,
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

// The tempo box: dragging on it with the mouse changes the tempo (whole beats or tenths, by
// where the drag starts).
class TempoBox : public QLineEdit {
public:
    TempoBox(TempoModel& model, std::function<void()> changed);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    TempoModel& model;
    std::function<void()> changed;
};

class TempoWindow : public QDialog {
public:
    TempoWindow(QWidget* parent, VLVSTHostInterface& host, HostSettings& settings);

private:
    void show();
    TempoModel model;
    TempoBox* box;
};

class PlayerWindow : public QDialog, private SavePathChooser {
public:
    PlayerWindow(QWidget* parent, VLVSTHostInterface& host, HostSettings& settings, bool playerDisabled,
                 platform::MessageSink* messages);

protected:
    void done(int result) override;

private:
    std::optional<std::filesystem::path> chooseSavePath() override;
    void show();
    template <class Operation>
    void run(Operation operation);

    PlayerWindowModel model;
    bool showing = false;
    bool closed = false;
    QTimer timer;
    QLabel* fileName;
    QPushButton* rewindButton;
    QPushButton* loadButton;
    QPushButton* playButton;
    QLabel* playTime;
    QLabel* tempoText;
    QCheckBox* detectTempo;
    QCheckBox* loopFile;
    QCheckBox* startByMidi;
    QPushButton* recordButton;
    QLabel* recordTime;
    QComboBox* recordOption;
    QComboBox* maxLength;
    QCheckBox* openOnStartup;
};

}  // namespace vl::linuxapp
