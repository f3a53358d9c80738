// The CONTROL... built-ins that act on any kind of control (state, position, text, focus, clicks) and
// CONTROLCOMMAND, whose commands speak each common control kind's own messages: combo and list boxes,
// tab controls, buttons and edits. Messages that carry a string (list items, edit lines) are carried
// between processes by the system itself; everything else is plain numbers. Every message to another
// program goes with the abort-if-hung flag and a time-out, so a hung program cannot hang the script.
#include "automation/controls.h"

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <string>

#include "automation/control_search.h"
#include "automation/keys.h"
#include "automation/results.h"
#include "automation/winspec.h"
#include "core/engine.h"
#include "env/options.h"

namespace tx {

namespace {

const char16_t* U(const wchar_t* s) { return reinterpret_cast<const char16_t*>(s); }
const wchar_t* W(const char16_t* s) { return reinterpret_cast<const wchar_t*>(s); }

constexpr UINT kSendTimeoutMs = 5000;

// Sends a message with the abort-if-hung flag; false when the window is hung, gone or too slow.
bool send(HWND h, UINT msg, WPARAM w, LPARAM l, LRESULT* result = nullptr) {
    DWORD_PTR out = 0;
    if (!SendMessageTimeoutW(h, msg, w, l, SMTO_ABORTIFHUNG, kSendTimeoutMs, &out)) return false;
    if (result) *result = static_cast<LRESULT>(out);
    return true;
}

// The answer of a message, or fallback when it could not be delivered.
LRESULT ask(HWND h, UINT msg, WPARAM w = 0, LPARAM l = 0, LRESULT fallback = -1) {
    LRESULT r = fallback;
    return send(h, msg, w, l, &r) ? r : fallback;
}

bool sameNoCase(u16view a, const wchar_t* b) {
    return CompareStringOrdinal(W(a.data()), static_cast<int>(a.size()), b, -1, TRUE) == CSTR_EQUAL;
}

bool classIs(HWND h, const wchar_t* name) {
    wchar_t buf[256];
    int n = GetClassNameW(h, buf, 256);
    return n > 0 && sameNoCase(u16view(U(buf), static_cast<size_t>(n)), name);
}

// ---- clicks --------------------------------------------------------------------------------------------

struct ButtonMessages {
    UINT down, up, dbl;
    WPARAM flag;
};

constexpr ButtonMessages kLeft{WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, MK_LBUTTON};
constexpr ButtonMessages kRight{WM_RBUTTONDOWN, WM_RBUTTONUP, WM_RBUTTONDBLCLK, MK_RBUTTON};
constexpr ButtonMessages kMiddle{WM_MBUTTONDOWN, WM_MBUTTONUP, WM_MBUTTONDBLCLK, MK_MBUTTON};

bool buttonsSwapped() {
    wchar_t value[8] = {};
    DWORD size = sizeof value;
    if (RegGetValueW(HKEY_CURRENT_USER, L"Control Panel\\Mouse", L"SwapMouseButtons", RRF_RT_REG_SZ, nullptr,
                     value, &size) != ERROR_SUCCESS)
        return false;
    return wcscmp(value, L"1") == 0;
}

// The mouse button a name stands for: "" and "left", "right", "middle", and the primary ("main",
// "primary") and secondary ("menu", "secondary") buttons, which follow the user's swapping of buttons.
const ButtonMessages* buttonByName(u16view name) {
    if (name.empty() || sameNoCase(name, L"LEFT")) return &kLeft;
    if (sameNoCase(name, L"RIGHT")) return &kRight;
    if (sameNoCase(name, L"MIDDLE")) return &kMiddle;
    if (sameNoCase(name, L"MAIN") || sameNoCase(name, L"PRIMARY")) return buttonsSwapped() ? &kRight : &kLeft;
    if (sameNoCase(name, L"MENU") || sameNoCase(name, L"SECONDARY")) return buttonsSwapped() ? &kLeft : &kRight;
    return nullptr;
}

// Posts the clicks to the control: odd clicks as button-down, even ones as double-clicks, each followed
// by button-up; the processor is yielded after each message so the target can take them in turn.
void postClicks(HWND ctl, const ButtonMessages& b, int clicks, int x, int y) {
    const LPARAM at = MAKELPARAM(x, y);
    // A window that is gone or whose queue is full takes no more: the rest of a huge count is dropped.
    for (int i = 1; i <= clicks; ++i) {
        if (!PostMessageW(ctl, (i & 1) ? b.down : b.dbl, b.flag, at)) break;
        Sleep(0);
        if (!PostMessageW(ctl, b.up, 0, at)) break;
        Sleep(0);
    }
    automationDelay(options().mouseClickDelay);
}

void centre(HWND ctl, int& x, int& y) {
    RECT r{};
    GetWindowRect(ctl, &r);
    x = (r.right - r.left) / 2;
    y = (r.bottom - r.top) / 2;
}

// ---- CONTROLCOMMAND ------------------------------------------------------------------------------------

// The messages of the two list-holding kinds, so each item command is written once.
struct ListKind {
    UINT add, del, findExact, setSel, getSel, getTextLen, getText, selectString;
    WORD secondNotify;  // sent after the selection-change notification (1)
};

constexpr ListKind kComboKind{CB_ADDSTRING,  CB_DELETESTRING, CB_FINDSTRINGEXACT, CB_SETCURSEL,
                              CB_GETCURSEL,  CB_GETLBTEXTLEN, CB_GETLBTEXT,       CB_SELECTSTRING,
                              CBN_SELENDOK};
constexpr ListKind kListKind{LB_ADDSTRING, LB_DELETESTRING, LB_FINDSTRINGEXACT, LB_SETCURSEL,
                             LB_GETCURSEL, LB_GETTEXTLEN,   LB_GETTEXT,         LB_SELECTSTRING,
                             LBN_DBLCLK};

struct Command {
    Engine& e;
    Args& a;
    Variant& r;
    HWND ctl;

