// Process start-up: the entry point, the main sequence and the runtime's hidden main window.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include "core/script_store.h"
#include "core/sstring.h"

namespace tx {

HINSTANCE instanceHandle();
HWND mainWindow();        // the hidden main window (nullptr before it exists)
HWND mainEditWindow();    // its edit child
bool themeActive();
SourceMode storedSourceMode();  // the mode in force when the script started (read by the macros)
const SString& startDirectory();

// Icons loaded at window set-up and kept for the tray and GUI windows.
HICON appIcon(int resourceId);
HIMAGELIST smallImageList();
UINT taskbarCreatedMessage();

// Registers the common-control window classes (list and tree views, tabs, progress bars, up-downs, dates,
// tool tips) the first time something is about to create one; a script that never shows such a control never
// loads the common-controls library.
void ensureCommonControls();

}  // namespace tx
