// The script's tray icon and its pop-up menu, and the TRAY... built-ins and BREAK.
//
// The icon and the menu belong to the hidden main window: its procedure hands this file WM_CREATE (the
// menu), the 750 ms timer (tip and icon animation), the icon's notifications (WM_USER + 1), the script's
// own menu commands, "TaskbarCreated" and WM_DESTROY, all through LoopHooks. Nothing here runs script
// code inside the window procedure: clicks and chosen items become tray events in a queue, which the
// script polls with TRAYGETMSG or, in on-event mode, the run loop serves between two lines.
//
// Menu ids are slots of one table: 3 and 4 are the runtime's exit and pause items, 5 and 6 the separators
// around them, and the script's items and sub-menus take 7 to 518. The runtime's items sit at the end of
// the top-level menu whenever they are switched on (TrayMenuMode bit 1 off); script items are always
// inserted above them.
#include <windows.h>
#include <shellapi.h>

#include <deque>

#include "core/engine.h"
#include "core/errors.h"
#include "core/interp.h"
#include "core/platform.h"
#include "core/script_store.h"
#include "env/macro_feeds.h"
#include "env/options.h"
#include "gui/tray.h"
#include "host/file_io.h"
#include "host/hooks.h"
#include "host/runloop.h"
#include "host/startup.h"

