#include "app/linux/GenericEditor.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include <functional>

#include "platform/Text.h"

namespace vl::linuxapp {

namespace {

// Plug-in texts are 8-bit, read as the effect name is.
QString pluginText(const std::string& text) { return QString::fromStdWString(platform::ansiToWide(text)); }

// The program list, whose names are read again before it opens.
class ProgramBox : public QComboBox {
public:
    ProgramBox(QWidget* parent, std::function<void()> opening) : QComboBox(parent), opening(std::move(opening)) {}
    void showPopup() override {
        opening();
        QComboBox::showPopup();
    }

private:
    std::function<void()> opening;
};

constexpr int kNameWidth = 150;
constexpr int kValueWidth = 100;

}  // namespace

GenericEditor::GenericEditor(PluginSlot& slot, BetweenBlocks between, QWidget* parent)
    : QWidget(parent), model(slot), between(std::move(between)) {
    setObjectName("genericEditor");
    const QFontMetrics font(this->font());
    GenericEditorMetrics metrics;
    metrics.rowHeight = std::max(metrics.rowHeight, font.height() + 12);
    metrics.programHeight = std::max(metrics.programHeight, font.height() + 16);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(metrics.margin, metrics.margin, metrics.margin, metrics.margin);
    outer->setSpacing(metrics.margin);

    auto* top = new QHBoxLayout;
    auto* programLabel = new QLabel("Program:", this);
    programs = new ProgramBox(this, [this] {
        if (model.rereadProgramNames(this->between)) fillPrograms();
    });
    programs->setObjectName("genericPrograms");
    programs->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    programs->setMinimumContentsLength(24);
    programs->setFocusPolicy(Qt::ClickFocus);
    top->addWidget(programLabel);
    top->addWidget(programs, 1);
    auto* topLine = new QWidget(this);
    topLine->setLayout(top);
    top->setContentsMargins(0, 0, 0, 0);
    topLine->setFixedHeight(metrics.programHeight);
    outer->addWidget(topLine);
    QObject::connect(programs, &QComboBox::activated, this, [this](int index) {
        if (model.chooseProgram(index, this->between)) {
            for (size_t i = 0; i < rows.size(); ++i) showRow(i);
        }
        fillPrograms();
    });

    auto* scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* content = new QWidget(scroll);
    auto* grid = new QGridLayout(content);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setVerticalSpacing(0);
    const std::vector<GenericParameterRow>& parameters = model.rows();
    rows.resize(parameters.size());
    for (size_t i = 0; i < parameters.size(); ++i) {
        const int line = static_cast<int>(i);
        auto* name = new QLabel(font.elidedText(pluginText(parameters[i].name), Qt::ElideRight, kNameWidth), content);
        name->setToolTip(pluginText(parameters[i].name));
        name->setFixedWidth(kNameWidth);
        Row& row = rows[i];
        row.slider = new QSlider(Qt::Horizontal, content);
        row.slider->setObjectName(QString("parameter-%1").arg(line));
        row.slider->setAccessibleName(pluginText(parameters[i].name));
        row.slider->setRange(0, kSliderSteps);
        row.slider->setSingleStep(kSliderSteps / 100);
        row.slider->setPageStep(kSliderSteps / 10);
        row.value = new QLabel(content);
        row.value->setFixedWidth(kValueWidth);
        for (QWidget* cell : {static_cast<QWidget*>(name), static_cast<QWidget*>(row.slider), static_cast<QWidget*>(row.value)})
            cell->setFixedHeight(metrics.rowHeight);
        grid->addWidget(name, line, 0);
        grid->addWidget(row.slider, line, 1);
        grid->addWidget(row.value, line, 2);
        showRow(i);
        QObject::connect(row.slider, &QSlider::valueChanged, this, [this, i](int position) { userMoved(i, position); });
    }
    if (parameters.empty()) {
        auto* none = new QLabel("This plug-in has no parameters to show.", content);
        none->setFixedHeight(metrics.rowHeight);
        grid->addWidget(none, 0, 0);
    }
    grid->setRowStretch(static_cast<int>(parameters.size()) + 1, 1);
    scroll->setWidget(content);
    outer->addWidget(scroll, 1);

    const GenericEditorSize size = genericEditorSize(static_cast<int>(std::max<size_t>(parameters.size(), 1)), metrics);
    setFixedSize(size.width, size.height);
    // The keys a slider takes (arrows, Page Up/Down, Home, End) reach the first row at once.
    if (!rows.empty()) rows.front().slider->setFocus();
}

void GenericEditor::showRow(size_t i) {
    const GenericParameterRow& parameter = model.rows()[i];
    Row& row = rows[i];
    // The slider the user holds keeps the place of the mouse.
    if (!row.slider->isSliderDown()) {
        const QSignalBlocker quiet(row.slider);
        row.slider->setValue(parameter.position());
    }
    row.value->setText(pluginText(parameter.valueText()));
}

void GenericEditor::userMoved(size_t row, int position) {
    model.setPosition(row, position);
    const QString text = pluginText(model.rows()[row].valueText());
    rows[row].value->setText(text);
}

void GenericEditor::fillPrograms() {
    const QSignalBlocker quiet(programs);
    programs->clear();
    for (const std::string& name : model.programs()) programs->addItem(pluginText(name));
    const int current = model.currentProgram();
    programs->setCurrentIndex(current >= 0 && current < programs->count() ? current : -1);
    programs->setEnabled(programs->count() > 0);
}

void GenericEditor::refresh() {
    if (!model.programsLoaded()) {
        model.loadPrograms(between);
        fillPrograms();
    }
    const GenericEditorModel::Changes changes = model.refresh();
    for (size_t row : changes.rows) showRow(row);
    if (changes.program) fillPrograms();
}

}  // namespace vl::linuxapp
