// TOOLTIP: one tracking tool tip window that the script places anywhere on the screen.
//
// The window is made on the first call and kept for the run; a call that asks for the other style
// (balloon or plain) replaces it. Later calls change its text, title and position. An empty text hides the
// tip (the window stays for the next call). Coordinates are screen coordinates.
#include <windows.h>
#include <commctrl.h>

#include "core/engine.h"
#include "gui/dialogs.h"
#include "host/startup.h"

namespace tx {

namespace {

constexpr int kOptBalloon = 1;
constexpr int kOptCentre = 2;
constexpr int kOptKeepOnMonitor = 4;
constexpr LONG kOffscreen = -10000;

HWND g_tip = nullptr;    // the tool tip window, none until the first call
bool g_balloon = false;  // the style it was made with
bool g_centred = false;  // its tool is centred on the point
bool g_titled = false;   // it shows a title

// The one tool of the window; its text pointer is only read during the message that carries it.
TTTOOLINFOW toolInfo(const SString& text, bool centre) {
    TTTOOLINFOW ti{};
    ti.cbSize = TTTOOLINFOW_V2_SIZE;
    ti.uFlags = TTF_TRACK | TTF_ABSOLUTE | TTF_TRANSPARENT | (centre ? TTF_CENTERTIP : 0);
    ti.lpszText = const_cast<wchar_t*>(reinterpret_cast<const wchar_t*>(text.c_str()));
    return ti;
}

LPARAM lparam(const TTTOOLINFOW& ti) { return reinterpret_cast<LPARAM>(&ti); }

// A screen point packed as TTM_TRACKPOSITION takes it (two signed 16-bit halves).
LPARAM pointParam(LONG x, LONG y) {
    return static_cast<LPARAM>(static_cast<DWORD>(static_cast<WORD>(x)) | (static_cast<DWORD>(static_cast<WORD>(y)) << 16));
}

// Moves the point so that a tip of the given size lies wholly on the monitor nearest to it.
POINT keepOnMonitor(POINT pt, SIZE tip) {
    MONITORINFO mi{};
    mi.cbSize = sizeof mi;
    if (!GetMonitorInfoW(MonitorFromPoint(pt, MONITOR_DEFAULTTONEAREST), &mi)) return pt;
    const RECT& m = mi.rcMonitor;
    if (pt.x + tip.cx > m.right) pt.x = m.right - tip.cx;
    if (pt.y + tip.cy > m.bottom) pt.y = m.bottom - tip.cy;
    if (pt.x < m.left) pt.x = m.left;
    if (pt.y < m.top) pt.y = m.top;
    return pt;
}

}  // namespace

int bi_TOOLTIP(Engine&, Args& a, Variant& r) {
    const SString& text = a.str(0);
    const int options = a.int32Or(5, 0);
    const bool balloon = (options & kOptBalloon) != 0;
    TTTOOLINFOW ti = toolInfo(text, (options & kOptCentre) != 0);

    if (g_tip && !IsWindow(g_tip)) g_tip = nullptr;
    if (text.empty()) {  // hide the tip
        if (g_tip) SendMessageW(g_tip, TTM_TRACKACTIVATE, FALSE, lparam(ti));
        return 0;
    }

    POINT pt{};
    GetCursorPos(&pt);
    pt.x = a.given(1) ? a.int32(1) : pt.x + 16;
    pt.y = a.given(2) ? a.int32(2) : pt.y + 16;

    if (g_tip && g_balloon != balloon) {
        DestroyWindow(g_tip);
        g_tip = nullptr;
    }
    const bool existed = g_tip != nullptr;
    const bool centre = (options & kOptCentre) != 0;
    if (existed) {
        // Centring is a flag of the tool: a change sets the whole tool again.
        if (centre != g_centred) SendMessageW(g_tip, TTM_SETTOOLINFOW, 0, lparam(ti));
        SendMessageW(g_tip, TTM_UPDATETIPTEXTW, 0, lparam(ti));
    } else {
        ensureCommonControls();
        g_tip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                                WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX | (balloon ? TTS_BALLOON : 0), CW_USEDEFAULT,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, nullptr, nullptr);
        if (!g_tip) {
            r.setInt32(0);
            return 0;
        }
        g_balloon = balloon;
        g_titled = false;
        SendMessageW(g_tip, TTM_ADDTOOLW, 0, lparam(ti));
        RECT desk{};
        GetWindowRect(GetDesktopWindow(), &desk);
        SendMessageW(g_tip, TTM_SETMAXTIPWIDTH, 0, desk.right - desk.left);
    }

    if (a.given(3) || a.given(4)) {
        const SString title = a.given(3) ? a.str(3) : SString();
        if (SendMessageW(g_tip, TTM_SETTITLEW, a.given(4) ? static_cast<WPARAM>(a[4].toPtr()) : 0,
                         reinterpret_cast<LPARAM>(title.c_str()))) {
            SendMessageW(g_tip, TTM_UPDATE, 0, 0);
            g_titled = true;
        } else {
            r.setInt32(0);
        }
    } else if (g_titled) {
        // A call without a title shows none, whatever an earlier call set.
        SendMessageW(g_tip, TTM_SETTITLEW, 0, reinterpret_cast<LPARAM>(L""));
        g_titled = false;
    }
    g_centred = centre;

    if (!IsWindowVisible(g_tip)) {
        SendMessageW(g_tip, TTM_TRACKPOSITION, 0, pointParam(kOffscreen, kOffscreen));
        SendMessageW(g_tip, TTM_TRACKACTIVATE, TRUE, lparam(ti));
    }
    if (options & kOptKeepOnMonitor) {
        // The size the tip will have with its new text (its window may still have the old one).
        const LRESULT size = SendMessageW(g_tip, TTM_GETBUBBLESIZE, 0, lparam(ti));
        pt = keepOnMonitor(pt, SIZE{LOWORD(size), HIWORD(size)});
    }
    SendMessageW(g_tip, TTM_TRACKPOSITION, 0, pointParam(pt.x, pt.y));
    return 0;
}

}  // namespace tx
