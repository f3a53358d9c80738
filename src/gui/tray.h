// The script's tray icon and its pop-up menu (gui/tray.cpp), and the splash and progress windows
// (gui/splash.cpp): the built-ins scripts use for them.
#pragma once

#include "core/builtins.h"

namespace tx {

// gui/tray.cpp
int bi_TRAYCREATEMENU(Engine& e, Args& a, Variant& r);
int bi_TRAYCREATEITEM(Engine& e, Args& a, Variant& r);
int bi_TRAYITEMDELETE(Engine& e, Args& a, Variant& r);
int bi_TRAYITEMSETTEXT(Engine& e, Args& a, Variant& r);
int bi_TRAYITEMSETSTATE(Engine& e, Args& a, Variant& r);
int bi_TRAYITEMGETSTATE(Engine& e, Args& a, Variant& r);
int bi_TRAYITEMGETTEXT(Engine& e, Args& a, Variant& r);
int bi_TRAYITEMGETHANDLE(Engine& e, Args& a, Variant& r);
int bi_TRAYITEMSETONEVENT(Engine& e, Args& a, Variant& r);
int bi_TRAYSETONEVENT(Engine& e, Args& a, Variant& r);
int bi_TRAYGETMSG(Engine& e, Args& a, Variant& r);
int bi_TRAYSETCLICK(Engine& e, Args& a, Variant& r);
int bi_TRAYSETICON(Engine& e, Args& a, Variant& r);
int bi_TRAYSETPAUSEICON(Engine& e, Args& a, Variant& r);
int bi_TRAYSETSTATE(Engine& e, Args& a, Variant& r);
int bi_TRAYSETTOOLTIP(Engine& e, Args& a, Variant& r);
int bi_TRAYTIP(Engine& e, Args& a, Variant& r);
int bi_BREAK(Engine& e, Args& a, Variant& r);

// gui/splash.cpp
int bi_SPLASHTEXTON(Engine& e, Args& a, Variant& r);
int bi_SPLASHIMAGEON(Engine& e, Args& a, Variant& r);
int bi_SPLASHOFF(Engine& e, Args& a, Variant& r);
int bi_PROGRESSON(Engine& e, Args& a, Variant& r);
int bi_PROGRESSSET(Engine& e, Args& a, Variant& r);
int bi_PROGRESSOFF(Engine& e, Args& a, Variant& r);

}  // namespace tx
