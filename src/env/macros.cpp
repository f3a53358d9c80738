// Macro evaluation: the fixed table of "@" names and the event macros published as "@" global variables.
//
// The evaluator hands over the upper-case name without its "@". The 96 table macros are kept in their
// fixed order (enum M); a copy sorted by name, made at compile time, finds a name by binary search, since
// macros are read inside loops. Nothing is cached: every use computes the value afresh (time parts read the
// local time once per evaluation). A name outside the table is looked up as a variable "@NAME" (the event
// macros other subjects publish); if that fails too, the caller raises the unknown-macro error.
#include "env/macros.h"

#include <winsock2.h>
#include <windows.h>
#include <shlobj.h>
#include <cpuid.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>

#include "core/engine.h"
#include "core/errors.h"
#include "core/script_store.h"
#include "env/macro_feeds.h"
#include "env/sysinfo.h"
#include "host/startup.h"
#include "host/version.h"

namespace tx {

MacroFeeds& macroFeeds() {
    static MacroFeeds feeds;
    return feeds;
}

void publishEventMacro(Engine& engine, u16view upperName, const Variant& value) {
    SString name(u"@");
    name.append(upperName);
    engine.declare(name.view(), Scope::Global, 0, value);
}

namespace {

enum class M : uint8_t {
    Error,
    Extended,
    MSec,
    Sec,
    Min,
    Hour,
    MDay,
    Mon,
    Year,
    WDay,
    YDay,
    ProgramFilesDir,
    CommonFilesDir,
    MyDocumentsDir,
    AppDataCommonDir,
    DesktopCommonDir,
    DocumentsCommonDir,
    FavoritesCommonDir,
    ProgramsCommonDir,
    StartMenuCommonDir,
    StartupCommonDir,
    AppDataDir,
    DesktopDir,
    FavoritesDir,
    ProgramsDir,
    StartMenuDir,
    StartupDir,
    ComputerName,
    WindowsDir,
    SystemDir,
    SwHide,
    SwMinimize,
    SwMaximize,
    SwRestore,
    SwShow,
    SwShowDefault,
    SwEnable,
    SwDisable,
    SwShowMaximized,
    SwShowMinimized,
    SwShowMinNoActive,
    SwShowNA,
    SwShowNoActivate,
    SwShowNormal,
    SwLock,
    SwUnlock,
    TrayIconVisible,
    TrayIconFlashing,
    ScriptFullPath,
    ScriptName,
    ScriptDir,
    ScriptLineNumber,
    WorkingDir,
    OsType,
    OsVersion,
    OsBuild,
    OsServicePack,
    OsLang,
    ProcessorArch,
    OsArch,
    CpuArch,
    KbLayout,
    TarvexVersion,
    TarvexExe,
    IpAddress1,
    IpAddress2,
    IpAddress3,
    IpAddress4,
    CR,
    LF,
    CRLF,
    DesktopWidth,
    DesktopHeight,
    DesktopDepth,
    DesktopRefresh,
    Compiled,
    ComSpec,
    Tab,
    UserName,
    TempDir,
    UserProfileDir,
    HomeDrive,
    HomePath,
    HomeShare,
    LogonServer,
    LogonDomain,
    LogonDnsDomain,
    InetGetBytesRead,
    InetGetActive,
    NumParams,
    HotKeyPressed,
    TarvexPid,
    TarvexUnicode,
    TarvexX64,
    Unicode,
    MuiLang,
};

struct MacroName {
    u16view name;
    M id;
};

// The macro names in table order (the order of M).
constexpr MacroName kTableOrder[] = {
    {u"ERROR", M::Error},
    {u"EXTENDED", M::Extended},
    {u"MSEC", M::MSec},
    {u"SEC", M::Sec},
    {u"MIN", M::Min},
    {u"HOUR", M::Hour},
    {u"MDAY", M::MDay},
    {u"MON", M::Mon},
    {u"YEAR", M::Year},
    {u"WDAY", M::WDay},
    {u"YDAY", M::YDay},
    {u"PROGRAMFILESDIR", M::ProgramFilesDir},
    {u"COMMONFILESDIR", M::CommonFilesDir},
    {u"MYDOCUMENTSDIR", M::MyDocumentsDir},
    {u"APPDATACOMMONDIR", M::AppDataCommonDir},
    {u"DESKTOPCOMMONDIR", M::DesktopCommonDir},
    {u"DOCUMENTSCOMMONDIR", M::DocumentsCommonDir},
    {u"FAVORITESCOMMONDIR", M::FavoritesCommonDir},
    {u"PROGRAMSCOMMONDIR", M::ProgramsCommonDir},
    {u"STARTMENUCOMMONDIR", M::StartMenuCommonDir},
    {u"STARTUPCOMMONDIR", M::StartupCommonDir},
    {u"APPDATADIR", M::AppDataDir},
    {u"DESKTOPDIR", M::DesktopDir},
    {u"FAVORITESDIR", M::FavoritesDir},
    {u"PROGRAMSDIR", M::ProgramsDir},
    {u"STARTMENUDIR", M::StartMenuDir},
    {u"STARTUPDIR", M::StartupDir},
    {u"COMPUTERNAME", M::ComputerName},
    {u"WINDOWSDIR", M::WindowsDir},
    {u"SYSTEMDIR", M::SystemDir},
    {u"SW_HIDE", M::SwHide},
    {u"SW_MINIMIZE", M::SwMinimize},
    {u"SW_MAXIMIZE", M::SwMaximize},
    {u"SW_RESTORE", M::SwRestore},
    {u"SW_SHOW", M::SwShow},
    {u"SW_SHOWDEFAULT", M::SwShowDefault},
    {u"SW_ENABLE", M::SwEnable},
    {u"SW_DISABLE", M::SwDisable},
    {u"SW_SHOWMAXIMIZED", M::SwShowMaximized},
    {u"SW_SHOWMINIMIZED", M::SwShowMinimized},
    {u"SW_SHOWMINNOACTIVE", M::SwShowMinNoActive},
    {u"SW_SHOWNA", M::SwShowNA},
    {u"SW_SHOWNOACTIVATE", M::SwShowNoActivate},
    {u"SW_SHOWNORMAL", M::SwShowNormal},
    {u"SW_LOCK", M::SwLock},
    {u"SW_UNLOCK", M::SwUnlock},
    {u"TRAYICONVISIBLE", M::TrayIconVisible},
    {u"TRAYICONFLASHING", M::TrayIconFlashing},
    {u"SCRIPTFULLPATH", M::ScriptFullPath},
    {u"SCRIPTNAME", M::ScriptName},
    {u"SCRIPTDIR", M::ScriptDir},
    {u"SCRIPTLINENUMBER", M::ScriptLineNumber},
    {u"WORKINGDIR", M::WorkingDir},
    {u"OSTYPE", M::OsType},
    {u"OSVERSION", M::OsVersion},
    {u"OSBUILD", M::OsBuild},
    {u"OSSERVICEPACK", M::OsServicePack},
    {u"OSLANG", M::OsLang},
    {u"PROCESSORARCH", M::ProcessorArch},
    {u"OSARCH", M::OsArch},
    {u"CPUARCH", M::CpuArch},
    {u"KBLAYOUT", M::KbLayout},
    {u"TARVEXVERSION", M::TarvexVersion},
    {u"TARVEXEXE", M::TarvexExe},
    {u"IPADDRESS1", M::IpAddress1},
    {u"IPADDRESS2", M::IpAddress2},
    {u"IPADDRESS3", M::IpAddress3},
    {u"IPADDRESS4", M::IpAddress4},
    {u"CR", M::CR},
    {u"LF", M::LF},
    {u"CRLF", M::CRLF},
    {u"DESKTOPWIDTH", M::DesktopWidth},
    {u"DESKTOPHEIGHT", M::DesktopHeight},
    {u"DESKTOPDEPTH", M::DesktopDepth},
    {u"DESKTOPREFRESH", M::DesktopRefresh},
    {u"COMPILED", M::Compiled},
    {u"COMSPEC", M::ComSpec},
    {u"TAB", M::Tab},
    {u"USERNAME", M::UserName},
    {u"TEMPDIR", M::TempDir},
    {u"USERPROFILEDIR", M::UserProfileDir},
    {u"HOMEDRIVE", M::HomeDrive},
    {u"HOMEPATH", M::HomePath},
    {u"HOMESHARE", M::HomeShare},
    {u"LOGONSERVER", M::LogonServer},
    {u"LOGONDOMAIN", M::LogonDomain},
    {u"LOGONDNSDOMAIN", M::LogonDnsDomain},
    {u"INETGETBYTESREAD", M::InetGetBytesRead},
    {u"INETGETACTIVE", M::InetGetActive},
    {u"NUMPARAMS", M::NumParams},
    {u"HOTKEYPRESSED", M::HotKeyPressed},
    {u"TARVEXPID", M::TarvexPid},
    {u"TARVEXUNICODE", M::TarvexUnicode},
    {u"TARVEXX64", M::TarvexX64},
    {u"UNICODE", M::Unicode},
    {u"MUILANG", M::MuiLang},
};

constexpr size_t kMacroCount = std::size(kTableOrder);
static_assert(kMacroCount == 96);
// The table rows must stay in the order of M: a row's position is its id.
static_assert([] {
    for (size_t i = 0; i < kMacroCount; ++i)
        if (static_cast<size_t>(kTableOrder[i].id) != i) return false;
    return true;
}());

constexpr std::array<MacroName, kMacroCount> kSorted = [] {
    std::array<MacroName, kMacroCount> a{};
    for (size_t i = 0; i < kMacroCount; ++i) a[i] = kTableOrder[i];
    std::sort(a.begin(), a.end(), [](const MacroName& x, const MacroName& y) { return x.name < y.name; });
    return a;
}();

const MacroName* findMacro(u16view name) {
    auto found = std::lower_bound(kSorted.begin(), kSorted.end(), name,
                                  [](const MacroName& m, u16view n) { return m.name < n; });
    return (found != kSorted.end() && found->name == name) ? &*found : nullptr;
}

// ---- helpers ------------------------------------------------------------------------------------------

const char16_t* u16(const wchar_t* s) { return reinterpret_cast<const char16_t*>(s); }

void setWide(Variant& out, const wchar_t* s) { out.setString(SString(u16(s))); }

// A constant text made once and shared by every use, so @CRLF in a loop allocates nothing.
#define TX_CONST_TEXT(text) ([]() -> const SString& { static const SString s(text); return s; }())

// Writes value in decimal with at least width digits (leading zeros).
void setDigits(Variant& out, unsigned value, int width) {
    char16_t buf[12];
    int n = 0;
    do {
        buf[n++] = char16_t(u'0' + value % 10);
        value /= 10;
    } while (value);
    while (n < width) buf[n++] = u'0';
    std::reverse(buf, buf + n);
    out.setString(SString(buf, size_t(n)));
}

int dayOfYear(const SYSTEMTIME& t) {
    static const int before[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    const int y = t.wYear;
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    const int m = (t.wMonth >= 1 && t.wMonth <= 12) ? t.wMonth : 1;
    return before[m - 1] + t.wDay + (leap && m > 2 ? 1 : 0);
}

void setShellFolder(Variant& out, int csidl) {
    wchar_t buf[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, 0, buf))) buf[0] = 0;
    setWide(out, buf);
}

// An environment variable, whatever its length; "" when it is not set.
void setEnv(Variant& out, const wchar_t* name) {
    wchar_t small[MAX_PATH];
    DWORD n = GetEnvironmentVariableW(name, small, MAX_PATH);
    if (n == 0) {
        out.setString(SString());
        return;
    }
    if (n < MAX_PATH) {
        out.setString(SString(u16(small), n));
        return;
    }
    SString s = SString::withLength(n);  // n counts the terminating 0
    DWORD got = GetEnvironmentVariableW(name, reinterpret_cast<wchar_t*>(s.mutableData()), n);
    s.resize(got < n ? got : 0);
    out.setString(std::move(s));
}

struct RegKey {
    HKEY h = nullptr;
    RegKey(HKEY root, const wchar_t* path) {
        if (RegOpenKeyExW(root, path, 0, KEY_QUERY_VALUE, &h) != ERROR_SUCCESS) h = nullptr;
    }
    ~RegKey() {
        if (h) RegCloseKey(h);
    }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
};

void setRegString(Variant& out, HKEY root, const wchar_t* path, const wchar_t* value) {
    out.setString(SString());
    RegKey key(root, path);
    if (!key.h) return;
    wchar_t buf[MAX_PATH + 1] = {};
    DWORD type = 0, size = MAX_PATH * sizeof(wchar_t);
    if (RegQueryValueExW(key.h, value, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size) != ERROR_SUCCESS) return;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return;
    buf[size / sizeof(wchar_t)] = 0;
    setWide(out, buf);
}

// The low 16 bits of a registry value read as a little-endian number, as four upper-case hex digits.
void setRegHex16(Variant& out, HKEY root, const wchar_t* path, const wchar_t* value) {
    out.setString(SString());
    RegKey key(root, path);
    if (!key.h) return;
    BYTE buf[16] = {};
    DWORD type = 0, size = sizeof buf;
    if (RegQueryValueExW(key.h, value, nullptr, &type, buf, &size) != ERROR_SUCCESS || size == 0) return;
    unsigned v = buf[0] | (size > 1 ? buf[1] << 8 : 0);
    static const char16_t hex[] = u"0123456789ABCDEF";
    char16_t text[4] = {hex[(v >> 12) & 15], hex[(v >> 8) & 15], hex[(v >> 4) & 15], hex[v & 15]};
    out.setString(SString(text, 4));
}

struct ScriptLocation {
    SString full, name, dir;
};

// Name and directory of the running script, remade only when the full path changes.
const ScriptLocation& scriptLocation() {
    static ScriptLocation loc;
    const SString& full = runState().scriptFullPath;
    if (!loc.full.sharesBufferWith(full) || loc.full.empty()) {
        loc.full = full;
        u16view v = full.view();
        size_t slash = v.rfind(u'\\');
        if (slash == u16view::npos) {
            loc.name = full;
            loc.dir = SString();
        } else {
            loc.name = SString(v.substr(slash + 1));
            loc.dir = SString(v.substr(0, slash));
            if (loc.dir.size() == 2 && loc.dir[1] == u':') loc.dir.append(u'\\');
        }
    }
    return loc;
}

struct WinsockSession {
    bool ok = false;
    WinsockSession() {
        WSADATA d;
        ok = WSAStartup(MAKEWORD(1, 1), &d) == 0;
    }
    ~WinsockSession() {
        if (ok) WSACleanup();
    }
    WinsockSession(const WinsockSession&) = delete;
    WinsockSession& operator=(const WinsockSession&) = delete;
};

// The n-th (1-based) IPv4 address of this host: "0.0.0.0" when it has fewer, "" when the name cannot be
// resolved or sockets are unavailable.
void setIpAddress(Variant& out, int n) {
    out.setString(SString());
    WinsockSession ws;
    if (!ws.ok) return;
    char host[256] = {};
    if (gethostname(host, sizeof host) != 0) return;
    hostent* he = gethostbyname(host);
    if (!he || he->h_addrtype != AF_INET || !he->h_addr_list) return;
    int count = 0;
    while (he->h_addr_list[count]) ++count;
    if (count < n) {
        out.setString(SString::fromLatin1("0.0.0.0"));
        return;
    }
    in_addr a;
    std::memcpy(&a, he->h_addr_list[n - 1], sizeof a);
    const char* text = inet_ntoa(a);
    out.setString(SString::fromLatin1(text ? text : ""));
}

struct ScreenDC {
    HDC dc = GetDC(nullptr);
    ~ScreenDC() {
        if (dc) ReleaseDC(nullptr, dc);
    }
    ScreenDC() = default;
    ScreenDC(const ScreenDC&) = delete;
    ScreenDC& operator=(const ScreenDC&) = delete;
};

int deviceCap(int index) {
    ScreenDC s;
    return s.dc ? GetDeviceCaps(s.dc, index) : 0;
}

bool cpuHasLongMode() {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(0x80000000u, &a, &b, &c, &d) || a < 0x80000001u) return false;
    if (!__get_cpuid(0x80000001u, &a, &b, &c, &d)) return false;
    return (d >> 29) & 1;
}

