#pragma once
// Thread priority for the audio thread.

namespace vl::platform {

// Raises the calling thread to the highest priority the platform grants (time-critical on
// Windows; a real-time policy elsewhere when permitted). Returns whether it was raised.
bool raiseCurrentThreadToTimeCritical();

}  // namespace vl::platform
