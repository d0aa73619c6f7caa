#include "Windows.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QVBoxLayout>

#include "audio/jack/VLJack.h"
#include "platform/Text.h"
#include "player/PlayerCore.h"

namespace vl::linuxapp {

namespace {

QString qs(const std::wstring& text) { return QString::fromStdWString(text); }

// Fills a combo box with texts and a selection, without reporting it as the user's choice.
void fill(QComboBox* box, const std::vector<QString>& texts, int selected) {
    const QSignalBlocker quiet(box);
    box->clear();
    for (const QString& text : texts) box->addItem(text);
    box->setCurrentIndex(selected);
}

void setChecked(QCheckBox* box, bool on) {
    const QSignalBlocker quiet(box);
    box->setChecked(on);
}

void selectIndex(QComboBox* box, int index) {
    const QSignalBlocker quiet(box);
    box->setCurrentIndex(index);
}

std::vector<QString> deviceNames(const AudioSettingsModel::DeviceList& list) {
    std::vector<QString> names;
    for (const AudioDeviceRecord* record : list.devices) names.push_back(qs(record->name));
    return names;
}

std::vector<QString> texts(const std::vector<std::wstring>& names) {
    std::vector<QString> out;
    for (const std::wstring& name : names) out.push_back(qs(name));
    return out;
}

QPushButton* stepButton(const char* text, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setFixedWidth(28);
    return button;
}

QString stateMark(MidiStateIcon icon) {
    switch (icon) {
        case MidiStateIcon::Active: return QStringLiteral("\u25CF ");
        case MidiStateIcon::ClockSync: return QStringLiteral("\u25C6 ");
        case MidiStateIcon::Inactive: break;
    }
    return QStringLiteral("\u25CB ");
}

}  // namespace

QString audioTypeText(const AudioTypeEntry& entry) {
    return entry.type == kDeviceTypeJack ? QStringLiteral("JACK") : qs(entry.text);
}

// ---- Audio ------------------------------------------------------------------------------

AudioWindow::AudioWindow(QWidget* parent, AudioBackendSet& backends, HostSettings& settings, VLVSTHostInterface& host,
                         bool noAudioInput, platform::MessageSink* messages, std::function<void()> applied)
    : QDialog(parent), model(backends, settings, host, noAudioInput, false, messages), applied(std::move(applied)) {
    setWindowTitle("Audio Settings");
    setAttribute(Qt::WA_DeleteOnClose);
    auto* form = new QFormLayout;
    type = new QComboBox(this);
    form->addRow("Audio Driver", type);
    auto addDevice = [&](const char* label, QComboBox*& device, QComboBox*& left, QComboBox*& right) {
        device = new QComboBox(this);
        left = new QComboBox(this);
        right = new QComboBox(this);
        form->addRow(label, device);
        form->addRow("   Left", left);
        form->addRow("   Right", right);
    };
    addDevice("Input Device", inputDevice, inputLeft, inputRight);
    addDevice("Output Device", outputDevice, outputLeft, outputRight);
    samples = new QLineEdit(this);
    latency = new QLineEdit(this);
    auto* sizeRow = new QHBoxLayout;
    QPushButton* samplesDown = stepButton("-", this);
    QPushButton* samplesUp = stepButton("+", this);
    sizeRow->addWidget(samples);
    sizeRow->addWidget(samplesDown);
    sizeRow->addWidget(samplesUp);
    sizeRow->addWidget(new QLabel("samples", this));
    sizeRow->addWidget(latency);
    sizeRow->addWidget(new QLabel("ms", this));
    form->addRow("Buffer Size", sizeRow);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Apply | QDialogButtonBox::Cancel, this);
    applyButton = buttons->button(QDialogButtonBox::Apply);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);

    using Side = AudioSettingsModel::Side;
    connect(type, &QComboBox::activated, this, [this](int i) { run([&] { model.selectType(i); }); });
    connect(inputDevice, &QComboBox::activated, this, [this](int i) { run([&] { model.selectInputDevice(i); }); });
    connect(outputDevice, &QComboBox::activated, this, [this](int i) { run([&] { model.selectOutputDevice(i); }); });
    connect(inputLeft, &QComboBox::activated, this, [this](int i) { run([&] { model.selectInputChannel(Side::Left, i); }); });
    connect(inputRight, &QComboBox::activated, this, [this](int i) { run([&] { model.selectInputChannel(Side::Right, i); }); });
    connect(outputLeft, &QComboBox::activated, this, [this](int i) { run([&] { model.selectOutputChannel(Side::Left, i); }); });
    connect(outputRight, &QComboBox::activated, this,
            [this](int i) { run([&] { model.selectOutputChannel(Side::Right, i); }); });
    connect(samplesDown, &QPushButton::clicked, this, [this] { run([&] { model.stepSamples(-1); }); });
    connect(samplesUp, &QPushButton::clicked, this, [this] { run([&] { model.stepSamples(1); }); });
    // Only the user's typing is an edit; the texts the window sets are not.
    connect(samples, &QLineEdit::textEdited, this, [this](const QString& t) { run([&] { model.editSamples(t.toStdWString()); }); });
    connect(latency, &QLineEdit::textEdited, this, [this](const QString& t) { run([&] { model.editLatency(t.toStdWString()); }); });
    connect(applyButton, &QPushButton::clicked, this, [this] {
        run([&] {
            if (model.apply() && this->applied) this->applied();
        });
    });
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        const bool wasEnabled = model.applyEnabled();
        model.ok();
        if (wasEnabled && this->applied) this->applied();
        accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    run([&] { model.initialise(); });
}

