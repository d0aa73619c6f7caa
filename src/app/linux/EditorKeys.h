#pragma once
// The keys of the main window while the pointer is over the plug-in's editor.
//
// X delivers a key to the window under the pointer when that window lies inside the window
// that has the input focus: with the focus on the main window, a key typed over the editor
// goes to the editor's own window (another X client's), and the host never sees it (no Ctrl
// shortcut, no Alt+F, no computer-keyboard note). The host therefore keeps the focus in a
// window of its own beside the editor (not above it): every key then comes to the host, which
// hands it to the editor through effEditKeyDown first and takes for itself what the editor
// leaves, as the Windows program does.
//
// Only the focus the toolkit gave the main window is moved; a focus the plug-in took itself
// (a text field of its own) stays where it is.

class QWidget;

namespace vl::linuxapp {

class EditorKeyFocus {
public:
    // window: the main window; the focus window is made inside it, behind its other children.
    explicit EditorKeyFocus(QWidget* window);
    // At each idle tick: with the main window active and nothing modal or popped up in front,
    // a focus on the main window itself moves to the focus window. Answers whether it moved.
    bool keep();
    QWidget* focusWindow() const { return proxy; }

private:
    QWidget* window;
    QWidget* proxy;
};

}  // namespace vl::linuxapp
