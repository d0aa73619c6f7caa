#include "app/linux/EditorKeys.h"

#include <QApplication>
#include <QGuiApplication>
#include <QTimer>
#include <QWindow>
#include <QWidget>
#include <qguiapplication_platform.h>
#include <xcb/xcb.h>

#include <cstdlib>

namespace vl::linuxapp {

namespace {

xcb_connection_t* x11Connection() {
    auto* x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

}  // namespace

EditorKeyFocus::EditorKeyFocus(QWidget* window) : window(window), proxy(new QWidget(window)) {
    proxy->setAttribute(Qt::WA_NativeWindow);
    proxy->setFocusPolicy(Qt::NoFocus);
    proxy->setGeometry(0, 0, 1, 1);
    proxy->show();
    proxy->lower();
    // The focus given back to the main window (a click on it, a window in front closed) moves
    // on at once, not only at the next tick: a key typed right after would reach the editor.
    QObject::connect(qApp, &QGuiApplication::focusWindowChanged, proxy, [this](QWindow* now) {
        if (now && now == this->window->windowHandle()) QTimer::singleShot(0, proxy, [this] { keep(); });
    });
}

bool EditorKeyFocus::keep() {
    xcb_connection_t* connection = x11Connection();
    if (!connection || !window->isActiveWindow() || QApplication::activeModalWidget() ||
        QApplication::activePopupWidget())
        return false;
    const auto top = static_cast<xcb_window_t>(window->winId());
    const auto target = static_cast<xcb_window_t>(proxy->winId());
    xcb_get_input_focus_reply_t* focus = xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr);
    if (!focus) return false;
    const bool onMainWindow = focus->focus == top;
    std::free(focus);
    if (!onMainWindow) return false;
    xcb_set_input_focus(connection, XCB_INPUT_FOCUS_PARENT, target, XCB_CURRENT_TIME);
    xcb_flush(connection);
    return true;
}

}  // namespace vl::linuxapp
