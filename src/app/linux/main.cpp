// The Linux application: one VST 2.x plug-in ("Foo.so" beside the host renamed "Foo") played
// on the JACK server with its editor in the window.

#include <QApplication>
#include <QSessionManager>
#include <QSocketNotifier>

#include <csignal>
#include <unistd.h>

#include "app/linux/HostWindow.h"

namespace {

int signalPipe[2] = {-1, -1};

// Only async-signal-safe work here: the window closes from the event loop.
void onTerminate(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = write(signalPipe[1], &byte, 1);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    application.setApplicationName("VorlaneHost");

    vl::linuxapp::HostWindow window;
    // SIGTERM, SIGINT and SIGHUP close the window as its close box does, also while a message
    // of the start-up is open.
    bool terminated = false;
    if (pipe(signalPipe) == 0) {
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
            window.close();
            // Also ends a message box's loop that may be open in front of the window.
            QApplication::quit();
            QApplication::closeAllWindows();
        });
    }

    const bool started = window.start();
    if (terminated) {
        window.shutdown();
        return 0;
    }
    if (!started) return 1;

    // The session may end without a close: the state is saved then.
    QObject::connect(&application, &QGuiApplication::commitDataRequest, &window,
                     [&window](QSessionManager&) { window.stopEnginesAndSaveState(); });
    QObject::connect(&application, &QCoreApplication::aboutToQuit, &window, [&window] { window.shutdown(); });
    return application.exec();
}
