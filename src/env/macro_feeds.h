// State of later subjects that some macros read (@TRAYICONVISIBLE, @TRAYICONFLASHING, @HOTKEYPRESSED).
//
// The macro layer must not depend on the tray or the hot-key code, so the owner of each piece of state
// installs a reader here (for instance from a static initialiser in its own file, or at start-up). A macro
// whose reader is not installed gives its neutral value: 0 for the tray flags, "" for the hot key.
#pragma once

#include "core/sstring.h"

namespace tx {

struct MacroFeeds {
    bool (*trayIconVisible)() = nullptr;
    bool (*trayIconFlashing)() = nullptr;
    SString (*hotKeyPressed)() = nullptr;  // key string of the hot key being served
};

MacroFeeds& macroFeeds();

}  // namespace tx
