#pragma once
// Thread priority for the audio thread.

namespace vl::platform {

// Raises the calling thread to the highest priority the platform grants. On Windows the thread
// joins the multimedia class scheduler's "Pro Audio" task at critical priority where avrt.dll
// offers it (the registration lasts for the thread's life), and otherwise runs at
// THREAD_PRIORITY_TIME_CRITICAL; elsewhere a real-time policy when permitted. Returns whether
// it was raised.
bool raiseCurrentThreadToTimeCritical();

}  // namespace vl::platform
