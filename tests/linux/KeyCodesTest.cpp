// The window's Qt keys reach the host's key rules as the Windows keys they stand for.

#include <gtest/gtest.h>

#include <Qt>

#include "app/AppRules.h"
#include "app/linux/KeyCodes.h"

namespace {

using vl::linuxapp::virtualKeyOfQtKey;
namespace vk = vl::app::vk;

struct KeyCase {
    int qt;
    int vk;
};

TEST(KeyCodes, QtKeysBecomeTheVirtualKeysOfTheRules) {
    const KeyCase cases[] = {
        {Qt::Key_D, 'D'},           {Qt::Key_L, 'L'},           {Qt::Key_C, 'C'},        {Qt::Key_P, 'P'},
        {Qt::Key_0, '0'},           {Qt::Key_9, '9'},           {Qt::Key_Space, vk::Space}, {Qt::Key_Escape, vk::Escape},
        {Qt::Key_Return, vk::Return}, {Qt::Key_Enter, vk::Return}, {Qt::Key_F1, vk::F1},   {Qt::Key_F12, vk::F12},
        {Qt::Key_Left, vk::Left},   {Qt::Key_PageDown, vk::Next}, {Qt::Key_Alt, vk::Menu}, {Qt::Key_Delete, vk::Delete},
        {Qt::Key_unknown, 0},       {Qt::Key_F13, 0},           {Qt::Key_VolumeUp, 0},
    };
    for (const KeyCase& c : cases) EXPECT_EQ(virtualKeyOfQtKey(c.qt), c.vk) << "Qt key " << c.qt;
}

// The same decisions as on Windows, reached through Qt's codes.
TEST(KeyCodes, TheRoutingOfTheWindowsWindowAppliesUnchanged) {
    EXPECT_EQ(vl::app::routeKey(virtualKeyOfQtKey(Qt::Key_Space), false, false).route, vl::app::KeyRoute::ToggleTransport);
    EXPECT_EQ(vl::app::routeKey(virtualKeyOfQtKey(Qt::Key_Escape), true, false).route, vl::app::KeyRoute::Swallow);
    EXPECT_EQ(vl::app::routeKey(virtualKeyOfQtKey(Qt::Key_X), true, true).route, vl::app::KeyRoute::PanicKey);
    const vl::app::KeyDecision engine = vl::app::routeKey(virtualKeyOfQtKey(Qt::Key_R), false, true);
    EXPECT_EQ(engine.route, vl::app::KeyRoute::Command);
    // Every translated key of the rules' table has a Qt key that reaches it.
    EXPECT_NE(vl::app::vstVirtualKey(virtualKeyOfQtKey(Qt::Key_F5)), 0);
    EXPECT_NE(vl::app::vstVirtualKey(virtualKeyOfQtKey(Qt::Key_Home)), 0);
}

}  // namespace

#include "app/linux/KeyRepeat.h"

namespace {

using vl::linuxapp::KeyRepeatFilter;

TEST(KeyRepeatFilter, DropsXRepeatPairsAndKeepsRealPressesAndReleases) {
    KeyRepeatFilter filter;
    // A press, then X's repeats: release and press at one server time, Qt not noticing.
    EXPECT_TRUE(filter.press('D', 1000, false).handle);
    EXPECT_FALSE(filter.release('D', 0, 1500, false));
    EXPECT_TRUE(filter.holding());
    const auto repeat = filter.press('D', 1500, false);
    EXPECT_FALSE(repeat.handle);
    EXPECT_FALSE(repeat.before);
    EXPECT_FALSE(filter.holding());
    // Qt's own verdict counts as well; a press of a key still down (detectable auto-repeat).
    EXPECT_FALSE(filter.release('D', 0, 1540, true));
    EXPECT_FALSE(filter.press('D', 1540, true).handle);
    EXPECT_FALSE(filter.press('D', 1580, false).handle);
    // The real release is handed out once no press follows it.
    EXPECT_FALSE(filter.release('D', 4, 2000, false));
    const auto released = filter.due();
    ASSERT_TRUE(released);
    EXPECT_EQ(released->key, 'D');
    EXPECT_EQ(released->modifiers, 4);
    EXPECT_FALSE(filter.due());
    // Pressed again later: a new note.
    EXPECT_TRUE(filter.press('D', 2100, false).handle);
    // Another key's press hands out a held-back release first, in order.
    EXPECT_FALSE(filter.release('D', 0, 2200, false));
    const auto other = filter.press('F', 2205, false);
    EXPECT_TRUE(other.handle);
    ASSERT_TRUE(other.before);
    EXPECT_EQ(other.before->key, 'D');
    // A press of the same key at another time is a new press after a real release.
    EXPECT_FALSE(filter.release('F', 0, 3000, false));
    const auto again = filter.press('F', 3100, false);
    ASSERT_TRUE(again.before);
    EXPECT_EQ(again.before->key, 'F');
    EXPECT_TRUE(again.handle);
}

}  // namespace
