// The WIN... built-ins. Each names its window by (title, text) through the shared search (winspec.h),
// acts on the first match and, where the action changes the desktop, pauses WinWaitDelay afterwards so
// that the other program can catch up. The four waits run a level of the run loop that tests the
// window every pass, so hot keys, Adlib functions and events keep running while they wait.
#include "automation/windows.h"

#include <windows.h>
#include <mmsystem.h>

#include <algorithm>
#include <string>

#include "automation/results.h"
#include "automation/winspec.h"
#include "core/engine.h"
#include "env/options.h"
#include "host/runloop.h"
#include "host/startup.h"
#include "lib/process_streams.h"

namespace tx {

namespace {

const char16_t* U(const wchar_t* s) { return reinterpret_cast<const char16_t*>(s); }
const wchar_t* W(const char16_t* s) { return reinterpret_cast<const wchar_t*>(s); }

constexpr int kMaxText = 32767;

Variant handleValue(HWND h) { return Variant::ptr(reinterpret_cast<uintptr_t>(h)); }

void waitDelay() { automationDelay(options().winWaitDelay); }

// Input attachments made for one action, undone when it ends.
class InputAttachments {
public:
    InputAttachments() = default;
    InputAttachments(const InputAttachments&) = delete;
    InputAttachments& operator=(const InputAttachments&) = delete;
    ~InputAttachments() {
        for (int i = count_ - 1; i >= 0; --i) AttachThreadInput(pairs_[i][0], pairs_[i][1], FALSE);
    }
    void attach(DWORD from, DWORD to) {
        if (!from || !to || from == to || count_ == 3) return;
        if (AttachThreadInput(from, to, TRUE)) {
            pairs_[count_][0] = from;
            pairs_[count_][1] = to;
            ++count_;
        }
    }

private:
    DWORD pairs_[3][2] = {};
    int count_ = 0;
};

DWORD threadOf(HWND h) { return h ? GetWindowThreadProcessId(h, nullptr) : 0; }

// Brings a window to the foreground: 1 it already was, 2 plainly, 3 with attached input, 4 after two
// Alt presses (which lift the foreground lock); 0 when every way failed.
int activate(HWND h) {
    HWND fg = GetForegroundWindow();
    if (fg == h) return 1;
    if (!fg) fg = FindWindowW(L"Shell_TrayWnd", nullptr);
    if (IsIconic(h)) ShowWindow(h, SW_RESTORE);
    if (SetForegroundWindow(h)) return 2;

    InputAttachments attached;
    const DWORD me = GetCurrentThreadId(), target = threadOf(h), front = threadOf(fg);
    attached.attach(me, target);
    attached.attach(me, front);
    attached.attach(front, target);
    if (SetForegroundWindow(h)) return 3;
    const BYTE scan = static_cast<BYTE>(MapVirtualKeyW(VK_MENU, 0));
    for (int i = 0; i < 2; ++i) {
        keybd_event(VK_MENU, scan, 0, 0);
        keybd_event(VK_MENU, scan, KEYEVENTF_KEYUP, 0);
    }
    return SetForegroundWindow(h) ? 4 : 0;
}

// Appends a child's text or class name and "\n", keeping the whole within the 32767-character limit.
void appendLine(std::u16string& out, u16view line) {
    if (line.empty() || out.size() >= static_cast<size_t>(kMaxText)) return;
    out.append(line.substr(0, kMaxText - out.size()));
    if (out.size() < static_cast<size_t>(kMaxText)) out += u'\n';
}

BOOL CALLBACK collectText(HWND child, LPARAM lp) {
    auto& out = *reinterpret_cast<std::u16string*>(lp);
    if (!options().winDetectHiddenText && !IsWindowVisible(child)) return TRUE;
    appendLine(out, windowText(child).view());
    return out.size() < static_cast<size_t>(kMaxText);
}

BOOL CALLBACK collectClass(HWND child, LPARAM lp) {
    auto& out = *reinterpret_cast<std::u16string*>(lp);
    wchar_t name[256];
    int n = GetClassNameW(child, name, 256);
    appendLine(out, u16view(U(name), static_cast<size_t>(std::max(n, 0))));
    return out.size() < static_cast<size_t>(kMaxText);
}

// The window a built-in acts on, or nullptr after the failure of the "not found" column has been stored.
HWND target(Engine& e, Args& a, Variant& r, Variant notFound = Variant::int32(0), bool errorOnNone = false) {
    return findTargetWindow(e, a, r, notFound, errorOnNone);
}

// ---- waits -------------------------------------------------------------------------------------------

struct WindowWait {
    Engine* e;
    int32_t state;
    Variant title;  // the wait's own description, so that an event function's search cannot change it
    SString text;
    uint32_t timeoutMs;
    DWORD start;
    Variant* result;
};

bool windowWaitOver(void* ctx) {
    auto& w = *static_cast<WindowWait*>(ctx);
    if (w.timeoutMs && timeGetTime() - w.start >= w.timeoutMs) {
        w.result->setInt32(0);
        return true;
    }
    setWindowSpec(w.title, w.text);
    int rc;
    bool done;
    if (w.state == kStateWindowWait || w.state == kStateWindowWait + 1) {
        rc = searchWindows(true);
        done = w.state == kStateWindowWait ? rc > 0 : rc == 0;
    } else {
        rc = activeMatch(*w.e);
        done = w.state == kStateWindowWait + 2 ? rc == 1 : rc == 0;
    }
    if (rc < 0) {
        w.e->setError(-rc);
        w.result->setInt32(0);
        waitDelay();
        return true;
    }
    if (!done) return false;
    if (w.state == kStateWindowWait || w.state == kStateWindowWait + 2) *w.result = handleValue(lastFoundWindow());
    waitDelay();
    return true;
}

// state: kStateWindowWait + 0 exists, 1 closed, 2 active, 3 not active.
int windowWait(Engine& e, Args& a, Variant& r, int32_t state) {
    WindowWait w{&e, state, a[0], a.given(1) ? a.str(1) : SString(), 0, timeGetTime(), &r};
    if (a.count() == 3) {
        // A negative time-out waits without limit, like 0.
        const int64_t ms = static_cast<int64_t>(a.int32(2)) * 1000;
        w.timeoutMs = ms > 0 ? static_cast<uint32_t>(std::min<int64_t>(ms, UINT32_MAX)) : 0;
    }
    Wait wait;
    wait.state = state;
    wait.poll = windowWaitOver;
    wait.ctx = &w;
    if (runWait(wait) == WaitResult::Stopped) r.setInt32(0);
    return 0;
}

}  // namespace

// ---- finding ---------------------------------------------------------------------------------------------

int bi_WINEXISTS(Engine& e, Args& a, Variant& r) {
    target(e, a, r);
    return 0;
}

int bi_WINGETHANDLE(Engine& e, Args& a, Variant& r) {
    if (HWND h = target(e, a, r, Variant::emptyString(), true)) r = handleValue(h);
    return 0;
}

int bi_WINACTIVE(Engine& e, Args& a, Variant& r) {
    setWindowSpec(a);
    r = activeMatch(e) == 1 ? handleValue(GetForegroundWindow()) : Variant::int32(0);
    return 0;
}

int bi_WINLIST(Engine& e, Args& a, Variant& r) {
    if (a.count() == 0) {
        setWindowSpec(Variant::string(u"[ALL]"), SString());
    } else {
        setWindowSpec(Variant::string(a.str(0)), a.given(1) ? a.str(1) : SString());
    }
    int rc = searchWindows(false);
    if (rc < 0) {
        e.setError(-rc);
        r.setInt32(0);
        return 0;
    }
    const auto& found = foundWindows();
    const uint32_t sizes[2] = {static_cast<uint32_t>(found.size() + 1), 2};
    ArrayData* list = ArrayData::create(sizes, 2);
    list->at(0) = Variant::int32(static_cast<int32_t>(found.size()));
    std::u16string title(kMaxText + 1, u'\0');
    for (size_t i = 0; i < found.size(); ++i) {
        int n = GetWindowTextW(found[i], const_cast<wchar_t*>(W(title.data())), kMaxText + 1);
        const uint32_t row = static_cast<uint32_t>(2 * (i + 1));
        list->at(row) = Variant::string(u16view(title.data(), static_cast<size_t>(std::max(n, 0))));
        list->at(row + 1) = handleValue(found[i]);
    }
    r = Variant::array(list);
    return 0;
}

// ---- reading -------------------------------------------------------------------------------------------

int bi_WINGETTITLE(Engine& e, Args& a, Variant& r) {
    if (HWND h = target(e, a, r)) r = Variant::string(windowText(h));
    return 0;
}

int bi_WINGETTEXT(Engine& e, Args& a, Variant& r) {
    HWND h = target(e, a, r);
    if (!h) return 0;
    std::u16string text;
    if (!windowIsHung(h)) EnumChildWindows(h, collectText, reinterpret_cast<LPARAM>(&text));
    r = Variant::string(u16view(text));
    return 0;
}

int bi_WINGETCLASSLIST(Engine& e, Args& a, Variant& r) {
    HWND h = target(e, a, r, Variant::emptyString(), true);
    if (!h) return 0;
    std::u16string list;
    EnumChildWindows(h, collectClass, reinterpret_cast<LPARAM>(&list));
    r = Variant::string(u16view(list));
    return 0;
}

int bi_WINGETPOS(Engine& e, Args& a, Variant& r) {
    HWND h = target(e, a, r, Variant::int32(0), true);
    if (!h) return 0;
    RECT rc{};
    if (!GetWindowRect(h, &rc)) return failWith(e, r, Variant::int32(0));
    r = intArray({rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top});
    return 0;
}

int bi_WINGETCLIENTSIZE(Engine& e, Args& a, Variant& r) {
    HWND h = target(e, a, r, Variant::int32(0), true);
    if (!h) return 0;
    RECT rc{};
    if (!GetClientRect(h, &rc)) return failWith(e, r, Variant::int32(0));
    r = intArray({rc.right - rc.left, rc.bottom - rc.top});
    return 0;
}

int bi_WINGETSTATE(Engine& e, Args& a, Variant& r) {
    HWND h = target(e, a, r, Variant::int32(0), true);
    if (!h) return 0;
    int32_t bits = 1;
    if (IsWindowVisible(h)) bits |= 2;
    if (IsWindowEnabled(h)) bits |= 4;
    if (GetForegroundWindow() == h) bits |= 8;
    if (IsIconic(h)) bits |= 16;
    if (IsZoomed(h)) bits |= 32;
    r.setInt32(bits);
    return 0;
}

int bi_WINGETPROCESS(Engine& e, Args& a, Variant& r) {
    HWND h = target(e, a, r, Variant::int32(-1));
    if (!h) return 0;
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    r.setDouble(static_cast<double>(pid));
    return 0;
}

int bi_WINGETCARETPOS(Engine& e, Args&, Variant& r) {
    HWND fg = GetForegroundWindow();
    // The caret belongs to the focused control of the foreground window's thread, so its position is
    // converted from that control's client area (not the top-level window's).
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!fg || !GetGUIThreadInfo(threadOf(fg), &info) || !info.hwndCaret) return failWith(e, r, Variant::int32(0));
    POINT pt{info.rcCaret.left, info.rcCaret.top};
    if (!ClientToScreen(info.hwndCaret, &pt)) return failWith(e, r, Variant::int32(0));
    POINT origin{0, 0};
    switch (options().caretCoordMode) {
        case 0: {
            RECT wr{};
            GetWindowRect(fg, &wr);
            origin = {wr.left, wr.top};
            break;
        }
        case 2: ClientToScreen(fg, &origin); break;
        default: break;
    }
    r = intArray({pt.x - origin.x, pt.y - origin.y});
    return 0;
}

