// The run loop's services for the rest of the runtime.
//
// The loop runs the script's lines in nested levels (the main script, each user-function call, each event
// function and each wait). Between two lines it keeps the runtime a live Windows program: it pumps the
// message queue, calls the functions of pressed hot keys and due Adlib timers, and offers the GUI, object
// and tray layers a turn to call their event functions. Waiting built-ins (SLEEP here; the window, process
// and RUNWAIT waits of other layers) do not block: they run a level that serves all of that every 10 ms
// until their condition holds.
//
// Layers that come later plug into the loop through LoopHooks (event queues, accelerators, the tray, the
// background stream readers, things to release at shutdown). The flags they set (paused, exit request,
// callback running, object call) live in RunState (core/errors.h).
#pragma once

#include <windows.h>

#include <cstdint>

#include "host/runloop_builtins.h"
#include "core/sstring.h"

namespace tx {

// What the loop is doing while a wait level runs (the state values other layers use for their waits).
enum LoopState : int32_t {
    kStateRunning = 0,
    kStateStopping = 1,
    kStateSleeping = 2,     // SLEEP
    kStateWindowWait = 3,   // 3 to 6: the window waits
    kStateRunWait = 7,      // RUNWAIT: a started process
    kStateProcessWait = 8,  // 8 and 9: process exists / process closed
};

// A wait served by the loop. Every iteration of its level pumps messages and serves hot keys, Adlib and
// events; then the loop sleeps up to 10 ms (woken early by new messages, or by handle when one is given)
// and asks poll whether the wait is over.
struct Wait {
    int32_t state = kStateSleeping;
    uint32_t timeoutMs = 0;          // 0: none; otherwise the wait ends as timed out after this long
    HANDLE handle = nullptr;         // optional: the wait is over as soon as this handle is signalled
    bool (*poll)(void* ctx) = nullptr;  // optional: true when the wait's condition holds
    void* ctx = nullptr;
};

enum class WaitResult {
    Done,      // the condition held (or the handle was signalled)
    TimedOut,  // the timeout passed first
    Stopped,   // the script is stopping (EXIT, error, exit request, WM_QUIT, nesting limit)
};

// Runs a nested level that serves the loop until the wait is over.
WaitResult runWait(const Wait& w);

// Convenience: waits until done() is true, polling every 10 ms; timeoutMs 0 waits without a limit.
template <class F>
WaitResult waitUntil(int32_t state, uint32_t timeoutMs, F&& done) {
    Wait w;
    w.state = state;
    w.timeoutMs = timeoutMs;
    w.ctx = &done;
    w.poll = [](void* c) { return static_cast<bool>((*static_cast<F*>(c))()); };
    return runWait(w);
}

// Makes the loop serve events before the next line, not only when the millisecond tick moves (for work
// queued by the current line, such as a COM error handler call).
void serveSoon();

// Takes every waiting message from the thread's queue now (for event-serving built-ins such as a GUI
// message read). Does nothing while a DLL callback runs a user function.
void pumpMessages();

// Calls a user function (upper-case name) with no arguments between two lines, the way the loop calls
// hot-key, Adlib, start, exit and event functions: the interrupted code's @error and @extended are kept.
// False when there is no such function or it did not end normally.
bool callEventFunction(u16view upperName);

// Runs the exit functions (with @EXITCODE and @EXITMETHOD set) unless they already ran.
void runExitSequence();

// Hooks filled by later layers; a null hook is skipped.
struct LoopHooks {
    // Offered each message before TranslateMessage/DispatchMessageW (the active GUI window's accelerator
    // table and dialog navigation). True when it took the message.
    bool (*preTranslate)(MSG* msg) = nullptr;
    // One step of event serving each: call the function of the next queued event, if any (on-event mode,
    // the kind's own function not running). True when a function was called.
    bool (*guiEvent)() = nullptr;
    bool (*objectEvent)() = nullptr;
    bool (*trayEvent)() = nullptr;
    // Stops the background readers of child processes' output (script end, WM_CLOSE, end of session).
    void (*stopReaders)() = nullptr;
    // The tray's share of the main window: WM_CREATE (menu), WM_TIMER, the icon notifications
    // (WM_USER + 1), "TaskbarCreated", WM_DESTROY (icon removal) and the script's own tray menu items.
    void (*trayMessage)(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) = nullptr;
    // The pause state changed (check mark of the pause item, tray icon and tip).
    void (*pauseChanged)(bool paused) = nullptr;
    // Called once when the script has ended, after the main window is gone (DLLs, callbacks, COM, ...).
    void (*shutdown[8])() = {};
};
LoopHooks& loopHooks();
// Adds a shutdown hook (false when all slots are taken).
bool addShutdownHook(void (*fn)());

// Tray menu commands that the main window handles itself.
constexpr int kTrayItemExit = 3;
constexpr int kTrayItemPause = 4;

// Shared by the loop's own files (runloop.cpp, script_functions.cpp, hotkeys.cpp).
namespace loop {
// Start, Adlib and exit functions (script_functions.cpp).
void callStartFunctions();
void callExitFunctions();
bool adlibRegistered();             // cheap: is there any Adlib entry?
bool adlibPass();                   // calls the due Adlib functions; true when one was called
uint32_t adlibMsUntilDue();         // time until the next entry is due (UINT32_MAX: none)
// Hot keys (hotkeys.cpp).
void queueHotKey(int id);           // WM_HOTKEY
bool hotKeyQueued();
bool serveHotKey();                 // calls the function of the oldest queued hot key; true when called
void unregisterHotKeys(HWND main);  // script end
}  // namespace loop

}  // namespace tx
