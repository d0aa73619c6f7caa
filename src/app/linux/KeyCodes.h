#pragma once
// The window's keys in the code the host's key rules speak (Windows virtual-key codes), so
// that the Linux window routes and translates keys by the very rules of the Windows one.

namespace vl::linuxapp {

// The virtual-key code for a Qt key (Qt::Key value); 0 for a key the rules do not know.
int virtualKeyOfQtKey(int qtKey);

}  // namespace vl::linuxapp
