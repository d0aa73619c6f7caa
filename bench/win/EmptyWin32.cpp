// The peer of the start-up benchmark: a Win32 program that does nothing but stamp its entry
// into the start-up trace (when asked to) and end. What it takes from its creation to its
// entry is what Wine needs to start any process.
#include <windows.h>

#include "platform/StartupTrace.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    if (vl::platform::beginStartupTraceFromEnvironment()) {
        vl::platform::startupTrace().stamp("winmain");
        vl::platform::startupTrace().write();
    }
    return 0;
}
