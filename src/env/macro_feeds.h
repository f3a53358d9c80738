// What other subjects give the macro layer: readers of their state for the table macros
// (@TRAYICONVISIBLE, @TRAYICONFLASHING, @HOTKEYPRESSED), and the way to publish event macros.
//
// The macro layer must not depend on the tray or the hot-key code, so the owner of each piece of state
// installs a reader here (for instance from a static initialiser in its own file, or at start-up). A macro
// whose reader is not installed gives its neutral value: 0 for the tray flags, "" for the hot key.
#pragma once

#include "core/sstring.h"
#include "core/variant.h"

namespace tx {

struct MacroFeeds {
    bool (*trayIconVisible)() = nullptr;
    bool (*trayIconFlashing)() = nullptr;
    SString (*hotKeyPressed)() = nullptr;  // key string of the hot key being served
};

MacroFeeds& macroFeeds();

class Engine;
// Creates or updates the event macro @name (name upper case, without "@"): a global variable "@NAME",
// which scripts read as a macro but cannot declare or assign. Used for @EXITCODE, @GUI_CTRLID, @TRAY_ID,
// @COM_EVENTOBJ and the like.
void publishEventMacro(Engine& engine, u16view upperName, const Variant& value);

}  // namespace tx
