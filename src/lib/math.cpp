// Math, bit and random built-ins.
//
// The floating-point functions hand toDouble of their argument to the C library and return its result as
// it is (NaN and infinities included; they never set @error). The bit operations work on the 32-bit
// toInt32 form. RANDOM draws from one process-wide MT19937 generator; until SRANDOM seeds it, the first
// draw seeds it with the current time in seconds, so unseeded runs differ while seeded runs repeat exactly.
#include "lib/math.h"

#include <cmath>
#include <cstdint>
#include <ctime>
#include <random>

#include "core/engine.h"

namespace tx {

namespace {

// ---- floating-point functions ----------------------------------------------------------------------------

template <double (*F)(double)>
int unaryDouble(Engine&, Args& a, Variant& r) {
    r.setDouble(F(a.dbl(0)));
    return 0;
}

double absD(double x) { return std::fabs(x); }
double acosD(double x) { return std::acos(x); }
double asinD(double x) { return std::asin(x); }
double atanD(double x) { return std::atan(x); }
double cosD(double x) { return std::cos(x); }
double expD(double x) { return std::exp(x); }
double logD(double x) { return std::log(x); }
double sinD(double x) { return std::sin(x); }
double sqrtD(double x) { return std::sqrt(x); }
double tanD(double x) { return std::tan(x); }

// Int64 through the language's double-to-Int64 conversion (which takes values a few units in the last
// place below an integer as that integer).
void setInt64FromDouble(Variant& r, double d) { r.setInt64(Variant::dbl(d).toInt64()); }

// ---- random generator ------------------------------------------------------------------------------------

struct RandomState {
    std::mt19937 mt;
    bool seeded = false;

