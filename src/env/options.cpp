// OPT and TARVEXSETOPTION: the 31-row option table with its descriptors, and the string expansion the
// ExpandEnvStrings and ExpandVarStrings options switch on.
//
// A descriptor is "d<default>" followed by one type letter: "b" boolean (non-zero stores 1), "c" one
// character, "m<min>" integer with a minimum, "r<lo>,<hi>" integer in a range, "#<n>" handled by code of
// its own. Values outside a minimum or range are replaced by the default silently; only an unknown name
// and a rejected WinTitleMatchMode are failures (@error 1).
#include "env/options.h"

#include <windows.h>

#include <cstddef>
#include <cstdlib>

#include "core/core_builtins.h"
#include "core/engine.h"
#include "core/errors.h"
#include "core/interp.h"
#include "env/macros.h"

namespace tx {

Options& options() {
    static Options o;
    return o;
}

void (*g_trayIconHiddenChanged)(bool hidden) = nullptr;

namespace {

enum class Store : uint8_t { None, Byte, Char, Int };

struct OptionRow {
    const char16_t* name;
    const char* descriptor;
    Store store;
    size_t offset;
};

#define TX_OPT(name, desc, store, field) {u##name, desc, Store::store, offsetof(Options, field)}

// Sorted by name, ignoring case.
const OptionRow kRows[] = {
    TX_OPT("CaretCoordMode", "d1r0,2", Int, caretCoordMode),
    TX_OPT("ExpandEnvStrings", "d0b", Byte, expandEnvStrings),
    TX_OPT("ExpandVarStrings", "d0b", Byte, expandVarStrings),
    TX_OPT("GUICloseOnESC", "d1b", Byte, guiCloseOnEsc),
    TX_OPT("GUICoordMode", "d1r0,2", Int, guiCoordMode),
    TX_OPT("GUIDataSeparatorChar", "d124c", Char, guiDataSeparatorChar),
    TX_OPT("GUIEventOptions", "d0r0,3", Int, guiEventOptions),
    TX_OPT("GUIOnEventMode", "d0b", Byte, guiOnEventMode),
    TX_OPT("GUIResizeMode", "d0r0,1023", Int, guiResizeMode),
    TX_OPT("MouseClickDelay", "d10m0", Int, mouseClickDelay),
    TX_OPT("MouseClickDownDelay", "d10m0", Int, mouseClickDownDelay),
    TX_OPT("MouseClickDragDelay", "d250m0", Int, mouseClickDragDelay),
    TX_OPT("MouseCoordMode", "d1r0,2", Int, mouseCoordMode),
    TX_OPT("MustDeclareVars", "d0b", Byte, mustDeclareVars),
    TX_OPT("PixelCoordMode", "d1r0,2", Int, pixelCoordMode),
    TX_OPT("SendAttachMode", "d0b", Byte, sendAttachMode),
    TX_OPT("SendCapsLockMode", "d1b", Byte, sendCapsLockMode),
    TX_OPT("SendKeyDelay", "d5m0", Int, sendKeyDelay),
    TX_OPT("SendKeyDownDelay", "d5m0", Int, sendKeyDownDelay),
    TX_OPT("SetExitCode", "d0b", Byte, setExitCode),
    TX_OPT("TCPTimeout", "d100m0", Int, tcpTimeout),
    TX_OPT("TrayAutoPause", "d1b", Byte, trayAutoPause),
    TX_OPT("TrayIconDebug", "d0b", Byte, trayIconDebug),
    TX_OPT("TrayIconHide", "d0#1", None, trayIconHidden),
    TX_OPT("TrayMenuMode", "d0#2", None, trayMenuMode),
    TX_OPT("TrayOnEventMode", "d0b", Byte, trayOnEventMode),
    TX_OPT("WinDetectHiddenText", "d0b", Byte, winDetectHiddenText),
    TX_OPT("WinSearchChildren", "d0b", Byte, winSearchChildren),
    TX_OPT("WinTextMatchMode", "d1r1,2", Int, winTextMatchMode),
    TX_OPT("WinTitleMatchMode", "d1#3", None, winTitleMatchMode),
    TX_OPT("WinWaitDelay", "d250m0", Int, winWaitDelay),
};
#undef TX_OPT
constexpr int kRowCount = static_cast<int>(sizeof(kRows) / sizeof(kRows[0]));
static_assert(kRowCount == 31, "the option table has 31 rows");

inline char16_t lowerAscii(char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c; }

int compareNoCase(u16view a, const char16_t* b) {
    size_t i = 0;
    for (; i < a.size() && b[i]; ++i) {
        char16_t x = lowerAscii(a[i]), y = lowerAscii(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    if (i < a.size()) return 1;
    return b[i] ? -1 : 0;
}

const OptionRow* findRow(u16view name) {
    int lo = 0, hi = kRowCount - 1;
    while (lo <= hi) {
        int mid = (lo + hi) / 2;
        int c = compareNoCase(name, kRows[mid].name);
        if (c == 0) return &kRows[mid];
        if (c < 0) hi = mid - 1;
        else lo = mid + 1;
    }
    return nullptr;
}

// The parsed descriptor of a row.
struct Descriptor {
    int32_t def = 0;
    char type = 0;
    int32_t a = 0, b = 0;  // minimum, or range bounds, or the special number
};

Descriptor parse(const char* d) {
    Descriptor r;
    char* end = nullptr;
    if (*d == 'd') r.def = static_cast<int32_t>(std::strtol(d + 1, &end, 10));
    else end = const_cast<char*>(d);
    r.type = *end;
    if (r.type == 'm' || r.type == '#') {
        r.a = static_cast<int32_t>(std::strtol(end + 1, nullptr, 10));
    } else if (r.type == 'r') {
        char* comma = nullptr;
        r.a = static_cast<int32_t>(std::strtol(end + 1, &comma, 10));
        r.b = static_cast<int32_t>(std::strtol(comma + 1, nullptr, 10));
    }
    return r;
}

template <typename T>
T& field(const OptionRow& row) {
    return *reinterpret_cast<T*>(reinterpret_cast<char*>(&options()) + row.offset);
}

int optionFailed(Engine& e, Variant& result) {
    e.setError(1);
    e.setExtended(0);
    result.setInt32(0);
    return 0;
}

}  // namespace

int biOpt(Engine& e, Args& args, Variant& result) {
    if (!args[0].isString()) return optionFailed(e, result);
    u16view name = args[0].rawString().view();
    if (!name.empty() && name[0] == u'*') return optionFailed(e, result);
    const OptionRow* row = findRow(name);
    if (!row) return optionFailed(e, result);
    const Descriptor d = parse(row->descriptor);
    Options& o = options();

    // The value before the call.
    switch (row->store) {
        case Store::Byte: result.setInt32(field<uint8_t>(*row)); break;
        case Store::Int: result.setInt32(field<int32_t>(*row)); break;
        case Store::Char: {
            char16_t c = field<char16_t>(*row);
            result.setString(c ? SString(&c, 1) : SString());
            break;
        }
        case Store::None:
            if (d.a == 1) result.setInt32(o.trayIconHidden);
            else if (d.a == 2) result.setInt32(o.trayMenuMode);
            else result.setInt32(o.winTitleMatchMode);
            break;
    }
    if (args.n < 2) return 0;

    const bool useDefault = args[1].isDefaultKeyword();
    const int32_t value = useDefault ? d.def : args.int32(1);
    switch (d.type) {
        case 'b': field<uint8_t>(*row) = value != 0 ? 1 : 0; break;
        case 'm': field<int32_t>(*row) = value < d.a ? d.def : value; break;
        case 'r': field<int32_t>(*row) = (value < d.a || value > d.b) ? d.def : value; break;
        case 'c': {
            char16_t c = static_cast<char16_t>(d.def);
            if (!useDefault) {
                const SString& s = args[1].toString();
                c = s.empty() ? 0 : s[0];
            }
            field<char16_t>(*row) = c;
            break;
        }
        case '#':
            if (d.a == 1) {
                bool hide = value != 0;
                o.trayIconHidden = hide ? 1 : 0;
                if (g_trayIconHiddenChanged) g_trayIconHiddenChanged(hide);
            } else if (d.a == 2) {
                o.trayMenuDefaultItems = !(value & 1);
                o.trayMenuAutoCheck = !(value & 2);
                o.trayMenuDoubleClick = !(value & 4);
                o.trayMenuAutoRadio = !(value & 8);
                o.trayMenuMode = value & 15;
            } else {
                int32_t m = value < 0 ? -value : value;
                if (m < 1 || m > 4) {
                    e.setError(1);
                    e.setExtended(0);
                    return 0;
                }
                o.winTitleMatchMode = value;
            }
            break;
        default: break;
    }
    runState().setExitCode = o.setExitCode;
    g_expandStrings = o.expandEnvStrings || o.expandVarStrings;
    return 0;
}

// ---------------------------------------------------------------------------------------------------
// String expansion

bool g_expandStrings = false;

namespace {

// "%NAME%" references to defined environment variables.
SString expandEnv(const SString& s) {
    u16view v = s.view();
    if (v.find(u'%') == u16view::npos) return s;
    SString out;
    size_t i = 0;
    while (i < v.size()) {
        if (v[i] == u'%') {
            size_t j = v.find(u'%', i + 1);
            if (j != u16view::npos && j > i + 1) {
                std::u16string name(v.substr(i + 1, j - i - 1));
                DWORD n = GetEnvironmentVariableW(reinterpret_cast<LPCWSTR>(name.c_str()), nullptr, 0);
                if (n > 0) {
                    std::u16string val(n, u'\0');
                    DWORD got = GetEnvironmentVariableW(reinterpret_cast<LPCWSTR>(name.c_str()),
                                                        reinterpret_cast<LPWSTR>(val.data()), n);
                    val.resize(got);
                    out.append(val);
                    i = j + 1;
                    continue;
                }
            }
        }
        out.append(v[i]);
        ++i;
    }
    return out;
}

// "$name$" (variables), "@name@" (macros), "$$" and "@@" (the characters themselves).
SString expandVars(Engine& e, const SString& s) {
    u16view v = s.view();
    if (v.find(u'$') == u16view::npos && v.find(u'@') == u16view::npos) return s;
    SString out;
    size_t i = 0;
    while (i < v.size()) {
        char16_t c = v[i];
        if (c == u'$' || c == u'@') {
            if (i + 1 < v.size() && v[i + 1] == c) {
                out.append(c);
                i += 2;
                continue;
            }
            size_t j = i + 1;
            while (j < v.size() && isNameChar(v[j])) ++j;
            if (j > i + 1 && j < v.size() && v[j] == c) {
                std::u16string name(v.substr(i + 1, j - i - 1));
                for (char16_t& ch : name) ch = asciiUpper(ch);
                if (c == u'$') {
                    if (VarEntry* var = e.lookup(name, Scope::Any)) {
                        out.append(var->ptr->toString().view());
                        i = j + 1;
                        continue;
                    }
                } else {
                    Variant m;
                    if (evalMacro(e, name, m)) {
                        out.append(m.toString().view());
                        i = j + 1;
                        continue;
                    }
                }
            }
        }
        out.append(c);
        ++i;
    }
    return out;
}

}  // namespace

void expandOptionStrings(Engine& e, Variant& v) {
    if (!v.isString()) return;
    const Options& o = options();
    SString s = v.rawString();
    if (o.expandEnvStrings) s = expandEnv(s);
    if (o.expandVarStrings) s = expandVars(e, s);
    v.setString(std::move(s));
}

}  // namespace tx
