// The script's own GUI: the window table, the control table and the rules that tie them together.
//
// Every window GUICREATE makes has a record in the window table; its index is stored in the window's
// user-data slot (GWLP_USERDATA), so a handle leads back to its record. Every control, menu, menu item,
// tab item, tree-view item and list-view item has a record in the control table, indexed by its control
// id: slots 0 to 2 are never used, so ids start at 3, and the lowest empty slot is reused first. Records
// are heap objects owned by the tables (pointers to them stay valid while they exist); each record owns
// the Win32 objects made for it (fonts, brushes, images, image lists, tooltip windows) and releases them
// when it goes. The window procedure (gui/gui_window.cpp) offers each message to the events layer
// (gui/gui_events.h) first and then handles painting, colours, owner drawing, cursors and docking.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "core/builtins.h"
#include "core/sstring.h"
#include "core/variant.h"

namespace tx {

// Control kinds; the numbers order the kind table (kind 13 is not used).
enum class CtrlKind : uint8_t {
    Combo = 0, List = 1, Edit = 2, Input = 3, Group = 4, Date = 5, Pic = 6, Icon = 7, Progress = 8, Avi = 9,
    Tab = 10, TabItem = 11, ContextMenu = 12, Menu = 14, MenuItem = 15, TreeView = 16, TreeViewItem = 17,
    Slider = 18, ListView = 19, ListViewItem = 20, Dummy = 21, UpDown = 22, Label = 23, Button = 24,
    Checkbox = 25, Radio = 26, Graphic = 27, MonthCal = 28, Obj = 29,
};

// Control state bits (GUICTRLSETSTATE / GUICTRLGETSTATE).
enum : uint32_t {
    kGuiChecked = 0x1, kGuiIndeterminate = 0x2, kGuiUnchecked = 0x4, kGuiDropAccepted = 0x8,
    kGuiShow = 0x10, kGuiHide = 0x20, kGuiEnable = 0x40, kGuiDisable = 0x80, kGuiFocus = 0x100,
    kGuiDefButton = 0x200, kGuiExpand = 0x400, kGuiOnTop = 0x800, kGuiNoDropAccepted = 0x1000,
    kGuiNoFocus = 0x2000,
};

constexpr int kGuiFirstId = 3;
constexpr int kGuiMaxId = 65535;
constexpr uint8_t kGuiNoPage = 255;
constexpr int kGuiEventSlots = 14;  // window event ids -13..0, index = id + 13

// Owner of one GDI object (font, brush, bitmap, pen): deleted once, when replaced or destroyed.
template <class H>
struct GdiOwner {
    H h = nullptr;
    GdiOwner() = default;
    GdiOwner(const GdiOwner&) = delete;
    GdiOwner& operator=(const GdiOwner&) = delete;
    ~GdiOwner() { reset(); }
    void reset(H n = nullptr) {
        if (h && h != n) DeleteObject(h);
        h = n;
    }
    H get() const { return h; }
    explicit operator bool() const { return h != nullptr; }
};

struct IconOwner {
    HICON h = nullptr;
    IconOwner() = default;
    IconOwner(const IconOwner&) = delete;
    IconOwner& operator=(const IconOwner&) = delete;
    ~IconOwner() { reset(); }
    void reset(HICON n = nullptr) {
        if (h && h != n) DestroyIcon(h);
        h = n;
    }
};

struct ImageListOwner {
    HIMAGELIST h = nullptr;
    ImageListOwner() = default;
    ImageListOwner(const ImageListOwner&) = delete;
    ImageListOwner& operator=(const ImageListOwner&) = delete;
    ~ImageListOwner() { reset(); }
    void reset(HIMAGELIST n = nullptr) {
        if (h && h != n) ImageList_Destroy(h);
        h = n;
    }
};

// A window the record made for itself outside any parent's lifetime (tooltip windows).
struct WindowOwner {
    HWND h = nullptr;
    WindowOwner() = default;
    WindowOwner(const WindowOwner&) = delete;
    WindowOwner& operator=(const WindowOwner&) = delete;
    ~WindowOwner() { reset(); }
    void reset(HWND n = nullptr) {
        if (h && h != n && IsWindow(h)) DestroyWindow(h);
        h = n;
    }
};

struct ModuleOwner {
    HMODULE h = nullptr;
    ModuleOwner() = default;
    ModuleOwner(const ModuleOwner&) = delete;
    ModuleOwner& operator=(const ModuleOwner&) = delete;
    ~ModuleOwner() { reset(); }
    void reset(HMODULE n = nullptr) {
        if (h && h != n) FreeLibrary(h);
        h = n;
    }
};

struct AccelOwner {
    HACCEL h = nullptr;
    AccelOwner() = default;
    AccelOwner(const AccelOwner&) = delete;
    AccelOwner& operator=(const AccelOwner&) = delete;
    ~AccelOwner() { reset(); }
    void reset(HACCEL n = nullptr) {
        if (h && h != n) DestroyAcceleratorTable(h);
        h = n;
    }
};

// One entry of a graphic control's drawing list.
struct GraphicEntry {
    uint8_t type;
    int32_t x, y;
};

struct GuiControl {
    int id = 0;
    CtrlKind kind = CtrlKind::Label;
    int win = -1;             // index of the owning window in the window table
    HWND hwnd = nullptr;      // the control's window; for items: the parent control's window
    HTREEITEM treeItem = nullptr;  // TreeViewItem
    int parentId = 0;         // items, menus, menu items, up-downs: the id of the control they belong to
    HMENU menu = nullptr;     // Menu, ContextMenu: their popup; MenuItem: the menu holding it
    HMENU holder = nullptr;   // Menu: the menu (or menu bar) holding it
    int contextMenuId = 0;    // the context menu attached to this control
    uint32_t state = kGuiShow | kGuiEnable;
    uint8_t tabPage = kGuiNoPage;
    int32_t color = -1;       // text colour in the system's order, -1 none
    int32_t bkColor = -1;     // background colour in the system's order, -1 none (list view: 0xFE000000 alternates)
    int32_t cursor = -1;
    bool ownerDrawn = false;  // a button drawn by the window procedure (colours set)
    bool radioItem = false;   // MenuItem of radio type
    GdiOwner<HBRUSH> bkBrush;
    GdiOwner<HFONT> font;
    GdiOwner<HBITMAP> bitmap;
    IconOwner icon;
    ImageListOwner imageList;
    ModuleOwner module;       // Avi: the library its clip comes from
    WindowOwner tip;
    SString tipText;
    uint16_t dock = 0;
    int16_t refX = 0, refY = 0, refW = 0, refH = 0;
    SString onEvent;          // GUICTRLSETONEVENT
    Variant value;            // Dummy: its value
    int lvLastColumn = -1;    // ListView: last clicked column
    int lvSortState = 0;      // ListView: sort state
    SString lvSortFunction;   // ListView: GUICTRLREGISTERLISTVIEWSORT
    std::vector<GraphicEntry> graphic;  // Graphic: the drawing list
};

struct GuiWindow {
    HWND hwnd = nullptr;
    int index = -1;
    HWND parent = nullptr;
    bool childEmulation = false;   // has children made with the 0x40 extended style
    int32_t left = 0, top = 0;
    int32_t width0 = 0, height0 = 0;  // client size as created: the docking reference
    bool visible = false;
    bool locked = false;           // @SW_LOCK
    bool initialLayout = true;
    bool destroying = false;
    // window font
    SString fontName;
    int32_t fontSize = 85;  // tenths of a point
    int32_t fontWeight = 400;
    int32_t fontAttr = 0;
    int32_t fontQuality = 2;
    GdiOwner<HFONT> font;   // the window's font when it is not the default
    // colours (system order, -1 none)
    int32_t bkColor = -1;
    GdiOwner<HBRUSH> bkBrush;
    int32_t defColor = -1, defBkColor = -1;
    // last control rectangle
    int32_t lastX = -1, lastY = -1, lastW = -1, lastH = -1;
    bool radioGroupStarted = false;
    bool groupNext = true;
    // menu bar
    HMENU menuBar = nullptr;
    bool hasMenuBar = false;
    HMENU lastMenu = nullptr;
    // tab
    HWND tab = nullptr;
    int tabId = 0;
    int tabFilling = -1;   // page being filled
    int tabShown = -1;     // page now shown
    int tabPages = 0;
    bool tabOpen = false;
    // misc
    SString helpFile;
    IconOwner bigIcon, smallIcon;
    int32_t cursor = -1;
    bool cursorOverride = false;
    bool controlCursors = false;
    HWND focusEdit = nullptr;       // remembered focus of an edit
    AccelOwner accel;
    int contextMenuId = 0;          // the window's own context menu
    int defButtonId = 0;
    // events layer
    SString onEvent[kGuiEventSlots];
    POINT mouseScreen{}, mouseClient{};
    bool primaryDown = false, secondaryDown = false;
    bool resized = false;
    bool mouseEvents = true;
    int changedEdit = 0;
};

// ---- tables --------------------------------------------------------------------------------------------------
struct GuiState {
    std::vector<std::unique_ptr<GuiWindow>> windows;
    std::vector<std::unique_ptr<GuiControl>> controls;  // indexed by id; slots 0..2 stay empty
    int usedSlots = kGuiFirstId;
    int highestId = kGuiFirstId - 1;
    int current = -1;        // current window index
    int lastCtrl = -1;       // id of the last control created
    int lastCtrlWin = -1;
    int windowCount = 0;
    UINT_PTR timer = 0;      // the 40 ms GUI timer (0: not running)
    // Records of destroyed windows, kept until the next GUICREATE/GUIDELETE so that a caller still holding
    // a reference (a message being dispatched when the script deleted the window) does not see it freed.
    std::vector<std::unique_ptr<GuiWindow>> graveyard;
    int primaryButton = VK_LBUTTON, secondaryButton = VK_RBUTTON;
};
GuiState& gui();

// The record of a GUI window by handle or index; nullptr when it is none of ours (or being destroyed).
GuiWindow* guiWindow(HWND hwnd);
GuiWindow* guiWindowAt(int index);
// The current window (nullptr if none).
GuiWindow* guiCurrentWindow();
// A control by id (-1 or any negative id: the last control); nullptr when there is none.
GuiControl* guiControl(int id);
// A control by its window handle (items are not found this way); nullptr when none.
GuiControl* guiControlFromHwnd(HWND hwnd);
// The window record a control belongs to.
GuiWindow* guiControlWindow(const GuiControl& c);

// Shows tab page `page` of the window (hides the shown page's controls, shows the new ones).
void guiShowTabPage(GuiWindow& w, int page);

// Called on every tick of the 40 ms GUI timer while a GUI window exists (set by the events layer).
extern void (*g_guiTimerTick)();

// The window procedure of every GUI window (installed on creation).
LRESULT CALLBACK guiWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

// Script colour 0xRRGGBB to the system's order (positive values only; 0 and negatives unchanged).
inline int32_t guiColour(int32_t c) {
    if (c <= 0) return c;
    return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
}

// ---- built-ins (gui/gui.cpp, gui/gui_controls.cpp) ------------------------------------------------------------
int bi_GUICREATE(Engine& e, Args& a, Variant& r);
int bi_GUISETSTATE(Engine& e, Args& a, Variant& r);
int bi_GUISWITCH(Engine& e, Args& a, Variant& r);
int bi_GUIDELETE(Engine& e, Args& a, Variant& r);
int bi_GUIGETSTYLE(Engine& e, Args& a, Variant& r);
int bi_GUISETSTYLE(Engine& e, Args& a, Variant& r);
int bi_GUISETCOORD(Engine& e, Args& a, Variant& r);
int bi_GUISTARTGROUP(Engine& e, Args& a, Variant& r);
int bi_GUISETBKCOLOR(Engine& e, Args& a, Variant& r);
int bi_GUISETFONT(Engine& e, Args& a, Variant& r);
int bi_GUISETICON(Engine& e, Args& a, Variant& r);
int bi_GUISETCURSOR(Engine& e, Args& a, Variant& r);
int bi_GUISETHELP(Engine& e, Args& a, Variant& r);
int bi_GUISETACCELERATORS(Engine& e, Args& a, Variant& r);
int bi_GUIGETCURSORINFO(Engine& e, Args& a, Variant& r);

int bi_GUICTRLCREATECOMBO(Engine& e, Args& a, Variant& r);
int bi_GUICTRLCREATELIST(Engine& e, Args& a, Variant& r);
int bi_GUICTRLCREATEEDIT(Engine& e, Args& a, Variant& r);
int bi_GUICTRLCREATEINPUT(Engine& e, Args& a, Variant& r);
int bi_GUICTRLCREATEGROUP(Engine& e, Args& a, Variant& r);
int bi_GUICTRLCREATEDATE(Engine& e, Args& a, Variant& r);
int bi_GUICTRLCREATEPIC(Engine& e, Args& a, Variant& r);
int bi_GUICTRLCREATEICON(Engine& e, Args& a, Variant& r);
int bi_GUICTRLCREATEPROGRESS(Engine& e, Args& a, Variant& r);
int bi_GUICTRLCREATEAVI(Engine& e, Args& a, Variant& r);
int bi_GUICTRLCREATEOBJ(Engine& e, Args& a, Variant& r);
int bi_GUICTRLCREATETAB(Engine& e, Args& a, Variant& r);
int bi_GUICTRLCREATETABITEM(Engine& e, Args& a, Variant& r);
int bi_GUICTRLCREATECONTEXTMENU(Engine& e, Args& a, Variant& r);
int bi_GUICTRLCREATEMENU(Engine& e, Args& a, Variant& r);
int bi_GUICTRLCREATEMENUITEM(Engine& e, Args& a, Variant& r);
int bi_GUICTRLCREATETREEVIEW(Engine& e, Args& a, Variant& r);
int bi_GUICTRLCREATETREEVIEWITEM(Engine& e, Args& a, Variant& r);
int bi_GUICTRLCREATESLIDER(Engine& e, Args& a, Variant& r);
int bi_GUICTRLCREATELISTVIEW(Engine& e, Args& a, Variant& r);
int bi_GUICTRLCREATELISTVIEWITEM(Engine& e, Args& a, Variant& r);
int bi_GUICTRLCREATEDUMMY(Engine& e, Args& a, Variant& r);
int bi_GUICTRLCREATEUPDOWN(Engine& e, Args& a, Variant& r);
int bi_GUICTRLCREATELABEL(Engine& e, Args& a, Variant& r);
int bi_GUICTRLCREATEBUTTON(Engine& e, Args& a, Variant& r);
int bi_GUICTRLCREATECHECKBOX(Engine& e, Args& a, Variant& r);
int bi_GUICTRLCREATERADIO(Engine& e, Args& a, Variant& r);
int bi_GUICTRLCREATEGRAPHIC(Engine& e, Args& a, Variant& r);
int bi_GUICTRLCREATEMONTHCAL(Engine& e, Args& a, Variant& r);

int bi_GUICTRLSETDATA(Engine& e, Args& a, Variant& r);
int bi_GUICTRLREAD(Engine& e, Args& a, Variant& r);
int bi_GUICTRLSETSTATE(Engine& e, Args& a, Variant& r);
int bi_GUICTRLGETSTATE(Engine& e, Args& a, Variant& r);
int bi_GUICTRLSETCOLOR(Engine& e, Args& a, Variant& r);
int bi_GUICTRLSETBKCOLOR(Engine& e, Args& a, Variant& r);
int bi_GUICTRLSETDEFCOLOR(Engine& e, Args& a, Variant& r);
int bi_GUICTRLSETDEFBKCOLOR(Engine& e, Args& a, Variant& r);
int bi_GUICTRLSETFONT(Engine& e, Args& a, Variant& r);
int bi_GUICTRLSETPOS(Engine& e, Args& a, Variant& r);
int bi_GUICTRLSETSTYLE(Engine& e, Args& a, Variant& r);
int bi_GUICTRLSETLIMIT(Engine& e, Args& a, Variant& r);
int bi_GUICTRLSETTIP(Engine& e, Args& a, Variant& r);
int bi_GUICTRLSETCURSOR(Engine& e, Args& a, Variant& r);
int bi_GUICTRLSETIMAGE(Engine& e, Args& a, Variant& r);
int bi_GUICTRLSETGRAPHIC(Engine& e, Args& a, Variant& r);
int bi_GUICTRLSETRESIZING(Engine& e, Args& a, Variant& r);
int bi_GUICTRLDELETE(Engine& e, Args& a, Variant& r);
int bi_GUICTRLGETHANDLE(Engine& e, Args& a, Variant& r);
int bi_GUICTRLSENDMSG(Engine& e, Args& a, Variant& r);
int bi_GUICTRLRECVMSG(Engine& e, Args& a, Variant& r);
int bi_GUICTRLREGISTERLISTVIEWSORT(Engine& e, Args& a, Variant& r);

}  // namespace tx