    uint32_t next() {
        if (!seeded) seed(static_cast<uint32_t>(std::time(nullptr)));
        return mt();
    }
    // Standard MT19937 seeding; the next draw starts with a fresh twist.
    void seed(uint32_t s) {
        mt.seed(s);
        seeded = true;
    }
    // A Double in [0, 1).
    double unit() { return next() / 4294967296.0; }
};

RandomState& rng() {
    static RandomState state;
    return state;
}

// Reads the bit width of a BITROTATE size argument: 8, 16 or 32, or 0 for an unknown size.
int rotateWidth(const Args& a, int i) {
    if (!a.given(i)) return 16;
    const SString& s = a.str(i);
    if (s.empty()) return 16;
    switch (s[0]) {
        case u'B': case u'b': return 8;
        case u'W': case u'w': return 16;
        case u'D': case u'd': return 32;
        default: return 0;
    }
}

}  // namespace

int bi_ABS(Engine& e, Args& a, Variant& r) { return unaryDouble<absD>(e, a, r); }
int bi_ACOS(Engine& e, Args& a, Variant& r) { return unaryDouble<acosD>(e, a, r); }
int bi_ASIN(Engine& e, Args& a, Variant& r) { return unaryDouble<asinD>(e, a, r); }
int bi_ATAN(Engine& e, Args& a, Variant& r) { return unaryDouble<atanD>(e, a, r); }
int bi_COS(Engine& e, Args& a, Variant& r) { return unaryDouble<cosD>(e, a, r); }
int bi_EXP(Engine& e, Args& a, Variant& r) { return unaryDouble<expD>(e, a, r); }
int bi_LOG(Engine& e, Args& a, Variant& r) { return unaryDouble<logD>(e, a, r); }
int bi_SIN(Engine& e, Args& a, Variant& r) { return unaryDouble<sinD>(e, a, r); }
int bi_SQRT(Engine& e, Args& a, Variant& r) { return unaryDouble<sqrtD>(e, a, r); }
int bi_TAN(Engine& e, Args& a, Variant& r) { return unaryDouble<tanD>(e, a, r); }

int bi_CEILING(Engine&, Args& a, Variant& r) {
    setInt64FromDouble(r, std::ceil(a.dbl(0)));
    return 0;
}

int bi_FLOOR(Engine&, Args& a, Variant& r) {
    setInt64FromDouble(r, std::floor(a.dbl(0)));
    return 0;
}

// Half away from zero at the given number of decimals; without decimals the result is an Int64.
int bi_ROUND(Engine&, Args& a, Variant& r) {
    double x = a.dbl(0);
    double f = std::pow(10.0, a.dblOr(1, 0.0));
    double y = x >= 0 ? std::floor(x * f + 0.5) / f : std::ceil(x * f - 0.5) / f;
    if (a.given(1)) r.setDouble(y);
    else setInt64FromDouble(r, y);
    return 0;
}

// Integer remainder (sign of the dividend) when both operands are integers, else fmod. An integer divisor
// of 0 has no integer remainder: the result is then fmod's NaN, and @error 1 says so.
int bi_MOD(Engine& e, Args& a, Variant& r) {
    const Variant& x = a[0];
    const Variant& y = a[1];
    auto isInt = [](const Variant& v) { return v.is(Kind::Int32) || v.is(Kind::Int64); };
    if (isInt(x) && isInt(y)) {
        int64_t d = y.toInt64();
        if (d != 0) {
            int64_t n = x.toInt64();
            int64_t m = d == -1 ? 0 : n % d;  // INT64_MIN % -1 traps on x86
            if (x.is(Kind::Int32) && y.is(Kind::Int32)) r.setInt32(static_cast<int32_t>(m));
            else r.setInt64(m);
            return 0;
        }
        e.setError(1);
    }
    r.setDouble(std::fmod(x.toDouble(), y.toDouble()));
    return 0;
}

// ---- bit operations ------------------------------------------------------------------------------------

template <class Op>
int foldBits(Args& a, Variant& r, Op op) {
    uint32_t acc = static_cast<uint32_t>(a.int32(0));
    for (int i = 1; i < a.count(); ++i) acc = op(acc, static_cast<uint32_t>(a.int32(i)));
    r.setInt32(static_cast<int32_t>(acc));
    return 0;
}

int bi_BITAND(Engine&, Args& a, Variant& r) { return foldBits(a, r, [](uint32_t x, uint32_t y) { return x & y; }); }
int bi_BITOR(Engine&, Args& a, Variant& r) { return foldBits(a, r, [](uint32_t x, uint32_t y) { return x | y; }); }
int bi_BITXOR(Engine&, Args& a, Variant& r) { return foldBits(a, r, [](uint32_t x, uint32_t y) { return x ^ y; }); }

int bi_BITNOT(Engine&, Args& a, Variant& r) {
    r.setInt32(static_cast<int32_t>(~static_cast<uint32_t>(a.int32(0))));
    return 0;
}

// Right (arithmetic) for a count of 0 or more, left for a negative count; the count is taken modulo 32.
int bi_BITSHIFT(Engine&, Args& a, Variant& r) {
    int32_t x = a.int32(0);
    int64_t n = a.int32(1);
    if (n >= 0) {
        r.setInt32(x >> (n % 32));
    } else {
        r.setInt32(static_cast<int32_t>(static_cast<uint32_t>(x) << ((-n) % 32)));
    }
    return 0;
}

// Rotates the low 8, 16 or 32 bits of x left by n (negative n: right); higher bits stay as they are.
int bi_BITROTATE(Engine& e, Args& a, Variant& r) {
    int w = rotateWidth(a, 2);
    r.setInt32(0);
    if (w == 0) {
        e.setError(1);
        return 0;
    }
    uint32_t x = static_cast<uint32_t>(a.int32(0));
    int64_t n = a.int32Or(1, 1) % w;
    if (n < 0) n += w;
    if (n == 0) {
        r.setInt32(static_cast<int32_t>(x));
        return 0;
    }
    uint32_t mask = w == 32 ? 0xFFFFFFFFu : ((1u << w) - 1);
    uint32_t low = x & mask;
    uint32_t rotated = ((low << n) | (low >> (w - n))) & mask;
    r.setInt32(static_cast<int32_t>((x & ~mask) | rotated));
    return 0;
}

// ---- random numbers ------------------------------------------------------------------------------------

int bi_RANDOM(Engine& e, Args& a, Variant& r) {
    r.setInt32(0);
    RandomState& g = rng();
    int n = a.count();
    if (n == 0) {
        r.setDouble(g.unit());
        return 0;
    }
    if (n == 1) {
        double max = a.dbl(0);
        if (max > 0) r.setDouble(g.unit() * max);
        else e.setError(1);
        return 0;
    }
    if (a[0].isString() || a[1].isString()) {
        e.setError(1);
        return 0;
    }
    if (a.int32Or(2, 0) == 1) {
        int32_t lo = a.int32(0), hi = a.int32(1);
        // The span in 32-bit arithmetic: a range wider than Int32 wraps to a negative span and fails.
        int32_t span = static_cast<int32_t>(static_cast<uint32_t>(hi) - static_cast<uint32_t>(lo));
        if (lo < hi && span > 0) {
            uint32_t m = span < 0x7FFFFFF ? static_cast<uint32_t>(span) + 1 : static_cast<uint32_t>(span);
            uint32_t k = g.next() >> 1;
            r.setInt32(static_cast<int32_t>(static_cast<uint32_t>(lo) + k % m));
        } else {
            e.setError(1);
        }
        return 0;
    }
    double lo = a.dbl(0), hi = a.dbl(1);
    if (lo < hi) r.setDouble(lo + g.unit() * (hi - lo));
    else e.setError(1);
    return 0;
}

int bi_SRANDOM(Engine&, Args& a, Variant&) {
    rng().seed(static_cast<uint32_t>(a.int32(0)));
    return 0;
}

}  // namespace tx
