// The GUI... built-ins that act on whole windows: creation, state, switching, deletion, styles, the
// placement rectangle, groups, background colour, font, icons, cursor, help file, accelerators and the
// cursor information. Window records are made here and freed by the window procedure's clean-up when the
// window is destroyed (gui_window.cpp).
#include "gui/gui.h"

#include <algorithm>

#include <shellapi.h>

#include "automation/keys.h"
#include "core/engine.h"
#include "gui/gui_internal.h"
#include "host/startup.h"

namespace tx {

void (*g_guiTimerTick)() = nullptr;

namespace {

void CALLBACK guiTimerProc(HWND, UINT, UINT_PTR, DWORD) {
    if (g_guiTimerTick) g_guiTimerTick();
}

// The window a built-in acts on: the one given by handle (which becomes current) or the current one.
GuiWindow* targetWindow(const Args& a, int i) {
    if (a.given(i)) {
        GuiWindow* w = guiWindow(reinterpret_cast<HWND>(a[i].toPtr()));
        if (w) gui().current = w->index;
        return w;
    }
    return guiCurrentWindow();
}

void activateOwn(HWND h) {
    if (IsIconic(h)) ShowWindow(h, SW_RESTORE);
    SetForegroundWindow(h);
    SetActiveWindow(h);
}

}  // namespace

void guiLeaveInitialLayout(GuiWindow& w) {
    if (w.initialLayout) {
        w.initialLayout = false;
        // From now on docking references are recomputed from current rectangles.
    }
    if (w.tabOpen && w.tab) {
        const int sel = static_cast<int>(SendMessageW(w.tab, TCM_GETCURSEL, 0, 0));
        guiShowTabPage(w, sel < 0 ? 0 : sel);
    }
}

int bi_GUICREATE(Engine& e, Args& a, Variant& r) {
    GuiState& g = gui();
    g.graveyard.clear();
    const SString title = a.str(0);
    int32_t width = a.int32Or(1, -1), height = a.int32Or(2, -1);
    int32_t left = a.int32Or(3, -1), top = a.int32Or(4, -1);
    DWORD style = static_cast<DWORD>(a.int32Or(5, -1));
    DWORD ex = static_cast<DWORD>(a.int32Or(6, -1));
    HWND parent = a.given(7) ? reinterpret_cast<HWND>(a[7].toPtr()) : nullptr;
    if (parent && !IsWindow(parent)) parent = nullptr;
    auto fail = [&] {
        r.setPtr(0);
        e.setError(1);
        return 0;
    };

    if (style == 0xFFFFFFFFu) style = 0x80CA0000u;
    if (style & WS_MAXIMIZEBOX)
        style |= WS_CLIPSIBLINGS | WS_SYSMENU;
    else
        style |= WS_CLIPSIBLINGS;
    if (style & WS_THICKFRAME) style |= WS_SYSMENU;
    if (ex == 0xFFFFFFFFu) ex = 0;
    if (width < 0) width = 400;
    if (height < 0) height = 400;
    if (width > 32767 || height > 32767) return fail();

    GuiWindow* parentRec = nullptr;
    const int dlgW = GetSystemMetrics(SM_CXDLGFRAME), dlgH = GetSystemMetrics(SM_CYDLGFRAME);
    const bool caption = (style & WS_CAPTION) == WS_CAPTION;
    if (ex & WS_EX_MDICHILD) {
        if (!parent) return fail();
        ex &= ~static_cast<DWORD>(WS_EX_MDICHILD);
        parentRec = guiWindow(parent);
        RECT pr{}, pc{};
        GetWindowRect(parent, &pr);
        GetClientRect(parent, &pc);
        if (left == -1) left = 0;
        if (top == -1) top = 0;
        left += pr.right - pc.right - dlgW;
        top += pr.bottom - pc.bottom - dlgH + (caption ? GetSystemMetrics(SM_CYCAPTION) : 0);
    }
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    if (left == -1) left = (work.left + work.right - width - dlgW) / 2;
    if (top == -1) {
        top = (work.top + work.bottom - height - dlgH) / 2;
        if (style & WS_DLGFRAME) top -= GetSystemMetrics(SM_CYCAPTION) / 2;
    }
    RECT outer{0, 0, width, height};
    // An overlapped top-level window always gets a caption from the system, so its size counts one.
    DWORD sizing = style & ~static_cast<DWORD>(WS_VISIBLE);
    if (!(sizing & (WS_POPUP | WS_CHILD))) sizing |= WS_CAPTION;
    AdjustWindowRectEx(&outer, sizing, FALSE, ex);

    // A slot: the first empty one, else a new one at the end.
    int index = 0;
    while (index < static_cast<int>(g.windows.size()) && g.windows[static_cast<size_t>(index)]) ++index;
    if (index == static_cast<int>(g.windows.size())) g.windows.emplace_back();
    auto rec = std::make_unique<GuiWindow>();
    rec->index = index;
    rec->parent = parent;

    HWND h = CreateWindowExW(ex, L"Tarvex v3 GUI", wzs(title), style & ~static_cast<DWORD>(WS_VISIBLE), left, top,
                             outer.right - outer.left, outer.bottom - outer.top, parent, nullptr, instanceHandle(),
                             nullptr);
    if (!h) {
        if (index == static_cast<int>(g.windows.size()) - 1) g.windows.pop_back();
        return fail();
    }
    if (parentRec) parentRec->childEmulation = true;
    rec->hwnd = h;
    rec->left = left;
    rec->top = top;
    rec->width0 = width;
    rec->height0 = height;
    GuiWindow* w = rec.get();
    g.windows[static_cast<size_t>(index)] = std::move(rec);
    SetWindowLongPtrW(h, GWLP_USERDATA, index + 1);
    SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(guiWindowProc));
    SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), 0);
    GetCursorPos(&w->mouseScreen);
    w->mouseClient = w->mouseScreen;
    ScreenToClient(h, &w->mouseClient);
    if (!g.timer) g.timer = SetTimer(nullptr, 0, 40, guiTimerProc);
    ++g.windowCount;
    const int previous = g.current;
    g.current = index;
    w->groupNext = true;
    w->radioGroupStarted = false;

    if (style & WS_VISIBLE) {
        if (width == 0 || height == 0) {
            // A window that cannot be shown is not made at all: the current window stays what it was.
            DestroyWindow(h);
            if (guiWindowAt(previous)) g.current = previous;
            r.setPtr(0);
            return 0;
        }
        guiLeaveInitialLayout(*w);
        ShowWindow(h, SW_SHOWNOACTIVATE);
        w->visible = true;
    }
    r.setPtr(reinterpret_cast<uintptr_t>(h));
    return 0;
}