// ---- acting --------------------------------------------------------------------------------------------

int bi_WINACTIVATE(Engine& e, Args& a, Variant& r) {
    HWND h = target(e, a, r);
    if (!h) return 0;
    if (GetForegroundWindow() == h) waitDelay();
    int code = activate(h);
    waitDelay();
    if (code == 0) {
        r.setInt32(0);
        return 0;
    }
    r = handleValue(h);
    e.setExtended(code);
    return 0;
}

int bi_WINCLOSE(Engine& e, Args& a, Variant& r) {
    HWND h = target(e, a, r);
    if (!h) return 0;
    PostMessageW(h, WM_CLOSE, 0, 0);
    waitDelay();
    return 0;
}

int bi_WINKILL(Engine& e, Args& a, Variant& r) {
    HWND h = target(e, a, r);
    if (!h) return 0;
    PostMessageW(h, WM_CLOSE, 0, 0);
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutW(h, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, 500, &answer)) {
        DWORD pid = 0;
        GetWindowThreadProcessId(h, &pid);
        // Never the runtime itself: a window of its own that did not answer is simply left.
        if (pid && pid != GetCurrentProcessId()) {
            WinHandle process(OpenProcess(PROCESS_ALL_ACCESS, FALSE, pid));
            if (process.valid()) TerminateProcess(process.get(), 0);
        }
    }
    waitDelay();
    return 0;
}

