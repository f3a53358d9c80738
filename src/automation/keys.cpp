// The key-name table (in lookup order) and the hot-key string parser.
#include "automation/keys.h"

#include <windows.h>

#include <iterator>

namespace tx {

namespace {

using S = KeySpecial;

constexpr KeyName kKeyNames[] = {
    {u"ALT", 0, S::Alt},
    {u"BACKSPACE", 0x08, S::None},
    {u"BS", 0x08, S::None},
    {u"DEL", 0x2E, S::None},
    {u"DELETE", 0x2E, S::None},
    {u"DOWN", 0x28, S::None},
    {u"END", 0x23, S::None},
    {u"ENTER", 0x0D, S::None},
    {u"ESC", 0x1B, S::None},
    {u"ESCAPE", 0x1B, S::None},
    {u"F1", 0x70, S::None},
    {u"F2", 0x71, S::None},
    {u"F3", 0x72, S::None},
    {u"F4", 0x73, S::None},
    {u"F5", 0x74, S::None},
    {u"F6", 0x75, S::None},
    {u"F7", 0x76, S::None},
    {u"F8", 0x77, S::None},
    {u"F9", 0x78, S::None},
    {u"F10", 0x79, S::None},
    {u"F11", 0x7A, S::None},
    {u"F12", 0x7B, S::None},
    {u"HOME", 0x24, S::None},
    {u"INS", 0x2D, S::None},
    {u"INSERT", 0x2D, S::None},
    {u"LEFT", 0x25, S::None},
    {u"PGDN", 0x22, S::None},
    {u"PGUP", 0x21, S::None},
    {u"RIGHT", 0x27, S::None},
    {u"SPACE", 0x20, S::None},
    {u"TAB", 0x09, S::None},
    {u"UP", 0x26, S::None},
    {u"PRINTSCREEN", 0x2C, S::None},
    {u"LWIN", 0x5B, S::None},
    {u"RWIN", 0x5C, S::None},
    {u"SCROLLLOCK", 0x91, S::None},
    {u"NUMLOCK", 0x90, S::None},
    {u"BREAK", 0x03, S::None},
    {u"PAUSE", 0x13, S::None},
    {u"CAPSLOCK", 0x14, S::None},
    {u"NUMPAD0", 0x60, S::None},
    {u"NUMPAD1", 0x61, S::None},
    {u"NUMPAD2", 0x62, S::None},
    {u"NUMPAD3", 0x63, S::None},
    {u"NUMPAD4", 0x64, S::None},
    {u"NUMPAD5", 0x65, S::None},
    {u"NUMPAD6", 0x66, S::None},
    {u"NUMPAD7", 0x67, S::None},
    {u"NUMPAD8", 0x68, S::None},
    {u"NUMPAD9", 0x69, S::None},
    {u"NUMPADMULT", 0x6A, S::None},
    {u"NUMPADADD", 0x6B, S::None},
    {u"NUMPADSUB", 0x6D, S::None},
    {u"NUMPADDOT", 0x6E, S::None},
    {u"NUMPADDIV", 0x6F, S::None},
    {u"APPSKEY", 0x5D, S::None},
    {u"LCTRL", 0xA2, S::None},
    {u"RCTRL", 0xA3, S::None},
    {u"LALT", 0xA4, S::None},
    {u"RALT", 0xA5, S::None},
    {u"LSHIFT", 0, S::LShift},
    {u"RSHIFT", 0, S::RShift},
    {u"SLEEP", 0x5F, S::None},
    {u"NUMPADENTER", 0, S::NumpadEnter},
    {u"BROWSER_BACK", 0xA6, S::None},
    {u"BROWSER_FORWARD", 0xA7, S::None},
    {u"BROWSER_REFRESH", 0xA8, S::None},
    {u"BROWSER_STOP", 0xA9, S::None},
    {u"BROWSER_SEARCH", 0xAA, S::None},
    {u"BROWSER_FAVORTIES", 0xAB, S::None},  // spelled so in the key language
    {u"BROWSER_HOME", 0xAC, S::None},
    {u"VOLUME_MUTE", 0xAD, S::None},
    {u"VOLUME_DOWN", 0xAE, S::None},
    {u"VOLUME_UP", 0xAF, S::None},
    {u"MEDIA_NEXT", 0xB0, S::None},
    {u"MEDIA_PREV", 0xB1, S::None},
    {u"MEDIA_STOP", 0xB2, S::None},
    {u"MEDIA_PLAY_PAUSE", 0xB3, S::None},
    {u"LAUNCH_MAIL", 0xB4, S::None},
    {u"LAUNCH_MEDIA", 0xB5, S::None},
    {u"LAUNCH_APP1", 0xB6, S::None},
    {u"LAUNCH_APP2", 0xB7, S::None},
    {u"MOUSE_LBUTTON", 0, S::MouseLButton},
    {u"MOUSE_RBUTTON", 0, S::MouseRButton},
    {u"MOUSE_MBUTTON", 0, S::MouseMButton},
    {u"MOUSE_XBUTTON1", 0, S::MouseXButton1},
    {u"MOUSE_XBUTTON2", 0, S::MouseXButton2},
    {u"CTRLDOWN", 0, S::CtrlDown},
    {u"CTRLUP", 0, S::CtrlUp},
    {u"ALTDOWN", 0, S::AltDown},
    {u"ALTUP", 0, S::AltUp},
    {u"SHIFTDOWN", 0, S::ShiftDown},
    {u"SHIFTUP", 0, S::ShiftUp},
    {u"LWINDOWN", 0, S::LWinDown},
    {u"LWINUP", 0, S::LWinUp},
    {u"RWINDOWN", 0, S::RWinDown},
    {u"RWINUP", 0, S::RWinUp},
    {u"ASC", 0, S::Asc},
};
static_assert(std::size(kKeyNames) == 98);

char16_t upperAscii(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

bool equalsNoCase(u16view a, const char16_t* upper) {
    size_t i = 0;
    for (; i < a.size(); ++i) {
        if (!upper[i] || upperAscii(a[i]) != upper[i]) return false;
    }
    return upper[i] == 0;
}

}  // namespace

const KeyName* findKeyName(u16view name) {
    for (const KeyName& k : kKeyNames)
        if (equalsNoCase(name, k.name)) return &k;
    return nullptr;
}

HotKey parseHotKey(u16view s) {
    HotKey hk;
    size_t i = 0;
    for (; i < s.size(); ++i) {
        char16_t c = s[i];
        if (c == u'!') hk.mods |= kHotAlt;
        else if (c == u'#') hk.mods |= kHotWin;
        else if (c == u'+') hk.mods |= kHotShift;
        else if (c == u'^') hk.mods |= kHotCtrl;
        else break;
    }
    if (i >= s.size()) return hk;  // no key
    char16_t ch = s[i];
    if (ch == u'{') {
        size_t close = s.find(u'}', i + 1);
        if (close != u16view::npos) {
            u16view content = s.substr(i + 1, close - i - 1);
            // A name may be followed by blanks and an argument, which a hot key has no use for.
            size_t blank = content.find_first_of(u" \t");
            u16view name = blank == u16view::npos ? content : content.substr(0, blank);
            if (const KeyName* k = findKeyName(name)) {
                if (k->special != KeySpecial::None) return hk;  // refused
                hk.vk = k->vk;
                hk.status = HotKey::Ok;
                return hk;
            }
            if (content.empty()) return hk;
            ch = content[0];
        }
        // Without a closing brace the "{" is the key itself.
    }
    SHORT scan = VkKeyScanW(static_cast<WCHAR>(ch));
    if (scan == -1 || LOBYTE(scan) == 0xFF) {
        hk.status = HotKey::UnknownChar;
        return hk;
    }
    hk.vk = LOBYTE(scan);
    BYTE need = HIBYTE(scan);
    if (need & 1) hk.mods |= kHotShift;
    if (need & 2) hk.mods |= kHotCtrl;
    if (need & 4) hk.mods |= kHotAlt;
    hk.status = HotKey::Ok;
    return hk;
}

}  // namespace tx
