// The run loop: executes the prepared script one token line at a time in nested levels (the main script,
// each user-function and event call, each wait), keeps the runtime answering the window system between
// lines, ends the run through the exit functions, and owns the hidden main window's procedure.
//
// One iteration of a level: take the messages waiting in the queue; act on an exit request; call the
// function of one queued hot key; idle while paused; call the due Adlib functions; give the GUI, object
// and tray layers a turn for one event each; then either run the next line or, in a wait level, test the
// wait and sleep up to 10 ms. Event functions thus always run between two lines, never inside one.
//
// Sweeping the queue costs tens of microseconds under some systems, far more than a simple line, so while
// lines run the queue is swept only when 10 ms have passed since the last sweep (GetTickCount is nearly
// free); the window system still gets an answer within that time. Waits, pauses and event-serving
// built-ins sweep on every turn. Likewise the Adlib timers are looked at once per millisecond tick.
#include "host/runloop.h"

#include <mmsystem.h>

#include <algorithm>

#include "core/errors.h"
#include "core/interp.h"
#include "host/hooks.h"
#include "host/startup.h"
#include "lib/files.h"

namespace tx {

namespace {

constexpr int kMaxNesting = 3900;
constexpr DWORD kPumpIntervalMs = 10;  // longest time between two sweeps of the queue while lines run
constexpr DWORD kIdleMs = 10;          // longest sleep of a waiting or paused level

DWORD g_lastPump = 0;
DWORD g_lastAdlibTick = 0;
bool g_exitSequenceDone = false;
HWND g_mainHwnd = nullptr;  // the window of the class that the procedure serves (the first one created)

void sweepQueue() {
    RunState& rs = runState();
    g_lastPump = GetTickCount();
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            rs.quit = 1;
            rs.stopping = 1;
            return;
        }
        if (loopHooks().preTranslate && loopHooks().preTranslate(&msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// Sleeps up to ms, waking early when a message arrives or the handle (if any) is signalled.
void idle(DWORD ms, HANDLE handle) {
    MsgWaitForMultipleObjects(handle ? 1 : 0, handle ? &handle : nullptr, FALSE, ms, QS_ALLINPUT);
}

void stopReaders() {
    if (loopHooks().stopReaders) loopHooks().stopReaders();
}

// After the outermost level: exit functions, then the main window goes and its last messages are taken.
void finishRun() {
    RunState& rs = runState();
    stopReaders();
    if (rs.quit) return;
    runExitSequence();
    LockWindowUpdate(nullptr);
    HWND main = mainWindow();
    loop::unregisterHotKeys(main);
    if (main && IsWindow(main)) {
        DestroyWindow(main);  // its WM_DESTROY posts WM_QUIT
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

// Releases what the script left behind, once, when the run is over.
void shutdownRuntime() {
    loop::unregisterHotKeys(mainWindow());
    mciSendStringW(L"close all", nullptr, 0, nullptr);
    closeAllFiles();
    for (auto fn : loopHooks().shutdown)
        if (fn) fn();
}

// One level of the loop: runs lines from firstLine, or, with a wait, serves the loop until it is over.
// Returns 0, or 1 when the nesting limit was hit or a line was abandoned after an error.
int runLevelImpl(int firstLine, const Wait* wait, WaitResult* waitResult) {
    Engine& e = engine();
    RunState& rs = runState();
    if (e.nesting() >= kMaxNesting) {
        rs.suppress = 0;  // shown even inside EXECUTE
        reportRuntimeError(err::Recursion, -1);
        return 1;
    }
    Level level;
    e.enterLevel(level, firstLine);
    const bool outermost = e.nesting() == 1;
    if (outermost) loop::callStartFunctions();

    const int count = lineCount();
    const DWORD waitStart = wait ? timeGetTime() : 0;
    LoopHooks& hooks = loopHooks();
    while (!level.returnFlag && !rs.quit) {
        // Messages.
        const bool idling = wait || rs.paused;
        if (!rs.callbackRunning && (!rs.objectCall || wait)) {
            if (idling || GetTickCount() - g_lastPump >= kPumpIntervalMs) {
                sweepQueue();
                if (rs.quit) break;
            }
        }
        if (rs.exitRequest) {
            rs.exitRequest = 0;
            rs.paused = 0;
            rs.stopping = 1;
        }
        if (rs.stopping) break;

        // Pending work, at most one kind per turn.
        if (loop::hotKeyQueued()) {
            loop::serveHotKey();
            continue;
        }
        if (rs.paused && !rs.callbackRunning) {
            idle(kIdleMs, nullptr);
            continue;
        }
        if (loop::adlibRegistered()) {
            DWORD tick = GetTickCount();
            if (wait || tick != g_lastAdlibTick) {
                g_lastAdlibTick = tick;
                if (loop::adlibPass()) continue;
            }
        }
        if (hooks.guiEvent && hooks.guiEvent()) continue;
        if (hooks.objectEvent && hooks.objectEvent()) continue;
        if (hooks.trayEvent && hooks.trayEvent()) continue;

        if (wait) {
            if ((wait->handle && WaitForSingleObject(wait->handle, 0) == WAIT_OBJECT_0) ||
                (wait->poll && wait->poll(wait->ctx))) {
                *waitResult = WaitResult::Done;
                break;
            }
            DWORD sleepMs = kIdleMs;
            if (wait->timeoutMs) {
                DWORD spent = timeGetTime() - waitStart;
                if (spent >= wait->timeoutMs) {
                    *waitResult = WaitResult::TimedOut;
                    break;
                }
                sleepMs = std::min<DWORD>(sleepMs, wait->timeoutMs - spent);
            }
            sleepMs = std::min<DWORD>(sleepMs, loop::adlibMsUntilDue());
            idle(sleepMs, wait->handle);
            continue;
        }

        // The next line.
        const int n = level.nextLine++;
        if (n < 1 || n > count) {
            rs.stopping = 1;  // ran past the last line
            break;
        }
        rs.currentLine = n;
        if (!e.executeLine(n)) {
            level.failed = true;
            break;
        }
    }
    e.leaveLevel(level);
    if (outermost) finishRun();
    return level.failed ? 1 : 0;
}

}  // namespace

LoopHooks& loopHooks() {
    static LoopHooks hooks;
    return hooks;
}

bool addShutdownHook(void (*fn)()) {
    for (auto& slot : loopHooks().shutdown) {
        if (!slot) {
            slot = fn;
            return true;
        }
    }
    return false;
}

int runLevel(int firstLine) { return runLevelImpl(firstLine, nullptr, nullptr); }

WaitResult runWait(const Wait& w) {
    WaitResult r = WaitResult::Stopped;
    runLevelImpl(0, &w, &r);
    if (runState().stopping || runState().quit) return WaitResult::Stopped;
    return r;
}

void pumpMessages() {
    if (!runState().callbackRunning) sweepQueue();
}

bool callEventFunction(u16view upperName) {
    Engine& e = engine();
    int index = e.findUserFunction(upperName);
    // A function that needs arguments cannot be called by an event.
    if (index < 0 || e.userFunction(index).minArgs > 0) return false;
    // The interrupted code must find its @error and @extended as it left them.
    Frame& f = e.frame();
    const int32_t error = f.error;
    const bool errorByScript = f.errorByScript;
    Variant extended = f.extended;
    const bool extendedByScript = f.extendedByScript;
    Variant result;
    bool ok = e.callUser(index, nullptr, 0, result);
    f.error = error;
    f.errorByScript = errorByScript;
    f.extended = std::move(extended);
    f.extendedByScript = extendedByScript;
    return ok;
}

void runExitSequence() {
    if (g_exitSequenceDone) return;
    g_exitSequenceDone = true;
    Engine& e = engine();
    RunState& rs = runState();
    e.declare(u"@EXITCODE", Scope::Global, 0, Variant::int32(rs.exitCode));
    e.declare(u"@EXITMETHOD", Scope::Global, 0, Variant::int32(e.exitMethod));
    rs.paused = 0;
    rs.stopping = 0;  // so that the exit functions can run
    loop::callExitFunctions();
    rs.stopping = 1;
}

void runScript() {
    runState().stopping = 0;
    g_lastPump = GetTickCount() - kPumpIntervalMs;  // the first line sweeps the queue
    runLevel(1);
    shutdownRuntime();
}

int bi_SLEEP(Engine&, Args& a, Variant&) {
    int32_t ms = a.int32(0);
    if (ms <= 0) {
        Sleep(0);
        return 0;
    }
    Wait w;
    w.state = kStateSleeping;
    w.timeoutMs = static_cast<uint32_t>(ms);
    runWait(w);
    return 0;
}

LRESULT CALLBACK mainWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE && !g_mainHwnd) g_mainHwnd = hwnd;
    if (hwnd != g_mainHwnd) return DefWindowProcW(hwnd, msg, wp, lp);
    RunState& rs = runState();
    LoopHooks& hooks = loopHooks();
    switch (msg) {
        case WM_CREATE:
            SetTimer(hwnd, 1, 750, nullptr);  // the tray's tip and icon animation
            if (hooks.trayMessage) hooks.trayMessage(hwnd, msg, wp, lp);
            return 0;
        case WM_DESTROY:
            KillTimer(hwnd, 1);
            if (hooks.trayMessage) hooks.trayMessage(hwnd, msg, wp, lp);
            PostQuitMessage(0);
            return 0;
        case WM_SIZE:
            if (HWND edit = mainEditWindow()) MoveWindow(edit, 0, 0, LOWORD(lp), HIWORD(lp), TRUE);
            return 0;
        case WM_SETFOCUS:
            if (HWND edit = mainEditWindow()) SetFocus(edit);
            return 0;
        case WM_CLOSE:
            // The window stays; the loop ends the script between two lines.
            rs.exitRequest = 1;
            stopReaders();
            return 0;
        case WM_QUERYENDSESSION:
            engine().exitMethod = (static_cast<DWORD>(lp) & ENDSESSION_LOGOFF) ? 3 : 4;
            rs.exitRequest = 0;
            stopReaders();
            runExitSequence();
            break;  // the default answer lets the session end
        case WM_COMMAND:
            if (lp == 0 && LOWORD(wp) == kTrayItemExit) {
                engine().exitMethod = 2;
                rs.exitRequest = 1;
                return 0;
            }
            if (lp == 0 && LOWORD(wp) == kTrayItemPause) {
                rs.paused = !rs.paused;
                if (hooks.pauseChanged) hooks.pauseChanged(rs.paused != 0);
                Sleep(500);
                return 0;
            }
            if (hooks.trayMessage) hooks.trayMessage(hwnd, msg, wp, lp);
            return 0;
        case WM_TIMER:
        case WM_USER + 1:  // tray icon notifications
            if (hooks.trayMessage) hooks.trayMessage(hwnd, msg, wp, lp);
            return 0;
        case WM_HOTKEY:
            if (!rs.paused) loop::queueHotKey(static_cast<int>(wp));  // lost while paused
            return 0;
        default:
            if (msg != 0 && msg == taskbarCreatedMessage()) {
                if (hooks.trayMessage) hooks.trayMessage(hwnd, msg, wp, lp);
                return 0;
            }
            break;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace tx
