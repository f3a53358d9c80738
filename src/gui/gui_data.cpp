// The GUICTRL... built-ins that act on existing controls: data (GUICTRLSETDATA, GUICTRLREAD), state,
// colours, fonts, position, style, limits, tips, cursors, images, docking flags, deletion, handles and
// messages. Each dispatches on the control's kind; unknown ids give the documented neutral result.
#include "gui/gui.h"

#include <shellapi.h>

#include <cwchar>
#include <string>

#include "core/engine.h"
#include "env/options.h"
#include "gui/gui_internal.h"
#include "host/startup.h"

namespace tx {

HICON guiLoadIcon(const SString& file, const Variant& which, int cx, int cy);
bool guiSetPicture(GuiControl& c, const SString& file, bool resizeToPicture);

namespace {

std::vector<SString> split(const SString& s) {
    std::vector<SString> parts;
    const char16_t sep = options().guiDataSeparatorChar;
    size_t start = 0;
    for (size_t i = 0; i <= s.size(); ++i)
        if (i == s.size() || s[i] == sep) {
            parts.emplace_back(s.data() + start, i - start);
            start = i + 1;
        }
    return parts;
}

SString windowText(HWND h) {
    if (!h) return SString();
    const int n = GetWindowTextLengthW(h);
    if (n <= 0) return SString();
    std::wstring buf(static_cast<size_t>(n) + 1, L'\0');
    const int got = GetWindowTextW(h, buf.data(), n + 1);
    return SString(reinterpret_cast<const char16_t*>(buf.data()), static_cast<size_t>(got < 0 ? 0 : got));
}

SString fromBuf(const wchar_t* p) { return SString(reinterpret_cast<const char16_t*>(p)); }

SString treeItemText(const GuiControl& c) {
    wchar_t buf[4096] = {};
    TVITEMW it{};
    it.mask = TVIF_TEXT | TVIF_HANDLE;
    it.hItem = c.treeItem;
    it.pszText = buf;
    it.cchTextMax = 4096;
    SendMessageW(c.hwnd, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&it));
    return fromBuf(buf);
}

SString listItemText(const GuiControl& c) {
    const int at = guiListViewItemIndex(c);
    if (at < 0) return SString();
    HWND header = reinterpret_cast<HWND>(SendMessageW(c.hwnd, LVM_GETHEADER, 0, 0));
    int cols = header ? static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0)) : 1;
    if (cols < 1) cols = 1;
    std::u16string out;
    for (int i = 0; i < cols; ++i) {
        wchar_t buf[4096] = {};
        LVITEMW it{};
        it.iSubItem = i;
        it.pszText = buf;
        it.cchTextMax = 4096;
        SendMessageW(c.hwnd, LVM_GETITEMTEXTW, at, reinterpret_cast<LPARAM>(&it));
        if (i) out += options().guiDataSeparatorChar;
        out += reinterpret_cast<const char16_t*>(buf);
    }
    return SString(out.data(), out.size());
}

int idOfListItem(HWND lv, int at) {
    LVITEMW it{};
    it.mask = LVIF_PARAM;
    it.iItem = at;
    if (!SendMessageW(lv, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&it))) return 0;
    return static_cast<int>(it.lParam);
}

int idOfTreeItem(HWND tv, HTREEITEM item) {
    TVITEMW it{};
    it.mask = TVIF_PARAM | TVIF_HANDLE;
    it.hItem = item;
    if (!SendMessageW(tv, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&it))) return 0;
    return static_cast<int>(it.lParam);
}

SString menuText(const GuiControl& c) {
    HMENU holder = c.kind == CtrlKind::Menu ? c.holder : c.menu;
    wchar_t buf[4096] = {};
    GetMenuStringW(holder, static_cast<UINT>(c.id), buf, 4096, MF_BYCOMMAND);
    return fromBuf(buf);
}

bool visibleOnPage(const GuiControl& c, const GuiWindow& w) {
    return c.tabPage == kGuiNoPage || c.tabPage == w.tabShown;
}

Variant numberValue(const Variant& v) {
    const double d = v.toDouble();
    if (d == static_cast<double>(static_cast<int32_t>(d))) return Variant::int32(static_cast<int32_t>(d));
    return Variant::dbl(d);
}

bool takesColour(CtrlKind k) {
    switch (k) {
        case CtrlKind::TabItem:
        case CtrlKind::ContextMenu:
        case CtrlKind::Menu:
        case CtrlKind::MenuItem:
        case CtrlKind::Dummy:
        case CtrlKind::UpDown:
        case CtrlKind::Obj:
            return false;
        default:
            return static_cast<int>(k) <= 28;
    }
}

void redraw(const GuiControl& c) {
    if (c.hwnd) InvalidateRect(c.hwnd, nullptr, TRUE);
}

}  // namespace

bool guiParseDate(const SString& text, bool timeOnly, SYSTEMTIME& st) {
    GetLocalTime(&st);
    if (text.size() < 4) return true;
    size_t pos = 0;
    auto field = [&](size_t width, WORD& out) {
        if (pos + 2 > text.size()) return false;
        wchar_t buf[8] = {};
        for (size_t i = 0; i < width && pos + i < text.size(); ++i) buf[i] = static_cast<wchar_t>(text[pos + i]);
        out = static_cast<WORD>(std::wcstol(buf, nullptr, 10));
        pos += width + 1;  // one separator of any kind
        return true;
    };
    if (!timeOnly) {
        if (!field(4, st.wYear) || !field(2, st.wMonth) || !field(2, st.wDay)) return true;
    }
    if (!field(2, st.wHour) || !field(2, st.wMinute)) return true;
    if (field(2, st.wSecond)) st.wMilliseconds = 0;
    return true;
}

