// The CONTROL... built-ins and STATUSBARGETTEXT: reading and driving one control (a child window) inside a
// top-level window of any program, named by (title, text) like the WIN... family and by a control
// description of its own:
//
//   "Edit1", "Button3"          class name + instance number among the window's descendants (ClassNN)
//   "OK"                        when no ClassNN fits: the control whose text is exactly that
//   1001                        the control id;  a Ptr value: that handle;  "" or 0: the focused control
//   "[CLASS:Button; INSTANCE:2]", "[ID:1001]", "[REGEXPCLASS:^Rich]", "[TEXT:&Save]", "[NAME:txtUser]",
//   "[X:10; Y:20; W:80; H:24]", "[CLASSNN:Edit2]"   bracketed properties, all of which must fit
//
// Controls of other processes are read through memory allocated inside that process where a message
// carries a pointer the system does not carry across (list views, tree views, status bars, control names).
#pragma once

#include "core/builtins.h"

namespace tx {

int bi_CONTROLCLICK(Engine&, Args&, Variant&);
int bi_CONTROLCOMMAND(Engine&, Args&, Variant&);
int bi_CONTROLDISABLE(Engine&, Args&, Variant&);
int bi_CONTROLENABLE(Engine&, Args&, Variant&);
int bi_CONTROLFOCUS(Engine&, Args&, Variant&);
int bi_CONTROLGETFOCUS(Engine&, Args&, Variant&);
int bi_CONTROLGETHANDLE(Engine&, Args&, Variant&);
int bi_CONTROLGETPOS(Engine&, Args&, Variant&);
int bi_CONTROLGETTEXT(Engine&, Args&, Variant&);
int bi_CONTROLHIDE(Engine&, Args&, Variant&);
int bi_CONTROLLISTVIEW(Engine&, Args&, Variant&);
int bi_CONTROLMOVE(Engine&, Args&, Variant&);
int bi_CONTROLSEND(Engine&, Args&, Variant&);
int bi_CONTROLSETTEXT(Engine&, Args&, Variant&);
int bi_CONTROLSHOW(Engine&, Args&, Variant&);
int bi_CONTROLTREEVIEW(Engine&, Args&, Variant&);
int bi_STATUSBARGETTEXT(Engine&, Args&, Variant&);

}  // namespace tx
