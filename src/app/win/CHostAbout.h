#pragma once
// The host's own About box, shown for plug-ins without an about screen of their own.

#include "app/win/AboutIds.h"
#include "platform/win/Dialog.h"

namespace vl::app {

class CHostAbout : public platform::Dialog {
public:
    CHostAbout() : Dialog(IDD_ABOUTBOX) {}
};

}  // namespace vl::app
