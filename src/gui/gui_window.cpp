// The window procedure of the script's GUI windows and the lookups of the window and control tables.
//
// Each message goes to the events layer first (events, message handlers of the script); what it leaves
// is handled here: the clean-up on destroy, docking on resize, painting of graphic controls, colours of
// controls and owner-drawn buttons, cursors and help requests; everything else gets default dialog
// handling, which also gives the window keyboard navigation between its controls.
#include "gui/gui.h"

#include <algorithm>

#include "core/engine.h"
#include "gui/gui_events.h"
#include "gui/gui_internal.h"

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

namespace {

// ---- graphic controls ----------------------------------------------------------------------------------------------
struct PenState {
    COLORREF line = 0;
    int32_t fill = -1;
    int size = 1;
};

HPEN makePen(const PenState& p, DWORD style = PS_SOLID) {
    if (p.size <= 1) return CreatePen(style, 1, p.line);
    LOGBRUSH lb{BS_SOLID, p.line, 0};
    return ExtCreatePen(PS_GEOMETRIC | style | PS_ENDCAP_ROUND | PS_JOIN_ROUND, static_cast<DWORD>(p.size), &lb, 0, nullptr);
}

// Selects a pen and brush for the current state into the DC and deletes them again on scope exit.
struct DrawTools {
    HDC dc;
    HPEN pen;
    HBRUSH brush;
    HGDIOBJ oldPen, oldBrush;
    DrawTools(HDC d, const PenState& p) : dc(d) {
        pen = makePen(p);
        brush = p.fill >= 0 ? CreateSolidBrush(static_cast<COLORREF>(p.fill)) : nullptr;
        oldPen = SelectObject(dc, pen);
        oldBrush = SelectObject(dc, brush ? static_cast<HGDIOBJ>(brush) : GetStockObject(NULL_BRUSH));
    }
    ~DrawTools() {
        SelectObject(dc, oldPen);
        SelectObject(dc, oldBrush);
        DeleteObject(pen);
        if (brush) DeleteObject(brush);
    }
};

void applyColours(PenState& p, const GraphicEntry& e) {
    if (e.x != -1) p.line = static_cast<COLORREF>(e.x);
    if (e.y != -1) p.fill = e.y;
}

void cross(HDC dc, int x, int y) {
    MoveToEx(dc, x - 2, y, nullptr);
    LineTo(dc, x + 3, y);
    MoveToEx(dc, x, y - 2, nullptr);
    LineTo(dc, x, y + 3);
}

void paintGraphic(const GuiControl& c, HDC dc, const RECT& rc) {
    // Background and outline.
    if (c.bkColor >= 0) {
        HBRUSH b = CreateSolidBrush(static_cast<COLORREF>(c.bkColor));
        FillRect(dc, &rc, b);
        DeleteObject(b);
        HPEN pen = CreatePen(PS_SOLID, 1, static_cast<COLORREF>(c.color >= 0 ? c.color : c.bkColor));
        HGDIOBJ op = SelectObject(dc, pen), ob = SelectObject(dc, GetStockObject(NULL_BRUSH));
        Rectangle(dc, rc.left, rc.top, rc.right, rc.bottom);
        SelectObject(dc, op);
        SelectObject(dc, ob);
        DeleteObject(pen);
    } else if (c.color >= 0) {
        HPEN pen = CreatePen(PS_SOLID, 1, static_cast<COLORREF>(c.color));
        HGDIOBJ op = SelectObject(dc, pen), ob = SelectObject(dc, GetStockObject(NULL_BRUSH));
        Rectangle(dc, rc.left, rc.top, rc.right, rc.bottom);
        SelectObject(dc, op);
        SelectObject(dc, ob);
        DeleteObject(pen);
    }
    const std::vector<GraphicEntry>& list = c.graphic;
    // Shapes pass.
    PenState p;
    int hints = 0;
    bool wantHints = false;
    for (size_t i = 0; i < list.size(); ++i) {
        const GraphicEntry& e = list[i];
        switch (e.type) {
            case 8:
                applyColours(p, e);
                break;
            case 24:
                p.size = e.x < 1 ? 1 : e.x;
                break;
            case 10:
            case 12:
                if (i + 1 < list.size()) {
                    const GraphicEntry& s = list[i + 1];
                    DrawTools t(dc, p);
                    if (e.type == 10)
                        Rectangle(dc, e.x, e.y, e.x + s.x, e.y + s.y);
                    else
                        Ellipse(dc, e.x, e.y, e.x + s.x, e.y + s.y);
                    ++i;
                }
                break;
            case 14:
                if (i + 2 < list.size()) {
                    const GraphicEntry& a = list[i + 1];
                    const GraphicEntry& b = list[i + 2];
                    DrawTools t(dc, p);
                    BeginPath(dc);
                    MoveToEx(dc, e.x, e.y, nullptr);
                    AngleArc(dc, e.x, e.y, static_cast<DWORD>(a.x < 0 ? 0 : a.x), static_cast<FLOAT>(a.y),
                             static_cast<FLOAT>(b.x));
                    LineTo(dc, e.x, e.y);
                    CloseFigure(dc);
                    EndPath(dc);
                    if (p.fill >= 0)
                        StrokeAndFillPath(dc);
                    else
                        StrokePath(dc);
                    i += 2;
                }
                break;
            case 16: {
                DrawTools t(dc, p);
                Rectangle(dc, e.x - p.size, e.y - p.size, e.x + p.size + 1, e.y + p.size + 1);
                break;
            }
            case 18:
                SetPixel(dc, e.x, e.y, p.line);
                break;
            case 20:
                hints = e.x;
                if (e.x) wantHints = true;
                break;
            default:
                break;
        }
    }
    // Lines pass: runs of PolyDraw points.
    p = PenState{};
    std::vector<POINT> pts;
    std::vector<BYTE> types;
    auto flush = [&] {
        if (pts.empty()) return;
        DrawTools t(dc, p);
        const bool closed = std::any_of(types.begin(), types.end(), [](BYTE b) { return (b & PT_CLOSEFIGURE) != 0; });
        if (p.fill >= 0 && closed) {
            BeginPath(dc);
            PolyDraw(dc, pts.data(), types.data(), static_cast<int>(pts.size()));
            EndPath(dc);
            StrokeAndFillPath(dc);
        } else {
            PolyDraw(dc, pts.data(), types.data(), static_cast<int>(pts.size()));
        }
        pts.clear();
        types.clear();
    };
    for (const GraphicEntry& e : list) {
        if (e.type >= 2 && e.type <= 7) {
            pts.push_back(POINT{e.x, e.y});
            types.push_back(e.type);
            continue;
        }
        flush();
        if (e.type == 8) applyColours(p, e);
        if (e.type == 24) p.size = e.x < 1 ? 1 : e.x;
    }
    flush();
    // Hint pass.
    if (!wantHints) return;
    hints = 0;
    HPEN black = CreatePen(PS_SOLID, 1, 0), dotted = CreatePen(PS_DOT, 1, 0);
    HGDIOBJ old = SelectObject(dc, black);
    POINT last{0, 0};
    for (size_t i = 0; i < list.size(); ++i) {
        const GraphicEntry& e = list[i];
        if (e.type == 20) hints = e.x;
        if (e.type == 2 || e.type == 3 || e.type == 6 || e.type == 7) {
            if (hints & 1) cross(dc, e.x, e.y);
            last = POINT{e.x, e.y};
        } else if (e.type == 4 && i + 2 < list.size()) {
            const GraphicEntry& c2 = list[i + 1];
            const GraphicEntry& end = list[i + 2];
            if (hints & 1) {
                cross(dc, e.x, e.y);
                cross(dc, c2.x, c2.y);
                cross(dc, end.x, end.y);
            }
            if (hints & 2) {
                SelectObject(dc, dotted);
                MoveToEx(dc, e.x, e.y, nullptr);
                LineTo(dc, last.x, last.y);
                MoveToEx(dc, end.x, end.y, nullptr);
                LineTo(dc, c2.x, c2.y);
                SelectObject(dc, black);
            }
            last = POINT{c2.x, c2.y};
            i += 2;
        }
    }
    SelectObject(dc, old);
    DeleteObject(black);
    DeleteObject(dotted);
}

LRESULT CALLBACK graphicProc(HWND h, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR) {
    switch (msg) {
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(h, &ps);
            RECT rc{};
            GetClientRect(h, &rc);
            GuiControl* c = guiControlFromHwnd(h);
            GuiWindow* w = c ? guiControlWindow(*c) : nullptr;
            // Drawn off screen, then copied, so a redraw does not flicker.
            HDC mem = CreateCompatibleDC(dc);
            HBITMAP bmp = CreateCompatibleBitmap(dc, std::max<LONG>(rc.right, 1), std::max<LONG>(rc.bottom, 1));
            HGDIOBJ old = SelectObject(mem, bmp);
            HBRUSH back = (w && w->bkBrush) ? w->bkBrush.get() : GetSysColorBrush(COLOR_BTNFACE);
            FillRect(mem, &rc, back);
            if (c) paintGraphic(*c, mem, rc);
            BitBlt(dc, 0, 0, rc.right, rc.bottom, mem, 0, 0, SRCCOPY);
            SelectObject(mem, old);
            DeleteObject(bmp);
            DeleteDC(mem);
            EndPaint(h, &ps);
            return 0;
        }
        case WM_NCDESTROY:
            RemoveWindowSubclass(h, graphicProc, 1);
            break;
        default:
            break;
    }
    return DefSubclassProc(h, msg, wp, lp);
}

