#pragma once
// The Audio Player / Recorder window of the Linux application, bound to the player window's
// model the Windows program uses.

#include <QDialog>
#include <QTimer>

#include <filesystem>
#include <optional>

#include "dialogs/models/PlayerWindowModel.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace vl::linuxapp {

class PlayerWindow : public QDialog, private SavePathChooser {
public:
    PlayerWindow(QWidget* parent, VLVSTHostInterface& host, HostSettings& settings, bool playerDisabled,
                 platform::MessageSink* messages);

    // A file dropped on the main window: as Load File with it chosen.
    void loadFile(const std::filesystem::path& path);

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
