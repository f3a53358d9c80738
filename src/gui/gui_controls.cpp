// Creation and deletion of GUI controls: the kind table (window class, styles, default size, docking),
// control ids, placement by GUICoordMode, automatic sizing to the text, and each kind's own set-up
// (items, menus, tab pages, images, date parsing...). One creation routine serves every GUICTRLCREATE...
// built-in; the built-ins only say which kind and where its arguments sit.
#include "gui/gui.h"

#include <ole2.h>
#include <olectl.h>
#include <shellapi.h>

#include <algorithm>

#include "core/engine.h"
#include "env/options.h"
#include "gui/gui_internal.h"
#include "interop/com_bridge.h"
#include "host/startup.h"

namespace tx {

namespace {

struct KindRow {
    CtrlKind kind;
    const wchar_t* cls;  // nullptr: no window of its own
    DWORD defStyle;
    DWORD addStyle;
    DWORD defEx;
    int defW, defH;
    uint16_t dock;
    int8_t textArg;  // index of the text argument, -1 none
    int8_t posArg;   // index of left (then top, width, height, style, exStyle), -1 none
};

// One row per kind; the order does not matter (looked up by kind).
constexpr KindRow kKinds[] = {
    {CtrlKind::Combo, L"ComboBox", 0x210042, 0x10000, 0x200, 200, 150, 512, 0, 1},
    {CtrlKind::List, L"ListBox", 0xA10003, 0x10001, 0x200, 200, 150, 1, 0, 1},
    {CtrlKind::Edit, L"Edit", 0x3010C0, 0x10004, 0x200, 200, 150, 1, 0, 1},
    {CtrlKind::Input, L"Edit", 0x80, 0x10000, 0x200, 200, 20, 512, 0, 1},
    {CtrlKind::Group, L"Button", 0x20007, 0x20007, 0, 200, 150, 1, 0, 1},
    {CtrlKind::Date, L"SysDateTimePick32", 0x10004, 0x10000, 0x200, 200, 20, 512, 0, 1},
    {CtrlKind::Pic, L"Static", 0x10E, 0xE, 0, 150, 150, 768, -1, 1},
    {CtrlKind::Icon, L"Static", 0x10103, 0x10003, 0, 32, 32, 768, -1, 2},
    {CtrlKind::Progress, PROGRESS_CLASSW, 0, 0, 0, 200, 20, 1, -1, 0},
    {CtrlKind::Avi, ANIMATE_CLASSW, 2, 0, 0, 150, 150, 768, -1, 2},
    {CtrlKind::Tab, WC_TABCONTROLW, 0, 0x4010000, 0, 150, 150, 768, -1, 0},
    {CtrlKind::TabItem, nullptr, 0, 0, 0, 0, 0, 0, 0, -1},
    {CtrlKind::ContextMenu, nullptr, 0, 0, 0, 0, 0, 0, -1, -1},
    {CtrlKind::Menu, nullptr, 0, 0, 0, 0, 0, 0, 0, -1},
    {CtrlKind::MenuItem, nullptr, 0, 0, 0, 0, 0, 0, 0, -1},
    {CtrlKind::TreeView, WC_TREEVIEWW, 0x10037, 0x10000, 0, 150, 150, 1, -1, 0},
    {CtrlKind::TreeViewItem, nullptr, 0, 0, 0, 0, 0, 0, 0, -1},
    {CtrlKind::Slider, TRACKBAR_CLASSW, 1, 0, 0, 200, 25, 1, -1, 0},
    {CtrlKind::ListView, WC_LISTVIEWW, 0x1000D, 0x10001, 0x220, 150, 150, 1, 0, 1},
    {CtrlKind::ListViewItem, nullptr, 0, 0, 0, 0, 0, 0, 0, -1},
    {CtrlKind::Dummy, nullptr, 0, 0, 0, 0, 0, 0, -1, -1},
    {CtrlKind::UpDown, UPDOWN_CLASSW, 4, 2, 0, 0, 0, 0, -1, -1},
    {CtrlKind::Label, L"Static", 0x100, 0x100, 0, -1, -1, 1, 0, 1},
    {CtrlKind::Button, L"Button", 0x10000, 0x10000, 0x100, -1, -1, 768, 0, 1},
    {CtrlKind::Checkbox, L"Button", 3, 0x10000, 0, -1, -1, 512, 0, 1},
    {CtrlKind::Radio, L"Button", 9, 0, 0, -1, -1, 512, 0, 1},
    {CtrlKind::Graphic, L"Static", 0x100, 0, 0, 150, 150, 768, -1, 0},
    {CtrlKind::MonthCal, MONTHCAL_CLASSW, 0x10000, 0x10000, 0x200, 0, 0, 768, 0, 1},
    {CtrlKind::Obj, L"AtlAxWin", 0, 0x50010000, 0, 150, 150, 768, -1, 1},
};

// ActiveX hosting: the system's control-hosting library gives the container window ("AtlAxWin") and
// embeds an existing object in it, holding its own reference until the window is destroyed.
using AtlAxWinInitFn = BOOL(WINAPI*)();
using AtlAxAttachControlFn = HRESULT(WINAPI*)(IUnknown*, HWND, IUnknown**);
AtlAxAttachControlFn axHost() {
    static AtlAxAttachControlFn attach = [] () -> AtlAxAttachControlFn {
        if (!comInitialise()) return nullptr;
        HMODULE atl = LoadLibraryW(L"atl.dll");  // kept for the run: its windows may live until the end
        if (!atl) return nullptr;
        auto init = reinterpret_cast<AtlAxWinInitFn>(reinterpret_cast<void*>(GetProcAddress(atl, "AtlAxWinInit")));
        auto fn = reinterpret_cast<AtlAxAttachControlFn>(
            reinterpret_cast<void*>(GetProcAddress(atl, "AtlAxAttachControl")));
        if (!init || !fn || !init()) return nullptr;
        return fn;
    }();
    return attach;
}

// One reference to an interface, released when the holder goes.
struct ComPtrHolder {
    IUnknown* p = nullptr;
    ComPtrHolder() = default;
    ComPtrHolder(const ComPtrHolder&) = delete;
    ComPtrHolder& operator=(const ComPtrHolder&) = delete;
    ~ComPtrHolder() {
        if (p) p->Release();
    }
};

const KindRow& row(CtrlKind k) {
    for (const KindRow& r : kKinds)
        if (r.kind == k) return r;
    return kKinds[0];
}

bool autoSized(CtrlKind k) {
    return k == CtrlKind::Label || k == CtrlKind::Button || k == CtrlKind::Checkbox || k == CtrlKind::Radio;
}

// The lowest free id from 3 up, or 0 when every id is taken.
int takeId() {
    GuiState& g = gui();
    for (int id = kGuiFirstId; id < static_cast<int>(g.controls.size()); ++id)
        if (!g.controls[static_cast<size_t>(id)]) return id;
    if (g.controls.size() < static_cast<size_t>(kGuiFirstId)) g.controls.resize(kGuiFirstId);
    if (g.highestId >= kGuiMaxId) return 0;
    const int id = static_cast<int>(g.controls.size());
    g.controls.emplace_back();
    if (id > g.highestId) g.highestId = id;
    return id;
}

HFONT defaultFont() { return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT)); }

