// Process entry: prepares the process, reads the command line, decides where the script comes from, has
// it loaded and prepared, re-launches elevated when the script demands it, creates the hidden main window
// and runs the script. The exit code is process-wide (RunState::exitCode).
#include "host/startup.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>
#include <shlobj.h>
#include <windows.h>

#include <cstdlib>
#include <new>

#include "core/errors.h"
#include "core/script_store.h"
#include "host/cmdline.h"
#include "host/hooks.h"
#include "host/lexer.h"

namespace tx {

LRESULT CALLBACK mainWindowProc(HWND, UINT, WPARAM, LPARAM);  // run loop

namespace {

HINSTANCE g_instance = nullptr;
HWND g_main = nullptr;
HWND g_edit = nullptr;
bool g_themeActive = false;
SourceMode g_storedMode = SourceMode::Compiled;
SString g_startDir;
HICON g_icon99 = nullptr, g_icon99Small = nullptr, g_icon162 = nullptr, g_icon164 = nullptr, g_icon169 = nullptr;
HIMAGELIST g_imageList = nullptr;
UINT g_taskbarCreated = 0;

const wchar_t* wz(const SString& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }
SString fromW(const wchar_t* s) { return SString(reinterpret_cast<const char16_t*>(s)); }

// Loaded for the whole entry point; closed on every way out.
struct Library {
    HMODULE h;
    explicit Library(const wchar_t* name) : h(LoadLibraryW(name)) {}
    ~Library() {
        if (h) FreeLibrary(h);
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
};

void outOfMemory() {
    MessageBoxW(nullptr, L"Error allocating memory.", L"Tarvex", MB_ICONERROR);
    ExitProcess(1);
}

bool osVersionSupported() {
    OSVERSIONINFOW vi{};
    vi.dwOSVersionInfoSize = sizeof vi;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExW(&vi)) return false;
#pragma GCC diagnostic pop
    if (vi.dwMajorVersion == 5) return vi.dwMinorVersion <= 2;
    return vi.dwMajorVersion == 6;
}

bool osAtLeastXp() {
    OSVERSIONINFOW vi{};
    vi.dwOSVersionInfoSize = sizeof vi;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    GetVersionExW(&vi);
#pragma GCC diagnostic pop
    return vi.dwMajorVersion > 5 || (vi.dwMajorVersion == 5 && vi.dwMinorVersion >= 1);
}

// Elevated when the service database can be locked (or is locked by someone else).
bool processIsElevated() {
    SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_LOCK);
    if (!scm) return false;
    bool elevated;
    SC_LOCK lock = LockServiceDatabase(scm);
    if (lock) {
        UnlockServiceDatabase(lock);
        elevated = true;
    } else {
        elevated = GetLastError() == ERROR_SERVICE_DATABASE_LOCKED;
    }
    CloseServiceHandle(scm);
    return elevated;
}

SString currentDirectory() {
    wchar_t buf[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, buf);
    return fromW(buf);
}

// Absolute, then the long form through the shell namespace (unchanged when that fails).
SString absoluteLongPath(const SString& path) {
    wchar_t full[MAX_PATH] = {};
    DWORD n = GetFullPathNameW(wz(path), MAX_PATH, full, nullptr);
    if (n == 0 || n >= MAX_PATH) return path;
    SString result = fromW(full);
    IShellFolder* desktop = nullptr;
    if (SUCCEEDED(SHGetDesktopFolder(&desktop)) && desktop) {
        PIDLIST_RELATIVE pidl = nullptr;
        if (SUCCEEDED(desktop->ParseDisplayName(nullptr, nullptr, full, nullptr, &pidl, nullptr)) && pidl) {
            wchar_t longPath[MAX_PATH] = {};
            if (SHGetPathFromIDListW(reinterpret_cast<PCIDLIST_ABSOLUTE>(pidl), longPath)) result = fromW(longPath);
            CoTaskMemFree(pidl);
        }
        desktop->Release();
    }
    return result;
}

bool runScriptDialog(SString& path) {
    wchar_t buf[MAX_PATH] = {};
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = nullptr;
    ofn.lpstrFilter = L"Tarvex script files (*.qx3, *.qxc)\0*.qx3;*.qxc\0All files (*.*)\0*.*\0";
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = buf;
    ofn.nMaxFile = MAX_PATH;
    ofn.lpstrTitle = L"Run Script:";
    ofn.lpstrDefExt = L"qx3";
    ofn.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
    if (!GetOpenFileNameW(&ofn)) return false;
    path = fromW(buf);
    return true;
}

void createWindows() {
    g_icon99 = LoadIconW(g_instance, MAKEINTRESOURCEW(99));
    if (osAtLeastXp())
        g_icon99Small = static_cast<HICON>(LoadImageW(g_instance, MAKEINTRESOURCEW(99), IMAGE_ICON, 16, 16, 0));
    if (!g_icon99Small) g_icon99Small = g_icon99;
    g_icon164 = LoadIconW(g_instance, MAKEINTRESOURCEW(164));
    g_icon162 = LoadIconW(g_instance, MAKEINTRESOURCEW(162));

    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW | CS_OWNDC;
    wc.lpfnWndProc = mainWindowProc;
    wc.hInstance = g_instance;
    wc.hIcon = g_icon99;
    wc.hIconSm = g_icon99Small;
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = L"Tarvex v3";
    RegisterClassExW(&wc);

    WNDCLASSEXW gc{};
    gc.cbSize = sizeof gc;
    gc.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS | CS_OWNDC;
    gc.lpfnWndProc = DefWindowProcW;  // the GUI layer installs its own procedure per window
    gc.cbWndExtra = 30;
    gc.hInstance = g_instance;
    gc.hIcon = g_icon99;
    gc.hIconSm = g_icon99Small;
    gc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    gc.lpszClassName = L"Tarvex v3 GUI";
    RegisterClassExW(&gc);

    g_taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
    // The common controls, the small image list and icon 169 are set up on first use (most scripts never
    // need them).

    g_main = CreateWindowExW(0, L"Tarvex v3", L"Tarvex v3", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 300, 100,
                             nullptr, nullptr, g_instance, nullptr);
    if (g_main) {
        g_edit = CreateWindowExW(0, L"edit", L"",
                                 WS_CHILD | WS_VISIBLE | WS_BORDER | WS_HSCROLL | WS_VSCROLL | ES_MULTILINE |
                                     ES_AUTOHSCROLL | ES_AUTOVSCROLL | ES_READONLY,
                                 0, 0, 0, 0, g_main, reinterpret_cast<HMENU>(1), g_instance, nullptr);
        ShowWindow(g_main, SW_HIDE);
    }
}

void mainSequence() {
    RunState& rs = runState();
    ScriptStore& store = scriptStore();
    g_startDir = currentDirectory();
    struct RestoreDir {
        ~RestoreDir() { SetCurrentDirectoryW(wz(g_startDir)); }
    } restoreDir;

    // The command line after the executable's name.
    const wchar_t* full = GetCommandLineW();
    const wchar_t* after = full;
    {
        // Skip the program name exactly as the system reads it: quoted, or up to the first blank.
        const wchar_t* p = full;
        if (*p == L'"') {
            ++p;
            while (*p && *p != L'"') ++p;
            if (*p) ++p;
        } else {
            while (*p && *p != L' ' && *p != L'\t') ++p;
        }
        while (*p == L' ' || *p == L'\t') ++p;
        after = p;
    }
    SString raw = fromW(after);

    wchar_t exe[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    rs.exePath = fromW(exe);

    std::vector<SString> words = splitCommandLine(raw.view());
    bool forbid = containerForbidsCommandLine(rs.exePath);
    CommandLine cl = parseCommandLine(words, rs.exePath, forbid);
    rs.errorToStdout = cl.errorToStdout;
    rs.debugOutput = cl.debugOutput;
    store.noTrayIcon = cl.noTrayIcon;
    SourceMode mode = cl.mode;
    SString scriptPath = cl.scriptPath;
    bool fromDialog = false;

    if (mode == SourceMode::Refused) {
        rs.exitCode = -1;
        return;
    }
    store.errorToStdout = rs.errorToStdout;
    if (mode == SourceMode::Line) {
        store.addLine(cl.lineText, 1, -1);
        rs.scriptFullPath = rs.exePath;
    } else {
        if (scriptPath.empty()) {
            if (!runScriptDialog(scriptPath)) {
                rs.exitCode = 1;
                return;
            }
            fromDialog = true;
        }
        scriptPath = absoluteLongPath(scriptPath);
        rs.scriptFullPath = scriptPath;
        int index = store.addFile(scriptPath);
        if (!loadScript(scriptPath, index, mode)) {
            rs.exitCode = 1;
            return;
        }
        wchar_t fullPath[MAX_PATH] = {};
        if (GetFullPathNameW(wz(scriptPath), MAX_PATH, fullPath, nullptr)) scriptPath = fromW(fullPath);
        rs.scriptFullPath = scriptPath;
    }
    g_storedMode = mode;

    createCommandLineVariables(raw, cl.args);
    if (!tokeniseAll() || !prepareEngine()) {
        store.release();
        rs.exitCode = 1;
        return;
    }

    if (store.requireAdmin && !processIsElevated()) {
        SString params;
        if (fromDialog) {
            params.append(u'"');
            params.append(scriptPath.view());
            params.append(u'"');
        } else {
            params = raw;
        }
        ShellExecuteW(GetForegroundWindow(), L"runas", exe, wz(params), wz(g_startDir), SW_SHOWNORMAL);
        store.release();
        return;
    }

    createWindows();
    bool tray = !store.noTrayIcon;
    if (tray) trayAdd();
    runScript();
    if (tray) trayRemove();
    store.release();
}

}  // namespace

HINSTANCE instanceHandle() { return g_instance; }
HWND mainWindow() { return g_main; }
HWND mainEditWindow() { return g_edit; }
bool themeActive() { return g_themeActive; }
SourceMode storedSourceMode() { return g_storedMode; }
const SString& startDirectory() { return g_startDir; }
void ensureCommonControls() {
    static bool done = false;
    if (done) return;
    done = true;
    INITCOMMONCONTROLSEX icc{};
    icc.dwSize = sizeof icc;
    icc.dwICC = ICC_LISTVIEW_CLASSES | ICC_TREEVIEW_CLASSES | ICC_TAB_CLASSES | ICC_PROGRESS_CLASS |
                ICC_UPDOWN_CLASS | ICC_DATE_CLASSES | ICC_BAR_CLASSES;
    InitCommonControlsEx(&icc);
}
HIMAGELIST smallImageList() {
    static bool made = false;
    if (!made) {
        ensureCommonControls();
        made = true;
        g_imageList = ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, 1, 1);
        HICON icon = appIcon(169);
        if (g_imageList && icon) ImageList_AddIcon(g_imageList, icon);
    }
    return g_imageList;
}
UINT taskbarCreatedMessage() { return g_taskbarCreated; }
HICON appIcon(int id) {
    switch (id) {
        case 99: return g_icon99;
        case 162: return g_icon162;
        case 164: return g_icon164;
        case 169:
            if (!g_icon169)
                g_icon169 = static_cast<HICON>(LoadImageW(g_instance, MAKEINTRESOURCEW(169), IMAGE_ICON, 16, 16, 0));
            return g_icon169;
        default: return nullptr;
    }
}