    SString option() const { return a.given(4) ? a.str(4) : SString(); }
    const ListKind* listKind() const {
        if (classIs(ctl, L"ComboBox")) return &kComboKind;
        if (classIs(ctl, L"ListBox")) return &kListKind;
        return nullptr;
    }
};

// Holds the option's text (terminated) for messages that take a string pointer.
struct OptionText {
    std::u16string text;
    explicit OptionText(const Command& c) : text(c.option().view()) {}
    LPARAM param() const { return reinterpret_cast<LPARAM>(text.c_str()); }
};

bool setResult(Command& c, int64_t v) {
    c.r = v >= INT32_MIN && v <= INT32_MAX ? Variant::int32(static_cast<int32_t>(v)) : Variant::int64(v);
    return true;
}

bool cmdIsVisible(Command& c) { return setResult(c, IsWindowVisible(c.ctl) ? 1 : 0); }
bool cmdIsEnabled(Command& c) { return setResult(c, IsWindowEnabled(c.ctl) ? 1 : 0); }

bool postArrow(Command& c, WPARAM vk) {
    const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyW(static_cast<UINT>(vk), MAPVK_VK_TO_VSC)) << 16;
    const LPARAM extended = 1 << 24;  // the arrow keys of the separate block
    PostMessageW(c.ctl, WM_KEYDOWN, vk, scan | extended | 1);
    PostMessageW(c.ctl, WM_KEYUP, vk, static_cast<LPARAM>(static_cast<LONG>(0xC0000001u)) | scan | extended);
    return true;
}
bool cmdTabLeft(Command& c) { return postArrow(c, VK_LEFT); }
bool cmdTabRight(Command& c) { return postArrow(c, VK_RIGHT); }

bool cmdCurrentTab(Command& c) {
    const LRESULT sel = ask(c.ctl, TCM_GETCURSEL);
    return sel >= 0 && setResult(c, sel + 1);
}

bool dropDown(Command& c, BOOL show) { return ask(c.ctl, CB_SHOWDROPDOWN, show, 0, 0) != 0; }
bool cmdShowDropDown(Command& c) { return dropDown(c, TRUE); }
bool cmdHideDropDown(Command& c) { return dropDown(c, FALSE); }

bool cmdAddString(Command& c) {
    const ListKind* k = c.listKind();
    OptionText text(c);
    return k && ask(c.ctl, k->add, 0, text.param()) >= 0;
}

bool cmdDelString(Command& c) {
    const ListKind* k = c.listKind();
    return k && ask(c.ctl, k->del, static_cast<WPARAM>(c.a.int32Or(4, 0)), 0) >= 0;
}

bool cmdFindString(Command& c) {
    const ListKind* k = c.listKind();
    if (!k) return false;
    OptionText text(c);
    const LRESULT i = ask(c.ctl, k->findExact, static_cast<WPARAM>(-1), text.param());
    return i >= 0 && setResult(c, i);
}

// Tells the control's parent that the user changed the selection, as a real selection would.
void notifySelection(HWND ctl, const ListKind& k) {
    HWND parent = GetParent(ctl);
    if (!parent) return;
    const WORD id = static_cast<WORD>(GetDlgCtrlID(ctl));
    send(parent, WM_COMMAND, MAKEWPARAM(id, 1), reinterpret_cast<LPARAM>(ctl));
    send(parent, WM_COMMAND, MAKEWPARAM(id, k.secondNotify), reinterpret_cast<LPARAM>(ctl));
}

bool cmdSetCurrentSelection(Command& c) {
    const ListKind* k = c.listKind();
    if (!k || ask(c.ctl, k->setSel, static_cast<WPARAM>(c.a.int32Or(4, 0)), 0) < 0) return false;
    notifySelection(c.ctl, *k);
    return true;
}

bool itemText(HWND ctl, const ListKind& k, LRESULT index, std::u16string& out) {
    const LRESULT len = ask(ctl, k.getTextLen, static_cast<WPARAM>(index), 0);
    if (len < 0) return false;
    out.assign(static_cast<size_t>(len) + 1, u'\0');
    const LRESULT got = ask(ctl, k.getText, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(out.data()));
    if (got < 0) return false;
    out.resize(std::u16string_view(out.c_str()).size());
    return true;
}

bool cmdGetCurrentSelection(Command& c) {
    const ListKind* k = c.listKind();
    if (!k) return false;
    const LRESULT sel = ask(c.ctl, k->getSel);
    std::u16string text;
    if (sel < 0 || !itemText(c.ctl, *k, sel, text)) return false;
    c.r = Variant::string(u16view(text));
    return true;
}

bool cmdSelectString(Command& c) {
    const ListKind* k = c.listKind();
    if (!k) return false;
    OptionText text(c);
    if (ask(c.ctl, k->selectString, static_cast<WPARAM>(-1), text.param()) < 0) return false;
    notifySelection(c.ctl, *k);
    return true;
}

bool cmdIsChecked(Command& c) { return setResult(c, ask(c.ctl, BM_GETCHECK, 0, 0, 0) == BST_CHECKED ? 1 : 0); }

// Clicks the button when its state is not the one wanted, and gives the click a moment to land.
bool checkTo(Command& c, bool wantChecked) {
    auto isChecked = [&] { return ask(c.ctl, BM_GETCHECK, 0, 0, 0) == BST_CHECKED; };
    if (isChecked() == wantChecked) return true;
    int x, y;
    centre(c.ctl, x, y);
    postClicks(c.ctl, kLeft, 1, x, y);
    for (int i = 0; i < 50 && isChecked() != wantChecked; ++i) Sleep(10);
    return true;
}
bool cmdCheck(Command& c) { return checkTo(c, true); }
bool cmdUncheck(Command& c) { return checkTo(c, false); }

// The selection of an edit control; the packed answer only holds positions below 65536.
bool editSelection(HWND ctl, DWORD& start, DWORD& end) {
    LRESULT packed = 0;
    if (!send(ctl, EM_GETSEL, 0, 0, &packed)) return false;
    if (packed != -1) {
        start = LOWORD(packed);
        end = HIWORD(packed);
        return true;
    }
    return send(ctl, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
}

bool cmdGetSelected(Command& c) {
    DWORD start = 0, end = 0;
    if (!editSelection(c.ctl, start, end) || start >= end) return false;
    const SString text = windowText(c.ctl);
    if (start >= text.size()) return false;
    c.r = Variant::string(text.view().substr(start, end - start));
    return true;
}

bool cmdGetLineCount(Command& c) {
    const LRESULT n = ask(c.ctl, EM_GETLINECOUNT, 0, 0, 0);
    return setResult(c, n);
}

bool cmdGetCurrentLine(Command& c) {
    const LRESULT line = ask(c.ctl, EM_LINEFROMCHAR, static_cast<WPARAM>(-1), 0);
    return line >= 0 && setResult(c, line + 1);
}

bool cmdGetCurrentCol(Command& c) {
    DWORD start = 0, end = 0;
    if (!editSelection(c.ctl, start, end)) return false;
    const LRESULT line = ask(c.ctl, EM_LINEFROMCHAR, start, 0);
    const LRESULT first = line < 0 ? -1 : ask(c.ctl, EM_LINEINDEX, static_cast<WPARAM>(line), 0);
    return first >= 0 && setResult(c, static_cast<int64_t>(start) - first + 1);
}

bool cmdEditPaste(Command& c) {
    OptionText text(c);
    return send(c.ctl, EM_REPLACESEL, TRUE, text.param());
}

bool cmdGetLine(Command& c) {
    // Line 0 would be EM_LINEINDEX's "current line", so lines count strictly from 1 here.
    const int32_t line = c.a.int32Or(4, 0);
    if (line < 1) return false;
    const LRESULT first = ask(c.ctl, EM_LINEINDEX, static_cast<WPARAM>(line - 1), 0);
    if (first < 0) return false;
    const LRESULT len = ask(c.ctl, EM_LINELENGTH, static_cast<WPARAM>(first), 0);
    if (len < 0) return false;
    // EM_GETLINE takes the buffer size in its first character. Some systems carry the buffer between
    // processes taking that size as bytes, so it is given in bytes, and the buffer holds that many
    // characters in case it is taken as characters.
    const size_t bytes = std::min<size_t>((static_cast<size_t>(len) + 1) * sizeof(char16_t), 0xFFFF);
    std::u16string buf(std::max<size_t>(bytes, static_cast<size_t>(len) + 1), u'\0');
    buf[0] = static_cast<char16_t>(bytes);
    LRESULT got = 0;
    if (len > 0 && !send(c.ctl, EM_GETLINE, static_cast<WPARAM>(line - 1), reinterpret_cast<LPARAM>(buf.data()), &got))
        return false;
    c.r = Variant::string(u16view(buf.data(), static_cast<size_t>(std::clamp<LRESULT>(got, 0, len))));
    return true;
}

bool cmdSendCommandId(Command& c) {
    HWND parent = GetParent(c.ctl);
    if (!parent) return false;
    send(parent, WM_COMMAND, static_cast<WPARAM>(static_cast<WORD>(c.a.int32Or(4, 0))), reinterpret_cast<LPARAM>(c.ctl));
    return true;
}

struct CommandRow {
    const wchar_t* name;
    bool (*run)(Command&);
};

const CommandRow kCommands[] = {
    {L"ISVISIBLE", cmdIsVisible},
    {L"ISENABLED", cmdIsEnabled},
    {L"TABLEFT", cmdTabLeft},
    {L"TABRIGHT", cmdTabRight},
    {L"CURRENTTAB", cmdCurrentTab},
    {L"SHOWDROPDOWN", cmdShowDropDown},
    {L"HIDEDROPDOWN", cmdHideDropDown},
    {L"ADDSTRING", cmdAddString},
    {L"DELSTRING", cmdDelString},
    {L"FINDSTRING", cmdFindString},
    {L"SETCURRENTSELECTION", cmdSetCurrentSelection},
    {L"GETCURRENTSELECTION", cmdGetCurrentSelection},
    {L"SELECTSTRING", cmdSelectString},
    {L"ISCHECKED", cmdIsChecked},
    {L"CHECK", cmdCheck},
    {L"UNCHECK", cmdUncheck},
    {L"GETSELECTED", cmdGetSelected},
    {L"GETLINECOUNT", cmdGetLineCount},
    {L"GETCURRENTLINE", cmdGetCurrentLine},
    {L"GETCURRENTCOL", cmdGetCurrentCol},
    {L"EDITPASTE", cmdEditPaste},
    {L"GETLINE", cmdGetLine},
    {L"SENDCOMMANDID", cmdSendCommandId},
};

}  // namespace

// ---- finding and reading ---------------------------------------------------------------------------------

int bi_CONTROLGETHANDLE(Engine& e, Args& a, Variant& r) {
    HWND h = findControl(a);
    if (!h) return failWith(e, r, Variant::emptyString());
    r = Variant::ptr(reinterpret_cast<uintptr_t>(h));
    return 0;
}

int bi_CONTROLGETTEXT(Engine& e, Args& a, Variant& r) {
    HWND h = findControl(a);
    if (!h) return failWith(e, r, Variant::emptyString());
    r = Variant::string(windowText(h));
    return 0;
}

int bi_CONTROLGETPOS(Engine& e, Args& a, Variant& r) {
    HWND h = findControl(a);
    RECT rc{};
    if (!h || !GetWindowRect(h, &rc)) return failWith(e, r, Variant::int32(0));
    POINT p{rc.left, rc.top};
    ScreenToClient(GetAncestor(h, GA_ROOT), &p);
    r = intArray({p.x, p.y, rc.right - rc.left, rc.bottom - rc.top});
    return 0;
}

int bi_CONTROLGETFOCUS(Engine& e, Args& a, Variant& r) {
    setWindowSpec(a);
    if (searchWindows(true) <= 0) return failWith(e, r, Variant::emptyString());
    HWND window = foundWindows().front();
    HWND focus;
    {
        AttachedInput attached(window);
        focus = GetFocus();
    }
    SString nn = focus && IsChild(window, focus) ? classNNOf(window, focus) : SString();
    if (nn.empty()) return failWith(e, r, Variant::emptyString());
    r = Variant::string(std::move(nn));
    return 0;
}

// ---- changing ------------------------------------------------------------------------------------------

namespace {

// The shared shape of the simple actions: find the control, act, result 1; 0 when not found.
template <class Act>
int act(Args& a, Variant& r, Act&& action) {
    HWND h = findControl(a);
    r.setInt32(h && action(h) ? 1 : 0);
    return 0;
}

}  // namespace

int bi_CONTROLDISABLE(Engine&, Args& a, Variant& r) {
    return act(a, r, [](HWND h) { EnableWindow(h, FALSE); return true; });
}

int bi_CONTROLENABLE(Engine&, Args& a, Variant& r) {
    return act(a, r, [](HWND h) { EnableWindow(h, TRUE); return true; });
}

int bi_CONTROLHIDE(Engine&, Args& a, Variant& r) {
    return act(a, r, [](HWND h) { ShowWindow(h, SW_HIDE); return true; });
}

int bi_CONTROLSHOW(Engine&, Args& a, Variant& r) {
    return act(a, r, [](HWND h) { ShowWindow(h, SW_SHOWNOACTIVATE); return true; });
}

int bi_CONTROLFOCUS(Engine&, Args& a, Variant& r) {
    return act(a, r, [](HWND h) {
        if (windowIsHung(h)) return false;
        AttachedInput attached(h);
        return SetFocus(h) != nullptr;
    });
}

int bi_CONTROLSETTEXT(Engine&, Args& a, Variant& r) {
    const std::u16string text(a.str(3).view());
    const bool repaintParent = a.given(4) && a.int32(4) != 0;
    return act(a, r, [&](HWND h) {
        if (windowIsHung(h) || !send(h, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()))) return false;
        if (repaintParent) {
            if (HWND parent = GetParent(h)) {
                InvalidateRect(parent, nullptr, TRUE);
                UpdateWindow(parent);
            }
        }
        return true;
    });
}

