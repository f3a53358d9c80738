// SHUTDOWN, ISADMIN, MEMGETSTATS and PROCESSGETSTATS: the built-ins that act on or report about the
// system as a whole.
//
// SHUTDOWN enables the shutdown privilege in the runtime's own token, then picks the system call by its
// flags: stand-by and hibernation go through the power-state call, shutting down, rebooting and powering
// down through the local shutdown call, everything else (logging off) through the exit-windows call.
// ISADMIN is the start-up elevation test: the service database can be locked only with administrator
// rights. The statistics built-ins return fresh arrays: 7 Doubles in KiB for the system, 2 or 6 Int64 for
// a process.
#include "lib/system_stats.h"

#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <cstdint>

#include "core/engine.h"
#include "lib/process_streams.h"

namespace tx {

namespace {

// Owner of a service control manager handle.
class ScHandle {
public:
    explicit ScHandle(SC_HANDLE h) : h_(h) {}
    ScHandle(const ScHandle&) = delete;
    ScHandle& operator=(const ScHandle&) = delete;
    ~ScHandle() {
        if (h_) CloseServiceHandle(h_);
    }
    SC_HANDLE get() const { return h_; }

private:
    SC_HANDLE h_;
};

// A failed SHUTDOWN: result 0, @error the system's last error.
int failWithLastError(Engine& e, Variant& r) {
    e.setError(static_cast<int32_t>(GetLastError()));
    r.setInt32(0);
    return 0;
}

// Enables SeShutdownPrivilege in the runtime's own token; false (last error set) when it cannot.
bool enableShutdownPrivilege() {
    WinHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put())) return false;
    TOKEN_PRIVILEGES tp{};
    tp.PrivilegeCount = 1;
    tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &tp.Privileges[0].Luid)) return false;
    // The adjustment can "succeed" without granting (ERROR_NOT_ALL_ASSIGNED): only the last error tells.
    SetLastError(ERROR_SUCCESS);
    AdjustTokenPrivileges(token.get(), FALSE, &tp, 0, nullptr, nullptr);
    return GetLastError() == ERROR_SUCCESS;
}

// Fills an array with Int64 values.
template <size_t N>
Variant int64Array(const uint64_t (&values)[N]) {
    const uint32_t size = N;
    ArrayData* arr = ArrayData::create(&size, 1);
    for (uint32_t i = 0; i < size; ++i) arr->at(i) = Variant::int64(static_cast<int64_t>(values[i]));
    return Variant::array(arr);
}

// Whether a snapshot entry's executable (some systems report a path) has this file name, any case.
bool exeNamed(const PROCESSENTRY32W& pe, const SString& name) {
    const wchar_t* exe = pe.szExeFile;
    for (const wchar_t* c = pe.szExeFile; *c; ++c)
        if (*c == L'\\' || *c == L'/') exe = c + 1;
    return CompareStringOrdinal(exe, -1, reinterpret_cast<const wchar_t*>(name.view().data()),
                                static_cast<int>(name.view().size()), TRUE) == CSTR_EQUAL;
}

// The process a PROCESSGETSTATS argument designates: its id, or 0 when none can be found. An absent or
// empty argument, and the number -1, stand for the runtime's own process; otherwise a number or a string
// of decimal digits is a process id and any other string an executable file name.
uint32_t statsProcess(const Args& a) {
    if (!a.given(0)) return GetCurrentProcessId();
    const Variant& v = a[0];
    uint64_t pid = 0;
    bool byId = false;
    SString name;
    if (v.isNumber()) {
        const int64_t n = v.toInt64();
        if (n == -1) return GetCurrentProcessId();
        if (n <= 0 || n > static_cast<int64_t>(UINT32_MAX)) return 0;
        pid = static_cast<uint64_t>(n);
        byId = true;
    } else {
        name = v.toString();
        u16view s = name.view();
        if (s.empty()) return GetCurrentProcessId();
        byId = s.size() <= 10;
        for (char16_t c : s) byId = byId && isAsciiDigit(c);
        if (byId) {
            for (char16_t c : s) pid = pid * 10 + static_cast<uint64_t>(c - u'0');
            if (pid == 0 || pid > UINT32_MAX) return 0;
        }
    }
    WinHandle snap(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snap.valid()) return 0;
    PROCESSENTRY32W pe{};
    pe.dwSize = sizeof pe;
    for (BOOL ok = Process32FirstW(snap.get(), &pe); ok; ok = Process32NextW(snap.get(), &pe)) {
        if (pe.th32ProcessID == 0) continue;  // the idle entry is no process
        if (byId ? pe.th32ProcessID == pid : exeNamed(pe, name)) return pe.th32ProcessID;
    }
    return 0;
}

}  // namespace

