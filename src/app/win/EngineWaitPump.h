#pragma once
// What the user-interface thread does while it waits for an engine start or stop: it answers
// the application's messages (painting, timers, menus), so the window never freezes while a
// device is slow to start or stop. Installed as the coordinator's wait hook.

#include <cstdint>

namespace vl::app {

// Waits at most maxMs for a message, then dispatches those waiting (a bounded number). A quit
// message is left for the application's own loop.
void pumpMessagesWhileEngineWaits(uint32_t maxMs, void* user);
// Whether the messages being handled now come from inside such a wait (an engine call is
// then still on the stack, and whatever it works on must stay).
bool engineWaitPumping();

}  // namespace vl::app
