// Quick interaction and small system services for scripts: the message box, the input box and the
// tracking tool tip (gui/dialogs.cpp, gui/tooltip.cpp), the clipboard (lib/clipboard.cpp), and sound, wave
// volume, the beep and the CD tray door (lib/sound.cpp).
#pragma once

#include "core/builtins.h"

namespace tx {

// gui/dialogs.cpp
int bi_MSGBOX(Engine& e, Args& a, Variant& r);
int bi_INPUTBOX(Engine& e, Args& a, Variant& r);

// gui/tooltip.cpp
int bi_TOOLTIP(Engine& e, Args& a, Variant& r);

// lib/clipboard.cpp
int bi_CLIPGET(Engine& e, Args& a, Variant& r);
int bi_CLIPPUT(Engine& e, Args& a, Variant& r);

// lib/sound.cpp
int bi_SOUNDPLAY(Engine& e, Args& a, Variant& r);
int bi_SOUNDSETWAVEVOLUME(Engine& e, Args& a, Variant& r);
int bi_BEEP(Engine& e, Args& a, Variant& r);
int bi_CDTRAY(Engine& e, Args& a, Variant& r);

}  // namespace tx
