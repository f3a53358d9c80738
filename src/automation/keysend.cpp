// The key sender: SEND, SENDKEEPACTIVE, BLOCKINPUT, and the control mode used to type into one window.
//
// A key string is read left to right: "^", "+", "!" and "#" add Ctrl, Shift, Alt and Win to the modifiers
// of the next key; "{name arg}" names a key of the key-name table (keys.cpp) with an optional argument
// (DOWN, UP, ON, OFF, TOGGLE, a repeat count, or the number of {ASC n}); any other character is typed as
// itself. A character the keyboard layout has a key for is typed with that key and the Shift, Ctrl and Alt
// states the layout needs; any other character (outside the layout, outside the BMP) goes in as a Unicode
// character event, so nothing the script asked for is dropped.
//
// Globally, keys are injected with SendInput. In control mode (a target window) they are posted to that
// window as key messages, with the attached threads' keyboard state kept in step so that the target's
// message loop translates them into the right characters; the lock keys and, for a top-level target, the
// modifiers still go in globally.
//
// Modifiers the script holds with the DOWN names ({SHIFTDOWN}, {CTRLDOWN}...) stay down between calls
// until the matching UP name; every other modifier that is down when a key is sent (the user's, say) is
// lifted for the key and, with SendCapsLockMode, pressed again when the call ends.
#include <windows.h>

#include <string>

#include "automation/keys.h"
#include "automation/winspec.h"
#include "core/engine.h"
#include "env/options.h"
#include "host/runloop.h"