// ---- cursors -------------------------------------------------------------------------------------------------------
void showCursor(int id) {
    static const LPCWSTR kIds[] = {IDC_HAND, IDC_APPSTARTING, IDC_ARROW, IDC_CROSS, IDC_HELP, IDC_IBEAM, IDC_ARROW,
                                   IDC_NO, IDC_ARROW, IDC_SIZEALL, IDC_SIZENESW, IDC_SIZENS, IDC_SIZENWSE,
                                   IDC_SIZEWE, IDC_UPARROW, IDC_WAIT};
    if (id == 16) {
        SetCursor(nullptr);
        return;
    }
    LPCWSTR which = (id >= 0 && id < 16) ? kIds[id] : IDC_ARROW;
    SetCursor(LoadCursorW(nullptr, which));
}

bool applyCursor(GuiWindow& w, LRESULT& result) {
    POINT pt{};
    GetCursorPos(&pt);
    ScreenToClient(w.hwnd, &pt);
    RECT cl{};
    GetClientRect(w.hwnd, &cl);
    if (!PtInRect(&cl, pt)) return false;
    if (w.controlCursors) {
        HWND under = ChildWindowFromPointEx(w.hwnd, pt, CWP_SKIPINVISIBLE);
        if (under && under != w.hwnd) {
            GuiControl* c = guiControlFromHwnd(under);
            if (c && c->cursor != -1) {
                showCursor(c->cursor);
                result = TRUE;
                return true;
            }
        }
    }
    if (w.cursor == -1) return false;
    showCursor(w.cursor);
    if (w.cursorOverride) {
        result = TRUE;
        return true;
    }
    return false;
}

