// String and binary built-ins: taking strings and Binary values apart, searching, comparing, formatting and
// converting them between text encodings.
//
// Characters are UTF-16 code units and positions count code units from 1. Failures set @error (and
// @extended where documented) and return an empty value; none of these built-ins stops the script.
#pragma once

#include <cstddef>

#include "core/builtins.h"

namespace tx {

class Engine;

// Comparison modes shared by the searching and comparing built-ins (the script's "casesense").
enum class CaseMode : int {
    Locale = 0,    // not case sensitive, user's locale (CompareStringW, NORM_IGNORECASE)
    Exact = 1,     // code units compared exactly
    Basic = 2,     // not case sensitive, code unit by code unit through towlower
    LocaleUS = 3,  // as Locale under the fixed locale 0x0409
};
// A casesense argument: 0..3, anything else counts as Locale.
CaseMode caseModeFrom(int64_t n);
// -1, 0 or 1.
int compareText(u16view a, u16view b, CaseMode mode);
// The search of STRINGINSTR: 0-based position of the occurrence-th match of sub in text, or -1. start is the
// 1-based first position (0: not given); count (-1: not given) is the window length to the right, or the
// number of candidate positions looked at to the left. Matches never overlap; a negative occurrence counts
// matches from the right.
ptrdiff_t findText(u16view text, u16view sub, CaseMode mode, int64_t occurrence, int64_t start, int64_t count);

int bi_ASC(Engine&, Args&, Variant&);
int bi_ASCW(Engine&, Args&, Variant&);
int bi_BINARY(Engine&, Args&, Variant&);
int bi_BINARYLEN(Engine&, Args&, Variant&);
int bi_BINARYMID(Engine&, Args&, Variant&);
int bi_BINARYTOSTRING(Engine&, Args&, Variant&);
int bi_CHR(Engine&, Args&, Variant&);
int bi_CHRW(Engine&, Args&, Variant&);
int bi_DEC(Engine&, Args&, Variant&);
int bi_STRING(Engine&, Args&, Variant&);
int bi_STRINGADDCR(Engine&, Args&, Variant&);
int bi_STRINGCOMPARE(Engine&, Args&, Variant&);
int bi_STRINGFORMAT(Engine&, Args&, Variant&);
int bi_STRINGFROMASCIIARRAY(Engine&, Args&, Variant&);
int bi_STRINGINSTR(Engine&, Args&, Variant&);
int bi_STRINGISALNUM(Engine&, Args&, Variant&);
int bi_STRINGISALPHA(Engine&, Args&, Variant&);
int bi_STRINGISASCII(Engine&, Args&, Variant&);
int bi_STRINGISDIGIT(Engine&, Args&, Variant&);
int bi_STRINGISFLOAT(Engine&, Args&, Variant&);
int bi_STRINGISINT(Engine&, Args&, Variant&);
int bi_STRINGISLOWER(Engine&, Args&, Variant&);
int bi_STRINGISSPACE(Engine&, Args&, Variant&);
int bi_STRINGISUPPER(Engine&, Args&, Variant&);
int bi_STRINGISXDIGIT(Engine&, Args&, Variant&);
int bi_STRINGLEFT(Engine&, Args&, Variant&);
int bi_STRINGLEN(Engine&, Args&, Variant&);
int bi_STRINGLOWER(Engine&, Args&, Variant&);
int bi_STRINGMID(Engine&, Args&, Variant&);
int bi_STRINGREPLACE(Engine&, Args&, Variant&);
int bi_STRINGRIGHT(Engine&, Args&, Variant&);
int bi_STRINGSPLIT(Engine&, Args&, Variant&);
int bi_STRINGSTRIPCR(Engine&, Args&, Variant&);
int bi_STRINGSTRIPWS(Engine&, Args&, Variant&);
int bi_STRINGTOASCIIARRAY(Engine&, Args&, Variant&);
int bi_STRINGTOBINARY(Engine&, Args&, Variant&);
int bi_STRINGTRIMLEFT(Engine&, Args&, Variant&);
int bi_STRINGTRIMRIGHT(Engine&, Args&, Variant&);
int bi_STRINGUPPER(Engine&, Args&, Variant&);

}  // namespace tx
