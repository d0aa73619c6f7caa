// The Linux application as a user meets it, under Xvfb on a private dummy jackd: a real
// plug-in of Debian's dpf-plugins-vst with its editor, a note from a JACK MIDI client heard by
// a JACK client of ours, a MIDI clock setting the tempo in the caption, the server quitting,
// and the plug-in's state kept across two runs (with the demo instrument, which has a state).

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "JackTestClient.h"
#include "JackTestServer.h"
#if defined(VL_TEST_NSM)
#include "NsmTestManager.h"
#endif
#include "settings/FileStore.h"
#include "support/ScratchDir.h"
#include "support/SignalAnalysis.h"
#include "support/Wait.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string commandOutput(const std::string& command) {
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
        pclose(p);
    }
    return out;
}

std::string windowTree() { return commandOutput("xwininfo -root -tree 2>/dev/null"); }

// The conditions here start programs (xwininfo): polled less often.
template <class Condition>
testing::AssertionResult waitUntil(Condition condition, std::chrono::milliseconds limit) {
    return vltest::waitUntil(condition, limit, 50ms);
}

std::string readText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Captures `frames` of what the tester hears, from the first 10 ms piece in which the host is
// heard on: a note or key reaches the plug-in some cycles after it is sent, and later still on
// a loaded machine, but once it sounds it must sound without a gap.
testing::AssertionResult captureOnceHeard(vltest::JackTestClient& tester, size_t frames) {
    constexpr size_t kPiece = 480;
    const auto until = std::chrono::steady_clock::now() + 5s;
    for (;;) {
        tester.capture();
        if (testing::AssertionResult got = vltest::waitUntil([&] { return tester.captured() >= kPiece; }, 5s); !got)
            return got << " for a piece of 10 ms";
        if (demotest::peakLevel(tester.left(), 0, kPiece) > 0.05f) break;
        if (std::chrono::steady_clock::now() > until)
            return testing::AssertionFailure() << "nothing heard within 5 s (load average " << vltest::loadAverage()
                                               << ")";
    }
    return vltest::waitUntil([&] { return tester.captured() >= frames; }, 5s);
}

// Gives the keyboard to the main window whose caption matches, as a click on it does; the host
// moves it on into its own focus window (beside the editor), where the keys that follow go.
testing::AssertionResult focusOnWindow(const std::string& caption) {
    std::system(("xdotool search --name '" + caption + "' windowfocus --sync").c_str());
    const std::string top = commandOutput("xdotool search --name '" + caption + "' | head -1");
    return waitUntil([&] { return commandOutput("xdotool getwindowfocus") != top; }, 5s);
}

// The settings a user would have made: the state folder, a tempo, and the host's MIDI input
// active with clock sync.
void writeSettings(const fs::path& file, const std::wstring& effect, const fs::path& stateFolder) {
    vl::FileStore store(file);
    const std::wstring root = L"Software\\Vorlane\\" + effect;
    auto key = store.createKey(root);
    store.writeString(key, L"contentpath", stateFolder.wstring() + L"/");
    store.closeKey(key);
    key = store.createKey(root + L"\\Host");
    // The tempo is read together with the chosen devices: the server's.
    store.writeDword(key, L"AudioDeviceType", 2);
    store.writeString(key, L"AudioDeviceOut Name", L"JACK");
    store.writeString(key, L"AudioDeviceIn Name", L"JACK");
    store.writeString(key, L"Tempo", L"90");
    store.closeKey(key);
    key = store.createKey(root + L"\\Host\\Midi Device 0");
    store.writeString(key, L"name", L"MIDI In");
    store.writeDword(key, L"in", 1);
    store.writeDword(key, L"active", 1);
    store.writeDword(key, L"sync", 1);
    store.closeKey(key);
}

class LinuxAppTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!vltest::jackdInstalled()) GTEST_SKIP() << "jackd is not installed (scripts/setup installs jackd2)";
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X display (ctest runs this under xvfb-run)";
        ASSERT_TRUE(server.start());
    }

    // The host copied beside the module as a user installs it; started with its settings.
    void startHost(const std::string& name, const fs::path& module, const std::vector<std::string>& arguments = {},
                   const std::vector<std::pair<std::string, std::string>>& moreEnvironment = {}) {
        fs::copy_file(module, dir.path() / (name + ".so"), fs::copy_options::overwrite_existing);
        fs::copy_file(VL_HOST_BINARY, dir.path() / name, fs::copy_options::overwrite_existing);
        std::vector<std::string> argv = {(dir.path() / name).string()};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        std::vector<std::pair<std::string, std::string>> environment = {
            {"VORLANE_SETTINGS_FILE", settingsFile().string()},
            {"VORLANE_MESSAGE_LOG", messageLog().string()},
            {"HOME", dir.path().string()}};
        environment.insert(environment.end(), moreEnvironment.begin(), moreEnvironment.end());
        ASSERT_TRUE(host.start(argv, environment, dir.path() / (name + ".log")));
    }
    fs::path settingsFile() const { return dir.path() / "settings.txt"; }
    fs::path messageLog() const { return dir.path() / "messages.txt"; }

    vltest::ScratchDir dir{"linux-app"};
    vltest::JackTestServer server;
    vltest::Child host;
};

