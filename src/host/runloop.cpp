// The run loop: executes the prepared script one token line at a time in nested levels (the main script,
// each user-function and event call, each wait), keeps the runtime answering the window system between
// lines, ends the run through the exit functions, and owns the hidden main window's procedure.
//
// One iteration of a level: take the messages waiting in the queue; act on an exit request; call the
// function of one queued hot key; idle while paused; call the due Adlib functions; give the GUI, object
// and tray layers a turn for one event each; then either run the next line or, in a wait level, test the
// wait and sleep up to 10 ms. Event functions thus always run between two lines, never inside one.
//
// Sweeping the queue costs tens of microseconds under some systems, far more than a simple line, and even
// the checks for pending work add up over millions of lines. So while lines run, the serving step is taken
// only when the millisecond tick (GetTickCount, nearly free) has moved, and the queue is swept only when
// 10 ms have passed since the last sweep: the window system still gets an answer within that time, and
// hot keys, Adlib functions and events still run between two lines. Waits, pauses and event-serving
// built-ins sweep on every turn.
#include "host/runloop.h"

#include <mmsystem.h>

#include <algorithm>

#include "core/errors.h"
#include "core/interp.h"
#include "env/macro_feeds.h"
#include "host/hooks.h"
#include "host/startup.h"
#include "lib/files.h"

namespace tx {

namespace {

constexpr int kMaxNesting = 3900;
constexpr DWORD kPumpIntervalMs = 10;  // longest time between two sweeps of the queue while lines run
constexpr DWORD kIdleMs = 10;          // longest sleep of a waiting or paused level

DWORD g_lastPump = 0;
DWORD g_lastServeTick = 0;  // tick of the last serving step
bool g_exitSequenceDone = false;
bool g_mainLevelEntered = false;  // the script's own level (start functions, end of run) was entered
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

// Timers: Adlib functions ran. The level still takes its own step before serving again, so an Adlib
// function that runs longer than its interval (it is due again as soon as it returns) cannot starve the
// interrupted lines or keep a wait from seeing its end.
enum class Served { Nothing, Worked, Timers, Stop };

// The work of one iteration before its line or wait step: messages, exit request, then at most one of a
// queued hot key, the pause, the due Adlib functions, one GUI, object or tray event.
[[gnu::noinline]] Served serve(bool waiting, DWORD tick) {
    RunState& rs = runState();
    releaseHeldOutput();  // other programs see what the script wrote within a tick
    if (!rs.callbackRunning && (!rs.objectCall || waiting)) {
        if (waiting || rs.paused || tick - g_lastPump >= kPumpIntervalMs) sweepQueue();
    }
    if (rs.quit) return Served::Stop;
    if (rs.exitRequest) {
        rs.exitRequest = 0;
        rs.paused = 0;
        rs.stopping = 1;
    }
    if (rs.stopping) return Served::Stop;
    if (loop::hotKeyQueued()) {
        loop::serveHotKey();
        return Served::Worked;
    }
    if (rs.paused && !rs.callbackRunning) {
        idle(kIdleMs, nullptr);
        return Served::Worked;
    }
    if (loop::adlibRegistered() && loop::adlibPass()) return Served::Timers;
    const LoopHooks& hooks = loopHooks();
    if (hooks.guiEvent && hooks.guiEvent()) return Served::Worked;
    if (hooks.objectEvent && hooks.objectEvent()) return Served::Worked;
    if (hooks.trayEvent && hooks.trayEvent()) return Served::Worked;
    return Served::Nothing;
}

// One step of a wait level: true when the wait is over (result stored).
[[gnu::noinline]] bool waitStep(const Wait& w, DWORD start, WaitResult& result) {
    if ((w.handle && WaitForSingleObject(w.handle, 0) == WAIT_OBJECT_0) || (w.poll && w.poll(w.ctx))) {
        result = WaitResult::Done;
        return true;
    }
    DWORD sleepMs = kIdleMs;
    if (w.timeoutMs) {
        DWORD spent = timeGetTime() - start;
        if (spent >= w.timeoutMs) {
            result = WaitResult::TimedOut;
            return true;
        }
        sleepMs = std::min<DWORD>(sleepMs, w.timeoutMs - spent);
    }
    sleepMs = std::min<DWORD>(sleepMs, loop::adlibMsUntilDue());
    idle(sleepMs, w.handle);
    return false;
}

// Enters a level; false (error 154 reported) when the nesting limit is reached.
bool enter(Engine& e, Level& level, int firstLine) {
    if (e.nesting() >= kMaxNesting) {
        runState().suppress = 0;  // shown even inside EXECUTE
        reportRuntimeError(err::Recursion, -1);
        return false;
    }
    e.enterLevel(level, firstLine);
    return true;
}

// A level that runs lines from firstLine. Returns 0, or 1 when the nesting limit was hit or a line was
// abandoned after an error.
//
// The serving step is taken when the millisecond tick has moved since the last one, and again right after
// any step that did work (so pending events are drained before the next line; g_lastServeTick is then
// set to a value no tick can have). In between, a line costs one GetTickCount and one comparison.
int runLines(int firstLine) {
    Engine& e = engine();
    RunState& rs = runState();
    Level level;
    if (!enter(e, level, firstLine)) return 1;
    // Only the script's own level is the outermost one: the exit functions run at nesting 0 too, after it
    // has ended, and must neither start the run again nor end it a second time.
    const bool outermost = !g_mainLevelEntered;
    g_mainLevelEntered = true;
    if (outermost) loop::callStartFunctions();

    const int count = lineCount();
    while (!level.returnFlag && !rs.stopping) {
        const DWORD tick = GetTickCount();
        if (tick != g_lastServeTick) {
            g_lastServeTick = tick;
            Served s = serve(false, tick);
            if (s == Served::Stop) break;
            if (s == Served::Timers && rs.stopping) break;  // EXIT or an error inside the function
            if (s == Served::Worked) {
                g_lastServeTick = tick ^ 0x80000000u;  // serve again at once
                continue;
            }
        }
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

// A level that runs no lines: it serves the loop on every turn until the wait is over.
WaitResult runWaitLevel(const Wait& w) {
    Engine& e = engine();
    RunState& rs = runState();
    Level level;
    if (!enter(e, level, 0)) return WaitResult::Stopped;
    const DWORD start = timeGetTime();
    WaitResult result = WaitResult::Stopped;
    while (!level.returnFlag && !rs.stopping) {
        Served s = serve(true, GetTickCount());
        if (s == Served::Stop) break;
        if (s == Served::Worked) continue;
        if (rs.stopping) break;
        if (waitStep(w, start, result)) break;
    }
    e.leaveLevel(level);
    return rs.stopping || rs.quit ? WaitResult::Stopped : result;
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

int runLevel(int firstLine) { return runLines(firstLine); }

WaitResult runWait(const Wait& w) { return runWaitLevel(w); }

void serveSoon() { g_lastServeTick = GetTickCount() ^ 0x80000000u; }

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
    publishEventMacro(e, u"EXITCODE", Variant::int32(rs.exitCode));
    publishEventMacro(e, u"EXITMETHOD", Variant::int32(e.exitMethod));
    rs.paused = 0;
    rs.stopping = 0;  // so that the exit functions can run
    loop::callExitFunctions();
    rs.stopping = 1;
}

void runScript() {
    runState().stopping = 0;
    g_lastPump = GetTickCount() - kPumpIntervalMs;  // the first line sweeps the queue
    g_lastServeTick = g_lastPump ^ 0x80000000u;
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