SIZE measureText(HWND h, const SString& text) {
    SIZE sz{0, 0};
    HDC dc = GetDC(h);
    if (!dc) return sz;
    HFONT f = reinterpret_cast<HFONT>(SendMessageW(h, WM_GETFONT, 0, 0));
    HGDIOBJ old = SelectObject(dc, f ? f : defaultFont());
    if (text.empty()) {
        TEXTMETRICW tm{};
        GetTextMetricsW(dc, &tm);
        sz.cy = tm.tmHeight;
    } else {
        RECT rc{0, 0, 0, 0};
        DrawTextW(dc, wzs(text), static_cast<int>(text.size()), &rc, DT_CALCRECT | DT_EXPANDTABS | DT_NOPREFIX);
        sz.cx = rc.right - rc.left;
        sz.cy = rc.bottom - rc.top;
    }
    SelectObject(dc, old);
    ReleaseDC(h, dc);
    return sz;
}

std::vector<SString> splitData(const SString& s) {
    std::vector<SString> parts;
    const char16_t sep = options().guiDataSeparatorChar;
    size_t start = 0;
    for (size_t i = 0; i <= s.size(); ++i) {
        if (i == s.size() || s[i] == sep) {
            parts.emplace_back(s.data() + start, i - start);
            start = i + 1;
        }
    }
    return parts;
}

// Loads a picture file (bmp, ico, jpg, gif) as a bitmap of the given size (0: its own size).
HBITMAP loadPicture(const SString& file, int cx, int cy, SIZE* natural) {
    HBITMAP bmp = static_cast<HBITMAP>(LoadImageW(nullptr, wzs(file), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE));
    HBITMAP result = nullptr;
    if (bmp) {
        BITMAP bm{};
        GetObjectW(bmp, sizeof bm, &bm);
        if (natural) *natural = SIZE{bm.bmWidth, bm.bmHeight};
        if ((cx <= 0 || cx == bm.bmWidth) && (cy <= 0 || cy == bm.bmHeight)) return bmp;
        result = static_cast<HBITMAP>(CopyImage(bmp, IMAGE_BITMAP, cx > 0 ? cx : bm.bmWidth, cy > 0 ? cy : bm.bmHeight,
                                                LR_COPYDELETEORG));
        if (!result) DeleteObject(bmp);
        return result;
    }
    // Other formats through the system's picture loader.
    HANDLE f = CreateFileW(wzs(file), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return nullptr;
    LARGE_INTEGER size{};
    GetFileSizeEx(f, &size);
    if (size.QuadPart <= 0 || size.QuadPart > (256 << 20)) {
        CloseHandle(f);
        return nullptr;
    }
    HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, static_cast<SIZE_T>(size.QuadPart));
    DWORD got = 0;
    bool ok = false;
    if (mem) {
        void* p = GlobalLock(mem);
        ok = p && ReadFile(f, p, static_cast<DWORD>(size.QuadPart), &got, nullptr) && got == size.QuadPart;
        GlobalUnlock(mem);
    }
    CloseHandle(f);
    if (!ok) {
        if (mem) GlobalFree(mem);
        return nullptr;
    }
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(mem, TRUE, &stream))) {
        GlobalFree(mem);
        return nullptr;
    }
    IPicture* pic = nullptr;
    HRESULT hr = OleLoadPicture(stream, static_cast<LONG>(size.QuadPart), FALSE, IID_IPicture,
                                reinterpret_cast<void**>(&pic));
    stream->Release();
    if (FAILED(hr) || !pic) return nullptr;
    OLE_XSIZE_HIMETRIC hw = 0;
    OLE_YSIZE_HIMETRIC hh = 0;
    pic->get_Width(&hw);
    pic->get_Height(&hh);
    HDC screen = GetDC(nullptr);
    const int w = MulDiv(hw, GetDeviceCaps(screen, LOGPIXELSX), 2540);
    const int h = MulDiv(hh, GetDeviceCaps(screen, LOGPIXELSY), 2540);
    if (natural) *natural = SIZE{w, h};
    const int outW = cx > 0 ? cx : w, outH = cy > 0 ? cy : h;
    HDC mem2 = CreateCompatibleDC(screen);
    result = CreateCompatibleBitmap(screen, std::max(outW, 1), std::max(outH, 1));
    if (result && mem2) {
        HGDIOBJ old = SelectObject(mem2, result);
        RECT all{0, 0, outW, outH};
        FillRect(mem2, &all, GetSysColorBrush(COLOR_BTNFACE));
        pic->Render(mem2, 0, 0, outW, outH, 0, hh, hw, -hh, nullptr);
        SelectObject(mem2, old);
    }
    if (mem2) DeleteDC(mem2);
    ReleaseDC(nullptr, screen);
    pic->Release();
    return result;
}

}  // namespace