namespace tx {

namespace {

using fio::wz;

constexpr UINT kIconId = 1;
constexpr UINT kNotifyMessage = WM_USER + 1;
constexpr UINT_PTR kTimerId = 1;
constexpr int kSlots = 519;
constexpr int kFirstScriptId = 7;
constexpr int kLastId = kSlots - 1;
constexpr int kSeparatorAbove = 5;  // between the script's items and the pause item
constexpr int kSeparatorBelow = 6;  // between the pause and the exit item
constexpr size_t kTipChars = 127;
constexpr size_t kMaxQueued = 4096;  // a script that never reads its events must not grow without end

// Event codes of the icon itself (item events are the positive item ids).
constexpr int kEvShown = -3, kEvHidden = -4, kEvFlashOn = -5, kEvFlashOff = -6;
constexpr int kEvLastCode = 14;  // codes -3 to -14

// Item state bits as scripts read and write them.
constexpr int kStChecked = 1, kStUnchecked = 4, kStEnabled = 64, kStDisabled = 128, kStHilite = 256, kStDefault = 512;

const char16_t kExitText[] = u"退出脚本";
const char16_t kPauseText[] = u"脚本已经暂停       ";

// An icon the tray made for itself (extracted from a file); destroyed when replaced and at the end.
class OwnedIcon {
public:
    OwnedIcon() = default;
    ~OwnedIcon() { reset(); }
    OwnedIcon(const OwnedIcon&) = delete;
    OwnedIcon& operator=(const OwnedIcon&) = delete;
    void reset(HICON h = nullptr) {
        if (h_) DestroyIcon(h_);
        h_ = h;
    }
    HICON get() const { return h_; }

private:
    HICON h_ = nullptr;
};

struct Item {
    bool used = false;
    bool submenu = false;
    bool radio = false;
    HMENU menu = nullptr;  // the menu it lives in
    HMENU own = nullptr;   // a sub-menu's own pop-up (destroyed with its item)
    SString function;      // upper case; "" for none
};

struct Event {
    int id;
    SString function;  // the function named when the event happened (on-event mode)
};

struct Tray {
    HWND hwnd = nullptr;
    HMENU menu = nullptr;  // destroyed on WM_DESTROY
    Item items[kSlots];
    int nextId = 0;
    int lastId = 0;
    bool menuAllowed = true;  // BREAK
    int clickMode = 9;
    SString exitText, pauseText;  // the script's texts of the runtime's items; "" for the built-in ones
    OwnedIcon normalIcon, pauseIcon;  // the script's icons, none for the defaults
    HICON defaultIcon = nullptr;
    HICON shown = nullptr;
    bool alternate = false;  // the timer shows the pause or flash icon now
    SString tip;             // the script's tip; "" for the default
    SString tipShown;
    bool visible = false, flashing = false, inMenu = false;
    std::deque<Event> events;
    SString iconFunctions[kEvLastCode + 1];
    bool eventRunning = false;
    int emptyPolls = 0;
};

Tray& tray() {
    static Tray t;
    return t;
}

SString upper(const SString& s) {
    SString u = s;
    if (!u.empty()) platform::upperCase(u.mutableData(), u.size());
    return u;
}

SString cut(const SString& s, size_t n) { return s.size() <= n ? s : SString(s.data(), n); }

template <size_t N>
void copyText(wchar_t (&dst)[N], const SString& s) {
    size_t n = s.size() < N - 1 ? s.size() : N - 1;
    for (size_t i = 0; i < n; ++i) dst[i] = static_cast<wchar_t>(s[i]);
    dst[n] = 0;
}

// ---------------------------------------------------------------------------------------------------
// The icon

NOTIFYICONDATAW notifyData(UINT flags) {
    NOTIFYICONDATAW d{};
    d.cbSize = NOTIFYICONDATAW_V2_SIZE;
    d.hWnd = tray().hwnd;
    d.uID = kIconId;
    d.uFlags = flags;
    d.uCallbackMessage = kNotifyMessage;
    return d;
}

HICON normalIcon() {
    Tray& t = tray();
    return t.normalIcon.get() ? t.normalIcon.get() : t.defaultIcon;
}

HICON pauseIcon() {
    Tray& t = tray();
    return t.pauseIcon.get() ? t.pauseIcon.get() : appIcon(164);
}

void syncHiddenOption() { options().trayIconHidden = tray().visible ? 0 : 1; }

void setIcon(HICON icon) {
    Tray& t = tray();
    t.shown = icon;
    if (!t.visible) return;
    NOTIFYICONDATAW d = notifyData(NIF_ICON);
    d.hIcon = icon;
    Shell_NotifyIconW(NIM_MODIFY, &d);
}

SString scriptFileName() {
    const SString& path = runState().scriptFullPath;
    size_t start = 0;
    for (size_t i = 0; i < path.size(); ++i)
        if (path[i] == u'\\' || path[i] == u'/') start = i + 1;
    return SString(path.data() + start, path.size() - start);
}

SString tipText() {
    Tray& t = tray();
    SString s;
    if (runState().paused) s = messageText(101);
    if (options().trayIconDebug) {
        s.append(scriptFileName().view());
        s.append(u'\n');
        const int line = runState().currentLine;
        if (const SString* text = scriptStore().lineText(line)) {
            s.append(text->view());
        } else {
            s.append(u"line ");
            s.appendLatin1(std::to_string(line));
        }
    } else {
        s.append(t.tip.empty() ? scriptFileName().view() : t.tip.view());
    }
    return cut(s, kTipChars);
}

void updateTip() {
    Tray& t = tray();
    if (!t.visible) return;
    SString text = tipText();
    if (text == t.tipShown) return;
    NOTIFYICONDATAW d = notifyData(NIF_TIP);
    copyText(d.szTip, text);
    if (Shell_NotifyIconW(NIM_MODIFY, &d)) t.tipShown = text;
}

void addIcon() {
    Tray& t = tray();
    NOTIFYICONDATAW d = notifyData(NIF_ICON | NIF_MESSAGE | NIF_TIP);
    d.hIcon = t.shown = normalIcon();
    t.alternate = false;
    t.tipShown = tipText();
    copyText(d.szTip, t.tipShown);
    if (!t.visible || !Shell_NotifyIconW(NIM_MODIFY, &d)) Shell_NotifyIconW(NIM_ADD, &d);
    t.visible = true;
    syncHiddenOption();
}

void showIcon() {
    if (!tray().hwnd) return;
    addIcon();
}

void hideIcon() {
    Tray& t = tray();
    if (t.visible) {
        NOTIFYICONDATAW d = notifyData(0);
        Shell_NotifyIconW(NIM_DELETE, &d);
    }
    t.visible = false;
    t.tipShown.clear();
    syncHiddenOption();
}

void timerTick() {
    Tray& t = tray();
    updateTip();
    if (!t.visible) return;
    if (runState().paused) {
        t.alternate = !t.alternate;
        setIcon(t.alternate ? pauseIcon() : normalIcon());
    } else if (t.flashing) {
        t.alternate = !t.alternate;
        setIcon(t.alternate ? appIcon(162) : normalIcon());
    } else if (t.alternate || t.shown != normalIcon()) {
        t.alternate = false;
        setIcon(normalIcon());
    }
}

// ---------------------------------------------------------------------------------------------------
// Events

void queueEvent(int id) {
    Tray& t = tray();
    SString fn;
    if (id < 0 && -id <= kEvLastCode) fn = t.iconFunctions[-id];
    else if (id > 0 && id < kSlots) fn = t.items[id].function;
    if (t.events.size() >= kMaxQueued) t.events.pop_front();
    t.events.push_back(Event{id, std::move(fn)});
}

// One event function in on-event mode (the run loop's turn for the tray).
bool serveTrayEvent() {
    Tray& t = tray();
    if (!options().trayOnEventMode || t.eventRunning) return false;
    while (!t.events.empty()) {
        Event ev = std::move(t.events.front());
        t.events.pop_front();
        if (ev.function.empty()) continue;  // nothing to call for it
        Engine& e = engine();
        publishEventMacro(e, u"TRAY_ID", Variant::int32(ev.id));
        t.eventRunning = true;
        callEventFunction(ev.function.view());
        t.eventRunning = false;
        return true;
    }
    return false;
}

// ---------------------------------------------------------------------------------------------------
// The menu

// Position of the item with that id in a menu (sub-menu items included), or -1.
int positionOf(HMENU menu, int id) {
    const int n = GetMenuItemCount(menu);
    for (int i = 0; i < n; ++i) {
        MENUITEMINFOW mii{};
        mii.cbSize = sizeof mii;
        mii.fMask = MIIM_ID;
        if (GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &mii) && static_cast<int>(mii.wID) == id) return i;
    }
    return -1;
}

int idAt(HMENU menu, int pos) {
    MENUITEMINFOW mii{};
    mii.cbSize = sizeof mii;
    mii.fMask = MIIM_ID;
    return GetMenuItemInfoW(menu, static_cast<UINT>(pos), TRUE, &mii) ? static_cast<int>(mii.wID) : -1;
}

bool isRuntimeItem(int id) { return id >= kTrayItemExit && id < kFirstScriptId; }

bool insertString(HMENU menu, int pos, int id, const SString& text, UINT type, HMENU sub) {
    MENUITEMINFOW mii{};
    mii.cbSize = sizeof mii;
    mii.fMask = MIIM_ID | MIIM_FTYPE;
    mii.wID = static_cast<UINT>(id);
    mii.fType = type;
    if (!(type & MFT_SEPARATOR)) {
        mii.fMask |= MIIM_STRING;
        mii.dwTypeData = const_cast<wchar_t*>(wz(text));
    }
    if (sub) {
        mii.fMask |= MIIM_SUBMENU;
        mii.hSubMenu = sub;
    }
    const int n = GetMenuItemCount(menu);
    if (pos < 0 || pos > n) pos = n;
    return InsertMenuItemW(menu, static_cast<UINT>(pos), TRUE, &mii) != FALSE;
}

SString runtimeText(int id) {
    Tray& t = tray();
    if (id == kTrayItemExit) return t.exitText.empty() ? SString(kExitText) : t.exitText;
    return t.pauseText.empty() ? SString(kPauseText) : t.pauseText;
}

void removeRuntimeItems() {
    HMENU m = tray().menu;
    for (int id : {kSeparatorAbove, kTrayItemPause, kSeparatorBelow, kTrayItemExit}) {
        int pos = positionOf(m, id);
        if (pos >= 0) DeleteMenu(m, static_cast<UINT>(pos), MF_BYPOSITION);
    }
}

// Puts the runtime's items at the end of the top-level menu, or takes them out, as TrayMenuMode says.
// The separator above them is there exactly when script items are.
void syncRuntimeItems() {
    Tray& t = tray();
    HMENU m = t.menu;
    if (!m) return;
    if (!options().trayMenuDefaultItems) {
        removeRuntimeItems();
        return;
    }
    int pausePos = positionOf(m, kTrayItemPause);
    if (pausePos < 0) {
        removeRuntimeItems();  // a partial set cannot be left
        if (GetMenuItemCount(m) > 0) insertString(m, -1, kSeparatorAbove, SString(), MFT_SEPARATOR, nullptr);
        insertString(m, -1, kTrayItemPause, runtimeText(kTrayItemPause), MFT_STRING, nullptr);
        insertString(m, -1, kSeparatorBelow, SString(), MFT_SEPARATOR, nullptr);
        insertString(m, -1, kTrayItemExit, runtimeText(kTrayItemExit), MFT_STRING, nullptr);
        CheckMenuItem(m, kTrayItemPause, MF_BYCOMMAND | (runState().paused ? MF_CHECKED : MF_UNCHECKED));
        return;
    }
    int sepPos = positionOf(m, kSeparatorAbove);
    if (pausePos > 0 && sepPos < 0) {
        insertString(m, pausePos, kSeparatorAbove, SString(), MFT_SEPARATOR, nullptr);
    } else if (sepPos == 0) {
        DeleteMenu(m, 0, MF_BYPOSITION);  // no script items above it any more
    }
}

// Position of the first runtime entry of the top-level menu (its item count when there is none).
int runtimeItemsStart() {
    HMENU m = tray().menu;
    const int n = GetMenuItemCount(m);
    for (int i = 0; i < n; ++i)
        if (isRuntimeItem(idAt(m, i))) return i;
    return n;
}

// The slot named by a script's id (-1: the last created item); nullptr when it holds no script item.
Item* scriptItem(int& id) {
    Tray& t = tray();
    if (id == -1) id = t.lastId;
    if (id < kFirstScriptId || id > kLastId || !t.items[id].used) return nullptr;
    return &t.items[id];
}

// Frees the slots of everything inside a sub-menu that is going away.
void freeContents(HMENU sub) {
    Tray& t = tray();
    for (int id = kFirstScriptId; id <= kLastId; ++id) {
        Item& it = t.items[id];
        if (!it.used || it.menu != sub) continue;
        if (it.submenu) freeContents(it.own);
        it = Item();
    }
}

int allocateId() {
    Tray& t = tray();
    if (t.nextId < kFirstScriptId - 1) t.nextId = kFirstScriptId - 1;
    if (t.nextId < kLastId) return ++t.nextId;
    for (int id = kFirstScriptId; id <= kLastId; ++id)
        if (!t.items[id].used) return id;
    return 0;
}

// TRAYCREATEITEM and TRAYCREATEMENU.
int createEntry(Engine& e, Args& a, Variant& r, bool submenu) {
    Tray& t = tray();
    r.setInt32(0);
    HMENU parent = t.menu;
    const int parentId = a.int32Or(1, -1);
    if (parentId != -1) {
        if (parentId < kFirstScriptId || parentId > kLastId || !t.items[parentId].used || !t.items[parentId].submenu) {
            e.setError(1);
            return 0;
        }
        parent = t.items[parentId].own;
    }
    const int id = parent ? allocateId() : 0;
    if (!id) {
        e.setError(1);
        return 0;
    }
    int pos = a.int32Or(2, -1);
    if (parent == t.menu) {
        syncRuntimeItems();
        const int limit = runtimeItemsStart();
        if (pos < 0 || pos > limit) pos = limit;
    }
    const SString& text = a.str(0);
    HMENU own = submenu ? CreatePopupMenu() : nullptr;
    const bool radio = !submenu && a.count() > 3 && a.int32(3) != 0;
    UINT type = text.empty() && !submenu ? MFT_SEPARATOR : (radio ? MFT_STRING | MFT_RADIOCHECK : MFT_STRING);
    if ((submenu && !own) || !insertString(parent, pos, id, text, type, own)) {
        if (own) DestroyMenu(own);
        e.setError(1);
        return 0;
    }
    Item& it = t.items[id];
    it = Item();
    it.used = true;
    it.submenu = submenu;
    it.radio = radio;
    it.menu = parent;
    it.own = own;
    t.lastId = id;
    if (parent == t.menu) syncRuntimeItems();  // the separator above the runtime's items
    r.setInt32(id);
    return 0;
}

// The menu and position of an id that scripts may read and change: a script item, or the runtime's pause
// and exit items while they are in the menu.
bool locate(int& id, HMENU& menu, int& pos) {
    Tray& t = tray();
    if (id == kTrayItemExit || id == kTrayItemPause) {
        menu = t.menu;
    } else {
        Item* it = scriptItem(id);
        if (!it) return false;
        menu = it->menu;
    }
    pos = menu ? positionOf(menu, id) : -1;
    return pos >= 0;
}

int readState(HMENU menu, int pos) {
    MENUITEMINFOW mii{};
    mii.cbSize = sizeof mii;
    mii.fMask = MIIM_STATE | MIIM_FTYPE;
    if (!GetMenuItemInfoW(menu, static_cast<UINT>(pos), TRUE, &mii) || (mii.fType & MFT_SEPARATOR)) return 0;
    int s = (mii.fState & MFS_CHECKED) ? kStChecked : kStUnchecked;
    s |= (mii.fState & MFS_DISABLED) ? kStDisabled : kStEnabled;
    if (mii.fState & MFS_HILITE) s |= kStHilite;
    if (mii.fState & MFS_DEFAULT) s |= kStDefault;
    return s;
}

// A script item chosen from the menu (or fired by a double click): automatic radio group or check mark,
// then its event.
void chooseItem(int id) {
    Tray& t = tray();
    Item& it = t.items[id];
    const Options& o = options();
    const int pos = positionOf(it.menu, id);
    if (pos >= 0) {
        if (it.radio && o.trayMenuAutoRadio) {
            auto radioAt = [&](int p) {
                int other = idAt(it.menu, p);
                return other >= kFirstScriptId && other <= kLastId && t.items[other].used && t.items[other].radio &&
                       t.items[other].menu == it.menu;
            };
            int first = pos, last = pos;
            while (first > 0 && radioAt(first - 1)) --first;
            const int n = GetMenuItemCount(it.menu);
            while (last + 1 < n && radioAt(last + 1)) ++last;
            CheckMenuRadioItem(it.menu, static_cast<UINT>(first), static_cast<UINT>(last), static_cast<UINT>(pos),
                               MF_BYPOSITION);
        } else if (o.trayMenuAutoCheck) {
            const bool checked = (readState(it.menu, pos) & kStChecked) != 0;
            CheckMenuItem(it.menu, static_cast<UINT>(pos), MF_BYPOSITION | (checked ? MF_UNCHECKED : MF_CHECKED));
        }
    }
    queueEvent(id);
}

void setPaused(bool paused);

void showMenu() {
    Tray& t = tray();
    const Options& o = options();
    syncRuntimeItems();
    if (GetMenuItemCount(t.menu) <= 0) return;
    if (o.trayMenuDefaultItems && o.trayAutoPause && !runState().paused) setPaused(true);
    SetForegroundWindow(t.hwnd);
    POINT pt{};
    GetCursorPos(&pt);
    t.inMenu = true;
    TrackPopupMenu(t.menu, TPM_LEFTBUTTON, pt.x, pt.y, 0, t.hwnd, nullptr);
    t.inMenu = false;
    PostMessageW(t.hwnd, WM_NULL, 0, 0);
    updateTip();
}

// The first script item of the top-level menu that is its default item, or 0.
int defaultScriptItem() {
    Tray& t = tray();
    const int n = GetMenuItemCount(t.menu);
    for (int i = 0; i < n; ++i) {
        int id = idAt(t.menu, i);
        if (id >= kFirstScriptId && id <= kLastId && t.items[id].used && !t.items[id].submenu &&
            (readState(t.menu, i) & kStDefault))
            return id;
    }
    return 0;
}

void iconNotification(LPARAM lp) {
    struct Click {
        UINT message;
        int bit;
        int event;
    };
    static const Click kClicks[] = {
        {WM_LBUTTONDOWN, 1, -7},     {WM_LBUTTONUP, 2, -8},       {WM_LBUTTONDBLCLK, 4, -13},
        {WM_RBUTTONDOWN, 8, -9},     {WM_RBUTTONUP, 16, -10},     {WM_RBUTTONDBLCLK, 32, -14},
        {WM_MOUSEMOVE, 64, -11},
    };
    const UINT message = LOWORD(lp);
    const Click* click = nullptr;
    for (const Click& c : kClicks)
        if (c.message == message) click = &c;
    if (!click) return;
    Tray& t = tray();
    queueEvent(click->event);
    if (message == WM_LBUTTONDBLCLK && options().trayMenuDoubleClick) {
        if (int id = defaultScriptItem()) chooseItem(id);
    }
    if ((t.clickMode & click->bit) && t.menuAllowed && !t.inMenu) showMenu();
}

void setPaused(bool paused) {
    runState().paused = paused ? 1 : 0;
    Tray& t = tray();
    if (t.menu) CheckMenuItem(t.menu, kTrayItemPause, MF_BYCOMMAND | (paused ? MF_CHECKED : MF_UNCHECKED));
    if (!paused && t.alternate) {
        t.alternate = false;
        setIcon(normalIcon());
    }
    updateTip();
}

void trayMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    Tray& t = tray();
    switch (msg) {
        case WM_CREATE:
            t.hwnd = hwnd;
            if (!t.menu) t.menu = CreatePopupMenu();
            if (!t.defaultIcon)
                t.defaultIcon = static_cast<HICON>(
                    LoadImageW(instanceHandle(), MAKEINTRESOURCEW(99), IMAGE_ICON, 16, 16, LR_SHARED));
            if (!t.defaultIcon) t.defaultIcon = appIcon(99);
            syncHiddenOption();  // hidden until start-up adds it (never, under #NoTrayIcon)
            syncRuntimeItems();
            break;
        case WM_DESTROY:
            hideIcon();
            if (t.menu) DestroyMenu(t.menu);
            t.menu = nullptr;
            for (Item& it : t.items) it = Item();
            t.hwnd = nullptr;
            break;
        case WM_TIMER:
            if (wp == kTimerId) {
                timerTick();
                SetTimer(hwnd, kTimerId, 750, nullptr);
            }
            break;
        case kNotifyMessage:
            if (wp == kIconId) iconNotification(lp);
            break;
        case WM_COMMAND: {
            int id = LOWORD(wp);
            if (lp == 0 && HIWORD(wp) == 0 && id >= kFirstScriptId && id <= kLastId && t.items[id].used &&
                !t.items[id].submenu)
                chooseItem(id);
            break;
        }
        default:
            if (msg == taskbarCreatedMessage() && t.visible) {
                // The shell restarted and forgot the icon.
                hideIcon();
                addIcon();
            }
            break;
    }
}

