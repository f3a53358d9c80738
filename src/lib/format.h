// STRINGFORMAT's text formatting: the format items (%[flags][width][.precision][size]type), the escapes
// \\ \n \r \t and %%, applied to a list of values. Kept apart from the string built-ins and free of Win32
// (the C runtime's wide formatter aside), so the format reader can be fuzzed as a native program.
#pragma once

#include "core/sstring.h"
#include "core/variant.h"

namespace tx {

// The formatted text: each format item takes the next value; items beyond the values give nothing, and text
// that is no format item is copied as it stands.
SString formatText(u16view format, const Variant* values, int count);

}  // namespace tx
