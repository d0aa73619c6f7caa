// A second copy of the host for the same effect reads the first one's settings and writes none.

#include <gtest/gtest.h>

#include "app/AppRules.h"
#include "app/ReadOnlyStore.h"
#include "audio/AudioDevice.h"
#include "settings/EffectName.h"
#include "support/TestSettings.h"

using vl::app::ReadOnlyStore;

TEST(SecondCopy, SettingsAreReadButNothingIsWritten) {
    vltest::TestSettingsStore first;
    {
        auto settings = first.make(L"Twice");
        settings->tempo = 98.5;
        settings->samplePath = L"C:\\loops\\a.wav";
        settings->saveSettings();
    }
    auto readOnly = std::make_shared<ReadOnlyStore>(first.store);
    vl::HostSettings second(L"Twice", readOnly);
    vl::AudioBackendSet none;
    second.loadSettings(none);
    EXPECT_EQ(second.samplePath, L"C:\\loops\\a.wav");

    second.tempo = 140.0;
    second.samplePath = L"C:\\other.wav";
    second.saveSettings();
    std::wstring stored;
    ASSERT_TRUE(first.readHostString(second, L"samplePath", stored));
    EXPECT_EQ(stored, L"C:\\loops\\a.wav");
    ASSERT_TRUE(first.readHostString(second, L"Tempo", stored));
    EXPECT_EQ(std::stod(stored), 98.5);

    // No key is created for an effect the store does not know.
    vl::HostSettings stranger(L"Never Stored", readOnly);
    stranger.saveSettings();
    EXPECT_EQ(first.store->openKey(stranger.keyPath), vl::KeyValueStore::Key::None);
}

TEST(SecondCopy, OneMutexNamePerEffect) {
    struct Case {
        std::wstring effect, name;
    };
    const Case cases[] = {
        {L"Probe", L"Local\\VorlaneHost.PROBE"},
        {L"A\\B", L"Local\\VorlaneHost.A~5CB"},  // a backslash would name a namespace
        {L"", L"Local\\VorlaneHost.~"},
    };
    for (const Case& c : cases) EXPECT_EQ(vl::app::runningCopyMutexName(c.effect), c.name);
    EXPECT_NE(vl::app::runningCopyMutexName(L"Probe"), vl::app::runningCopyMutexName(L"probe2"));
    EXPECT_EQ(vl::app::secondCopyCaption(L"Probe"), L"Probe (second copy: settings and state are not saved)");
}

// Failing first: "Probe Case" and "PROBE CASE" share a settings key but both ran as first
// copies; a name of 255 characters gave a mutex name beyond 260; a nameless plug-in had its
// settings in the maker's root key and the caption " | Tempo: ...".
TEST(SecondCopy, OneMutexForOneSettingsKeyWithinWindowsLimits) {
    EXPECT_EQ(vl::app::runningCopyMutexName(L"Probe Case"), vl::app::runningCopyMutexName(L"PROBE CASE"));
    EXPECT_EQ(vl::app::runningCopyMutexName(L"\u00e9t\u00e9"), vl::app::runningCopyMutexName(L"\u00c9T\u00c9"));
    EXPECT_NE(vl::app::runningCopyMutexName(L"A:B"), vl::app::runningCopyMutexName(L"A_B"));
    const std::wstring longName = vl::app::runningCopyMutexName(std::wstring(255, L'x'));
    EXPECT_LT(longName.size(), 260u);
    EXPECT_NE(longName, vl::app::runningCopyMutexName(std::wstring(254, L'x') + L'y'));
    EXPECT_EQ(longName.find(L'\\', 6), std::wstring::npos);

    for (const wchar_t* nameless : {L"", L".", L"..", L" ", L". ."}) {
        EXPECT_TRUE(vl::isNamelessEffect(nameless));
        EXPECT_EQ(vl::effectIdentity(nameless, "/opt/plugins/Probe Host.exe"), L"Probe Host");
    }
    EXPECT_EQ(vl::effectIdentity(L"Demo Synth", "/opt/plugins/Other.exe"), L"Demo Synth");
    EXPECT_EQ(vl::effectIdentity(L".x", "/opt/plugins/Other"), L".x");
    vl::HostSettings settings(vl::effectIdentity(L"", "/opt/Foo"), std::make_shared<vl::MemoryStore>());
    EXPECT_EQ(settings.keyPath, L"Software\\Vorlane\\Foo");
}
