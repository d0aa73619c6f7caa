#pragma once
// What the Linux application's settings windows share: model texts as Qt strings, and controls
// set from the model without reporting the change as the user's choice.

#include <QString>

#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QPushButton;
class QWidget;

namespace vl::linuxapp {

QString qs(const std::wstring& text);
std::vector<QString> texts(const std::vector<std::wstring>& names);

// Fills a combo box with texts and a selection, without reporting it as the user's choice.
void fill(QComboBox* box, const std::vector<QString>& texts, int selected);
void setChecked(QCheckBox* box, bool on);
void selectIndex(QComboBox* box, int index);

// The narrow "-" / "+" buttons beside a number.
QPushButton* stepButton(const char* text, QWidget* parent);

}  // namespace vl::linuxapp