// ---- colours -------------------------------------------------------------------------------------------------------
bool controlColour(GuiWindow& w, HDC dc, HWND ctl, LRESULT& result) {
    GuiControl* c = guiControlFromHwnd(ctl);
    if (!c) {
        // The edit inside a combo box asks for its colours too.
        HWND parent = GetParent(ctl);
        if (parent && parent != w.hwnd) c = guiControlFromHwnd(parent);
    }
    if (!c) {
        if (w.bkBrush) {
            SetBkColor(dc, static_cast<COLORREF>(w.bkColor));
            result = reinterpret_cast<LRESULT>(w.bkBrush.get());
            return true;
        }
        return false;
    }
    if (c->color < 0 && c->bkColor == -1 && !w.bkBrush) return false;
    if (c->color >= 0) SetTextColor(dc, static_cast<COLORREF>(c->color));
    if (c->bkColor == -2) {
        SetBkMode(dc, TRANSPARENT);
        result = reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
        return true;
    }
    if (c->bkBrush) {
        SetBkColor(dc, static_cast<COLORREF>(c->bkColor));
        result = reinterpret_cast<LRESULT>(c->bkBrush.get());
        return true;
    }
    // Edits and lists keep their white field; statics and buttons take the window's background.
    const bool field = c->kind == CtrlKind::Edit || c->kind == CtrlKind::Input || c->kind == CtrlKind::List ||
                       c->kind == CtrlKind::Combo;
    const bool readOnlyEdit = (c->kind == CtrlKind::Edit || c->kind == CtrlKind::Input) &&
                              (GetWindowLongPtrW(c->hwnd, GWL_STYLE) & ES_READONLY);
    if (w.bkBrush && (!field || readOnlyEdit)) {
        SetBkColor(dc, static_cast<COLORREF>(w.bkColor));
        result = reinterpret_cast<LRESULT>(w.bkBrush.get());
        return true;
    }
    if (field) {
        SetBkColor(dc, GetSysColor(COLOR_WINDOW));
        result = reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
    } else {
        SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
        result = reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    return true;
}

bool customDraw(NMHDR* hdr, LRESULT& result) {
    GuiControl* owner = guiControlFromHwnd(hdr->hwndFrom);
    if (!owner || (owner->kind != CtrlKind::TreeView && owner->kind != CtrlKind::ListView)) return false;
    if (owner->kind == CtrlKind::ListView) {
        auto* cd = reinterpret_cast<NMLVCUSTOMDRAW*>(hdr);
        if (cd->nmcd.dwDrawStage == CDDS_PREPAINT) {
            result = CDRF_NOTIFYITEMDRAW;
            return true;
        }
        if (cd->nmcd.dwDrawStage == CDDS_ITEMPREPAINT) {
            GuiControl* item = guiControl(static_cast<int>(cd->nmcd.lItemlParam));
            if (item && item->kind == CtrlKind::ListViewItem) {
                if (item->color >= 0) cd->clrText = static_cast<COLORREF>(item->color);
                if (item->bkColor >= 0) cd->clrTextBk = static_cast<COLORREF>(item->bkColor);
            }
            if ((!item || item->bkColor < 0) && owner->bkColor == static_cast<int32_t>(0xFE000000) &&
                (cd->nmcd.dwItemSpec & 1))
                cd->clrTextBk = RGB(0xE8, 0xE8, 0xE8);
            result = CDRF_DODEFAULT;
            return true;
        }
        return false;
    }
    auto* cd = reinterpret_cast<NMTVCUSTOMDRAW*>(hdr);
    if (cd->nmcd.dwDrawStage == CDDS_PREPAINT) {
        result = CDRF_NOTIFYITEMDRAW;
        return true;
    }
    if (cd->nmcd.dwDrawStage == CDDS_ITEMPREPAINT) {
        GuiControl* item = guiControl(static_cast<int>(cd->nmcd.lItemlParam));
        if (item && item->kind == CtrlKind::TreeViewItem) {
            if (item->color >= 0) cd->clrText = static_cast<COLORREF>(item->color);
            if (item->bkColor >= 0) cd->clrTextBk = static_cast<COLORREF>(item->bkColor);
        }
        result = CDRF_DODEFAULT;
        return true;
    }
    return false;
}

bool showContextMenu(GuiWindow& w, HWND target, LPARAM lp) {
    int menuId = 0;
    GuiControl* c = target != w.hwnd ? guiControlFromHwnd(target) : nullptr;
    if (c) menuId = c->contextMenuId;
    if (!menuId) menuId = w.contextMenuId;
    GuiControl* m = guiControl(menuId);
    if (!m || m->kind != CtrlKind::ContextMenu || !m->menu) return false;
    POINT pt{static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))};
    if (lp == -1) {
        RECT rc{};
        GetWindowRect(target, &rc);
        pt = POINT{rc.left, rc.top};
    }
    TrackPopupMenu(m->menu, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON, pt.x, pt.y, 0, w.hwnd, nullptr);
    return true;
}

}  // namespace

