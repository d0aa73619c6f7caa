// The peer of the start-up benchmark: a Win32 program that does nothing but stamp its entry
// into the start-up trace (when asked to) and end. What it takes from its creation to its
// entry is what Wine needs to start any process. Built twice: bare, and (VL_PEER_IMPORTS)
// importing the system libraries the application imports at its start, so that its entry also
// holds what Wine takes to load those.
#include <windows.h>

#ifdef VL_PEER_IMPORTS
#include <commctrl.h>
#include <mmsystem.h>
#include <objbase.h>

// One function of each library, referenced so that each stays an import.
__attribute__((used)) static const void* const kImports[] = {
    reinterpret_cast<const void*>(&InitCommonControlsEx), reinterpret_cast<const void*>(&timeGetTime),
    reinterpret_cast<const void*>(&CoInitializeEx),       reinterpret_cast<const void*>(&CreateSolidBrush),
    reinterpret_cast<const void*>(&RegOpenKeyExW),        reinterpret_cast<const void*>(&MessageBoxW),
};
#endif

#include "platform/StartupTrace.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    if (vl::platform::beginStartupTraceFromEnvironment()) {
        vl::platform::startupTrace().stamp("winmain");
        vl::platform::startupTrace().write();
    }
    return 0;
}