void pauseChanged(bool paused) { setPaused(paused); }

void iconHiddenChanged(bool hidden) {
    if (hidden) hideIcon();
    else showIcon();
}

bool iconVisible() { return tray().visible; }
bool iconFlashing() { return tray().flashing; }

// The tray takes its place in the run loop and the macro and option layers before the main window exists
// (its WM_CREATE makes the menu).
struct Install {
    Install() {
        LoopHooks& h = loopHooks();
        h.trayMessage = trayMessage;
        h.trayEvent = serveTrayEvent;
        h.pauseChanged = pauseChanged;
        macroFeeds().trayIconVisible = iconVisible;
        macroFeeds().trayIconFlashing = iconFlashing;
        g_trayIconHiddenChanged = iconHiddenChanged;
    }
} g_install;

// The icon a script names with a file and its number (TRAYSETICON, TRAYSETPAUSEICON): a negative number
// counts icons from -1 for the first, 1 is the first too, any other is a resource id.
HICON extractIcon(const SString& file, int n) {
    int index = n < 0 ? -n - 1 : (n == 1 ? 0 : -n);
    HICON small = nullptr;
    if (ExtractIconExW(wz(file), index, nullptr, &small, 1) == 0 || !small) return nullptr;
    return small;
}

bool validFunction(Engine& e, const SString& name, SString& upperName) {
    if (name.empty()) {
        upperName.clear();
        return true;
    }
    upperName = upper(name);
    return e.findUserFunction(upperName.view()) >= 0;
}

}  // namespace

