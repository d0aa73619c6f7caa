#include "app/win/CVLVSTHostApp.h"

#include <windows.h>
#include <commctrl.h>

#include <exception>

#include "app/win/CVLVSTHostDlg.h"
#include "platform/StartupTrace.h"
#include "platform/win/Com.h"

namespace vl::app {

int CVLVSTHostApp::InitInstance() {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES | ICC_USEREX_CLASSES | ICC_LINK_CLASS;
    InitCommonControlsEx(&controls);
    // The audio back ends enumerate their devices through COM on this thread.
    platform::ComThreadScope com;
    platform::startupTrace().stamp("com-ready");

    try {
        CVLVSTHostDlg mainWindow;
        platform::Dialog::SetMainWindow(&mainWindow);
        mainWindow.RunModal(nullptr);
        platform::Dialog::SetMainWindow(nullptr);
    } catch (const std::exception&) {
        MessageBoxW(nullptr, L"The application could not create its windows.", L"Error", MB_OK | MB_ICONERROR);
        return 1;
    }
    return 0;
}

}  // namespace vl::app

namespace {
vl::app::CVLVSTHostApp theApp;
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    if (vl::platform::beginStartupTraceFromEnvironment()) vl::platform::startupTrace().stamp("winmain");
    const int code = theApp.InitInstance();
    // A run that ended before its first block still leaves the stamps it reached.
    if (vl::platform::startupTrace().active()) vl::platform::startupTrace().write();
    return code;
}