int bi_SHUTDOWN(Engine& e, Args& a, Variant& r) {
    const uint32_t flags = static_cast<uint32_t>(a.int32(0));
    const DWORD reason = a.given(1) ? static_cast<DWORD>(a.int32(1)) | 0x40000000u : 0x80000000u;
    if (!enableShutdownPrivilege()) return failWithLastError(e, r);
    BOOL ok;
    if (flags == 32 || flags == 64) {
        ok = SetSystemPowerState(flags == 32, FALSE);
    } else if (flags & (1 | 2 | 8)) {
        const BOOL force = (flags & (4 | 16)) != 0;
        const BOOL reboot = (flags & 2) != 0;
        ok = InitiateSystemShutdownExW(nullptr, nullptr, 0, force, reboot, reason);
    } else {
        ok = ExitWindowsEx(flags, reason);
    }
    return ok ? 0 : failWithLastError(e, r);
}

int bi_ISADMIN(Engine&, Args&, Variant& r) {
    ScHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_LOCK));
    bool elevated = false;
    if (scm.get()) {
        if (SC_LOCK lock = LockServiceDatabase(scm.get())) {
            UnlockServiceDatabase(lock);
            elevated = true;
        } else {
            elevated = GetLastError() == ERROR_SERVICE_DATABASE_LOCKED;
        }
    }
    r.setInt32(elevated ? 1 : 0);
    return 0;
}

int bi_MEMGETSTATS(Engine& e, Args&, Variant& r) {
    SwitchToThread();
    MEMORYSTATUSEX ms{};
    ms.dwLength = sizeof ms;
    if (!GlobalMemoryStatusEx(&ms)) return failWithLastError(e, r);
    const double values[7] = {static_cast<double>(ms.dwMemoryLoad),
                              static_cast<double>(ms.ullTotalPhys / 1024),
                              static_cast<double>(ms.ullAvailPhys / 1024),
                              static_cast<double>(ms.ullTotalPageFile / 1024),
                              static_cast<double>(ms.ullAvailPageFile / 1024),
                              static_cast<double>(ms.ullTotalVirtual / 1024),
                              static_cast<double>(ms.ullAvailVirtual / 1024)};
    const uint32_t size = 7;
    ArrayData* arr = ArrayData::create(&size, 1);
    for (uint32_t i = 0; i < size; ++i) arr->at(i) = Variant::dbl(values[i]);
    r = Variant::array(arr);
    return 0;
}

int bi_PROCESSGETSTATS(Engine&, Args& a, Variant& r) {
    r.setInt32(0);
    const int32_t type = a.int32Or(1, 0);
    if (type != 0 && type != 1) return 0;
    const uint32_t pid = statsProcess(a);
    if (!pid) return 0;
    WinHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
    if (!process.valid()) return 0;
    if (type == 0) {
        PROCESS_MEMORY_COUNTERS pmc{};
        pmc.cb = sizeof pmc;
        if (GetProcessMemoryInfo(process.get(), &pmc, sizeof pmc))
            r = int64Array({static_cast<uint64_t>(pmc.WorkingSetSize), static_cast<uint64_t>(pmc.PeakWorkingSetSize)});
    } else {
        IO_COUNTERS io{};
        if (GetProcessIoCounters(process.get(), &io))
            r = int64Array({io.ReadOperationCount, io.WriteOperationCount, io.OtherOperationCount,
                            io.ReadTransferCount, io.WriteTransferCount, io.OtherTransferCount});
    }
    return 0;
}

}  // namespace tx