// Loads an icon from an icon file, or from a program or library by resource name or icon number (numbers
// as the tray takes them: negative n is the (-n)th icon, 1 the first, other n the resource id n).
HICON guiLoadIcon(const SString& file, const Variant& which, int cx, int cy) {
    HICON icon = static_cast<HICON>(LoadImageW(nullptr, wzs(file), IMAGE_ICON, cx, cy, LR_LOADFROMFILE));
    if (icon) return icon;
    if (which.isString() && !which.rawString().empty()) {
        HMODULE mod = LoadLibraryExW(wzs(file), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        if (!mod) return nullptr;
        icon = static_cast<HICON>(LoadImageW(mod, wzs(which.rawString()), IMAGE_ICON, cx, cy, 0));
        FreeLibrary(mod);
        return icon;
    }
    const int32_t n = which.isDefaultKeyword() ? -1 : which.toInt32();
    const int conv = n < 0 ? -n - 1 : (n == 1 ? 0 : -n);
    HICON big = nullptr, small = nullptr;
    if (cx > 16)
        ExtractIconExW(wzs(file), conv, &big, nullptr, 1);
    else
        ExtractIconExW(wzs(file), conv, nullptr, &small, 1);
    return big ? big : small;
}

// Loads a picture into a PIC control, scaled to the control's size.
bool guiSetPicture(GuiControl& c, const SString& file, bool resizeToPicture) {
    RECT rc{};
    GetClientRect(c.hwnd, &rc);
    SIZE natural{0, 0};
    HBITMAP bmp = loadPicture(file, resizeToPicture ? 0 : rc.right, resizeToPicture ? 0 : rc.bottom, &natural);
    if (!bmp) return false;
    SendMessageW(c.hwnd, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bmp));
    c.bitmap.reset(bmp);
    if (resizeToPicture)
        SetWindowPos(c.hwnd, nullptr, 0, 0, natural.cx, natural.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    return true;
}

HFONT guiMakeFont(int32_t size10, int32_t weight, int32_t attr, const SString& name, int32_t quality) {
    LOGFONTW lf{};
    GetObjectW(defaultFont(), sizeof lf, &lf);
    HDC dc = GetDC(nullptr);
    lf.lfHeight = -MulDiv(size10, GetDeviceCaps(dc, LOGPIXELSY), 720);
    ReleaseDC(nullptr, dc);
    lf.lfWidth = 0;
    lf.lfWeight = weight;
    lf.lfItalic = (attr & 2) ? 1 : 0;
    lf.lfUnderline = (attr & 4) ? 1 : 0;
    lf.lfStrikeOut = (attr & 8) ? 1 : 0;
    lf.lfQuality = static_cast<BYTE>(quality);
    lf.lfCharSet = DEFAULT_CHARSET;
    if (!name.empty()) {
        const size_t n = std::min<size_t>(name.size(), LF_FACESIZE - 1);
        for (size_t i = 0; i < n; ++i) lf.lfFaceName[i] = static_cast<wchar_t>(name[i]);
        lf.lfFaceName[n] = 0;
    }
    return CreateFontIndirectW(&lf);
}

bool guiWindowFontIsDefault(const GuiWindow& w) {
    return w.fontName.empty() && w.fontSize == 85 && w.fontWeight == 400 && w.fontAttr == 0 && w.fontQuality == 2;
}

// The client height docking scales from: the creation height, less the menu bar that took its room since.
int guiReferenceHeight(const GuiWindow& w) {
    return w.hasMenuBar ? w.height0 - GetSystemMetrics(SM_CYMENU) : w.height0;
}

bool guiTakesDocking(CtrlKind k) {
    switch (k) {
        case CtrlKind::TabItem:
        case CtrlKind::Menu:
        case CtrlKind::ContextMenu:
        case CtrlKind::MenuItem:
        case CtrlKind::TreeViewItem:
        case CtrlKind::ListViewItem:
        case CtrlKind::Dummy:
        case CtrlKind::UpDown:
            return false;
        default:
            return true;
    }
}

int guiListViewItemIndex(const GuiControl& item) {
    LVFINDINFOW fi{};
    fi.flags = LVFI_PARAM;
    fi.lParam = item.id;
    return static_cast<int>(SendMessageW(item.hwnd, LVM_FINDITEMW, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&fi)));
}

// The control's rectangle in its window's client coordinates.
static RECT clientRect(const GuiControl& c, HWND win) {
    RECT rc{};
    GetWindowRect(c.hwnd, &rc);
    MapWindowPoints(nullptr, win, reinterpret_cast<POINT*>(&rc), 2);
    return rc;
}

void guiComputeReference(GuiControl& c, GuiWindow& w) {
    if (!c.hwnd || !guiTakesDocking(c.kind)) return;
    const RECT rc = clientRect(c, w.hwnd);
    int x = rc.left, y = rc.top, cw = rc.right - rc.left, ch = rc.bottom - rc.top;
    if (!w.initialLayout) {
        // Scale the current rectangle back to the creation size, undoing the docking rules.
        RECT cl{};
        GetClientRect(w.hwnd, &cl);
        const int W = cl.right, H = cl.bottom, W0 = w.width0, H0 = guiReferenceHeight(w);
        if (W > 0 && H > 0 && (W != W0 || H != H0)) {
            const uint16_t d = c.dock;
            int rx = W0 * x / W, ry = H0 * y / H, rw = W0 * cw / W, rh = H0 * ch / H;
            if (d & 256) {
                rw = cw;
                if (!(d & 6)) {
                    if (d & 8)
                        rx = x - (W - W0) / 2;
                    else if (W0 / 2 < rx)
                        rx = W0 - W0 * (W - x - cw) / W - cw;
                }
            }
            if (d & 512) {
                rh = ch;
                if (!(d & 96)) {
                    if (d & 128)
                        ry = y - (H - H0) / 2;
                    else if (H0 / 2 < ry)
                        ry = H0 - H0 * (H - y - ch) / H - ch;
                }
            }
            if (d & 2) rx = x;
            if (d & 4) {
                if (d & 2)
                    rw = cw - (W - W0);
                else
                    rx = x - (W - W0);
            }
            if (d & 32) ry = y;
            if (d & 64) {
                if (d & 32)
                    rh = ch - (H - H0);
                else
                    ry = y - (H - H0);
            }
            x = rx;
            y = ry;
            cw = rw;
            ch = rh;
        }
    }
    c.refX = static_cast<int16_t>(x);
    c.refY = static_cast<int16_t>(y);
    c.refW = static_cast<int16_t>(cw);
    c.refH = static_cast<int16_t>(ch);
}

void guiReleaseControl(GuiControl& c) {
    // Owned objects go with the record; here only what the record does not own by type.
    if (c.kind == CtrlKind::ContextMenu && c.menu) {
        DestroyMenu(c.menu);
        c.menu = nullptr;
    }
}

// The tab page a control goes to: the page being filled while a tab is open.
static uint8_t fillingPage(const GuiWindow& w) {
    return (w.tabOpen && w.tabFilling >= 0) ? static_cast<uint8_t>(w.tabFilling) : kGuiNoPage;
}

