// The COM layer's bridge for code that hosts or hands out COM objects itself (an ActiveX control in a GUI
// window, an interface pointer from another API): an Object value to its interface pointer and back.
#pragma once

#include "core/variant.h"

struct IUnknown;

namespace tx {

// Starts OLE on this thread (once for the run); false when it cannot be started.
bool comInitialise();
// The interface pointer an Object value holds, with a reference added for the caller (who releases it).
// False for other values and for objects that hold nothing.
bool comUnknownOf(const Variant& object, IUnknown** out);
// An Object value for p (its IDispatch when p offers one); the value takes a reference of its own.
bool comObjectFrom(IUnknown* p, Variant& out);

}  // namespace tx
