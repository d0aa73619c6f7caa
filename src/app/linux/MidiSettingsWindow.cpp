#include "app/linux/MidiSettingsWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/linux/Controls.h"

namespace vl::linuxapp {

namespace {

QString stateMark(MidiStateIcon icon) {
    switch (icon) {
        case MidiStateIcon::Active: return QStringLiteral("\u25CF ");
        case MidiStateIcon::ClockSync: return QStringLiteral("\u25C6 ");
        case MidiStateIcon::Inactive: break;
    }
    return QStringLiteral("\u25CB ");
}

}  // namespace

MidiSettingsWindow::MidiSettingsWindow(QWidget* parent, VLVSTHostInterface& host, VLMidiBase& midi,
                                       HostSettings& settings, MidiCapabilities capabilities,
                                       platform::MessageSink* messages)
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
    connect(applyButton, &QPushButton::clicked, this, [this] {
        run([&] { model.apply(); });
        if (listStale) relist();
    });
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

void MidiSettingsWindow::devicesChanged() {
    if (model.applyEnabled()) {
        listStale = true;
        return;
    }
    relist();
}

void MidiSettingsWindow::relist() {
    listStale = false;
    const int row = model.currentInput();
    run([&] {
        model.initialise();
        if (row >= 0 && row < static_cast<int>(model.inputs().size())) model.selectInput(row);
    });
}

template <class Operation>
void MidiSettingsWindow::run(Operation operation) {
    if (showing) return;
    operation();
    show();
}

void MidiSettingsWindow::show() {
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

}  // namespace vl::linuxapp