int bi_GUISETSTATE(Engine&, Args& a, Variant& r) {
    const int32_t flag = a.int32Or(0, SW_SHOW);
    GuiWindow* w = targetWindow(a, 1);
    if (!w) {
        r.setInt32(0);
        return 0;
    }
    HWND h = w->hwnd;
    guiLeaveInitialLayout(*w);
    r.setInt32(1);
    switch (flag) {
        case SW_HIDE:
            ShowWindow(h, SW_HIDE);
            w->visible = false;
            break;
        case SW_SHOWNORMAL:
        case SW_SHOWNOACTIVATE:
        case SW_SHOW:
        case SW_SHOWNA:
            if (w->visible) {
                r.setInt32(0);
                break;
            }
            ShowWindow(h, flag);
            if (flag == SW_SHOWNORMAL || flag == SW_SHOW) activateOwn(h);
            w->visible = true;
            break;
        case SW_SHOWMINIMIZED:
            w->visible = true;
            ShowWindow(h, SW_MINIMIZE);
            break;
        case SW_MINIMIZE:
            if (!w->visible) {
                r.setInt32(0);
                break;
            }
            ShowWindow(h, SW_MINIMIZE);
            break;
        case SW_MAXIMIZE:
        case SW_RESTORE:
            if (!w->visible) {
                r.setInt32(0);
                break;
            }
            ShowWindow(h, flag);
            activateOwn(h);
            break;
        case 64:
            EnableWindow(h, TRUE);
            break;
        case 65:
            EnableWindow(h, FALSE);
            break;
        case 66:
            w->locked = true;
            SendMessageW(h, WM_SETREDRAW, FALSE, 0);
            break;
        case 67:
            w->locked = false;
            SendMessageW(h, WM_SETREDRAW, TRUE, 0);
            RedrawWindow(h, nullptr, nullptr, RDW_ERASE | RDW_FRAME | RDW_INVALIDATE | RDW_ALLCHILDREN);
            break;
        default:
            break;
    }
    return 0;
}

