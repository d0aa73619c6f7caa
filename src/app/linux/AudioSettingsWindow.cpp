#include "app/linux/AudioSettingsWindow.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/linux/Controls.h"
#include "audio/jack/VLJack.h"

namespace vl::linuxapp {

namespace {

std::vector<QString> deviceNames(const AudioSettingsModel::DeviceList& list) {
    std::vector<QString> names;
    for (const AudioDeviceRecord* record : list.devices) names.push_back(qs(record->name));
    return names;
}

}  // namespace

QString audioTypeText(const AudioTypeEntry& entry) {
    return entry.type == kDeviceTypeJack ? QStringLiteral("JACK") : qs(entry.text);
}

AudioSettingsWindow::AudioSettingsWindow(QWidget* parent, AudioBackendSet& backends, HostSettings& settings,
                                         VLVSTHostInterface& host, bool noAudioInput, platform::MessageSink* messages,
                                         std::function<void()> applied)
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
    // The JACK server decides the block size for every client: the steps stay off until the
    // size can be asked of the server (a power of two), where they would call it.
    samplesDown->setEnabled(false);
    samplesUp->setEnabled(false);
    samples->setReadOnly(true);
    latency->setReadOnly(true);
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
void AudioSettingsWindow::run(Operation operation) {
    if (showing) return;
    operation();
    show();
}

void AudioSettingsWindow::show() {
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

}  // namespace vl::linuxapp
