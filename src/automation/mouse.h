// The MOUSE... built-ins (moving, clicking, dragging, the wheel, position and cursor shape) and the screen
// origin of the coordinate modes that the mouse and pixel built-ins share.
#pragma once

#include <windows.h>

#include <cstdint>

#include "core/builtins.h"

namespace tx {

// The origin a coordinate mode puts script coordinates at: 0 the window's rectangle, 1 the screen, 2 the
// window's client area (in screen coordinates). A null window gives the screen origin.
POINT coordModeOrigin(int32_t mode, HWND window);

int bi_MOUSECLICK(Engine&, Args&, Variant&);
int bi_MOUSECLICKDRAG(Engine&, Args&, Variant&);
int bi_MOUSEDOWN(Engine&, Args&, Variant&);
int bi_MOUSEGETCURSOR(Engine&, Args&, Variant&);
int bi_MOUSEGETPOS(Engine&, Args&, Variant&);
int bi_MOUSEMOVE(Engine&, Args&, Variant&);
int bi_MOUSEUP(Engine&, Args&, Variant&);
int bi_MOUSEWHEEL(Engine&, Args&, Variant&);

}  // namespace tx