namespace {

struct Created {
    int id = 0;
    GuiControl* c = nullptr;
};

// Registers a record for a new control in the slot `id`.
GuiControl* addRecord(int id, CtrlKind kind, int win) {
    GuiState& g = gui();
    auto rec = std::make_unique<GuiControl>();
    rec->id = id;
    rec->kind = kind;
    rec->win = win;
    GuiControl* c = rec.get();
    g.controls[static_cast<size_t>(id)] = std::move(rec);
    ++g.usedSlots;
    return c;
}

void dropRecord(int id) {
    GuiState& g = gui();
    auto& slot = g.controls[static_cast<size_t>(id)];
    if (slot) {
        guiReleaseControl(*slot);
        slot.reset();
        --g.usedSlots;
    }
    // Trailing empty slots are kept: ids are reused lowest first anyway.
}

int fail(Engine& e, Variant& r) {
    r.setInt32(0);
    e.setError(1);
    return 0;
}

void setLast(GuiControl& c, GuiWindow& w) {
    gui().lastCtrl = c.id;
    gui().lastCtrlWin = w.index;
}

// The popup menu a menu or menu item goes into: -1 the menu bar, else a MENU's or CONTEXTMENU's popup.
HMENU menuFor(GuiWindow& w, int parentId, bool createBar, GuiWindow** owner) {
    *owner = &w;
    if (parentId == -1 || parentId == 0) {
        if (!w.hasMenuBar) {
            if (!createBar) return nullptr;
            w.menuBar = CreateMenu();
            if (!w.menuBar) return nullptr;
            SetMenu(w.hwnd, w.menuBar);
            w.hasMenuBar = true;
        }
        return w.menuBar;
    }
    GuiControl* p = guiControl(parentId);
    if (!p || (p->kind != CtrlKind::Menu && p->kind != CtrlKind::ContextMenu)) return nullptr;
    GuiWindow* pw = guiControlWindow(*p);
    if (!pw) return nullptr;
    *owner = pw;
    return p->menu;
}

int createItem(Engine& e, Args& a, Variant& r, CtrlKind kind) {
    GuiState& g = gui();
    const SString text = kind == CtrlKind::ContextMenu || kind == CtrlKind::Dummy ? SString() : a.str(0);
    GuiWindow* w = guiCurrentWindow();

    // Items and menus with a parent belong to the parent's window.
    GuiControl* parent = nullptr;
    int parentArg = -1;
    if (kind == CtrlKind::TreeViewItem || kind == CtrlKind::ListViewItem) parentArg = 1;
    if (kind == CtrlKind::MenuItem) parentArg = 1;
    if (kind == CtrlKind::Menu && a.given(1)) parentArg = 1;
    if (kind == CtrlKind::ContextMenu && a.given(0)) parentArg = 0;
    int parentId = -1;
    if (parentArg >= 0) {
        parentId = a.int32Or(parentArg, -1);
        if (parentId != -1 || kind == CtrlKind::TreeViewItem || kind == CtrlKind::ListViewItem ||
            kind == CtrlKind::ContextMenu) {
            parent = guiControl(parentId);
            if (!parent) return fail(e, r);
            parentId = parent->id;
            w = guiControlWindow(*parent);
        }
    }
    if (!w) return fail(e, r);

    const int id = takeId();
    if (!id) return fail(e, r);
    GuiControl* c = addRecord(id, kind, w->index);
    auto undo = [&] {
        dropRecord(id);
        return fail(e, r);
    };
    c->parentId = parent ? parent->id : 0;

    switch (kind) {
        case CtrlKind::Dummy:
            break;
        case CtrlKind::TabItem: {
            if (!w->tab) return undo();
            if (text.empty()) {
                dropRecord(id);
                if (w->tabOpen) {
                    w->tabOpen = false;
                    const int sel = static_cast<int>(SendMessageW(w->tab, TCM_GETCURSEL, 0, 0));
                    guiShowTabPage(*w, sel < 0 ? 0 : sel);
                }
                r.setInt32(1);
                return 0;
            }
            TCITEMW ti{};
            ti.mask = TCIF_TEXT | TCIF_PARAM;
            ti.pszText = const_cast<wchar_t*>(wzs(text));
            ti.lParam = id;
            const int count = static_cast<int>(SendMessageW(w->tab, TCM_GETITEMCOUNT, 0, 0));
            const int at = static_cast<int>(SendMessageW(w->tab, TCM_INSERTITEMW, count, reinterpret_cast<LPARAM>(&ti)));
            if (at < 0) return undo();
            c->hwnd = w->tab;
            c->tabPage = static_cast<uint8_t>(at);
            w->tabPages = count + 1;
            w->tabFilling = at;
            w->tabOpen = true;
            if (w->tabShown < 0) {
                w->tabShown = 0;
                SendMessageW(w->tab, TCM_SETCURSEL, 0, 0);
            }
            break;
        }
        case CtrlKind::TreeViewItem: {
            HWND tree = parent->hwnd;
            if (parent->kind != CtrlKind::TreeView && parent->kind != CtrlKind::TreeViewItem) return undo();
            TVINSERTSTRUCTW is{};
            is.hParent = parent->kind == CtrlKind::TreeViewItem ? parent->treeItem : TVI_ROOT;
            is.hInsertAfter = TVI_LAST;
            is.item.mask = TVIF_TEXT | TVIF_PARAM;
            is.item.pszText = const_cast<wchar_t*>(wzs(text));
            is.item.lParam = id;
            HTREEITEM it = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&is)));
            if (!it) return undo();
            c->hwnd = tree;
            c->treeItem = it;
            c->tabPage = parent->tabPage;
            break;
        }
        case CtrlKind::ListViewItem: {
            if (parent->kind != CtrlKind::ListView) return undo();
            HWND lv = parent->hwnd;
            const std::vector<SString> parts = splitData(text);
            LVITEMW it{};
            it.mask = LVIF_TEXT | LVIF_PARAM;
            it.iItem = static_cast<int>(SendMessageW(lv, LVM_GETITEMCOUNT, 0, 0));
            it.pszText = const_cast<wchar_t*>(wzs(parts[0]));
            it.lParam = id;
            const int at = static_cast<int>(SendMessageW(lv, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&it)));
            if (at < 0) return undo();
            for (size_t i = 1; i < parts.size(); ++i) {
                LVITEMW sub{};
                sub.iSubItem = static_cast<int>(i);
                sub.pszText = const_cast<wchar_t*>(wzs(parts[i]));
                SendMessageW(lv, LVM_SETITEMTEXTW, at, reinterpret_cast<LPARAM>(&sub));
            }
            c->hwnd = lv;
            c->tabPage = parent->tabPage;
            break;
        }
        case CtrlKind::ContextMenu: {
            HMENU m = CreatePopupMenu();
            if (!m) return undo();
            c->menu = m;
            c->state = 0;
            if (parent) {
                if (GuiControl* old = guiControl(parent->contextMenuId)) guiDeleteControl(*old);
                parent->contextMenuId = id;
            } else {
                if (GuiControl* old = guiControl(w->contextMenuId))
                    if (old->kind == CtrlKind::ContextMenu) guiDeleteControl(*old);
                w->contextMenuId = id;
            }
            break;
        }
        case CtrlKind::Menu: {
            GuiWindow* owner = nullptr;
            HMENU holder = menuFor(*w, parentId, true, &owner);
            if (!holder) return undo();
            HMENU popup = CreatePopupMenu();
            if (!popup) return undo();
            MENUITEMINFOW mi{};
            mi.cbSize = sizeof mi;
            mi.fMask = MIIM_STRING | MIIM_ID | MIIM_SUBMENU;
            mi.wID = static_cast<UINT>(id);
            mi.hSubMenu = popup;
            mi.dwTypeData = const_cast<wchar_t*>(wzs(text));
            const int pos = a.int32Or(2, -1);
            if (!InsertMenuItemW(holder, pos < 0 ? static_cast<UINT>(-1) : static_cast<UINT>(pos), TRUE, &mi)) {
                DestroyMenu(popup);
                return undo();
            }
            c->menu = popup;
            c->holder = holder;
            c->state = 0;
            w->lastMenu = popup;
            if (holder == w->menuBar) DrawMenuBar(w->hwnd);
            break;
        }
        case CtrlKind::MenuItem: {
            GuiWindow* owner = nullptr;
            HMENU holder = menuFor(*w, parentId, false, &owner);
            if (!holder) return undo();
            MENUITEMINFOW mi{};
            mi.cbSize = sizeof mi;
            mi.fMask = MIIM_ID | MIIM_FTYPE;
            mi.wID = static_cast<UINT>(id);
            if (text.empty()) {
                mi.fType = MFT_SEPARATOR;
            } else {
                mi.fMask |= MIIM_STRING;
                mi.dwTypeData = const_cast<wchar_t*>(wzs(text));
                if (a.int32Or(3, 0) == 1) {
                    mi.fType = MFT_RADIOCHECK;
                    c->radioItem = true;
                }
            }
            const int pos = a.int32Or(2, -1);
            if (!InsertMenuItemW(holder, pos < 0 ? static_cast<UINT>(-1) : static_cast<UINT>(pos), TRUE, &mi))
                return undo();
            c->menu = holder;
            c->state = 0;
            if (holder == w->menuBar) DrawMenuBar(w->hwnd);
            break;
        }
        default:
            return undo();
    }
    if (kind != CtrlKind::Menu && kind != CtrlKind::MenuItem && kind != CtrlKind::ContextMenu &&
        kind != CtrlKind::TreeViewItem && kind != CtrlKind::ListViewItem)
        c->tabPage = kind == CtrlKind::TabItem ? c->tabPage : fillingPage(*w);
    if (kind == CtrlKind::Dummy) c->tabPage = kGuiNoPage;
    setLast(*c, *w);
    (void)g;
    r.setInt32(id);
    return 0;
}

