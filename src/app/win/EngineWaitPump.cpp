#include "app/win/EngineWaitPump.h"

#include <windows.h>

namespace vl::app {

namespace {

// Enough for a burst of paint, timer and input messages; the wait's own bound stays in charge.
constexpr int kMessagesPerStep = 32;

bool quitSeen = false;
int pumping = 0;  // user-interface thread only

}  // namespace

void pumpMessagesWhileEngineWaits(uint32_t maxMs, void*) {
    if (quitSeen) {  // the application is ending: nothing more to answer
        Sleep(maxMs);
        return;
    }
    ++pumping;  // messages sent to the window arrive inside the wait as well
    MsgWaitForMultipleObjectsEx(0, nullptr, maxMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    MSG message;
    for (int i = 0; i < kMessagesPerStep && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE); ++i) {
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            quitSeen = true;
            break;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    --pumping;
}

bool engineWaitPumping() { return pumping > 0; }

}  // namespace vl::app
