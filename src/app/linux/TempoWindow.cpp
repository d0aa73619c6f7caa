#include "app/linux/TempoWindow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>

#include "app/linux/Controls.h"

namespace vl::linuxapp {

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

}  // namespace vl::linuxapp
