#pragma once
// The editor's content without the window system: where each parameter's knob sits, which
// knob a point hits, and what mouse gestures do to the parameters. The window code only
// draws this layout and forwards mouse positions.

#include "Parameters.h"

namespace demo {

// What the editor may do to the plug-in. Gestures are bracketed by begin and end so that the
// host can record them as one automation move.
class EditorHost {
public:
    virtual float parameter(int index) const = 0;
    virtual void beginEdit(int index) = 0;
    virtual void editParameter(int index, float normalized) = 0;
    virtual void endEdit(int index) = 0;

protected:
    ~EditorHost() = default;
};

constexpr int kKnobColumns = 6;
constexpr int kKnobRows = (kNumParams + kKnobColumns - 1) / kKnobColumns;
constexpr int kPanelMargin = 12;
constexpr int kHeaderHeight = 40;
constexpr int kCellWidth = 84;
constexpr int kCellHeight = 112;
constexpr int kEditorWidth = 2 * kPanelMargin + kKnobColumns * kCellWidth;
constexpr int kEditorHeight = kHeaderHeight + kKnobRows * kCellHeight + kPanelMargin;
// Dragging this far up or down sweeps a knob over its whole range.
constexpr int kDragPixelsFullRange = 200;

struct KnobBox {
    int left, top, right, bottom;  // the knob's cell: name, dial and value text
    int centerX, centerY, radius;  // the dial
    int nameTop, valueTop;         // baselines of the two text lines (top edges, 16 px high)
};

KnobBox knobBox(int index);
// The knob whose cell contains the point, or -1.
int knobAt(int x, int y);

class KnobGestures {
public:
    explicit KnobGestures(EditorHost& host) : host_(host) {}

    // Button pressed: starts a drag when the point is on a knob (answer true).
    bool press(int x, int y);
    // Pointer moved with the button down: true when the dragged value changed.
    bool move(int y);
    // Button released, or the drag was taken away: ends the gesture, if any.
    void release();
    // Double click: the knob under the point returns to its default (true if there was one).
    bool resetToDefault(int x, int y);

    int dragging() const { return knob_; }

private:
    EditorHost& host_;
    int knob_ = -1;
    int startY_ = 0;
    float startValue_ = 0.0f;
};

}  // namespace demo
