#include "KnobPanel.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Records what the gestures do to the plug-in.
class RecordingHost : public demo::EditorHost {
public:
    RecordingHost() : values(demo::defaultParamValues()) {}
    float parameter(int index) const override { return values[static_cast<size_t>(index)]; }
    void beginEdit(int index) override { calls.push_back("begin " + std::to_string(index)); }
    void editParameter(int index, float value) override {
        values[static_cast<size_t>(index)] = value;
        calls.push_back("edit " + std::to_string(index));
    }
    void endEdit(int index) override { calls.push_back("end " + std::to_string(index)); }

    demo::ParamValues values;
    std::vector<std::string> calls;
};

}  // namespace

TEST(KnobPanel, EveryKnobIsInsideTheEditorAndHitAtItsCentre) {
    for (int i = 0; i < demo::kNumParams; ++i) {
        const demo::KnobBox box = demo::knobBox(i);
        EXPECT_GE(box.left, 0);
        EXPECT_GE(box.top, demo::kHeaderHeight);
        EXPECT_LE(box.right, demo::kEditorWidth);
        EXPECT_LE(box.bottom, demo::kEditorHeight);
        EXPECT_GE(box.centerY - box.radius, box.nameTop + 16);  // the name stays clear of the dial
        EXPECT_LE(box.centerY + box.radius, box.valueTop);
        EXPECT_EQ(demo::knobAt(box.centerX, box.centerY), i);
        EXPECT_EQ(demo::knobAt(box.left, box.top), i);
        EXPECT_EQ(demo::knobAt(box.right - 1, box.bottom - 1), i);
    }
    EXPECT_EQ(demo::knobAt(5, 5), -1);  // header
    EXPECT_EQ(demo::knobAt(demo::kEditorWidth - 2, demo::kEditorHeight - 2), -1);  // margin
    EXPECT_EQ(demo::knobAt(-10, 100), -1);
}

class KnobGesturesTest : public ::testing::Test {
protected:
    // Sets the knob's value and presses the button on its dial; answers the dial's centre row.
    int pressKnob(int knob, float value) {
        host.values[static_cast<size_t>(knob)] = value;
        const demo::KnobBox box = demo::knobBox(knob);
        EXPECT_TRUE(gestures.press(box.centerX, box.centerY));
        return box.centerY;
    }

    RecordingHost host;
    demo::KnobGestures gestures{host};
};

TEST_F(KnobGesturesTest, DraggingUpRaisesTheValueWithinOneBracketedGesture) {
    const int y = pressKnob(demo::kResonance, 0.2f);
    EXPECT_EQ(gestures.dragging(), demo::kResonance);
    EXPECT_TRUE(gestures.move(y - demo::kDragPixelsFullRange / 2));
    EXPECT_NEAR(host.values[demo::kResonance], 0.7f, 1e-6f);
    EXPECT_FALSE(gestures.move(y - demo::kDragPixelsFullRange / 2));  // nothing new
    EXPECT_TRUE(gestures.move(y - 10 * demo::kDragPixelsFullRange));
    EXPECT_EQ(host.values[demo::kResonance], 1.0f);  // clamped, also far outside the window
    gestures.release();
    gestures.release();  // a second release (capture lost after button up) ends nothing twice
    EXPECT_EQ(gestures.dragging(), -1);
    EXPECT_FALSE(gestures.move(0));

    const std::string r = std::to_string(demo::kResonance);
    EXPECT_EQ(host.calls, (std::vector<std::string>{"begin " + r, "edit " + r, "edit " + r, "end " + r}));
}

TEST_F(KnobGesturesTest, PressOutsideKnobsDoesNothingAndAPressEndsAStaleGesture) {
    EXPECT_FALSE(gestures.press(2, 2));
    EXPECT_TRUE(host.calls.empty());
    pressKnob(0, 0.5f);
    pressKnob(1, 0.5f);  // the button-up of the first press never came
    EXPECT_EQ(host.calls, (std::vector<std::string>{"begin 0", "end 0", "begin 1"}));
}

TEST_F(KnobGesturesTest, DoubleClickRestoresTheDefault) {
    host.values[demo::kCutoff] = 0.0f;
    const demo::KnobBox box = demo::knobBox(demo::kCutoff);
    EXPECT_TRUE(gestures.resetToDefault(box.centerX, box.centerY));
    EXPECT_EQ(host.values[demo::kCutoff], demo::paramDefault(demo::kCutoff));
    EXPECT_EQ(host.calls.front(), "begin " + std::to_string(demo::kCutoff));
    EXPECT_EQ(host.calls.back(), "end " + std::to_string(demo::kCutoff));
    EXPECT_FALSE(gestures.resetToDefault(1, 1));
}
