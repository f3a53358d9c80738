// The type-name table of DLL calls and callbacks and the conversions between script values and cells.
#include "interop/native_types.h"

#include <cstring>

#include "core/platform.h"

namespace tx::native {

namespace {

struct TypeName {
    const char* name;
    TypeClass cls;
};

// In lookup order.
constexpr TypeName kTypes[] = {
    {"str", TypeClass::Str},          {"wstr", TypeClass::WStr},           {"int", TypeClass::Int},
    {"bool", TypeClass::Int},         {"long", TypeClass::Int},            {"uint", TypeClass::UInt},
    {"ulong", TypeClass::UInt},       {"dword", TypeClass::UInt},          {"short", TypeClass::Short},
    {"ushort", TypeClass::UShort},    {"word", TypeClass::UShort},         {"byte", TypeClass::Byte},
    {"ubyte", TypeClass::Byte},       {"boolean", TypeClass::Byte},        {"float", TypeClass::Float},
    {"double", TypeClass::Double},    {"ptr", TypeClass::Ptr},             {"hwnd", TypeClass::Ptr},
    {"handle", TypeClass::Ptr},       {"lresult", TypeClass::IntPtr},      {"lparam", TypeClass::IntPtr},
    {"int_ptr", TypeClass::IntPtr},   {"long_ptr", TypeClass::IntPtr},     {"wparam", TypeClass::UIntPtr},
    {"uint_ptr", TypeClass::UIntPtr}, {"ulong_ptr", TypeClass::UIntPtr},   {"dword_ptr", TypeClass::UIntPtr},
    {"int64", TypeClass::Int64},      {"uint64", TypeClass::UInt64},       {"idispatch", TypeClass::IDispatch},
};

char16_t asciiLower(char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c; }

// name (any case) equals the lower-case ASCII word.
bool sameWord(u16view name, const char* word) {
    size_t n = std::strlen(word);
    if (name.size() != n) return false;
    for (size_t i = 0; i < n; ++i)
        if (asciiLower(name[i]) != char16_t(static_cast<unsigned char>(word[i]))) return false;
    return true;
}

constexpr bool kPtr64 = sizeof(void*) == 8;

template <class T>
T bitsAs(uint64_t cell) {
    T v;
    std::memcpy(&v, &cell, sizeof v);
    return v;
}

}  // namespace

DispatchHooks& dispatchHooks() {
    static DispatchHooks hooks;
    return hooks;
}

bool parseType(u16view name, bool allowNone, NativeType& out) {
    out = NativeType{};
    if (!name.empty() && name.back() == u'*') {
        out.byRef = true;
        name.remove_suffix(1);
    }
    if (sameWord(name, "none")) {
        out.cls = TypeClass::None;
        return allowNone && !out.byRef;
    }
    for (const TypeName& t : kTypes) {
        if (sameWord(name, t.name)) {
            out.cls = t.cls;
            return true;
        }
    }
    return false;
}

bool parseReturnType(u16view text, NativeType& type, Convention& conv) {
    conv = Convention::Stdcall;
    size_t colon = text.find(u':');
    if (colon != u16view::npos) {
        u16view c = text.substr(colon + 1);
        if (sameWord(c, "cdecl")) conv = Convention::Cdecl;
        else if (!sameWord(c, "winapi") && !sameWord(c, "stdcall")) return false;
        text = text.substr(0, colon);
    }
    return parseType(text, true, type);
}

uint64_t toCell(TypeClass cls, const Variant& v) {
    switch (cls) {
        case TypeClass::Byte: return static_cast<uint8_t>(v.toInt64());
        case TypeClass::Short: return static_cast<uint64_t>(static_cast<int64_t>(static_cast<int16_t>(v.toInt64())));
        case TypeClass::UShort: return static_cast<uint16_t>(v.toInt64());
        case TypeClass::Int: return static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(v.toInt64())));
        case TypeClass::UInt: return static_cast<uint32_t>(v.toInt64());
        case TypeClass::Ptr: return static_cast<uint64_t>(v.toPtr());
        case TypeClass::IntPtr:
        case TypeClass::UIntPtr:
            if (kPtr64) return static_cast<uint64_t>(v.toInt64());
            return static_cast<uint32_t>(v.toInt64());
        case TypeClass::Float: {
            float f = static_cast<float>(v.toDouble());
            uint32_t bits;
            std::memcpy(&bits, &f, sizeof bits);
            return bits;
        }
        case TypeClass::Double: {
            double d = v.toDouble();
            uint64_t bits;
            std::memcpy(&bits, &d, sizeof bits);
            return bits;
        }
        case TypeClass::Int64:
        case TypeClass::UInt64: return static_cast<uint64_t>(v.toInt64());
        case TypeClass::IDispatch:
            if (v.is(Kind::Object) && dispatchHooks().dispatchOf)
                return reinterpret_cast<uintptr_t>(dispatchHooks().dispatchOf(v));
            return 0;
        default: return 0;
    }
}

void fromCell(TypeClass cls, uint64_t cell, Variant& out, size_t textLimit) {
    switch (cls) {
        case TypeClass::Byte: out.setInt32(bitsAs<uint8_t>(cell)); return;
        case TypeClass::Short: out.setInt32(bitsAs<int16_t>(cell)); return;
        case TypeClass::UShort: out.setInt32(bitsAs<uint16_t>(cell)); return;
        case TypeClass::Int: out.setInt32(bitsAs<int32_t>(cell)); return;
        case TypeClass::UInt: out.setInt64(bitsAs<uint32_t>(cell)); return;
        case TypeClass::Ptr: out.setPtr(bitsAs<uintptr_t>(cell)); return;
        case TypeClass::IntPtr:
        case TypeClass::UIntPtr:
            if (kPtr64) out.setInt64(bitsAs<int64_t>(cell));
            else out.setInt32(bitsAs<int32_t>(cell));
            return;
        case TypeClass::Float: out.setDouble(bitsAs<float>(cell)); return;
        case TypeClass::Double: out.setDouble(bitsAs<double>(cell)); return;
        case TypeClass::Int64:
        case TypeClass::UInt64: out.setInt64(bitsAs<int64_t>(cell)); return;
        case TypeClass::Str: {
            const char* p = reinterpret_cast<const char*>(bitsAs<uintptr_t>(cell));
            if (!p) {
                out = Variant::emptyString();
                return;
            }
            size_t n = textLimit == SIZE_MAX ? std::strlen(p) : strnlen(p, textLimit);
            out = Variant::string(platform::fromAnsi(p, n));
            return;
        }
        case TypeClass::WStr: {
            const char16_t* p = reinterpret_cast<const char16_t*>(bitsAs<uintptr_t>(cell));
            size_t n = 0;
            if (p)
                while (n < textLimit && p[n]) ++n;
            out = n ? Variant::string(SString(p, n)) : Variant::emptyString();
            return;
        }
        case TypeClass::IDispatch:
            // Only the returned pointer comes here: its reference passes to the Object.
            if (cell && dispatchHooks().objectFrom && dispatchHooks().objectFrom(bitsAs<void*>(cell), false, out))
                return;
            out.setPtr(bitsAs<uintptr_t>(cell));
            return;
        default: out = Variant::emptyString(); return;
    }
}

}  // namespace tx::native