void trayAdd() { showIcon(); }

void trayRemove() { hideIcon(); }

// ---------------------------------------------------------------------------------------------------
// Built-ins

int bi_TRAYCREATEMENU(Engine& e, Args& a, Variant& r) { return createEntry(e, a, r, true); }

int bi_TRAYCREATEITEM(Engine& e, Args& a, Variant& r) { return createEntry(e, a, r, false); }

int bi_TRAYITEMDELETE(Engine&, Args& a, Variant& r) {
    int id = a.int32(0);
    Item* it = scriptItem(id);
    const int pos = it ? positionOf(it->menu, id) : -1;
    if (pos < 0) {
        r.setInt32(0);
        return 0;
    }
    HMENU menu = it->menu;
    if (it->submenu) freeContents(it->own);
    DeleteMenu(menu, static_cast<UINT>(pos), MF_BYPOSITION);  // destroys a sub-menu's own pop-up as well
    *it = Item();
    if (menu == tray().menu) syncRuntimeItems();
    return 0;
}

int bi_TRAYITEMSETTEXT(Engine&, Args& a, Variant& r) {
    Tray& t = tray();
    int id = a.int32(0);
    SString text = a.str(1);
    if (id == kTrayItemExit || id == kTrayItemPause) {
        (id == kTrayItemExit ? t.exitText : t.pauseText) = text;
        text = runtimeText(id);
    }
    HMENU menu;
    int pos;
    if (!locate(id, menu, pos)) {
        // The runtime's items keep the text for when they are shown again.
        r.setInt32(isRuntimeItem(id) && id != kSeparatorAbove && id != kSeparatorBelow ? 1 : 0);
        return 0;
    }
    MENUITEMINFOW mii{};
    mii.cbSize = sizeof mii;
    mii.fMask = MIIM_STRING;
    mii.dwTypeData = const_cast<wchar_t*>(wz(text));
    r.setInt32(SetMenuItemInfoW(menu, static_cast<UINT>(pos), TRUE, &mii) ? 1 : 0);
    return 0;
}

