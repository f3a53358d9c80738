// Math, bit and random built-ins: floating-point functions, rounding, remainder, 32-bit bit operations and
// the seedable Mersenne Twister behind RANDOM and SRANDOM.
#pragma once

#include "core/builtins.h"

namespace tx {

int bi_ABS(Engine& e, Args& a, Variant& r);
int bi_ACOS(Engine& e, Args& a, Variant& r);
int bi_ASIN(Engine& e, Args& a, Variant& r);
int bi_ATAN(Engine& e, Args& a, Variant& r);
int bi_COS(Engine& e, Args& a, Variant& r);
int bi_EXP(Engine& e, Args& a, Variant& r);
int bi_LOG(Engine& e, Args& a, Variant& r);
int bi_SIN(Engine& e, Args& a, Variant& r);
int bi_SQRT(Engine& e, Args& a, Variant& r);
int bi_TAN(Engine& e, Args& a, Variant& r);
int bi_CEILING(Engine& e, Args& a, Variant& r);
int bi_FLOOR(Engine& e, Args& a, Variant& r);
int bi_ROUND(Engine& e, Args& a, Variant& r);
int bi_MOD(Engine& e, Args& a, Variant& r);
int bi_BITAND(Engine& e, Args& a, Variant& r);
int bi_BITOR(Engine& e, Args& a, Variant& r);
int bi_BITXOR(Engine& e, Args& a, Variant& r);
int bi_BITNOT(Engine& e, Args& a, Variant& r);
int bi_BITSHIFT(Engine& e, Args& a, Variant& r);
int bi_BITROTATE(Engine& e, Args& a, Variant& r);
int bi_RANDOM(Engine& e, Args& a, Variant& r);
int bi_SRANDOM(Engine& e, Args& a, Variant& r);

}  // namespace tx