TEST_F(LinuxAppTest, NekobiPlaysWithItsEditorFollowsTheClockAndReportsTheServerQuitting) {
    const fs::path module = "/usr/lib/vst/Nekobi-vst.so";
    if (!fs::exists(module)) GTEST_SKIP() << "dpf-plugins-vst is not installed";
    writeSettings(settingsFile(), L"Nekobi", dir.path());
    startHost("Nekobi", module);
    ASSERT_TRUE(waitUntil([] { return windowTree().find("\"Nekobi | Tempo: 90.00 | CPU: ") != std::string::npos; }, 20s))
        << windowTree();

    // The port choice is kept by name.
    EXPECT_NE(readText(settingsFile()).find("\"JackOut Left Port\"=\"" + server.physicalPort(true, 0) + "\""),
              std::string::npos)
        << readText(settingsFile());

    // The editor: the plug-in's own window inside ours, drawn.
    ASSERT_TRUE(waitUntil([] { return windowTree().find("DISTRHO-Nekobi") != std::string::npos; }, 5s));
    std::this_thread::sleep_for(500ms);
    const fs::path shots = fs::path(VL_SHOT_DIR);
    fs::create_directories(shots);
    const fs::path shot = shots / "nekobi-editor.png";
    ASSERT_EQ(std::system(("import -window root " + shot.string()).c_str()), 0);
    const double spread = std::atof(commandOutput("convert " + shot.string() +
                                                  " -crop 600x100+20+30 -format '%[fx:standard_deviation]' info:")
                                        .c_str());
    EXPECT_GT(spread, 0.02) << "the editor's area is flat: nothing drawn";

    // A note from a JACK MIDI client, heard by a JACK client of ours.
    vltest::JackTestClient tester("tester");
    ASSERT_TRUE(tester.ok());
    ASSERT_EQ(vltest::connectWhenKnown(tester.handle(), tester.port("midi_out").c_str(), "Nekobi:midi_in"), 0);
    ASSERT_EQ(vltest::connectWhenKnown(tester.handle(), "Nekobi:out_left", tester.port("in_left").c_str()), 0);
    ASSERT_EQ(vltest::connectWhenKnown(tester.handle(), "Nekobi:out_right", tester.port("in_right").c_str()), 0);
    const uint64_t connectedAt = tester.cycles();  // the connections count from the next cycles
    ASSERT_TRUE(waitUntil([&] { return tester.cycles() >= connectedAt + 3; }, 5s));
    tester.schedule({{0, {0x90, 57, 100}, 3}, {48000 * 2, {0x80, 57, 0}, 3}});  // A3, 220 Hz, two seconds
    ASSERT_TRUE(captureOnceHeard(tester, 48000));
    const std::vector<float> heard = demotest::slice(tester.left(), 0, 48000);
    EXPECT_GT(demotest::peakLevel(heard), 0.05f);
    EXPECT_NEAR(demotest::Spectrum(heard, 48000).peakFrequency(150, 300), 220.0, 3.0);
    // No gap: every 10 ms of the held note carries sound.
    for (size_t at = 0; at + 480 <= heard.size(); at += 480)
        ASSERT_GT(demotest::peakLevel(heard, at, at + 480), 0.005f) << "silence at frame " << at;
    // The note ends before anything else is sent (a new schedule drops what is still due).
    ASSERT_TRUE(waitUntil([&] { return tester.scheduleDone(); }, 5s));

    // A MIDI clock at 120 BPM: a tick every 1000 frames at 48 kHz, with the transport stopped
    // (the tempo follows a running clock only with "sync while playing"). Eight beats, a tempo
    // for each: a tick that a loaded machine sends a cycle late spoils one of them, not all.
    std::vector<vltest::ScheduledMidi> clock;
    for (uint64_t tick = 0; tick <= 24 * 8; ++tick) clock.push_back({tick * 1000, {0xF8, 0, 0}, 1});
    tester.schedule(clock);
    EXPECT_TRUE(waitUntil([] { return windowTree().find("\"Nekobi | Tempo: 120.00 | CPU: ") != std::string::npos; }, 10s))
        << windowTree();

    // The keys typed with the pointer over the editor (the plug-in's own X window) come to the
    // host all the same: it keeps the focus in a window of its own beside the editor.
    ASSERT_EQ(std::system("xdotool search --name '^Nekobi [|]' mousemove --window %1 200 60"), 0);
    const auto focusOnHost = [] { return focusOnWindow("^Nekobi [|]"); };
    // The computer keyboard: "D" held plays C3 (the fourth octave's C, 130.8 Hz).
    ASSERT_TRUE(focusOnHost());
    ASSERT_EQ(std::system("xdotool keydown d"), 0);
    ASSERT_TRUE(captureOnceHeard(tester, 24000));
    std::system("xdotool keyup d");
    const std::vector<float> played = demotest::slice(tester.left(), 0, 24000);
    EXPECT_GT(demotest::peakLevel(played), 0.05f);
    EXPECT_NEAR(demotest::Spectrum(played, 48000).peakFrequency(100, 160), 130.81, 2.0);

    // The settings windows by their shortcuts; Tempo is refused while a clock is synced.
    // A shortcut's command runs when its letter is released with Ctrl still held.
    ASSERT_TRUE(focusOnHost());
    std::system("xdotool keydown ctrl keydown m keyup m keyup ctrl");
    EXPECT_TRUE(waitUntil([] { return windowTree().find("\"Midi Settings\"") != std::string::npos; }, 5s));
    // Alt+F opens the File menu; its first item is Audio Settings.
    ASSERT_TRUE(focusOnHost());
    std::system("xdotool keydown alt keydown f keyup f keyup alt sleep 0.5 key Return");
    EXPECT_TRUE(waitUntil([] { return windowTree().find("\"Audio Settings\"") != std::string::npos; }, 5s));
    ASSERT_TRUE(focusOnHost());
    std::system("xdotool keydown ctrl keydown t keyup t keyup ctrl");
    EXPECT_TRUE(waitUntil([&] { return readText(messageLog()).find("Warning: The tempo is already synced") !=
                                       std::string::npos; }, 5s))
        << readText(messageLog());
    std::system("xdotool key Return");
    const fs::path windowsShot = shots / "nekobi-settings-windows.png";
    std::system(("import -window root " + windowsShot.string()).c_str());

    // The server's block size changes: the engine restarts on it, the plug-in keeps playing.
    ASSERT_EQ(jack_set_buffer_size(tester.handle(), 1024), 0);
    std::this_thread::sleep_for(500ms);
    // The connection the user made survives the restart.
    jack_port_t* hostLeft = jack_port_by_name(tester.handle(), "Nekobi:out_left");
    ASSERT_TRUE(hostLeft);
    EXPECT_TRUE(jack_port_connected_to(hostLeft, tester.port("in_left").c_str()));
    tester.schedule({{0, {0x90, 57, 100}, 3}, {48000, {0x80, 57, 0}, 3}});
    ASSERT_TRUE(captureOnceHeard(tester, 24000));
    const std::vector<float> after = demotest::slice(tester.left(), 0, 24000);
    EXPECT_GT(demotest::peakLevel(after), 0.05f);
    EXPECT_NEAR(demotest::Spectrum(after, 48000).peakFrequency(150, 300), 220.0, 3.0);
    EXPECT_EQ(readText(messageLog()).find("Couldn't start Audioengine"), std::string::npos);

    // The server quits: the message, and the engine stopped (the caption loses its figures).
    if (server.external()) {
        host.stop(SIGTERM, 10000);
        EXPECT_TRUE(WIFEXITED(host.exitStatus())) << "the host had to be killed";
        GTEST_SKIP() << "the rest stops the server: not the test's to stop";
    }
    server.stop();
    EXPECT_TRUE(waitUntil([&] { return readText(messageLog()).find("Error: The JACK server has shut down.") !=
                                       std::string::npos; }, 10s))
        << readText(messageLog());
    EXPECT_TRUE(waitUntil([] { return windowTree().find("\"Nekobi\": (") != std::string::npos; }, 5s));
    // SIGTERM with the message box still open ends the program, bounded.
    host.stop(SIGTERM, 10000);
    EXPECT_TRUE(WIFEXITED(host.exitStatus())) << "the host had to be killed";
}

