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

constexpr int kServerWatchMs = 250;

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
                                         std::function<void()> applied, VLJack* jack)
    : QDialog(parent),
      model(backends, settings, host, noAudioInput, false, messages),
      applied(std::move(applied)),
      jack(jack) {
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
    samplesDown = stepButton("-", this);
    samplesUp = stepButton("+", this);
    sizeRow->addWidget(samples);
    sizeRow->addWidget(samplesDown);
    sizeRow->addWidget(samplesUp);
    sizeRow->addWidget(new QLabel("samples", this));
    sizeRow->addWidget(latency);
    sizeRow->addWidget(new QLabel("ms", this));
    form->addRow("Buffer Size", sizeRow);
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
    connect(samplesDown, &QPushButton::clicked, this, [this] { stepServerBlock(false); });
    connect(samplesUp, &QPushButton::clicked, this, [this] { stepServerBlock(true); });
    // A size another client (or a patchbay) asked for shows too.
    connect(&serverWatch, &QTimer::timeout, this, [this] { showServerBlock(); });
    serverWatch.start(kServerWatchMs);
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
    showServerBlock();
    showing = false;
}

void AudioSettingsWindow::stepServerBlock(bool up) {
    if (!jack || !jack->connected() || jack->serverLost()) return;
    const uint32_t frames = jack->neighbourBlockSize(up);
    if (frames != 0 && frames != jack->serverBlockSize()) jack->requestBlockSize(frames);
    showServerBlock();
}

void AudioSettingsWindow::showServerBlock() {
    const bool server = jack && jack->connected() && !jack->serverLost();
    uint32_t frames = server ? jack->serverBlockSize() : 0;
    if (server && frames == 0) frames = jack_get_buffer_size(jack->handle());  // before the first callback
    samplesDown->setEnabled(frames > VLJack::kMinBlockFrames);
    samplesUp->setEnabled(frames != 0 && frames < VLJack::kMaxBlockFrames);
    if (frames == 0) return;
    const double rate = jack_get_sample_rate(jack->handle());
    samples->setText(QString::number(frames));
    if (rate > 0.0) latency->setText(QString::number(1000.0 * frames / rate, 'f', 1));
}

}  // namespace vl::linuxapp
