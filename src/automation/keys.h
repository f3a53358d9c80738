// Key names, hot-key strings and the key sender.
//
// The key-name table maps the braced names of key strings ("{F1}", "{NUMPAD5}", "{CTRLDOWN}") to virtual
// keys; names that are not a plain key (the held modifiers, ALT and the Shift sides, NUMPADENTER, ASC and
// the mouse buttons) carry a special code for the key sender instead. Hot-key strings ("^!{F5}", "+a")
// are parsed here too: modifier prefixes, then one key. The key sender itself (the key-string language
// of SEND and of keys sent to one window) lives in keysend.cpp.
#pragma once

#include <windows.h>

#include <cstdint>

#include "core/builtins.h"
#include "core/sstring.h"

namespace tx {

enum class KeySpecial : uint8_t {
    None = 0,
    Alt,
    LShift,
    RShift,
    NumpadEnter,
    Asc,
    CtrlDown,
    CtrlUp,
    AltDown,
    AltUp,
    ShiftDown,
    ShiftUp,
    LWinDown,
    LWinUp,
    RWinDown,
    RWinUp,
    MouseLButton,
    MouseRButton,
    MouseMButton,
    MouseXButton1,
    MouseXButton2,
};

struct KeyName {
    const char16_t* name;  // upper case
    uint8_t vk;            // the virtual key of a plain name (0 for special names)
    KeySpecial special;
};

// The table entry of a name (compared without regard to case), or nullptr.
const KeyName* findKeyName(u16view name);

// Modifier flags of a hot key, as the system's hot-key registration takes them.
constexpr uint32_t kHotAlt = 1, kHotCtrl = 2, kHotShift = 4, kHotWin = 8;

struct HotKey {
    enum Status { Ok, Refused, UnknownChar } status = Refused;
    uint8_t vk = 0;
    uint32_t mods = 0;  // kHot* flags
};

// Parses a hot-key string: any of the prefixes "!" (Alt), "#" (Win), "+" (Shift), "^" (Ctrl), then a
// plain name in braces, other text in braces (its first character) or a single character; the rest is
// ignored. A character is mapped by the keyboard layout, whose Shift/Ctrl/Alt needs become modifiers.
// Special names and an empty key are refused; a character the layout cannot type is UnknownChar.
HotKey parseHotKey(u16view s);

// Sends a key string to one window by posted key messages (the control mode of the key sender), with the
// same language, delays and options as SEND; raw sends every character as itself. False when target is
// not a window. Keys for a window of the calling thread go in globally instead (they cannot be posted
// through an input attachment).
bool sendKeysToWindow(HWND target, u16view keys, bool raw);

// Brings a window to the foreground, with attached input when a plain request is refused.
bool activateWindow(HWND h);

int bi_BLOCKINPUT(Engine&, Args&, Variant&);
int bi_SEND(Engine&, Args&, Variant&);
int bi_SENDKEEPACTIVE(Engine&, Args&, Variant&);

}  // namespace tx