// Creation of every kind that has a window of its own.
int createWindowed(Engine& e, Args& a, Variant& r, CtrlKind kind) {
    const KindRow& k = row(kind);
    GuiWindow* w = guiCurrentWindow();
    if (!w) return fail(e, r);

    SString text;
    if (k.textArg >= 0) text = a.str(k.textArg);
    if (kind == CtrlKind::Pic || kind == CtrlKind::Icon || kind == CtrlKind::Avi) text = a.str(0);
    const int p = k.posArg;
    auto num = [&](int i) { return p >= 0 ? a.int32Or(p + i, -1) : -1; };
    int32_t left = num(0), top = num(1), width = num(2), height = num(3);
    const bool styleGiven = p >= 0 && a.given(p + 4) && a.int32(p + 4) != -1;
    const bool exGiven = p >= 0 && a.given(p + 5) && a.int32(p + 5) != -1;
    DWORD style = styleGiven ? static_cast<DWORD>(a.int32(p + 4)) : k.defStyle;
    DWORD ex = exGiven ? static_cast<DWORD>(a.int32(p + 5)) : k.defEx;
    if (width < -1 || height < -1 || width > 32767 || height > 32767 || left < -32767 || left > 32767 ||
        top < -32767 || top > 32767)
        return fail(e, r);

    GuiControl* buddy = nullptr;
    if (kind == CtrlKind::UpDown) {
        buddy = guiControl(a.int32(0));
        if (!buddy || buddy->kind != CtrlKind::Input) return fail(e, r);
        w = guiControlWindow(*buddy);
        if (!w) return fail(e, r);
        style = a.given(1) && a.int32(1) != -1 ? static_cast<DWORD>(a.int32(1)) : k.defStyle;
        style |= UDS_SETBUDDYINT;
        if (!(style & (UDS_ALIGNRIGHT | UDS_ALIGNLEFT))) style |= UDS_ALIGNRIGHT;
    }
    if (kind == CtrlKind::Tab && w->tab) return fail(e, r);
    // The object to embed: checked before anything is made.
    ComPtrHolder object;
    if (kind == CtrlKind::Obj) {
        if (!comUnknownOf(a[0], &object.p) || !axHost()) return fail(e, r);
        // Only an embeddable object (one with IOleObject) can live in a container window.
        IOleObject* ole = nullptr;
        if (FAILED(object.p->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&ole))) || !ole)
            return fail(e, r);
        ole->Release();
        ex |= WS_EX_CONTROLPARENT;
    }

    // Kind-specific style rules.
    switch (kind) {
        case CtrlKind::Edit:
            style |= (style & ES_READONLY) ? ES_MULTILINE : (ES_MULTILINE | WS_TABSTOP);
            break;
        case CtrlKind::Input:
            if (style & ES_READONLY)
                style &= ~static_cast<DWORD>(ES_MULTILINE);
            else
                style |= WS_TABSTOP;
            break;
        case CtrlKind::Avi:
            if (style < 16) style |= 2;
            break;
        case CtrlKind::Checkbox:
            if (!(style & 0xF)) style |= BS_AUTOCHECKBOX;
            style |= WS_TABSTOP;
            break;
        case CtrlKind::Radio:
            if (!(style & 0xF)) style |= BS_AUTORADIOBUTTON;
            break;
        default:
            style |= k.addStyle;
            break;
    }
    bool defButton = false;
    if (kind == CtrlKind::Button && (style & BS_DEFPUSHBUTTON)) {
        style &= ~static_cast<DWORD>(BS_DEFPUSHBUTTON);
        defButton = true;
    }

    // Placement by the coordinate mode.
    int32_t x = 0, y = 0, cw = 0, ch = 0;
    const bool placed = kind != CtrlKind::UpDown;
    const bool hadLast = w->lastW >= 0 && w->lastH >= 0;
    if (placed) {
        const int mode = options().guiCoordMode;
        const int32_t lx = std::max(w->lastX, 0), ly = std::max(w->lastY, 0);
        if (mode == 0) {
            x = lx + (left == -1 ? 0 : left);
            y = ly + (top == -1 ? 0 : top);
        } else if (mode == 2) {
            x = lx + std::max(w->lastW, 0) + (left == -1 ? 0 : left);
            y = ly + std::max(w->lastH, 0) + (top == -1 ? 0 : top);
        } else {
            x = left == -1 ? lx : left;
            y = top == -1 ? ly : top;
        }
        if (width > 0) w->lastW = width;
        if (height > 0) w->lastH = height;
        cw = w->lastW >= 0 ? w->lastW : k.defW;
        ch = w->lastH >= 0 ? w->lastH : k.defH;
        // A calendar without a size given takes the smallest size that shows a whole month.
        if (kind == CtrlKind::MonthCal && width <= 0) cw = 0;
        if (kind == CtrlKind::MonthCal && height <= 0) ch = 0;
        if (cw < 0) cw = 0;
        if (ch < 0) ch = 0;
        w->lastX = x;
        w->lastY = y;
    }

    // Groups.
    if (style & WS_GROUP) w->radioGroupStarted = true;
    if (w->groupNext) {
        style |= WS_GROUP;
        w->groupNext = false;
        w->radioGroupStarted = true;
    }
    if (kind == CtrlKind::Radio) {
        if (w->radioGroupStarted) style |= WS_TABSTOP | WS_GROUP;
        w->radioGroupStarted = false;
    } else if (GuiControl* last = guiControl(gui().lastCtrl); last && last->win == w->index &&
                                                                last->kind == CtrlKind::Radio) {
        // A control after a run of radios ends their group, so the run is checked as one set.
        style |= WS_GROUP;
    }

    const int id = takeId();
    if (!id) return fail(e, r);
    GuiControl* c = addRecord(id, kind, w->index);
    auto undo = [&] {
        if (c->hwnd && IsWindow(c->hwnd)) DestroyWindow(c->hwnd);
        c->hwnd = nullptr;
        dropRecord(id);
        return fail(e, r);
    };
    c->tabPage = kind == CtrlKind::UpDown ? buddy->tabPage : fillingPage(*w);
    DWORD wstyle = style | WS_CHILD | WS_VISIBLE;
    if (c->tabPage != kGuiNoPage && c->tabPage != w->tabShown) wstyle &= ~static_cast<DWORD>(WS_VISIBLE);
    if (kind == CtrlKind::Tab) wstyle |= WS_CLIPSIBLINGS;
    ex &= ~static_cast<DWORD>(WS_EX_LAYERED);
    DWORD winEx = ex;
    if (kind == CtrlKind::ListView) winEx &= ~static_cast<DWORD>(LVS_EX_FULLROWSELECT | LVS_EX_CHECKBOXES);
    const bool textAsWindowText = kind == CtrlKind::Label || kind == CtrlKind::Button || kind == CtrlKind::Checkbox ||
                                  kind == CtrlKind::Radio || kind == CtrlKind::Group || kind == CtrlKind::Edit ||
                                  kind == CtrlKind::Input;
    ensureCommonControls();
    HWND h = CreateWindowExW(winEx, k.cls, textAsWindowText ? wzs(text) : L"", wstyle, x, y, cw, ch, w->hwnd,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instanceHandle(), nullptr);
    if (!h) return undo();
    c->hwnd = h;
    SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(defaultFont()), 0);

    // Kind-specific set-up.
    switch (kind) {
        case CtrlKind::Combo:
            if (!text.empty()) {
                SendMessageW(h, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wzs(text)));
                SendMessageW(h, CB_SETCURSEL, 0, 0);
            }
            break;
        case CtrlKind::List:
            if (!text.empty()) {
                SendMessageW(h, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wzs(text)));
                SendMessageW(h, LB_SETCURSEL, 0, 0);
            }
            break;
        case CtrlKind::Edit:
            SendMessageW(h, EM_SETSEL, text.size(), text.size());
            break;
        case CtrlKind::Date: {
            SYSTEMTIME st{};
            if (guiParseDate(text, (style & 8) != 0, st))
                SendMessageW(h, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&st));
            break;
        }
        case CtrlKind::MonthCal: {
            SYSTEMTIME st{};
            if (guiParseDate(text, false, st)) SendMessageW(h, MCM_SETCURSEL, 0, reinterpret_cast<LPARAM>(&st));
            if (cw == 0 || ch == 0) {
                RECT mr{};
                SendMessageW(h, MCM_GETMINREQRECT, 0, reinterpret_cast<LPARAM>(&mr));
                const int nw = cw ? cw : mr.right - mr.left, nh = ch ? ch : mr.bottom - mr.top;
                SetWindowPos(h, nullptr, 0, 0, nw, nh, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
            }
            break;
        }
        case CtrlKind::Pic:
            if (!guiSetPicture(*c, text, false)) return undo();
            if (GetWindowLongPtrW(w->hwnd, GWL_EXSTYLE) & WS_EX_LAYERED) {
                HDC dc = CreateCompatibleDC(nullptr);
                HGDIOBJ old = SelectObject(dc, c->bitmap.get());
                const COLORREF key = GetPixel(dc, 0, 0);
                SelectObject(dc, old);
                DeleteDC(dc);
                SetLayeredWindowAttributes(w->hwnd, key, 0, LWA_COLORKEY);
            }
            break;
        case CtrlKind::Icon: {
            HICON icon = guiLoadIcon(text, a[1], cw ? cw : 32, ch ? ch : 32);
            if (!icon) return undo();
            SendMessageW(h, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
            c->icon.reset(icon);
            SetWindowPos(h, nullptr, 0, 0, cw, ch, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
            break;
        }
        case CtrlKind::Obj:
            if (FAILED(axHost()(object.p, h, nullptr))) return undo();
            break;
        case CtrlKind::Progress:
            SendMessageW(h, PBM_SETRANGE32, 0, 100);
            SendMessageW(h, PBM_SETSTEP, 1, 0);
            SendMessageW(h, PBM_SETBKCOLOR, 0, static_cast<LPARAM>(CLR_DEFAULT));
            SendMessageW(h, PBM_SETBARCOLOR, 0, static_cast<LPARAM>(CLR_DEFAULT));
            SendMessageW(h, PBM_SETPOS, 0, 0);
            break;
        case CtrlKind::Avi: {
            if (!SendMessageW(h, ACM_OPENW, 0, reinterpret_cast<LPARAM>(wzs(text)))) {
                HMODULE mod = LoadLibraryExW(wzs(text), nullptr, LOAD_LIBRARY_AS_DATAFILE);
                const int sub = a.int32Or(1, -1);
                if (!mod || sub < 0 ||
                    !SendMessageW(h, ACM_OPENW, reinterpret_cast<WPARAM>(mod),
                                  reinterpret_cast<LPARAM>(MAKEINTRESOURCEW(sub)))) {
                    if (mod) FreeLibrary(mod);
                    return undo();
                }
                c->module.reset(mod);
            }
            break;
        }
        case CtrlKind::Tab:
            w->tab = h;
            w->tabId = id;
            break;
        case CtrlKind::TreeView:
            if (style & TVS_CHECKBOXES) {
                SetWindowLongPtrW(h, GWL_STYLE, static_cast<LONG>(wstyle & ~static_cast<DWORD>(TVS_CHECKBOXES)));
                SetWindowLongPtrW(h, GWL_STYLE, static_cast<LONG>(wstyle));
            }
            break;
        case CtrlKind::Slider:
            SendMessageW(h, TBM_SETPOS, TRUE, 0);
            if (style & TBS_AUTOTICKS) {
                SendMessageW(h, TBM_SETRANGE, TRUE, MAKELPARAM(0, 100));
                SendMessageW(h, TBM_SETTICFREQ, 10, 0);
            }
            break;
        case CtrlKind::ListView: {
            SendMessageW(h, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, static_cast<LPARAM>(ex));
            const std::vector<SString> parts = splitData(text);
            const int dashes = static_cast<int>(SendMessageW(h, LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(L"-----")));
            if (!(parts.size() == 1 && parts[0].empty())) {
                for (size_t i = 0; i < parts.size(); ++i) {
                    LVCOLUMNW col{};
                    col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
                    col.pszText = const_cast<wchar_t*>(wzs(parts[i]));
                    const int tw = static_cast<int>(SendMessageW(h, LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(wzs(parts[i]))));
                    col.cx = std::min(tw + dashes, 150);
                    col.iSubItem = static_cast<int>(i);
                    SendMessageW(h, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&col));
                }
                c->lvLastColumn = -1;
            }
            break;
        }
        case CtrlKind::UpDown:
            SendMessageW(h, UDM_SETBUDDY, reinterpret_cast<WPARAM>(buddy->hwnd), 0);
            SendMessageW(h, UDM_SETRANGE32, static_cast<WPARAM>(-32767), 32767);
            c->parentId = buddy->id;
            break;
        case CtrlKind::Graphic:
            guiSubclassGraphic(h);
            break;
        case CtrlKind::Button:
            if (defButton) {
                SendMessageW(w->hwnd, DM_SETDEFID, static_cast<WPARAM>(id), 0);
                SendMessageW(h, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
                w->defButtonId = id;
            }
            break;
        default:
            break;
    }

    // The window's font, when it is not the default one.
    if (!guiWindowFontIsDefault(*w)) {
        HFONT f = guiMakeFont(w->fontSize, w->fontWeight, w->fontAttr, w->fontName, w->fontQuality);
        if (f) {
            c->font.reset(f);
            SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(f), TRUE);
        }
    }

    // Automatic size to the text.
    if (autoSized(kind) && (width == -1 || height == -1)) {
        const SIZE sz = measureText(h, text);
        int cx = sz.cx, cy = sz.cy;
        if (kind == CtrlKind::Button) cy += 4;
        if (kind == CtrlKind::Checkbox) cx += 12;
        if (kind == CtrlKind::Radio) cx += 8;
        const bool keepLast = options().guiCoordMode == 2 && hadLast;
        if (height == -1) {
            ch = cy + 8;
            if (!keepLast) w->lastH = ch;
        }
        if (width == -1) {
            cw = cx + 8;
            if (!keepLast) w->lastW = cw;
        }
        SetWindowPos(h, nullptr, x, y, cw, ch, SWP_NOZORDER | SWP_NOACTIVATE);
    }

    // Docking flags and reference, default colours.
    const int32_t mode = options().guiResizeMode;
    if (kind == CtrlKind::UpDown)
        c->dock = 0;
    else
        c->dock = static_cast<uint16_t>(mode != 0 ? mode : k.dock);
    if (kind == CtrlKind::Graphic) c->dock |= 768;
    guiComputeReference(*c, *w);
    if (w->defColor != -1) guiSetColour(*c, w->defColor, false);
    if (w->defBkColor != -1) guiSetColour(*c, w->defBkColor, true);
    setLast(*c, *w);
    r.setInt32(id);
    return 0;
}

}  // namespace

