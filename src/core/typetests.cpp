// Kind tests (VARGETTYPE, IS...), INT, NUMBER, HEX and PTR: pure work on values, no system calls.
//
// The kind tests look at the kind code alone and never convert: the String "12" is not a number and the
// Int32 1 is not a Bool. None of them sets @error.
#include "core/typetests.h"

#include "core/engine.h"

namespace tx {

int64_t truncateToInt64(double d) {
    if (!(d > -9223372036854775808.0 && d < 9223372036854775808.0)) return INT64_MIN;
    return static_cast<int64_t>(d);
}

namespace {

bool isIntegralDouble(double d) { return static_cast<double>(truncateToInt64(d)) == d; }

int kindTest(Variant& r, bool yes) {
    r.setInt32(yes ? 1 : 0);
    return 0;
}

}  // namespace

int bi_VARGETTYPE(Engine&, Args& a, Variant& r) {
    r.setString(SString::fromLatin1(a[0].typeName()));
    return 0;
}

int bi_ISARRAY(Engine&, Args& a, Variant& r) { return kindTest(r, a[0].is(Kind::Array)); }
int bi_ISBINARY(Engine&, Args& a, Variant& r) { return kindTest(r, a[0].is(Kind::Binary)); }
int bi_ISBOOL(Engine&, Args& a, Variant& r) { return kindTest(r, a[0].is(Kind::Bool)); }
int bi_ISDLLSTRUCT(Engine&, Args& a, Variant& r) { return kindTest(r, a[0].is(Kind::DLLStruct)); }
int bi_ISKEYWORD(Engine&, Args& a, Variant& r) { return kindTest(r, a[0].is(Kind::Keyword)); }
int bi_ISOBJ(Engine&, Args& a, Variant& r) { return kindTest(r, a[0].is(Kind::Object)); }
int bi_ISPTR(Engine&, Args& a, Variant& r) { return kindTest(r, a[0].is(Kind::Ptr)); }
int bi_ISSTRING(Engine&, Args& a, Variant& r) { return kindTest(r, a[0].is(Kind::String)); }
int bi_ISNUMBER(Engine&, Args& a, Variant& r) { return kindTest(r, a[0].isNumber()); }

// Int32 and Int64 are integers; a Double is one when it equals its plain truncation.
int bi_ISINT(Engine&, Args& a, Variant& r) {
    const Variant& v = a[0];
    bool yes = v.is(Kind::Int32) || v.is(Kind::Int64) || (v.is(Kind::Double) && isIntegralDouble(v.rawDouble()));
    return kindTest(r, yes);
}

// Only a Double that is not integral: a fraction, an infinity, NaN, or beyond the Int64 range.
int bi_ISFLOAT(Engine&, Args& a, Variant& r) {
    const Variant& v = a[0];
    return kindTest(r, v.is(Kind::Double) && !isIntegralDouble(v.rawDouble()));
}

int bi_INT(Engine& e, Args& a, Variant& r) {
    Variant& v = a[0];
    switch (v.kind()) {
        case Kind::Int32:
        case Kind::Int64: r = std::move(v); return 0;
        case Kind::Double:
        case Kind::String: r.setInt64(v.toInt64()); return 0;
        case Kind::Binary:
            if (v.binaryLength() <= 4) r.setInt32(v.toInt32());
            else r.setInt64(v.toInt64());
            return 0;
        default:
            e.setError(1);
            r.setInt32(0);
            return 0;
    }
}

int bi_NUMBER(Engine&, Args& a, Variant& r) {
    Variant& v = a[0];
    if (v.isNumber()) {
        r = std::move(v);
        return 0;
    }
    if (v.toString().view().find(u'.') != u16view::npos) {
        r.setDouble(v.toDouble());
        return 0;
    }
    const int64_t n = v.toInt64();
    if (n < INT32_MIN || n > INT32_MAX) {
        r.setInt64(n);
    } else if (v.is(Kind::Binary)) {
        // toInt32 reads at most 4 bytes; a 5- to 8-byte Binary holding a small value keeps that value.
        r.setInt32(static_cast<int32_t>(n));
    } else {
        r.setInt32(v.toInt32());
    }
    return 0;
}

int bi_HEX(Engine& e, Args& a, Variant& r) {
    const Variant& v = a[0];
    if (v.is(Kind::Binary)) {
        const SString& s = v.toString();  // "0x..." or "" for an empty Binary
        r.setString(s.empty() ? SString() : SString(s.view().substr(2)));
        return 0;
    }
    const int32_t width = a.int32Or(1, 8);
    if (width < 0 || width > 8) {
        e.setError(1);
        r.setString(SString());
        return 0;
    }
    const uint32_t n = static_cast<uint32_t>(v.toInt32());
    static const char16_t kDigits[] = u"0123456789ABCDEF";
    char16_t buf[8];
    for (int i = 0; i < width; ++i) buf[width - 1 - i] = kDigits[(n >> (4 * i)) & 15];
    if (width < 8 && (n >> (4 * width)) != 0) e.setError(1);  // digits were lost
    r.setString(SString(buf, static_cast<size_t>(width)));
    return 0;
}

int bi_PTR(Engine&, Args& a, Variant& r) {
    r.setPtr(a[0].toPtr());
    return 0;
}

}  // namespace tx
