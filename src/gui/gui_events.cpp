// GUI events: the event queue, GUIGETMSG, on-event mode, the script's message handlers (GUIREGISTERMSG),
// the system events of GUI windows and the notifications of their controls.
//
// The window procedure (gui_window.cpp) offers every message here first. A registered handler gets the
// first look; then commands, notifications, system commands, mouse buttons and file drops become entries of
// one first-in-first-out queue shared by all GUI windows. GUIGETMSG takes them in message mode; in on-event
// mode the run loop's GUI step calls the bound function of one event at a time, with @GUI_CTRLID,
// @GUI_WINHANDLE and @GUI_CTRLHANDLE describing it. Everything runs on the interpreter's thread.
#include "gui/gui_events.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <deque>
#include <vector>

#include "core/engine.h"
#include "core/errors.h"
#include "core/platform.h"
#include "env/macro_feeds.h"
#include "env/options.h"
#include "gui/gui.h"
#include "host/runloop.h"

namespace tx {

namespace {

// Window event ids.
enum : int32_t {
    kEvClose = -3, kEvMinimize = -4, kEvRestore = -5, kEvMaximize = -6, kEvPrimaryDown = -7,
    kEvPrimaryUp = -8, kEvSecondaryDown = -9, kEvSecondaryUp = -10, kEvMouseMove = -11, kEvResized = -12,
    kEvDropped = -13,
};

constexpr uint32_t kExParentDrag = 0x100000;  // a label, picture or group that drags its window

struct GuiEvent {
    int32_t id = 0;
    SString function;  // upper case; empty when none is bound
    HWND win = nullptr;
    HWND ctrl = nullptr;
    int32_t x = 0, y = 0;
};

struct MsgHandler {
    UINT msg;
    SString function;  // upper case
};

struct ListDrag {
    HWND win = nullptr;   // the GUI window that holds the capture
    HWND list = nullptr;  // the source list view
    int sourceId = 0;
    int item = -1;
    HIMAGELIST image = nullptr;
};

struct EventsState {
    std::deque<GuiEvent> queue;
    std::vector<MsgHandler> handlers;  // registration order, one per message id
    std::vector<UINT> handling;        // messages whose handler is running (innermost last)
    bool eventFunctionRunning = false;
    uint32_t emptyReads = 0;           // successive GUIGETMSG calls that found nothing
    HWND sizing = nullptr;             // the window inside its move-or-size loop
    HWND dateDropped = nullptr;        // the date picker whose drop-down is open
    bool dateChanged = false;          // it changed while open
    ListDrag drag;
};

void pollMouse(GuiWindow& w, int mode, int primaryState, int secondaryState);

EventsState& ev() {
    static EventsState s;
    return s;
}

SString upperName(const SString& s) {
    SString u = s;
    if (!u.empty()) platform::upperCase(u.mutableData(), u.size());
    return u;
}

// A function argument of the binding built-ins: "" unbinds, otherwise it must name a user function.
bool functionArgument(Engine& e, const SString& given, SString& upper) {
    upper = upperName(given);
    return upper.empty() || e.findUserFunction(upper.view()) >= 0;
}

void queueEvent(int32_t id, const SString& function, HWND win, HWND ctrl, POINT pt) {
    GuiEvent e;
    e.id = id;
    e.function = function;
    e.win = win;
    e.ctrl = ctrl;
    e.x = pt.x;
    e.y = pt.y;
    ev().queue.push_back(std::move(e));
}

// Window events carry the mouse position only when they are mouse events.
void raiseWindowEvent(GuiWindow& w, int32_t id) {
    const bool mouse = id >= kEvMouseMove && id <= kEvPrimaryDown;
    queueEvent(id, w.onEvent[id + 13], w.hwnd, nullptr, mouse ? w.mouseClient : POINT{0, 0});
}

bool visibleWindow(const GuiWindow& w) { return w.hwnd && !w.destroying && IsWindowVisible(w.hwnd); }

// Queues the event of an existing control (the last part of the control event rule).
void queueControlEvent(GuiControl& c, GuiWindow& w) {
    guiPollMouse(w, 0);
    queueEvent(c.id, c.onEvent, w.hwnd, c.hwnd, w.mouseClient);
    if (c.tip.h) SendMessageW(c.tip.h, TTM_POP, 0, 0);
}

// The window's remembered changed edit raises its event now (and is forgotten).
void flushChangedEdit(GuiWindow& w) {
    const int id = w.changedEdit;
    if (!id) return;
    w.changedEdit = 0;
    GuiControl* c = guiControl(id);
    if (c && c->win == w.index) queueControlEvent(*c, w);
}

void publishDrop(int dropId, int dragId, bool setDrag, const SString& file) {
    Engine& e = engine();
    publishEventMacro(e, u"GUI_DROPID", Variant::int32(dropId));
    if (setDrag) publishEventMacro(e, u"GUI_DRAGID", Variant::int32(dragId));
    publishEventMacro(e, u"GUI_DRAGFILE", Variant::string(file));
}

// ---- message handlers ------------------------------------------------------------------------------------

// Calls the script's handler for msg, if one is registered and not already handling it. True when the
// handler decided the result; false when processing goes on (no handler, no explicit answer, or
// "GUI_RUNDEFMSG").
bool runHandler(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
    EventsState& s = ev();
    if (s.handlers.empty()) return false;
    auto found = std::find_if(s.handlers.begin(), s.handlers.end(), [&](const MsgHandler& h) { return h.msg == msg; });
    if (found == s.handlers.end()) return false;
    if (std::find(s.handling.begin(), s.handling.end(), msg) != s.handling.end()) return false;
    RunState& rs = runState();
    if (rs.stopping) return false;
    Engine& e = engine();
    const int index = e.findUserFunction(found->function.view());
    if (index < 0) return false;
    const int declared = e.userFunction(index).maxArgs;
    if (declared > 4) return false;

    Variant args[4] = {Variant::ptr(reinterpret_cast<uintptr_t>(hwnd)), Variant::int32(static_cast<int32_t>(msg)),
                       Variant::ptr(static_cast<uintptr_t>(wp)), Variant::ptr(static_cast<uintptr_t>(lp))};
    // The interrupted code keeps its @error and @extended. While the handler runs, the queue is pumped only
    // by waits: the handler runs inside the window procedure, and dispatching other messages from its
    // lines would re-enter whatever sent this one.
    Frame& f = e.frame();
    const int32_t error = f.error;
    const bool errorByScript = f.errorByScript;
    Variant extended = f.extended;
    const bool extendedByScript = f.extendedByScript;
    const uint8_t objectCall = rs.objectCall;
    rs.objectCall = 1;
    s.handling.push_back(msg);
    Variant r;
    const bool ok = e.callUser(index, args, declared, r);
    const bool answered = e.lastCallReturnedValue;
    s.handling.pop_back();
    rs.objectCall = objectCall;
    Frame& g = e.frame();
    g.error = error;
    g.errorByScript = errorByScript;
    g.extended = std::move(extended);
    g.extendedByScript = extendedByScript;

    if (!guiWindow(hwnd)) {  // the handler deleted the window
        result = 0;
        return true;
    }
    if (!ok || !answered) return false;
    if (r.isString() && equalsNoCaseAscii(r.rawString().view(), "GUI_RUNDEFMSG")) return false;
    result = static_cast<LRESULT>(r.toInt64());
    return true;
}

// ---- commands ----------------------------------------------------------------------------------------------

// A menu item of radio type takes the radio mark from the run of adjacent radio items around it.
void moveMenuRadio(const GuiControl& item) {
    HMENU menu = item.menu;
    if (!menu) return;
    const int count = GetMenuItemCount(menu);
    int pos = -1;
    for (int i = 0; i < count; ++i)
        if (static_cast<int>(GetMenuItemID(menu, i)) == item.id) pos = i;
    if (pos < 0) return;
    auto isRadio = [&](int i) {
        const UINT id = GetMenuItemID(menu, i);
        if (id == 0xFFFFFFFFu) return false;
        const GuiControl* c = guiControl(static_cast<int>(id));
        return c && c->kind == CtrlKind::MenuItem && c->radioItem;
    };
    int first = pos, last = pos;
    while (first > 0 && isRadio(first - 1)) --first;
    while (last + 1 < count && isRadio(last + 1)) ++last;
    CheckMenuRadioItem(menu, static_cast<UINT>(first), static_cast<UINT>(last), static_cast<UINT>(pos), MF_BYPOSITION);
}

bool onCommand(GuiWindow& w, WPARAM wp, LPARAM lp) {
    const int code = HIWORD(wp);
    const int cmd = LOWORD(wp);
    HWND from = reinterpret_cast<HWND>(lp);
    if (cmd == IDCANCEL) {
        // ESC through the dialog manager.
        if (options().guiCloseOnEsc) PostMessageW(w.hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
        return true;
    }
    if (cmd == IDOK) {
        // Enter: an input whose text changed reports it now, through a command of its own that follows.
        GuiControl* edit = w.changedEdit ? guiControl(w.changedEdit) : nullptr;
        if (edit && edit->hwnd && edit->hwnd == GetFocus()) {
            w.changedEdit = 0;
            if (code == 0 && !from) PostMessageW(w.hwnd, WM_COMMAND, MAKEWPARAM(edit->id, 0), 0);
        }
        return true;
    }
    // From a control: its id; from a menu or an accelerator: the command id itself.
    int id = from ? GetDlgCtrlID(from) : cmd;
    GuiControl* c = id >= kGuiFirstId ? guiControl(id) : nullptr;
    if (!c) {
        flushChangedEdit(w);
        return false;
    }
    if (c->kind == CtrlKind::MenuItem && c->radioItem) moveMenuRadio(*c);
    // A command without a control handle comes from a menu or an accelerator (code 1): for the control it
    // names it is a click, so an accelerator bound to a button or an input fires it.
    guiControlEvent(id, from ? code : 0);
    return true;
}

// ---- notifications -------------------------------------------------------------------------------------------

GuiControl* treeItemControl(int treeId, HTREEITEM h) {
    if (!h) return nullptr;
    for (auto& c : gui().controls)
        if (c && c->kind == CtrlKind::TreeViewItem && c->treeItem == h && c->parentId == treeId) return c.get();
    return nullptr;
}

// The record of list-view item `index`: items carry their control id as item data.
GuiControl* listItemControl(const GuiControl& list, int index) {
    if (index < 0 || !list.hwnd) return nullptr;
    LVITEMW it{};
    it.mask = LVIF_PARAM;
    it.iItem = index;
    if (!SendMessageW(list.hwnd, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&it))) return nullptr;
    GuiControl* c = it.lParam >= kGuiFirstId && it.lParam <= kGuiMaxId ? guiControl(static_cast<int>(it.lParam)) : nullptr;
    if (c && c->kind == CtrlKind::ListViewItem && c->parentId == list.id) return c;
    return nullptr;
}

// Shows the context menu `menuId` at the cursor; false when there is none.
bool showContextMenu(GuiWindow& w, int menuId) {
    GuiControl* m = menuId ? guiControl(menuId) : nullptr;
    if (!m || m->kind != CtrlKind::ContextMenu || !m->menu) return false;
    POINT pt;
    GetCursorPos(&pt);
    SetForegroundWindow(w.hwnd);
    TrackPopupMenu(m->menu, TPM_LEFTALIGN | TPM_RIGHTBUTTON, pt.x, pt.y, 0, w.hwnd, nullptr);
    PostMessageW(w.hwnd, WM_NULL, 0, 0);
    return true;
}

// The script's sort of a list view: its function compares two items by their ids.
struct SortContext {
    int index;
    int declared;
    HWND list;
    int column;
};

int CALLBACK compareItems(LPARAM a, LPARAM b, LPARAM ctx) {
    const SortContext& s = *reinterpret_cast<const SortContext*>(ctx);
    RunState& rs = runState();
    if (rs.stopping) return 0;
    Variant args[4] = {Variant::ptr(reinterpret_cast<uintptr_t>(s.list)), Variant::int32(static_cast<int32_t>(a)),
                       Variant::int32(static_cast<int32_t>(b)), Variant::int32(s.column)};
    Variant r;
    if (!engine().callUser(s.index, args, s.declared, r)) return 0;
    return r.toInt32();
}

void sortListView(GuiControl& list, int column) {
    Engine& e = engine();
    const int index = list.lvSortFunction.empty() ? -1 : e.findUserFunction(list.lvSortFunction.view());
    if (index < 0) return;
    const int declared = e.userFunction(index).maxArgs;
    if (declared > 4) return;
    SortContext ctx{index, declared, list.hwnd, column};
    RunState& rs = runState();
    const uint8_t objectCall = rs.objectCall;
    rs.objectCall = 1;
    Frame& f = e.frame();
    const int32_t error = f.error;
    Variant extended = f.extended;
    SendMessageW(list.hwnd, LVM_SORTITEMS, reinterpret_cast<WPARAM>(&ctx), reinterpret_cast<LPARAM>(compareItems));
    Frame& g = e.frame();
    g.error = error;
    g.extended = std::move(extended);
    rs.objectCall = objectCall;
    list.lvSortState = list.lvSortState ? 0 : 1;
}

void beginListDrag(GuiWindow& w, GuiControl& list, const NMLISTVIEW& nm) {
    ListDrag& d = ev().drag;
    if (d.win) return;
    publishEventMacro(engine(), u"GUI_DRAGID", Variant::int32(list.id));
    POINT origin{};
    d.image = reinterpret_cast<HIMAGELIST>(
        SendMessageW(list.hwnd, LVM_CREATEDRAGIMAGE, static_cast<WPARAM>(nm.iItem), reinterpret_cast<LPARAM>(&origin)));
    d.win = w.hwnd;
    d.list = list.hwnd;
    d.sourceId = list.id;
    d.item = nm.iItem;
    SetCapture(w.hwnd);
    if (d.image) {
        POINT pt;
        GetCursorPos(&pt);
        ScreenToClient(w.hwnd, &pt);
        ImageList_BeginDrag(d.image, 0, 0, 0);
        ImageList_DragEnter(w.hwnd, pt.x, pt.y);
    }
}

void endListDrag(GuiWindow& w) {
    ListDrag d = ev().drag;
    ev().drag = ListDrag{};
    if (d.image) {
        ImageList_DragLeave(d.win);
        ImageList_EndDrag();
        ImageList_Destroy(d.image);
    }
    if (GetCapture() == d.win) ReleaseCapture();
    POINT pt;
    GetCursorPos(&pt);
    HWND under = WindowFromPoint(pt);
    GuiControl* target = guiControlFromHwnd(under);
    if (!target && under) target = guiControlFromHwnd(GetParent(under));  // the edit inside a combo
    if (!target || target->id == d.sourceId || !(target->state & kGuiDropAccepted)) return;
    if (target->kind == CtrlKind::Edit || target->kind == CtrlKind::Input) {
        wchar_t text[1024] = {};
        LVITEMW it{};
        it.iSubItem = 0;
        it.pszText = text;
        it.cchTextMax = static_cast<int>(std::size(text));
        SendMessageW(d.list, LVM_GETITEMTEXTW, static_cast<WPARAM>(d.item), reinterpret_cast<LPARAM>(&it));
        SetWindowTextW(target->hwnd, text);
        SendMessageW(target->hwnd, EM_SETSEL, 0, -1);
    }
    publishDrop(target->id, 0, false, SString());
    raiseWindowEvent(w, kEvDropped);
}

bool onNotify(GuiWindow& w, LPARAM lp, LRESULT& result) {
    const NMHDR* nh = reinterpret_cast<const NMHDR*>(lp);
    if (!nh) return false;
    GuiControl* c = guiControlFromHwnd(nh->hwndFrom);
    if (!c || c->win != w.index) return false;
    EventsState& s = ev();
    const UINT code = nh->code;
    switch (c->kind) {
        case CtrlKind::Date:
            if (code == DTN_DROPDOWN) {
                s.dateDropped = nh->hwndFrom;
                s.dateChanged = false;
            } else if (code == DTN_CLOSEUP) {
                const bool changed = s.dateDropped == nh->hwndFrom && s.dateChanged;
                s.dateDropped = nullptr;
                s.dateChanged = false;
                if (changed) guiControlEvent(c->id, 0);
            } else if (code == DTN_DATETIMECHANGE) {
                if (s.dateDropped == nh->hwndFrom) s.dateChanged = true;
                else guiControlEvent(c->id, 0);
            }
            return false;
        case CtrlKind::Tab:
            if (code == TCN_SELCHANGE) {
                const int sel = static_cast<int>(SendMessageW(c->hwnd, TCM_GETCURSEL, 0, 0));
                if (sel >= 0) guiControlEvent(c->id, sel);
            }
            return false;
        case CtrlKind::MonthCal:
            if (code == MCN_SELECT) guiControlEvent(c->id, 0);
            return false;
        case CtrlKind::TreeView: {
            if (code == TVN_SELCHANGEDW || code == TVN_SELCHANGEDA) {
                const NMTREEVIEWW* nm = reinterpret_cast<const NMTREEVIEWW*>(lp);
                if (nm->action == TVC_BYMOUSE || nm->action == TVC_BYKEYBOARD)
                    if (GuiControl* item = treeItemControl(c->id, nm->itemNew.hItem)) guiControlEvent(item->id, 0);
            } else if (code == TVN_KEYDOWN) {
                const NMTVKEYDOWN* nm = reinterpret_cast<const NMTVKEYDOWN*>(lp);
                if (nm->wVKey == VK_SPACE && (GetWindowLongPtrW(c->hwnd, GWL_STYLE) & TVS_CHECKBOXES)) {
                    HTREEITEM sel = reinterpret_cast<HTREEITEM>(SendMessageW(c->hwnd, TVM_GETNEXTITEM, TVGN_CARET, 0));
                    if (GuiControl* item = treeItemControl(c->id, sel)) guiControlEvent(item->id, 0);
                }
            } else if (code == NM_RCLICK) {
                TVHITTESTINFO hit{};
                GetCursorPos(&hit.pt);
                ScreenToClient(c->hwnd, &hit.pt);
                HTREEITEM h = reinterpret_cast<HTREEITEM>(SendMessageW(c->hwnd, TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
                GuiControl* item = treeItemControl(c->id, h);
                if ((item && showContextMenu(w, item->contextMenuId)) || showContextMenu(w, c->contextMenuId)) {
                    result = 1;
                    return true;
                }
            }
            return false;
        }
        case CtrlKind::ListView: {
            if (code == LVN_COLUMNCLICK) {
                const NMLISTVIEW* nm = reinterpret_cast<const NMLISTVIEW*>(lp);
                c->lvLastColumn = nm->iSubItem;
                const int id = c->id;
                guiControlEvent(id, 0);
                if (GuiControl* again = guiControl(id); again == c && !c->lvSortFunction.empty())
                    sortListView(*c, nm->iSubItem);
            } else if (code == NM_CLICK) {
                const NMITEMACTIVATE* nm = reinterpret_cast<const NMITEMACTIVATE*>(lp);
                if (GuiControl* item = listItemControl(*c, nm->iItem)) guiControlEvent(item->id, 0);
            } else if (code == NM_RCLICK) {
                const NMITEMACTIVATE* nm = reinterpret_cast<const NMITEMACTIVATE*>(lp);
                GuiControl* item = listItemControl(*c, nm->iItem);
                if ((item && showContextMenu(w, item->contextMenuId)) || showContextMenu(w, c->contextMenuId)) {
                    result = 1;
                    return true;
                }
            } else if (code == LVN_BEGINDRAG) {
                beginListDrag(w, *c, *reinterpret_cast<const NMLISTVIEW*>(lp));
            }
            return false;
        }
        default:
            return false;
    }
}

// ---- file drops ------------------------------------------------------------------------------------------------

// The control of w at client point pt that takes drops (a group box around it does not hide it).
GuiControl* dropTarget(GuiWindow& w, POINT pt) {
    POINT screen = pt;
    ClientToScreen(w.hwnd, &screen);
    for (auto& c : gui().controls) {
        if (!c || c->win != w.index || !c->hwnd || !(c->state & kGuiDropAccepted)) continue;
        if (c->kind == CtrlKind::Group || !IsWindowVisible(c->hwnd)) continue;
        RECT r;
        GetWindowRect(c->hwnd, &r);
        if (PtInRect(&r, screen)) return c.get();
    }
    return nullptr;
}

bool onDropFiles(GuiWindow& w, HDROP drop) {
    POINT pt{};
    DragQueryPoint(drop, &pt);
    GuiControl* c = dropTarget(w, pt);
    if (!c) return false;
    HWND edit = c->hwnd;
    if (c->kind == CtrlKind::Combo) {
        COMBOBOXINFO info{};
        info.cbSize = sizeof(info);
        if (GetComboBoxInfo(c->hwnd, &info) && info.hwndItem) edit = info.hwndItem;
    }
    const bool editLike = c->kind == CtrlKind::Edit || c->kind == CtrlKind::Input || edit != c->hwnd;
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFFu, nullptr, 0);
    DWORD selStart = 0, selEnd = 0;
    if (editLike) SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&selStart), reinterpret_cast<LPARAM>(&selEnd));
    DWORD caret = selEnd;
    SString last, all;
    for (UINT i = 0; i < count; ++i) {
        wchar_t name[MAX_PATH + 1] = {};
        const UINT n = DragQueryFileW(drop, i, name, MAX_PATH + 1);
        last = SString(reinterpret_cast<const char16_t*>(name), std::min<UINT>(n, MAX_PATH));
        SString piece = last;
        if (c->kind == CtrlKind::Edit) piece.append(u"\r\n");
        else if (i + 1 < count) piece.append(u'|');
        if (editLike) {
            SendMessageW(edit, EM_SETSEL, caret, caret);
            SendMessageW(edit, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(piece.c_str()));
            caret += static_cast<DWORD>(piece.size());
        } else {
            all.append(piece.view());
        }
    }
    DragFinish(drop);
    if (editLike) SendMessageW(edit, EM_SETSEL, selStart, selEnd);
    else SetWindowTextW(c->hwnd, reinterpret_cast<const wchar_t*>(all.c_str()));
    publishDrop(c->id, -1, true, last);
    raiseWindowEvent(w, kEvDropped);
    return true;
}

// ---- run loop hooks ------------------------------------------------------------------------------------------

// Accelerators of the active GUI window, Ctrl+Tab on tabs, then the dialog manager of each GUI window.
bool preTranslate(MSG* m) {
    GuiState& g = gui();
    if (g.windowCount <= 0) return false;
    if (m->message >= WM_KEYFIRST && m->message <= WM_KEYLAST) {
        GuiWindow* active = guiWindow(GetActiveWindow());
        if (active && active->accel.h && TranslateAcceleratorW(active->hwnd, active->accel.h, m)) return true;
        if (m->message == WM_KEYDOWN && m->wParam == VK_TAB && (GetKeyState(VK_CONTROL) & 0x8000)) {
            GuiWindow* w = nullptr;
            for (HWND h = m->hwnd; h && !w; h = GetParent(h)) w = guiWindow(h);
            GuiControl* tab = w && w->tabId ? guiControl(w->tabId) : nullptr;
            if (tab && tab->hwnd) {
                const int count = static_cast<int>(SendMessageW(tab->hwnd, TCM_GETITEMCOUNT, 0, 0));
                const int sel = static_cast<int>(SendMessageW(tab->hwnd, TCM_GETCURSEL, 0, 0));
                if (count > 1) {
                    const int step = (GetKeyState(VK_SHIFT) & 0x8000) ? count - 1 : 1;
                    const int next = ((sel < 0 ? 0 : sel) + step) % count;
                    SendMessageW(tab->hwnd, TCM_SETCURSEL, static_cast<WPARAM>(next), 0);
                    guiControlEvent(tab->id, next);
                }
                return true;
            }
        }
    }
    if (!m->hwnd) return false;
    for (size_t i = 0; i < g.windows.size(); ++i) {
        GuiWindow* w = g.windows[i].get();
        if (w && w->hwnd && !w->destroying && IsDialogMessageW(w->hwnd, m)) return true;
    }
    return false;
}

// On-event mode: calls the function of the next event that has one; events without are dropped.
bool guiEventStep() {
    EventsState& s = ev();
    if (s.queue.empty() || !options().guiOnEventMode || s.eventFunctionRunning || !s.handling.empty()) return false;
    Engine& e = engine();
    while (!s.queue.empty()) {
        GuiEvent event = std::move(s.queue.front());
        s.queue.pop_front();
        if (event.function.empty()) continue;
        const int index = e.findUserFunction(event.function.view());
        if (index < 0 || e.userFunction(index).minArgs > 0) continue;
        publishEventMacro(e, u"GUI_CTRLID", Variant::int32(event.id));
        publishEventMacro(e, u"GUI_WINHANDLE", Variant::ptr(reinterpret_cast<uintptr_t>(event.win)));
        publishEventMacro(e, u"GUI_CTRLHANDLE", Variant::ptr(reinterpret_cast<uintptr_t>(event.ctrl)));
        s.eventFunctionRunning = true;
        callEventFunction(event.function.view());
        s.eventFunctionRunning = false;
        return true;
    }
    return false;
}

void timerTick() {
    if (GuiWindow* w = guiWindow(GetForegroundWindow())) guiPollMouse(*w, 2);
}

struct Install {
    Install() {
        loopHooks().preTranslate = preTranslate;
        loopHooks().guiEvent = guiEventStep;
        g_guiTimerTick = timerTick;
    }
} g_install;

}  // namespace