template <class Operation>
void AudioWindow::run(Operation operation) {
    if (showing) return;
    operation();
    show();
}

void AudioWindow::show() {
    showing = true;
    std::vector<QString> typeNames;
    for (const AudioTypeEntry& entry : model.types()) typeNames.push_back(audioTypeText(entry));
    fill(type, typeNames, model.typeIndex());
    fill(inputDevice, deviceNames(model.inputs()), model.inputs().selected);
    fill(outputDevice, deviceNames(model.outputs()), model.outputs().selected);
    fill(inputLeft, texts(model.inputChannels().names), model.inputChannels().left);
    fill(inputRight, texts(model.inputChannels().names), model.inputChannels().right);
    fill(outputLeft, texts(model.outputChannels().names), model.outputChannels().left);
    fill(outputRight, texts(model.outputChannels().names), model.outputChannels().right);
    for (QWidget* input : std::initializer_list<QWidget*>{inputDevice, inputLeft, inputRight})
        input->setEnabled(model.inputControlsEnabled());
    if (!samples->hasFocus()) samples->setText(qs(model.samplesText()));
    if (!latency->hasFocus()) latency->setText(qs(model.latencyText()));
    samples->setEnabled(model.bufferControlsEnabled());
    latency->setEnabled(model.bufferControlsEnabled());
    applyButton->setEnabled(model.applyEnabled());
    showing = false;
}

// ---- Midi -------------------------------------------------------------------------------

MidiWindow::MidiWindow(QWidget* parent, VLVSTHostInterface& host, VLMidiBase& midi, HostSettings& settings,
                       MidiCapabilities capabilities, platform::MessageSink* messages)
    : QDialog(parent), model(host, midi, settings, capabilities, messages) {
    setWindowTitle("Midi Settings");
    setAttribute(Qt::WA_DeleteOnClose);
    inputs = new QListWidget(this);
    active = new QCheckBox("Active", this);
    sync = new QCheckBox("Sync to Midi Clock", this);
    syncWhilePlaying = new QCheckBox("Sync while playing", this);
    filterCC = new QCheckBox("Filter Control Changes", this);
    filterProgram = new QCheckBox("Filter Program Changes", this);
    channel = new QComboBox(this);
    rangeLeft = new QComboBox(this);
    rangeRight = new QComboBox(this);
    delay = new QLabel(this);
    output = new QComboBox(this);
    std::vector<QString> channels = texts(midiChannelEntries());
    std::vector<QString> notes;
    for (int n = 0; n < kNoteCount; ++n) notes.push_back(qs(noteName(n)));
    fill(channel, channels, 0);
    fill(rangeLeft, notes, 0);
    fill(rangeRight, notes, kNoteCount - 1);
    QPushButton* delayDown = stepButton("-", this);
    QPushButton* delayUp = stepButton("+", this);
    auto* options = new QFormLayout;
    for (QCheckBox* box : {active, sync, syncWhilePlaying, filterCC, filterProgram}) options->addRow(box);
    options->addRow("Channel", channel);
    options->addRow("Keyboard from", rangeLeft);
    options->addRow("Keyboard to", rangeRight);
    auto* delayRow = new QHBoxLayout;
    delayRow->addWidget(delay);
    delayRow->addWidget(delayDown);
    delayRow->addWidget(delayUp);
    delayRow->addWidget(new QLabel("ms", this));
    options->addRow("Sync Delay", delayRow);
    auto* top = new QHBoxLayout;
    top->addWidget(inputs);
    top->addLayout(options);
    auto* outputRow = new QFormLayout;
    outputRow->addRow("Midi Output", output);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Apply | QDialogButtonBox::Cancel, this);
    applyButton = buttons->button(QDialogButtonBox::Apply);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(outputRow);
    layout->addWidget(buttons);

    connect(inputs, &QListWidget::currentRowChanged, this, [this](int row) { run([&] { model.selectInput(row); }); });
    auto bindBox = [this](QCheckBox* box, void (MidiSettingsModel::*set)(bool)) {
        connect(box, &QCheckBox::clicked, this, [this, set](bool on) { run([&] { (model.*set)(on); }); });
    };
    bindBox(active, &MidiSettingsModel::setActive);
    bindBox(sync, &MidiSettingsModel::setSync);
    bindBox(syncWhilePlaying, &MidiSettingsModel::setSyncWhilePlaying);
    bindBox(filterCC, &MidiSettingsModel::setFilterCCMessages);
    bindBox(filterProgram, &MidiSettingsModel::setFilterProgramChanges);
    connect(channel, &QComboBox::activated, this, [this](int i) { run([&] { model.selectChannel(i); }); });
    connect(rangeLeft, &QComboBox::activated, this, [this](int i) { run([&] { model.selectKeyboardRangeLeft(i); }); });
    connect(rangeRight, &QComboBox::activated, this, [this](int i) { run([&] { model.selectKeyboardRangeRight(i); }); });
    connect(delayDown, &QPushButton::clicked, this, [this] { run([&] { model.stepDelay(-1); }); });
    connect(delayUp, &QPushButton::clicked, this, [this] { run([&] { model.stepDelay(1); }); });
    connect(output, &QComboBox::activated, this, [this](int i) { run([&] { model.selectOutput(i); }); });
    connect(applyButton, &QPushButton::clicked, this, [this] { run([&] { model.apply(); }); });
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        model.ok();
        accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, [this] {
        model.cancel();
        reject();
    });
    run([&] { model.initialise(); });
}