void setSystemDir(Variant& out) {
    wchar_t buf[MAX_PATH] = {};
    UINT n = 0;
    if (systemInfo().wow64) {
        using Wow64DirFn = UINT(WINAPI*)(LPWSTR, UINT);
        HMODULE k = GetModuleHandleW(L"kernel32.dll");
        auto fn = k ? reinterpret_cast<Wow64DirFn>(reinterpret_cast<void*>(GetProcAddress(k, "GetSystemWow64DirectoryW")))
                    : nullptr;
        if (fn) n = fn(buf, MAX_PATH);
    } else {
        n = GetSystemDirectoryW(buf, MAX_PATH);
    }
    if (n == 0 || n >= MAX_PATH) buf[0] = 0;
    setWide(out, buf);
}

void setWorkingDir(Variant& out) {
    DWORD n = GetCurrentDirectoryW(0, nullptr);
    if (n == 0) {
        out.setString(SString());
        return;
    }
    SString s = SString::withLength(n);
    DWORD got = GetCurrentDirectoryW(n, reinterpret_cast<wchar_t*>(s.mutableData()));
    s.resize(got < n ? got : 0);
    out.setString(std::move(s));
}

void setTempDir(Variant& out) {
    wchar_t buf[MAX_PATH + 1] = {};
    DWORD n = GetTempPathW(MAX_PATH + 1, buf);
    if (n == 0 || n > MAX_PATH) n = 0;
    if (n > 0 && buf[n - 1] == L'\\') --n;
    out.setString(SString(u16(buf), n));
}

