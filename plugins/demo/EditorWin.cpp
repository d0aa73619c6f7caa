// The editor on Windows: a child window that draws the knob panel with GDI into an off-screen
// bitmap (no flicker while dragging) and turns mouse messages into knob gestures.

#include <windows.h>

#include <cmath>

#include "Editor.h"

namespace demo {

namespace {

constexpr wchar_t kClassName[] = L"VorlaneDemoSynthEditor";

constexpr COLORREF kBackground = RGB(30, 32, 38);
constexpr COLORREF kHeader = RGB(44, 47, 56);
constexpr COLORREF kDial = RGB(62, 66, 78);
constexpr COLORREF kTrack = RGB(80, 84, 96);
constexpr COLORREF kAccent = RGB(255, 152, 64);
constexpr COLORREF kText = RGB(222, 224, 230);
constexpr COLORREF kDimText = RGB(150, 154, 166);

// The dial sweeps 270 degrees, from lower left (225) clockwise to lower right (-45).
constexpr double kArcStart = 225.0;
constexpr double kArcSweep = 270.0;
constexpr int kArcSegments = 32;
constexpr double kPi = 3.14159265358979323846;

// The module's own handle, not the host executable's: the class belongs to this module.
HINSTANCE moduleInstance() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&moduleInstance), &module);
    return module;
}

// The window class is registered once per module handle and unregistered when the last
// editor object of this module goes away: a module's classes outlive FreeLibrary, and a
// stale class would point at unloaded code. Editors live on the user-interface thread only.
HINSTANCE registeredInstance = nullptr;
int editorObjects = 0;

bool registerClassOnce(HINSTANCE instance, WNDPROC procedure) {
    if (registeredInstance == instance) return true;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = procedure;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_HAND);  // knobs are grabbed
    wc.lpszClassName = kClassName;
    // Left registered by an earlier load of this module at the same address: same procedure.
    if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
    registeredInstance = instance;
    return true;
}

double valueAngle(float value) { return (kArcStart - kArcSweep * value) * kPi / 180.0; }

POINT pointOnCircle(int cx, int cy, int radius, double angle) {
    return POINT{cx + static_cast<LONG>(std::lround(radius * std::cos(angle))),
                 cy - static_cast<LONG>(std::lround(radius * std::sin(angle)))};
}

void drawArc(HDC dc, const KnobBox& box, int radius, float from, float to, COLORREF colour) {
    POINT points[kArcSegments + 1];
    for (int i = 0; i <= kArcSegments; ++i) {
        const float value = from + (to - from) * static_cast<float>(i) / kArcSegments;
        points[i] = pointOnCircle(box.centerX, box.centerY, radius, valueAngle(value));
    }
    HPEN pen = CreatePen(PS_SOLID, 4, colour);
    HGDIOBJ old = SelectObject(dc, pen);
    Polyline(dc, points, kArcSegments + 1);
    SelectObject(dc, old);
    DeleteObject(pen);
}

void drawText(HDC dc, const char* text, int left, int top, int right, COLORREF colour, UINT align) {
    RECT r{left, top, right, top + 16};
    SetTextColor(dc, colour);
    DrawTextA(dc, text, -1, &r, align | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
}

void drawKnob(HDC dc, int index, float value, bool active) {
    const KnobBox box = knobBox(index);
    drawText(dc, paramName(index), box.left, box.nameTop, box.right, kText, DT_CENTER);

    const int ring = box.radius + 5;
    drawArc(dc, box, ring, 0.0f, 1.0f, kTrack);
    if (value > 0.0f) drawArc(dc, box, ring, 0.0f, value, kAccent);

    HBRUSH dialBrush = CreateSolidBrush(active ? kTrack : kDial);
    HGDIOBJ oldBrush = SelectObject(dc, dialBrush);
    HGDIOBJ oldPen = SelectObject(dc, GetStockObject(NULL_PEN));
    Ellipse(dc, box.centerX - box.radius, box.centerY - box.radius, box.centerX + box.radius + 1,
            box.centerY + box.radius + 1);
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
    DeleteObject(dialBrush);

    HPEN pointer = CreatePen(PS_SOLID, 3, kText);
    oldPen = SelectObject(dc, pointer);
    const POINT inner = pointOnCircle(box.centerX, box.centerY, box.radius / 3, valueAngle(value));
    const POINT outer = pointOnCircle(box.centerX, box.centerY, box.radius - 4, valueAngle(value));
    MoveToEx(dc, inner.x, inner.y, nullptr);
    LineTo(dc, outer.x, outer.y);
    SelectObject(dc, oldPen);
    DeleteObject(pointer);

    ParamText text{};
    formatParam(index, value, text);
    char line[40];
    wsprintfA(line, "%s %s", text.value, text.label);
    drawText(dc, line, box.left, box.valueTop, box.right, active ? kAccent : kDimText, DT_CENTER);
}

void fill(HDC dc, const RECT& r, COLORREF colour) {
    HBRUSH brush = CreateSolidBrush(colour);
    FillRect(dc, &r, brush);
    DeleteObject(brush);
}

}  // namespace

