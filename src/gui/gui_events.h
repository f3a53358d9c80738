// GUI events: the queue GUIGETMSG reads, on-event mode, the system events of the script's windows,
// GUIREGISTERMSG handlers and the notifications controls send their parent. The window procedure of the
// script's GUI windows hands every message here first; what this layer handles it answers itself.
//
// Events are queued by the window procedure (clicks, selections, system commands, drops) and by the 40 ms
// GUI timer (mouse polling of the foreground GUI window); they are taken either by GUIGETMSG or, in on-event
// mode, by the run loop, which calls one event function at a time.
#pragma once

#include <windows.h>

#include "core/builtins.h"

namespace tx {

struct GuiWindow;

// Called first by the window procedure for every message of a script GUI window. Returns true when the
// message was handled here; `result` is then what the window procedure returns.
bool guiEventsMessage(GuiWindow& w, UINT msg, WPARAM wp, LPARAM lp, LRESULT& result);

// Mouse polling of a window. Modes: -1 set-up (position and button states, no events), 0 position only,
// 1 from a button message and 2 from the GUI timer (both raise the mouse events).
void guiPollMouse(GuiWindow& w, int mode);

// Applies the control event rule to control `id` with notification `code` (as a WM_COMMAND from it would);
// true when an event was queued.
bool guiControlEvent(int id, int code);

int bi_GUIGETMSG(Engine& e, Args& a, Variant& r);
int bi_GUISETONEVENT(Engine& e, Args& a, Variant& r);
int bi_GUICTRLSETONEVENT(Engine& e, Args& a, Variant& r);
int bi_GUIREGISTERMSG(Engine& e, Args& a, Variant& r);
int bi_GUICTRLSENDTODUMMY(Engine& e, Args& a, Variant& r);

}  // namespace tx