// Keys posted to the control, in the key-string language of SEND (raw: every character as itself).
int bi_CONTROLSEND(Engine&, Args& a, Variant& r) {
    const std::u16string keys(a.str(3).view());
    const bool raw = a.given(4) && a.int32(4) != 0;
    return act(a, r, [&](HWND h) { return sendKeysToWindow(h, keys, raw); });
}

int bi_CONTROLMOVE(Engine&, Args& a, Variant& r) {
    return act(a, r, [&](HWND h) {
        RECT rc{};
        if (!GetWindowRect(h, &rc)) return false;
        // Positions are given relative to the top-level window's client area, and set relative to the
        // control's parent.
        HWND root = GetAncestor(h, GA_ROOT);
        POINT cur{rc.left, rc.top};
        ScreenToClient(root, &cur);
        POINT p{a.int32Or(3, cur.x), a.int32Or(4, cur.y)};
        const int w = a.int32Or(5, rc.right - rc.left), hgt = a.int32Or(6, rc.bottom - rc.top);
        ClientToScreen(root, &p);
        if (HWND parent = GetAncestor(h, GA_PARENT)) ScreenToClient(parent, &p);
        return MoveWindow(h, p.x, p.y, w, hgt, TRUE) != FALSE;
    });
}

int bi_CONTROLCLICK(Engine&, Args& a, Variant& r) {
    const ButtonMessages* b = buttonByName(a.given(3) ? a.str(3).view() : u16view());
    if (!b) {
        r.setInt32(0);
        return 0;
    }
    const int clicks = a.int32Or(4, 1);
    return act(a, r, [&](HWND h) {
        int x, y;
        centre(h, x, y);
        postClicks(h, *b, clicks, a.int32Or(5, x), a.int32Or(6, y));
        return true;
    });
}

int bi_CONTROLCOMMAND(Engine& e, Args& a, Variant& r) {
    const CommandRow* row = nullptr;
    const u16view name = a.str(3).view();
    for (const CommandRow& c : kCommands) {
        if (sameNoCase(name, c.name)) {
            row = &c;
            break;
        }
    }
    HWND h = row ? findControl(a) : nullptr;
    if (!h) return failWith(e, r, Variant::int32(0));
    r.setInt32(0);
    Command cmd{e, a, r, h};
    if (!row->run(cmd)) return failWith(e, r, Variant::int32(0));
    return 0;
}

}  // namespace tx