struct EditorWindow {
    static Editor* of(HWND window) { return reinterpret_cast<Editor*>(GetWindowLongPtrW(window, GWLP_USERDATA)); }

    static void draw(Editor& editor, HDC dc, int width, int height) {
        fill(dc, RECT{0, 0, width, height}, kBackground);
        fill(dc, RECT{0, 0, width, kHeaderHeight - 8}, kHeader);
        SetBkMode(dc, TRANSPARENT);
        HGDIOBJ oldFont = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
        drawText(dc, "VORLANE DEMO SYNTH", kPanelMargin, 8, width - kPanelMargin, kText, DT_LEFT);
        for (int i = 0; i < kNumParams; ++i) {
            const float value = editor.host_.parameter(i);
            editor.shown_[static_cast<size_t>(i)] = value;
            drawKnob(dc, i, value, editor.gestures_.dragging() == i);
        }
        SelectObject(dc, oldFont);
    }

    static void paint(Editor& editor, HWND window) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        RECT client;
        GetClientRect(window, &client);
        const int width = client.right - client.left, height = client.bottom - client.top;
        HDC memory = CreateCompatibleDC(dc);
        HBITMAP bitmap = CreateCompatibleBitmap(dc, width, height);
        if (memory && bitmap) {
            HGDIOBJ old = SelectObject(memory, bitmap);
            draw(editor, memory, width, height);
            BitBlt(dc, 0, 0, width, height, memory, 0, 0, SRCCOPY);
            SelectObject(memory, old);
        }
        if (bitmap) DeleteObject(bitmap);
        if (memory) DeleteDC(memory);
        EndPaint(window, &ps);
    }

    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_NCCREATE) {
            auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
            SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        }
        Editor* editor = of(window);
        if (!editor) return DefWindowProcW(window, message, wParam, lParam);

        const int x = static_cast<short>(LOWORD(lParam));
        const int y = static_cast<short>(HIWORD(lParam));
        switch (message) {
            case WM_ERASEBKGND:
                return 1;  // the whole client area is painted from the bitmap
            case WM_PAINT:
                paint(*editor, window);
                return 0;
            case WM_LBUTTONDOWN:
                if (editor->gestures_.press(x, y)) {
                    SetCapture(window);
                    InvalidateRect(window, nullptr, FALSE);
                }
                return 0;
            case WM_MOUSEMOVE:
                if ((wParam & MK_LBUTTON) && editor->gestures_.move(y)) InvalidateRect(window, nullptr, FALSE);
                return 0;
            case WM_LBUTTONUP:
                editor->gestures_.release();
                if (GetCapture() == window) ReleaseCapture();
                InvalidateRect(window, nullptr, FALSE);
                return 0;
            case WM_CAPTURECHANGED:
                editor->gestures_.release();
                return 0;
            case WM_LBUTTONDBLCLK:
                if (editor->gestures_.resetToDefault(x, y)) InvalidateRect(window, nullptr, FALSE);
                return 0;
            case WM_NCDESTROY:
                // Also reached when the host destroys its window first: forget the handle.
                editor->gestures_.release();
                editor->window_ = nullptr;
                SetWindowLongPtrW(window, GWLP_USERDATA, 0);
                break;
            default:
                break;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }
};

Editor::Editor(EditorHost& host) : host_(host), gestures_(host) { ++editorObjects; }

Editor::~Editor() {
    close();
    if (--editorObjects == 0 && registeredInstance) {
        UnregisterClassW(kClassName, registeredInstance);
        registeredInstance = nullptr;
    }
}

bool Editor::open(void* parent) {
    if (!parent || !IsWindow(static_cast<HWND>(parent))) return false;
    close();  // a second open without a close moves the editor to the new parent
    HINSTANCE instance = moduleInstance();
    if (!registerClassOnce(instance, &EditorWindow::procedure)) return false;
    HWND window = CreateWindowExW(0, kClassName, L"Vorlane Demo Synth", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0,
                                  0, kEditorWidth, kEditorHeight, static_cast<HWND>(parent), nullptr, instance, this);
    window_ = window;
    return window != nullptr;
}

void Editor::close() {
    if (window_) DestroyWindow(static_cast<HWND>(window_));
    window_ = nullptr;
}

void Editor::idle() {
    if (!window_) return;
    for (int i = 0; i < kNumParams; ++i) {
        if (host_.parameter(i) != shown_[static_cast<size_t>(i)]) {
            InvalidateRect(static_cast<HWND>(window_), nullptr, FALSE);
            return;
        }
    }
}

}  // namespace demo