TEST_F(LinuxAppTest, ThePluginsStateIsSavedAtExitAndGivenBackAtTheNextStart) {
    writeSettings(settingsFile(), L"Vorlane Demo Synth", dir.path());
    const fs::path state = dir.path() / "saved.chunk";
    startHost("VorlaneDemo", VL_DEMO_MODULE);
    ASSERT_TRUE(waitUntil([] { return windowTree().find("| Tempo: 90.00 | CPU: ") != std::string::npos; }, 20s))
        << windowTree();
    host.stop(SIGTERM, 10000);
    ASSERT_TRUE(WIFEXITED(host.exitStatus()));
    std::string saved = readText(state);
    ASSERT_GT(saved.size(), 8u) << "no state saved at SIGTERM";

    // A state of the user's: the first parameter at 0.25.
    const float quarter = 0.25f;
    std::memcpy(saved.data() + 8, &quarter, 4);
    { std::ofstream(state, std::ios::binary | std::ios::trunc) << saved; }
    startHost("VorlaneDemo", VL_DEMO_MODULE);
    ASSERT_TRUE(waitUntil([] { return windowTree().find("| Tempo: 90.00 | CPU: ") != std::string::npos; }, 20s));
    host.stop(SIGTERM, 10000);
    ASSERT_TRUE(WIFEXITED(host.exitStatus()));
    EXPECT_EQ(readText(state), saved) << "the plug-in did not get its state back";
}

}  // namespace

namespace {

TEST_F(LinuxAppTest, WithoutAServerTheUserIsToldAndTheWindowStillOpens) {
    server.stop();
    // A server that runs on: the host is pointed at one nobody serves (PipeWire's libjack
    // chooses by PIPEWIRE_REMOTE, not by the JACK name).
    if (server.external()) {
        setenv("JACK_DEFAULT_SERVER", "vltest_nobody_here", 1);
        setenv("PIPEWIRE_REMOTE", "vltest_nobody_here", 1);
    }
    writeSettings(settingsFile(), L"Vorlane Demo Synth", dir.path());
    startHost("VorlaneDemo", VL_DEMO_MODULE);
    if (server.external()) unsetenv("PIPEWIRE_REMOTE");
    EXPECT_TRUE(waitUntil([&] { return readText(messageLog()).find("Error: The JACK server is not running.") !=
                                       std::string::npos; }, 20s))
        << readText(messageLog());
    // The message box in front of the window; the caption carries no engine figures.
    EXPECT_TRUE(waitUntil([] { return windowTree().find("\"Vorlane Demo Synth\": (") != std::string::npos; }, 5s))
        << windowTree();
    host.stop(SIGTERM, 10000);
    EXPECT_TRUE(WIFEXITED(host.exitStatus())) << "the host had to be killed";
}

}  // namespace

namespace {

// Every file of a folder with its bytes, to tell that a run wrote nothing there.
std::map<std::string, std::string> folderContents(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file() && entry.path().extension() != ".log" && entry.path().extension() != ".lock" &&
            entry.path().filename() != "messages.txt" && entry.path().filename() != "probe-calls.txt")
            files[entry.path().string()] = readText(entry.path());
    return files;
}

