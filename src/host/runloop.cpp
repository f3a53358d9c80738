// The run loop: executes the prepared script, one token line at a time, in nested levels (the main
// script and each user-function call), and answers the main window's messages.
//
// For now a level only runs lines; message pumping, timers, hot keys, events and the exit sequence come
// with the full loop, behind the same runLevel interface.
#include <windows.h>

#include "core/errors.h"
#include "core/interp.h"
#include "host/hooks.h"

namespace tx {

namespace {
constexpr int kMaxNesting = 3900;
}

int runLevel(int firstLine) {
    Engine& e = engine();
    RunState& rs = runState();
    if (e.nesting() >= kMaxNesting) {
        rs.suppress = 0;  // shown even inside EXECUTE
        reportRuntimeError(err::Recursion, -1);
        return 1;
    }
    Level level;
    e.enterLevel(level, firstLine);
    const int count = lineCount();
    while (!level.returnFlag && !rs.stopping) {
        int n = level.nextLine++;
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
    return level.failed ? 1 : 0;
}

void runScript() {
    runState().stopping = 0;
    runLevel(1);
}

LRESULT CALLBACK mainWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) { return DefWindowProcW(hwnd, msg, wp, lp); }

}  // namespace tx