// Looks up "@" + name as a variable of the running function, then as a global: the event macros
// (@EXITCODE, @GUI_CTRLID, ...) are variables that their owners create.
bool readEventMacro(Engine& engine, u16view name, Variant& out) {
    char16_t buf[64];
    if (name.size() + 1 > std::size(buf)) return false;  // no variable name is this long
    buf[0] = u'@';
    std::copy(name.begin(), name.end(), buf + 1);
    VarEntry* v = engine.lookup(u16view(buf, name.size() + 1), Scope::Any);
    if (!v) return false;
    out = *v->ptr;
    return true;
}

}  // namespace

bool evalMacro(Engine& engine, u16view upperName, Variant& out) {
    const MacroName* m = findMacro(upperName);
    if (!m) return readEventMacro(engine, upperName, out);

    switch (m->id) {
        case M::Error: out.setInt32(engine.error()); return true;
        case M::Extended: out = engine.extended(); return true;

        case M::MSec: case M::Sec: case M::Min: case M::Hour: case M::MDay: case M::Mon: case M::Year:
        case M::WDay: case M::YDay: {
            SYSTEMTIME t;
            GetLocalTime(&t);
            switch (m->id) {
                case M::MSec: setDigits(out, t.wMilliseconds, 3); break;
                case M::Sec: setDigits(out, t.wSecond, 2); break;
                case M::Min: setDigits(out, t.wMinute, 2); break;
                case M::Hour: setDigits(out, t.wHour, 2); break;
                case M::MDay: setDigits(out, t.wDay, 2); break;
                case M::Mon: setDigits(out, t.wMonth, 2); break;
                case M::Year: setDigits(out, t.wYear, 4); break;
                case M::WDay: setDigits(out, t.wDayOfWeek + 1u, 1); break;
                default: setDigits(out, unsigned(dayOfYear(t)), 3); break;
            }
            return true;
        }

        case M::ProgramFilesDir: setShellFolder(out, CSIDL_PROGRAM_FILES); return true;
        case M::CommonFilesDir: setShellFolder(out, CSIDL_PROGRAM_FILES_COMMON); return true;
        case M::MyDocumentsDir: setShellFolder(out, CSIDL_PERSONAL); return true;
        case M::AppDataCommonDir: setShellFolder(out, CSIDL_COMMON_APPDATA); return true;
        case M::DesktopCommonDir: setShellFolder(out, CSIDL_COMMON_DESKTOPDIRECTORY); return true;
        case M::DocumentsCommonDir: setShellFolder(out, CSIDL_COMMON_DOCUMENTS); return true;
        case M::FavoritesCommonDir: setShellFolder(out, CSIDL_COMMON_FAVORITES); return true;
        case M::ProgramsCommonDir: setShellFolder(out, CSIDL_COMMON_PROGRAMS); return true;
        case M::StartMenuCommonDir: setShellFolder(out, CSIDL_COMMON_STARTMENU); return true;
        case M::StartupCommonDir: setShellFolder(out, CSIDL_COMMON_STARTUP); return true;
        case M::AppDataDir: setShellFolder(out, CSIDL_APPDATA); return true;
        case M::DesktopDir: setShellFolder(out, CSIDL_DESKTOPDIRECTORY); return true;
        case M::FavoritesDir: setShellFolder(out, CSIDL_FAVORITES); return true;
        case M::ProgramsDir: setShellFolder(out, CSIDL_PROGRAMS); return true;
        case M::StartMenuDir: setShellFolder(out, CSIDL_STARTMENU); return true;
        case M::StartupDir: setShellFolder(out, CSIDL_STARTUP); return true;

        case M::ComputerName: {
            wchar_t buf[MAX_PATH] = {};
            DWORD n = MAX_PATH;
            if (!GetComputerNameW(buf, &n)) buf[0] = 0;
            setWide(out, buf);
            return true;
        }
        case M::WindowsDir: {
            // A failing call leaves the value as the evaluator handed it over.
            wchar_t buf[MAX_PATH] = {};
            UINT n = GetWindowsDirectoryW(buf, MAX_PATH);
            if (n > 0 && n < MAX_PATH) setWide(out, buf);
            return true;
        }
        case M::SystemDir: setSystemDir(out); return true;

        case M::SwHide: out.setInt32(0); return true;
        case M::SwMinimize: out.setInt32(6); return true;
        case M::SwMaximize: out.setInt32(3); return true;
        case M::SwRestore: out.setInt32(9); return true;
        case M::SwShow: out.setInt32(5); return true;
        case M::SwShowDefault: out.setInt32(10); return true;
        case M::SwEnable: out.setInt32(64); return true;
        case M::SwDisable: out.setInt32(65); return true;
        case M::SwShowMaximized: out.setInt32(3); return true;
        case M::SwShowMinimized: out.setInt32(2); return true;
        case M::SwShowMinNoActive: out.setInt32(7); return true;
        case M::SwShowNA: out.setInt32(8); return true;
        case M::SwShowNoActivate: out.setInt32(4); return true;
        case M::SwShowNormal: out.setInt32(1); return true;
        case M::SwLock: out.setInt32(66); return true;
        case M::SwUnlock: out.setInt32(67); return true;

        case M::TrayIconVisible: {
            auto fn = macroFeeds().trayIconVisible;
            out.setInt32(fn && fn() ? 1 : 0);
            return true;
        }
        case M::TrayIconFlashing: {
            auto fn = macroFeeds().trayIconFlashing;
            out.setInt32(fn && fn() ? 1 : 0);
            return true;
        }

        case M::ScriptFullPath: out.setString(runState().scriptFullPath); return true;
        case M::ScriptName: out.setString(scriptLocation().name); return true;
        case M::ScriptDir: out.setString(scriptLocation().dir); return true;
        case M::ScriptLineNumber: {
            int n = scriptStore().lineNumber(runState().currentLine);
            out.setInt32(n > 0 ? n : -1);
            return true;
        }
        case M::WorkingDir: setWorkingDir(out); return true;

        case M::OsType: out.setString(TX_CONST_TEXT(u"WIN32_NT")); return true;
        case M::OsVersion: out.setString(u16view(systemInfo().versionName())); return true;
        case M::OsBuild: out.setInt32(int32_t(systemInfo().build)); return true;
        case M::OsServicePack: out.setString(systemInfo().servicePack); return true;
        case M::OsLang:
            setRegString(out, HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Nls\\Language",
                         L"InstallLanguage");
            return true;
        case M::ProcessorArch:
        case M::OsArch: out.setString(u16view(systemInfo().archName())); return true;
        case M::CpuArch: out.setString(u16view(cpuHasLongMode() ? u"X64" : u"X86")); return true;
        case M::KbLayout: {
            wchar_t buf[KL_NAMELENGTH + 1] = {};
            if (!GetKeyboardLayoutNameW(buf)) buf[0] = 0;
            setWide(out, buf);
            return true;
        }
        case M::TarvexVersion: out.setString(TX_CONST_TEXT(u"" TX_VERSION_TEXT)); return true;
        case M::TarvexExe: {
            if (!runState().exePath.empty()) {
                out.setString(runState().exePath);
            } else {
                wchar_t buf[MAX_PATH] = {};
                GetModuleFileNameW(nullptr, buf, MAX_PATH);
                setWide(out, buf);
            }
            return true;
        }
        case M::IpAddress1: setIpAddress(out, 1); return true;
        case M::IpAddress2: setIpAddress(out, 2); return true;
        case M::IpAddress3: setIpAddress(out, 3); return true;
        case M::IpAddress4: setIpAddress(out, 4); return true;

        case M::CR: out.setString(TX_CONST_TEXT(u"\r")); return true;
        case M::LF: out.setString(TX_CONST_TEXT(u"\n")); return true;
        case M::CRLF: out.setString(TX_CONST_TEXT(u"\r\n")); return true;
        case M::Tab: out.setString(TX_CONST_TEXT(u"\t")); return true;

        case M::DesktopWidth:
        case M::DesktopHeight: {
            RECT r{};
            GetWindowRect(GetDesktopWindow(), &r);
            out.setInt32(m->id == M::DesktopWidth ? r.right : r.bottom);
            return true;
        }
        case M::DesktopDepth: out.setInt32(deviceCap(BITSPIXEL)); return true;
        case M::DesktopRefresh: out.setInt32(deviceCap(VREFRESH)); return true;

        case M::Compiled: {
            SourceMode mode = storedSourceMode();
            out.setInt32(mode == SourceMode::ScriptFile || mode == SourceMode::Compiled ? 1 : 0);
            return true;
        }
        case M::ComSpec: setEnv(out, L"COMSPEC"); return true;
        case M::UserName: {
            wchar_t buf[MAX_PATH] = {};
            DWORD n = MAX_PATH;
            if (!GetUserNameW(buf, &n)) buf[0] = 0;
            setWide(out, buf);
            return true;
        }
        case M::TempDir: setTempDir(out); return true;
        case M::UserProfileDir: setEnv(out, L"USERPROFILE"); return true;
        case M::HomeDrive: setEnv(out, L"HOMEDRIVE"); return true;
        case M::HomePath: setEnv(out, L"HOMEPATH"); return true;
        case M::HomeShare: setEnv(out, L"HOMESHARE"); return true;
        case M::LogonServer: setEnv(out, L"LOGONSERVER"); return true;
        case M::LogonDomain: setEnv(out, L"USERDOMAIN"); return true;
        case M::LogonDnsDomain: setEnv(out, L"USERDNSDOMAIN"); return true;

        // Nothing is tracked for these: they give a fresh value's Int32 0.
        case M::InetGetBytesRead:
        case M::InetGetActive: out.clear(); return true;

        case M::NumParams: out.setInt32(engine.numParams()); return true;
        case M::HotKeyPressed: {
            auto fn = macroFeeds().hotKeyPressed;
            out.setString(fn ? fn() : SString());
            return true;
        }
        case M::TarvexPid: out.setDouble(double(uint32_t(GetCurrentProcessId()))); return true;
        case M::TarvexUnicode: out.setInt32(1); return true;
        // Scripts choose pointer-sized DLL types with this, so it tells the truth about this build.
        case M::TarvexX64: out.setInt32(sizeof(void*) == 8 ? 1 : 0); return true;
        case M::Unicode: out.setInt32(1); return true;
        case M::MuiLang:
            setRegHex16(out, HKEY_CURRENT_USER, L"Control Panel\\Appearance", L"SchemeLangID");
            return true;
    }
    return false;
}

}  // namespace tx
