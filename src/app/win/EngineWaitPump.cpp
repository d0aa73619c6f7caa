#include "app/win/EngineWaitPump.h"

#include <windows.h>

namespace vl::app {

namespace {

// Enough for a burst of paint, timer and input messages; the wait's own bound stays in charge.
constexpr int kMessagesPerStep = 32;

bool quitSeen = false;

}  // namespace

void pumpMessagesWhileEngineWaits(uint32_t maxMs, void*) {
    if (quitSeen) {  // the application is ending: nothing more to answer
        Sleep(maxMs);
        return;
    }
    MsgWaitForMultipleObjectsEx(0, nullptr, maxMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    MSG message;
    for (int i = 0; i < kMessagesPerStep && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE); ++i) {
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            quitSeen = true;
            return;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

}  // namespace vl::app
