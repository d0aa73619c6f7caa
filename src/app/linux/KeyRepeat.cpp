#include "app/linux/KeyRepeat.h"

namespace vl::linuxapp {

bool KeyRepeatFilter::isHeld(int key) const {
    for (int i = 0; i < heldCount; ++i)
        if (held[i] == key) return true;
    return false;
}

void KeyRepeatFilter::setHeld(int key, bool on) {
    for (int i = 0; i < heldCount; ++i) {
        if (held[i] != key) continue;
        if (!on) held[i] = held[--heldCount];
        return;
    }
    if (on && heldCount < kMaxHeld) held[heldCount++] = key;
}

KeyRepeatFilter::PressAnswer KeyRepeatFilter::press(int key, unsigned long keyTime, bool flagged) {
    PressAnswer answer;
    if (pending && pending->release.key == key) {
        // The repeat's press comes at its release's time (a millisecond of slack).
        const bool repeat = flagged || (keyTime >= pending->time && keyTime - pending->time <= 1);
        if (repeat) {
            pending.reset();
            return answer;
        }
        answer.before = due();
    } else if (pending) {
        answer.before = due();
    }
    // A press of a key that is still down: the X server repeats without releases when the
    // client asked for detectable auto-repeat.
    if (flagged || isHeld(key)) return answer;
    setHeld(key, true);
    answer.handle = true;
    return answer;
}

std::optional<KeyRepeatFilter::Release> KeyRepeatFilter::release(int key, int modifiers, unsigned long keyTime,
                                                                 bool flagged) {
    if (flagged) return std::nullopt;
    std::optional<Release> before;
    if (pending && pending->release.key != key) before = due();
    pending = Pending{{key, modifiers}, keyTime};
    return before;
}

std::optional<KeyRepeatFilter::Release> KeyRepeatFilter::due() {
    if (!pending) return std::nullopt;
    const Release release = pending->release;
    pending.reset();
    setHeld(release.key, false);
    return release;
}

}  // namespace vl::linuxapp
