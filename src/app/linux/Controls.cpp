#include "app/linux/Controls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>

namespace vl::linuxapp {

QString qs(const std::wstring& text) { return QString::fromStdWString(text); }

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

}  // namespace vl::linuxapp