int bi_GUISWITCH(Engine&, Args& a, Variant& r) {
    GuiState& g = gui();
    GuiWindow* w = guiWindow(reinterpret_cast<HWND>(a[0].toPtr()));
    if (!w) {
        r.setInt32(0);
        return 0;
    }
    GuiWindow* prev = guiCurrentWindow();
    if (a.given(1)) {
        GuiControl* item = guiControl(a.int32(1));
        if (!item || item->kind != CtrlKind::TabItem || item->win != w->index) {
            r.setInt32(0);
            return 0;
        }
        w->tabFilling = item->tabPage;
        w->tabOpen = true;
    }
    g.current = w->index;
    r.setPtr(reinterpret_cast<uintptr_t>(prev ? prev->hwnd : nullptr));
    return 0;
}

int bi_GUIDELETE(Engine&, Args& a, Variant& r) {
    gui().graveyard.clear();
    GuiWindow* w = a.given(0) ? guiWindow(reinterpret_cast<HWND>(a[0].toPtr())) : guiCurrentWindow();
    if (!w) {
        r.setInt32(0);
        return 0;
    }
    DestroyWindow(w->hwnd);
    return 0;
}

// Called by the window procedure when a GUI window is gone: releases its controls and its record.
void guiWindowGone(GuiWindow& w) {
    GuiState& g = gui();
    const int index = w.index;
    for (auto& c : g.controls) {
        if (!c || c->win != index) continue;
        guiReleaseControl(*c);
        c.reset();
        --g.usedSlots;
    }
    if (g.lastCtrlWin == index) {
        g.lastCtrl = -1;
        g.lastCtrlWin = -1;
    }
    w.destroying = true;
    w.hwnd = nullptr;
    g.graveyard.push_back(std::move(g.windows[static_cast<size_t>(index)]));
    while (!g.windows.empty() && !g.windows.back()) g.windows.pop_back();
    --g.windowCount;
    if (g.current == index) g.current = -1;
    int left = -1, count = 0;
    for (auto& o : g.windows)
        if (o) {
            left = o->index;
            ++count;
        }
    if (count == 1) g.current = left;
    if (count == 0 && g.timer) {
        KillTimer(nullptr, g.timer);
        g.timer = 0;
    }
}

int bi_GUIGETSTYLE(Engine&, Args& a, Variant& r) {
    GuiWindow* w = targetWindow(a, 0);
    if (!w) {
        r.setInt32(0);
        return 0;
    }
    uint32_t two = 2;
    ArrayData* arr = ArrayData::create(&two, 1);
    arr->at(0) = Variant::int32(static_cast<int32_t>(GetWindowLongPtrW(w->hwnd, GWL_STYLE)));
    arr->at(1) = Variant::int32(static_cast<int32_t>(GetWindowLongPtrW(w->hwnd, GWL_EXSTYLE)));
    r = Variant::array(arr);
    return 0;
}

