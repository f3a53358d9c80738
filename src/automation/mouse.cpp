// The MOUSE... built-ins. Positions the script gives and reads are relative to the MouseCoordMode origin of
// the foreground window. The cursor is moved with absolute move events: in one event at speed 0, else in
// steps that cover a tenth (speed 10), a twentieth (speed 20)... of the remaining way, at least 32 of the
// 65536 normalised units, 10 ms apart, so that programs watching the mouse see it travel. Buttons are named
// by side ("left", "right", "middle") or by role ("main"/"primary", "menu"/"secondary"), the roles
// following the user's swapped-buttons setting.
#include "automation/mouse.h"

#include <windows.h>

#include <cstdlib>

#include "automation/winspec.h"
#include "core/engine.h"
#include "env/options.h"

namespace tx {

namespace {

enum class Button { Invalid, Left, Right, Middle };

// The user's setting, read on every use: it can change while the script runs.
bool buttonsSwapped() {
    wchar_t value[8] = {};
    DWORD size = sizeof value - sizeof value[0];
    if (RegGetValueW(HKEY_CURRENT_USER, L"Control Panel\\Mouse", L"SwapMouseButtons", RRF_RT_REG_SZ, nullptr, value,
                     &size) != ERROR_SUCCESS)
        return false;
    return value[0] == L'1' && value[1] == 0;
}

Button parseButton(u16view name) {
    if (name.empty() || equalsNoCaseAscii(name, "LEFT")) return Button::Left;
    if (equalsNoCaseAscii(name, "RIGHT")) return Button::Right;
    if (equalsNoCaseAscii(name, "MIDDLE")) return Button::Middle;
    if (equalsNoCaseAscii(name, "MAIN") || equalsNoCaseAscii(name, "PRIMARY"))
        return buttonsSwapped() ? Button::Right : Button::Left;
    if (equalsNoCaseAscii(name, "MENU") || equalsNoCaseAscii(name, "SECONDARY"))
        return buttonsSwapped() ? Button::Left : Button::Right;
    return Button::Invalid;
}

void buttonEvent(Button b, bool up) {
    INPUT in{};
    in.type = INPUT_MOUSE;
    switch (b) {
        case Button::Left: in.mi.dwFlags = up ? MOUSEEVENTF_LEFTUP : MOUSEEVENTF_LEFTDOWN; break;
        case Button::Right: in.mi.dwFlags = up ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_RIGHTDOWN; break;
        case Button::Middle: in.mi.dwFlags = up ? MOUSEEVENTF_MIDDLEUP : MOUSEEVENTF_MIDDLEDOWN; break;
        case Button::Invalid: return;
    }
    SendInput(1, &in, sizeof in);
}

void moveEvent(int32_t nx, int32_t ny) {
    INPUT in{};
    in.type = INPUT_MOUSE;
    in.mi.dx = nx;
    in.mi.dy = ny;
    in.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    SendInput(1, &in, sizeof in);
}

POINT mouseOrigin() { return coordModeOrigin(options().mouseCoordMode, GetForegroundWindow()); }

POINT cursorPos() {
    POINT p{0, 0};
    GetCursorPos(&p);
    return p;
}

// One step of a stepped move on one axis.
int64_t stepToward(int64_t from, int64_t to, int64_t speed) {
    const int64_t dist = to - from;
    if (dist == 0) return from;
    int64_t step = std::llabs(dist) / speed;
    if (step < 32) step = 32;
    if (step >= std::llabs(dist)) return to;
    return dist > 0 ? from + step : from - step;
}

// Moves the cursor to a screen position. Returns true when the move was a single event (speed 0).
bool moveTo(int64_t x, int64_t y, int32_t speed) {
    const int64_t w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
    if (w < 2 || h < 2) return true;
    const int64_t tx = ((x + 1) * 65536) / w - 1, ty = ((y + 1) * 65536) / h - 1;
    if (speed == 0) {
        moveEvent(static_cast<int32_t>(tx), static_cast<int32_t>(ty));
        return true;
    }
    if (speed < 0 || speed > 100) speed = 10;
    const POINT cur = cursorPos();
    int64_t cx = cur.x * int64_t{65535} / (w - 1) + 1, cy = cur.y * int64_t{65535} / (h - 1) + 1;
    while (cx != tx || cy != ty) {
        cx = stepToward(cx, tx, speed);
        cy = stepToward(cy, ty, speed);
        moveEvent(static_cast<int32_t>(cx), static_cast<int32_t>(cy));
        Sleep(10);
    }
    return false;
}

void moveScript(int64_t x, int64_t y, int32_t speed, bool pauseAfterJump) {
    const POINT o = mouseOrigin();
    if (moveTo(x + o.x, y + o.y, speed) && pauseAfterJump) Sleep(10);
}

Variant intPair(int32_t a, int32_t b) {
    const uint32_t n = 2;
    ArrayData* arr = ArrayData::create(&n, 1);
    arr->at(0) = Variant::int32(a);
    arr->at(1) = Variant::int32(b);
    return Variant::array(arr);
}

int invalid(Variant& r) {
    r.setInt32(0);
    return 0;
}

}  // namespace

POINT coordModeOrigin(int32_t mode, HWND window) {
    POINT o{0, 0};
    if (!window || mode == 1) return o;
    if (mode == 0) {
        RECT wr{};
        if (GetWindowRect(window, &wr)) o = {wr.left, wr.top};
    } else if (mode == 2) {
        ClientToScreen(window, &o);
    }
    return o;
}

int bi_MOUSEMOVE(Engine&, Args& a, Variant&) {
    moveScript(a.int32(0), a.int32(1), a.int32Or(2, 10), false);
    return 0;
}

int bi_MOUSECLICK(Engine& e, Args& a, Variant& r) {
    if (a.count() == 2) {
        e.setError(5);
        return invalid(r);
    }
    const Button b = parseButton(a.str(0).view());
    if (b == Button::Invalid) return invalid(r);
    if (a.count() >= 3) {
        // Either coordinate may be Default: it keeps the cursor's own (screen) coordinate.
        const POINT o = mouseOrigin(), cur = cursorPos();
        const int64_t x = a.given(1) ? int64_t{a.int32(1)} + o.x : cur.x;
        const int64_t y = a.given(2) ? int64_t{a.int32(2)} + o.y : cur.y;
        if (moveTo(x, y, a.int32Or(4, 10))) Sleep(10);
    }
    const int32_t clicks = a.int32Or(3, 1);
    for (int32_t i = 0; i < clicks; ++i) {
        buttonEvent(b, false);
        automationDelay(options().mouseClickDownDelay);
        buttonEvent(b, true);
        automationDelay(options().mouseClickDelay);
    }
    return 0;
}

int bi_MOUSECLICKDRAG(Engine&, Args& a, Variant& r) {
    const Button b = parseButton(a.str(0).view());
    if (b == Button::Invalid) return invalid(r);
    const int32_t speed = a.int32Or(5, 10);
    moveScript(a.int32(1), a.int32(2), speed, true);
    buttonEvent(b, false);
    automationDelay(options().mouseClickDragDelay);
    moveScript(a.int32(3), a.int32(4), speed == -1 || speed >= 2 ? speed : 2, true);
    automationDelay(options().mouseClickDragDelay);
    buttonEvent(b, true);
    automationDelay(options().mouseClickDelay);
    return 0;
}

int bi_MOUSEDOWN(Engine&, Args& a, Variant& r) {
    const Button b = parseButton(a.str(0).view());
    if (b == Button::Invalid) return invalid(r);
    buttonEvent(b, false);
    return 0;
}

int bi_MOUSEUP(Engine&, Args& a, Variant& r) {
    const Button b = parseButton(a.str(0).view());
    if (b == Button::Invalid) return invalid(r);
    buttonEvent(b, true);
    return 0;
}

int bi_MOUSEWHEEL(Engine&, Args& a, Variant& r) {
    const u16view dir = a.str(0).view();
    int32_t delta;
    if (equalsNoCaseAscii(dir, "UP")) delta = WHEEL_DELTA;
    else if (equalsNoCaseAscii(dir, "DOWN")) delta = -WHEEL_DELTA;
    else return invalid(r);
    const int32_t clicks = a.int32Or(1, 1);
    for (int32_t i = 0; i < clicks; ++i) {
        INPUT in{};
        in.type = INPUT_MOUSE;
        in.mi.dwFlags = MOUSEEVENTF_WHEEL;
        in.mi.mouseData = static_cast<DWORD>(delta);
        SendInput(1, &in, sizeof in);
        automationDelay(options().mouseClickDelay);
    }
    return 0;
}

int bi_MOUSEGETPOS(Engine& e, Args& a, Variant& r) {
    const POINT o = mouseOrigin(), cur = cursorPos();
    const int32_t x = cur.x - o.x, y = cur.y - o.y;
    if (!a.given(0)) {
        r = intPair(x, y);
        return 0;
    }
    // A dimension must be a number or a string of digits; anything else, or another number than 0 or 1,
    // leaves the result 1.
    const Variant& d = a[0];
    bool numeric = d.isNumber();
    if (!numeric && d.isString()) {
        u16view s = d.rawString().view();
        while (!s.empty() && (s.front() == u' ' || s.front() == u'\t')) s.remove_prefix(1);
        while (!s.empty() && (s.back() == u' ' || s.back() == u'\t')) s.remove_suffix(1);
        if (!s.empty() && (s.front() == u'+' || s.front() == u'-')) s.remove_prefix(1);
        numeric = !s.empty();
        for (char16_t c : s)
            if (c < u'0' || c > u'9') numeric = false;
    }
    if (!numeric) {
        e.setError(1);
        return 0;
    }
    const int64_t dim = d.toInt64();
    if (dim == 0) r.setInt32(x);
    else if (dim == 1) r.setInt32(y);
    return 0;
}

int bi_MOUSEGETCURSOR(Engine&, Args&, Variant& r) {
    static const LPCWSTR kCursors[] = {IDC_APPSTARTING, IDC_ARROW,    IDC_CROSS,  IDC_HELP,     IDC_IBEAM, IDC_ICON,
                                       IDC_NO,          IDC_SIZE,     IDC_SIZEALL, IDC_SIZENESW, IDC_SIZENS, IDC_SIZENWSE,
                                       IDC_SIZEWE,      IDC_UPARROW,  IDC_WAIT,   IDC_HAND};
    CURSORINFO ci{};
    ci.cbSize = sizeof ci;
    r.setInt32(0);
    if (!GetCursorInfo(&ci) || !ci.hCursor) return 0;
    for (size_t i = 0; i < sizeof kCursors / sizeof kCursors[0]; ++i) {
        if (LoadCursorW(nullptr, kCursors[i]) == ci.hCursor) {
            r.setInt32(static_cast<int32_t>(i + 1));
            break;
        }
    }
    return 0;
}

}  // namespace tx
