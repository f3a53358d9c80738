// The language's operators on two values: arithmetic, concatenation, power and the comparisons.
//
// The expression evaluator applies them; FOR, SWITCH, ENUM and compound assignment reuse them so that a
// loop step or a CASE range behaves exactly like the same operator written in an expression. Arithmetic
// updates the left operand in place (dropping its cached string form), which is how "$s &= 'x'" appends
// to an unshared string without copying it.
#pragma once

#include <cstdint>

#include "core/variant.h"

namespace tx::ops {

// Operator codes of the evaluator (the order is fixed: levels and tables are indexed by them).
enum Code : uint8_t {
    Less = 0,
    Greater = 1,
    LessEqual = 2,
    GreaterEqual = 3,
    NotEqual = 4,
    Equal = 5,
    StrictEqual = 6,
    And = 7,
    Or = 8,
    Concat = 9,
    Not = 10,
    Add = 11,
    Sub = 12,
    Mul = 13,
    Div = 14,
    Pow = 15,
    Neg = 16,
    Plus = 17,
    LParen = 18,
    RParen = 19,
    End = 20,
    Start = 21,
};

void add(Variant& l, const Variant& r);
void sub(Variant& l, const Variant& r);
void mul(Variant& l, const Variant& r);
void div(Variant& l, const Variant& r);
void concat(Variant& l, const Variant& r);
void power(Variant& l, const Variant& r);
void negate(Variant& v);

bool less(const Variant& l, const Variant& r);
bool equal(const Variant& l, const Variant& r);        // "="
bool strictEqual(const Variant& l, const Variant& r);  // "=="
// Any of the seven comparison codes.
bool compare(Code code, const Variant& l, const Variant& r);

// The caseless comparison of two strings in the user's locale: <0, 0, >0.
int compareText(u16view a, u16view b);

}  // namespace tx::ops
