// The Linux application's own option lives beside the host settings and survives their saves.

#include <gtest/gtest.h>

#include <cstdlib>

#include "app/linux/CommandLine.h"
#include "app/linux/LinuxOptions.h"
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

namespace {

vl::AudioDeviceRecord portRecord(std::vector<std::wstring> ports, int left, int right) {
    vl::AudioDeviceRecord record;
    record.isInput = false;
    record.channelNames = std::move(ports);
    record.leftChannel = left;
    record.rightChannel = right;
    return record;
}

TEST(LinuxOptions, PortsAreKeptByNameWhereverTheServerListsThemNow) {
    vltest::ScratchDir dir("linux-ports");
    const std::string file = (dir.path() / "settings.reg").string();
    setenv("VORLANE_SETTINGS_FILE", file.c_str(), 1);
    const std::wstring key = L"Software\\Vorlane\\Ports";

    vl::AudioDeviceRecord untouched = portRecord({L"system:playback_1", L"system:playback_2"}, 0, 1);
    vl::linuxapp::applyPortChoice(key, untouched);  // nothing stored yet
    EXPECT_EQ(untouched.leftChannel, 0);
    EXPECT_EQ(untouched.rightChannel, 1);

    vl::linuxapp::writePortChoice(key, portRecord({L"system:playback_1", L"system:playback_2", L"mixer:in_3"}, 2, 0));
    struct Case {
        std::vector<std::wstring> now;
        int left, right;
    };
    const Case cases[] = {
        {{L"system:playback_1", L"system:playback_2", L"mixer:in_3"}, 2, 0},
        {{L"mixer:in_3", L"system:playback_1"}, 0, 1},          // other places now
        {{L"system:playback_1", L"system:playback_2"}, -1, 0},  // the mixer is not running
        {{}, -1, -1},
    };
    for (const Case& c : cases) {
        vl::AudioDeviceRecord record = portRecord(c.now, 0, 1);
        vl::linuxapp::applyPortChoice(key, record);
        EXPECT_EQ(record.leftChannel, c.left);
        EXPECT_EQ(record.rightChannel, c.right);
    }
    // The input side is kept apart from the output side.
    vl::AudioDeviceRecord input = portRecord({L"system:capture_1", L"system:capture_2"}, 1, 1);
    input.isInput = true;
    vl::linuxapp::applyPortChoice(key, input);
    EXPECT_EQ(input.leftChannel, 1);
    unsetenv("VORLANE_SETTINGS_FILE");
}

}  // namespace

namespace {

// The removed MIDI connections survive the host settings' save; an empty list leaves no value.
// A session's folder becomes the state folder, with the separator the state files need.
TEST(LinuxOptions, RemovedMidiConnectionsAndTheSessionsStateFolderAreKept) {
    vltest::ScratchDir dir("linux-midi-removed");
    const std::string file = (dir.path() / "settings.reg").string();
    setenv("VORLANE_SETTINGS_FILE", file.c_str(), 1);
    {
        vl::HostSettings settings(L"Removed");
        EXPECT_TRUE(vl::linuxapp::readRemovedMidiConnections(settings.keyPath).empty());
        vl::linuxapp::writeRemovedMidiConnections(settings.keyPath, {"a2j:Keystation [20] (capture): MIDI 1", "x:y"});
        settings.saveSettings();
        EXPECT_EQ(vl::linuxapp::readRemovedMidiConnections(settings.keyPath),
                  (std::vector<std::string>{"a2j:Keystation [20] (capture): MIDI 1", "x:y"}));
        vl::linuxapp::writeRemovedMidiConnections(settings.keyPath, {});
        EXPECT_TRUE(vl::linuxapp::readRemovedMidiConnections(settings.keyPath).empty());

        vl::linuxapp::writeStateFolder(settings.keyPath, dir.path() / "session");
    }
    vl::HostSettings again(L"Removed");
    std::wstring folder;
    ASSERT_TRUE(again.readRootString(L"contentpath", folder));
    EXPECT_EQ(folder, (dir.path() / "session").wstring() + L"/");
    unsetenv("VORLANE_SETTINGS_FILE");
}

}  // namespace

namespace {

TEST(CommandLine, NamesOptionsAndBadLines) {
    using vl::linuxapp::parseCommandLine;
    const auto plain = parseCommandLine({});
    EXPECT_TRUE(plain.error.empty());
    EXPECT_FALSE(plain.help || plain.version);
    EXPECT_TRUE(plain.clientName.empty() && plain.serverName.empty());

    const auto named = parseCommandLine({"--client-name", "Bass Synth", "--server=studio", "-platform", "xcb"});
    EXPECT_TRUE(named.error.empty()) << named.error;
    EXPECT_EQ(named.clientName, "Bass Synth");
    EXPECT_EQ(named.serverName, "studio");
    EXPECT_TRUE(parseCommandLine({"-h"}).help);
    EXPECT_TRUE(parseCommandLine({"--version"}).version);

    struct Bad {
        std::vector<std::string> arguments;
        const char* error;
    };
    for (const Bad& bad : {Bad{{"--client-name"}, "--client-name needs a name"}, Bad{{"--server="}, "--server needs a name"},
                           Bad{{"--client-name="}, "--client-name needs a name"}, Bad{{"--sever", "x"}, "unknown option --sever"}}) {
        const auto line = parseCommandLine(bad.arguments);
        EXPECT_EQ(line.error, bad.error);
        EXPECT_TRUE(line.clientName.empty() && line.serverName.empty());
    }
}

}  // namespace