// The layout of a Linux install: one host, and a link named after each plug-in beside it.
// An effect (the probe with two inputs) at its first start: muted; a second copy of it says so
// and stores nothing; a missing and an empty module are named with the reason.
TEST_F(LinuxAppTest, ALinkedEffectStartsMutedPlaysAHeldKeyOnceASecondCopyStoresNothingAndLoadErrorsNameThePath) {
    const fs::path installed = dir.path() / "bin" / "VorlaneHost";
    const fs::path plugins = dir.path() / "plugins";
    fs::create_directories(installed.parent_path());
    fs::create_directories(plugins);
    fs::copy_file(VL_HOST_BINARY, installed);
    fs::copy_file(VL_PROBE_MODULE, plugins / "ProbeFx.so");
    fs::create_symlink(installed, plugins / "ProbeFx");
    // --help and --version print and end without a window or a plug-in.
    EXPECT_NE(commandOutput(installed.string() + " --version").find("VorlaneHost "), std::string::npos);
    EXPECT_NE(commandOutput(installed.string() + " --help").find("Usage: "), std::string::npos);
    const fs::path config = dir.path() / "probe.txt";
    { std::ofstream(config) << "effectName=ProbeFx\nnumInputs=2\nnumOutputs=2\nblockLogInterval=1000000000\n"; }
    const fs::path probeLog = dir.path() / "probe-calls.txt";
    {
        // Only the state folder: the devices are those of a first start.
        vl::FileStore store(settingsFile());
        auto key = store.createKey(L"Software\\Vorlane\\ProbeFx");
        store.writeString(key, L"contentpath", dir.path().wstring() + L"/");
        store.closeKey(key);
    }
    const std::vector<std::pair<std::string, std::string>> env = {
        {"VORLANE_SETTINGS_FILE", settingsFile().string()}, {"VORLANE_MESSAGE_LOG", messageLog().string()},
        {"VORLANE_PROBE_CONFIG", config.string()}, {"VORLANE_PROBE_LOG", probeLog.string()},
        {"HOME", dir.path().string()}};
    ASSERT_TRUE(host.start({(plugins / "ProbeFx").string()}, env, dir.path() / "first.log"));
    ASSERT_TRUE(waitUntil([] { return windowTree().find("\"ProbeFx (audio input muted) | Tempo: ") != std::string::npos; },
                          20s))
        << windowTree() << readText(messageLog()) << readText(dir.path() / "first.log");
    EXPECT_TRUE(waitUntil([&] { return readText(settingsFile()).find("\"InputMuted\"=dword:00000001") != std::string::npos; },
                          5s))
        << readText(settingsFile());

    // A key held past X's auto-repeat delay plays one note: one note-on and one note-off
    // reach the plug-in (effProcessEvents, opcode 25), not a pair for every repeat.
    const auto eventCalls = [&] {
        const std::string calls = readText(probeLog);
        size_t count = 0;
        for (size_t at = calls.find("call 25 "); at != std::string::npos; at = calls.find("call 25 ", at + 1)) ++count;
        return count;
    };
    const size_t callsBefore = eventCalls();
    ASSERT_TRUE(focusOnWindow("^ProbeFx "));
    ASSERT_EQ(std::system("xdotool keydown d sleep 1.5 keyup d"), 0);
    EXPECT_TRUE(waitUntil([&] { return eventCalls() >= callsBefore + 2; }, 5s)) << "the key's note did not arrive";
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(eventCalls(), callsBefore + 2) << "the held key was retriggered";

    // The second copy: its caption says so; at its end the files are as the first left them.
    const auto before = folderContents(dir.path());
    vltest::Child second;
    ASSERT_TRUE(second.start({(plugins / "ProbeFx").string()}, env, dir.path() / "second.log"));
    EXPECT_TRUE(waitUntil([] { return windowTree().find("(second copy: settings and state are not saved)") != std::string::npos; },
                          20s))
        << windowTree();
    second.stop(SIGTERM, 10000);
    EXPECT_TRUE(WIFEXITED(second.exitStatus())) << "the second copy had to be killed";
    EXPECT_TRUE(folderContents(dir.path()) == before) << "the second copy wrote a file";
    host.stop(SIGTERM, 10000);
    EXPECT_TRUE(WIFEXITED(host.exitStatus()));

    // A link whose module is missing, and a module that is an empty file: the path and why.
    fs::create_symlink(installed, plugins / "Missing");
    { std::ofstream(plugins / "Empty.so"); }
    fs::create_symlink(installed, plugins / "Empty");
    for (const auto& [name, reason] : {std::pair<std::string, std::string>{"Missing", "No such file"}, {"Empty", "too short"}}) {
        const fs::path log = dir.path() / (name + ".log");
        vltest::Child failing;
        ASSERT_TRUE(failing.start({(plugins / name).string()}, env, log));
        const std::string tried = (plugins / (name + ".so")).string();
        EXPECT_TRUE(waitUntil([&] { return readText(log).find(tried) != std::string::npos; }, 20s)) << readText(log);
        EXPECT_NE(readText(log).find(reason), std::string::npos) << readText(log);
        EXPECT_TRUE(waitUntil([&] { return readText(messageLog()).find("Couldn't load Plugin! " + tried) != std::string::npos; },
                              10s))
            << readText(messageLog());
        failing.stop(SIGTERM, 10000);
        EXPECT_TRUE(WIFEXITED(failing.exitStatus()));
    }
}

}  // namespace