int bi_WINSETSTATE(Engine& e, Args& a, Variant& r) {
    HWND h = target(e, a, r);
    if (!h) return 0;
    const int32_t state = a.int32(2);
    if (state == 64 || state == 65) {
        EnableWindow(h, state == 64);
        return 0;
    }
    ShowWindow(h, state);
    waitDelay();
    return 0;
}

int bi_WINMOVE(Engine& e, Args& a, Variant& r) {
    HWND h = target(e, a, r);
    if (!h) return 0;
    RECT rc{};
    GetWindowRect(h, &rc);
    const int x = a.int32Or(2, rc.left), y = a.int32Or(3, rc.top);
    const int w = a.int32Or(4, rc.right - rc.left), hgt = a.int32Or(5, rc.bottom - rc.top);
    r = handleValue(h);
    const int32_t speed = a.int32Or(6, -1);
    if (speed == -1) {
        MoveWindow(h, x, y, w, hgt, TRUE);
        return 0;
    }
    const int divisor = speed <= 0 || speed > 100 ? 10 : speed;
    int cx = rc.left, cy = rc.top;
    if (cx == x && cy == y) {
        MoveWindow(h, x, y, w, hgt, TRUE);
        return 0;
    }
    auto stepToward = [divisor](int from, int to) {
        if (from == to) return from;
        int step = std::max(std::abs(to - from) / divisor, 1);
        return from < to ? std::min(from + step, to) : std::max(from - step, to);
    };
    while (cx != x || cy != y) {
        cx = stepToward(cx, x);
        cy = stepToward(cy, y);
        MoveWindow(h, cx, cy, w, hgt, TRUE);
        Sleep(50);
    }
    return 0;
}

