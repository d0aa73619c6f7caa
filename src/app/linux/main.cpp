// The Linux application: one VST 2.x plug-in ("Foo.so" beside the host renamed "Foo", or
// beside a link named "Foo") played on the JACK server with its editor in the window.

#include <QApplication>
#include <QSessionManager>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <vector>
#include <fcntl.h>
#include <unistd.h>

#include "app/linux/HostWindow.h"
#include "app/linux/Process.h"
#include "platform/Module.h"

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

constexpr char kUsage[] =
    "Usage: Foo [--help] [--version] [preset.fxp | bank.fxb ...]\n"
    "A standalone host for one VST 2.x plug-in on the JACK server. Copy or link the host beside\n"
    "the plug-in under the plug-in's name: \"Foo\" (or a link named Foo) plays \"Foo.so\" beside it.\n"
    "Program (.fxp) and bank (.fxb) files given are loaded after the plug-in's saved state.\n"
    "SIGTERM, SIGINT and SIGHUP save a running take and the plug-in's state, then end the host.\n";

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::filesystem::path> presets;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument(argv[i]);
        if (argument == "--help" || argument == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (argument == "--version") {
            std::printf("VorlaneHost %s\n", VL_HOST_VERSION);
            return 0;
        }
        if (vl::isPresetFileName(argv[i])) presets.emplace_back(argv[i]);
        else if (!argument.empty() && argument[0] != '-')
            std::fprintf(stderr, "VorlaneHost: %s is not a .fxp or .fxb file; ignored\n", argv[i]);
    }
    const std::filesystem::path executable = executableOf(argc > 0 ? argv[0] : nullptr);
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

    const bool started = window.start(executable);
    if (terminated) {
        window.shutdown();
        return 0;
    }
    if (!started) return 1;

    // The session may end without a close: the take and the state are saved then.
    QObject::connect(&application, &QGuiApplication::commitDataRequest, &window,
                     [&window](QSessionManager&) { window.saveWithoutAsking(); });
    QObject::connect(&application, &QCoreApplication::aboutToQuit, &window, [&window] { window.shutdown(); });
    return application.exec();
}
