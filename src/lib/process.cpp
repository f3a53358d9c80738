// Starting programs and working with processes: RUN, RUNWAIT, RUNAS, RUNASWAIT, SHELLEXECUTE,
// SHELLEXECUTEWAIT and the PROCESS... built-ins.
//
// A start fills a start-up record (show flag, redirected streams from process_streams.cpp) and creates
// the process from the command line. The waiting variants keep the process handle and let the run loop
// wait on it, so messages, hot keys, timers and events are served until the process ends; the exit code
// becomes the result.
//
// A process is designated by its executable's file name with extension (any case) or by its id: a number,
// or a string of decimal digits. Lookups walk a process snapshot and take the first match; id 0 (the
// system's idle entry) never matches. The process waits poll that lookup through the run loop.
#include "lib/process.h"

#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <string>
#include <utility>
#include <vector>

#include "core/engine.h"
#include "env/options.h"
#include "host/runloop.h"
#include "lib/process_streams.h"

namespace tx {

namespace {

wchar_t* W(char16_t* s) { return reinterpret_cast<wchar_t*>(s); }
const wchar_t* W(const char16_t* s) { return reinterpret_cast<const wchar_t*>(s); }
const char16_t* U(const wchar_t* s) { return reinterpret_cast<const char16_t*>(s); }

// A failed built-in: @error code, @extended the system's error, result 0.
int fail(Engine& e, Variant& r, int32_t code, DWORD systemError) {
    e.setError(code);
    e.setExtended(static_cast<int32_t>(systemError));
    r.setInt32(0);
    return 0;
}

std::u16string systemDirectory() {
    wchar_t buf[MAX_PATH + 1];
    UINT n = GetSystemDirectoryW(buf, MAX_PATH + 1);
    return n && n <= MAX_PATH ? std::u16string(U(buf), n) : std::u16string();
}

// Waits in the run loop until the process ends; its exit code is the result (0 when the script stops
// first).
void waitForExit(const WinHandle& process, Variant& r) {
    Wait w;
    w.state = kStateRunWait;
    w.handle = process.get();
    DWORD code = 0;
    if (runWait(w) == WaitResult::Done && !GetExitCodeProcess(process.get(), &code)) code = 0;
    r.setInt32(static_cast<int32_t>(code));
}

// Overwrites a private copy of a credential before it is freed.
struct SecretText {
    std::u16string text;
    explicit SecretText(u16view v) : text(v) {}
    ~SecretText() { SecureZeroMemory(text.data(), text.size() * sizeof(char16_t)); }
    SecretText(const SecretText&) = delete;
    SecretText& operator=(const SecretText&) = delete;
    const wchar_t* get() const { return W(text.c_str()); }
};

// RUN, RUNWAIT, RUNAS and RUNASWAIT. RUNAS's arguments are those of RUN after user, domain, password and
// logon flag.
int start(Engine& e, Args& a, Variant& r, bool asUser, bool wait) {
    const int p = asUser ? 4 : 0;
    std::u16string commandLine(a.str(p).view());
    std::u16string dir;
    if (a.given(p + 1)) dir = a.str(p + 1).view();
    if (dir.empty() && asUser) dir = systemDirectory();
    const uint32_t flags = a.given(p + 3) ? static_cast<uint32_t>(a.int64(p + 3)) : 0;

    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = static_cast<WORD>(a.int32Or(p + 2, SW_SHOWNORMAL));
    ChildStreams streams;
    if (!streams.prepare(flags)) return fail(e, r, 1, GetLastError());
    streams.fill(si);
    const DWORD creation = (flags & kRunNewConsole) ? CREATE_NEW_CONSOLE : 0;
    const wchar_t* cwd = dir.empty() ? nullptr : W(dir.c_str());

    PROCESS_INFORMATION pi{};
    BOOL ok;
    DWORD error;
    if (asUser) {
        SecretText user(a.str(0).view()), domain(a.str(1).view()), password(a.str(2).view());
        for (int i = 0; i < 3; ++i) a[i] = Variant::emptyString();
        const int32_t logon = a.int32(3);
        if (logon < 0 || logon > 2) return fail(e, r, 1, ERROR_INVALID_PARAMETER);
        const DWORD logonFlags = logon == 1 ? LOGON_WITH_PROFILE : logon == 2 ? LOGON_NETCREDENTIALS_ONLY : 0;
        ok = CreateProcessWithLogonW(user.get(), domain.get(), password.get(), logonFlags, nullptr,
                                     W(commandLine.data()), creation, nullptr, cwd, &si, &pi);
        error = GetLastError();
    } else {
        ok = CreateProcessW(nullptr, W(commandLine.data()), nullptr, nullptr, streams.redirected(), creation,
                            nullptr, cwd, &si, &pi);
        error = GetLastError();
    }
    if (!ok) return fail(e, r, 1, error);
    WinHandle process(pi.hProcess);
    CloseHandle(pi.hThread);
    streams.commit(pi.dwProcessId);
    if (!wait) {
        r.setDouble(pi.dwProcessId);
        return 0;
    }
    waitForExit(process, r);
    return 0;
}

// SHELLEXECUTE and SHELLEXECUTEWAIT.
int shellExecute(Engine& e, Args& a, Variant& r, bool wait) {
    std::u16string file(a.str(0).view()), params, dir, verb;
    if (a.given(1)) params = a.str(1).view();
    if (a.given(2)) dir = a.str(2).view();
    if (a.given(3)) verb = a.str(3).view();
    SHELLEXECUTEINFOW sei{};
    sei.cbSize = sizeof sei;
    // No error dialog of the shell's own: a failure is the script's to handle through @error.
    sei.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    sei.lpFile = W(file.c_str());
    sei.lpParameters = params.empty() ? nullptr : W(params.c_str());
    sei.lpDirectory = a.given(2) ? W(dir.c_str()) : nullptr;
    sei.lpVerb = verb.empty() ? nullptr : W(verb.c_str());
    sei.nShow = a.int32Or(4, SW_SHOWNORMAL);
    if (!ShellExecuteExW(&sei)) return fail(e, r, 1, GetLastError());
    WinHandle process(sei.hProcess);
    if (!wait) return 0;
    // The document may have gone to a program that was already running: nothing to wait for.
    if (!process.valid()) {
        r.setInt32(0);
        return 0;
    }
    waitForExit(process, r);
    return 0;
}

// ---------------------------------------------------------------------------------------------------
// Finding processes

struct Designation {
    std::u16string name;  // executable file name with extension
    uint32_t pid = 0;
    bool byId = false;
};

Designation designationArg(const Args& a, int i) {
    Designation d;
    const Variant& v = a[i];
    if (v.isNumber()) {
        int64_t n = v.toInt64();
        d.byId = true;
        d.pid = n > 0 && n <= static_cast<int64_t>(UINT32_MAX) ? static_cast<uint32_t>(n) : 0;
        return d;
    }
    u16view s = v.toString().view();
    bool digits = !s.empty() && s.size() <= 10;
    for (char16_t c : s) digits = digits && isAsciiDigit(c);
    if (digits) {
        uint64_t n = 0;
        for (char16_t c : s) n = n * 10 + static_cast<uint64_t>(c - u'0');
        d.byId = true;
        d.pid = n <= UINT32_MAX ? static_cast<uint32_t>(n) : 0;
        return d;
    }
    d.name = s;
    return d;
}

// The file name part of a snapshot entry's executable (some systems report a path).
const wchar_t* exeName(const PROCESSENTRY32W& pe) {
    const wchar_t* name = pe.szExeFile;
    for (const wchar_t* c = pe.szExeFile; *c; ++c)
        if (*c == L'\\' || *c == L'/') name = c + 1;
    return name;
}

bool sameName(const wchar_t* exe, const std::u16string& name) {
    return CompareStringOrdinal(exe, -1, W(name.c_str()), static_cast<int>(name.size()), TRUE) == CSTR_EQUAL;
}

// Calls fn(entry) for each entry of a process snapshot until it returns false.
template <class F>
void forEachProcess(F&& fn) {
    WinHandle snap(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snap.valid()) return;
    PROCESSENTRY32W pe{};
    pe.dwSize = sizeof pe;
    for (BOOL ok = Process32FirstW(snap.get(), &pe); ok; ok = Process32NextW(snap.get(), &pe))
        if (!fn(pe)) return;
}

// The id of the first running process that matches, or 0.
uint32_t findProcess(const Designation& d) {
    if (d.byId && d.pid == 0) return 0;
    uint32_t found = 0;
    forEachProcess([&](const PROCESSENTRY32W& pe) {
        if (pe.th32ProcessID == 0) return true;
        if (d.byId ? pe.th32ProcessID == d.pid : sameName(exeName(pe), d.name)) found = pe.th32ProcessID;
        return found == 0;
    });
    return found;
}

// The process-wait timeout argument (seconds) in milliseconds; 0 waits without a limit.
uint32_t timeoutArg(const Args& a, int i) {
    if (!a.given(i)) return 0;
    double ms = a.dbl(i) * 1000.0;
    if (!(ms >= 1.0)) return 0;
    return ms >= 4294967295.0 ? UINT32_MAX : static_cast<uint32_t>(ms);
}

// The configured pause after a finished wait, spent serving the loop.
void delayAfterWait() {
    int32_t ms = options().winWaitDelay;
    if (ms <= 0) return;
    Wait w;
    w.state = kStateSleeping;
    w.timeoutMs = static_cast<uint32_t>(ms);
    runWait(w);
}

// Enables the debug privilege on the thread's (or else the process's) token for as long as it lives,
// then puts the previous state back.
class DebugPrivilege {
public:
    DebugPrivilege() {
        if (!OpenThreadToken(GetCurrentThread(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, FALSE, token_.put()) &&
            !OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token_.put()))
            return;
        TOKEN_PRIVILEGES tp{};
        tp.PrivilegeCount = 1;
        tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        if (!LookupPrivilegeValueW(nullptr, SE_DEBUG_NAME, &tp.Privileges[0].Luid)) return;
        DWORD len = 0;
        if (AdjustTokenPrivileges(token_.get(), FALSE, &tp, sizeof previous_, &previous_, &len) &&
            GetLastError() == ERROR_SUCCESS)
            enabled_ = true;
    }
    ~DebugPrivilege() {
        if (enabled_) AdjustTokenPrivileges(token_.get(), FALSE, &previous_, 0, nullptr, nullptr);
    }
    DebugPrivilege(const DebugPrivilege&) = delete;
    DebugPrivilege& operator=(const DebugPrivilege&) = delete;
    bool enabled() const { return enabled_; }

private:
    WinHandle token_;
    TOKEN_PRIVILEGES previous_{};
    bool enabled_ = false;
};

}  // namespace

// ---------------------------------------------------------------------------------------------------
// Built-ins

int bi_RUN(Engine& e, Args& a, Variant& r) { return start(e, a, r, false, false); }
int bi_RUNWAIT(Engine& e, Args& a, Variant& r) { return start(e, a, r, false, true); }
int bi_RUNAS(Engine& e, Args& a, Variant& r) { return start(e, a, r, true, false); }
int bi_RUNASWAIT(Engine& e, Args& a, Variant& r) { return start(e, a, r, true, true); }
int bi_SHELLEXECUTE(Engine& e, Args& a, Variant& r) { return shellExecute(e, a, r, false); }
int bi_SHELLEXECUTEWAIT(Engine& e, Args& a, Variant& r) { return shellExecute(e, a, r, true); }

int bi_PROCESSEXISTS(Engine&, Args& a, Variant& r) {
    uint32_t pid = findProcess(designationArg(a, 0));
    if (pid) r.setDouble(pid);
    else r.setInt32(0);
    return 0;
}

int bi_PROCESSCLOSE(Engine& e, Args& a, Variant& r) {
    uint32_t pid = findProcess(designationArg(a, 0));
    if (!pid) {
        e.setError(4);
        r.setInt32(0);
        return 0;
    }
    WinHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, pid));
    if (!process.valid()) {
        DWORD error = GetLastError();
        if (error != ERROR_ACCESS_DENIED) return fail(e, r, 1, error);
        DebugPrivilege privilege;
        if (!privilege.enabled()) return fail(e, r, 2, GetLastError());
        process.reset(OpenProcess(PROCESS_TERMINATE, FALSE, pid));
        if (!process.valid()) return fail(e, r, 1, GetLastError());
    }
    if (!TerminateProcess(process.get(), 0)) return fail(e, r, 3, GetLastError());
    return 0;
}