int bi_GUISETSTYLE(Engine&, Args& a, Variant& r) {
    GuiWindow* w = targetWindow(a, 2);
    if (!w) {
        r.setInt32(0);
        return 0;
    }
    const int32_t style = a.int32(0);
    const int32_t ex = a.int32Or(1, -1);
    if (style != -1) {
        DWORD s = static_cast<DWORD>(style);
        if (IsWindowVisible(w->hwnd)) s |= WS_VISIBLE;
        SetWindowLongPtrW(w->hwnd, GWL_STYLE, static_cast<LONG>(s));
    }
    if (ex != -1) SetWindowLongPtrW(w->hwnd, GWL_EXSTYLE, ex);
    SetWindowPos(w->hwnd, nullptr, 0, 0, 0, 0, SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER |
                                                   SWP_NOACTIVATE);
    InvalidateRect(w->hwnd, nullptr, TRUE);
    return 0;
}

int bi_GUISETCOORD(Engine&, Args& a, Variant& r) {
    GuiWindow* w = targetWindow(a, 4);
    if (!w) {
        r.setInt32(0);
        return 0;
    }
    w->lastX = a.int32(0);
    w->lastY = a.int32(1);
    const int32_t cw = a.int32Or(2, -1), ch = a.int32Or(3, -1);
    if (cw > 0) w->lastW = cw;
    if (ch > 0) w->lastH = ch;
    return 0;
}

int bi_GUISTARTGROUP(Engine&, Args& a, Variant& r) {
    GuiWindow* w = targetWindow(a, 0);
    if (!w) {
        r.setInt32(0);
        return 0;
    }
    w->groupNext = true;
    w->radioGroupStarted = false;
    return 0;
}

int bi_GUISETBKCOLOR(Engine&, Args& a, Variant& r) {
    GuiWindow* w = targetWindow(a, 1);
    if (!w) {
        r.setInt32(0);
        return 0;
    }
    const int32_t c = a.int32(0);
    if (c < 0) {
        w->bkColor = -1;
        w->bkBrush.reset();
    } else {
        w->bkColor = guiColour(c);
        w->bkBrush.reset(CreateSolidBrush(static_cast<COLORREF>(w->bkColor)));
    }
    InvalidateRect(w->hwnd, nullptr, TRUE);
    return 0;
}

int bi_GUISETFONT(Engine&, Args& a, Variant& r) {
    GuiWindow* w = targetWindow(a, 4);
    if (!w) {
        r.setInt32(0);
        return 0;
    }
    const double size = a.dbl(0);
    if (size > 10000) {
        r.setInt32(0);
        return 0;
    }
    if (size >= 0) w->fontSize = static_cast<int32_t>(size * 10 + 0.5);
    const int32_t weight = a.int32Or(1, -1);
    if (weight >= 0) w->fontWeight = weight;
    const int32_t attr = a.int32Or(2, -1);
    if (attr >= 0) w->fontAttr = attr;
    if (a.given(3) && !a.str(3).empty()) w->fontName = a.str(3);
    const int32_t quality = a.int32Or(5, -1);
    if (quality >= 0) w->fontQuality = quality;
    return 0;
}

