// Variant: the one value type of the script language.
//
// Every variable, array element, constant, literal, argument and result is a Variant. A Variant holds
//   - an 8-byte value (Int32, Int64, Double, Bool, a pointer-sized Ptr, or a pointer to an owned payload),
//   - a kind code (1..12, see Kind; the numbers are visible to scripts through VARGETTYPE), and
//   - a shared string slot: for kind String it is the string itself; for every other kind it caches the
//     value's string form, made on demand by toString() and dropped whenever the value changes.
//
// Ownership and copying:
//   String     shares its buffer (reference count, copy on write).
//   Array      owns a header (shape); the element store is shared by copies and cloned before the first
//              change through a copy (ArrayData::makeUnique), so arrays behave as values.
//   Binary     owns its bytes; copies are deep.
//   Object and DLLStruct own records handled by the interop layer through PayloadOps (copy/release), so
//              this file stays free of COM and structure details.
//   Keyword    points at a static immutable record (the language only makes DEFAULT).
//   Reference  points at another Variant it does not own; it carries by-reference arguments.
// A fresh Variant is Int32 0 with no cached string form. Clearing any kind leaves Int32 0.
//
// Conversions never fail: what cannot be read gives 0, 0.0, "", false or an empty Binary.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/sstring.h"

namespace tx {

enum class Kind : uint32_t {
    Int32 = 1,
    Int64 = 2,
    Double = 3,
    String = 4,
    Array = 5,
    Reference = 6,
    Ptr = 7,
    Object = 8,
    Bool = 9,
    Keyword = 10,
    Binary = 11,
    DLLStruct = 12,
};

const char* kindName(uint32_t kind);  // "Int32" ... "DLLStruct", or "Unknown"

struct KeywordRecord {
    int32_t code;
    int32_t value;
    const char16_t* name;
};
// The only keyword value the language creates: code 41, numeric value -1, name "Default".
const KeywordRecord* defaultKeyword();

struct BinaryBlock {
    int32_t len;
    uint8_t bytes[1];  // len bytes follow (at least one byte, holding 0 when empty)
    static BinaryBlock* make(const void* data, size_t n);
};

// Copy and release operations for payloads owned by other layers (COM objects, DLL structures).
struct PayloadOps {
    void* (*copy)(void* payload) = nullptr;     // returns an owned copy, or nullptr
    void (*release)(void* payload) = nullptr;   // frees an owned payload
};
extern PayloadOps g_objectOps;
extern PayloadOps g_structOps;

class Variant;
struct ArrayData;

class Variant {
public:
    Variant() noexcept : kind_(Kind::Int32) { v_.i64 = 0; }
    ~Variant() {
        if (hasPayload()) releasePayload();
    }
    Variant(const Variant& o) : kind_(Kind::Int32) {
        if (o.hasPayload()) {
            v_.i64 = 0;
            copyFrom(o);
        } else {
            v_ = o.v_;
            kind_ = o.kind_;
            str_ = o.str_;
        }
    }
    Variant(Variant&& o) noexcept : kind_(o.kind_), str_(std::move(o.str_)) {
        v_ = o.v_;
        o.kind_ = Kind::Int32;
        o.v_.i64 = 0;
    }
    Variant& operator=(const Variant& o) {
        if (this != &o) {
            Variant tmp(o);  // o may live inside this value (an array element)
            *this = std::move(tmp);
        }
        return *this;
    }
    Variant& operator=(Variant&& o) noexcept {
        if (this != &o) {
            Variant old(std::move(*this));
            kind_ = o.kind_;
            v_ = o.v_;
            str_ = std::move(o.str_);
            o.kind_ = Kind::Int32;
            o.v_.i64 = 0;
        }
        return *this;
    }

    // Construction helpers (named, so that an int never silently becomes a Double or a Bool).
    static Variant int32(int32_t x) { Variant r; r.v_.i32 = x; return r; }
    static Variant int64(int64_t x) { Variant r; r.kind_ = Kind::Int64; r.v_.i64 = x; return r; }
    static Variant dbl(double x) { Variant r; r.kind_ = Kind::Double; r.v_.d = x; return r; }
    static Variant boolean(bool x) { Variant r; r.kind_ = Kind::Bool; r.v_.i64 = 0; r.v_.b = x ? 1 : 0; return r; }
    static Variant ptr(uintptr_t x) { Variant r; r.kind_ = Kind::Ptr; r.v_.i64 = 0; r.v_.p = x; return r; }
    static Variant string(SString s) { Variant r; r.kind_ = Kind::String; r.str_ = std::move(s); return r; }
    static Variant string(u16view s) { return string(SString(s)); }
    static Variant emptyString() { Variant r; r.kind_ = Kind::String; return r; }
    static Variant keyword(const KeywordRecord* k) { Variant r; r.kind_ = Kind::Keyword; r.v_.kw = k; return r; }
    static Variant defaultValue() { return keyword(defaultKeyword()); }
    static Variant binary(const void* data, size_t n);
    static Variant reference(Variant* target) { Variant r; r.kind_ = Kind::Reference; r.v_.ref = target; return r; }
    static Variant array(ArrayData* a) { Variant r; r.kind_ = Kind::Array; r.v_.arr = a; return r; }
    // Takes ownership of an interop payload.
    static Variant object(void* payload) { Variant r; r.kind_ = Kind::Object; r.v_.other = payload; return r; }
    static Variant dllStruct(void* payload) { Variant r; r.kind_ = Kind::DLLStruct; r.v_.other = payload; return r; }

