#include "app/linux/PlayerWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include "app/linux/Controls.h"
#include "platform/Text.h"
#include "player/PlayerCore.h"

namespace vl::linuxapp {

PlayerWindow::PlayerWindow(QWidget* parent, VLVSTHostInterface& host, HostSettings& settings, bool playerDisabled,
                           platform::MessageSink* messages)
    : QDialog(parent), model(host, settings, playerDisabled, messages, this) {
    setWindowTitle(qs(kPlayerCaption));
    setAttribute(Qt::WA_DeleteOnClose);
    fileName = new QLabel(this);
    rewindButton = new QPushButton("<<|", this);
    loadButton = new QPushButton("Load File", this);
    playButton = new QPushButton(this);
    playTime = new QLabel(this);
    tempoText = new QLabel(this);
    detectTempo = new QCheckBox("Detect Tempo", this);
    loopFile = new QCheckBox("Loop File", this);
    startByMidi = new QCheckBox("Start on Midi Event", this);
    recordButton = new QPushButton(this);
    recordTime = new QLabel(this);
    recordOption = new QComboBox(this);
    maxLength = new QComboBox(this);
    openOnStartup = new QCheckBox("Open on Startup", this);
    std::vector<QString> options;
    for (int i = 0; i < kRecordOptionCount; ++i) options.push_back(qs(recordOptionText(i)));
    std::vector<QString> lengths;
    for (int i = 0; i < kRecordLengthCount; ++i) lengths.push_back(qs(recordLengthText(i)));
    fill(maxLength, lengths, 0);
    fill(recordOption, options, 0);

    auto* grid = new QGridLayout(this);
    grid->addWidget(fileName, 0, 0, 1, 3);
    grid->addWidget(loadButton, 0, 3);
    grid->addWidget(rewindButton, 1, 0);
    grid->addWidget(playButton, 1, 1);
    grid->addWidget(playTime, 1, 2);
    grid->addWidget(tempoText, 1, 3);
    grid->addWidget(detectTempo, 2, 0);
    grid->addWidget(loopFile, 2, 1);
    grid->addWidget(startByMidi, 2, 2);
    grid->addWidget(recordButton, 3, 0);
    grid->addWidget(recordTime, 3, 1);
    grid->addWidget(recordOption, 3, 2);
    grid->addWidget(maxLength, 3, 3);
    grid->addWidget(openOnStartup, 4, 0, 1, 2);

    connect(loadButton, &QPushButton::clicked, this, [this] {
        const QString file = QFileDialog::getOpenFileName(this, "Load File", QString(), "Supported Files (*.wav *.aif *.aiff)");
        if (!file.isEmpty()) run([&] { model.loadFile(platform::pathFromWide(file.toStdWString())); });
    });
    connect(rewindButton, &QPushButton::clicked, this, [this] { run([&] { model.rewind(); }); });
    connect(playButton, &QPushButton::clicked, this, [this] { run([&] { model.togglePlay(); }); });
    connect(recordButton, &QPushButton::clicked, this, [this] { run([&] { model.toggleRecording(); }); });
    connect(detectTempo, &QCheckBox::clicked, this, [this](bool on) { run([&] { model.setDetectTempo(on); }); });
    connect(loopFile, &QCheckBox::clicked, this, [this](bool on) { run([&] { model.setLoopFile(on); }); });
    connect(startByMidi, &QCheckBox::clicked, this, [this](bool on) { run([&] { model.setStartByMidi(on); }); });
    connect(openOnStartup, &QCheckBox::clicked, this, [this](bool on) { run([&] { model.setOpenOnStartup(on); }); });
    connect(recordOption, &QComboBox::activated, this, [this](int i) { run([&] { model.selectRecordOption(i); }); });
    connect(maxLength, &QComboBox::activated, this, [this](int i) { run([&] { model.selectMaxLength(i); }); });
    // The times and states follow the engine.
    connect(&timer, &QTimer::timeout, this, [this] { run([&] { model.timerTick(); }); });
    timer.start(100);
    run([&] { model.initialise(); });
}

std::optional<std::filesystem::path> PlayerWindow::chooseSavePath() {
    const QString file = QFileDialog::getSaveFileName(this, qs(kSaveFileTitle), qs(kSaveFileName) + ".wav",
                                                      "WAV files (*.wav)");
    if (file.isEmpty()) return std::nullopt;
    return platform::pathFromWide(file.toStdWString());
}

void PlayerWindow::done(int result) {
    // The model stops the player and offers an unsaved recording first, whichever way the
    // window is closed.
    if (!closed) {
        closed = true;
        timer.stop();
        model.close();
    }
    QDialog::done(result);
}

void PlayerWindow::loadFile(const std::filesystem::path& path) {
    run([&] { model.loadFile(path); });
}

template <class Operation>
void PlayerWindow::run(Operation operation) {
    if (showing || closed) return;
    operation();
    show();
}

void PlayerWindow::show() {
    showing = true;
    const PlayerControls& view = model.controls();
    fileName->setText(qs(view.fileName));
    playButton->setText(qs(view.playText));
    playTime->setText(qs(view.playTime));
    tempoText->setText(qs(view.tempoText));
    recordButton->setText(qs(view.recordText));
    recordTime->setText(qs(view.recordTime));
    setChecked(detectTempo, view.detectTempo);
    setChecked(loopFile, view.loopFile);
    setChecked(startByMidi, view.startByMidi);
    setChecked(openOnStartup, view.openOnStartup);
    {
        const QSignalBlocker quiet(recordOption);
        while (recordOption->count() > view.recordOptionCount) recordOption->removeItem(recordOption->count() - 1);
        recordOption->setCurrentIndex(view.recordOption);
    }
    selectIndex(maxLength, view.maxLengthIndex);
    for (QWidget* w : std::initializer_list<QWidget*>{rewindButton, playButton, playTime, fileName, tempoText})
        w->setEnabled(view.playerEnabled);
    for (QWidget* w : std::initializer_list<QWidget*>{loadButton, detectTempo, loopFile, startByMidi})
        w->setEnabled(view.fileOptionsEnabled);
    recordButton->setEnabled(view.recordEnabled);
    recordOption->setEnabled(view.recordOptionEnabled);
    maxLength->setEnabled(view.maxLengthEnabled);
    showing = false;
}

}  // namespace vl::linuxapp
