// The run loop: executes the prepared script and answers the main window's messages.
#include <windows.h>

#include "host/hooks.h"

namespace tx {

void runScript() {}

LRESULT CALLBACK mainWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) { return DefWindowProcW(hwnd, msg, wp, lp); }

}  // namespace tx
