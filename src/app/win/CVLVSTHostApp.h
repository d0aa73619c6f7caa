#pragma once
// The application object: initialises the common controls, runs the main window modally and
// ends the application when it returns.

namespace vl::app {

class CVLVSTHostApp {
public:
    CVLVSTHostApp() = default;
    ~CVLVSTHostApp() = default;
    // The application's start-up; answers the process exit code.
    int InitInstance();
};

}  // namespace vl::app
