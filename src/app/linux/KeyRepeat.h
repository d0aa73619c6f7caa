#pragma once
// X repeats a held key as a release and a press with the same server time; Qt marks such a
// pair as auto-repeated only when the press is already queued as the release is read, which
// a busy machine often misses. The filter holds every release back briefly: a press of the
// same key at the release's time makes the pair a repeat, and both are dropped.

#include <optional>

namespace vl::linuxapp {

class KeyRepeatFilter {
public:
    struct Release {
        int key = 0;        // the window's key code
        int modifiers = 0;  // as they were at the release
    };
    // How long a release waits for a repeat's press, in milliseconds.
    static constexpr int kHoldMs = 30;

    struct PressAnswer {
        bool handle = false;              // the press is a real one
        std::optional<Release> before;    // a held-back release of another key, to handle first
    };
    // keyTime is the X server time of the event (milliseconds); flagged is Qt's own verdict.
    PressAnswer press(int key, unsigned long keyTime, bool flagged);
    // The release is held back (handle it when due() answers it), except one Qt flagged as a
    // repeat (dropped). A release of another key held back before is answered to handle now.
    std::optional<Release> release(int key, int modifiers, unsigned long keyTime, bool flagged);
    // The held-back release, once no press came for it.
    std::optional<Release> due();
    bool holding() const { return pending.has_value(); }

private:
    struct Pending {
        Release release;
        unsigned long time = 0;
    };
    std::optional<Pending> pending;
    static constexpr int kMaxHeld = 16;
    int held[kMaxHeld] = {};
    int heldCount = 0;
    bool isHeld(int key) const;
    void setHeld(int key, bool on);
};

}  // namespace vl::linuxapp
