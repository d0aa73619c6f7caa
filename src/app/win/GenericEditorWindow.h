#pragma once
// GenericEditorWindow: the host's own editor for a plug-in without one, a child of the editor
// window in the editor's place. The program list on top, then a row per parameter: its name,
// a trackbar and the plug-in's text for the value. Only the rows that fit are made (a pool of
// controls bound to the rows shown), so a plug-in with thousands of parameters scrolls through
// the same few dozen controls. The rules are GenericEditorModel's.

#include <windows.h>

#include <memory>

#include "app/AppRules.h"
#include "dialogs/models/GenericEditorModel.h"

namespace vl::app {

constexpr wchar_t kGenericEditorClass[] = L"VorlaneGenericEditor";
// Control IDs: the program list, and per shown row (0 at the top) its name, trackbar and text.
constexpr int kGenericProgramsId = 900;
constexpr int kGenericFirstRowId = 1000;
constexpr int genericNameId(int shownRow) { return kGenericFirstRowId + 3 * shownRow; }
constexpr int genericSliderId(int shownRow) { return kGenericFirstRowId + 3 * shownRow + 1; }
constexpr int genericValueId(int shownRow) { return kGenericFirstRowId + 3 * shownRow + 2; }

// The extent the generic editor takes for this plug-in.
EditorExtent genericEditorExtent(PluginSlot& slot);

class GenericEditorWindow {
public:
    // Creates the window at the top left of parent, at genericEditorExtent; throws std::runtime_error when
    // the window class or the window cannot be made.
    GenericEditorWindow(PluginSlot& slot, BetweenBlocks between, HWND parent);
    ~GenericEditorWindow();
    GenericEditorWindow(const GenericEditorWindow&) = delete;
    GenericEditorWindow& operator=(const GenericEditorWindow&) = delete;

    HWND hwnd() const { return hwnd_; }
    // From the editor window's timer: shows what changed in the plug-in; the programs are read
    // at the first call, once the engine is linked.
    void refresh();

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void createControls();
    void layout();
    void showRows();  // binds every shown control to its row
    void showRow(int shown);
    void fillPrograms();
    void scrollTo(int first);
    void onSlider(HWND slider);

    std::unique_ptr<GenericEditorModel> model_;
    BetweenBlocks between_;
    HWND hwnd_ = nullptr;
    HWND programs_ = nullptr;
    HWND programLabel_ = nullptr;
    HFONT font_ = nullptr;
    int shownRows_ = 0;  // controls made: the rows that fit
    int first_ = 0;      // the row shown at the top
};

}  // namespace vl::app