namespace {

// SIGTERM during a take asks nothing: the take is kept in the state folder under its time,
// the state is saved, and the host ends.
TEST_F(LinuxAppTest, ASignalDuringATakeKeepsTheTakeAndTheState) {
    writeSettings(settingsFile(), L"Vorlane Demo Synth", dir.path());
    {
        vl::FileStore store(settingsFile());
        auto key = store.createKey(L"Software\\Vorlane\\Vorlane Demo Synth\\Host");
        store.writeDword(key, L"openPlayerOnStartup", 1);
        store.closeKey(key);
    }
    startHost("VorlaneDemo", VL_DEMO_MODULE);
    ASSERT_TRUE(waitUntil([] { return windowTree().find("| Tempo: 90.00 | CPU: ") != std::string::npos; }, 20s))
        << windowTree();
    ASSERT_TRUE(waitUntil([] { return windowTree().find("\"Vorlane\": (") != std::string::npos; }, 10s)) << windowTree();
    // The record button: the first one in the grid's fourth row, clicked as a user does.
    const std::string geometry = commandOutput("xdotool search --name '^Vorlane$' getwindowgeometry --shell");
    int width = 0, height = 0;
    for (const char* name : {"WIDTH=", "HEIGHT="}) {
        const size_t at = geometry.find(name);
        ASSERT_NE(at, std::string::npos) << geometry;
        (name[0] == 'W' ? width : height) = std::atoi(geometry.c_str() + at + std::strlen(name));
    }
    ASSERT_GT(width, 0);
    ASSERT_GT(height, 0);
    const std::string click = "xdotool search --name '^Vorlane$' mousemove --window %1 " +
                              std::to_string(width / 8) + " " + std::to_string(height * 7 / 10) + " click 1";
    ASSERT_EQ(std::system(click.c_str()), 0);
    std::this_thread::sleep_for(1500ms);  // a take of some length; what is checked is its file
    const fs::path shot = fs::path(VL_SHOT_DIR) / "recording.png";
    fs::create_directories(shot.parent_path());
    std::system(("import -window root " + shot.string()).c_str());

    host.stop(SIGTERM, 10000);
    EXPECT_TRUE(WIFEXITED(host.exitStatus())) << "the host waited for an answer and was killed";
    EXPECT_EQ(readText(messageLog()).find("Would you like to save the record?"), std::string::npos)
        << readText(messageLog());
    std::vector<fs::path> takes;
    for (const auto& entry : fs::directory_iterator(dir.path()))
        if (entry.path().filename().string().rfind("Recording ", 0) == 0 && entry.path().extension() == ".wav")
            takes.push_back(entry.path());
    ASSERT_EQ(takes.size(), 1u) << "the take is not in the state folder";
    EXPECT_GT(fs::file_size(takes[0]), 44u + 4u * 48000u / 2u) << "less than half a second kept";
    // "Recording YYYY-MM-DD HH-MM-SS.wav"
    EXPECT_EQ(takes[0].filename().string().size(), std::string("Recording 2026-01-01 00-00-00.wav").size())
        << takes[0];
    EXPECT_GT(readText(dir.path() / "saved.chunk").size(), 8u) << "no state saved";
}

// The Preset menu as a user works it, with MVerb: a sound saved, a knob turned in the editor,
// the file loaded back and the sound is the saved one again; a file on the command line; the
// window where it was left, unless that place is on no screen.
TEST_F(LinuxAppTest, PresetsBringASoundBackAndTheWindowReturnsWhereItWas) {
    const fs::path module = "/usr/lib/vst/MVerb-vst.so";
    if (!fs::exists(module)) GTEST_SKIP() << "dpf-plugins-vst is not installed";
    writeSettings(settingsFile(), L"MVerb", dir.path());
    const auto waitForHost = [] {
        return waitUntil([] { return windowTree().find("\"MVerb") != std::string::npos &&
                                     windowTree().find("| Tempo: 90.00 | CPU: ") != std::string::npos; }, 20s);
    };
    // Preset > <item>, then the file's name typed into Qt's dialog.
    const auto presetCommand = [&](char item, const fs::path& file) {
        ASSERT_TRUE(focusOnWindow("^MVerb"));
        const std::string open = std::string("xdotool key alt+p sleep 0.5 key ") + item;
        ASSERT_EQ(std::system(open.c_str()), 0);
        ASSERT_TRUE(waitUntil([] { return windowTree().find("\"Save Preset\"") != std::string::npos ||
                                          windowTree().find("\"Load Preset / Bank\"") != std::string::npos; }, 10s))
            << windowTree();
        const std::string type = "xdotool sleep 0.3 type --delay 10 '" + file.string() + "'";
        ASSERT_EQ(std::system(type.c_str()), 0);
        ASSERT_EQ(std::system("xdotool key Return"), 0);
        ASSERT_TRUE(waitUntil([] { return windowTree().find("\"Save Preset\"") == std::string::npos &&
                                          windowTree().find("\"Load Preset / Bank\"") == std::string::npos; }, 10s));
    };
    const fs::path saved = dir.path() / "Saved Sound.fxp";
    const fs::path turned = dir.path() / "turned.fxp";
    const fs::path loaded = dir.path() / "loaded.fxp";

    startHost("MVerb", module);
    ASSERT_TRUE(waitForHost()) << windowTree();
    presetCommand('s', saved);
    ASSERT_TRUE(waitUntil([&] { return fs::exists(saved); }, 10s));
    // The DENSITY knob, dragged up.
    ASSERT_EQ(std::system("xdotool search --name '^MVerb' mousemove --window %1 232 82 mousedown 1 "
                          "mousemove_relative --sync 0 -40 sleep 0.2 mousemove_relative --sync 0 -40 mouseup 1"),
              0);
    presetCommand('s', turned);
    ASSERT_TRUE(waitUntil([&] { return fs::exists(turned); }, 10s));
    ASSERT_NE(readText(turned), readText(saved)) << "the knob did not turn";
    presetCommand('l', saved);
    // The loaded program's name is in the caption.
    ASSERT_TRUE(waitUntil([] { return windowTree().find("\"MVerb - Default | Tempo: ") != std::string::npos; }, 10s))
        << windowTree();
    presetCommand('s', loaded);
    ASSERT_TRUE(waitUntil([&] { return fs::exists(loaded); }, 10s));
    EXPECT_EQ(readText(loaded), readText(saved)) << "the loaded file's sound is not the plug-in's";
    const fs::path shot = fs::path(VL_SHOT_DIR) / "preset-loaded.png";
    fs::create_directories(shot.parent_path());
    std::system(("import -window root " + shot.string()).c_str());
    ASSERT_EQ(std::system("xdotool search --name '^MVerb' windowmove %1 300 200"), 0);
    ASSERT_TRUE(waitUntil([] { return commandOutput("xdotool search --name '^MVerb' getwindowgeometry").find("300,200") != std::string::npos; }, 10s));
    host.stop(SIGTERM, 10000);
    ASSERT_TRUE(WIFEXITED(host.exitStatus()));
    EXPECT_NE(readText(settingsFile()).find("\"PresetFolder\"=\"" + dir.path().string() + "\""), std::string::npos)
        << readText(settingsFile());

    // The next start: the window where it was; the turned sound given on the command line.
    fs::remove(loaded);
    startHost("MVerb", module, {turned.string()});
    ASSERT_TRUE(waitForHost()) << windowTree();
    EXPECT_TRUE(waitUntil([] { return commandOutput("xdotool search --name '^MVerb' getwindowgeometry").find("300,200") != std::string::npos; }, 10s))
        << commandOutput("xdotool search --name '^MVerb' getwindowgeometry");
    presetCommand('s', loaded);
    ASSERT_TRUE(waitUntil([&] { return fs::exists(loaded); }, 10s));
    EXPECT_EQ(readText(loaded), readText(turned)) << "the file given on the command line was not loaded";
    host.stop(SIGTERM, 10000);
    ASSERT_TRUE(WIFEXITED(host.exitStatus()));

    // A place on a screen that is gone: the primary screen's corner.
    {
        vl::FileStore store(settingsFile());
        auto key = store.createKey(L"Software\\Vorlane\\MVerb");
        store.writeDword(key, L"WindowLeft", 5000);
        store.closeKey(key);
    }
    startHost("MVerb", module);
    ASSERT_TRUE(waitForHost()) << windowTree();
    EXPECT_TRUE(waitUntil([] { return commandOutput("xdotool search --name '^MVerb' getwindowgeometry").find("Position: 0,0") != std::string::npos; }, 10s))
        << commandOutput("xdotool search --name '^MVerb' getwindowgeometry");
    host.stop(SIGTERM, 10000);
}

}  // namespace