int bi_PROCESSLIST(Engine&, Args& a, Variant& r) {
    const bool filter = a.given(0);
    const std::u16string name = filter ? std::u16string(a.str(0).view()) : std::u16string();
    std::vector<std::pair<std::u16string, uint32_t>> found;
    forEachProcess([&](const PROCESSENTRY32W& pe) {
        const wchar_t* exe = exeName(pe);
        if (!filter || sameName(exe, name)) found.emplace_back(U(exe), pe.th32ProcessID);
        return true;
    });
    const uint32_t sizes[2] = {static_cast<uint32_t>(found.size() + 1), 2};
    ArrayData* list = ArrayData::create(sizes, 2);
    list->at(0) = Variant::int32(static_cast<int32_t>(found.size()));
    for (size_t i = 0; i < found.size(); ++i) {
        list->at(static_cast<uint32_t>(2 * (i + 1))) = Variant::string(u16view(found[i].first));
        list->at(static_cast<uint32_t>(2 * (i + 1) + 1)) = Variant::dbl(found[i].second);
    }
    r = Variant::array(list);
    return 0;
}

int bi_PROCESSSETPRIORITY(Engine& e, Args& a, Variant& r) {
    static const DWORD kClasses[] = {IDLE_PRIORITY_CLASS,         BELOW_NORMAL_PRIORITY_CLASS,
                                     NORMAL_PRIORITY_CLASS,       ABOVE_NORMAL_PRIORITY_CLASS,
                                     HIGH_PRIORITY_CLASS,         REALTIME_PRIORITY_CLASS};
    const int32_t priority = a.int32(1);
    uint32_t pid = priority >= 0 && priority <= 5 ? findProcess(designationArg(a, 0)) : 0;
    WinHandle process(pid ? OpenProcess(PROCESS_SET_INFORMATION, FALSE, pid) : nullptr);
    if (!process.valid() || !SetPriorityClass(process.get(), kClasses[priority])) {
        e.setError(1);
        r.setInt32(0);
    }
    return 0;
}

