// GUI events: the queue GUIGETMSG reads, on-event mode, the system events of the script's windows,
// GUIREGISTERMSG handlers and the notifications controls send their parent. The window procedure of the
// script's GUI windows hands every message here first; what this layer handles it answers itself.
#pragma once

#include <windows.h>

namespace tx {

struct GuiWindow;

// Called first by the window procedure for every message of a script GUI window. Returns true when the
// message was handled here; `result` is then what the window procedure returns.
bool guiEventsMessage(GuiWindow& w, UINT msg, WPARAM wp, LPARAM lp, LRESULT& result);

}  // namespace tx