// ---- the window procedure's share ------------------------------------------------------------------------------

void guiPollMouse(GuiWindow& w, int mode) { pollMouse(w, mode, -1, -1); }

namespace {

// primary/secondary: the button states a button message reports (1 down, 0 up), -1 to read them. A quick
// click can be over before its messages are handled, so the asynchronous state alone would miss it.
void pollMouse(GuiWindow& w, int mode, int primaryState, int secondaryState) {
    if (!w.hwnd || w.destroying) return;
    POINT screen;
    if (!GetCursorPos(&screen)) return;
    POINT client = screen;
    ScreenToClient(w.hwnd, &client);
    if (client.x != w.mouseClient.x || client.y != w.mouseClient.y) {
        w.mouseScreen = screen;
        w.mouseClient = client;
        if (mode >= 1) raiseWindowEvent(w, kEvMouseMove);
    }
    if (mode == 0) return;
    const GuiState& g = gui();
    const bool primary = primaryState >= 0 ? primaryState == 1 : (GetAsyncKeyState(g.primaryButton) & 0x8000) != 0;
    const bool secondary =
        secondaryState >= 0 ? secondaryState == 1 : (GetAsyncKeyState(g.secondaryButton) & 0x8000) != 0;
    if (primary != w.primaryDown) {
        w.primaryDown = primary;
        if (mode >= 1 && w.mouseEvents) {
            if (primary) {
                raiseWindowEvent(w, kEvPrimaryDown);
            } else {
                raiseWindowEvent(w, kEvPrimaryUp);
                if (w.resized) raiseWindowEvent(w, IsZoomed(w.hwnd) ? kEvMaximize : kEvResized);
                w.resized = false;
            }
        }
    }
    if (secondary != w.secondaryDown) {
        w.secondaryDown = secondary;
        if (mode >= 1) raiseWindowEvent(w, secondary ? kEvSecondaryDown : kEvSecondaryUp);
    }
}

}  // namespace

