// MSGBOX and INPUTBOX: the two blocking dialogs a script can show without building a GUI.
//
// MSGBOX is the system message box. With a time-out, a watcher thread is started for the call: it polls
// every 10 ms, and when the time has passed it finds the box among the script thread's windows, marks the
// call as timed out and presses the box's first button (or closes it, harder every 250 ms while it stays).
// The script thread waits for the watcher before it returns, so no watcher outlives its call.
//
// INPUTBOX is a small modal dialog of our own, built in memory from a template (caption, prompt, edit
// field, OK and Cancel), resizable, with an optional password character, length limit, mandatory answer,
// size and position, and a time-out timer. One request at a time; the dialog procedure finds it through
// a process-wide pointer that lives only while the dialog runs.
//
// Both run their own modal message loops, which keep dispatching the thread's messages: the main window
// still answers (a hot key is queued, an exit request is noted) and the run loop acts on it after the box.
#include "gui/dialogs.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "core/engine.h"
#include "env/macros.h"
#include "host/startup.h"

namespace tx {

namespace {

const wchar_t* W(const char16_t* s) { return reinterpret_cast<const wchar_t*>(s); }
const char16_t* U(const wchar_t* s) { return reinterpret_cast<const char16_t*>(s); }

// Owner of a thread handle that also waits for the thread before closing it. The thread may be sending a
// message to one of our windows at that moment, so sent messages are answered while waiting.
class JoinedThread {
public:
    explicit JoinedThread(HANDLE h) : h_(h) {}
    JoinedThread(const JoinedThread&) = delete;
    JoinedThread& operator=(const JoinedThread&) = delete;
    ~JoinedThread() {
        if (!h_) return;
        while (MsgWaitForMultipleObjects(1, &h_, FALSE, INFINITE, QS_SENDMESSAGE) == WAIT_OBJECT_0 + 1) {
            MSG msg;
            PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);  // answers the sent ones
        }
        CloseHandle(h_);
    }
    explicit operator bool() const { return h_ != nullptr; }

private:
    HANDLE h_;
};

// A title argument: Default gives the script's file name.
SString titleArg(Engine& e, Args& a, int i) {
    if (a.given(i)) return a.str(i);
    Variant name;
    if (!evalMacro(e, u"SCRIPTNAME", name)) return SString();
    return name.toString();
}

HWND windowArg(Args& a, int i) { return a.given(i) ? reinterpret_cast<HWND>(a[i].toPtr()) : nullptr; }

// ---- MSGBOX -----------------------------------------------------------------------------------------------

constexpr size_t kMaxBoxText = 16384;

// Shared by the script thread and the watcher of one timed message box (only these two flags change).
struct BoxWatch {
    DWORD scriptThread = 0;
    DWORD timeoutMs = 0;
    const wchar_t* title = L"";
    std::atomic<bool> running{true};
    std::atomic<bool> timedOut{false};
};

// The search for the box among the script thread's windows: a visible dialog, preferably one with the
// box's title (a dialog that a DLL call left open must not be taken for it).
struct BoxSearch {
    const wchar_t* title;
    HWND titled = nullptr;
    HWND any = nullptr;
};

BOOL CALLBACK findDialog(HWND hwnd, LPARAM lp) {
    auto& search = *reinterpret_cast<BoxSearch*>(lp);
    wchar_t cls[16];
    if (!IsWindowVisible(hwnd) || !GetClassNameW(hwnd, cls, 16) || wcscmp(cls, L"#32770") != 0) return TRUE;
    if (!search.any) search.any = hwnd;
    const int len = GetWindowTextLengthW(hwnd);
    std::wstring text(static_cast<size_t>(len) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(hwnd, text.data(), len + 1)));
    if (text == search.title) {
        search.titled = hwnd;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK findButton(HWND hwnd, LPARAM lp) {
    wchar_t cls[16];
    if (GetClassNameW(hwnd, cls, 16) && _wcsicmp(cls, L"BUTTON") == 0) {
        *reinterpret_cast<HWND*>(lp) = hwnd;
        return FALSE;
    }
    return TRUE;
}

// First answer to a timed-out box: click its first button, or ask it to close.
void pressBox(HWND box, DWORD scriptThread) {
    HWND button = nullptr;
    EnumChildWindows(box, findButton, reinterpret_cast<LPARAM>(&button));
    if (!button) {
        PostMessageW(box, WM_CLOSE, 0, 0);
        return;
    }
    const DWORD self = GetCurrentThreadId();
    const bool attached = AttachThreadInput(self, scriptThread, TRUE) != FALSE;
    SetForegroundWindow(box);
    SetActiveWindow(box);
    if (attached) AttachThreadInput(self, scriptThread, FALSE);
    DWORD_PTR ignored;
    SendMessageTimeoutW(button, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 2000, &ignored);
}

DWORD WINAPI boxWatcher(void* param) {
    BoxWatch& w = *static_cast<BoxWatch*>(param);
    const DWORD start = GetTickCount();
    HWND box = nullptr;
    DWORD pressedAt = 0;
    while (w.running.load()) {
        Sleep(10);
        const DWORD now = GetTickCount();
        if (!box) {
            if (now - start < w.timeoutMs) continue;
            BoxSearch search{w.title};
            EnumThreadWindows(w.scriptThread, findDialog, reinterpret_cast<LPARAM>(&search));
            box = search.titled ? search.titled : search.any;
            if (!box) continue;  // not shown yet: look again on the next turn
            w.timedOut.store(true);
            pressBox(box, w.scriptThread);
            pressedAt = now;
        } else if (now - pressedAt >= 250 && w.running.load() && IsWindow(box)) {
            // Still there: close it, and end the dialog outright if that did not help either.
            PostMessageW(box, WM_CLOSE, 0, 0);
            Sleep(250);
            if (w.running.load() && IsWindow(box)) EndDialog(box, IDCANCEL);
            pressedAt = GetTickCount();
        }
    }
    return 0;
}

// ---- INPUTBOX ---------------------------------------------------------------------------------------------

constexpr int kIdEdit = 1001;
constexpr int kIdPrompt = 1002;
constexpr UINT_PTR kTimeoutTimer = 1034;
constexpr int kMaxAnswer = 255;
constexpr int32_t kAbsent = INT32_MIN;  // 0x80000000: a left or top that was not given
constexpr short kTemplateCx = 162, kTemplateCy = 95;  // dialog units

struct InputRequest {
    SString title, prompt, defaultText;
    wchar_t passwordChar = 0;
    int maxLength = 0;  // 0: none
    bool mandatory = false;
    int32_t width = -1, height = -1;  // below 0: the template's size
    int32_t left = kAbsent, top = kAbsent;
    bool centreX = false, centreY = false;
    double timeout = 0;  // seconds, <= 0: none
    HWND owner = nullptr;
    std::u16string answer;
};

InputRequest* g_input = nullptr;  // the request of the input box on screen

// The dialog template, built once: DLGTEMPLATE, then its items, each DWORD-aligned.
class TemplateWriter {
public:
    void word(WORD w) { bytes_.insert(bytes_.end(), reinterpret_cast<BYTE*>(&w), reinterpret_cast<BYTE*>(&w) + 2); }
    void dword(DWORD d) {
        word(LOWORD(d));
        word(HIWORD(d));
    }
    void text(const wchar_t* s) {
        do word(static_cast<WORD>(*s)); while (*s++);
    }
    void align() {
        while (bytes_.size() % 4) bytes_.push_back(0);
    }
    void item(DWORD style, short x, short y, short cx, short cy, WORD id, WORD cls, const wchar_t* title) {
        align();
        dword(style | WS_CHILD | WS_VISIBLE);
        dword(0);
        word(static_cast<WORD>(x));
        word(static_cast<WORD>(y));
        word(static_cast<WORD>(cx));
        word(static_cast<WORD>(cy));
        word(id);
        word(0xFFFF);
        word(cls);
        text(title);
        word(0);  // no creation data
    }
    std::vector<BYTE> bytes_;
};

const DLGTEMPLATE* inputTemplate() {
    static const std::vector<BYTE> bytes = [] {
        TemplateWriter t;
        t.dword(WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | DS_SETFONT | DS_MODALFRAME | DS_3DLOOK |
                DS_SETFOREGROUND);
        t.dword(0);
        t.word(4);  // items
        t.word(0);
        t.word(0);
        t.word(static_cast<WORD>(kTemplateCx));
        t.word(static_cast<WORD>(kTemplateCy));
        t.word(0);  // no menu
        t.word(0);  // the dialog class
        t.text(L"Tarvex Input Box");
        t.word(9);
        t.text(L"\x5b8b\x4f53");  // the 9-point "Song" face of the system
        t.item(SS_LEFT, 7, 7, 148, 40, kIdPrompt, 0x0082, L"Prompt");
        t.item(ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 7, 52, 148, 12, kIdEdit, 0x0081, L"");
        t.item(BS_DEFPUSHBUTTON | WS_TABSTOP, 20, 72, 50, 14, IDOK, 0x0080, L"\x786e\x5b9a(&O)");
        t.item(BS_PUSHBUTTON | WS_TABSTOP, 92, 72, 50, 14, IDCANCEL, 0x0080, L"\x53d6\x6d88(&C)");
        return t.bytes_;
    }();
    return reinterpret_cast<const DLGTEMPLATE*>(bytes.data());
}

SIZE windowSize(HWND hwnd) {
    RECT r{};
    GetWindowRect(hwnd, &r);
    return SIZE{r.right - r.left, r.bottom - r.top};
}

void layoutInput(HWND dlg, int w, int h) {
    HWND ok = GetDlgItem(dlg, IDOK), cancel = GetDlgItem(dlg, IDCANCEL);
    HWND edit = GetDlgItem(dlg, kIdEdit), prompt = GetDlgItem(dlg, kIdPrompt);
    const SIZE b = windowSize(ok), c = windowSize(cancel), ed = windowSize(edit);
    const int buttonTop = h - 10 - b.cy;
    MoveWindow(ok, w / 4 - b.cx / 2, buttonTop, b.cx, b.cy, TRUE);
    MoveWindow(cancel, 3 * w / 4 - c.cx / 2, h - 10 - c.cy, c.cx, c.cy, TRUE);
    const int editTop = buttonTop - 5 - ed.cy;
    MoveWindow(edit, 10, editTop, w - 20, ed.cy, TRUE);
    MoveWindow(prompt, 10, 10, w - 20, editTop - 5 - 10, TRUE);
    InvalidateRect(dlg, nullptr, TRUE);
}

void initInput(HWND dlg, const InputRequest& q) {
    if (HICON icon = appIcon(99)) {
        SendMessageW(dlg, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
        SendMessageW(dlg, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    }
    if (!q.title.empty()) SetWindowTextW(dlg, W(q.title.c_str()));
    SetDlgItemTextW(dlg, kIdPrompt, W(q.prompt.c_str()));
    HWND edit = GetDlgItem(dlg, kIdEdit);
    if (q.passwordChar) SendMessageW(edit, EM_SETPASSWORDCHAR, q.passwordChar, 0);
    if (q.maxLength > 0) {
        SendMessageW(edit, EM_LIMITTEXT, static_cast<WPARAM>(q.maxLength), 0);
        // The limit binds the proposed answer too, not only what is typed.
        SString shown(q.defaultText.view().substr(0, static_cast<size_t>(q.maxLength)));
        SetWindowTextW(edit, W(shown.c_str()));
    } else {
        SetWindowTextW(edit, W(q.defaultText.c_str()));
    }

    RECT r{};
    GetWindowRect(dlg, &r);
    const int w = q.width >= 0 ? q.width : r.right - r.left;
    const int h = q.height >= 0 ? q.height : r.bottom - r.top;
    RECT desk{};
    GetWindowRect(GetDesktopWindow(), &desk);
    int x = r.left, y = r.top;
    if (q.centreX) x = desk.left + (desk.right - desk.left - w) / 2;
    else if (q.left != kAbsent) x = q.left;
    if (q.centreY) y = desk.top + (desk.bottom - desk.top - h) / 2;
    else if (q.top != kAbsent) y = q.top;
    MoveWindow(dlg, x, y, w, h, TRUE);
    RECT client{};
    GetClientRect(dlg, &client);
    PostMessageW(dlg, WM_SIZE, SIZE_RESTORED, MAKELPARAM(client.right, client.bottom));
    if (q.timeout > 0) {
        const double ms = q.timeout * 1000.0;
        SetTimer(dlg, kTimeoutTimer, ms >= USER_TIMER_MAXIMUM ? USER_TIMER_MAXIMUM : static_cast<UINT>(ms), nullptr);
    }
}

INT_PTR CALLBACK inputProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    InputRequest* q = g_input;
    if (!q) return FALSE;
    switch (msg) {
        case WM_INITDIALOG:
            initInput(dlg, *q);
            return TRUE;  // focus to the edit field
        case WM_SIZE:
            layoutInput(dlg, LOWORD(lp), HIWORD(lp));
            return TRUE;
        case WM_GETMINMAXINFO:
            reinterpret_cast<MINMAXINFO*>(lp)->ptMinTrackSize = POINT{190, 114};
            return TRUE;
        case WM_TIMER:
            if (wp != kTimeoutTimer) return FALSE;
            KillTimer(dlg, kTimeoutTimer);
            q->answer.clear();
            EndDialog(dlg, 3);
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wp) == IDOK) {
                wchar_t buf[kMaxAnswer + 1];
                int n = GetDlgItemTextW(dlg, kIdEdit, buf, kMaxAnswer + 1);
                if (q->mandatory && n == 0) {
                    MessageBeep(MB_OK);
                    return TRUE;
                }
                KillTimer(dlg, kTimeoutTimer);
                q->answer.assign(U(buf), static_cast<size_t>(n));
                EndDialog(dlg, 1);
                return TRUE;
            }
            if (LOWORD(wp) == IDCANCEL) {
                KillTimer(dlg, kTimeoutTimer);
                q->answer.clear();
                EndDialog(dlg, 2);
                return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
    }
}

bool isAsciiSpace(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

// "C", "C5", "CM", "C12M", ...: a password character (a blank one shows the text plainly), then any mix
// of a length limit and the mandatory mark. False for anything else.
bool parsePasswordSpec(u16view spec, InputRequest& q) {
    if (spec.empty()) return true;
    if (!isAsciiSpace(spec[0])) q.passwordChar = static_cast<wchar_t>(spec[0]);
    for (size_t i = 1; i < spec.size();) {
        char16_t c = spec[i];
        if (c >= u'0' && c <= u'9') {
            int64_t n = 0;
            for (; i < spec.size() && spec[i] >= u'0' && spec[i] <= u'9'; ++i)
                n = std::min<int64_t>(n * 10 + (spec[i] - u'0'), INT32_MAX);
            q.maxLength = static_cast<int>(n);
        } else if (c == u'M' || c == u'm') {
            q.mandatory = true;
            ++i;
        } else {
            return false;
        }
    }
    return true;
}

// The template's size in pixels, for the screen check before the dialog exists.
SIZE templatePixels() {
    const LONG units = GetDialogBaseUnits();
    return SIZE{MulDiv(kTemplateCx, LOWORD(units), 4), MulDiv(kTemplateCy, HIWORD(units), 8)};
}

}  // namespace

int bi_MSGBOX(Engine& e, Args& a, Variant& r) {
    const int32_t flag = a.given(0) ? a.int32(0) : -1;
    const UINT style = flag == -1 ? 0u : static_cast<UINT>(flag) | MB_SETFOREGROUND;
    const SString title = titleArg(e, a, 1);
    const SString& full = a.str(2);
    const SString text = full.size() > kMaxBoxText ? SString(full.view().substr(0, kMaxBoxText)) : full;
    const HWND owner = windowArg(a, 4);

    double timeout = a.given(3) ? a.dbl(3) : 0;
    if (timeout < 0.25) timeout = 0;  // below a quarter of a second: no time-out
    if (timeout == 0) {
        r.setInt32(MessageBoxW(owner, W(text.c_str()), W(title.c_str()), style));
        return 0;
    }

    BoxWatch watch;
    watch.scriptThread = GetCurrentThreadId();
    watch.title = W(title.c_str());
    const double ms = timeout * 1000.0;
    watch.timeoutMs = ms >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<DWORD>(ms);
    int answer;
    {
        JoinedThread watcher(CreateThread(nullptr, 0, boxWatcher, &watch, 0, nullptr));
        answer = MessageBoxW(owner, W(text.c_str()), W(title.c_str()), style);
        watch.running.store(false);
    }  // the watcher has ended here
    r.setInt32(watch.timedOut.load() ? -1 : answer);
    return 0;
}

int bi_INPUTBOX(Engine& e, Args& a, Variant& r) {
    const int n = a.count();
    if (n < 2 || n > 10) {
        e.setError(5);
        r.setInt32(0);
        return 0;
    }
    r.setString(SString());
    InputRequest q;
    q.owner = windowArg(a, 9);
    q.timeout = a.given(8) ? a.dbl(8) : 0;
    if (n >= 8) {
        if (a.given(7)) q.top = a.int32(7);
        else q.centreY = true;
    }
    if (n >= 7) {
        if (a.given(6)) q.left = a.int32(6);
        else q.centreX = true;
    }
    q.height = a.int32Or(5, -1);
    q.width = a.int32Or(4, -1);
    if (a.given(3) && !parsePasswordSpec(a.str(3), q)) {
        e.setError(3);
        return 0;
    }
    if (a.given(2)) q.defaultText = a.str(2);
    q.prompt = a.strOr(1, u"");
    q.title = titleArg(e, a, 0);
    if (n <= 6) q.centreX = q.centreY = true;

    const SIZE tpl = templatePixels();
    const LONG x = q.left == kAbsent ? 0 : q.left, y = q.top == kAbsent ? 0 : q.top;
    const LONG w = q.width >= 0 ? q.width : tpl.cx, h = q.height >= 0 ? q.height : tpl.cy;
    RECT place{x, y, static_cast<LONG>(x + (w > 0 ? w : 1)), static_cast<LONG>(y + (h > 0 ? h : 1))};
    if (!MonitorFromRect(&place, MONITOR_DEFAULTTONULL)) {
        e.setError(4);
        return 0;
    }

    if (g_input) {  // an input box is already on screen (reached from a callback): refuse a second one
        e.setError(3);
        return 0;
    }
    g_input = &q;
    const INT_PTR result = DialogBoxIndirectParamW(instanceHandle(), inputTemplate(), q.owner, inputProc, 0);
    g_input = nullptr;
    switch (result) {
        case 1: r.setString(SString(q.answer.data(), q.answer.size())); break;
        case 2: e.setError(1); break;
        case 3: e.setError(2); break;
        default: e.setError(3); break;
    }
    return 0;
}

}  // namespace tx
