// Operators on values: the arithmetic and concatenation rules by the left operand's kind, the "^" rules,
// and the comparisons driven by the operand type table.
#include "core/ops.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "core/engine.h"
#include "core/platform.h"

namespace tx::ops {

namespace {

inline bool fitsInt32(int64_t v) { return v >= INT32_MIN && v <= INT32_MAX; }

// Int64 arithmetic that wraps instead of overflowing.
inline int64_t wrapAdd(int64_t a, int64_t b) { return static_cast<int64_t>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b)); }
inline int64_t wrapSub(int64_t a, int64_t b) { return static_cast<int64_t>(static_cast<uint64_t>(a) - static_cast<uint64_t>(b)); }
inline int64_t wrapMul(int64_t a, int64_t b) { return static_cast<int64_t>(static_cast<uint64_t>(a) * static_cast<uint64_t>(b)); }

// "+" and "-" share everything but the operation.
template <bool Subtract>
void addSub(Variant& l, const Variant& r) {
    switch (l.kind()) {
        case Kind::Int32: {
            int64_t a = l.rawInt32();
            if (r.is(Kind::Int32)) {
                int64_t s = Subtract ? a - r.rawInt32() : a + r.rawInt32();
                if (fitsInt32(s)) l.setInt32(static_cast<int32_t>(s));
                else l.setInt64(s);
            } else if (r.is(Kind::Int64)) {
                l.setInt64(Subtract ? wrapSub(a, r.rawInt64()) : wrapAdd(a, r.rawInt64()));
            } else {
                double d = static_cast<double>(a);
                l.setDouble(Subtract ? d - r.toDouble() : d + r.toDouble());
            }
            return;
        }
        case Kind::Int64: {
            int64_t a = l.rawInt64();
            if (r.is(Kind::Int32) || r.is(Kind::Int64)) {
                int64_t b = r.is(Kind::Int32) ? r.rawInt32() : r.rawInt64();
                l.setInt64(Subtract ? wrapSub(a, b) : wrapAdd(a, b));
            } else {
                double d = static_cast<double>(a);
                l.setDouble(Subtract ? d - r.toDouble() : d + r.toDouble());
            }
            return;
        }
        case Kind::Double:
            l.setDouble(Subtract ? l.rawDouble() - r.toDouble() : l.rawDouble() + r.toDouble());
            return;
        case Kind::String:
        case Kind::Bool:
        case Kind::Keyword: {
            double d = l.toDouble();
            l.setDouble(Subtract ? d - r.toDouble() : d + r.toDouble());
            return;
        }
        case Kind::Ptr: {
            // Pointer arithmetic keeps the kind; a wider right operand contributes its low 32 bits.
            intptr_t off = r.is(Kind::Int32) ? r.toInt32() : static_cast<int32_t>(static_cast<uint32_t>(r.toInt64()));
            uintptr_t p = l.rawPtr();
            l.setPtr(Subtract ? p - static_cast<uintptr_t>(off) : p + static_cast<uintptr_t>(off));
            return;
        }
        case Kind::Binary:
            if (!Subtract && r.is(Kind::Binary)) {
                size_t n1 = l.binaryLength(), n2 = r.binaryLength();
                Variant joined = Variant::binary(nullptr, n1 + n2);
                uint8_t* d = const_cast<uint8_t*>(joined.binaryData());
                if (n1) std::memcpy(d, l.binaryData(), n1);
                if (n2) std::memcpy(d + n1, r.binaryData(), n2);
                l = std::move(joined);
            } else {
                l.setDouble(Subtract ? 0.0 - r.toDouble() : 0.0 + r.toDouble());
            }
            return;
        default:
            return;  // Array, Reference, Object, DLLStruct: unchanged
    }
}

bool isIntegral(const Variant& v, double d) {
    if (v.is(Kind::Int32) || v.is(Kind::Int64)) return true;
    return std::isfinite(d) && std::floor(d) == d;
}

bool isOddIntegral(const Variant& v, double d) {
    if (v.is(Kind::Int32)) return (v.rawInt32() & 1) != 0;
    if (v.is(Kind::Int64)) return (v.rawInt64() & 1) != 0;
    if (!isIntegral(v, d)) return false;
    return std::fmod(d, 2.0) != 0.0;
}