bool guiControlEvent(int id, int code) {
    GuiControl* c = id >= kGuiFirstId ? guiControl(id) : nullptr;
    if (!c) return false;
    GuiWindow* w = guiControlWindow(*c);
    if (!w || !visibleWindow(*w)) return false;
    if (c->tabPage != kGuiNoPage && c->tabPage != w->tabShown) return false;
    switch (c->kind) {
        case CtrlKind::Combo:
        case CtrlKind::List:
            if (code != CBN_SELCHANGE) return false;  // LBN_SELCHANGE is the same number
            break;
        case CtrlKind::Edit:
        case CtrlKind::Input:
            if (code == EN_CHANGE) {
                if (w->changedEdit != id) flushChangedEdit(*w);
                w->changedEdit = id;
                return false;
            }
            if (code == EN_KILLFOCUS) {
                if (w->changedEdit != id) return false;
            } else if (code != 0) {
                return false;
            }
            if (w->changedEdit == id) w->changedEdit = 0;
            break;
        case CtrlKind::Group:
        case CtrlKind::Pic:
        case CtrlKind::Label:
            if (c->hwnd && (GetWindowLongPtrW(c->hwnd, GWL_EXSTYLE) & kExParentDrag)) {
                ReleaseCapture();
                SendMessageW(w->hwnd, WM_NCLBUTTONDOWN, HTCAPTION, 0);
            }
            if (code != 0) return false;
            break;
        case CtrlKind::Date: case CtrlKind::Progress: case CtrlKind::Menu: case CtrlKind::MenuItem:
        case CtrlKind::TreeView: case CtrlKind::TreeViewItem: case CtrlKind::Slider: case CtrlKind::ListView:
        case CtrlKind::ListViewItem: case CtrlKind::Dummy: case CtrlKind::UpDown: case CtrlKind::MonthCal:
            break;
        case CtrlKind::Tab:
            guiShowTabPage(*w, code);
            break;
        case CtrlKind::Radio:
            if (!c->hwnd || SendMessageW(c->hwnd, BM_GETCHECK, 0, 0) != BST_CHECKED) return false;
            break;
        case CtrlKind::TabItem:
        case CtrlKind::ContextMenu:
            return false;
        default:
            if (static_cast<int>(c->kind) >= static_cast<int>(CtrlKind::Obj)) return false;
            if (code != 0) return false;
            break;
    }
    // The event of a changed edit that is still pending comes first.
    if (w->changedEdit && w->changedEdit != id) flushChangedEdit(*w);
    c = guiControl(id);  // the flush does not run script code, but keep the lookup honest
    if (!c) return false;
    queueControlEvent(*c, *w);
    return true;
}