namespace {

// Parameter i of a saved.parameters file (see host/ParameterState.h), or -1.
float savedParameter(const std::string& file, size_t i) {
    uint32_t count = 0;
    if (file.size() < 20 || file.compare(0, 4, "VLPS") != 0) return -1.0f;
    std::memcpy(&count, file.data() + 16, 4);
    if (i >= count || file.size() < 20 + 4 * (i + 1)) return -1.0f;
    float value = 0.0f;
    std::memcpy(&value, file.data() + 20 + 4 * i, 4);
    return value;
}

// The pixel spread of a window's area below its menu, from a screenshot of the screen.
double drawnSpread(const std::string& title, const fs::path& shot, int fromY) {
    const std::string geometry = commandOutput("xdotool search --name '" + title + "' getwindowgeometry --shell");
    int x = 0, y = 0, width = 0, height = 0;
    for (const auto& [name, out] : {std::pair<const char*, int*>{"X=", &x}, {"Y=", &y}, {"WIDTH=", &width}, {"HEIGHT=", &height}}) {
        const size_t at = geometry.find(std::string("\n") + name);
        if (at == std::string::npos) return -1.0;
        *out = std::atoi(geometry.c_str() + at + 1 + std::strlen(name));
    }
    if (width <= 0 || height <= fromY) return -1.0;
    const std::string crop = std::to_string(width) + "x" + std::to_string(height - fromY) + "+" + std::to_string(x) +
                             "+" + std::to_string(y + fromY);
    return std::atof(
        commandOutput("convert " + shot.string() + " -crop " + crop + " -format '%[fx:standard_deviation]' info:").c_str());
}

// Debian's Kars brings no editor: the host's own rows of parameters stand in its place, and
// the keys a user presses move the first one's slider; the new value is the plug-in's and is
// what the state saved at the end holds.
TEST_F(LinuxAppTest, KarsWithoutAnEditorGetsTheGenericEditorWhoseSliderSetsItsParameter) {
    const fs::path module = "/usr/lib/vst/Kars-vst.so";
    if (!fs::exists(module)) GTEST_SKIP() << "dpf-plugins-vst is not installed";
    writeSettings(settingsFile(), L"Kars", dir.path());
    startHost("Kars", module);
    ASSERT_TRUE(waitUntil([] { return windowTree().find("\"Kars | Tempo: 90.00 | CPU: ") != std::string::npos; }, 20s))
        << windowTree();
    // No editor of the plug-in's was opened (DPF names its editor windows DISTRHO-...).
    EXPECT_EQ(windowTree().find("DISTRHO-"), std::string::npos) << windowTree();

    const fs::path shots = fs::path(VL_SHOT_DIR);
    fs::create_directories(shots);
    std::this_thread::sleep_for(500ms);
    const fs::path before = shots / "kars-generic-editor.png";
    ASSERT_EQ(std::system(("import -window root " + before.string()).c_str()), 0);
    // Names, sliders and texts drawn, not the empty grey box of old (the menu bar left out).
    EXPECT_GT(drawnSpread("^Kars [|]", before, 40), 0.04) << "the editor's area is flat";

    // The first row's slider has the keyboard: End moves it to its end (Sustain on).
    ASSERT_EQ(std::system("xdotool search --name '^Kars [|]' windowfocus --sync key End"), 0);
    std::this_thread::sleep_for(500ms);
    const fs::path after = shots / "kars-generic-editor-moved.png";
    std::system(("import -window root " + after.string()).c_str());
    host.stop(SIGTERM, 10000);
    ASSERT_TRUE(WIFEXITED(host.exitStatus())) << "the host had to be killed";
    const std::string saved = readText(dir.path() / "saved.parameters");
    EXPECT_FLOAT_EQ(savedParameter(saved, 0), 1.0f) << "the slider's value did not reach the plug-in";
    // The other parameters kept theirs: a generic editor sets nothing by itself.
    const std::string first = saved;
    startHost("Kars", module);
    ASSERT_TRUE(waitUntil([] { return windowTree().find("\"Kars | Tempo: 90.00 | CPU: ") != std::string::npos; }, 20s));
    host.stop(SIGTERM, 10000);
    ASSERT_TRUE(WIFEXITED(host.exitStatus()));
    EXPECT_EQ(readText(dir.path() / "saved.parameters"), first) << "a run without a touch changed the state";
}

bool portsJoined(jack_client_t* client, const std::string& a, const std::string& b) {
    jack_port_t* port = jack_port_by_name(client, a.c_str());
    return port && jack_port_connected_to(port, b.c_str());
}

// Hears `note` on the host's outputs, sent from `from`'s MIDI output (already connected).
testing::AssertionResult noteHeard(vltest::JackTestClient& tester, vltest::JackTestClient& from, uint8_t note) {
    const uint64_t connectedAt = tester.cycles();
    if (auto passed = waitUntil([&] { return tester.cycles() >= connectedAt + 3; }, 5s); !passed) return passed;
    from.schedule({{0, {0x90, note, 100}, 3}, {48000, {0x80, note, 0}, 3}});
    if (auto heard = captureOnceHeard(tester, 12000); !heard) return heard;
    const float peak = demotest::peakLevel(demotest::slice(tester.left(), 0, 12000));
    if (peak <= 0.05f) return testing::AssertionFailure() << "peak " << peak;
    // The note ends before the next is sent.
    return waitUntil([&] { return from.scheduleDone(); }, 5s);
}

// A keyboard plugged in while the host runs, which the settings have active, plays without a
// restart; the buffer steps of Audio Settings ask the server for the next power of two; after
// the server quit and came back, Ctrl+R starts the engine and the MIDI input plays again.
TEST_F(LinuxAppTest, AKeyboardPluggedInLaterPlaysTheBufferStepAsksTheServerAndNotesPlayAfterTheServerCameBack) {
    writeSettings(settingsFile(), L"Vorlane Demo Synth", dir.path());
    {
        vl::FileStore store(settingsFile());
        auto key = store.createKey(L"Software\\Vorlane\\Vorlane Demo Synth\\Host\\Midi Device 1");
        store.writeString(key, L"name", L"keys:midi_out");
        store.writeDword(key, L"in", 1);
        store.writeDword(key, L"active", 1);
        store.closeKey(key);
    }
    startHost("VorlaneDemo", VL_DEMO_MODULE);
    ASSERT_TRUE(waitUntil([] { return windowTree().find("| Tempo: 90.00 | CPU: ") != std::string::npos; }, 20s))
        << windowTree();
    const std::string client = "Vorlane Demo Synth";
    auto tester = std::make_unique<vltest::JackTestClient>("tester");
    ASSERT_TRUE(tester->ok());
    const auto listen = [&] {
        for (const char* side : {"left", "right"})
            if (jack_connect(tester->handle(), (client + ":out_" + side).c_str(), tester->port(side[0] == 'l' ? "in_left" : "in_right").c_str()) != 0)
                return false;
        return true;
    };
    ASSERT_TRUE(listen());

    // The keyboard comes: the host gives it a port named after it, connects it and plays it.
    auto keys = std::make_unique<vltest::JackTestClient>("keys");
    ASSERT_TRUE(keys->ok());
    ASSERT_TRUE(waitUntil([&] { return portsJoined(tester->handle(), "keys:midi_out", client + ":in keys:midi_out"); }, 10s))
        << readText(messageLog());
    EXPECT_TRUE(noteHeard(*tester, *keys, 60));

    // Audio Settings: "+" (reached with the keys) asks the server for 512 frames, and the
    // window shows them.
    ASSERT_TRUE(focusOnWindow("^" + client + " [|]"));
    std::system("xdotool keydown ctrl keydown a keyup a keyup ctrl");
    ASSERT_TRUE(waitUntil([] { return windowTree().find("\"Audio Settings\"") != std::string::npos; }, 5s));
    ASSERT_EQ(jack_get_buffer_size(tester->handle()), 256u);
    std::system("xdotool search --name '^Audio Settings$' windowfocus --sync key Tab Tab Tab Tab Tab space");
    EXPECT_TRUE(waitUntil([&] { return jack_get_buffer_size(tester->handle()) == 512u; }, 5s))
        << jack_get_buffer_size(tester->handle());
    std::this_thread::sleep_for(500ms);  // the window's next look at the server
    const fs::path shot = fs::path(VL_SHOT_DIR) / "audio-settings-server-block.png";
    fs::create_directories(shot.parent_path());
    std::system(("import -window root " + shot.string()).c_str());
    std::system("xdotool search --name '^Audio Settings$' windowfocus --sync key Escape");
    EXPECT_TRUE(noteHeard(*tester, *keys, 62));

    // The server quits and comes back (without the keyboard at first).
    keys.reset();
    tester.reset();
    server.stop();
    ASSERT_TRUE(waitUntil([&] { return readText(messageLog()).find("Error: The JACK server has shut down.") !=
                                       std::string::npos; }, 10s))
        << readText(messageLog());
    std::system("xdotool search --name '^Error$' windowfocus --sync key Return");
    ASSERT_TRUE(server.start());
    tester = std::make_unique<vltest::JackTestClient>("tester");
    ASSERT_TRUE(tester->ok());
    ASSERT_TRUE(focusOnWindow("^" + client + "$"));
    std::system("xdotool keydown ctrl keydown r keyup r keyup ctrl");
    ASSERT_TRUE(waitUntil([] { return windowTree().find("| Tempo: 90.00 | CPU: ") != std::string::npos; }, 20s))
        << windowTree() << readText(messageLog());
    ASSERT_TRUE(listen());
    ASSERT_EQ(jack_connect(tester->handle(), tester->port("midi_out").c_str(), (client + ":midi_in").c_str()), 0);
    EXPECT_TRUE(noteHeard(*tester, *tester, 64)) << "the MIDI input is not heard after the server came back";
    // The keyboard comes back too: connected again and heard.
    keys = std::make_unique<vltest::JackTestClient>("keys");
    ASSERT_TRUE(keys->ok());
    ASSERT_TRUE(waitUntil([&] { return portsJoined(tester->handle(), "keys:midi_out", client + ":in keys:midi_out"); }, 10s));
    EXPECT_TRUE(noteHeard(*tester, *keys, 65));
    EXPECT_EQ(readText(messageLog()).find("Couldn't start Midi-Engine"), std::string::npos) << readText(messageLog());

    host.stop(SIGTERM, 10000);
    EXPECT_TRUE(WIFEXITED(host.exitStatus())) << "the host had to be killed";
}

}  // namespace

