// The Linux application: one VST 2.x plug-in ("Foo.so" beside the host renamed "Foo", or
// beside a link named "Foo") played on the JACK server with its editor in the window.

#include <QApplication>
#include <QSessionManager>
#include <QSocketNotifier>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>
#include <fcntl.h>
#include <unistd.h>

#include "app/linux/CommandLine.h"
#include "app/linux/HostWindow.h"
#include "app/linux/NsmClient.h"
#include "app/linux/Process.h"
#include "platform/Module.h"
#include "platform/Text.h"

namespace {

int signalPipe[2] = {-1, -1};

// Only async-signal-safe work here: the window closes from the event loop.
void onTerminate(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = write(signalPipe[1], &byte, 1);
}

// The path the user started: a link keeps its own folder and name.
std::filesystem::path executableOf(const char* argv0) {
    std::error_code ec;
    const std::filesystem::path here = std::filesystem::current_path(ec);
    std::filesystem::path invoked = vl::linuxapp::invokedExecutable(argv0, std::getenv("PATH"), here);
    if (invoked.empty() || !std::filesystem::exists(invoked, ec)) invoked = vl::platform::executablePath();
    return invoked;
}

// The session manager's open is waited for this long before the host starts on its own.
constexpr int kSessionOpenWaitMs = 5000;

// With NSM_URL set: announced to the session manager, whose open names this run's JACK client
// and folder. The settings file goes into the folder, so that two sessions never share one.
// Without an open in time (or with a manager that cannot be reached) the host starts as it
// would without one, and says so on stderr.
std::unique_ptr<vl::linuxapp::NsmClient> joinSession(const std::filesystem::path& executable,
                                                     vl::linuxapp::RunPlace& place) {
    const char* url = std::getenv("NSM_URL");
    if (!url || !*url) return nullptr;
    std::string error;
    std::unique_ptr<vl::linuxapp::NsmClient> nsm = vl::linuxapp::NsmClient::connect(url, error);
    if (nsm && !nsm->announce(executable.filename().string(), executable.string()))
        error = "the session manager at " + std::string(url) + " cannot be reached";
    std::optional<vl::linuxapp::NsmClient::Open> open;
    if (error.empty()) open = nsm->waitForOpen(kSessionOpenWaitMs, error);
    if (!open) {
        std::fprintf(stderr, "VorlaneHost: no session: %s\n", error.c_str());
        return nullptr;
    }
    std::error_code ec;
    std::filesystem::create_directories(open->path, ec);
    if (ec || !std::filesystem::is_directory(open->path, ec)) {
        nsm->answerOpen("The session's folder " + open->path + " cannot be made.");
        std::fprintf(stderr, "VorlaneHost: the session's folder %s cannot be made\n", open->path.c_str());
        return nullptr;
    }
    place.sessionFolder = open->path;
    if (!open->clientId.empty()) place.clientName = open->clientId;
    setenv("VORLANE_SETTINGS_FILE", (place.sessionFolder / "settings.reg").c_str(), 1);
    return nsm;
}

}  // namespace

int main(int argc, char** argv) {
    const vl::linuxapp::CommandLine line = vl::linuxapp::parseCommandLine(std::vector<std::string>(argv + std::min(argc, 1), argv + argc));
    if (!line.error.empty()) {
        std::fprintf(stderr, "VorlaneHost: %s\n%s", line.error.c_str(), vl::linuxapp::kUsageText);
        return 2;
    }
    if (line.help) {
        std::fputs(vl::linuxapp::kUsageText, stdout);
        return 0;
    }
    if (line.version) {
        std::printf("VorlaneHost %s\n", VL_HOST_VERSION);
        return 0;
    }
    std::vector<std::filesystem::path> presets;
    for (const std::string& file : line.files) {
        if (vl::isPresetFileName(file)) presets.emplace_back(file);
        else std::fprintf(stderr, "VorlaneHost: %s is not a .fxp or .fxb file; ignored\n", file.c_str());
    }
    // libjack reads the server's name for every client of this process (the rate probe too).
    if (!line.serverName.empty()) setenv("JACK_DEFAULT_SERVER", line.serverName.c_str(), 1);
    const std::filesystem::path executable = executableOf(argc > 0 ? argv[0] : nullptr);
    vl::linuxapp::RunPlace place;
    place.clientName = line.clientName;
    // Before the JACK client exists: the session names it.
    std::unique_ptr<vl::linuxapp::NsmClient> nsm = joinSession(executable, place);
    QApplication application(argc, argv);
    application.setApplicationName("VorlaneHost");

    vl::linuxapp::HostWindow window;
    window.setStartupPresets(std::move(presets));
    // SIGTERM, SIGINT and SIGHUP (logout, shutdown, a session manager, a timeout) ask
    // nothing: a running take and the state are saved, then the window closes as its close
    // box does, also while a message of the start-up is open.
    bool terminated = false;
    if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) == 0) {  // a handler never blocks on a full pipe
        struct sigaction action {};
        action.sa_handler = &onTerminate;
        sigemptyset(&action.sa_mask);
        sigaction(SIGTERM, &action, nullptr);
        sigaction(SIGINT, &action, nullptr);
        sigaction(SIGHUP, &action, nullptr);
        auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &window);
        QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window, &terminated] {
            char byte = 0;
            [[maybe_unused]] const ssize_t got = read(signalPipe[0], &byte, 1);
            terminated = true;
            window.saveWithoutAsking();
            window.close();
            // Also ends a message box's loop that may be open in front of the window.
            QApplication::quit();
            QApplication::closeAllWindows();
        });
    }

    const bool started = window.start(executable, place);
    if (nsm) nsm->answerOpen(started ? std::nullopt : std::optional<std::string>("The plug-in could not be loaded."));
    if (terminated) {
        window.shutdown();
        return 0;
    }
    if (!started) return 1;
    if (nsm) {
        nsm->onSave = [&window]() -> std::optional<std::string> {
            const std::optional<std::wstring> failure = window.saveForSession();
            if (!failure) return std::nullopt;
            return vl::platform::wideToUtf8(*failure);
        };
        auto* notifier = new QSocketNotifier(nsm->socket(), QSocketNotifier::Read, &window);
        QObject::connect(notifier, &QSocketNotifier::activated, &window, [&nsm] { nsm->poll(); });
    }

    // The session may end without a close: the take and the state are saved then.
    QObject::connect(&application, &QGuiApplication::commitDataRequest, &window,
                     [&window](QSessionManager&) { window.saveWithoutAsking(); });
    QObject::connect(&application, &QCoreApplication::aboutToQuit, &window, [&window] { window.shutdown(); });
    return application.exec();
}