bool guiEventsMessage(GuiWindow& w, UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
    HWND hwnd = w.hwnd;
    if (runHandler(hwnd, msg, wp, lp, result)) return true;
    GuiWindow* live = guiWindow(hwnd);
    if (!live) return false;
    GuiWindow& win = *live;
    switch (msg) {
        case WM_SIZE:
            // Only a resize by the user counts: one inside the move-or-size loop or with the button held.
            if (wp != SIZE_MINIMIZED && (ev().sizing == hwnd || (GetAsyncKeyState(gui().primaryButton) & 0x8000)))
                win.resized = true;
            return false;
        case WM_COMMAND:
            if (!onCommand(win, wp, lp)) return false;
            result = 0;
            return true;
        case WM_NOTIFY:
            return onNotify(win, lp, result);
        case WM_HSCROLL:
        case WM_VSCROLL: {
            GuiControl* c = guiControlFromHwnd(reinterpret_cast<HWND>(lp));
            if (c && ((c->kind == CtrlKind::Slider && LOWORD(wp) == TB_ENDTRACK) ||
                      (c->kind == CtrlKind::UpDown && LOWORD(wp) == SB_THUMBPOSITION)))
                guiControlEvent(c->id, 0);
            return false;
        }
        case WM_SYSCOMMAND: {
            int32_t event = 0;
            switch (wp & 0xFFF0) {
                case SC_SIZE: win.resized = true; return false;
                case SC_CLOSE:
                    // A GUI window closes only when the script deletes it or ends.
                    raiseWindowEvent(win, kEvClose);
                    result = 0;
                    return true;
                case SC_MINIMIZE: event = kEvMinimize; break;
                case SC_MAXIMIZE: event = kEvMaximize; break;
                case SC_RESTORE: event = kEvRestore; break;
                default: return false;
            }
            raiseWindowEvent(win, event);
            if (options().guiEventOptions & 1) {
                result = 0;
                return true;
            }
            return false;
        }
        case WM_CLOSE:
            // A request to close (WINCLOSE, the taskbar) is the close event itself. Left to the dialog
            // manager it would become ESC's cancel command and get lost when GUICloseOnESC is off.
            raiseWindowEvent(win, kEvClose);
            result = 0;
            return true;
        case WM_ENTERSIZEMOVE:
            ev().sizing = hwnd;
            return false;
        case WM_EXITSIZEMOVE:
            ev().sizing = nullptr;
            if (win.resized) raiseWindowEvent(win, kEvResized);
            win.resized = false;
            return false;
        case WM_LBUTTONDOWN:
            pollMouse(win, 1, 1, -1);
            return false;
        case WM_RBUTTONDOWN:
            pollMouse(win, 1, -1, 1);
            return false;
        case WM_RBUTTONUP:
            pollMouse(win, 1, -1, 0);
            return false;
        case WM_LBUTTONUP:
            pollMouse(win, 1, 0, -1);
            if (ev().drag.win == hwnd) endListDrag(win);
            return false;
        case WM_MOUSEMOVE:
            if (ev().drag.win == hwnd && ev().drag.image) {
                ImageList_DragMove(static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp)));
            }
            return false;
        case WM_DROPFILES:
            if (!onDropFiles(win, reinterpret_cast<HDROP>(wp))) return false;
            result = 0;
            return true;
        case WM_DESTROY:
            if (ev().drag.win == hwnd) {
                ListDrag& d = ev().drag;
                if (d.image) {
                    ImageList_EndDrag();
                    ImageList_Destroy(d.image);
                }
                d = ListDrag{};
            }
            if (ev().dateDropped && GetParent(ev().dateDropped) == hwnd) ev().dateDropped = nullptr;
            return false;
        default:
            return false;
    }
}

