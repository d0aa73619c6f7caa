#pragma once
// The host's own About box, shown for plug-ins without an about screen of their own.

#include "AboutIds.h"
#include "Dialog.h"

namespace vl::app {

class CHostAbout : public Dialog {
public:
    CHostAbout() : Dialog(IDD_ABOUTBOX) {}
};

}  // namespace vl::app
