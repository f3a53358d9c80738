// Environment built-ins: ENVGET, ENVSET and ENVUPDATE.
//
// They work on the process's own environment block, which programs started afterwards inherit and which
// the environment macros read. ENVUPDATE tells the other top-level windows that the environment changed
// (programs such as the shell then read it again from the registry).
#include "lib/process.h"

#include <windows.h>

#include "core/engine.h"

namespace tx {

namespace {

const wchar_t* W(const char16_t* s) { return reinterpret_cast<const wchar_t*>(s); }

}  // namespace

int bi_ENVGET(Engine&, Args& a, Variant& r) {
    const wchar_t* name = W(a.str(0).c_str());
    r.setString(SString());
    // Sized by a first call: a value may be up to 32767 characters long.
    DWORD need = GetEnvironmentVariableW(name, nullptr, 0);
    while (need > 1) {
        SString value = SString::withLength(need - 1);
        DWORD got = GetEnvironmentVariableW(name, reinterpret_cast<wchar_t*>(value.mutableData()), need);
        if (got < need) {
            value.resize(got);
            r.setString(std::move(value));
            return 0;
        }
        need = got;  // grew in between
    }
    return 0;
}

int bi_ENVSET(Engine&, Args& a, Variant& r) {
    const wchar_t* value = a.given(1) ? W(a.str(1).c_str()) : nullptr;  // none: the variable is removed
    r.setInt32(SetEnvironmentVariableW(W(a.str(0).c_str()), value) ? 1 : 0);
    return 0;
}

int bi_ENVUPDATE(Engine& e, Args&, Variant& r) {
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(L"Environment"),
                             SMTO_ABORTIFHUNG, 15000, &answer)) {
        e.setError(1);
        r.setInt32(0);
    }
    return 0;
}

}  // namespace tx
