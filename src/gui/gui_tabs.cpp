// Tab pages of a GUI window. Controls created while a tab item is open belong to its page; only the
// controls of the shown page are visible. Showing a page hides the controls of the page shown before
// (disabling its enabled radios, so the dialog manager's arrow keys do not reach hidden ones) and shows
// those of the new page that the script has not hidden.
#include "gui/gui.h"

namespace tx {

void guiShowTabPage(GuiWindow& w, int page) {
    if (!w.tab || page < 0) return;
    if (page != w.tabShown) {
        for (auto& c : gui().controls) {
            if (!c || c->win != w.index || !c->hwnd || c->tabPage == kGuiNoPage) continue;
            if (c->kind == CtrlKind::TabItem || c->kind == CtrlKind::TreeViewItem || c->kind == CtrlKind::ListViewItem)
                continue;
            if (c->tabPage == w.tabShown) {
                ShowWindow(c->hwnd, SW_HIDE);
                if (c->kind == CtrlKind::Radio && (c->state & kGuiEnable)) EnableWindow(c->hwnd, FALSE);
            }
        }
        for (auto& c : gui().controls) {
            if (!c || c->win != w.index || !c->hwnd || c->tabPage != page) continue;
            if (c->kind == CtrlKind::TabItem || c->kind == CtrlKind::TreeViewItem || c->kind == CtrlKind::ListViewItem)
                continue;
            if (!(c->state & kGuiHide)) ShowWindow(c->hwnd, SW_SHOWNOACTIVATE);
            if (c->kind == CtrlKind::Radio && (c->state & kGuiEnable)) EnableWindow(c->hwnd, TRUE);
        }
        w.tabShown = page;
    }
    if (SendMessageW(w.tab, TCM_GETCURSEL, 0, 0) != page) SendMessageW(w.tab, TCM_SETCURSEL, static_cast<WPARAM>(page), 0);
}

}  // namespace tx
