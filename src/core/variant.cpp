// Variant storage, copying and the conversions every other layer reads values through.
#include "core/variant.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <new>

#include "core/platform.h"

namespace tx {

PayloadOps g_objectOps;
PayloadOps g_structOps;

const char* kindName(uint32_t kind) {
    static const char* const names[] = {"Int32", "Int64",   "Double", "String",  "Array",  "Reference",
                                        "Ptr",   "Object",  "Bool",   "Keyword", "Binary", "DLLStruct"};
    if (kind >= 1 && kind <= 12) return names[kind - 1];
    return "Unknown";
}

const KeywordRecord* defaultKeyword() {
    static const KeywordRecord rec{41, -1, u"Default"};
    return &rec;
}

BinaryBlock* BinaryBlock::make(const void* data, size_t n) {
    if (n > 0x7FFFFFF0u) throw std::bad_alloc();
    size_t bytes = offsetof(BinaryBlock, bytes) + (n ? n : 1);
    auto* b = static_cast<BinaryBlock*>(std::malloc(bytes));
    if (!b) throw std::bad_alloc();
    b->len = static_cast<int32_t>(n);
    if (n) {
        if (data) std::memcpy(b->bytes, data, n);
        else std::memset(b->bytes, 0, n);
    } else {
        b->bytes[0] = 0;
    }
    return b;
}

Variant Variant::binary(const void* data, size_t n) {
    Variant r;
    r.v_.bin = BinaryBlock::make(data, n);
    r.kind_ = Kind::Binary;
    return r;
}

void Variant::releasePayload() noexcept {
    switch (kind_) {
        case Kind::Array:
            delete v_.arr;
            break;
        case Kind::Binary:
            std::free(v_.bin);
            break;
        case Kind::Object:
            if (v_.other && g_objectOps.release) g_objectOps.release(v_.other);
            break;
        case Kind::DLLStruct:
            if (v_.other && g_structOps.release) g_structOps.release(v_.other);
            break;
        default:
            break;
    }
}

void Variant::copyFrom(const Variant& o) {
    switch (o.kind_) {
        case Kind::Array:
            v_.arr = o.v_.arr->clone();
            break;
        case Kind::Binary:
            v_.bin = BinaryBlock::make(o.v_.bin->bytes, static_cast<size_t>(o.v_.bin->len));
            break;
        case Kind::Object:
            v_.other = (o.v_.other && g_objectOps.copy) ? g_objectOps.copy(o.v_.other) : nullptr;
            break;
        case Kind::DLLStruct:
            v_.other = (o.v_.other && g_structOps.copy) ? g_structOps.copy(o.v_.other) : nullptr;
            break;
        default:
            v_ = o.v_;
            break;
    }
    kind_ = o.kind_;
    str_ = o.str_;
}

// ---------------------------------------------------------------------------------------------------
// Arrays

ArrayData* ArrayData::create(const uint32_t* sizes, uint32_t ndims) {
    auto* a = new ArrayData;
    a->ndims = ndims;
    uint64_t total = 1;
    for (uint32_t i = 0; i < ndims; ++i) {
        a->dims[i] = sizes[i];
        total *= sizes[i];
    }
    a->total = static_cast<uint32_t>(total);
    a->store = new ArrayStore;
    a->store->elems.resize(a->total, Variant::emptyString());
    return a;
}

ArrayData* ArrayData::clone() const {
    auto* a = new ArrayData(*this);
    ++store->refs;
    return a;
}

ArrayData::~ArrayData() {
    if (store && --store->refs == 0 && store->pins == 0) delete store;
}

void ArrayData::makeUnique() {
    if (store->refs == 1) return;
    auto* s = new ArrayStore;
    s->elems = store->elems;  // element-by-element copy
    --store->refs;
    store = s;
}

// ---------------------------------------------------------------------------------------------------
// Number text

namespace {

bool isCrtSpace(char16_t c) { return c == u' ' || (c >= 9 && c <= 13); }

int hexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

// Reads [white space][sign]digits; returns the magnitude saturated at limit and the sign.
uint64_t readDecimal(u16view s, bool& neg, bool& overflow) {
    size_t i = 0;
    while (i < s.size() && isCrtSpace(s[i])) ++i;
    neg = false;
    overflow = false;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) {
        neg = s[i] == u'-';
        ++i;
    }
    uint64_t v = 0;
    for (; i < s.size() && isAsciiDigit(s[i]); ++i) {
        uint64_t d = s[i] - u'0';
        if (v > (UINT64_MAX - d) / 10) {
            overflow = true;
            v = UINT64_MAX;
        } else if (!overflow) {
            v = v * 10 + d;
        }
    }
    return v;
}

}  // namespace