int bi_TRAYITEMSETSTATE(Engine&, Args& a, Variant& r) {
    int id = a.int32(0);
    const int state = a.int32(1);
    HMENU menu;
    int pos;
    if (!locate(id, menu, pos)) {
        r.setInt32(0);
        return 0;
    }
    const UINT byPos = MF_BYPOSITION;
    const UINT upos = static_cast<UINT>(pos);
    if (state & kStChecked) CheckMenuItem(menu, upos, byPos | MF_CHECKED);
    if (state & kStUnchecked) CheckMenuItem(menu, upos, byPos | MF_UNCHECKED);
    if (state & kStEnabled) EnableMenuItem(menu, upos, byPos | MF_ENABLED);
    if (state & kStDisabled) EnableMenuItem(menu, upos, byPos | MF_GRAYED);
    if (state & kStHilite) {
        MENUITEMINFOW mii{};
        mii.cbSize = sizeof mii;
        mii.fMask = MIIM_STATE;
        if (GetMenuItemInfoW(menu, upos, TRUE, &mii)) {
            mii.fState |= MFS_HILITE;
            SetMenuItemInfoW(menu, upos, TRUE, &mii);
        }
    }
    if (state & kStDefault) SetMenuDefaultItem(menu, upos, TRUE);
    return 0;
}

