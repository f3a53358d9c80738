// Type tests, numeric conversions and timers: the built-ins that ask a value's kind, turn it into a chosen
// numeric or pointer kind, write it as hexadecimal digits, and measure elapsed time.
//
// The kind tests and conversions live in core/typetests.cpp (no Win32); the ones that ask the system
// (window handles, the performance counter) live in lib/conversions.cpp.
#pragma once

#include <cstdint>

#include "core/builtins.h"

namespace tx {

// Plain truncation of a Double toward zero to Int64; NaN and values outside the Int64 range give the most
// negative Int64 (as the processor's conversion does). Unlike toInt64 there is no rounding near integers.
int64_t truncateToInt64(double d);

int bi_VARGETTYPE(Engine& e, Args& a, Variant& r);
int bi_ISARRAY(Engine& e, Args& a, Variant& r);
int bi_ISBINARY(Engine& e, Args& a, Variant& r);
int bi_ISBOOL(Engine& e, Args& a, Variant& r);
int bi_ISDLLSTRUCT(Engine& e, Args& a, Variant& r);
int bi_ISFLOAT(Engine& e, Args& a, Variant& r);
int bi_ISINT(Engine& e, Args& a, Variant& r);
int bi_ISKEYWORD(Engine& e, Args& a, Variant& r);
int bi_ISNUMBER(Engine& e, Args& a, Variant& r);
int bi_ISOBJ(Engine& e, Args& a, Variant& r);
int bi_ISPTR(Engine& e, Args& a, Variant& r);
int bi_ISSTRING(Engine& e, Args& a, Variant& r);
int bi_INT(Engine& e, Args& a, Variant& r);
int bi_NUMBER(Engine& e, Args& a, Variant& r);
int bi_HEX(Engine& e, Args& a, Variant& r);
int bi_PTR(Engine& e, Args& a, Variant& r);

// In lib/conversions.cpp (they ask the system).
int bi_ISHWND(Engine& e, Args& a, Variant& r);
int bi_HWND(Engine& e, Args& a, Variant& r);
int bi_TIMERINIT(Engine& e, Args& a, Variant& r);
int bi_TIMERDIFF(Engine& e, Args& a, Variant& r);

// Performance-counter ticks per millisecond, read once on first use and kept (0 when the frequency
// cannot be read). The timer built-ins and the delay helper after window actions share it.
double performanceTicksPerMs();

}  // namespace tx
