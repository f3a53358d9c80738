// CONTROLLISTVIEW, CONTROLTREEVIEW and STATUSBARGETTEXT: reading and driving list views, tree views and
// status bars of any process. Their messages carry pointers to structures (an item description, a text
// buffer) that the system does not copy between processes, so the structure and its text buffer are
// written into memory allocated inside the control's process, and read back from there after the message.
// The structures are laid out for the target's pointer width, which need not be ours.
//
// Tree items are named by a path from the root: item texts (compared without regard to case) or "#n"
// indexes among siblings (from 0), joined by "|": "HKEY_CURRENT_USER|Software", "#0|#3".
#include "automation/controls.h"

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "automation/control_search.h"
#include "core/engine.h"

namespace tx {

namespace {

const wchar_t* W(const char16_t* s) { return reinterpret_cast<const wchar_t*>(s); }

constexpr UINT kSendTimeoutMs = 5000;
constexpr size_t kMaxItemText = 32768;  // characters, terminator included

LRESULT ask(HWND h, UINT msg, WPARAM w = 0, LPARAM l = 0, LRESULT fallback = -1) {
    DWORD_PTR out = 0;
    if (!SendMessageTimeoutW(h, msg, w, l, SMTO_ABORTIFHUNG, kSendTimeoutMs, &out)) return fallback;
    return static_cast<LRESULT>(out);
}

bool sameNoCase(u16view a, u16view b) {
    return CompareStringOrdinal(W(a.data()), static_cast<int>(a.size()), W(b.data()), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

bool sameNoCase(u16view a, const wchar_t* b) {
    return CompareStringOrdinal(W(a.data()), static_cast<int>(a.size()), b, -1, TRUE) == CSTR_EQUAL;
}

std::u16string decimal(int64_t v) {
    std::u16string out;
    for (char c : std::to_string(v)) out += static_cast<char16_t>(c);
    return out;
}

// The item structures of the list and tree views in the layout of a process whose pointers are P wide.
template <class P>
struct LvItem {
    uint32_t mask;
    int32_t iItem, iSubItem;
    uint32_t state, stateMask;
    alignas(sizeof(P)) P pszText;
    int32_t cchTextMax, iImage;
    alignas(sizeof(P)) P lParam;
    int32_t iIndent, iGroupId;
    uint32_t cColumns;
    alignas(sizeof(P)) P puColumns;
    alignas(sizeof(P)) P piColFmt;
    int32_t iGroup;
};

template <class P>
struct TvItem {
    uint32_t mask;
    alignas(sizeof(P)) P hItem;
    uint32_t state, stateMask;
    alignas(sizeof(P)) P pszText;
    int32_t cchTextMax, iImage, iSelectedImage, cChildren;
    alignas(sizeof(P)) P lParam;
};

template <class P>
struct TvHitTest {
    int32_t x, y;
    uint32_t flags;
    alignas(sizeof(P)) P hItem;
};

static_assert(offsetof(LvItem<uint64_t>, pszText) == 24 && offsetof(LvItem<uint64_t>, lParam) == 40 &&
              offsetof(LvItem<uint64_t>, puColumns) == 64 && sizeof(LvItem<uint64_t>) == 88);
static_assert(offsetof(LvItem<uint32_t>, pszText) == 20 && sizeof(LvItem<uint32_t>) == 60);
static_assert(offsetof(TvItem<uint64_t>, hItem) == 8 && offsetof(TvItem<uint64_t>, pszText) == 24 &&
              offsetof(TvItem<uint64_t>, lParam) == 48 && sizeof(TvItem<uint64_t>) == 56);
static_assert(offsetof(TvItem<uint32_t>, pszText) == 16 && sizeof(TvItem<uint32_t>) == 40);
static_assert(offsetof(TvHitTest<uint64_t>, hItem) == 16 && offsetof(TvHitTest<uint32_t>, hItem) == 12);

// Runs f with a value of the target's pointer type, so one generic body serves both layouts.
template <class F>
auto byWidth(const RemoteMemory& m, F&& f) {
    return m.target64() ? f(uint64_t{}) : f(uint32_t{});
}

// A structure followed by a text buffer, in the control's process. The buffer grows when a text fills it.
class RemoteItem {
public:
    RemoteItem(HWND ctl, size_t structBytes) : ctl_(ctl), structBytes_((structBytes + 15) & ~size_t{15}) {}

    bool reserve(size_t chars) {
        if (mem_ && chars_ >= chars) return true;
        mem_ = std::make_unique<RemoteMemory>(ctl_, structBytes_ + chars * sizeof(char16_t));
        chars_ = chars;
        return mem_->ok();
    }
    RemoteMemory& mem() { return *mem_; }
    size_t chars() const { return chars_; }
    uint64_t textAddress() const { return mem_->address() + structBytes_; }
    // Reads the text buffer up to its terminator (or its end).
    bool readText(std::u16string& out) {
        out.assign(chars_, u'\0');
        if (!mem_->read(structBytes_, out.data(), chars_ * sizeof(char16_t))) return false;
        out.resize(std::u16string_view(out.c_str()).size());
        return true;
    }
    bool ready() const { return mem_ && mem_->ok(); }

private:
    HWND ctl_;
    size_t structBytes_;
    std::unique_ptr<RemoteMemory> mem_;
    size_t chars_ = 0;
};

// ---- list views ----------------------------------------------------------------------------------------

class ListView {
public:
    explicit ListView(HWND lv) : lv_(lv), item_(lv, sizeof(LvItem<uint64_t>)) {}

    int count() const { return static_cast<int>(ask(lv_, LVM_GETITEMCOUNT, 0, 0, 0)); }
    bool valid(int i) const { return i >= 0 && i < count(); }
    int columns() const {
        HWND header = reinterpret_cast<HWND>(ask(lv_, LVM_GETHEADER, 0, 0, 0));
        return header ? static_cast<int>(std::max<LRESULT>(ask(header, HDM_GETITEMCOUNT, 0, 0, 0), 0)) : 0;
    }
    bool singleSelection() const { return (GetWindowLongW(lv_, GWL_STYLE) & LVS_SINGLESEL) != 0; }
    bool selected(int i) const { return (ask(lv_, LVM_GETITEMSTATE, static_cast<WPARAM>(i), LVIS_SELECTED, 0) & LVIS_SELECTED) != 0; }

    bool text(int i, int sub, std::u16string& out) {
        for (size_t chars = std::max<size_t>(item_.chars(), 512);; chars *= 2) {
            if (!item_.reserve(chars)) return false;
            const bool ok = byWidth(item_.mem(), [&](auto p) {
                using P = decltype(p);
                LvItem<P> it{};
                it.mask = LVIF_TEXT;
                it.iItem = i;
                it.iSubItem = sub;
                it.pszText = static_cast<P>(item_.textAddress());
                it.cchTextMax = static_cast<int32_t>(item_.chars());
                char16_t none = 0;
                return item_.mem().write(0, &it, sizeof it) &&
                       item_.mem().write(item_.textAddress() - item_.mem().address(), &none, sizeof none) &&
                       ask(lv_, LVM_GETITEMTEXTW, static_cast<WPARAM>(i), static_cast<LPARAM>(item_.mem().address())) >= 0;
            });
            if (!ok || !item_.readText(out)) return false;
            if (out.size() + 1 < item_.chars() || item_.chars() >= kMaxItemText) return true;
        }
    }

    bool setSelected(int i, bool on) {
        if (!item_.reserve(1)) return false;
        return byWidth(item_.mem(), [&](auto p) {
            using P = decltype(p);
            LvItem<P> it{};
            it.stateMask = LVIS_SELECTED;
            it.state = on ? LVIS_SELECTED : 0;
            return item_.mem().write(0, &it, sizeof it) &&
                   ask(lv_, LVM_SETITEMSTATE, static_cast<WPARAM>(i), static_cast<LPARAM>(item_.mem().address()), 0) != 0;
        });
    }

    HWND handle() const { return lv_; }

private:
    HWND lv_;
    RemoteItem item_;
};

struct ViewName {
    const wchar_t* name;
    DWORD view;   // LV_VIEW_*
    DWORD style;  // the matching LVS_* type, for list views that take the style change only
};

constexpr ViewName kViews[] = {
    {L"list", LV_VIEW_LIST, LVS_LIST},
    {L"details", LV_VIEW_DETAILS, LVS_REPORT},
    {L"smallicons", LV_VIEW_SMALLICON, LVS_SMALLICON},
    {L"largeicons", LV_VIEW_ICON, LVS_ICON},
};

struct ListViewCall {
    Engine& e;
    Args& a;
    Variant& r;
    ListView& lv;
    int opt1(int def) const { return a.int32Or(4, def); }
    int opt2(int def) const { return a.int32Or(5, def); }
};

bool setNumber(ListViewCall& c, int64_t v) {
    c.r = Variant::int32(static_cast<int32_t>(v));
    return true;
}

bool lvGetItemCount(ListViewCall& c) { return setNumber(c, c.lv.count()); }
bool lvGetSubItemCount(ListViewCall& c) { return setNumber(c, c.lv.columns()); }
bool lvGetSelectedCount(ListViewCall& c) {
    return setNumber(c, ask(c.lv.handle(), LVM_GETSELECTEDCOUNT, 0, 0, 0));
}

bool lvGetText(ListViewCall& c) {
    const int item = c.opt1(-1), sub = c.opt2(0);
    if (!c.lv.valid(item) || sub < 0 || sub >= std::max(c.lv.columns(), 1)) return false;
    std::u16string text;
    if (!c.lv.text(item, sub, text)) return false;
    c.r = Variant::string(u16view(text));
    return true;
}

bool lvIsSelected(ListViewCall& c) {
    const int item = c.opt1(-1);
    return c.lv.valid(item) && setNumber(c, c.lv.selected(item) ? 1 : 0);
}

bool lvSelectAll(ListViewCall& c) { return !c.lv.singleSelection() && c.lv.setSelected(-1, true); }
bool lvSelectClear(ListViewCall& c) { return c.lv.setSelected(-1, false); }

// Items from option 1 to option 2 (option 1 alone when absent), both of which must exist.
bool selectRange(ListViewCall& c, bool on) {
    const int from = c.opt1(-1), to = c.opt2(from);
    if (!c.lv.valid(from) || !c.lv.valid(to) || to < from) return false;
    for (int i = from; i <= to; ++i) {
        if (!c.lv.setSelected(i, on)) return false;
    }
    return true;
}
bool lvSelect(ListViewCall& c) { return selectRange(c, true); }
bool lvDeselect(ListViewCall& c) { return selectRange(c, false); }

bool lvSelectInvert(ListViewCall& c) {
    if (c.lv.singleSelection()) return false;
    const int n = c.lv.count();
    std::vector<bool> was(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) was[static_cast<size_t>(i)] = c.lv.selected(i);
    for (int i = 0; i < n; ++i) {
        if (!c.lv.setSelected(i, !was[static_cast<size_t>(i)])) return false;
    }
    return true;
}

// The first selected item's index as text ("" when none), or with a non-zero flag every selected index
// joined by "|".
bool lvGetSelected(ListViewCall& c) {
    const bool all = c.a.given(4) && c.a.int32(4) != 0;
    std::u16string out;
    LRESULT i = -1;
    while ((i = ask(c.lv.handle(), LVM_GETNEXTITEM, static_cast<WPARAM>(i), LVNI_SELECTED)) >= 0) {
        if (!out.empty()) out += u'|';
        out += decimal(i);
        if (!all) break;
    }
    c.r = Variant::string(u16view(out));
    return true;
}

// The index of the first item whose text (of subitem option 2) equals option 1 without regard to case,
// as the list view's own string search compares; -1 when none does.
bool lvFindItem(ListViewCall& c) {
    if (!c.a.given(4)) return false;
    const std::u16string want(c.a.str(4).view());
    const int sub = c.opt2(0), n = c.lv.count();
    if (sub < 0 || sub >= std::max(c.lv.columns(), 1)) return false;
    std::u16string text;
    for (int i = 0; i < n; ++i) {
        if (!c.lv.text(i, sub, text)) return false;
        if (sameNoCase(text, want)) return setNumber(c, i);
    }
    return setNumber(c, -1);
}

bool lvViewChange(ListViewCall& c) {
    if (!c.a.given(4)) return false;
    const u16view name = c.a.str(4).view();
    for (const ViewName& v : kViews) {
        if (!sameNoCase(name, v.name)) continue;
        HWND h = c.lv.handle();
        if (ask(h, LVM_SETVIEW, v.view, 0, -1) == 1) return true;
        const LONG style = GetWindowLongW(h, GWL_STYLE);
        SetWindowLongW(h, GWL_STYLE, (style & ~LVS_TYPEMASK) | static_cast<LONG>(v.style));
        return true;
    }
    return false;
}

struct ListViewRow {
    const wchar_t* name;
    bool (*run)(ListViewCall&);
    bool text;  // a String result (its failure value is "")
};

const ListViewRow kListViewCommands[] = {
    {L"DESELECT", lvDeselect, false},
    {L"FINDITEM", lvFindItem, false},
    {L"GETITEMCOUNT", lvGetItemCount, false},
    {L"GETSELECTED", lvGetSelected, true},
    {L"GETSELECTEDCOUNT", lvGetSelectedCount, false},
    {L"GETSUBITEMCOUNT", lvGetSubItemCount, false},
    {L"GETTEXT", lvGetText, true},
    {L"ISSELECTED", lvIsSelected, false},
    {L"SELECT", lvSelect, false},
    {L"SELECTALL", lvSelectAll, false},
    {L"SELECTCLEAR", lvSelectClear, false},
    {L"SELECTINVERT", lvSelectInvert, false},
    {L"VIEWCHANGE", lvViewChange, false},
};

// ---- tree views ----------------------------------------------------------------------------------------

using TreeItem = uint64_t;  // an item handle of the target process (0: none)

// The index of a "#n" path step, or -1 when the step is an item text.
int64_t indexStep(u16view step) {
    if (step.size() < 2 || step[0] != u'#') return -1;
    int64_t n = 0;
    for (char16_t c : step.substr(1)) {
        if (c < u'0' || c > u'9') return -1;
        n = std::min<int64_t>(n * 10 + (c - u'0'), INT32_MAX + int64_t{1});
    }
    return n;
}

class TreeView {
public:
    explicit TreeView(HWND tv) : tv_(tv), item_(tv, sizeof(TvItem<uint64_t>)) {}

    HWND handle() const { return tv_; }
    TreeItem next(UINT code, TreeItem from = 0) const {
        const LRESULT r = ask(tv_, TVM_GETNEXTITEM, code, static_cast<LPARAM>(from), 0);
        return static_cast<TreeItem>(static_cast<uintptr_t>(r));
    }
    TreeItem firstChild(TreeItem parent) const { return parent ? next(TVGN_CHILD, parent) : next(TVGN_ROOT); }

    bool text(TreeItem h, std::u16string& out) {
        for (size_t chars = std::max<size_t>(item_.chars(), 512);; chars *= 2) {
            if (!item_.reserve(chars)) return false;
            const bool ok = byWidth(item_.mem(), [&](auto p) {
                using P = decltype(p);
                TvItem<P> it{};
                it.mask = TVIF_TEXT | TVIF_HANDLE;
                it.hItem = static_cast<P>(h);
                it.pszText = static_cast<P>(item_.textAddress());
                it.cchTextMax = static_cast<int32_t>(item_.chars());
                char16_t none = 0;
                return item_.mem().write(0, &it, sizeof it) &&
                       item_.mem().write(item_.textAddress() - item_.mem().address(), &none, sizeof none) &&
                       ask(tv_, TVM_GETITEMW, 0, static_cast<LPARAM>(item_.mem().address()), 0) != 0;
            });
            if (!ok || !item_.readText(out)) return false;
            if (out.size() + 1 < item_.chars() || item_.chars() >= kMaxItemText) return true;
        }
    }

    // The item a path names, or 0. Each "|"-separated step is a "#n" index among the siblings or an item
    // text compared without regard to case.
    TreeItem resolve(u16view path) {
        TreeItem cur = 0;
        std::u16string label;
        size_t pos = 0;
        while (true) {
            const size_t bar = path.find(u'|', pos);
            const u16view step = path.substr(pos, bar == u16view::npos ? u16view::npos : bar - pos);
            const int64_t index = indexStep(step);
            TreeItem child = firstChild(cur);
            for (int64_t i = 0; child; child = next(TVGN_NEXT, child), ++i) {
                if (index >= 0 ? i == index : text(child, label) && sameNoCase(label, step)) break;
            }
            if (!child) return 0;
            cur = child;
            if (bar == u16view::npos) return cur;
            pos = bar + 1;
        }
    }

    // The path of an item, by texts or by "#n" indexes.
    bool pathOf(TreeItem h, bool indexes, std::u16string& out) {
        std::vector<std::u16string> steps;
        std::u16string text;
        for (; h; h = next(TVGN_PARENT, h)) {
            if (indexes) {
                int i = 0;
                for (TreeItem s = next(TVGN_PREVIOUS, h); s; s = next(TVGN_PREVIOUS, s)) ++i;
                steps.push_back(u"#" + decimal(i));
            } else {
                if (!this->text(h, text)) return false;
                steps.push_back(text);
            }
        }
        out.clear();
        for (auto step = steps.rbegin(); step != steps.rend(); ++step) {
            if (!out.empty()) out += u'|';
            out += *step;
        }
        return true;
    }

    // The state image of an item: 0 none, 1 unchecked, 2 checked (the check-box convention).
    int stateImage(TreeItem h) const {
        return static_cast<int>((ask(tv_, TVM_GETITEMSTATE, static_cast<WPARAM>(h), TVIS_STATEIMAGEMASK, 0) &
                                 TVIS_STATEIMAGEMASK) >> 12);
    }

    // Where the item's check box is, found by hit tests along its line left of the text.
    bool checkBoxPoint(TreeItem h, POINT& at) {
        if (!item_.reserve(1)) return false;
        RemoteMemory& m = item_.mem();
        return byWidth(m, [&](auto p) {
            using P = decltype(p);
            RECT line{}, label{};
            auto rect = [&](BOOL textOnly, RECT& out) {
                const P handle = static_cast<P>(h);
                return m.write(0, &handle, sizeof handle) &&
                       ask(tv_, TVM_GETITEMRECT, textOnly, static_cast<LPARAM>(m.address()), 0) != 0 &&
                       m.read(0, &out, sizeof out);
            };
            if (!rect(FALSE, line) || !rect(TRUE, label)) return false;
            const int y = (label.top + label.bottom) / 2;
            int first = -1, last = -1;
            for (int x = label.left - 1; x >= std::max<LONG>(line.left, 0); --x) {
                TvHitTest<P> hit{};
                hit.x = x;
                hit.y = y;
                if (!m.write(0, &hit, sizeof hit)) return false;
                ask(tv_, TVM_HITTEST, 0, static_cast<LPARAM>(m.address()), 0);
                if (!m.read(0, &hit, sizeof hit)) return false;
                const bool on = (hit.flags & TVHT_ONITEMSTATEICON) && static_cast<TreeItem>(hit.hItem) == h;
                if (on) {
                    if (last < 0) last = x;
                    first = x;
                } else if (last >= 0) {
                    break;
                }
            }
            if (last < 0) return false;
            at = {(first + last) / 2, y};
            return true;
        });
    }

private:
    HWND tv_;
    RemoteItem item_;
};

struct TreeViewCall {
    Engine& e;
    Args& a;
    Variant& r;
    TreeView& tv;

    // The item named by option 1; an absent or empty path names the selected item.
    TreeItem item() {
        const SString path = a.given(4) ? a.str(4) : SString();
        return path.empty() ? tv.next(TVGN_CARET) : tv.resolve(path.view());
    }
};

bool tvNumber(TreeViewCall& c, int64_t v) {
    c.r = Variant::int32(static_cast<int32_t>(v));
    return true;
}

bool tvGetTotalCount(TreeViewCall& c) { return tvNumber(c, ask(c.tv.handle(), TVM_GETCOUNT, 0, 0, 0)); }

bool tvExists(TreeViewCall& c) {
    const bool given = c.a.given(4) && !c.a.str(4).empty();
    return tvNumber(c, given && c.tv.resolve(c.a.str(4).view()) ? 1 : 0);
}

// Children of the item named by option 1; an absent or empty path counts the items at the top.
bool tvGetItemCount(TreeViewCall& c) {
    TreeItem parent = 0;
    if (c.a.given(4) && !c.a.str(4).empty() && !(parent = c.tv.resolve(c.a.str(4).view()))) return false;
    int n = 0;
    for (TreeItem h = c.tv.firstChild(parent); h; h = c.tv.next(TVGN_NEXT, h)) ++n;
    return tvNumber(c, n);
}

bool tvGetText(TreeViewCall& c) {
    TreeItem h = c.item();
    std::u16string text;
    if (!h || !c.tv.text(h, text)) return false;
    c.r = Variant::string(u16view(text));
    return true;
}

bool tvGetSelected(TreeViewCall& c) {
    TreeItem h = c.tv.next(TVGN_CARET);
    std::u16string path;
    if (!h || !c.tv.pathOf(h, c.a.given(4) && c.a.int32(4) != 0, path)) return false;
    c.r = Variant::string(u16view(path));
    return true;
}

bool tvSelect(TreeViewCall& c) {
    TreeItem h = c.item();
    if (!h || !ask(c.tv.handle(), TVM_SELECTITEM, TVGN_CARET, static_cast<LPARAM>(h), 0)) return false;
    ask(c.tv.handle(), TVM_ENSUREVISIBLE, 0, static_cast<LPARAM>(h), 0);
    return tvNumber(c, 1);
}

bool expand(TreeViewCall& c, UINT how) {
    TreeItem h = c.item();
    if (!h) return false;
    ask(c.tv.handle(), TVM_EXPAND, how, static_cast<LPARAM>(h), 0);
    return tvNumber(c, 1);
}
bool tvExpand(TreeViewCall& c) { return expand(c, TVE_EXPAND); }
bool tvCollapse(TreeViewCall& c) { return expand(c, TVE_COLLAPSE); }

// 1 checked, 0 unchecked; an item without a check box fails.
bool tvIsChecked(TreeViewCall& c) {
    TreeItem h = c.item();
    const int image = h ? c.tv.stateImage(h) : 0;
    return image != 0 && tvNumber(c, image == 2 ? 1 : 0);
}

// Clicks the item's check box when its state differs, as a user would, so that the program hears of it.
bool checkTo(TreeViewCall& c, bool wantChecked) {
    TreeItem h = c.item();
    if (!h) return false;
    const int image = c.tv.stateImage(h);
    if (image == 0) return false;
    if ((image == 2) == wantChecked) return tvNumber(c, 1);
    ask(c.tv.handle(), TVM_ENSUREVISIBLE, 0, static_cast<LPARAM>(h), 0);
    POINT at{};
    if (!c.tv.checkBoxPoint(h, at)) return false;
    HWND tv = c.tv.handle();
    PostMessageW(tv, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(at.x, at.y));
    PostMessageW(tv, WM_LBUTTONUP, 0, MAKELPARAM(at.x, at.y));
    for (int i = 0; i < 50 && (c.tv.stateImage(h) == 2) != wantChecked; ++i) Sleep(10);
    return (c.tv.stateImage(h) == 2) == wantChecked && tvNumber(c, 1);
}
bool tvCheck(TreeViewCall& c) { return checkTo(c, true); }
bool tvUncheck(TreeViewCall& c) { return checkTo(c, false); }

struct TreeViewRow {
    const wchar_t* name;
    bool (*run)(TreeViewCall&);
    bool text;
};

const TreeViewRow kTreeViewCommands[] = {
    {L"CHECK", tvCheck, false},
    {L"COLLAPSE", tvCollapse, false},
    {L"EXISTS", tvExists, false},
    {L"EXPAND", tvExpand, false},
    {L"GETITEMCOUNT", tvGetItemCount, false},
    {L"GETSELECTED", tvGetSelected, true},
    {L"GETTEXT", tvGetText, true},
    {L"GETTOTALCOUNT", tvGetTotalCount, false},
    {L"ISCHECKED", tvIsChecked, false},
    {L"SELECT", tvSelect, false},
    {L"UNCHECK", tvUncheck, false},
};

template <class Row, size_t N>
const Row* findRow(const Row (&rows)[N], u16view name) {
    for (const Row& row : rows) {
        if (sameNoCase(name, row.name)) return &row;
    }
    return nullptr;
}

int fail(Engine& e, Variant& r, bool text) {
    e.setError(1);
    r = text ? Variant::emptyString() : Variant::int32(0);
    return 0;
}

}  // namespace

int bi_CONTROLLISTVIEW(Engine& e, Args& a, Variant& r) {
    const ListViewRow* row = findRow(kListViewCommands, a.str(3).view());
    HWND h = row ? findControl(a) : nullptr;
    if (!h) return fail(e, r, row && row->text);
    ListView lv(h);
    ListViewCall call{e, a, r, lv};
    r.setInt32(1);
    if (!row->run(call)) return fail(e, r, row->text);
    return 0;
}

int bi_CONTROLTREEVIEW(Engine& e, Args& a, Variant& r) {
    const TreeViewRow* row = findRow(kTreeViewCommands, a.str(3).view());
    HWND h = row ? findControl(a) : nullptr;
    if (!h) return fail(e, r, row && row->text);
    TreeView tv(h);
    TreeViewCall call{e, a, r, tv};
    r.setInt32(1);
    if (!row->run(call)) return fail(e, r, row->text);
    return 0;
}

// ---- status bars ---------------------------------------------------------------------------------------

int bi_STATUSBARGETTEXT(Engine& e, Args& a, Variant& r) {
    static const Variant kStatusBar = Variant::string(u"msctls_statusbar321");
    HWND sb = findControl(a[0], a.given(1) ? a.str(1) : SString(), kStatusBar);
    if (!sb) return fail(e, r, true);
    const int64_t part = a.int64Or(2, 1) - 1;
    const LRESULT parts = ask(sb, SB_GETPARTS, 0, 0, 0);
    if (part < 0 || part >= static_cast<int64_t>(parts)) return fail(e, r, true);
    // SB_GETTEXTW writes the whole text whatever its length, so the buffer is made to hold it (at least
    // the customary 2048 bytes): a longer text must not run past the block into the program's memory.
    const LRESULT len = ask(sb, SB_GETTEXTLENGTHW, static_cast<WPARAM>(part), 0, 0);
    const size_t chars = std::max<size_t>(1024, static_cast<size_t>(LOWORD(len)) + 1);
    RemoteMemory mem(sb, chars * sizeof(char16_t));
    std::u16string text(chars, u'\0');
    if (!mem.ok() || !mem.write(0, text.data(), sizeof(char16_t)) ||
        ask(sb, SB_GETTEXTW, static_cast<WPARAM>(part), static_cast<LPARAM>(mem.address()), -1) == -1 ||
        !mem.read(0, text.data(), chars * sizeof(char16_t)))
        return fail(e, r, true);
    text.back() = 0;
    text.resize(std::u16string_view(text.c_str()).size());
    r = Variant::string(u16view(text));
    return 0;
}

}  // namespace tx