int bi_TRAYITEMGETSTATE(Engine&, Args& a, Variant& r) {
    int id = a.int32(0);
    HMENU menu;
    int pos;
    r.setInt32(locate(id, menu, pos) ? readState(menu, pos) : 0);
    return 0;
}

int bi_TRAYITEMGETTEXT(Engine& e, Args& a, Variant& r) {
    int id = a.int32(0);
    HMENU menu;
    int pos;
    if (!locate(id, menu, pos)) {
        if (id == kTrayItemExit || id == kTrayItemPause) {
            r.setString(runtimeText(id));
            return 0;
        }
        r.setString(SString());
        e.setError(1);
        return 0;
    }
    wchar_t buf[261] = {};
    int n = GetMenuStringW(menu, static_cast<UINT>(pos), buf, 261, MF_BYPOSITION);
    r.setString(SString(reinterpret_cast<const char16_t*>(buf), n > 0 ? static_cast<size_t>(n) : 0));
    return 0;
}

int bi_TRAYITEMGETHANDLE(Engine&, Args& a, Variant& r) {
    Tray& t = tray();
    int id = a.int32(0);
    HMENU h = nullptr;
    if (id == 0) {
        h = t.menu;
    } else if (Item* it = scriptItem(id)) {
        h = it->submenu ? it->own : nullptr;
    }
    r.setPtr(reinterpret_cast<uintptr_t>(h));
    return 0;
}