int bi_PROCESSWAIT(Engine&, Args& a, Variant& r) {
    const Designation d = designationArg(a, 0);
    WaitResult w = waitUntil(kStateProcessWait, timeoutArg(a, 1), [&] { return findProcess(d) != 0; });
    r.setInt32(w == WaitResult::Done ? 1 : 0);
    if (w != WaitResult::Stopped) delayAfterWait();
    return 0;
}

int bi_PROCESSWAITCLOSE(Engine& e, Args& a, Variant& r) {
    const Designation d = designationArg(a, 0);
    const uint32_t pid = findProcess(d);
    if (!pid) {
        e.setExtended(static_cast<int32_t>(0xCCCCCCCCu));  // closed already: no exit code to give
        return 0;
    }
    // Held open so that the exit code can still be read once the process is gone.
    WinHandle process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    WaitResult w = waitUntil(kStateProcessWait + 1, timeoutArg(a, 1), [&] { return findProcess(d) == 0; });
    if (w == WaitResult::Done) {
        DWORD code = 0;
        if (process.valid() && GetExitCodeProcess(process.get(), &code)) e.setExtended(static_cast<int32_t>(code));
    } else {
        r.setInt32(0);
    }
    if (w != WaitResult::Stopped) delayAfterWait();
    return 0;
}

}  // namespace tx