int bi_GUISETICON(Engine&, Args& a, Variant& r) {
    GuiWindow* w = targetWindow(a, 2);
    if (!w) {
        r.setInt32(0);
        return 0;
    }
    const SString file = a.str(0);
    const int32_t n = a.int32Or(1, -1);
    const int conv = n < 0 ? -n - 1 : (n == 1 ? 0 : -n);
    HICON small = static_cast<HICON>(LoadImageW(nullptr, wzs(file), IMAGE_ICON, 16, 16, LR_LOADFROMFILE));
    if (!small) ExtractIconExW(wzs(file), conv, nullptr, &small, 1);
    HICON big = static_cast<HICON>(LoadImageW(nullptr, wzs(file), IMAGE_ICON, 0, 0, LR_LOADFROMFILE | LR_DEFAULTSIZE));
    if (!big) ExtractIconExW(wzs(file), conv, &big, nullptr, 1);
    if (!small && !big) {
        r.setInt32(0);
        return 0;
    }
    if (small) {
        SendMessageW(w->hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
        w->smallIcon.reset(small);
    }
    if (big) {
        SendMessageW(w->hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
        w->bigIcon.reset(big);
    }
    return 0;
}

int bi_GUISETCURSOR(Engine&, Args& a, Variant& r) {
    GuiWindow* w = targetWindow(a, 2);
    if (!w) {  // an unknown window changes nothing
        r.setInt32(0);
        return 0;
    }
    w->cursor = a.int32Or(0, 2);
    w->cursorOverride = a.int32Or(1, 0) != 0;
    PostMessageW(w->hwnd, WM_SETCURSOR, reinterpret_cast<WPARAM>(w->hwnd), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    r.setInt32(1);
    return 0;
}

int bi_GUISETHELP(Engine&, Args& a, Variant& r) {
    GuiWindow* w = targetWindow(a, 1);
    if (!w) {
        r.setInt32(0);
        return 0;
    }
    w->helpFile = a.str(0);
    return 0;
}

int bi_GUISETACCELERATORS(Engine&, Args& a, Variant& r) {
    GuiWindow* w = targetWindow(a, 1);
    if (!w) {
        r.setInt32(0);
        return 0;
    }
    const Variant& v = a[0];
    if (!v.isArray()) {
        w->accel.reset();
        return 0;
    }
    const ArrayData* arr = v.rawArray();
    if (arr->ndims != 2 || arr->dims[1] < 2) {
        r.setInt32(0);
        return 0;
    }
    std::vector<ACCEL> table;
    for (uint32_t row = 0; row < arr->dims[0]; ++row) {
        const uint32_t cols = arr->dims[1];
        const HotKey k = parseHotKey(arr->at(row * cols).toString());
        if (k.status != HotKey::Ok) {
            r.setInt32(0);
            return 0;
        }
        ACCEL ac{};
        ac.fVirt = FVIRTKEY;
        if (k.mods & kHotShift) ac.fVirt |= FSHIFT;
        if (k.mods & kHotCtrl) ac.fVirt |= FCONTROL;
        if (k.mods & kHotAlt) ac.fVirt |= FALT;
        ac.key = k.vk;
        ac.cmd = static_cast<WORD>(arr->at(row * cols + 1).toInt32());
        table.push_back(ac);
    }
    if (table.empty()) {
        w->accel.reset();
        return 0;
    }
    HACCEL h = CreateAcceleratorTableW(table.data(), static_cast<int>(table.size()));
    if (!h) {
        r.setInt32(0);
        return 0;
    }
    w->accel.reset(h);
    return 0;
}

int bi_GUIGETCURSORINFO(Engine& e, Args& a, Variant& r) {
    GuiWindow* w = nullptr;
    if (a.given(0)) {
        w = targetWindow(a, 0);
    } else {
        w = guiCurrentWindow();
        if (w && GetForegroundWindow() != w->hwnd && GetActiveWindow() != w->hwnd) w = nullptr;
    }
    if (!w) {
        r.setInt32(0);
        e.setError(1);
        return 0;
    }
    POINT pt{};
    GetCursorPos(&pt);
    POINT client = pt;
    ScreenToClient(w->hwnd, &client);
    const bool swapped = GetSystemMetrics(SM_SWAPBUTTON) != 0;
    const bool primary = GetAsyncKeyState(swapped ? VK_RBUTTON : VK_LBUTTON) < 0;
    const bool secondary = GetAsyncKeyState(swapped ? VK_LBUTTON : VK_RBUTTON) < 0;
    int id = 0;
    HWND under = ChildWindowFromPointEx(w->hwnd, client, CWP_SKIPINVISIBLE | CWP_SKIPTRANSPARENT);
    if (under && under != w->hwnd) {
        GuiControl* c = guiControlFromHwnd(under);
        if (c) id = c->id;
    }
    uint32_t five = 5;
    ArrayData* arr = ArrayData::create(&five, 1);
    arr->at(0) = Variant::int32(client.x);
    arr->at(1) = Variant::int32(client.y);
    arr->at(2) = Variant::int32(primary ? 1 : 0);
    arr->at(3) = Variant::int32(secondary ? 1 : 0);
    arr->at(4) = Variant::int32(id);
    r = Variant::array(arr);
    return 0;
}

}  // namespace tx