bool parseHexPrefixed(u16view s, int maxDigits, uint64_t& value) {
    if (s.size() < 2 || s[0] != u'0' || (s[1] != u'x' && s[1] != u'X')) return false;
    value = 0;
    size_t n = s.size() - 2;
    if (n > static_cast<size_t>(maxDigits)) return true;
    uint64_t v = 0;
    for (size_t i = 2; i < s.size(); ++i) {
        int d = hexDigit(s[i]);
        if (d < 0) return true;
        v = (v << 4) | static_cast<uint64_t>(d);
    }
    value = v;
    return true;
}

int32_t parseDecimalInt32(u16view s) {
    bool neg, ovf;
    uint64_t v = readDecimal(s, neg, ovf);
    if (neg) return v >= 0x80000000ull ? INT32_MIN : -static_cast<int32_t>(v);
    return v > 0x7FFFFFFFull ? INT32_MAX : static_cast<int32_t>(v);
}

int64_t parseDecimalInt64(u16view s) {
    bool neg, ovf;
    uint64_t v = readDecimal(s, neg, ovf);
    if (neg) return v >= 0x8000000000000000ull ? INT64_MIN : -static_cast<int64_t>(v);
    return v > 0x7FFFFFFFFFFFFFFFull ? INT64_MAX : static_cast<int64_t>(v);
}

double parseDecimalDouble(u16view s) {
    size_t i = 0;
    while (i < s.size() && isCrtSpace(s[i])) ++i;
    std::string buf;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) buf.push_back(static_cast<char>(s[i++]));
    size_t digits = 0;
    while (i < s.size() && isAsciiDigit(s[i])) {
        buf.push_back(static_cast<char>(s[i++]));
        ++digits;
    }
    if (i < s.size() && s[i] == u'.') {
        buf.push_back('.');
        ++i;
        while (i < s.size() && isAsciiDigit(s[i])) {
            buf.push_back(static_cast<char>(s[i++]));
            ++digits;
        }
    }
    if (digits == 0) return 0.0;
    if (i < s.size() && (s[i] == u'e' || s[i] == u'E')) {
        size_t j = i + 1;
        std::string exp = "e";
        if (j < s.size() && (s[j] == u'+' || s[j] == u'-')) exp.push_back(static_cast<char>(s[j++]));
        size_t expDigits = 0;
        while (j < s.size() && isAsciiDigit(s[j])) {
            exp.push_back(static_cast<char>(s[j++]));
            ++expDigits;
        }
        if (expDigits) buf += exp;
    }
    return std::strtod(buf.c_str(), nullptr);
}

SString formatDouble(double d) {
    if (std::isinf(d)) return SString::fromLatin1(d < 0 ? "-1.#INF" : "1.#INF");
    if (std::isnan(d)) {
        uint64_t bits;
        std::memcpy(&bits, &d, 8);
        if (bits == 0xFFF8000000000000ull) return SString::fromLatin1("-1.#IND");
        return SString::fromLatin1(std::signbit(d) ? "-1.#QNAN" : "1.#QNAN");
    }
    char buf[64];
    int n = std::snprintf(buf, sizeof buf, "%.15g", d);
    if (n <= 0) return SString();
    std::string s(buf, static_cast<size_t>(n));
    size_t e = s.find('e');
    if (e != std::string::npos) {
        // Exponent: sign and at least three digits.
        std::string mant = s.substr(0, e);
        char sign = '+';
        size_t p = e + 1;
        if (p < s.size() && (s[p] == '+' || s[p] == '-')) sign = s[p++];
        std::string digits = s.substr(p);
        while (digits.size() > 3 && digits[0] == '0') digits.erase(0, 1);
        while (digits.size() < 3) digits.insert(0, "0");
        s = mant + "e" + sign + digits;
    }
    return SString::fromLatin1(s);
}

// ---------------------------------------------------------------------------------------------------
// Conversions