void guiSubclassGraphic(HWND h) { SetWindowSubclass(h, graphicProc, 1, 0); }

LRESULT guiOwnerDrawButton(GuiControl& c, const DRAWITEMSTRUCT& d) {
    HDC dc = d.hDC;
    RECT rc = d.rcItem;
    const bool pressed = (d.itemState & ODS_SELECTED) != 0;
    if (c.bkBrush)
        FillRect(dc, &rc, c.bkBrush.get());
    else
        FillRect(dc, &rc, GetSysColorBrush(COLOR_BTNFACE));
    DrawEdge(dc, &rc, pressed ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT);
    wchar_t buf[1024] = {};
    GetWindowTextW(c.hwnd, buf, 1024);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, (d.itemState & ODS_DISABLED) ? GetSysColor(COLOR_GRAYTEXT)
                                                   : (c.color >= 0 ? static_cast<COLORREF>(c.color) : GetSysColor(COLOR_BTNTEXT)));
    RECT text = rc;
    if (pressed) OffsetRect(&text, 1, 1);
    HFONT f = reinterpret_cast<HFONT>(SendMessageW(c.hwnd, WM_GETFONT, 0, 0));
    HGDIOBJ old = f ? SelectObject(dc, f) : nullptr;
    DrawTextW(dc, buf, -1, &text, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    if (old) SelectObject(dc, old);
    if (d.itemState & ODS_FOCUS) {
        RECT fr = rc;
        InflateRect(&fr, -4, -4);
        DrawFocusRect(dc, &fr);
    }
    return TRUE;
}