double powerOf(const Variant& xv, const Variant& yv) {
    const double inf = std::numeric_limits<double>::infinity();
    double x = xv.toDouble(), y = yv.toDouble();
    if (y == 0.0) return 1.0;
    if (x == 0.0 && std::isfinite(y)) {
        if (isOddIntegral(yv, y)) return y < 0 ? std::copysign(inf, x) : std::copysign(0.0, x);
        return y < 0 ? inf : 0.0;
    }
    if (std::isinf(y) && std::isfinite(x)) {
        double a = std::fabs(x);
        if (a < 1) return y > 0 ? 0.0 : inf;
        if (a == 1) return std::numeric_limits<double>::quiet_NaN();
        return y > 0 ? inf : 0.0;
    }
    if (std::isinf(x) && std::isfinite(y)) {
        bool odd = isOddIntegral(yv, y);
        if (x > 0 || !odd) return y < 0 ? 0.0 : inf;
        return y < 0 ? -0.0 : -inf;
    }
    if (x < 0 && isIntegral(yv, y)) {
        double m = std::pow(-x, y);
        return isOddIntegral(yv, y) ? -m : m;
    }
    return std::pow(x, y);
}

// The operand type table: how two kinds are compared.
enum CmpKind : uint8_t { N_ = 0, I_, L6, D_, S_, P_, O_, B_, K_, Y_ };

const uint8_t kTable[12][12] = {
    //          Int32 Int64 Double String Array Ref  Ptr  Obj  Bool Kw   Bin  Struct
    /*Int32 */ {I_, L6, D_, D_, N_, N_, P_, N_, B_, N_, I_, N_},
    /*Int64 */ {L6, L6, D_, D_, N_, N_, P_, N_, B_, N_, L6, N_},
    /*Double*/ {D_, D_, D_, D_, N_, N_, N_, N_, B_, N_, D_, N_},
    /*String*/ {D_, D_, D_, S_, N_, N_, P_, N_, B_, N_, Y_, N_},
    /*Array */ {N_, N_, N_, N_, N_, N_, N_, N_, N_, N_, N_, N_},
    /*Ref   */ {N_, N_, N_, N_, N_, N_, N_, N_, N_, N_, N_, N_},
    /*Ptr   */ {P_, P_, N_, P_, N_, N_, P_, N_, B_, N_, P_, N_},
    /*Object*/ {N_, N_, N_, N_, N_, N_, N_, O_, N_, N_, N_, N_},
    /*Bool  */ {B_, B_, B_, B_, B_, B_, B_, B_, B_, N_, B_, N_},
    /*Kw    */ {N_, N_, N_, N_, N_, N_, N_, N_, N_, K_, N_, N_},
    /*Binary*/ {I_, L6, D_, Y_, N_, N_, P_, N_, B_, N_, Y_, N_},
    /*Struct*/ {N_, N_, N_, N_, N_, N_, N_, N_, N_, N_, N_, N_},
};

inline uint8_t cmpKind(const Variant& l, const Variant& r) {
    uint32_t a = l.kindCode(), b = r.kindCode();
    if (a < 1 || a > 12 || b < 1 || b > 12) return N_;
    return kTable[a - 1][b - 1];
}

}  // namespace

int compareText(u16view a, u16view b) {
    if (a == b) return 0;
    return platform::compareLocale(a, b, true);
}

void add(Variant& l, const Variant& r) { addSub<false>(l, r); }

void sub(Variant& l, const Variant& r) {
    if (l.is(Kind::Binary)) l.toDoubleInPlace();
    addSub<true>(l, r);
}

