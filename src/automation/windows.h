// The WIN... built-ins: finding, waiting for, reading and changing other programs' top-level windows, and
// the title of the runtime's own hidden main window.
#pragma once

#include "core/builtins.h"

namespace tx {

int bi_TARVEXWINGETTITLE(Engine&, Args&, Variant&);
int bi_TARVEXWINSETTITLE(Engine&, Args&, Variant&);
int bi_WINACTIVATE(Engine&, Args&, Variant&);
int bi_WINACTIVE(Engine&, Args&, Variant&);
int bi_WINCLOSE(Engine&, Args&, Variant&);
int bi_WINEXISTS(Engine&, Args&, Variant&);
int bi_WINFLASH(Engine&, Args&, Variant&);
int bi_WINGETCARETPOS(Engine&, Args&, Variant&);
int bi_WINGETCLASSLIST(Engine&, Args&, Variant&);
int bi_WINGETCLIENTSIZE(Engine&, Args&, Variant&);
int bi_WINGETHANDLE(Engine&, Args&, Variant&);
int bi_WINGETPOS(Engine&, Args&, Variant&);
int bi_WINGETPROCESS(Engine&, Args&, Variant&);
int bi_WINGETSTATE(Engine&, Args&, Variant&);
int bi_WINGETTEXT(Engine&, Args&, Variant&);
int bi_WINGETTITLE(Engine&, Args&, Variant&);
int bi_WINKILL(Engine&, Args&, Variant&);
int bi_WINLIST(Engine&, Args&, Variant&);
int bi_WINMENUSELECTITEM(Engine&, Args&, Variant&);
int bi_WINMINIMIZEALL(Engine&, Args&, Variant&);
int bi_WINMINIMIZEALLUNDO(Engine&, Args&, Variant&);
int bi_WINMOVE(Engine&, Args&, Variant&);
int bi_WINSETONTOP(Engine&, Args&, Variant&);
int bi_WINSETSTATE(Engine&, Args&, Variant&);
int bi_WINSETTITLE(Engine&, Args&, Variant&);
int bi_WINSETTRANS(Engine&, Args&, Variant&);
int bi_WINWAIT(Engine&, Args&, Variant&);
int bi_WINWAITACTIVE(Engine&, Args&, Variant&);
int bi_WINWAITCLOSE(Engine&, Args&, Variant&);
int bi_WINWAITNOTACTIVE(Engine&, Args&, Variant&);

}  // namespace tx