// Moves every docking control of the window for a new client size.
void guiDockControls(GuiWindow& w, int W, int H) {
    int W0 = w.width0, H0 = w.height0;
    if (w.hasMenuBar) {
        // The creation size counted the menu bar inside the client area.
        (void)0;
    }
    if (W0 <= 0 || H0 <= 0) return;
    if (w.initialLayout) {
        for (auto& c : gui().controls)
            if (c && c->win == w.index && c->hwnd && guiTakesDocking(c->kind)) guiComputeReference(*c, w);
        w.initialLayout = false;
    }
    for (auto& cp : gui().controls) {
        if (!cp || cp->win != w.index || !cp->hwnd) continue;
        GuiControl& c = *cp;
        if (c.kind == CtrlKind::UpDown) {
            if (GuiControl* b = guiControl(c.parentId)) SendMessageW(c.hwnd, UDM_SETBUDDY, reinterpret_cast<WPARAM>(b->hwnd), 0);
            if (c.tabPage != kGuiNoPage && c.tabPage != w.tabShown) ShowWindow(c.hwnd, SW_HIDE);
            continue;
        }
        if (!guiTakesDocking(c.kind)) continue;
        const int x = c.refX, y = c.refY, cw = c.refW, ch = c.refH;
        int nx = W * x / W0, ny = H * y / H0, nw = W * cw / W0, nh = H * ch / H0;
        const uint16_t d = c.dock;
        if (d != 0) {
            if (d & 256) {
                nw = cw;
                if (!(d & 6)) {
                    if (d & 8)
                        nx = x + (W - W0) / 2;
                    else if (W / 2 < nx)
                        nx = W - W * (W0 - x - cw) / W0 - cw;
                }
            }
            if (d & 512) {
                nh = ch;
                if (!(d & 96)) {
                    if (d & 128)
                        ny = y + (H - H0) / 2;
                    else if (H / 2 < ny)
                        ny = H - H * (H0 - y - ch) / H0 - ch;
                }
            }
            if (d & 2) nx = x;
            if (d & 4) {
                if (d & 2)
                    nw = cw + x + W - nx - W0;
                else
                    nx = cw + x + W - nw - W0;
            }
            if (d & 32) ny = y;
            if (d & 64) {
                if (d & 32)
                    nh = ch + y + H - ny - H0;
                else
                    ny = ch + y + H - nh - H0;
            }
        }
        MoveWindow(c.hwnd, nx, ny, std::max(nw, 0), std::max(nh, 0), FALSE);
        if (c.kind == CtrlKind::Combo) SendMessageW(c.hwnd, CB_SETEDITSEL, 0, MAKELPARAM(-1, 0));
    }
    InvalidateRect(w.hwnd, nullptr, TRUE);
}

