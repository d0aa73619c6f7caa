// A second copy of the host for the same effect reads the first one's settings and writes none.

#include <gtest/gtest.h>

#include "app/AppRules.h"
#include "app/ReadOnlyStore.h"
#include "audio/AudioDevice.h"
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
        {L"Probe", L"Local\\VorlaneHost.Probe"},
        {L"A\\B", L"Local\\VorlaneHost.A/B"},  // a backslash would name a namespace
        {L"", L"Local\\VorlaneHost."},
    };
    for (const Case& c : cases) EXPECT_EQ(vl::app::runningCopyMutexName(c.effect), c.name);
    EXPECT_NE(vl::app::runningCopyMutexName(L"Probe"), vl::app::runningCopyMutexName(L"probe2"));
    EXPECT_EQ(vl::app::secondCopyCaption(L"Probe"), L"Probe (second copy: settings and state are not saved)");
}