int bi_WINSETONTOP(Engine& e, Args& a, Variant& r) {
    HWND h = target(e, a, r);
    if (!h) return 0;
    if (windowIsHung(h)) {
        r.setInt32(0);
        return 0;
    }
    SetWindowPos(h, a.int32(2) == 1 ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    return 0;
}

int bi_WINSETTRANS(Engine& e, Args& a, Variant& r) {
    HWND h = target(e, a, r);
    if (!h) return 0;
    const BYTE alpha = static_cast<BYTE>(a.int32(2) & 0xFF);
    const LONG_PTR style = GetWindowLongPtrW(h, GWL_EXSTYLE);
    if (alpha == 255 && (style & WS_EX_LAYERED)) {
        SetWindowLongPtrW(h, GWL_EXSTYLE, style & ~static_cast<LONG_PTR>(WS_EX_LAYERED));
        return 0;
    }
    SetWindowLongPtrW(h, GWL_EXSTYLE, style | WS_EX_LAYERED);
    SetLayeredWindowAttributes(h, 0, alpha, LWA_ALPHA);
    return 0;
}

int bi_WINSETTITLE(Engine& e, Args& a, Variant& r) {
    HWND h = target(e, a, r);
    if (!h) return 0;
    DWORD_PTR answer = 0;
    if (windowIsHung(h) ||
        !SendMessageTimeoutW(h, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(W(a.str(2).c_str())), SMTO_ABORTIFHUNG,
                             5000, &answer) ||
        answer == 0) {
        r.setInt32(0);
    }
    return 0;
}

int bi_WINFLASH(Engine& e, Args& a, Variant& r) {
    HWND h = target(e, a, r);
    if (!h) return 0;
    if (windowIsHung(h)) {
        r.setInt32(0);
        return 0;
    }
    const int64_t flashes = a.int32Or(2, 4);
    const int32_t delay = a.int32Or(3, 500);
    for (int64_t i = 0; i < 2 * flashes - 3; ++i) {
        FlashWindow(h, TRUE);
        automationDelay(delay);
    }
    return 0;
}

int bi_WINMENUSELECTITEM(Engine& e, Args& a, Variant& r) {
    HWND h = target(e, a, r);
    if (!h) return 0;
    HMENU menu = GetMenu(h);
    UINT id = static_cast<UINT>(-1);
    wchar_t item[1024];
    for (int level = 2; menu && level < a.count(); ++level) {
        const u16view want = a.str(level).view();
        const int n = GetMenuItemCount(menu);
        int pos = 0;
        for (; pos < n; ++pos) {
            int len = GetMenuStringW(menu, static_cast<UINT>(pos), item, 1024, MF_BYPOSITION);
            if (len >= 0 && u16view(U(item), static_cast<size_t>(len)).substr(0, want.size()) == want) break;
        }
        if (n <= 0 || pos == n) {
            menu = nullptr;
            break;
        }
        if (level + 1 < a.count()) {
            menu = GetSubMenu(menu, pos);
        } else {
            id = GetMenuItemID(menu, pos);
        }
    }
    if (!menu || id == static_cast<UINT>(-1)) {
        r.setInt32(0);
        return 0;
    }
    {
        InputAttachments attached;
        if (!windowIsHung(h)) attached.attach(GetCurrentThreadId(), threadOf(h));
        PostMessageW(h, WM_COMMAND, id, 0);
    }
    waitDelay();
    return 0;
}

int bi_WINMINIMIZEALL(Engine&, Args&, Variant&) {
    if (HWND tray = FindWindowW(L"Shell_TrayWnd", nullptr)) PostMessageW(tray, WM_COMMAND, 407, 0);
    waitDelay();
    return 0;
}

int bi_WINMINIMIZEALLUNDO(Engine&, Args&, Variant&) {
    if (HWND tray = FindWindowW(L"Shell_TrayWnd", nullptr)) PostMessageW(tray, WM_COMMAND, 416, 0);
    waitDelay();
    return 0;
}

// ---- waiting -------------------------------------------------------------------------------------------

int bi_WINWAIT(Engine& e, Args& a, Variant& r) { return windowWait(e, a, r, kStateWindowWait); }
int bi_WINWAITCLOSE(Engine& e, Args& a, Variant& r) { return windowWait(e, a, r, kStateWindowWait + 1); }
int bi_WINWAITACTIVE(Engine& e, Args& a, Variant& r) { return windowWait(e, a, r, kStateWindowWait + 2); }
int bi_WINWAITNOTACTIVE(Engine& e, Args& a, Variant& r) { return windowWait(e, a, r, kStateWindowWait + 3); }

// ---- the runtime's own main window ---------------------------------------------------------------------

int bi_TARVEXWINGETTITLE(Engine&, Args&, Variant& r) {
    std::u16string title(kMaxText, u'\0');
    int n = mainWindow() ? GetWindowTextW(mainWindow(), const_cast<wchar_t*>(W(title.data())), kMaxText) : 0;
    r = Variant::string(u16view(title.data(), static_cast<size_t>(std::max(n, 0))));
    return 0;
}

int bi_TARVEXWINSETTITLE(Engine&, Args& a, Variant&) {
    if (mainWindow()) SetWindowTextW(mainWindow(), W(a.str(0).c_str()));
    return 0;
}

}  // namespace tx