    void clear() noexcept {
        if (hasPayload()) releasePayload();
        kind_ = Kind::Int32;
        v_.i64 = 0;
        str_.clear();
    }
    void setInt32(int32_t x) { clear(); v_.i32 = x; }
    void setInt64(int64_t x) { clear(); kind_ = Kind::Int64; v_.i64 = x; }
    void setDouble(double x) { clear(); kind_ = Kind::Double; v_.d = x; }
    void setBool(bool x) { clear(); kind_ = Kind::Bool; v_.b = x ? 1 : 0; }
    void setPtr(uintptr_t x) { clear(); kind_ = Kind::Ptr; v_.p = x; }
    void setString(SString s) { clear(); kind_ = Kind::String; str_ = std::move(s); }
    void setString(u16view s) { setString(SString(s)); }

    Kind kind() const noexcept { return kind_; }
    uint32_t kindCode() const noexcept { return static_cast<uint32_t>(kind_); }
    const char* typeName() const { return kindName(kindCode()); }
    bool is(Kind k) const noexcept { return kind_ == k; }
    bool isString() const noexcept { return kind_ == Kind::String; }
    bool isArray() const noexcept { return kind_ == Kind::Array; }
    bool isNumber() const noexcept { return kind_ == Kind::Int32 || kind_ == Kind::Int64 || kind_ == Kind::Double; }
    bool isDefaultKeyword() const noexcept { return kind_ == Kind::Keyword && v_.kw && v_.kw->code == 41; }

    // Raw payload access (the caller has checked the kind).
    int32_t rawInt32() const noexcept { return v_.i32; }
    int64_t rawInt64() const noexcept { return v_.i64; }
    double rawDouble() const noexcept { return v_.d; }
    bool rawBool() const noexcept { return v_.b != 0; }
    uintptr_t rawPtr() const noexcept { return v_.p; }
    const SString& rawString() const noexcept { return str_; }
    SString& mutableString() noexcept { return str_; }  // kind String only
    ArrayData* rawArray() const noexcept { return v_.arr; }
    Variant* rawReference() const noexcept { return v_.ref; }
    const KeywordRecord* rawKeyword() const noexcept { return v_.kw; }
    BinaryBlock* rawBinary() const noexcept { return v_.bin; }
    void* rawOther() const noexcept { return v_.other; }
    // Gives up an interop payload without releasing it (the value becomes Int32 0).
    void* detachOther() noexcept {
        void* p = v_.other;
        kind_ = Kind::Int32;
        v_.i64 = 0;
        str_.clear();
        return p;
    }

    // Conversions.
    int32_t toInt32() const;
    int64_t toInt64() const;
    double toDouble() const;
    uintptr_t toPtr() const;
    const SString& toString() const;  // shared form, cached for non-string kinds
    bool isTrue() const;
    void toBinary();
    void toDoubleInPlace();
    // Bytes of a Binary (empty span for other kinds).
    const uint8_t* binaryData() const noexcept { return kind_ == Kind::Binary ? v_.bin->bytes : nullptr; }
    size_t binaryLength() const noexcept { return kind_ == Kind::Binary ? static_cast<size_t>(v_.bin->len) : 0; }

    // Drops the cached string form (call after changing the value in place).
    void dropStringForm() noexcept {
        if (kind_ != Kind::String) str_.clear();
    }

private:
    // Kinds that own something to release (the others are plain bits).
    bool hasPayload() const noexcept {
        return kind_ == Kind::Array || kind_ == Kind::Binary || kind_ == Kind::Object || kind_ == Kind::DLLStruct;
    }
    union Value {
        int32_t i32;
        int64_t i64;
        double d;
        uint8_t b;
        uintptr_t p;
        ArrayData* arr;
        Variant* ref;
        const KeywordRecord* kw;
        BinaryBlock* bin;
        void* other;
    };
    void releasePayload() noexcept;
    void copyFrom(const Variant& o);

    Value v_;
    Kind kind_;
    mutable SString str_;
};

// Arrays: shape plus a shared, reference-counted element store. Elements are stored in place, row-major
// (last subscript fastest); an element that was never written is the empty String.
constexpr int kMaxDims = 64;
constexpr uint32_t kMaxElements = 16777216;

struct ArrayStore {
    long refs = 1;   // array headers sharing the store
    long pins = 0;   // holders of a pointer to one of the elements (see StorePin in core/engine.h)
    std::vector<Variant> elems;
};

struct ArrayData {
    ArrayStore* store = nullptr;
    uint32_t ndims = 0;
    uint32_t total = 0;
    uint32_t dims[kMaxDims] = {};

    // A new array of the given shape with every element the empty String. The caller has checked limits.
    static ArrayData* create(const uint32_t* sizes, uint32_t ndims);
    ArrayData* clone() const;  // header copy sharing the store
    ~ArrayData();
    // Gives this header a private element store (copy on write) before a change.
    void makeUnique();
    Variant& at(uint32_t flatIndex) { return store->elems[flatIndex]; }
    const Variant& at(uint32_t flatIndex) const { return store->elems[flatIndex]; }
};

// Formats a double the way the runtime prints numbers ("%.15g" with an exponent of at least three digits).
SString formatDouble(double d);
// C-runtime-style readers over UTF-16 text (leading white space, optional sign, decimal digits).
int32_t parseDecimalInt32(u16view s);
int64_t parseDecimalInt64(u16view s);
double parseDecimalDouble(u16view s);
// Reads a "0x" string: returns false when s does not start with 0x/0X. When it does, value receives the
// digits (0 when a character is not a hex digit or there are more than maxDigits).
bool parseHexPrefixed(u16view s, int maxDigits, uint64_t& value);

}  // namespace tx