namespace {

bool portExists(const std::string& name) {
    vltest::JackTestClient look("look");
    return look.ok() && jack_port_by_name(look.handle(), name.c_str()) != nullptr;
}

#if defined(VL_TEST_NSM)
// Under a session manager: announced before the host is on the server, named by the session's
// open, the state and the settings saved into the session's folder when the manager says save
// (and a save that fails is answered with an error), SIGTERM saving and ending it. Without a
// manager the command line names the client and the server.
TEST_F(LinuxAppTest, ASessionManagerNamesTheClientKeepsItsFilesInTheSessionAndTheCommandLineNamesItToo) {
    vltest::NsmTestManager manager;
    ASSERT_TRUE(manager.ok());
    const fs::path session = dir.path() / "session" / "VorlaneDemo.nQWER";
    startHost("VorlaneDemo", VL_DEMO_MODULE, {}, {{"NSM_URL", manager.url()}});
    const auto announce = manager.waitFor("/nsm/server/announce", 20s);
    ASSERT_TRUE(announce) << readText(dir.path() / "VorlaneDemo.log");
    ASSERT_EQ(announce->strings.size(), 3u);
    EXPECT_EQ(announce->strings[0], "VorlaneDemo");
    EXPECT_EQ(announce->strings[2], (dir.path() / "VorlaneDemo").string());
    EXPECT_EQ(announce->ints, (std::vector<int>{1, 2, host.pid()}));
    // Not on the server before the session names it.
    EXPECT_FALSE(portExists("Vorlane Demo Synth:out_left"));
    ASSERT_TRUE(manager.send("/nsm/client/open", "sss", session.c_str(), "My Session", "VorlaneDemo.nQWER"));
    const auto opened = manager.waitFor("/reply", 20s);
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->strings, (std::vector<std::string>{"/nsm/client/open", "OK"}));
    EXPECT_TRUE(portExists("VorlaneDemo.nQWER:out_left"));
    EXPECT_FALSE(portExists("Vorlane Demo Synth:out_left"));
    ASSERT_TRUE(waitUntil([] { return windowTree().find("\"Vorlane Demo Synth | Tempo: 120.00 | CPU: ") != std::string::npos; }, 20s))
        << windowTree();