// ---- built-ins -------------------------------------------------------------------------------------------------

int bi_GUIGETMSG(Engine& e, Args& a, Variant& r) {
    r.setInt32(0);
    if (options().guiOnEventMode) {
        e.setError(1);
        return 0;
    }
    const bool advanced = a.given(0) && a.int32(0) == 1;
    EventsState& s = ev();
    const bool mayPump = s.handling.empty();
    if (s.queue.empty()) {
        // Nothing to report: a polling loop must not spin. The first empty reads sweep the message queue and
        // give up the time slice; after that each read waits up to 10 ms for input and sweeps the queue only
        // when some arrived (the run loop sweeps it every 10 ms anyway). Each sweep is a round trip to the
        // window system, which is what an idle loop would otherwise spend its time on.
        if (s.emptyReads < 100) {
            ++s.emptyReads;
            if (mayPump) pumpMessages();
            if (s.queue.empty()) Sleep(0);
        } else {
            Sleep(10);
        }
    }
    GuiEvent event;
    if (!s.queue.empty()) {
        event = std::move(s.queue.front());
        s.queue.pop_front();
        s.emptyReads = 0;
    }
    if (!advanced) {
        r.setInt32(event.id);
        return 0;
    }
    uint32_t five = 5;
    ArrayData* arr = ArrayData::create(&five, 1);
    arr->at(0) = Variant::int32(event.id);
    arr->at(1) = Variant::ptr(reinterpret_cast<uintptr_t>(event.win));
    arr->at(2) = Variant::ptr(reinterpret_cast<uintptr_t>(event.ctrl));
    arr->at(3) = Variant::int32(event.x);
    arr->at(4) = Variant::int32(event.y);
    r = Variant::array(arr);
    return 0;
}