namespace tx {

namespace {

// Modifier bits, shared by the pending set (the next key's) and the held set (the script's DOWN names).
enum : uint8_t { kLShift = 1, kRShift = 2, kCtrl = 4, kAlt = 8, kLWin = 16, kRWin = 32 };

// The order in which pending modifiers are pressed and released, with their keys.
struct ModKey {
    uint8_t bit;
    uint8_t vk;
};
constexpr ModKey kPressOrder[] = {{kLShift, VK_LSHIFT}, {kRShift, VK_RSHIFT}, {kCtrl, VK_CONTROL}, {kAlt, VK_MENU},
                                  {kLWin, VK_LWIN}};

struct SenderState {
    uint8_t held = 0;
    HWND keepActive = nullptr;
};
SenderState g_state;

// One send: the target (control mode) and the modifiers pending for the next key.
struct Send {
    HWND target = nullptr;
    uint8_t pending = 0;
    // The CapsLock state the key string itself asked for ({CAPSLOCK on}, off, or a tap): -1 none, else 0/1.
    // The CapsLock mode puts that state back at the end instead of the one the send found.
    int8_t capsWanted = -1;
    bool capsFound = false;
    // The toggle states of CapsLock, NumLock and ScrollLock as this send has made them (-1: not read yet).
    // The system's answer is read once: a thread's key state stays as it was at its last message read
    // until it reads messages again, so a second read within the send would not see the send's own taps.
    int8_t lockState[3] = {-1, -1, -1};
    int32_t keyDelay = 5;
    int32_t downDelay = 5;
};

bool isExtended(uint8_t vk) {
    return (vk >= 0x21 && vk <= 0x28) || vk == 0x2D || vk == 0x2E || (vk >= 0x5B && vk <= 0x5D) || vk == 0x5F ||
           vk == 0x6F || vk == 0xA3 || (vk >= 0xA5 && vk <= 0xB7);
}

bool isModifierKey(uint8_t vk) {
    switch (vk) {
        case VK_SHIFT: case VK_LSHIFT: case VK_RSHIFT: case VK_CONTROL: case VK_LCONTROL: case VK_RCONTROL:
        case VK_MENU: case VK_LMENU: case VK_RMENU: case VK_LWIN: case VK_RWIN:
            return true;
        default:
            return false;
    }
}

bool isLockKey(uint8_t vk) { return vk == VK_CAPITAL || vk == VK_NUMLOCK || vk == VK_SCROLL; }

int lockIndex(uint8_t vk) { return vk == VK_CAPITAL ? 0 : vk == VK_NUMLOCK ? 1 : 2; }

void injectKey(uint8_t vk, bool up, bool extended) {
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.wScan = static_cast<WORD>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
    in.ki.dwFlags = (up ? KEYEVENTF_KEYUP : 0) | (extended ? KEYEVENTF_EXTENDEDKEY : 0);
    SendInput(1, &in, sizeof in);
}

void injectUnicode(char16_t unit, bool down, bool up) {
    INPUT in[2]{};
    UINT n = 0;
    if (down) {
        in[n].type = INPUT_KEYBOARD;
        in[n].ki.wScan = unit;
        in[n].ki.dwFlags = KEYEVENTF_UNICODE;
        ++n;
    }
    if (up) {
        in[n].type = INPUT_KEYBOARD;
        in[n].ki.wScan = unit;
        in[n].ki.dwFlags = KEYEVENTF_UNICODE | KEYEVENTF_KEYUP;
        ++n;
    }
    SendInput(n, in, sizeof in[0]);
}

// Sets or clears one key's down bit in the keyboard state this thread shares with the attached ones,
// keeping the generic modifier in step with its sides.
void setThreadKeyState(uint8_t vk, bool down) {
    BYTE ks[256];
    if (!GetKeyboardState(ks)) return;
    auto set = [&](uint8_t k) { ks[k] = down ? static_cast<BYTE>(ks[k] | 0x80) : static_cast<BYTE>(ks[k] & ~0x80); };
    set(vk);
    switch (vk) {
        case VK_LSHIFT: case VK_RSHIFT:
            ks[VK_SHIFT] = static_cast<BYTE>(((ks[VK_LSHIFT] | ks[VK_RSHIFT]) & 0x80) | (ks[VK_SHIFT] & 1));
            break;
        case VK_LCONTROL: case VK_RCONTROL:
            ks[VK_CONTROL] = static_cast<BYTE>(((ks[VK_LCONTROL] | ks[VK_RCONTROL]) & 0x80) | (ks[VK_CONTROL] & 1));
            break;
        case VK_LMENU: case VK_RMENU:
            ks[VK_MENU] = static_cast<BYTE>(((ks[VK_LMENU] | ks[VK_RMENU]) & 0x80) | (ks[VK_MENU] & 1));
            break;
        case VK_SHIFT: set(VK_LSHIFT); break;
        case VK_CONTROL: set(VK_LCONTROL); break;
        case VK_MENU: set(VK_LMENU); break;
        default: break;
    }
    SetKeyboardState(ks);
}

// Whether a lock key is on, as far as this send knows.
bool toggled(Send& s, uint8_t vk) {
    int8_t& st = s.lockState[lockIndex(vk)];
    if (st < 0) st = (GetKeyState(vk) & 1) ? 1 : 0;
    return st == 1;
}

void keyDelay(const Send& s, int32_t ms) {
    if (s.target && ms < 2) ms = 2;
    automationDelay(ms);
}

// Keeps the keep-active window in front before a key that goes in globally.
void keepActive() {
    HWND h = g_state.keepActive;
    if (!h || GetForegroundWindow() == h) return;
    if (!IsWindow(h)) {
        g_state.keepActive = nullptr;
        return;
    }
    for (int i = 0; i < 3 && GetForegroundWindow() != h; ++i) {
        activateWindow(h);
        Sleep(15);
    }
}

// Waits until the target has taken a key-down just posted. Its message loop translates the key into a
// character with the keyboard state of the moment it reads the key, and puts that character behind
// everything already queued: a target that lags behind would type with the wrong Shift state, or in the
// wrong order. A thread handles sent messages each time it asks for a message, so the second of two sent
// null messages returns only after the loop has come back from the key (and queued its character).
void waitForTarget(HWND target) {
    for (int i = 0; i < 2; ++i) {
        DWORD_PTR ignored;
        if (!SendMessageTimeoutW(target, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &ignored)) return;
    }
}

// One key event, globally or posted to the target.
void keyEvent(Send& s, uint8_t vk, bool up, bool extended = false) {
    extended = extended || isExtended(vk);
    if (isLockKey(vk) && !up) s.lockState[lockIndex(vk)] = toggled(s, vk) ? 0 : 1;
    const bool global = !s.target || isLockKey(vk) || (isModifierKey(vk) && !GetParent(s.target));
    if (s.target) setThreadKeyState(vk, !up);
    if (global) {
        if (!s.target && !up) keepActive();
        injectKey(vk, up, extended);
        return;
    }
    const uint8_t mods = static_cast<uint8_t>(s.pending | g_state.held);
    const bool sys = ((mods & kAlt) || vk == VK_MENU || vk == VK_LMENU || vk == VK_RMENU) && !(mods & kCtrl);
    const UINT scan = MapVirtualKeyW(vk, MAPVK_VK_TO_VSC);
    LPARAM lp = 1 | static_cast<LPARAM>(scan & 0xFF) << 16;
    if (extended) lp |= 1 << 24;
    if (sys) lp |= 1 << 29;
    if (up) lp |= static_cast<LPARAM>(0xC0000000u);
    UINT msg = sys ? (up ? WM_SYSKEYUP : WM_SYSKEYDOWN) : (up ? WM_KEYUP : WM_KEYDOWN);
    PostMessageW(s.target, msg, vk, lp);
    if (!up) waitForTarget(s.target);
}

// The modifiers that are down and not held by the script. Globally that is the asynchronous state (which
// counts injected keys as well as the user's); in control mode also the keyboard state shared with the
// target, where this sender sets modifiers itself. (The per-thread state is read once: each read is a
// round trip to the window server.)
struct DownModifiers {
    uint8_t vks[8];
    int n = 0;
};
DownModifiers foreignModifiersDown(bool withThreadState) {
    static constexpr ModKey kAll[] = {{kLShift, VK_LSHIFT}, {kRShift, VK_RSHIFT}, {kCtrl, VK_LCONTROL},
                                      {kCtrl, VK_RCONTROL}, {kAlt, VK_LMENU},     {kAlt, VK_RMENU},
                                      {kLWin, VK_LWIN},     {kRWin, VK_RWIN}};
    BYTE ks[256];
    const bool haveState = withThreadState && GetKeyboardState(ks);
    DownModifiers d;
    for (const ModKey& m : kAll) {
        if (g_state.held & m.bit) continue;
        if ((GetAsyncKeyState(m.vk) & 0x8000) || (haveState && (ks[m.vk] & 0x80))) d.vks[d.n++] = m.vk;
    }
    return d;
}

// Taps a virtual key count times with the pending modifiers, then clears them.
void sendVk(Send& s, uint8_t vk, int64_t count, bool extended = false) {
    uint8_t mods = static_cast<uint8_t>(s.pending & ~g_state.held);
    if ((g_state.held & (kLWin | kRWin)) && (mods & kLWin)) mods = static_cast<uint8_t>(mods & ~kLWin);
    s.pending = mods;
    DownModifiers down = foreignModifiersDown(s.target != nullptr);
    for (int i = 0; i < down.n; ++i) {
        if (s.target) setThreadKeyState(down.vks[i], false);
        else injectKey(down.vks[i], true, isExtended(down.vks[i]));
    }
    if (mods) {
        for (const ModKey& m : kPressOrder)
            if (mods & m.bit) keyEvent(s, m.vk, false);
        keyDelay(s, s.downDelay);
    }
    for (int64_t i = 0; i < count; ++i) {
        keyEvent(s, vk, false, extended);
        keyDelay(s, s.downDelay);
        keyEvent(s, vk, true, extended);
        keyDelay(s, s.keyDelay);
    }
    if (mods) {
        for (const ModKey& m : kPressOrder)
            if (mods & m.bit) keyEvent(s, m.vk, true);
        keyDelay(s, s.keyDelay);
    }
    s.pending = 0;
}

// A lone key-down or key-up (the DOWN and UP arguments).
void sendVkEdge(Send& s, uint8_t vk, bool up, bool extended = false) {
    keyEvent(s, vk, up, extended);
    keyDelay(s, up ? s.keyDelay : s.downDelay);
    s.pending = 0;
}

// A character with no key on the layout: one Unicode character event per UTF-16 unit, or in control mode
// character messages.
void sendUnicodeUnits(Send& s, u16view units, bool down = true, bool up = true) {
    for (char16_t u : units) {
        if (s.target) {
            if (down) PostMessageW(s.target, WM_CHAR, u, 1);
        } else {
            keepActive();
            injectUnicode(u, down, up);
        }
        keyDelay(s, s.keyDelay);
    }
    s.pending = 0;
}

// Types one character (count times): its layout key with the states the layout needs, or as Unicode.
void sendChar(Send& s, char16_t c, int64_t count) {
    SHORT scan = VkKeyScanW(static_cast<WCHAR>(c));
    if (scan == -1 || LOBYTE(scan) == 0xFF || (c >= 0xD800 && c <= 0xDFFF)) {
        for (int64_t i = 0; i < count; ++i) sendUnicodeUnits(s, u16view(&c, 1));
        return;
    }
    const BYTE need = HIBYTE(scan);
    if (need & 1) s.pending |= kLShift;
    if (need & 2) s.pending |= kCtrl;
    if (need & 4) s.pending |= kAlt;
    sendVk(s, LOBYTE(scan), count);
}

// At the end of the run, the modifiers the script still holds are let go: a Ctrl left down would stay
// down for the user long after the script is gone.
void releaseHeldModifiers() {
    static constexpr ModKey kHeldKeys[] = {{kLShift, VK_SHIFT}, {kRShift, VK_RSHIFT}, {kCtrl, VK_CONTROL},
                                           {kAlt, VK_MENU},     {kLWin, VK_LWIN},    {kRWin, VK_RWIN}};
    for (const ModKey& m : kHeldKeys)
        if (g_state.held & m.bit) injectKey(m.vk, true, isExtended(m.vk));
    g_state.held = 0;
}

// Presses (down) or releases a modifier the script holds, once: pressing one already held or releasing
// one not held does nothing.
void holdModifier(Send& s, uint8_t bit, uint8_t vk, bool down) {
    if (down == static_cast<bool>(g_state.held & bit)) return;
    static const bool releaseAtEnd = addShutdownHook(releaseHeldModifiers);
    (void)releaseAtEnd;
    if (down) g_state.held |= bit;
    else g_state.held = static_cast<uint8_t>(g_state.held & ~bit);
    keyEvent(s, vk, !down);
    keyDelay(s, down ? s.downDelay : s.keyDelay);
}

// {ASC n}: the character of that code. Globally typed as Alt + the decimal digits on the keypad.
void sendAsc(Send& s, u16view digits) {
    if (s.target) {
        uint32_t code = 0;
        for (char16_t d : digits) {
            if (d < u'0' || d > u'9') break;
            code = code * 10 + (d - u'0');
            if (code > 0x10FFFF) break;
        }
        if (code > 0x10FFFF) return;
        char16_t units[2];
        size_t n = 1;
        if (code >= 0x10000) {
            units[0] = static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
            units[1] = static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
            n = 2;
        } else {
            units[0] = static_cast<char16_t>(code);
        }
        sendUnicodeUnits(s, u16view(units, n));
        return;
    }
    const bool altHeld = g_state.held & kAlt;
    if (!altHeld) {
        keyEvent(s, VK_MENU, false);
        keyDelay(s, s.downDelay);
    }
    for (char16_t d : digits) {
        if (d < u'0' || d > u'9') continue;
        const uint8_t vk = static_cast<uint8_t>(VK_NUMPAD0 + (d - u'0'));
        keyEvent(s, vk, false);
        keyDelay(s, s.downDelay);
        keyEvent(s, vk, true);
        keyDelay(s, s.keyDelay);
    }
    if (!altHeld) {
        keyEvent(s, VK_MENU, true);
        keyDelay(s, s.keyDelay);
    }
    s.pending = 0;
}

bool isBlank(char16_t c) { return c == u' ' || c == u'\t'; }

// The argument of a braced key.
struct KeyArg {
    enum Kind { Count, Down, Up, On, Off, Toggle } kind = Count;
    int64_t count = 1;
    std::u16string number;  // the argument as decimal digits (for ASC)
};

KeyArg parseArg(u16view arg) {
    KeyArg k;
    while (!arg.empty() && isBlank(arg.back())) arg.remove_suffix(1);
    if (arg.empty()) return k;
    if (equalsNoCaseAscii(arg, "DOWN")) k.kind = KeyArg::Down;
    else if (equalsNoCaseAscii(arg, "UP")) k.kind = KeyArg::Up;
    else if (equalsNoCaseAscii(arg, "ON")) k.kind = KeyArg::On;
    else if (equalsNoCaseAscii(arg, "OFF")) k.kind = KeyArg::Off;
    else if (equalsNoCaseAscii(arg, "TOGGLE")) k.kind = KeyArg::Toggle;
    if (k.kind != KeyArg::Count) return k;

    uint64_t value = 0;
    bool leadingZero = false;
    if (arg.size() > 2 && arg[0] == u'0' && (arg[1] == u'x' || arg[1] == u'X')) {
        leadingZero = arg[2] == u'0';
        for (size_t i = 2; i < arg.size(); ++i) {
            char16_t c = arg[i];
            int d = c >= u'0' && c <= u'9' ? c - u'0' : c >= u'a' && c <= u'f' ? c - u'a' + 10
                  : c >= u'A' && c <= u'F' ? c - u'A' + 10 : -1;
            if (d < 0) break;
            if (value < (1ull << 40)) value = value * 16 + static_cast<uint64_t>(d);
        }
        std::string dec = std::to_string(value);
        if (leadingZero) k.number = u"0";
        for (char c : dec) k.number += static_cast<char16_t>(c);
    } else {
        for (char16_t c : arg) {
            if (c < u'0' || c > u'9') break;
            k.number += c;
            if (value < (1ull << 40)) value = value * 10 + static_cast<uint64_t>(c - u'0');
        }
    }
    k.count = value < 1 ? 1 : static_cast<int64_t>(value);
    return k;
}

// Taps a toggle key (CapsLock, NumLock...) once when its state differs from the one wanted.

void setToggle(Send& s, uint8_t vk, bool on) {
    if (toggled(s, vk) == on) return;
    sendVk(s, vk, 1);
}

void sendBraced(Send& s, u16view content) {
    // The name runs to the first blank (a blank as the first character is the name itself: "{ 3}").
    size_t end = 1;
    while (end < content.size() && !isBlank(content[end])) ++end;
    u16view name = content.substr(0, end);
    u16view rest = content.substr(end);
    while (!rest.empty() && isBlank(rest.front())) rest.remove_prefix(1);
    KeyArg arg = parseArg(rest);

    const KeyName* k = findKeyName(name);
    if (!k) {
        const char16_t c = name[0];
        if (arg.kind == KeyArg::Down || arg.kind == KeyArg::Up) {
            const bool up = arg.kind == KeyArg::Up;
            SHORT scan = VkKeyScanW(static_cast<WCHAR>(c));
            if (scan == -1 || LOBYTE(scan) == 0xFF) sendUnicodeUnits(s, u16view(&c, 1), !up, up);
            else sendVkEdge(s, LOBYTE(scan), up);
            return;
        }
        sendChar(s, c, arg.kind == KeyArg::Count ? arg.count : 1);
        return;
    }

    auto plain = [&](uint8_t vk, bool extended) {
        if (vk == VK_CAPITAL) {
            const bool before = s.capsWanted >= 0 ? s.capsWanted : s.capsFound;
            if (arg.kind == KeyArg::On || arg.kind == KeyArg::Off) s.capsWanted = arg.kind == KeyArg::On;
            else if (arg.kind == KeyArg::Toggle || (arg.kind == KeyArg::Count && arg.count % 2)) s.capsWanted = !before;
        }
        switch (arg.kind) {
            case KeyArg::Down: sendVkEdge(s, vk, false, extended); break;
            case KeyArg::Up: sendVkEdge(s, vk, true, extended); break;
            case KeyArg::On: setToggle(s, vk, true); break;
            case KeyArg::Off: setToggle(s, vk, false); break;
            case KeyArg::Toggle: sendVk(s, vk, 1, extended); break;
            case KeyArg::Count: sendVk(s, vk, arg.count, extended); break;
        }
    };
    // ALT, LSHIFT, RSHIFT: DOWN and UP hold and release the key as the script's own modifier.
    auto modifier = [&](uint8_t bit, uint8_t vk) {
        if (arg.kind == KeyArg::Down || arg.kind == KeyArg::Up) holdModifier(s, bit, vk, arg.kind == KeyArg::Down);
        else sendVk(s, vk, 1);
        s.pending = 0;
    };
    auto hold = [&](uint8_t bit, uint8_t vk, bool down) {
        holdModifier(s, bit, vk, down);
        s.pending = 0;
    };

    using S = KeySpecial;
    switch (k->special) {
        case S::None: plain(k->vk, false); break;
        case S::Alt: modifier(kAlt, VK_MENU); break;
        case S::LShift: modifier(kLShift, VK_LSHIFT); break;
        case S::RShift: modifier(kRShift, VK_RSHIFT); break;
        case S::NumpadEnter: plain(VK_RETURN, true); break;
        case S::Asc: sendAsc(s, arg.number); break;
        case S::CtrlDown: hold(kCtrl, VK_CONTROL, true); break;
        case S::CtrlUp: hold(kCtrl, VK_CONTROL, false); break;
        case S::AltDown: hold(kAlt, VK_MENU, true); break;
        case S::AltUp: hold(kAlt, VK_MENU, false); break;
        case S::ShiftDown: hold(kLShift, VK_SHIFT, true); break;
        case S::ShiftUp: hold(kLShift, VK_SHIFT, false); break;
        case S::LWinDown: hold(kLWin, VK_LWIN, true); break;
        case S::LWinUp: hold(kLWin, VK_LWIN, false); break;
        case S::RWinDown: hold(kRWin, VK_RWIN, true); break;
        case S::RWinUp: hold(kRWin, VK_RWIN, false); break;
        // The mouse-button names are refused as keys: they send nothing.
        default: s.pending = 0; break;
    }
}

void sendParsed(Send& s, u16view keys) {
    for (size_t i = 0; i < keys.size(); ++i) {
        const char16_t c = keys[i];
        switch (c) {
            case u'!': s.pending |= kAlt; continue;
            case u'#': s.pending |= kLWin; continue;
            case u'+': s.pending |= kLShift; continue;
            case u'^': s.pending |= kCtrl; continue;
            default: break;
        }
        if (c == u'{') {
            size_t close = keys.find(u'}', i + 1);
            if (close != u16view::npos) {
                if (close > i + 1) sendBraced(s, keys.substr(i + 1, close - i - 1));
                else s.pending = 0;
                i = close;
                continue;
            }
        }
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < keys.size() && keys[i + 1] >= 0xDC00 && keys[i + 1] <= 0xDFFF) {
            sendUnicodeUnits(s, keys.substr(i, 2));
            ++i;
            continue;
        }
        sendChar(s, c, 1);
    }
}

// Input attachments of one send, undone at its end.
class Attachments {
public:
    Attachments() = default;
    Attachments(const Attachments&) = delete;
    Attachments& operator=(const Attachments&) = delete;
    ~Attachments() {
        for (int i = n_ - 1; i >= 0; --i) AttachThreadInput(pairs_[i][0], pairs_[i][1], FALSE);
    }
    bool attach(DWORD from, DWORD to) {
        if (!from || !to || from == to || n_ == 3) return false;
        if (!AttachThreadInput(from, to, TRUE)) return false;
        pairs_[n_][0] = from;
        pairs_[n_][1] = to;
        ++n_;
        return true;
    }
    int count() const { return n_; }

private:
    DWORD pairs_[3][2] = {};
    int n_ = 0;
};

DWORD threadOf(HWND h) { return h ? GetWindowThreadProcessId(h, nullptr) : 0; }

// Switches CapsLock off for the send and remembers the user's modifiers; the destructor puts both back
// (CapsLock as the key string left it when it set it itself).
class CapsLockGuard {
public:
    explicit CapsLockGuard(Send& s) : s_(s) {
        if (!options().sendCapsLockMode) return;
        active_ = true;
        capsWasOn_ = toggled(s, VK_CAPITAL);
        s.capsFound = capsWasOn_;
        user_ = foreignModifiersDown(false);
        if (capsWasOn_) tapCaps();
    }
    CapsLockGuard(const CapsLockGuard&) = delete;
    CapsLockGuard& operator=(const CapsLockGuard&) = delete;
    ~CapsLockGuard() {
        if (!active_) return;
        for (int i = 0; i < user_.n; ++i) injectKey(user_.vks[i], false, isExtended(user_.vks[i]));
        const bool want = s_.capsWanted >= 0 ? s_.capsWanted != 0 : capsWasOn_;
        if (toggled(s_, VK_CAPITAL) != want) tapCaps();
    }

private:
    void tapCaps() {
        s_.lockState[0] = toggled(s_, VK_CAPITAL) ? 0 : 1;
        injectKey(VK_CAPITAL, false, false);
        keyDelay(s_, s_.downDelay);
        injectKey(VK_CAPITAL, true, false);
        keyDelay(s_, s_.keyDelay);
    }
    Send& s_;
    bool active_ = false;
    bool capsWasOn_ = false;
    DownModifiers user_;
};

void sendKeys(HWND target, u16view keys, bool raw) {
    Send s;
    s.target = target;
    s.keyDelay = options().sendKeyDelay;
    s.downDelay = options().sendKeyDownDelay;

    Attachments att;
    if (target || options().sendAttachMode) {
        const DWORD me = GetCurrentThreadId();
        const DWORD front = threadOf(GetForegroundWindow());
        bool any = att.attach(me, front);
        if (target) {
            const DWORD to = threadOf(target);
            any = att.attach(front, to) || any;
            any = att.attach(me, to) || any;
            // Keys for a window of this very thread cannot be posted through an attachment: they go in
            // globally.
            if (!any && front == me && to == me) s.target = nullptr;
        }
    }
    CapsLockGuard caps(s);
    if (raw) {
        for (size_t i = 0; i < keys.size(); ++i) {
            const char16_t c = keys[i];
            if (c >= 0xD800 && c <= 0xDBFF && i + 1 < keys.size() && keys[i + 1] >= 0xDC00 && keys[i + 1] <= 0xDFFF) {
                sendUnicodeUnits(s, keys.substr(i, 2));
                ++i;
            } else {
                sendChar(s, c, 1);
            }
        }
    } else {
        sendParsed(s, keys);
    }
}

}  // namespace