void mul(Variant& l, const Variant& r) {
    switch (l.kind()) {
        case Kind::Int32: {
            int64_t a = l.rawInt32();
            if (r.is(Kind::Int32)) {
                int64_t p = a * r.rawInt32();
                if (fitsInt32(p)) l.setInt32(static_cast<int32_t>(p));
                else l.setInt64(p);
            } else if (r.is(Kind::Int64)) {
                l.setInt64(wrapMul(a, r.rawInt64()));
            } else {
                l.setDouble(static_cast<double>(a) * r.toDouble());
            }
            return;
        }
        case Kind::Int64: {
            int64_t a = l.rawInt64();
            if (r.is(Kind::Int32) || r.is(Kind::Int64)) {
                int64_t b = r.is(Kind::Int32) ? r.rawInt32() : r.rawInt64();
                l.setInt64(wrapMul(a, b));
            } else {
                l.setDouble(static_cast<double>(a) * r.toDouble());
            }
            return;
        }
        case Kind::Double: l.setDouble(l.rawDouble() * r.toDouble()); return;
        case Kind::String:
        case Kind::Bool:
        case Kind::Binary: {
            double d = l.toDouble();
            l.setDouble(d * r.toDouble());
            return;
        }
        default: return;  // Ptr, Keyword, Array, Reference, Object, DLLStruct: unchanged
    }
}

void div(Variant& l, const Variant& r) {
    switch (l.kind()) {
        case Kind::Int32:
        case Kind::Int64:
        case Kind::String:
        case Kind::Bool:
        case Kind::Binary:
        case Kind::Double: {
            double d = l.toDouble();
            l.setDouble(d / r.toDouble());
            return;
        }
        default: return;
    }
}

void concat(Variant& l, const Variant& r) {
    switch (l.kind()) {
        case Kind::String: l.mutableString().append(r.toString().view()); return;
        case Kind::Binary:
            if (r.is(Kind::Binary)) {
                addSub<false>(l, r);
                return;
            }
            [[fallthrough]];
        case Kind::Int32:
        case Kind::Int64:
        case Kind::Double:
        case Kind::Ptr:
        case Kind::Bool:
        case Kind::Keyword: {
            SString s = l.toString();
            s.append(r.toString().view());
            l.setString(std::move(s));
            return;
        }
        default: return;
    }
}

void power(Variant& l, const Variant& r) {
    double d = powerOf(l, r);
    l.setDouble(d);
}

void negate(Variant& v) { mul(v, Variant::int32(-1)); }

bool less(const Variant& l, const Variant& r) {
    switch (cmpKind(l, r)) {
        case I_:
        case B_: return l.toInt32() < r.toInt32();
        case L6: return l.toInt64() < r.toInt64();
        case D_: return l.toDouble() < r.toDouble();
        case S_: return compareText(l.toString().view(), r.toString().view()) < 0;
        case P_: return l.toPtr() < r.toPtr();
        default: return false;
    }
}

bool equal(const Variant& l, const Variant& r) {
    switch (cmpKind(l, r)) {
        case I_: return l.toInt32() == r.toInt32();
        case L6: return l.toInt64() == r.toInt64();
        case D_: return l.toDouble() == r.toDouble();
        case S_: return compareText(l.toString().view(), r.toString().view()) == 0;
        case P_: return l.toPtr() == r.toPtr();
        case O_: {
            if (!l.rawOther() || !r.rawOther()) return false;
            if (objectHooks().equals) return objectHooks().equals(l, r);
            return l.rawOther() == r.rawOther();
        }
        case B_: return l.isTrue() == r.isTrue();
        case K_: {
            const KeywordRecord* a = l.rawKeyword();
            const KeywordRecord* b = r.rawKeyword();
            return (a ? a->code : 0) == (b ? b->code : 0);
        }
        case Y_: {
            Variant a(l), b(r);
            a.toBinary();
            b.toBinary();
            return a.binaryLength() == b.binaryLength() &&
                   (a.binaryLength() == 0 || std::memcmp(a.binaryData(), b.binaryData(), a.binaryLength()) == 0);
        }
        default: return false;
    }
}

bool strictEqual(const Variant& l, const Variant& r) {
    if (l.is(Kind::Object) || r.is(Kind::Object)) return false;
    return l.toString().view() == r.toString().view();
}

bool compare(Code code, const Variant& l, const Variant& r) {
    switch (code) {
        case Less: return less(l, r);
        case Greater: return less(r, l);
        case LessEqual: return !less(r, l);
        case GreaterEqual: return !less(l, r);
        case NotEqual: return !equal(l, r);
        case Equal: return equal(l, r);
        case StrictEqual: return strictEqual(l, r);
        default: return false;
    }
}

}  // namespace tx::ops