int bi_GUISETONEVENT(Engine& e, Args& a, Variant& r) {
    r.setInt32(0);
    SString fn;
    if (!functionArgument(e, a.str(1), fn)) {
        e.setError(1);
        return 0;
    }
    GuiWindow* w = nullptr;
    if (a.given(2)) {
        w = guiWindow(reinterpret_cast<HWND>(a[2].toPtr()));
        if (w) gui().current = w->index;
    } else {
        w = guiCurrentWindow();
    }
    const int32_t id = a.int32(0);
    if (!w || id < -13 || id > 0) return 0;
    w->onEvent[id + 13] = fn;
    r.setInt32(1);
    return 0;
}

int bi_GUICTRLSETONEVENT(Engine& e, Args& a, Variant& r) {
    r.setInt32(0);
    SString fn;
    if (!functionArgument(e, a.str(1), fn)) {
        e.setError(1);
        return 0;
    }
    GuiControl* c = guiControl(a.int32(0));
    if (!c) return 0;
    c->onEvent = fn;
    r.setInt32(1);
    return 0;
}

int bi_GUIREGISTERMSG(Engine& e, Args& a, Variant& r) {
    r.setInt32(0);
    SString fn;
    if (!functionArgument(e, a.str(1), fn)) {
        e.setError(1);
        return 0;
    }
    const UINT msg = static_cast<UINT>(a.int32(0));
    auto& list = ev().handlers;
    auto found = std::find_if(list.begin(), list.end(), [&](const MsgHandler& h) { return h.msg == msg; });
    if (fn.empty()) {
        if (found == list.end()) return 0;
        list.erase(found);
    } else if (found != list.end()) {
        found->function = fn;
    } else {
        list.push_back(MsgHandler{msg, fn});
    }
    r.setInt32(1);
    return 0;
}

int bi_GUICTRLSENDTODUMMY(Engine&, Args& a, Variant& r) {
    r.setInt32(0);
    GuiControl* c = guiControl(a.int32(0));
    if (!c || c->kind != CtrlKind::Dummy) return 0;
    if (a.given(1)) c->value = a[1];
    r.setInt32(guiControlEvent(c->id, 0) ? 1 : 0);
    return 0;
}

}  // namespace tx
