// The few runtime services that the shared sources reach for and that mean nothing in the compiler:
// it has no main window (error reports go to standard output anyway).
#include <windows.h>

#include "host/startup.h"

namespace tx {

HWND mainWindow() { return nullptr; }

}  // namespace tx