namespace {

uint64_t doubleBits(double d) {
    uint64_t b;
    std::memcpy(&b, &d, 8);
    return b;
}

// Truncation as the processor does it: values outside the Int64 range (and NaN) give the most negative Int64.
int64_t truncToInt64(double d) {
    if (!(d > -9223372036854775808.0 && d < 9223372036854775808.0)) return INT64_MIN;
    return static_cast<int64_t>(d);
}

int64_t doubleToInt64(double x) {
    if (x == 0.0) return 0;
    int64_t ti = truncToInt64(x);
    if (ti == INT64_MIN) return ti;
    double t = static_cast<double>(ti);
    // A value a few units in the last place below the next integer is taken as that integer, so that
    // results like 2.9999999999999996 read as 3. Integral values are exact already and keep their value.
    if (t == x) return ti;
    if (x > 0) {
        double t1 = t + 1.0;
        int64_t span = static_cast<int64_t>(doubleBits(t1) - doubleBits(t));
        int64_t dist = static_cast<int64_t>(doubleBits(x) - doubleBits(t));
        if (dist >= span - 10) return truncToInt64(t1);
    } else {
        double t1 = t - 1.0;
        int64_t span = static_cast<int64_t>(doubleBits(t1) - doubleBits(t));
        int64_t dist = static_cast<int64_t>(doubleBits(x) - doubleBits(t));
        if (dist >= span - 10) return truncToInt64(t1);
    }
    return ti;
}

uint64_t littleEndian(const uint8_t* p, size_t n) {
    uint64_t v = 0;
    for (size_t i = n; i-- > 0;) v = (v << 8) | p[i];
    return v;
}

}  // namespace

int32_t Variant::toInt32() const {
    switch (kind_) {
        case Kind::Int32: return v_.i32;
        case Kind::Int64: return static_cast<int32_t>(v_.i64);
        case Kind::Ptr: return static_cast<int32_t>(v_.p);
        case Kind::Double: return static_cast<int32_t>(truncToInt64(v_.d));
        case Kind::String: {
            uint64_t h;
            if (parseHexPrefixed(str_.view(), 8, h)) return static_cast<int32_t>(static_cast<uint32_t>(h));
            return parseDecimalInt32(str_.view());
        }
        case Kind::Bool: return v_.b ? 1 : 0;
        case Kind::Keyword: return v_.kw ? v_.kw->value : 0;
        case Kind::Binary:
            if (v_.bin->len <= 4) return static_cast<int32_t>(static_cast<uint32_t>(littleEndian(v_.bin->bytes, v_.bin->len)));
            return 0;
        default: return 0;
    }
}

int64_t Variant::toInt64() const {
    switch (kind_) {
        case Kind::Int32: return v_.i32;
        case Kind::Ptr: return static_cast<int64_t>(static_cast<intptr_t>(v_.p));
        case Kind::Int64: return v_.i64;
        case Kind::Double: return doubleToInt64(v_.d);
        case Kind::String: {
            uint64_t h;
            if (parseHexPrefixed(str_.view(), 16, h)) return static_cast<int64_t>(h);
            return parseDecimalInt64(str_.view());
        }
        case Kind::Bool: return v_.b ? 1 : 0;
        case Kind::Binary:
            if (v_.bin->len <= 8) return static_cast<int64_t>(littleEndian(v_.bin->bytes, v_.bin->len));
            return 0;
        default: return 0;
    }
}

double Variant::toDouble() const {
    switch (kind_) {
        case Kind::Int32: return v_.i32;
        case Kind::Int64: return static_cast<double>(v_.i64);
        case Kind::Double: return v_.d;
        case Kind::String: {
            uint64_t h;
            if (parseHexPrefixed(str_.view(), 8, h)) return static_cast<double>(h);
            return parseDecimalDouble(str_.view());
        }
        case Kind::Bool: return v_.b ? 1.0 : 0.0;
        case Kind::Keyword: return v_.kw ? v_.kw->value : 0.0;
        default: return 0.0;
    }
}

uintptr_t Variant::toPtr() const {
    switch (kind_) {
        case Kind::Ptr: return v_.p;
        case Kind::Int32:
        case Kind::Int64:
        case Kind::Double:
        case Kind::String: return static_cast<uintptr_t>(toInt64());
        default: return 0;
    }
}

