// Platforms without an editor: the host gets no rectangle and effEditOpen fails.
#include "Editor.h"

namespace demo {

Editor::Editor(EditorHost& host) : host_(host), gestures_(host) {}
Editor::~Editor() = default;
bool Editor::open(void*) { return false; }
void Editor::close() {}
void Editor::idle() {}

}  // namespace demo
