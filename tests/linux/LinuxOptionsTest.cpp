// The Linux application's own option lives beside the host settings and survives their saves.

#include <gtest/gtest.h>

#include <cstdlib>

#include "LinuxOptions.h"
#include "settings/HostSettings.h"
#include "support/ScratchDir.h"

namespace {

TEST(LinuxOptions, FollowTransportIsKeptPerPluginAndSurvivesTheHostSettingsSave) {
    vltest::ScratchDir dir("linux-options");
    const std::string file = (dir.path() / "settings.reg").string();
    setenv("VORLANE_SETTINGS_FILE", file.c_str(), 1);
    {
        vl::HostSettings first(L"First");
        vl::HostSettings second(L"Second");
        EXPECT_FALSE(vl::linuxapp::readFollowTransport(first.keyPath));  // never set
        vl::linuxapp::writeFollowTransport(first.keyPath, true);
        // Saved later from a store opened before the option was written.
        first.tempo = 133.0;
        first.saveSettings();
        EXPECT_TRUE(vl::linuxapp::readFollowTransport(first.keyPath));
        EXPECT_FALSE(vl::linuxapp::readFollowTransport(second.keyPath));
    }
    vl::HostSettings again(L"First");
    vl::AudioBackendSet none;
    again.loadSettings(none);
    EXPECT_TRUE(vl::linuxapp::readFollowTransport(again.keyPath));
    vl::linuxapp::writeFollowTransport(again.keyPath, false);
    EXPECT_FALSE(vl::linuxapp::readFollowTransport(again.keyPath));
    unsetenv("VORLANE_SETTINGS_FILE");
}

}  // namespace
