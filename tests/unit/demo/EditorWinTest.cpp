// The demo instrument's editor on Windows, driven as a host and a user would: a parent window,
// effEditOpen, mouse messages sent to the child, effEditIdle, effEditClose.

#include <windows.h>

#include <gtest/gtest.h>

#include "KnobPanel.h"
#include "LoadedDemo.h"

using demotest::LoadedDemo;

namespace {

constexpr wchar_t kParentClass[] = L"VorlaneDemoEditorTestParent";

class ParentWindow {
public:
    ParentWindow() {
        WNDCLASSW wc{};
        wc.lpfnWndProc = &DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = kParentClass;
        RegisterClassW(&wc);  // fails harmlessly when an earlier window registered it
        handle = CreateWindowExW(0, kParentClass, L"host", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, 0, 800, 600,
                                 nullptr, nullptr, wc.hInstance, nullptr);
        // Visible, so that the editor really paints and keeps an update region.
        ShowWindow(handle, SW_SHOWNOACTIVATE);
    }
    ~ParentWindow() {
        if (IsWindow(handle)) DestroyWindow(handle);
    }
    HWND handle = nullptr;
};

HWND onlyChild(HWND parent) { return GetWindow(parent, GW_CHILD); }

void drag(HWND window, int x, int fromY, int toY) {
    SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, fromY));
    SendMessageW(window, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x, (fromY + toY) / 2));
    SendMessageW(window, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x, toY));
    SendMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(x, toY));
}

}  // namespace

TEST(DemoEditorWindows, OpensAChildOfItsRectangleThatEditsByDraggingAndClosesIt) {
    LoadedDemo demo;
    ASSERT_TRUE(demo.ok());
    ParentWindow parent;
    ASSERT_NE(parent.handle, nullptr);
    const auto rect = demo.slot.editGetRect();
    ASSERT_TRUE(rect.has_value());

    ASSERT_TRUE(demo.slot.editOpen(parent.handle));
    HWND editor = onlyChild(parent.handle);
    ASSERT_NE(editor, nullptr);
    EXPECT_NE(GetWindowLongW(editor, GWL_STYLE) & WS_CHILD, 0);
    RECT client{};
    GetClientRect(editor, &client);
    EXPECT_EQ(client.right - client.left, rect->right - rect->left);
    EXPECT_EQ(client.bottom - client.top, rect->bottom - rect->top);
    EXPECT_TRUE(RedrawWindow(editor, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW));  // draws now

    vst::AEffect& e = demo.effect();
    const float before = e.getParameter(&e, demo::kCutoff);
    const demo::KnobBox knob = demo::knobBox(demo::kCutoff);
    drag(editor, knob.centerX, knob.centerY, knob.centerY - 60);
    const float after = e.getParameter(&e, demo::kCutoff);
    EXPECT_NEAR(after, before + 60.0f / demo::kDragPixelsFullRange, 1e-5f);
    SendMessageW(editor, WM_MOUSEMOVE, 0, MAKELPARAM(knob.centerX, 0));  // button up: no effect
    EXPECT_EQ(e.getParameter(&e, demo::kCutoff), after);
    EXPECT_TRUE(RedrawWindow(editor, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW));

    // A change from the host shows at the next idle call.
    ValidateRect(editor, nullptr);
    demo.slot.editIdle();
    EXPECT_FALSE(GetUpdateRect(editor, nullptr, FALSE));
    e.setParameter(&e, demo::kVolume, 0.1f);
    demo.slot.editIdle();
    EXPECT_TRUE(GetUpdateRect(editor, nullptr, FALSE));

    demo.slot.editClose();
    EXPECT_FALSE(IsWindow(editor));
    EXPECT_EQ(onlyChild(parent.handle), nullptr);
    demo.slot.editIdle();  // harmless with the editor closed
}

TEST(DemoEditorWindows, SurvivesItsParentDyingFirstAndReopensAfterAReload) {
    {
        LoadedDemo demo;
        ASSERT_TRUE(demo.ok());
        ParentWindow parent;
        ASSERT_TRUE(demo.slot.editOpen(parent.handle));
        HWND editor = onlyChild(parent.handle);
        DestroyWindow(parent.handle);  // takes the editor with it
        EXPECT_FALSE(IsWindow(editor));
        demo.slot.editClose();
        demo.slot.editIdle();
        EXPECT_FALSE(demo.slot.editOpen(nullptr));
        EXPECT_FALSE(demo.slot.editOpen(parent.handle));  // no longer a window
    }
    // The module was closed and unloaded; loaded again, its window class is registered again.
    LoadedDemo demo;
    ASSERT_TRUE(demo.ok());
    ParentWindow parent;
    ASSERT_TRUE(demo.slot.editOpen(parent.handle));
    HWND editor = onlyChild(parent.handle);
    ASSERT_NE(editor, nullptr);
    const demo::KnobBox knob = demo::knobBox(demo::kRelease);
    vst::AEffect& e = demo.effect();
    const float before = e.getParameter(&e, demo::kRelease);
    drag(editor, knob.centerX, knob.centerY, knob.centerY + 20);
    EXPECT_NEAR(e.getParameter(&e, demo::kRelease), before - 20.0f / demo::kDragPixelsFullRange, 1e-5f);  // down
    demo.slot.editClose();
    EXPECT_FALSE(IsWindow(editor));
}
