// Fills the system-information record from the version information and the processor information.
#include "env/sysinfo.h"

#include <windows.h>

namespace tx {

namespace {

template <typename Fn>
Fn kernelProc(const char* name) {
    HMODULE k = GetModuleHandleW(L"kernel32.dll");
    return k ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(k, name))) : nullptr;
}

SString trimmedBlanks(const wchar_t* s) {
    u16view v(reinterpret_cast<const char16_t*>(s));
    while (!v.empty() && (v.front() == u' ' || v.front() == u'\t')) v.remove_prefix(1);
    while (!v.empty() && (v.back() == u' ' || v.back() == u'\t')) v.remove_suffix(1);
    return SString(v);
}

void fill(SystemInfo& si) {
    OSVERSIONINFOEXW vi{};
    vi.dwOSVersionInfoSize = sizeof vi;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&vi))) {
#pragma GCC diagnostic pop
        si.major = vi.dwMajorVersion;
        si.minor = vi.dwMinorVersion;
        si.build = vi.dwBuildNumber;
        si.servicePack = trimmedBlanks(vi.szCSDVersion);
    }
    const bool workstation = vi.wProductType == VER_NT_WORKSTATION;
    const bool embedded = (vi.wSuiteMask & VER_SUITE_EMBEDDEDNT) != 0;
    if (si.major == 5 && si.minor == 0) si.is2000 = true;
    else if (si.major == 5 && si.minor == 1) (embedded ? si.isXPe : si.isXP) = true;
    else if (si.major == 5 && si.minor == 2) {
        if (workstation) (embedded ? si.isXPe : si.isXP) = true;
        else si.is2003 = true;
    } else if (si.major == 6 && si.minor == 0) (workstation ? si.isVista : si.is2008) = true;
    else if (si.major == 6 && si.minor == 1) (workstation ? si.is7 : si.is2008R2) = true;

    const uint32_t level = si.major * 100 + si.minor;
    si.atLeast2000 = level >= 500;
    si.atLeastXP = level >= 501;
    si.atLeast2003 = level >= 502;
    si.atLeastVista = level >= 600;
    si.atLeast7 = level >= 601;

    using IsWow64Fn = BOOL(WINAPI*)(HANDLE, PBOOL);
    if (auto isWow64 = kernelProc<IsWow64Fn>("IsWow64Process")) {
        BOOL w = FALSE;
        if (isWow64(GetCurrentProcess(), &w)) si.wow64 = w != FALSE;
    }
    SYSTEM_INFO sys{};
    using NativeFn = void(WINAPI*)(LPSYSTEM_INFO);
    auto native = si.wow64 ? kernelProc<NativeFn>("GetNativeSystemInfo") : nullptr;
    if (native) native(&sys);
    else GetSystemInfo(&sys);
    si.processorArch = sys.wProcessorArchitecture;
}

}  // namespace

const char16_t* SystemInfo::versionName() const {
    // Tested from the newest down, as the flags were always read.
    if (is2008R2) return u"WIN_2008R2";
    if (is7) return u"WIN_7";
    if (is2008) return u"WIN_2008";
    if (isVista) return u"WIN_VISTA";
    if (is2003) return u"WIN_2003";
    if (isXPe) return u"WIN_XPe";
    if (isXP) return u"WIN_XP";
    if (is2000) return u"WIN_2000";
    return u"UNKNOWN";
}

const char16_t* SystemInfo::archName() const {
    switch (processorArch) {
        case 0: return u"X86";
        case 6: return u"IA64";
        case 9: return u"X64";
        default: return u"UNKNOWN";
    }
}

const SystemInfo& systemInfo() {
    static const SystemInfo si = [] {
        SystemInfo s;
        fill(s);
        return s;
    }();
    return si;
}

}  // namespace tx