void guiDeleteControl(GuiControl& c) {
    GuiState& g = gui();
    const int id = c.id;
    GuiWindow* w = guiControlWindow(c);
    switch (c.kind) {
        case CtrlKind::Tab:
            for (auto& o : g.controls)
                if (o && o->kind == CtrlKind::TabItem && o->win == c.win) dropRecord(o->id);
            if (w) {
                w->tab = nullptr;
                w->tabId = 0;
                w->tabOpen = false;
                w->tabPages = 0;
                w->tabFilling = w->tabShown = -1;
            }
            DestroyWindow(c.hwnd);
            break;
        case CtrlKind::TabItem: {
            const int page = c.tabPage;
            if (w && w->tab) {
                SendMessageW(w->tab, TCM_DELETEITEM, static_cast<WPARAM>(page), 0);
                // Controls of the page go with it; later pages move down by one.
                for (auto& o : g.controls) {
                    if (!o || o->win != c.win || o.get() == &c || o->tabPage == kGuiNoPage) continue;
                    if (o->kind == CtrlKind::TabItem) {
                        if (o->tabPage > page) --o->tabPage;
                    } else if (o->tabPage == page) {
                        if (o->hwnd && o->kind != CtrlKind::TreeViewItem && o->kind != CtrlKind::ListViewItem)
                            ShowWindow(o->hwnd, SW_HIDE);
                        o->tabPage = kGuiNoPage - 1;  // orphaned: never shown again by page changes
                    } else if (o->tabPage > page && o->tabPage != kGuiNoPage - 1) {
                        --o->tabPage;
                    }
                }
                w->tabPages = static_cast<int>(SendMessageW(w->tab, TCM_GETITEMCOUNT, 0, 0));
                if (w->tabFilling >= page) w->tabFilling = w->tabFilling > 0 ? w->tabFilling - 1 : (w->tabPages ? 0 : -1);
                if (w->tabShown == page) {
                    w->tabShown = -1;
                    if (w->tabPages > 0) guiShowTabPage(*w, page > 0 ? page - 1 : 0);
                } else if (w->tabShown > page) {
                    --w->tabShown;
                }
            }
            break;
        }
        case CtrlKind::TreeViewItem:
            // Children of the item go with it: their records are dropped first.
            for (auto& o : g.controls)
                if (o && o->kind == CtrlKind::TreeViewItem && o->parentId == id && o.get() != &c) guiDeleteControl(*o);
            SendMessageW(c.hwnd, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(c.treeItem));
            break;
        case CtrlKind::ListViewItem: {
            const int at = guiListViewItemIndex(c);
            if (at >= 0) SendMessageW(c.hwnd, LVM_DELETEITEM, at, 0);
            break;
        }
        case CtrlKind::Menu:
            for (auto& o : g.controls)
                if (o && (o->kind == CtrlKind::MenuItem || o->kind == CtrlKind::Menu) && o->menu == c.menu &&
                    o.get() != &c && o->kind == CtrlKind::MenuItem)
                    dropRecord(o->id);
            for (auto& o : g.controls)
                if (o && o->kind == CtrlKind::Menu && o->holder == c.menu) guiDeleteControl(*o);
            DeleteMenu(c.holder, static_cast<UINT>(id), MF_BYCOMMAND);  // destroys the popup too
            if (w && c.holder == w->menuBar) DrawMenuBar(w->hwnd);
            if (w && w->lastMenu == c.menu) w->lastMenu = nullptr;
            break;
        case CtrlKind::MenuItem:
            DeleteMenu(c.menu, static_cast<UINT>(id), MF_BYCOMMAND);
            if (w && c.menu == w->menuBar) DrawMenuBar(w->hwnd);
            break;
        case CtrlKind::ContextMenu:
            for (auto& o : g.controls)
                if (o && o->kind == CtrlKind::MenuItem && o->menu == c.menu) dropRecord(o->id);
            for (auto& o : g.controls)
                if (o && o->kind == CtrlKind::Menu && o->holder == c.menu) {
                    o->menu = nullptr;  // destroyed with the context menu
                    dropRecord(o->id);
                }
            for (auto& o : g.controls)
                if (o && o->contextMenuId == id) o->contextMenuId = 0;
            if (w && w->contextMenuId == id) w->contextMenuId = 0;
            break;
        case CtrlKind::TreeView:
        case CtrlKind::ListView:
            for (auto& o : g.controls)
                if (o && (o->kind == CtrlKind::TreeViewItem || o->kind == CtrlKind::ListViewItem) && o->hwnd == c.hwnd)
                    dropRecord(o->id);
            DestroyWindow(c.hwnd);
            break;
        case CtrlKind::Dummy:
            break;
        default:
            if (c.hwnd) {
                if (w && (c.kind == CtrlKind::Edit || c.kind == CtrlKind::Input) && w->focusEdit == c.hwnd)
                    w->focusEdit = nullptr;
                if (w && w->changedEdit == id) w->changedEdit = 0;
                if (c.kind == CtrlKind::Avi) SendMessageW(c.hwnd, ACM_OPENW, 0, 0);
                DestroyWindow(c.hwnd);
            }
            break;
    }
    if (c.contextMenuId)
        if (GuiControl* m = guiControl(c.contextMenuId); m && m->kind == CtrlKind::ContextMenu) guiDeleteControl(*m);
    if (g.lastCtrl == id) g.lastCtrl = -1;
    dropRecord(id);
}