const SString& Variant::toString() const {
    if (kind_ == Kind::String || !str_.empty()) return str_;
    char buf[40];
    switch (kind_) {
        case Kind::Int32:
            std::snprintf(buf, sizeof buf, "%ld", static_cast<long>(v_.i32));
            str_ = SString::fromLatin1(buf);
            break;
        case Kind::Int64:
            std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(v_.i64));
            str_ = SString::fromLatin1(buf);
            break;
        case Kind::Double: str_ = formatDouble(v_.d); break;
        case Kind::Ptr: {
            static const char hex[] = "0123456789ABCDEF";
            std::string s = "0x";
            for (int shift = static_cast<int>(sizeof(uintptr_t)) * 8 - 4; shift >= 0; shift -= 4)
                s.push_back(hex[(v_.p >> shift) & 0xF]);
            str_ = SString::fromLatin1(s);
            break;
        }
        case Kind::Bool: str_ = SString::fromLatin1(v_.b ? "True" : "False"); break;
        case Kind::Keyword: str_ = v_.kw ? SString(v_.kw->name) : SString(); break;
        case Kind::Binary: {
            static const char16_t hex[] = u"0123456789ABCDEF";
            size_t n = static_cast<size_t>(v_.bin->len);
            if (n == 0) break;
            SString s = SString::withLength(2 + 2 * n);
            char16_t* d = s.mutableData();
            d[0] = u'0';
            d[1] = u'x';
            for (size_t i = 0; i < n; ++i) {
                d[2 + 2 * i] = hex[v_.bin->bytes[i] >> 4];
                d[3 + 2 * i] = hex[v_.bin->bytes[i] & 15];
            }
            str_ = std::move(s);
            break;
        }
        default: break;
    }
    return str_;
}

bool Variant::isTrue() const {
    switch (kind_) {
        case Kind::Int32: return v_.i32 != 0;
        case Kind::Int64: return v_.i64 != 0;
        case Kind::Ptr: return v_.p != 0;
        case Kind::Double: return v_.d != 0.0;
        case Kind::String: return !str_.empty();
        case Kind::Bool: return v_.b != 0;
        case Kind::Binary: return v_.bin->len != 0;
        default: return false;
    }
}

void Variant::toBinary() {
    uint8_t raw[8];
    size_t n = 0;
    switch (kind_) {
        case Kind::Binary: return;
        case Kind::Int32: std::memcpy(raw, &v_.i32, 4); n = 4; break;
        case Kind::Ptr: {
            uint32_t lo = static_cast<uint32_t>(v_.p);
            std::memcpy(raw, &lo, 4);
            n = 4;
            break;
        }
        case Kind::Int64: std::memcpy(raw, &v_.i64, 8); n = 8; break;
        case Kind::Double: std::memcpy(raw, &v_.d, 8); n = 8; break;
        case Kind::Bool: raw[0] = v_.b ? 1 : 0; n = 1; break;
        case Kind::Keyword: {
            int32_t k = v_.kw ? v_.kw->value : 0;
            std::memcpy(raw, &k, 4);
            n = 4;
            break;
        }
        case Kind::String: {
            u16view s = str_.view();
            bool hex = s.size() >= 2 && s[0] == u'0' && (s[1] == u'x' || s[1] == u'X') && (s.size() - 2) % 2 == 0;
            for (size_t i = 2; hex && i < s.size(); ++i)
                if (hexDigit(s[i]) < 0) hex = false;
            if (hex) {
                size_t count = (s.size() - 2) / 2;
                BinaryBlock* b = BinaryBlock::make(nullptr, count);
                for (size_t i = 0; i < count; ++i)
                    b->bytes[i] = static_cast<uint8_t>(hexDigit(s[2 + 2 * i]) * 16 + hexDigit(s[3 + 2 * i]));
                clear();
                v_.bin = b;
                kind_ = Kind::Binary;
                return;
            }
            std::string a = platform::toAnsi(s);
            BinaryBlock* b = BinaryBlock::make(a.data(), a.size());
            clear();
            v_.bin = b;
            kind_ = Kind::Binary;
            return;
        }
        default: n = 0; break;
    }
    BinaryBlock* b = BinaryBlock::make(raw, n);
    clear();
    v_.bin = b;
    kind_ = Kind::Binary;
}

void Variant::toDoubleInPlace() {
    if (kind_ == Kind::Double) return;
    double d = toDouble();
    setDouble(d);
}

}  // namespace tx
