// The window procedure of the script's GUI windows and the lookups of the window and control tables.
//
// Each message goes to the events layer first (events, message handlers of the script); what it leaves
// is handled here: the clean-up on destroy, docking on resize, painting of graphic controls, colours of
// controls and owner-drawn buttons, cursors and help requests; everything else gets default dialog
// handling, which also gives the window keyboard navigation between its controls.
#include "gui/gui.h"
#include "gui/gui_events.h"

namespace tx {

GuiState& gui() {
    static GuiState s;
    return s;
}

GuiWindow* guiWindowAt(int index) {
    GuiState& g = gui();
    if (index < 0 || index >= static_cast<int>(g.windows.size())) return nullptr;
    return g.windows[static_cast<size_t>(index)].get();
}

GuiWindow* guiWindow(HWND hwnd) {
    if (!hwnd) return nullptr;
    GuiState& g = gui();
    // The user-data slot holds index + 1 (0 means none), checked against the table in case the handle
    // belongs to somebody else's window.
    const LONG_PTR slot = GetWindowLongPtrW(hwnd, GWLP_USERDATA);
    if (slot > 0 && slot <= static_cast<LONG_PTR>(g.windows.size())) {
        GuiWindow* w = g.windows[static_cast<size_t>(slot - 1)].get();
        if (w && w->hwnd == hwnd) return w;
    }
    for (auto& w : g.windows)
        if (w && w->hwnd == hwnd) return w.get();
    return nullptr;
}

GuiWindow* guiCurrentWindow() { return guiWindowAt(gui().current); }

GuiControl* guiControl(int id) {
    GuiState& g = gui();
    if (id < 0) id = g.lastCtrl;
    if (id < kGuiFirstId || id >= static_cast<int>(g.controls.size())) return nullptr;
    return g.controls[static_cast<size_t>(id)].get();
}

GuiControl* guiControlFromHwnd(HWND hwnd) {
    if (!hwnd) return nullptr;
    const int id = GetDlgCtrlID(hwnd);
    GuiControl* c = guiControl(id > 0 ? id : 0);
    if (c && c->hwnd == hwnd) return c;
    return nullptr;
}

GuiWindow* guiControlWindow(const GuiControl& c) { return guiWindowAt(c.win); }

LRESULT CALLBACK guiWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    GuiWindow* w = guiWindow(hwnd);
    if (!w) return DefDlgProcW(hwnd, msg, wp, lp);
    LRESULT result = 0;
    if (guiEventsMessage(*w, msg, wp, lp, result)) return result;
    return DefDlgProcW(hwnd, msg, wp, lp);
}

}  // namespace tx
