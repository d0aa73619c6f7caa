#include "app/AppRules.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "app/MainWindowIds.h"

using namespace vl::app;

namespace {

// ---- keys -------------------------------------------------------------------------------------

struct VirtualKeyCase {
    int windowsKey;
    int32_t vstKey;
};

// Every entry of the published numbering that the host produces, with the Windows code.
const VirtualKeyCase kVirtualKeyCases[] = {
    {0x08, 1},  {0x09, 2},  {0x0C, 3},  {0x0D, 4},  {0x13, 5},  {0x1B, 6},  {0x20, 7},  {0x23, 9},
    {0x24, 10}, {0x25, 11}, {0x26, 12}, {0x27, 13}, {0x28, 14}, {0x21, 15}, {0x22, 16}, {0x29, 17},
    {0x2A, 18}, {0x2B, 19}, {0x2C, 20}, {0x2D, 21}, {0x2E, 22}, {0x2F, 23}, {0x60, 24}, {0x61, 25},
    {0x62, 26}, {0x63, 27}, {0x64, 28}, {0x65, 29}, {0x66, 30}, {0x67, 31}, {0x68, 32}, {0x69, 33},
    {0x6A, 34}, {0x6B, 35}, {0x6C, 36}, {0x6D, 37}, {0x6E, 38}, {0x6F, 39}, {0x70, 40}, {0x71, 41},
    {0x72, 42}, {0x73, 43}, {0x74, 44}, {0x75, 45}, {0x76, 46}, {0x77, 47}, {0x78, 48}, {0x79, 49},
    {0x7A, 50}, {0x7B, 51}, {0x90, 52}, {0x91, 53}, {0x10, 54}, {0x11, 55}, {0x12, 56},
};

TEST(AppKeyTranslation, AllFiftyFiveVirtualKeysTranslateAndNothingElse) {
    ASSERT_EQ(std::size(kVirtualKeyCases), 55u);
    EXPECT_EQ(vstVirtualKeyTableSize(), 55u);
    std::set<int> translated;
    for (const auto& c : kVirtualKeyCases) {
        EXPECT_EQ(vstVirtualKey(c.windowsKey), c.vstKey) << "windows key 0x" << std::hex << c.windowsKey;
        translated.insert(c.windowsKey);
    }
    // Every other code, letters, digits and the keys the table leaves out included, gives 0;
    // VKEY_NEXT (8) and VKEY_EQUALS (57) are never produced.
    for (int key = 0; key < 256; ++key) {
        if (translated.count(key)) continue;
        EXPECT_EQ(vstVirtualKey(key), 0) << "windows key 0x" << std::hex << key;
    }
    for (int key = 0; key < 256; ++key) {
        EXPECT_NE(vstVirtualKey(key), 8);
        EXPECT_NE(vstVirtualKey(key), 57);
    }
}

TEST(AppKeyTranslation, CharacterAndModifiers) {
    struct Case {
        int key;
        bool shift, ctrl, alt;
        int32_t character;
        float modifiers;
    };
    const Case cases[] = {
        {'A', false, false, false, 'a', 0.0f},  {'Z', true, false, false, 'z', 1.0f},
        {'D', false, true, false, 'd', 8.0f},   {'0', false, false, true, '0', 2.0f},
        {0x20, true, true, true, 0x20, 11.0f},  {0x70, false, true, true, 0x70, 10.0f},
        {'@', false, false, false, '@', 0.0f},  {'[', false, false, false, '[', 0.0f},  // around A..Z
        {0xC0, true, false, true, 0xC0, 3.0f},
    };
    for (const Case& c : cases) {
        const PluginKey k = pluginKey(c.key, c.shift, c.ctrl, c.alt);
        EXPECT_EQ(k.character, c.character) << c.key;
        EXPECT_EQ(k.modifiers, c.modifiers) << c.key;
        EXPECT_EQ(k.virtualKey, vstVirtualKey(c.key));
    }
}

TEST(AppKeyRouting, CtrlTableEscapeAndSpace) {
    struct Case {
        int key;
        bool down;
        bool ctrl;
        KeyRoute route;
        int command;
    };
    const Case cases[] = {
        // Ctrl shortcuts: the command on release, the press swallowed.
        {'A', false, true, KeyRoute::Command, ID_FILE_AUDIOSETTINGS},
        {'A', true, true, KeyRoute::Swallow, 0},
        {'M', false, true, KeyRoute::Command, ID_FILE_MIDISETTINGS},
        {'M', true, true, KeyRoute::Swallow, 0},
        {'T', false, true, KeyRoute::Command, ID_FILE_TEMPO},
        {'T', true, true, KeyRoute::Swallow, 0},
        {'R', false, true, KeyRoute::Command, ID_FILE_AUDIOENGINE},
        {'R', true, true, KeyRoute::Swallow, 0},
        {'P', false, true, KeyRoute::Command, ID_FILE_AUDIOPLAYER},
        {'P', true, true, KeyRoute::Swallow, 0},
        // Ctrl+X: panic on the press, the release swallowed.
        {'X', true, true, KeyRoute::PanicKey, 0},
        {'X', false, true, KeyRoute::Swallow, 0},
        // Any other key with Ctrl, Space and Esc included, goes to the general handling.
        {'D', true, true, KeyRoute::General, 0},
        {'D', false, true, KeyRoute::General, 0},
        {0x20, false, true, KeyRoute::General, 0},
        {0x1B, true, true, KeyRoute::General, 0},
        // Without Ctrl: Esc pressed is swallowed, Esc released is general.
        {0x1B, true, false, KeyRoute::Swallow, 0},
        {0x1B, false, false, KeyRoute::General, 0},
        // Space released toggles the transport, Space pressed is general.
        {0x20, false, false, KeyRoute::ToggleTransport, 0},
        {0x20, true, false, KeyRoute::General, 0},
        // The shortcut letters without Ctrl are ordinary keys (notes, "P" panic).
        {'R', true, false, KeyRoute::General, 0},
        {'P', false, false, KeyRoute::General, 0},
        {'X', true, false, KeyRoute::General, 0},
        {0x0D, true, false, KeyRoute::General, 0},
    };
    for (const Case& c : cases) {
        const KeyDecision d = routeKey(c.key, c.down, c.ctrl);
        EXPECT_EQ(d.route, c.route) << "key " << c.key << (c.down ? " down" : " up") << (c.ctrl ? " ctrl" : "");
        EXPECT_EQ(d.command, c.command) << "key " << c.key;
    }
}

// ---- transport --------------------------------------------------------------------------------

TEST(AppTransport, SpaceToggleAndDoubleRelease) {
    struct Case {
        bool requested, playing;
        bool setRequest, newRequested;
    };
    const Case cases[] = {
        {false, false, true, true},   // stopped: ask to play
        {true, true, true, false},    // playing: ask to stop
        {true, false, false, false},  // a pending play request is withdrawn: no new request
        {false, true, false, true},   // a pending stop request is withdrawn
    };
    for (const Case& c : cases) {
        const TransportChange t = spaceToggle(c.requested, c.playing);
        EXPECT_EQ(t.setRequest, c.setRequest);
        EXPECT_EQ(t.requestedPlaying, c.newRequested);
    }
    // Two releases before the next block: the second brings the request back to the state the
    // transport already has.
    const TransportChange first = spaceToggle(false, false);
    const TransportChange second = spaceToggle(first.requestedPlaying, false);
    EXPECT_FALSE(second.requestedPlaying);
}

TEST(AppTransport, StartsPlayingExceptForTwoEffectsAndClockSync) {
    struct Case {
        bool clockSync;
        std::string name;
        bool playing;
        bool apply, setRequest;
    };
    const Case cases[] = {
        {false, "Probe", false, true, true},
        {false, "Probe", true, true, false},  // already playing: only requestedPlaying is set
        {false, "Halvorn", false, false, false},
        {false, "Mirabond", false, false, false},
        {true, "Probe", false, false, false},
        // Byte-exact: other case, a prefix or a longer name start playing.
        {false, "halvorn", false, true, true},
        {false, "Halvorn ", false, true, true},
        {false, "Halvor", false, true, true},
        {false, "Mirabond2", false, true, true},
        {false, "", false, true, true},
    };
    for (const Case& c : cases) {
        const StartupTransport s = transportAtStartup(c.clockSync, c.name, c.playing);
        EXPECT_EQ(s.apply, c.apply) << "'" << c.name << "'";
        if (!s.apply) continue;
        EXPECT_EQ(s.change.setRequest, c.setRequest) << c.name;
        EXPECT_TRUE(s.change.requestedPlaying) << c.name;
    }
}

// ---- menu -------------------------------------------------------------------------------------

struct MenuModel {
    std::vector<std::wstring> file{L"Audio Settings\tCtrl+A", L"Midi Settings\tCtrl+M", L"-", L"Tempo\tCtrl+T",
                                   L"-", L"Audioengine running\tCtrl+R", L"-", L"Audio Player / Recorder\tCtrl+P",
                                   L"-", L"Panic\tCtrl+X", L"-", L"Exit\tAlt+F4"};
    std::vector<std::wstring> help{L"Help", L"-", L"Check for Updates", L"About"};
    void apply(const std::vector<MenuRemoval>& removals) {
        for (const MenuRemoval& r : removals) {
            auto& items = r.menu == MENU_POS_FILE ? file : help;
            ASSERT_LT(static_cast<size_t>(r.position), items.size());
            items.erase(items.begin() + r.position);
        }
    }
};

TEST(AppMenu, ThreeVariantsFromTheResourceMenu) {
    EXPECT_EQ(menuVariant(false, false), MenuVariant::Foreign);
    EXPECT_EQ(menuVariant(false, true), MenuVariant::Foreign);  // a foreign answer counts for nothing
    EXPECT_EQ(menuVariant(true, false), MenuVariant::VendorWithoutAbout);
    EXPECT_EQ(menuVariant(true, true), MenuVariant::VendorFull);

    MenuModel foreign;
    foreign.apply(menuRemovals(MenuVariant::Foreign));
    EXPECT_EQ(foreign.file, (std::vector<std::wstring>{L"Audio Settings\tCtrl+A", L"Midi Settings\tCtrl+M", L"-",
                                                       L"Tempo\tCtrl+T", L"-", L"Audioengine running\tCtrl+R", L"-",
                                                       L"Panic\tCtrl+X", L"-", L"Exit\tAlt+F4"}));
    EXPECT_EQ(foreign.help, (std::vector<std::wstring>{L"About"}));

    MenuModel noAbout;
    noAbout.apply(menuRemovals(MenuVariant::VendorWithoutAbout));
    EXPECT_EQ(noAbout.file, MenuModel{}.file);
    EXPECT_EQ(noAbout.help, (std::vector<std::wstring>{L"Help", L"-", L"Check for Updates"}));

    EXPECT_TRUE(menuRemovals(MenuVariant::VendorFull).empty());
}

TEST(AppMenu, EngineItemTexts) {
    EXPECT_STREQ(engineItemText(true), L"&Audioengine Running\tCtrl+R");
    EXPECT_STREQ(engineItemText(false), L"&Audioengine Stopped\tCtrl+R");
}

// ---- caption ----------------------------------------------------------------------------------

TEST(AppCaption, StatusFormat) {
    struct Case {
        std::wstring name;
        double tempo;
        int cpu;
        std::wstring caption;
    };
    const Case cases[] = {
        {L"Probe", 120.0, 0, L"Probe | Tempo: 120.00 | CPU: 0%\n"},
        {L"Probe", 98.766, 12, L"Probe | Tempo: 98.77 | CPU: 12%\n"},  // rounded to two decimals
        {L"Probe", 120.0, -1, L"Probe | Tempo: 120.00 | CPU: -1%\n"},  // before the first measurement
        {L"", 60.004, 100, L" | Tempo: 60.00 | CPU: 100%\n"},
        {L"\u00e9t\u00e9 Synth", 300.5, 7, L"\u00e9t\u00e9 Synth | Tempo: 300.50 | CPU: 7%\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(statusCaption(c.name, c.tempo, c.cpu), c.caption);

    // The longest effect name the host reads is kept whole, figures included.
    const std::wstring longName(256, L'x');
    const std::wstring caption = statusCaption(longName, 1e6, 2147483647);
    EXPECT_EQ(caption, longName + L" | Tempo: 1000000.00 | CPU: 2147483647%\n");
}

// ---- window sizes -----------------------------------------------------------------------------

TEST(AppWindowSize, MainAndEditorWindowsFromTheSignedEditorRectangle) {
    struct Case {
        Rect client;
        int16_t right, bottom;
        Placement main, editor;
    };
    const Case cases[] = {
        // Client of the main window; the same rectangle stands for the control's client.
        {{0, 0, 366, 180}, 300, 200, {0, 0, 306, 246}, {0, 0, 656, 370}},
        {{0, 0, 345, 158}, 480, 320, {0, 0, 486, 366}, {0, 0, 815, 468}},
        // A client origin away from 0 is subtracted from the size.
        {{4, 2, 100, 50}, 300, 200, {4, 2, 302, 244}, {4, 2, 386, 238}},
        // Right and bottom are 16-bit signed: the largest positive and a negative value.
        {{0, 0, 345, 158}, 32767, 32767, {0, 0, 32773, 32813}, {0, 0, 33102, 32915}},
        {{0, 0, 345, 158}, -300, -200, {0, 0, 0, 0}, {0, 0, 35, 0}},
        {{0, 0, 345, 158}, 0, 0, {0, 0, 6, 46}, {0, 0, 335, 148}},
    };
    for (const Case& c : cases) {
        const Placement m = mainWindowPlacement(c.client, {c.right, c.bottom});
        EXPECT_EQ(m.x, c.main.x);
        EXPECT_EQ(m.y, c.main.y);
        EXPECT_EQ(m.width, c.main.width) << c.right;
        EXPECT_EQ(m.height, c.main.height) << c.bottom;
        const Placement e = editorWindowPlacement(c.client, {c.right, c.bottom});
        EXPECT_EQ(e.x, c.editor.x);
        EXPECT_EQ(e.y, c.editor.y);
        EXPECT_EQ(e.width, c.editor.width) << c.right;
        EXPECT_EQ(e.height, c.editor.height) << c.bottom;
    }
}

// AltGr arrives as Ctrl+Alt: it types a character, so no shortcut and no panic fires.
TEST(AppKeyRouting, CtrlWithAltIsNoShortcut) {
    for (int key : {int{'A'}, int{'M'}, int{'T'}, int{'R'}, int{'P'}, int{'X'}, int{'D'}, 0x20, 0x1B}) {
        for (bool down : {true, false}) {
            const KeyDecision d = routeKey(key, down, true, true);
            EXPECT_EQ(d.route, KeyRoute::General) << "key " << key << (down ? " down" : " up");
            EXPECT_EQ(d.command, 0);
        }
        EXPECT_FALSE(isHostShortcut(key, true, true)) << key;
    }
    EXPECT_EQ(routeKey('A', false, true, false).route, KeyRoute::Command);
    EXPECT_TRUE(isHostShortcut('X', true, false));
    EXPECT_FALSE(isHostShortcut('X', false, false));
    EXPECT_FALSE(isHostShortcut('C', true, false));
}

// In a settings window: its own dialog keys first, the host's where no control takes the key.
TEST(AppKeyRouting, SettingsWindowKeysGoToTheWindowWhereItsControlTakesThem) {
    const FocusKeys edit{true, false};
    const FocusKeys button{false, true};
    const FocusKeys plain{false, false};
    struct Case {
        const char* what;
        int key;
        bool ctrl, alt;
        FocusKeys focus;
        bool dialog;
    };
    const Case cases[] = {
        {"Esc closes the window", 0x1B, false, false, plain, true},
        {"Enter is the default button", 0x0D, false, false, edit, true},
        {"Tab moves the focus", 0x09, false, false, button, true},
        {"arrows move in lists", 0x28, false, false, edit, true},
        {"Space presses a button", 0x20, false, false, button, true},
        {"Space types into an edit", 0x20, false, false, edit, true},
        {"Space elsewhere is the transport", 0x20, false, false, plain, false},
        {"note letter in an edit", 'D', false, false, edit, true},
        {"octave letter in a list", 'C', false, false, edit, true},
        {"panic letter in an edit", 'P', false, false, edit, true},
        {"digit in an edit", '5', false, false, edit, true},
        {"decimal point in an edit", 0xBE, false, false, edit, true},
        {"Back in an edit", 0x08, false, false, edit, true},
        {"note letter on a button plays", 'D', false, false, button, false},
        {"Ctrl+A in an edit is the shortcut", 'A', true, false, edit, false},
        {"Ctrl+X in an edit is the panic", 'X', true, false, edit, false},
        {"Ctrl+C in an edit copies", 'C', true, false, edit, true},
        {"AltGr+A in an edit types", 'A', true, true, edit, true},
        {"F5 goes to the host", 0x74, false, false, edit, false},
        {"Shift alone goes to the host", 0x10, false, false, edit, false},
    };
    for (const Case& c : cases) EXPECT_EQ(dialogTakesKey(c.key, c.ctrl, c.alt, c.focus), c.dialog) << c.what;
}

// A grown editor: the window adds its real frame and stays within the work area.
TEST(AppWindowSize, MainWindowFollowsAResizedEditor) {
    struct Case {
        Size editor, frame, work, expected;
    };
    const Case cases[] = {
        {{640, 480}, {6, 46}, {1280, 1024}, {646, 526}},
        {{640, 480}, {16, 59}, {1280, 1024}, {656, 539}},  // thicker frame, two-line menu
        {{2000, 1500}, {6, 46}, {1280, 1024}, {1280, 1024}},
        {{0, -5}, {6, 46}, {1280, 1024}, {7, 47}},
        {{640, 480}, {-3, 46}, {0, 0}, {640, 526}},  // no work area known: no limit
    };
    for (const Case& c : cases) {
        const Size s = mainWindowForEditor(c.editor, c.frame, c.work);
        EXPECT_EQ(s.width, c.expected.width) << c.editor.width;
        EXPECT_EQ(s.height, c.expected.height) << c.editor.height;
    }
}

}  // namespace

// ---- keyboard notes and modal loops ------------------------------------------------------------

// Failing first: a note key released with Alt held (a system key-up) was never routed and the
// note hung.
TEST(AppKeyMessages, AReleaseEndsItsNoteAlsoAsASystemKeyUp) {
    EXPECT_EQ(classifyKeyMessage(wm::KeyDown, false), KeyMessage::Down);
    EXPECT_EQ(classifyKeyMessage(wm::KeyDown, true), KeyMessage::Down) << "auto-repeat of a held note";
    EXPECT_EQ(classifyKeyMessage(wm::KeyUp, false), KeyMessage::Up);
    EXPECT_EQ(classifyKeyMessage(wm::KeyUp, true), KeyMessage::NoteRelease);
    EXPECT_EQ(classifyKeyMessage(wm::SysKeyUp, true), KeyMessage::NoteRelease);
    // A system key that holds no note (Alt itself, F10) stays the menu's.
    EXPECT_EQ(classifyKeyMessage(wm::SysKeyUp, false), KeyMessage::Other);
    EXPECT_EQ(classifyKeyMessage(wm::SysKeyDown, false), KeyMessage::Other);
    EXPECT_EQ(classifyKeyMessage(wm::SysKeyDown, true), KeyMessage::Other);
    EXPECT_EQ(classifyKeyMessage(0x0102 /* WM_CHAR */, true), KeyMessage::Other);
}

TEST(AppKeyMessages, NotesEndWhenAModalLoopTakesTheKeysOrTheWindowLosesThem) {
    EXPECT_TRUE(endsKeyboardNotes(wm::EnterMenuLoop, 0));
    EXPECT_TRUE(endsKeyboardNotes(wm::EnterSizeMove, 0));
    EXPECT_TRUE(endsKeyboardNotes(wm::Enable, 0)) << "a box or dialog it owns opens";
    EXPECT_FALSE(endsKeyboardNotes(wm::Enable, 1));
    EXPECT_TRUE(endsKeyboardNotes(wm::Activate, 0)) << "WA_INACTIVE";
    EXPECT_TRUE(endsKeyboardNotes(wm::Activate, 0x00010000)) << "WA_INACTIVE while minimised";
    EXPECT_FALSE(endsKeyboardNotes(wm::Activate, 1));
    EXPECT_FALSE(endsKeyboardNotes(wm::Activate, 2));
    EXPECT_TRUE(endsKeyboardNotes(wm::ActivateApp, 0));
    EXPECT_FALSE(endsKeyboardNotes(wm::ActivateApp, 1));
    EXPECT_FALSE(endsKeyboardNotes(wm::KeyUp, 0));
}

// ---- editor size requests ----------------------------------------------------------------------

// Failing first: every request from the audio thread posted a message of its own, so a flood
// of them held the Exit command back for many seconds.
TEST(AppEditorSizes, OnlyTheLatestRequestIsKeptWithOneMessageAtATime) {
    EditorSizeMailbox mailbox;
    EXPECT_FALSE(mailbox.take()) << "nothing asked";
    EXPECT_TRUE(mailbox.offer(420, 330));
    for (int i = 0; i < 1000; ++i) EXPECT_FALSE(mailbox.offer(i % 2 ? 420 : 440, i % 2 ? 330 : 350)) << i;
    auto size = mailbox.take();
    ASSERT_TRUE(size);
    EXPECT_EQ(size->width, 420);  // the last of the flood
    EXPECT_EQ(size->height, 330);
    EXPECT_FALSE(mailbox.applied(420, 330));

    // The size in place posts nothing; another one posts once.
    EXPECT_FALSE(mailbox.offer(420, 330));
    EXPECT_TRUE(mailbox.offer(500, 400));
    EXPECT_FALSE(mailbox.offer(420, 330)) << "a message is on its way";
    EXPECT_FALSE(mailbox.take()) << "back to the size in place before the message came";

    // A request that comes while one is applied is not lost, and still one message is on its way.
    EXPECT_TRUE(mailbox.offer(600, 500));
    size = mailbox.take();
    ASSERT_TRUE(size);
    EXPECT_TRUE(mailbox.offer(700, 600)) << "the message was taken: a new one";
    EXPECT_FALSE(mailbox.applied(size->width, size->height)) << "one is on its way";
    size = mailbox.take();
    ASSERT_TRUE(size);
    EXPECT_EQ(size->width, 700);
    EXPECT_FALSE(mailbox.applied(700, 600));
    // Back to the old size while another is applied: the old one looks in place, so applied()
    // posts for it.
    EXPECT_TRUE(mailbox.offer(800, 700));
    size = mailbox.take();
    ASSERT_TRUE(size);
    EXPECT_FALSE(mailbox.offer(700, 600));
    EXPECT_TRUE(mailbox.applied(800, 700));
    size = mailbox.take();
    ASSERT_TRUE(size);
    EXPECT_EQ(size->width, 700);
    EXPECT_EQ(size->height, 600);
    EXPECT_FALSE(mailbox.applied(700, 600));

    // A size set on the user-interface thread is the newest and in place.
    mailbox.placed(300, 200);
    EXPECT_FALSE(mailbox.take());
    EXPECT_FALSE(mailbox.offer(300, 200));
    EXPECT_TRUE(mailbox.offer(700, 600));
}