// Brings a window to the foreground: directly, then with attached input.
bool activateWindow(HWND h) {
    if (GetForegroundWindow() == h) return true;
    if (IsIconic(h)) ShowWindow(h, SW_RESTORE);
    if (SetForegroundWindow(h)) return true;
    Attachments att;
    const DWORD me = GetCurrentThreadId();
    att.attach(me, threadOf(h));
    att.attach(me, threadOf(GetForegroundWindow()));
    return SetForegroundWindow(h) != FALSE;
}

bool sendKeysToWindow(HWND target, u16view keys, bool raw) {
    if (!target || !IsWindow(target)) return false;
    sendKeys(target, keys, raw);
    return true;
}

int bi_SEND(Engine&, Args& a, Variant&) {
    const bool raw = a.given(1) && a.int32(1) != 0;
    sendKeys(nullptr, a.str(0).view(), raw);
    return 0;
}

int bi_SENDKEEPACTIVE(Engine& e, Args& a, Variant& r) {
    g_state.keepActive = nullptr;
    if (!a[0].isTrue()) return 0;
    HWND h = findTargetWindow(e, a, r, Variant::int32(0), false);
    if (h) g_state.keepActive = h;
    return 0;
}

int bi_BLOCKINPUT(Engine&, Args& a, Variant& r) {
    r.setInt32(BlockInput(a.int32(0) != 0 ? TRUE : FALSE) ? 1 : 0);
    return 0;
}

}  // namespace tx