int runProcess(HINSTANCE instance) {
    if (!osVersionSupported()) return 1;
    g_instance = instance;
    runState().exitCode = 0;

    Library uxtheme(L"uxtheme.dll");
    if (uxtheme.h) {
        using IsThemeActiveFn = BOOL(WINAPI*)();
        auto fn = reinterpret_cast<IsThemeActiveFn>(reinterpret_cast<void*>(GetProcAddress(uxtheme.h, "IsThemeActive")));
        if (fn) g_themeActive = fn() != FALSE;
    }

    // Allocation failures of operator new come here; the runtime's own malloc users throw bad_alloc,
    // which ends in the same handler below.
    std::set_new_handler(outOfMemory);

    DWORD lockTimeout = 0;
    SystemParametersInfoW(SPI_GETFOREGROUNDLOCKTIMEOUT, 0, &lockTimeout, 0);
    SystemParametersInfoW(SPI_SETFOREGROUNDLOCKTIMEOUT, 0, nullptr, SPIF_SENDCHANGE);

    try {
        mainSequence();
    } catch (const std::bad_alloc&) {
        outOfMemory();
    }

    SystemParametersInfoW(SPI_SETFOREGROUNDLOCKTIMEOUT, 0, reinterpret_cast<void*>(static_cast<uintptr_t>(lockTimeout)),
                          SPIF_SENDCHANGE);
    return runState().exitCode;
}

}  // namespace tx

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) { return tx::runProcess(instance); }