int bi_TRAYITEMSETONEVENT(Engine& e, Args& a, Variant& r) {
    int id = a.int32(0);
    Item* it = scriptItem(id);
    SString fn;
    if (!it || !validFunction(e, a.str(1), fn)) {
        r.setInt32(0);
        e.setError(1);
        return 0;
    }
    it->function = fn;
    return 0;
}

int bi_TRAYSETONEVENT(Engine& e, Args& a, Variant& r) {
    const int code = a.int32(0);
    SString fn;
    if (code > -3 || code < -kEvLastCode || code == -12 || !validFunction(e, a.str(1), fn)) {
        r.setInt32(0);
        e.setError(1);
        return 0;
    }
    tray().iconFunctions[-code] = fn;
    return 0;
}

int bi_TRAYGETMSG(Engine& e, Args&, Variant& r) {
    Tray& t = tray();
    r.setInt32(0);
    if (options().trayOnEventMode) {
        e.setError(1);
        return 0;
    }
    if (t.events.empty()) pumpMessages();
    if (t.events.empty()) {
        // Polling loops stay light: yield first, then sleep a little on every empty call.
        if (t.emptyPolls < 100) {
            ++t.emptyPolls;
            Sleep(0);
        } else {
            Sleep(10);
        }
        return 0;
    }
    t.emptyPolls = 0;
    r.setInt32(t.events.front().id);
    t.events.pop_front();
    return 0;
}