LRESULT CALLBACK guiWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    GuiWindow* w = guiWindow(hwnd);
    if (!w) return DefDlgProcW(hwnd, msg, wp, lp);
    LRESULT result = 0;
    if (guiEventsMessage(*w, msg, wp, lp, result)) return result;
    // The events layer may have run script code that deleted the window.
    w = guiWindow(hwnd);
    if (!w) return msg == WM_NCDESTROY ? 0 : DefDlgProcW(hwnd, msg, wp, lp);
    switch (msg) {
        case WM_NCDESTROY: {
            guiWindowGone(*w);
            return DefDlgProcW(hwnd, msg, wp, lp);
        }
        case WM_SIZE:
            if (wp == SIZE_MINIMIZED || LOWORD(lp) == 0 || HIWORD(lp) == 0) break;
            guiDockControls(*w, LOWORD(lp), HIWORD(lp));
            return 0;
        case WM_CTLCOLORDLG:
            if (w->bkBrush) return reinterpret_cast<LRESULT>(w->bkBrush.get());
            break;
        case WM_ERASEBKGND:
            if (w->bkBrush) {
                RECT rc{};
                GetClientRect(hwnd, &rc);
                FillRect(reinterpret_cast<HDC>(wp), &rc, w->bkBrush.get());
                return 1;
            }
            break;
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORBTN:
            if (controlColour(*w, reinterpret_cast<HDC>(wp), reinterpret_cast<HWND>(lp), result)) return result;
            break;
        case WM_DRAWITEM: {
            auto* d = reinterpret_cast<DRAWITEMSTRUCT*>(lp);
            GuiControl* c = d ? guiControlFromHwnd(d->hwndItem) : nullptr;
            if (c && c->ownerDrawn) return guiOwnerDrawButton(*c, *d);
            break;
        }
        case WM_NOTIFY: {
            auto* hdr = reinterpret_cast<NMHDR*>(lp);
            if (hdr && hdr->code == NM_CUSTOMDRAW && customDraw(hdr, result)) {
                SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, result);
                return result;
            }
            break;
        }
        case WM_SETCURSOR:
            if (applyCursor(*w, result)) return result;
            break;
        case WM_HELP:
            if (!w->helpFile.empty()) {
                std::u16string cmd = u"hh.exe \"";
                cmd.append(w->helpFile.data(), w->helpFile.size());
                cmd += u"\"";
                STARTUPINFOW si{};
                si.cb = sizeof si;
                PROCESS_INFORMATION pi{};
                if (CreateProcessW(nullptr, reinterpret_cast<wchar_t*>(cmd.data()), nullptr, nullptr, FALSE, 0, nullptr,
                                   nullptr, &si, &pi)) {
                    CloseHandle(pi.hThread);
                    CloseHandle(pi.hProcess);
                }
                return TRUE;
            }
            break;
        case WM_CONTEXTMENU:
            if (showContextMenu(*w, reinterpret_cast<HWND>(wp), lp)) return 0;
            break;
        default:
            break;
    }
    return DefDlgProcW(hwnd, msg, wp, lp);
}

// ---- GUICTRLSETGRAPHIC -----------------------------------------------------------------------------------------
int bi_GUICTRLSETGRAPHIC(Engine&, Args& a, Variant& r) {
    GuiControl* c = guiControl(a.int32(0));
    const int32_t type = a.int32(1);
    r.setInt32(0);
    if (!c || c->kind != CtrlKind::Graphic || type <= 0) return 0;
    int32_t p[6];
    for (int i = 0; i < 6; ++i) p[i] = a.int32Or(2 + i, -1);
    auto add = [&](uint8_t t, int32_t x, int32_t y) { c->graphic.push_back(GraphicEntry{t, x, y}); };
    auto swap = [](int32_t col) { return col > 0 ? guiColour(col) : col; };
    switch (type) {
        case 2:
        case 3:
        case 6:
        case 7:
        case 16:
        case 18:
        case 20:
        case 24:
            add(static_cast<uint8_t>(type), p[0], p[1]);
            break;
        case 4:
        case 5:
            if (c->graphic.empty()) return 0;
            add(4, p[2], p[3]);
            add(4, p[4], p[5]);
            add(static_cast<uint8_t>(type), p[0], p[1]);
            break;
        case 8:
            add(8, swap(p[0]), swap(p[1]));
            break;
        case 10:
        case 12:
            add(static_cast<uint8_t>(type), p[0], p[1]);
            add(static_cast<uint8_t>(type), p[2], p[3]);
            break;
        case 14:
            add(14, p[0], p[1]);
            add(14, p[2], p[3]);
            add(14, p[4], p[5]);
            break;
        case 22:
            if (GuiWindow* w = guiControlWindow(*c)) InvalidateRect(w->hwnd, nullptr, TRUE);
            InvalidateRect(c->hwnd, nullptr, TRUE);
            break;
        default:
            return 0;
    }
    r.setInt32(1);
    return 0;
}

}  // namespace tx