template <class Operation>
void MidiWindow::run(Operation operation) {
    if (showing) return;
    operation();
    show();
}

void MidiWindow::show() {
    showing = true;
    {
        const QSignalBlocker quiet(inputs);
        inputs->clear();
        for (const MidiSettingsModel::InputEntry& entry : model.inputs())
            inputs->addItem(stateMark(entry.icon) + qs(entry.name));
        inputs->setCurrentRow(model.currentInput());
    }
    inputs->setEnabled(model.inputListEnabled());
    const MidiDeviceRecord* device = model.selectedDevice();
    setChecked(active, device && device->active.get());
    setChecked(sync, device && device->sync.get());
    setChecked(syncWhilePlaying, device && device->syncWhilePlaying.get());
    setChecked(filterCC, device && device->filterCCMessages.get());
    setChecked(filterProgram, device && device->filterProgramChanges.get());
    selectIndex(channel, device ? device->channel.get() : 0);
    selectIndex(rangeLeft, device ? device->keyboardRangeLeft.get() : 0);
    selectIndex(rangeRight, device ? device->keyboardRangeRight.get() : kNoteCount - 1);
    delay->setText(qs(model.delayText()));
    for (QWidget* option : std::initializer_list<QWidget*>{active, sync, syncWhilePlaying, filterCC, filterProgram,
                                                           channel, rangeLeft, rangeRight})
        option->setEnabled(model.optionsEnabled());
    std::vector<QString> outputs;
    for (const MidiSettingsModel::OutputEntry& entry : model.outputs()) outputs.push_back(qs(entry.name));
    fill(output, outputs, model.outputIndex());
    output->setEnabled(model.outputListEnabled());
    applyButton->setEnabled(model.applyEnabled());
    showing = false;
}

// ---- Tempo ------------------------------------------------------------------------------

TempoBox::TempoBox(TempoModel& model, std::function<void()> changed) : model(model), changed(std::move(changed)) {}

void TempoBox::mousePressEvent(QMouseEvent* event) {
    model.beginDrag(static_cast<int>(event->position().x()), static_cast<int>(event->position().y()));
    QLineEdit::mousePressEvent(event);
}

void TempoBox::mouseMoveEvent(QMouseEvent* event) {
    if (model.dragMode() == TempoModel::DragMode::None) return QLineEdit::mouseMoveEvent(event);
    model.dragTo(static_cast<int>(event->position().y()));
    changed();
}

void TempoBox::mouseReleaseEvent(QMouseEvent* event) {
    model.endDrag();
    QLineEdit::mouseReleaseEvent(event);
}

TempoWindow::TempoWindow(QWidget* parent, VLVSTHostInterface& host, HostSettings& settings)
    : QDialog(parent), model(host, settings) {
    setWindowTitle("Tempo");
    setAttribute(Qt::WA_DeleteOnClose);
    box = new TempoBox(model, [this] { show(); });
    QPushButton* down = stepButton("-", this);
    QPushButton* up = stepButton("+", this);
    auto* tap = new QPushButton("Tap", this);
    auto* close = new QPushButton("Close", this);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(box);
    layout->addWidget(down);
    layout->addWidget(up);
    layout->addWidget(new QLabel("BPM", this));
    layout->addWidget(tap);
    layout->addWidget(close);
    connect(down, &QPushButton::clicked, this, [this] { model.stepSpin(-1); show(); });
    connect(up, &QPushButton::clicked, this, [this] { model.stepSpin(1); show(); });
    connect(tap, &QPushButton::clicked, this, [this] { model.tap(); show(); });
    connect(box, &QLineEdit::textEdited, this, [this](const QString& t) { model.typed(t.toStdWString()); });
    connect(close, &QPushButton::clicked, this, [this] {
        model.close();
        accept();
    });
    model.initialise();
    show();
}

void TempoWindow::show() {
    if (!box->hasFocus() || model.dragMode() != TempoModel::DragMode::None) box->setText(qs(model.text()));
}

// ---- Audio Player / Recorder --------------------------------------------------------------

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