// ---- the creation built-ins -------------------------------------------------------------------------------------
#define TX_CREATE(NAME, KIND) \
    int bi_GUICTRLCREATE##NAME(Engine& e, Args& a, Variant& r) { return createWindowed(e, a, r, CtrlKind::KIND); }
#define TX_CREATE_ITEM(NAME, KIND) \
    int bi_GUICTRLCREATE##NAME(Engine& e, Args& a, Variant& r) { return createItem(e, a, r, CtrlKind::KIND); }

TX_CREATE(COMBO, Combo)
TX_CREATE(LIST, List)
TX_CREATE(EDIT, Edit)
TX_CREATE(INPUT, Input)
TX_CREATE(GROUP, Group)
TX_CREATE(DATE, Date)
TX_CREATE(PIC, Pic)
TX_CREATE(ICON, Icon)
TX_CREATE(PROGRESS, Progress)
TX_CREATE(AVI, Avi)
TX_CREATE(TAB, Tab)
TX_CREATE(TREEVIEW, TreeView)
TX_CREATE(SLIDER, Slider)
TX_CREATE(LISTVIEW, ListView)
TX_CREATE(UPDOWN, UpDown)
TX_CREATE(LABEL, Label)
TX_CREATE(BUTTON, Button)
TX_CREATE(CHECKBOX, Checkbox)
TX_CREATE(RADIO, Radio)
TX_CREATE(GRAPHIC, Graphic)
TX_CREATE(MONTHCAL, MonthCal)
TX_CREATE(OBJ, Obj)
TX_CREATE_ITEM(TABITEM, TabItem)
TX_CREATE_ITEM(CONTEXTMENU, ContextMenu)
TX_CREATE_ITEM(MENU, Menu)
TX_CREATE_ITEM(MENUITEM, MenuItem)
TX_CREATE_ITEM(TREEVIEWITEM, TreeViewItem)
TX_CREATE_ITEM(LISTVIEWITEM, ListViewItem)
TX_CREATE_ITEM(DUMMY, Dummy)

#undef TX_CREATE
#undef TX_CREATE_ITEM

}  // namespace tx
