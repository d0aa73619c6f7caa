#include "KnobPanel.h"

#include <algorithm>

namespace demo {

KnobBox knobBox(int index) {
    const int column = index % kKnobColumns;
    const int row = index / kKnobColumns;
    KnobBox box{};
    box.left = kPanelMargin + column * kCellWidth;
    box.top = kHeaderHeight + row * kCellHeight;
    box.right = box.left + kCellWidth;
    box.bottom = box.top + kCellHeight;
    box.centerX = box.left + kCellWidth / 2;
    box.centerY = box.top + 54;
    box.radius = 24;
    box.nameTop = box.top + 6;
    box.valueTop = box.top + 86;
    return box;
}

int knobAt(int x, int y) {
    for (int i = 0; i < kNumParams; ++i) {
        const KnobBox box = knobBox(i);
        if (x >= box.left && x < box.right && y >= box.top && y < box.bottom) return i;
    }
    return -1;
}

bool KnobGestures::press(int x, int y) {
    const int knob = knobAt(x, y);
    if (knob < 0) return false;
    release();  // a press without the matching release must not leave a gesture open
    knob_ = knob;
    startY_ = y;
    startValue_ = host_.parameter(knob);
    host_.beginEdit(knob);
    return true;
}

bool KnobGestures::move(int y) {
    if (knob_ < 0) return false;
    const float value =
        std::clamp(startValue_ + static_cast<float>(startY_ - y) / kDragPixelsFullRange, 0.0f, 1.0f);
    if (value == host_.parameter(knob_)) return false;
    host_.editParameter(knob_, value);
    return true;
}

void KnobGestures::release() {
    if (knob_ < 0) return;
    host_.endEdit(knob_);
    knob_ = -1;
}

bool KnobGestures::resetToDefault(int x, int y) {
    const int knob = knobAt(x, y);
    if (knob < 0) return false;
    release();
    host_.beginEdit(knob);
    host_.editParameter(knob, paramDefault(knob));
    host_.endEdit(knob);
    return true;
}

}  // namespace demo
