// The PIXEL... built-ins: one screen pixel's colour, searching a screen rectangle for a colour, and a
// checksum of a rectangle to notice that it changed.
#pragma once

#include "core/builtins.h"

namespace tx {

int bi_PIXELCHECKSUM(Engine&, Args&, Variant&);
int bi_PIXELGETCOLOR(Engine&, Args&, Variant&);
int bi_PIXELSEARCH(Engine&, Args&, Variant&);

}  // namespace tx
