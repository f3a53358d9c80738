// Key names and hot-key strings.
//
// The key-name table maps the braced names of key strings ("{F1}", "{NUMPAD5}", "{CTRLDOWN}") to virtual
// keys; names that are not a plain key (the held modifiers, ALT and the Shift sides, NUMPADENTER, ASC and
// the mouse buttons) carry a special code for the key sender instead. Hot-key strings ("^!{F5}", "+a")
// are parsed here too: modifier prefixes, then one key.
#pragma once

#include <cstdint>

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

}  // namespace tx
