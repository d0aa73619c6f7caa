#pragma once
// The plug-in's editor window. On Windows a child window of the host's window drawn with GDI
// (EditorWin.cpp); elsewhere there is none (EditorNone.cpp) and the host is told so.

#include "KnobPanel.h"
#include "vst/VstAbi.h"

namespace demo {

class Editor {
public:
#if defined(_WIN32)
    static constexpr bool kAvailable = true;
#else
    static constexpr bool kAvailable = false;
#endif

    explicit Editor(EditorHost& host);
    ~Editor();
    Editor(const Editor&) = delete;
    Editor& operator=(const Editor&) = delete;

    // The fixed editor size, or null where there is no editor.
    const vst::ERect* rect() const { return kAvailable ? &rect_ : nullptr; }
    // Creates the window inside parent (a window handle); false where that is impossible.
    bool open(void* parent);
    void close();
    // Redraws when a parameter changed behind the editor's back (host automation, a chunk).
    void idle();
    bool isOpen() const { return window_ != nullptr; }

private:
    friend struct EditorWindow;  // the window procedure

    EditorHost& host_;
    KnobGestures gestures_;
    vst::ERect rect_{0, 0, static_cast<vst::int16>(kEditorHeight), static_cast<vst::int16>(kEditorWidth)};
    void* window_ = nullptr;
    ParamValues shown_{};  // values as last drawn
};

}  // namespace demo