bool guiSetColour(GuiControl& c, int32_t script, bool background) {
    if (!takesColour(c.kind)) return false;
    const int32_t sys = guiColour(script);
    HWND h = c.hwnd;
    if (!background) {
        c.color = sys;
        switch (c.kind) {
            case CtrlKind::Progress:
                SendMessageW(h, PBM_SETBARCOLOR, 0, sys < 0 ? static_cast<LPARAM>(CLR_DEFAULT) : sys);
                break;
            case CtrlKind::TreeView:
                SendMessageW(h, TVM_SETTEXTCOLOR, 0, sys < 0 ? static_cast<LPARAM>(CLR_DEFAULT) : sys);
                break;
            case CtrlKind::ListView:
                SendMessageW(h, LVM_SETTEXTCOLOR, 0, sys < 0 ? static_cast<LPARAM>(CLR_DEFAULT) : sys);
                break;
            case CtrlKind::Button: {
                const LONG_PTR st = GetWindowLongPtrW(h, GWL_STYLE);
                SetWindowLongPtrW(h, GWL_STYLE, (st & ~static_cast<LONG_PTR>(0xF)) | BS_OWNERDRAW);
                c.ownerDrawn = true;
                break;
            }
            default:
                break;
        }
        redraw(c);
        return true;
    }
    if (c.kind == CtrlKind::ListView && script == -2) return false;
    c.bkColor = sys;
    c.bkBrush.reset();
    if (sys >= 0) c.bkBrush.reset(CreateSolidBrush(static_cast<COLORREF>(sys)));
    switch (c.kind) {
        case CtrlKind::Progress:
            SendMessageW(h, PBM_SETBKCOLOR, 0, sys < 0 ? static_cast<LPARAM>(CLR_DEFAULT) : sys);
            break;
        case CtrlKind::TreeView:
            SendMessageW(h, TVM_SETBKCOLOR, 0, sys < 0 ? -1 : sys);
            break;
        case CtrlKind::ListView:
            if (script == static_cast<int32_t>(0xFE000000)) {
                c.bkColor = static_cast<int32_t>(0xFE000000);
                break;
            }
            SendMessageW(h, LVM_SETBKCOLOR, 0, sys < 0 ? static_cast<LPARAM>(CLR_NONE) : sys);
            SendMessageW(h, LVM_SETTEXTBKCOLOR, 0, sys < 0 ? static_cast<LPARAM>(CLR_NONE) : sys);
            break;
        case CtrlKind::Button: {
            const LONG_PTR st = GetWindowLongPtrW(h, GWL_STYLE);
            SetWindowLongPtrW(h, GWL_STYLE, (st & ~static_cast<LONG_PTR>(0xF)) | BS_OWNERDRAW);
            c.ownerDrawn = true;
            break;
        }
        default:
            break;
    }
    redraw(c);
    return true;
}

