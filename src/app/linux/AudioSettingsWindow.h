#pragma once
// The Audio Settings window of the Linux application: the JACK ports of the host's inputs and
// outputs, and the buffer size, bound to the Audio Settings model the Windows program uses.

#include <QDialog>
#include <QLineEdit>
#include <QTimer>

#include <functional>

#include "dialogs/models/AudioSettingsModel.h"

class QComboBox;
class QPushButton;

namespace vl {
class VLJack;
}

namespace vl::linuxapp {

// The family list of the Audio Settings: the back end at the ASIO code is the JACK server's.
QString audioTypeText(const AudioTypeEntry& entry);

class AudioSettingsWindow : public QDialog {
public:
    // applied: after Apply or OK has restarted the engine with the choice. jack: the server
    // whose block size the buffer steps ask for (the size shown is the server's).
    AudioSettingsWindow(QWidget* parent, AudioBackendSet& backends, HostSettings& settings, VLVSTHostInterface& host,
                        bool noAudioInput, platform::MessageSink* messages, std::function<void()> applied,
                        VLJack* jack);

private:
    void show();  // the model's state into the controls
    // The server decides the size for every client: the steps ask it for the next power of
    // two, and the size shown follows what the server answers (its callback).
    void stepServerBlock(bool up);
    void showServerBlock();
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
    QPushButton* samplesDown;
    QPushButton* samplesUp;
    VLJack* jack;
    QTimer serverWatch;
};

}  // namespace vl::linuxapp