    // Save: the state and the settings in the session's folder, none in the user's own.
    ASSERT_TRUE(manager.send("/nsm/client/save", ""));
    const auto saved = manager.waitFor("/reply", 10s);
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->strings, (std::vector<std::string>{"/nsm/client/save", "OK"}));
    EXPECT_GT(readText(session / "saved.chunk").size(), 8u);
    EXPECT_NE(readText(session / "settings.reg").find("contentpath"), std::string::npos);
    EXPECT_FALSE(fs::exists(settingsFile()));
    // A save that cannot write the state says why.
    fs::remove(session / "saved.chunk");
    fs::create_directory(session / "saved.chunk");
    ASSERT_TRUE(manager.send("/nsm/client/save", ""));
    const auto failed = manager.waitFor("/error", 10s);
    ASSERT_TRUE(failed);
    ASSERT_EQ(failed->strings.size(), 2u);
    EXPECT_EQ(failed->strings[0], "/nsm/client/save");
    EXPECT_NE(failed->strings[1].find("saved.chunk"), std::string::npos) << failed->strings[1];
    EXPECT_FALSE(manager.waitFor("/reply", 500ms)) << "a failed save answered OK";
    fs::remove(session / "saved.chunk");
    // The manager's quit: SIGTERM saves and ends.
    host.stop(SIGTERM, 10000);
    ASSERT_TRUE(WIFEXITED(host.exitStatus())) << "the host had to be killed";
    EXPECT_EQ(WEXITSTATUS(host.exitStatus()), 0) << readText(dir.path() / "VorlaneDemo.log");
    EXPECT_GT(readText(session / "saved.chunk").size(), 8u) << "no state saved at SIGTERM";

    // Without a manager: the command line's names.
    startHost("VorlaneDemo", VL_DEMO_MODULE, {"--client-name", "Named Synth"});
    EXPECT_TRUE(waitUntil([] { return portExists("Named Synth:out_left"); }, 20s)) << readText(dir.path() / "VorlaneDemo.log");
    host.stop(SIGTERM, 10000);
    EXPECT_TRUE(WIFEXITED(host.exitStatus()));
    startHost("VorlaneDemo", VL_DEMO_MODULE, {"--server", "nosuchserver"});
    EXPECT_TRUE(waitUntil([&] { return readText(messageLog()).find("Error: The JACK server is not running.") !=
                                       std::string::npos; }, 20s))
        << readText(messageLog());
    host.stop(SIGTERM, 10000);
    EXPECT_TRUE(WIFEXITED(host.exitStatus()));
    // A bad command line ends at once with the usage.
    const std::string bad = commandOutput(std::string(VL_HOST_BINARY) + " --client-nme X 2>&1; echo \"exit $?\"");
    EXPECT_NE(bad.find("unknown option --client-nme"), std::string::npos) << bad;
    EXPECT_NE(bad.find("--client-name NAME"), std::string::npos) << bad;
    EXPECT_NE(bad.find("exit 2"), std::string::npos) << bad;
}
#endif

}  // namespace

namespace {

size_t linesStartingWith(const std::string& text, const std::string& start) {
    size_t count = 0;
    for (size_t at = 0; at < text.size();) {
        if (text.compare(at, start.size(), start) == 0) ++count;
        const size_t end = text.find('\n', at);
        if (end == std::string::npos) break;
        at = end + 1;
    }
    return count;
}

// An editor that asks for sizes from the audio thread, 40 a block alternating between two
// sizes (thousands a second): the window takes the sizes asked for, and SIGTERM still ends the
// host at once with the state saved.
TEST_F(LinuxAppTest, AnEditorFloodingSizeRequestsFromTheAudioThreadIsFollowedAndTheHostStillEndsAtOnce) {
    const fs::path config = dir.path() / "flood.txt";
    { std::ofstream(config) << "effectName=Probe Size Flood\nflags=0x110\neditorRect=300x200\nchunk=flood-state\n"
                               "sizeFlood=420x330,440x350\nsizeFloodPerBlock=40\nblockLogInterval=50\n"; }
    const fs::path probeLog = dir.path() / "flood-calls.txt";
    {
        vl::FileStore store(settingsFile());
        auto key = store.createKey(L"Software\\Vorlane\\Probe Size Flood");
        store.writeString(key, L"contentpath", dir.path().wstring() + L"/");
        store.closeKey(key);
    }
    startHost("ProbeFlood", VL_PROBE_MODULE, {},
              {{"VORLANE_PROBE_CONFIG", config.string()}, {"VORLANE_PROBE_LOG", probeLog.string()}});
    ASSERT_TRUE(waitUntil([] { return windowTree().find("\"Probe Size Flood | Tempo: ") != std::string::npos; }, 20s))
        << windowTree() << readText(dir.path() / "ProbeFlood.log");
    const size_t blocksBefore = linesStartingWith(readText(probeLog), "block ");
    const auto floodStart = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(2s);  // the flood goes on meanwhile
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - floodStart).count();
    // One block in 50 is logged, each block asks 40 times.
    std::printf("note: the editor asks for %.0f sizes a second\n",
                (linesStartingWith(readText(probeLog), "block ") - blocksBefore) * 50.0 * 40.0 / seconds);
    const std::string geometry = commandOutput("xdotool search --name '^Probe Size Flood [|]' getwindowgeometry --shell");
    const size_t at = geometry.find("WIDTH=");
    ASSERT_NE(at, std::string::npos) << geometry;
    const int width = std::atoi(geometry.c_str() + at + 6);
    EXPECT_TRUE(width == 420 || width == 440) << "the window is " << width << " wide";

    const auto stopAt = std::chrono::steady_clock::now();
    host.stop(SIGTERM, 20000);
    const double stopMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - stopAt).count();
    std::printf("note: SIGTERM under the size flood ended the host in %.0f ms\n", stopMs);
    ASSERT_TRUE(WIFEXITED(host.exitStatus())) << "the host had to be killed";
    EXPECT_EQ(WEXITSTATUS(host.exitStatus()), 0) << readText(dir.path() / "ProbeFlood.log");
    EXPECT_EQ(readText(dir.path() / "saved.chunk"), "flood-state");
}

}  // namespace