void guiApplyState(GuiControl& c, uint32_t state) {
    GuiWindow* w = guiControlWindow(c);
    if (!w) return;
    HWND h = c.hwnd;
    const uint32_t check = state & 7;
    switch (c.kind) {
        case CtrlKind::Checkbox:
        case CtrlKind::Radio:
            if (check & kGuiChecked)
                SendMessageW(h, BM_SETCHECK, BST_CHECKED, 0);
            else if (check & kGuiIndeterminate)
                SendMessageW(h, BM_SETCHECK, BST_INDETERMINATE, 0);
            else if (check & kGuiUnchecked)
                SendMessageW(h, BM_SETCHECK, BST_UNCHECKED, 0);
            break;
        case CtrlKind::MenuItem:
        case CtrlKind::Menu: {
            HMENU m = c.kind == CtrlKind::Menu ? c.holder : c.menu;
            if (check & kGuiChecked) CheckMenuItem(m, static_cast<UINT>(c.id), MF_BYCOMMAND | MF_CHECKED);
            if (check & kGuiUnchecked) CheckMenuItem(m, static_cast<UINT>(c.id), MF_BYCOMMAND | MF_UNCHECKED);
            if (state & kGuiEnable) EnableMenuItem(m, static_cast<UINT>(c.id), MF_BYCOMMAND | MF_ENABLED);
            if (state & kGuiDisable) EnableMenuItem(m, static_cast<UINT>(c.id), MF_BYCOMMAND | MF_GRAYED);
            if (state & kGuiDefButton) SetMenuDefaultItem(m, static_cast<UINT>(c.id), FALSE);
            if (m == w->menuBar) DrawMenuBar(w->hwnd);
            return;
        }
        case CtrlKind::TreeViewItem: {
            TVITEMW it{};
            it.mask = TVIF_STATE | TVIF_HANDLE;
            it.hItem = c.treeItem;
            if (check & (kGuiChecked | kGuiUnchecked)) {
                it.stateMask = TVIS_STATEIMAGEMASK;
                it.state = INDEXTOSTATEIMAGEMASK((check & kGuiChecked) ? 2 : 1);
                SendMessageW(h, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&it));
            }
            if (state & kGuiDefButton) {
                it.stateMask = TVIS_BOLD;
                it.state = TVIS_BOLD;
                SendMessageW(h, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&it));
            }
            if (state & kGuiExpand) SendMessageW(h, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(c.treeItem));
            if (state & kGuiFocus) SendMessageW(h, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(c.treeItem));
            return;
        }
        case CtrlKind::ListViewItem: {
            const int at = guiListViewItemIndex(c);
            if (at < 0) return;
            LVITEMW it{};
            if (check & (kGuiChecked | kGuiUnchecked)) {
                it.stateMask = LVIS_STATEIMAGEMASK;
                it.state = INDEXTOSTATEIMAGEMASK((check & kGuiChecked) ? 2 : 1);
                SendMessageW(h, LVM_SETITEMSTATE, at, reinterpret_cast<LPARAM>(&it));
            }
            if (state & kGuiFocus) {
                it.stateMask = LVIS_FOCUSED | LVIS_SELECTED;
                it.state = LVIS_FOCUSED | LVIS_SELECTED;
                SendMessageW(h, LVM_SETITEMSTATE, at, reinterpret_cast<LPARAM>(&it));
                SendMessageW(h, LVM_ENSUREVISIBLE, at, FALSE);
            }
            if (state & kGuiNoFocus) {
                it.stateMask = LVIS_FOCUSED | LVIS_SELECTED;
                it.state = 0;
                SendMessageW(h, LVM_SETITEMSTATE, at, reinterpret_cast<LPARAM>(&it));
            }
            return;
        }
        case CtrlKind::Avi:
            if (check == 1)
                SendMessageW(h, ACM_PLAY, static_cast<WPARAM>(-1), MAKELPARAM(0, 0xFFFF));
            else if (check == 0)
                SendMessageW(h, ACM_STOP, 0, 0);
            else
                SendMessageW(h, ACM_OPENW, 0, 0);
            break;
        case CtrlKind::TabItem:
            if (state & kGuiShow) guiShowTabPage(*w, c.tabPage);
            return;
        case CtrlKind::Dummy:
        case CtrlKind::ContextMenu:
            return;
        default:
            break;
    }
    if (!h) return;
    if (state & kGuiDropAccepted) {
        c.state |= kGuiDropAccepted;
        DragAcceptFiles(w->hwnd, TRUE);
    }
    if (state & kGuiNoDropAccepted) c.state &= ~static_cast<uint32_t>(kGuiDropAccepted);
    const bool onPage = visibleOnPage(c, *w);
    if (state & kGuiEnable) {
        c.state = (c.state & ~static_cast<uint32_t>(kGuiDisable)) | kGuiEnable;
        if (onPage) EnableWindow(h, TRUE);
    }
    if (state & kGuiDisable) {
        c.state = (c.state & ~static_cast<uint32_t>(kGuiEnable)) | kGuiDisable;
        if (onPage) EnableWindow(h, FALSE);
    }
    if (state & kGuiShow) {
        c.state = (c.state & ~static_cast<uint32_t>(kGuiHide)) | kGuiShow;
        if (onPage) ShowWindow(h, SW_SHOWNOACTIVATE);
    }
    if (state & kGuiHide) {
        c.state = (c.state & ~static_cast<uint32_t>(kGuiShow)) | kGuiHide;
        ShowWindow(h, SW_HIDE);
    }
    if (state & kGuiFocus) SetFocus(h);
    if ((state & kGuiDefButton) && c.kind == CtrlKind::Button) {
        if (GuiControl* old = guiControl(w->defButtonId); old && old != &c && old->kind == CtrlKind::Button &&
                                                           !old->ownerDrawn)
            SendMessageW(old->hwnd, BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
        SendMessageW(w->hwnd, DM_SETDEFID, static_cast<WPARAM>(c.id), 0);
        if (!c.ownerDrawn) SendMessageW(h, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
        w->defButtonId = c.id;
    }
    if (state & kGuiOnTop) SetWindowPos(h, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

// ---- data ---------------------------------------------------------------------------------------------------------
int bi_GUICTRLSETDATA(Engine&, Args& a, Variant& r) {
    GuiControl* c = guiControl(a.int32(0));
    if (!c) {
        r.setInt32(0);
        return 0;
    }
    const SString data = a.str(1);
    const bool hasDefault = a.given(2) && !a.str(2).empty();
    const CtrlKind k = c->kind;
    if (hasDefault && k != CtrlKind::Combo && k != CtrlKind::List && k != CtrlKind::Edit && k != CtrlKind::Input) {
        r.setInt32(0);
        return 0;
    }
    HWND h = c->hwnd;
    r.setInt32(1);
    switch (k) {
        case CtrlKind::Combo:
        case CtrlKind::List: {
            const bool combo = k == CtrlKind::Combo;
            const UINT findExact = combo ? CB_FINDSTRINGEXACT : LB_FINDSTRINGEXACT;
            const UINT setSel = combo ? CB_SETCURSEL : LB_SETCURSEL;
            if (!data.empty()) {
                const LRESULT at = SendMessageW(h, findExact, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(wzs(data)));
                if (at >= 0) {
                    SendMessageW(h, setSel, static_cast<WPARAM>(at), 0);
                    r.setInt32(0);
                    return 0;
                }
            }
            SString rest = data;
            if (data.empty() || data[0] == options().guiDataSeparatorChar) {
                rest = data.empty() ? SString() : SString(data.data() + 1, data.size() - 1);
                SendMessageW(h, combo ? CB_RESETCONTENT : LB_RESETCONTENT, 0, 0);
            }
            if (!rest.empty())
                for (const SString& part : split(rest))
                    if (!part.empty())
                        SendMessageW(h, combo ? CB_ADDSTRING : LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wzs(part)));
            if (hasDefault) {
                const SString def = a.str(2);
                const LRESULT at = SendMessageW(h, findExact, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(wzs(def)));
                if (at >= 0) SendMessageW(h, setSel, static_cast<WPARAM>(at), 0);
            }
            return 0;
        }
        case CtrlKind::Edit:
        case CtrlKind::Input:
            if (hasDefault) {
                SendMessageW(h, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(wzs(data)));
            } else {
                SetWindowTextW(h, wzs(data));
                SendMessageW(h, EM_SETSEL, data.size(), data.size());
            }
            return 0;
        case CtrlKind::Date: {
            SYSTEMTIME st{};
            guiParseDate(data, false, st);
            r.setInt32(SendMessageW(h, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&st)) ? 1 : 0);
            return 0;
        }
        case CtrlKind::MonthCal: {
            SYSTEMTIME st{};
            guiParseDate(data, false, st);
            r.setInt32(SendMessageW(h, MCM_SETCURSEL, 0, reinterpret_cast<LPARAM>(&st)) ? 1 : 0);
            return 0;
        }
        case CtrlKind::Progress:
            SendMessageW(h, PBM_SETPOS, static_cast<WPARAM>(a[1].toInt32()), 0);
            return 0;
        case CtrlKind::Slider:
            SendMessageW(h, TBM_SETPOS, TRUE, a[1].toInt32());
            return 0;
        case CtrlKind::TabItem: {
            TCITEMW ti{};
            ti.mask = TCIF_TEXT;
            ti.pszText = const_cast<wchar_t*>(wzs(data));
            r.setInt32(SendMessageW(h, TCM_SETITEMW, c->tabPage, reinterpret_cast<LPARAM>(&ti)) ? 1 : 0);
            return 0;
        }
        case CtrlKind::Menu:
        case CtrlKind::MenuItem: {
            HMENU holder = k == CtrlKind::Menu ? c->holder : c->menu;
            MENUITEMINFOW mi{};
            mi.cbSize = sizeof mi;
            mi.fMask = MIIM_FTYPE;
            if (!GetMenuItemInfoW(holder, static_cast<UINT>(c->id), FALSE, &mi) || (mi.fType & MFT_SEPARATOR)) {
                r.setInt32(0);
                return 0;
            }
            mi.fMask = MIIM_STRING;
            mi.dwTypeData = const_cast<wchar_t*>(wzs(data));
            r.setInt32(SetMenuItemInfoW(holder, static_cast<UINT>(c->id), FALSE, &mi) ? 1 : 0);
            if (GuiWindow* w = guiControlWindow(*c); w && holder == w->menuBar) DrawMenuBar(w->hwnd);
            return 0;
        }
        case CtrlKind::TreeViewItem: {
            TVITEMW it{};
            it.mask = TVIF_TEXT | TVIF_HANDLE;
            it.hItem = c->treeItem;
            it.pszText = const_cast<wchar_t*>(wzs(data));
            r.setInt32(SendMessageW(h, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&it)) ? 1 : 0);
            return 0;
        }
        case CtrlKind::ListView:
        case CtrlKind::ListViewItem: {
            std::vector<SString> parts = split(data);
            const int at = k == CtrlKind::ListViewItem ? guiListViewItemIndex(*c) : 0;
            if (at < 0) {
                r.setInt32(0);
                return 0;
            }
            bool ok = true;
            for (size_t i = 0; i < parts.size(); ++i) {
                const bool last = i + 1 == parts.size();
                if (parts[i].empty() && !(last && parts.size() > 1)) continue;
                if (k == CtrlKind::ListView) {
                    LVCOLUMNW col{};
                    col.mask = LVCF_TEXT;
                    col.pszText = const_cast<wchar_t*>(wzs(parts[i]));
                    ok = SendMessageW(h, LVM_SETCOLUMNW, i, reinterpret_cast<LPARAM>(&col)) && ok;
                } else {
                    LVITEMW it{};
                    it.iSubItem = static_cast<int>(i);
                    it.pszText = const_cast<wchar_t*>(wzs(parts[i]));
                    ok = SendMessageW(h, LVM_SETITEMTEXTW, at, reinterpret_cast<LPARAM>(&it)) && ok;
                }
            }
            r.setInt32(ok ? 1 : 0);
            return 0;
        }
        case CtrlKind::Dummy:
            c->value = numberValue(a[1]);
            return 0;
        case CtrlKind::Pic:
        case CtrlKind::Icon:
        case CtrlKind::UpDown:
            r.setInt32(-1);
            return 0;
        case CtrlKind::ContextMenu:
            r.setInt32(0);
            return 0;
        default:
            r.setInt32(SetWindowTextW(h, wzs(data)) ? 1 : 0);
            return 0;
    }
}

