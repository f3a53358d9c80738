/* Test launcher, run under Wine by tests/run_tests.py: starts one Windows program with an exact command
 * line and reports its full 32-bit exit code.
 *
 * A process started straight from Linux gets its command line rebuilt by Wine from argv (with backslash
 * escapes the runtime does not use), and its exit code cut to 8 bits by the Linux exit status. This
 * launcher takes the command line verbatim from TX_LAUNCH_CMDLINE, runs it with the launcher's own standard
 * handles, waits, and writes the exit code in decimal to the file named by TX_LAUNCH_EXITFILE (a Windows
 * path). With TX_LAUNCH_STDIN=none the program gets no standard input handle at all. These variables are
 * removed from the environment the program sees. Exit code 127 and a message on
 * standard error when the program cannot be started. */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

static wchar_t* takeEnv(const wchar_t* name) {
    DWORD n = GetEnvironmentVariableW(name, NULL, 0);
    if (n == 0) return NULL;
    wchar_t* v = (wchar_t*)malloc(n * sizeof(wchar_t));
    if (!v) return NULL;
    GetEnvironmentVariableW(name, v, n);
    SetEnvironmentVariableW(name, NULL);
    return v;
}

int wmain(void) {
    wchar_t* cmdline = takeEnv(L"TX_LAUNCH_CMDLINE");
    wchar_t* exitFile = takeEnv(L"TX_LAUNCH_EXITFILE");
    wchar_t* stdinMode = takeEnv(L"TX_LAUNCH_STDIN");
    if (!cmdline) {
        fputs("txlaunch: TX_LAUNCH_CMDLINE is not set\n", stderr);
        return 127;
    }

    STARTUPINFOW si;
    PROCESS_INFORMATION pi;
    ZeroMemory(&si, sizeof si);
    ZeroMemory(&pi, sizeof pi);
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = stdinMode && lstrcmpW(stdinMode, L"none") == 0 ? NULL : GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    if (!CreateProcessW(NULL, cmdline, NULL, NULL, TRUE, 0, NULL, NULL, &si, &pi)) {
        fprintf(stderr, "txlaunch: cannot start [%ls]: error %lu\n", cmdline, GetLastError());
        return 127;
    }
    CloseHandle(pi.hThread);
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);

    if (exitFile) {
        HANDLE f = CreateFileW(exitFile, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        if (f != INVALID_HANDLE_VALUE) {
            char text[16];
            int len = snprintf(text, sizeof text, "%lu", (unsigned long)code);
            DWORD written = 0;
            WriteFile(f, text, (DWORD)len, &written, NULL);
            CloseHandle(f);
        }
    }
    return (int)code;
}
