// The Preset menu's shared rules: program commands, the caption, what is kept per effect, and
// where the main window goes when its screen is gone.

#include <gtest/gtest.h>

#include "app/PresetRules.h"
#include "app/ReadOnlyStore.h"
#include "support/TestSettings.h"

using namespace vl::app;

TEST(PresetRules, ProgramCommandsCaptionAndTexts) {
    EXPECT_EQ(programOfCommand(kFirstProgramCommand, 3), 0);
    EXPECT_EQ(programOfCommand(kFirstProgramCommand + 2, 3), 2);
    EXPECT_FALSE(programOfCommand(kFirstProgramCommand + 3, 3));
    EXPECT_FALSE(programOfCommand(kFirstProgramCommand - 1, 3));
    EXPECT_FALSE(programOfCommand(kFirstProgramCommand + kMaxProgramCommands, 1 << 20));
    EXPECT_EQ(presetCaptionName(L"MVerb", L"Hall"), L"MVerb - Hall");
    EXPECT_EQ(presetCaptionName(L"MVerb", L""), L"MVerb");
    EXPECT_EQ(menuItemText(L"Load Preset / Bank...", L'L'), L"&Load Preset / Bank...");
    EXPECT_EQ(menuItemText(L"Rename Program...", L'n'), L"Re&name Program...");
    EXPECT_EQ(menuItemText(L"Warm & Round"), L"Warm && Round") << "a program's own ampersand is text";
    EXPECT_EQ(presetResetFailedText("busy").rfind(L"Couldn't reset", 0), 0u);
    EXPECT_TRUE(isAudioFileName("/loops/Take 1.WAV"));
    EXPECT_TRUE(isAudioFileName("drums.aiff"));
    EXPECT_TRUE(isAudioFileName("drums.Aif"));
    EXPECT_FALSE(isAudioFileName("song.mp3"));
    EXPECT_FALSE(isAudioFileName("wav"));
    EXPECT_EQ(presetLoadFailedText(L"a.fxp", "The file is truncated."), L"Couldn't load \"a.fxp\".\r\nThe file is truncated.");
}

TEST(PresetRules, FolderAndWindowPlaceAreKeptPerEffectAndNeverByASecondCopy) {
    vltest::TestSettingsStore first;
    auto a = first.make(L"Effect A");
    auto b = first.make(L"Effect B");
    EXPECT_EQ(readPresetFolder(a->valueStore(), a->keyPath), L"");
    EXPECT_FALSE(readWindowPosition(a->valueStore(), a->keyPath));
    writePresetFolder(a->valueStore(), a->keyPath, L"/home/u/Sounds/Ünïcode");
    writeWindowPosition(a->valueStore(), a->keyPath, {-1600, -20});  // a screen left of the primary one
    writeWindowPosition(b->valueStore(), b->keyPath, {30, 40});
    EXPECT_EQ(readPresetFolder(a->valueStore(), a->keyPath), L"/home/u/Sounds/Ünïcode");
    EXPECT_EQ(readPresetFolder(b->valueStore(), b->keyPath), L"");
    const auto place = readWindowPosition(a->valueStore(), a->keyPath);
    ASSERT_TRUE(place);
    EXPECT_EQ(place->left, -1600);
    EXPECT_EQ(place->top, -20);
    EXPECT_EQ(readWindowPosition(b->valueStore(), b->keyPath)->left, 30);

    ReadOnlyStore second(first.store);
    writeWindowPosition(second, a->keyPath, {5, 5});
    writePresetFolder(second, a->keyPath, L"/elsewhere");
    EXPECT_EQ(readWindowPosition(a->valueStore(), a->keyPath)->left, -1600);
    EXPECT_EQ(readPresetFolder(second, a->keyPath), L"/home/u/Sounds/Ünïcode");
}

TEST(PresetRules, AWindowGoesBackOnlyWhereItsTitleCanBeReached) {
    const Rect primary{0, 0, 1920, 1040};
    const Rect left{-1280, 0, 0, 1000};
    const Size window{500, 400};
    const auto at = [&](WindowPosition stored, const std::vector<Rect>& screens) {
        const WindowPosition p = placeOnScreens(stored, window, screens, primary);
        return std::make_pair(p.left, p.top);
    };
    using P = std::pair<int, int>;
    EXPECT_EQ(at({100, 200}, {primary, left}), P(100, 200));
    EXPECT_EQ(at({-900, 50}, {primary, left}), P(-900, 50)) << "on the second screen";
    EXPECT_EQ(at({-900, 50}, {primary}), P(0, 0)) << "that screen is gone";
    EXPECT_EQ(at({-480, 50}, {primary}), P(0, 0)) << "20 pixels of title are too few to drag it back";
    EXPECT_EQ(at({-440, 50}, {primary}), P(0, 0)) << "60 are still too few";
    EXPECT_EQ(at({-430, 50}, {primary}), P(-430, 50)) << "70 are enough";
    EXPECT_EQ(at({100, 1030}, {primary}), P(0, 0)) << "the title is below the work area";
    EXPECT_EQ(at({100, -30}, {primary}), P(0, 0)) << "the title is above it";
    EXPECT_EQ(at({1900, 100}, {primary}), P(0, 0));
    EXPECT_EQ(placeOnScreens({5000, 5000}, window, {}, Rect{10, 20, 800, 600}).left, 10);
}