int bi_TRAYSETCLICK(Engine&, Args& a, Variant&) {
    const int mode = a.int32Or(0, 9);
    tray().clickMode = (mode >= 0 && mode <= 127) ? mode : 9;
    return 0;
}

int bi_TRAYSETICON(Engine& e, Args& a, Variant& r) {
    Tray& t = tray();
    const SString file = a.strOr(0, u"");
    if (file.empty()) {
        t.normalIcon.reset();
    } else {
        HICON icon = extractIcon(file, a.int32Or(1, 0));
        if (!icon) {
            r.setInt32(0);
            e.setError(1);
            return 0;
        }
        t.normalIcon.reset(icon);
    }
    t.alternate = false;
    setIcon(normalIcon());
    return 0;
}

int bi_TRAYSETPAUSEICON(Engine& e, Args& a, Variant& r) {
    Tray& t = tray();
    const SString file = a.strOr(0, u"");
    HICON icon = nullptr;
    if (!file.empty()) {
        icon = extractIcon(file, a.int32Or(1, 0));
        if (!icon) {
            r.setInt32(0);
            e.setError(1);
            return 0;
        }
    }
    // The icon on show may be the one replaced: show its successor before the old one goes.
    if (t.shown && t.shown == t.pauseIcon.get()) setIcon(icon ? icon : appIcon(164));
    t.pauseIcon.reset(icon);
    return 0;
}

int bi_TRAYSETSTATE(Engine&, Args& a, Variant&) {
    Tray& t = tray();
    const int flags = a.int32Or(0, 1);
    if (flags & 1) {
        showIcon();
        queueEvent(kEvShown);
    } else if (flags & 2) {
        hideIcon();
        queueEvent(kEvHidden);
    }
    if (flags & 4) {
        t.flashing = true;
        queueEvent(kEvFlashOn);
    } else if (flags & 8) {
        t.flashing = false;
        if (t.visible && !runState().paused) {
            t.alternate = false;
            setIcon(normalIcon());
        }
        queueEvent(kEvFlashOff);
    }
    if (flags & 16) {
        t.flashing = false;
        t.tip.clear();
        updateTip();
    }
    return 0;
}

int bi_TRAYSETTOOLTIP(Engine& e, Args& a, Variant& r) {
    Tray& t = tray();
    t.tip = a.given(0) ? cut(a.str(0), 128) : SString();
    updateTip();
    if (!t.visible || options().trayIconDebug) {
        r.setInt32(0);
        e.setError(1);
    }
    return 0;
}

int bi_TRAYTIP(Engine&, Args& a, Variant& r) {
    Tray& t = tray();
    if (!t.visible) {
        r.setInt32(0);
        return 0;
    }
    NOTIFYICONDATAW d = notifyData(NIF_INFO);
    copyText(d.szInfoTitle, cut(a.str(0), 63));
    copyText(d.szInfo, cut(a.str(1), 255));
    const double seconds = a.dbl(2);
    d.uTimeout = seconds > 0 ? static_cast<UINT>(seconds * 1000 < 4e9 ? seconds * 1000 : 4e9) : 0;
    d.dwInfoFlags = static_cast<DWORD>(a.int32Or(3, 0));
    Shell_NotifyIconW(NIM_MODIFY, &d);
    return 0;
}

int bi_BREAK(Engine&, Args& a, Variant&) {
    tray().menuAllowed = a.truth(0);
    return 0;
}

}  // namespace tx