int bi_GUICTRLREAD(Engine&, Args& a, Variant& r) {
    GuiControl* c = guiControl(a.int32(0));
    if (!c) {
        r.setInt32(0);
        return 0;
    }
    const bool advanced = a.int32Or(1, 0) == 1;
    HWND h = c->hwnd;
    int32_t n = 0;
    SString text;
    bool isText = false;
    switch (c->kind) {
        case CtrlKind::Combo:
        case CtrlKind::List: {
            const bool combo = c->kind == CtrlKind::Combo;
            const LRESULT sel = SendMessageW(h, combo ? CB_GETCURSEL : LB_GETCURSEL, 0, 0);
            isText = true;
            if (sel >= 0) {
                const LRESULT len = SendMessageW(h, combo ? CB_GETLBTEXTLEN : LB_GETTEXTLEN, static_cast<WPARAM>(sel), 0);
                std::wstring buf(static_cast<size_t>(len > 0 ? len : 0) + 1, L'\0');
                SendMessageW(h, combo ? CB_GETLBTEXT : LB_GETTEXT, static_cast<WPARAM>(sel),
                             reinterpret_cast<LPARAM>(buf.data()));
                text = fromBuf(buf.c_str());
            } else {
                text = windowText(h);
            }
            break;
        }
        case CtrlKind::Progress:
            n = static_cast<int32_t>(SendMessageW(h, PBM_GETPOS, 0, 0));
            break;
        case CtrlKind::Slider:
            n = static_cast<int32_t>(SendMessageW(h, TBM_GETPOS, 0, 0));
            break;
        case CtrlKind::Tab: {
            const int sel = static_cast<int>(SendMessageW(h, TCM_GETCURSEL, 0, 0));
            if (advanced) {
                TCITEMW ti{};
                ti.mask = TCIF_PARAM;
                n = (sel >= 0 && SendMessageW(h, TCM_GETITEMW, sel, reinterpret_cast<LPARAM>(&ti))) ? static_cast<int32_t>(ti.lParam) : 0;
            } else {
                n = sel;
            }
            r.setInt32(n);
            return 0;
        }
        case CtrlKind::ContextMenu:
            r.setInt32(0);
            return 0;
        case CtrlKind::Menu:
        case CtrlKind::MenuItem: {
            if (advanced) {
                r.setString(menuText(*c));
                return 0;
            }
            HMENU holder = c->kind == CtrlKind::Menu ? c->holder : c->menu;
            const UINT st = GetMenuState(holder, static_cast<UINT>(c->id), MF_BYCOMMAND);
            if (st == static_cast<UINT>(-1)) {
                r.setInt32(0);
                return 0;
            }
            n = ((st & MF_CHECKED) ? kGuiChecked : kGuiUnchecked) | ((st & (MF_GRAYED | MF_DISABLED)) ? kGuiDisable : kGuiEnable);
            r.setInt32(n);
            return 0;
        }
        case CtrlKind::TreeView: {
            HTREEITEM sel = reinterpret_cast<HTREEITEM>(SendMessageW(h, TVM_GETNEXTITEM, TVGN_CARET, 0));
            if (advanced) {
                GuiControl* item = sel ? guiControl(idOfTreeItem(h, sel)) : nullptr;
                r.setString(item ? treeItemText(*item) : SString());
                return 0;
            }
            n = sel ? idOfTreeItem(h, sel) : 0;
            r.setInt32(n);
            return 0;
        }
        case CtrlKind::TreeViewItem: {
            if (advanced) {
                r.setString(treeItemText(*c));
                return 0;
            }
            const UINT st = static_cast<UINT>(SendMessageW(h, TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(c->treeItem), 0xFFFF));
            if (GetWindowLongPtrW(h, GWL_STYLE) & TVS_CHECKBOXES) n = ((st >> 12) == 2) ? 1 : 4;
            if (st & TVIS_SELECTED) n |= 256;
            if (st & TVIS_EXPANDED) n |= 1024;
            if (st & TVIS_BOLD) n |= 512;
            break;
        }
        case CtrlKind::ListView: {
            const int sel = static_cast<int>(SendMessageW(h, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
            n = sel >= 0 ? idOfListItem(h, sel) : 0;
            r.setInt32(n);
            return 0;
        }
        case CtrlKind::ListViewItem: {
            if (advanced) {
                r.setString(listItemText(*c));
                return 0;
            }
            const int at = guiListViewItemIndex(*c);
            n = -1;
            if (at >= 0 && (SendMessageW(h, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_CHECKBOXES)) {
                const UINT st = static_cast<UINT>(SendMessageW(h, LVM_GETITEMSTATE, at, LVIS_STATEIMAGEMASK));
                n = ((st >> 12) == 2) ? 1 : 4;
            }
            if (n <= 0) {
                text = listItemText(*c);
                if (!text.empty()) {
                    r.setString(text);
                    return 0;
                }
            }
            r.setInt32(n);
            return 0;
        }
        case CtrlKind::Dummy:
            r = c->value;
            return 0;
        case CtrlKind::Checkbox:
        case CtrlKind::Radio: {
            if (advanced) {
                r.setString(windowText(h));
                return 0;
            }
            const LRESULT st = SendMessageW(h, BM_GETCHECK, 0, 0);
            n = st == BST_CHECKED ? 1 : (st == BST_INDETERMINATE ? 2 : 4);
            break;
        }
        case CtrlKind::MonthCal: {
            SYSTEMTIME st{};
            if (!SendMessageW(h, MCM_GETCURSEL, 0, reinterpret_cast<LPARAM>(&st))) {
                r.setInt32(0);
                return 0;
            }
            wchar_t buf[32];
            swprintf(buf, 32, L"%d/%02d/%02d", st.wYear, st.wMonth, st.wDay);
            r.setString(fromBuf(buf));
            return 0;
        }
        default:
            r.setString(windowText(h));
            return 0;
    }
    if (isText) {
        r.setString(text);
        return 0;
    }
    if (n <= 0 && h) {
        text = c->kind == CtrlKind::TreeViewItem ? treeItemText(*c) : windowText(h);
        if (!text.empty()) {
            r.setString(text);
            return 0;
        }
    }
    r.setInt32(n);
    return 0;
}

// ---- state --------------------------------------------------------------------------------------------------------
int bi_GUICTRLSETSTATE(Engine&, Args& a, Variant& r) {
    GuiControl* c = guiControl(a.int32(0));
    if (!c) {
        r.setInt32(0);
        return 0;
    }
    int32_t state = a.int32(1);
    if (state < 0) state = 0;
    guiApplyState(*c, static_cast<uint32_t>(state));
    return 0;
}

int bi_GUICTRLGETSTATE(Engine&, Args& a, Variant& r) {
    GuiControl* c = guiControl(a.int32Or(0, -1));
    if (!c) {
        r.setInt32(-1);
        return 0;
    }
    r.setInt32(c->kind == CtrlKind::ListView ? c->lvLastColumn : static_cast<int32_t>(c->state));
    return 0;
}

// ---- colours and fonts ---------------------------------------------------------------------------------------
int bi_GUICTRLSETCOLOR(Engine&, Args& a, Variant& r) {
    GuiControl* c = guiControl(a.int32(0));
    r.setInt32(c && guiSetColour(*c, a.int32(1), false) ? 1 : 0);
    return 0;
}

int bi_GUICTRLSETBKCOLOR(Engine&, Args& a, Variant& r) {
    GuiControl* c = guiControl(a.int32(0));
    r.setInt32(c && static_cast<int>(c->kind) <= 27 && guiSetColour(*c, a.int32(1), true) ? 1 : 0);
    return 0;
}

static GuiWindow* windowArg(const Args& a, int i) {
    if (a.given(i)) {
        GuiWindow* w = guiWindow(reinterpret_cast<HWND>(a[i].toPtr()));
        if (w) gui().current = w->index;
        return w;
    }
    return guiCurrentWindow();
}

int bi_GUICTRLSETDEFCOLOR(Engine&, Args& a, Variant& r) {
    GuiWindow* w = windowArg(a, 1);
    if (!w) {
        r.setInt32(0);
        return 0;
    }
    w->defColor = a.int32(0);
    return 0;
}

int bi_GUICTRLSETDEFBKCOLOR(Engine&, Args& a, Variant& r) {
    GuiWindow* w = windowArg(a, 1);
    if (!w) {
        r.setInt32(0);
        return 0;
    }
    w->defBkColor = a.int32(0);
    return 0;
}

int bi_GUICTRLSETFONT(Engine&, Args& a, Variant& r) {
    GuiControl* c = guiControl(a.int32(0));
    GuiWindow* w = c ? guiControlWindow(*c) : nullptr;
    if (!c || !w || !c->hwnd || c->kind == CtrlKind::TreeViewItem || c->kind == CtrlKind::ListViewItem ||
        c->kind == CtrlKind::TabItem) {
        r.setInt32(0);
        return 0;
    }
    const double size = a.dbl(1);
    if (size > 10000) {  // no font is that large; refuse rather than overflow the height
        r.setInt32(0);
        return 0;
    }
    const int32_t size10 = size < 0 ? w->fontSize : static_cast<int32_t>(size * 10 + 0.5);
    const int32_t weight = a.int32Or(2, -1) < 0 ? w->fontWeight : a.int32(2);
    const int32_t attr = a.int32Or(3, -1) < 0 ? w->fontAttr : a.int32(3);
    const SString name = a.given(4) && !a.str(4).empty() ? a.str(4) : w->fontName;
    const int32_t quality = a.int32Or(5, -1) < 0 ? w->fontQuality : a.int32(5);
    if (size10 > 100000 || weight > 10000) {
        r.setInt32(0);
        return 0;
    }
    HFONT f = guiMakeFont(size10, weight, attr, name, quality);
    if (!f) {
        r.setInt32(0);
        return 0;
    }
    SendMessageW(c->hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(f), TRUE);
    c->font.reset(f);
    return 0;
}

// ---- position, style, limits, docking ------------------------------------------------------------------------
int bi_GUICTRLSETPOS(Engine&, Args& a, Variant& r) {
    GuiControl* c = guiControl(a.int32(0));
    GuiWindow* w = c ? guiControlWindow(*c) : nullptr;
    if (!c || !w || !c->hwnd || !guiTakesDocking(c->kind) || c->kind == CtrlKind::Dummy) {
        r.setInt32(0);
        return 0;
    }
    int32_t v[4];
    bool any = false;
    for (int i = 0; i < 4; ++i) {
        v[i] = a.int32Or(1 + i, -1);
        if (v[i] != -1) any = true;
    }
    if (!any) return 0;
    RECT rc{};
    GetWindowRect(c->hwnd, &rc);
    MapWindowPoints(nullptr, w->hwnd, reinterpret_cast<POINT*>(&rc), 2);
    const int x = v[0] != -1 ? v[0] : rc.left, y = v[1] != -1 ? v[1] : rc.top;
    const int cw = v[2] != -1 ? v[2] : rc.right - rc.left, ch = v[3] != -1 ? v[3] : rc.bottom - rc.top;
    if (cw < 0 || ch < 0 || cw > 32767 || ch > 32767 || x < -32767 || x > 32767 || y < -32767 || y > 32767) {
        r.setInt32(0);
        return 0;
    }
    w->lastX = x;
    w->lastY = y;
    w->lastW = cw;
    w->lastH = ch;
    if (!(x == c->refX && y == c->refY && cw == c->refW && ch == c->refH && w->initialLayout) ||
        rc.left != x || rc.top != y || rc.right - rc.left != cw || rc.bottom - rc.top != ch)
        MoveWindow(c->hwnd, x, y, cw, ch, TRUE);
    if (c->kind == CtrlKind::Pic && c->bitmap) {
        // Keep the picture filling the control.
    }
    guiComputeReference(*c, *w);
    for (auto& o : gui().controls)
        if (o && o->kind == CtrlKind::UpDown && o->parentId == c->id)
            SendMessageW(o->hwnd, UDM_SETBUDDY, reinterpret_cast<WPARAM>(c->hwnd), 0);
    return 0;
}

int bi_GUICTRLSETRESIZING(Engine&, Args& a, Variant& r) {
    GuiControl* c = guiControl(a.int32(0));
    const int32_t flags = a.int32(1);
    GuiWindow* w = c ? guiControlWindow(*c) : nullptr;
    if (!c || !w || flags >= 1024 || flags < 0 || !guiTakesDocking(c->kind)) {
        r.setInt32(0);
        return 0;
    }
    if (flags > 0) c->dock = static_cast<uint16_t>(flags);
    if (!w->initialLayout) guiComputeReference(*c, *w);
    return 0;
}

int bi_GUICTRLSETSTYLE(Engine&, Args& a, Variant& r) {
    GuiControl* c = guiControl(a.int32(0));
    GuiWindow* w = c ? guiControlWindow(*c) : nullptr;
    if (!c || !w || !c->hwnd || c->kind == CtrlKind::TreeViewItem || c->kind == CtrlKind::ListViewItem ||
        c->kind == CtrlKind::TabItem) {
        r.setInt32(0);
        return 0;
    }
    if (c->kind == CtrlKind::UpDown) {
        r.setInt32(0);
        return 0;
    }
    const int32_t style = a.int32(1);
    const int32_t ex = a.int32Or(2, -1);
    HWND h = c->hwnd;
    LONG_PTR last = 0;
    CtrlKind k = c->kind;
    if (style != -1) {
        DWORD s = static_cast<DWORD>(style);
        if (k == CtrlKind::Edit) {
            s |= ES_MULTILINE;
            k = CtrlKind::Input;
        }
        if (k == CtrlKind::Input) {
            if (s & ES_READONLY) {
                SendMessageW(h, EM_SETREADONLY, TRUE, 0);
            } else {
                SendMessageW(h, EM_SETREADONLY, FALSE, 0);
                s |= WS_TABSTOP;
            }
        }
        if (k == CtrlKind::Pic) s |= 0xE;
        if (k == CtrlKind::Icon) s |= 3;
        if (k == CtrlKind::Tab) s |= WS_CLIPSIBLINGS;
        s |= WS_CHILD | WS_VISIBLE;
        if (c->kind == CtrlKind::Button && c->ownerDrawn) s = (s & ~0xFu) | BS_OWNERDRAW;
        last = SetWindowLongPtrW(h, GWL_STYLE, static_cast<LONG>(s));
        if (c->kind == CtrlKind::Button || c->kind == CtrlKind::Checkbox || c->kind == CtrlKind::Radio)
            SendMessageW(h, BM_SETSTYLE, s & 0xFFFF, TRUE);
    }
    if (ex != -1) {
        last = SetWindowLongPtrW(h, GWL_EXSTYLE, ex);
        if (c->kind == CtrlKind::ListView) last = SendMessageW(h, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, ex);
    }
    if (visibleOnPage(*c, *w) && !(c->state & kGuiHide)) {
        if (!w->locked) {
            RECT rc{};
            GetWindowRect(h, &rc);
            MapWindowPoints(nullptr, w->hwnd, reinterpret_cast<POINT*>(&rc), 2);
            InvalidateRect(w->hwnd, &rc, TRUE);
            InvalidateRect(h, nullptr, TRUE);
        }
    } else {
        ShowWindow(h, SW_HIDE);
    }
    if (k == CtrlKind::Input || ex != -1)
        SetWindowPos(h, nullptr, 0, 0, 0, 0, SWP_FRAMECHANGED | SWP_NOZORDER | SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    r.setInt32(last != 0 ? 1 : 0);
    return 0;
}

int bi_GUICTRLSETLIMIT(Engine&, Args& a, Variant& r) {
    GuiControl* c = guiControl(a.int32(0));
    if (!c) {
        r.setInt32(0);
        return 0;
    }
    const int32_t mx = a.int32(1), mn = a.int32Or(2, 0);
    HWND h = c->hwnd;
    switch (c->kind) {
        case CtrlKind::List:
            if (mx > 0) SendMessageW(h, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(mx), 0);
            break;
        case CtrlKind::Input:
            if (mx > 0) {
                SendMessageW(h, EM_SETSEL, 0, -1);
                SendMessageW(h, EM_LIMITTEXT, static_cast<WPARAM>(mx), 0);
            }
            break;
        case CtrlKind::Edit:
            if (mx > 0) SendMessageW(h, EM_LIMITTEXT, static_cast<WPARAM>(mx), 0);
            break;
        case CtrlKind::Slider:
            SendMessageW(h, TBM_SETRANGE, TRUE, MAKELPARAM(mn, mx));
            break;
        case CtrlKind::UpDown:
            SendMessageW(h, UDM_SETRANGE, 0, MAKELPARAM(mx, mn));
            break;
        default:
            r.setInt32(0);
            return 0;
    }
    return 0;
}

// ---- tips, cursors, images ---------------------------------------------------------------------------------
int bi_GUICTRLSETTIP(Engine&, Args& a, Variant& r) {
    GuiControl* c = guiControl(a.int32(0));
    GuiWindow* w = c ? guiControlWindow(*c) : nullptr;
    r.setInt32(0);
    if (!c || !w) return 0;
    switch (c->kind) {
        case CtrlKind::Avi:
        case CtrlKind::ContextMenu:
        case CtrlKind::Menu:
        case CtrlKind::MenuItem:
        case CtrlKind::TreeViewItem:
        case CtrlKind::ListViewItem:
        case CtrlKind::Dummy:
        case CtrlKind::Graphic:
        case CtrlKind::Obj:
            return 0;
        default:
            break;
    }
    const SString text = a.str(1);
    const SString title = a.given(2) ? a.str(2) : SString();
    const int32_t icon = a.int32Or(3, 0);
    const int32_t opts = a.int32Or(4, 0);
    const bool tabItem = c->kind == CtrlKind::TabItem;
    HWND target = tabItem ? w->tab : c->hwnd;
    if (!target) return 0;
    DWORD style = 0x80000003 | ((opts & 1) ? 0x40 : 0);
    ensureCommonControls();
    HWND tip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, style, CW_USEDEFAULT, CW_USEDEFAULT,
                               CW_USEDEFAULT, CW_USEDEFAULT, target, nullptr, instanceHandle(), nullptr);
    if (!tip) return 0;
    TTTOOLINFOW ti{};
    ti.cbSize = TTTOOLINFOW_V2_SIZE;
    ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS | ((opts & 2) ? TTF_CENTERTIP : 0);
    ti.hwnd = target;
    ti.uId = reinterpret_cast<UINT_PTR>(target);
    ti.lpszText = const_cast<wchar_t*>(wzs(text));
    SendMessageW(tip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
    RECT desk{};
    GetWindowRect(GetDesktopWindow(), &desk);
    SendMessageW(tip, TTM_SETMAXTIPWIDTH, 0, desk.right);
    if (!title.empty()) SendMessageW(tip, TTM_SETTITLEW, static_cast<WPARAM>(icon), reinterpret_cast<LPARAM>(wzs(title)));
    if (tabItem) {
        // One tooltip window serves the whole tab control; every item keeps its text for the tab's tip.
        for (auto& o : gui().controls)
            if (o && o->kind == CtrlKind::TabItem && o->win == c->win) o->tip.h = nullptr;
        if (GuiControl* tabRec = guiControl(w->tabId)) tabRec->tip.reset(tip);
        SendMessageW(w->tab, TCM_SETTOOLTIPS, reinterpret_cast<WPARAM>(tip), 0);
        c->tipText = text;
    } else {
        c->tip.reset(tip);
        c->tipText = text;
    }
    r.setInt32(1);
    return 0;
}

int bi_GUICTRLSETCURSOR(Engine&, Args& a, Variant& r) {
    GuiControl* c = guiControl(a.int32(0));
    GuiWindow* w = c ? guiControlWindow(*c) : nullptr;
    if (!c || !w) {
        r.setInt32(0);
        return 0;
    }
    c->cursor = a.int32(1);
    w->controlCursors = true;
    PostMessageW(w->hwnd, WM_SETCURSOR, reinterpret_cast<WPARAM>(w->hwnd), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    return 0;
}

int bi_GUICTRLSETIMAGE(Engine&, Args& a, Variant& r) {
    GuiControl* c = guiControl(a.int32(0));
    GuiWindow* w = c ? guiControlWindow(*c) : nullptr;
    r.setInt32(0);
    if (!c || !w) return 0;
    const SString file = a.str(1);
    const Variant which = a.given(2) ? a[2] : Variant::int32(-1);
    const int32_t size = a.int32Or(3, -1);
    switch (c->kind) {
        case CtrlKind::Pic:
            if (guiSetPicture(*c, file, false)) r.setInt32(1);
            return 0;
        case CtrlKind::Icon: {
            RECT rc{};
            GetClientRect(c->hwnd, &rc);
            HICON icon = guiLoadIcon(file, which, rc.right ? rc.right : 32, rc.bottom ? rc.bottom : 32);
            if (!icon) return 0;
            SendMessageW(c->hwnd, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
            c->icon.reset(icon);
            SetWindowPos(c->hwnd, nullptr, 0, 0, rc.right, rc.bottom, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
            r.setInt32(1);
            return 0;
        }
        case CtrlKind::Button:
        case CtrlKind::Checkbox:
        case CtrlKind::Radio: {
            const bool isBmp = file.size() > 4 && (file[file.size() - 1] | 0x20) == u'p' &&
                               (file[file.size() - 2] | 0x20) == u'm' && (file[file.size() - 3] | 0x20) == u'b';
            LONG_PTR st = GetWindowLongPtrW(c->hwnd, GWL_STYLE) & ~static_cast<LONG_PTR>(BS_ICON | BS_BITMAP);
            if (isBmp) {
                HBITMAP b = static_cast<HBITMAP>(LoadImageW(nullptr, wzs(file), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE));
                if (!b) return 0;
                SetWindowLongPtrW(c->hwnd, GWL_STYLE, st | BS_BITMAP);
                SendMessageW(c->hwnd, BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(b));
                c->bitmap.reset(b);
            } else {
                const int px = size > 0 ? size : 32;
                HICON icon = guiLoadIcon(file, which, px, px);
                if (!icon) return 0;
                SetWindowLongPtrW(c->hwnd, GWL_STYLE, st | BS_ICON);
                SendMessageW(c->hwnd, BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(icon));
                c->icon.reset(icon);
            }
            InvalidateRect(c->hwnd, nullptr, TRUE);
            r.setInt32(1);
            return 0;
        }
        case CtrlKind::TabItem:
        case CtrlKind::TreeViewItem:
        case CtrlKind::ListViewItem: {
            // Item images live in an image list of the parent control.
            GuiControl* owner = c->kind == CtrlKind::TabItem ? guiControl(w->tabId) : guiControl(c->parentId);
            while (owner && owner->kind == CtrlKind::TreeViewItem) owner = guiControl(owner->parentId);
            if (!owner || !owner->hwnd) return 0;
            const int px = 16;
            HICON icon = guiLoadIcon(file, which, px, px);
            if (!icon) return 0;
            if (!owner->imageList.h) {
                owner->imageList.reset(ImageList_Create(px, px, ILC_COLOR32 | ILC_MASK, 4, 4));
                if (!owner->imageList.h) {
                    DestroyIcon(icon);
                    return 0;
                }
                if (owner->kind == CtrlKind::Tab)
                    SendMessageW(owner->hwnd, TCM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(owner->imageList.h));
                else if (owner->kind == CtrlKind::TreeView)
                    SendMessageW(owner->hwnd, TVM_SETIMAGELIST, TVSIL_NORMAL, reinterpret_cast<LPARAM>(owner->imageList.h));
                else
                    SendMessageW(owner->hwnd, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(owner->imageList.h));
            }
            const int index = ImageList_AddIcon(owner->imageList.h, icon);
            DestroyIcon(icon);
            if (index < 0) return 0;
            BOOL ok = FALSE;
            if (c->kind == CtrlKind::TabItem) {
                TCITEMW ti{};
                ti.mask = TCIF_IMAGE;
                ti.iImage = index;
                ok = static_cast<BOOL>(SendMessageW(owner->hwnd, TCM_SETITEMW, c->tabPage, reinterpret_cast<LPARAM>(&ti)));
            } else if (c->kind == CtrlKind::TreeViewItem) {
                TVITEMW it{};
                it.mask = TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_HANDLE;
                it.hItem = c->treeItem;
                it.iImage = it.iSelectedImage = index;
                ok = static_cast<BOOL>(SendMessageW(owner->hwnd, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&it)));
            } else {
                LVITEMW it{};
                it.mask = LVIF_IMAGE;
                it.iItem = guiListViewItemIndex(*c);
                it.iImage = index;
                ok = it.iItem >= 0 && SendMessageW(owner->hwnd, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&it));
            }
            r.setInt32(ok ? 1 : 0);
            return 0;
        }
        default:
            return 0;
    }
}

// ---- deletion, handles, messages -----------------------------------------------------------------------------
int bi_GUICTRLDELETE(Engine&, Args& a, Variant& r) {
    GuiControl* c = guiControl(a.int32(0));
    if (!c) {
        r.setInt32(0);
        return 0;
    }
    guiDeleteControl(*c);
    return 0;
}

int bi_GUICTRLGETHANDLE(Engine&, Args& a, Variant& r) {
    GuiControl* c = guiControl(a.int32(0));
    uintptr_t h = 0;
    if (c) {
        switch (c->kind) {
            case CtrlKind::ContextMenu:
            case CtrlKind::Menu:
                h = reinterpret_cast<uintptr_t>(c->menu);
                break;
            case CtrlKind::TreeViewItem:
                h = reinterpret_cast<uintptr_t>(c->treeItem);
                break;
            case CtrlKind::TabItem:
            case CtrlKind::ListViewItem:
            case CtrlKind::MenuItem:
            case CtrlKind::Dummy:
                break;
            default:
                h = reinterpret_cast<uintptr_t>(c->hwnd);
                break;
        }
    }
    if (!h) {
        r.setInt32(0);
        return 0;
    }
    r.setPtr(h);
    return 0;
}

static LPARAM messageArg(const Variant& v) {
    if (v.isString()) return reinterpret_cast<LPARAM>(v.rawString().c_str());
    if (v.is(Kind::Ptr)) return static_cast<LPARAM>(v.rawPtr());
    return static_cast<LPARAM>(v.toInt64());
}

int bi_GUICTRLSENDMSG(Engine&, Args& a, Variant& r) {
    GuiControl* c = guiControl(a.int32(0));
    if (!c || !c->hwnd) {
        r.setInt32(0);
        return 0;
    }
    const LRESULT res = SendMessageW(c->hwnd, static_cast<UINT>(a.int32(1)), static_cast<WPARAM>(messageArg(a[2])),
                                     messageArg(a[3]));
    if (res == static_cast<LRESULT>(static_cast<int32_t>(res)))
        r.setInt32(static_cast<int32_t>(res));
    else
        r.setInt64(static_cast<int64_t>(res));
    return 0;
}

int bi_GUICTRLRECVMSG(Engine& e, Args& a, Variant& r) {
    GuiControl* c = guiControl(a.int32(0));
    if (!c || !c->hwnd) {
        r.setInt32(0);
        e.setError(1);
        return 0;
    }
    const UINT msg = static_cast<UINT>(a.int32(1));
    const int32_t type = a.int32Or(3, 0);
    if (type == 1) {
        std::wstring buf(4096, L'\0');
        const WPARAM wp = a.given(2) ? static_cast<WPARAM>(messageArg(a[2])) : 4095;
        SendMessageW(c->hwnd, msg, wp, reinterpret_cast<LPARAM>(buf.data()));
        buf[4095] = 0;
        r.setString(fromBuf(buf.c_str()));
        return 0;
    }
    if (type == 2) {
        RECT rc{};
        const WPARAM wp = a.given(2) ? static_cast<WPARAM>(messageArg(a[2])) : 0;
        if (!SendMessageW(c->hwnd, msg, wp, reinterpret_cast<LPARAM>(&rc)) && rc.left == 0 && rc.right == 0 &&
            rc.top == 0 && rc.bottom == 0) {
            r.setInt32(0);
            e.setError(1);
            return 0;
        }
        uint32_t four = 4;
        ArrayData* arr = ArrayData::create(&four, 1);
        arr->at(0) = Variant::int32(rc.left);
        arr->at(1) = Variant::int32(rc.top);
        arr->at(2) = Variant::int32(rc.right);
        arr->at(3) = Variant::int32(rc.bottom);
        r = Variant::array(arr);
        return 0;
    }
    DWORD first = 0, second = 0;
    SendMessageW(c->hwnd, msg, reinterpret_cast<WPARAM>(&first), reinterpret_cast<LPARAM>(&second));
    uint32_t two = 2;
    ArrayData* arr = ArrayData::create(&two, 1);
    arr->at(0) = Variant::int32(static_cast<int32_t>(first));
    arr->at(1) = Variant::int32(static_cast<int32_t>(second));
    r = Variant::array(arr);
    return 0;
}

int bi_GUICTRLREGISTERLISTVIEWSORT(Engine& e, Args& a, Variant& r) {
    GuiControl* c = guiControl(a.int32(0));
    r.setInt32(0);
    SString name = a.str(1);
    const std::u16string upper = asciiUpperCopy(name.view());
    const int fn = e.findUserFunction(u16view(upper.data(), upper.size()));
    if (fn < 0) {
        e.setError(2);
        return 0;
    }
    if (e.userFunction(fn).params.size() > 4) {
        e.setError(1);
        return 0;
    }
    if (!c || c->kind != CtrlKind::ListView) return 0;
    c->lvSortFunction = SString(u16view(upper.data(), upper.size()));
    c->lvSortState = 0;
    r.setInt32(1);
    return 0;
}

}  // namespace tx
