// Token stream encoding and decoding (see token_stream.h for the layout).
#include "host/token_stream.h"

#include <cstring>

#include "core/builtins.h"
#include "host/container_format.h"

namespace tx {

namespace {

enum : uint8_t {
    TypeInt32 = 0x05,
    TypeInt64 = 0x10,
    TypeDouble = 0x20,
    TypeKeyword = 0x30,
    TypeBuiltin = 0x31,
    TypeDirective = 0x37,
    TypeEndOfLine = 0x7F,
};

void putString(std::vector<uint8_t>& out, u16view s) {
    uint32_t n = static_cast<uint32_t>(s.size());
    qx::putLE32(out, n);
    uint16_t k = qx::stringKey(n);
    for (char16_t c : s) {
        uint16_t u = static_cast<uint16_t>(c ^ k);
        out.push_back(static_cast<uint8_t>(u));
        out.push_back(static_cast<uint8_t>(u >> 8));
    }
}

void putAsciiString(std::vector<uint8_t>& out, const char* s) {
    std::u16string w;
    for (; *s; ++s) w.push_back(static_cast<unsigned char>(*s));
    putString(out, w);
}

void putRaw(std::vector<uint8_t>& out, const void* p, size_t n) {
    const uint8_t* b = static_cast<const uint8_t*>(p);
    out.insert(out.end(), b, b + n);  // the targets are little-endian, as the format is
}

class Reader {
public:
    Reader(const uint8_t* p, size_t n) : p_(p), n_(n) {}
    bool raw(void* dst, size_t k) {
        if (n_ - at_ < k) return false;
        std::memcpy(dst, p_ + at_, k);
        at_ += k;
        return true;
    }
    bool u8(uint8_t& v) { return raw(&v, 1); }
    bool u32(uint32_t& v) {
        uint8_t b[4];
        if (!raw(b, 4)) return false;
        v = qx::getLE32(b);
        return true;
    }
    bool string(SString& s) {
        uint32_t n;
        if (!u32(n) || (n_ - at_) / 2 < n) return false;
        s = SString::withLength(n);
        char16_t* d = s.mutableData();
        uint16_t k = qx::stringKey(n);
        for (uint32_t i = 0; i < n; ++i, at_ += 2)
            d[i] = static_cast<char16_t>((p_[at_] | (p_[at_ + 1] << 8)) ^ k);
        return true;
    }
    size_t left() const { return n_ - at_; }

private:
    const uint8_t* p_;
    size_t n_;
    size_t at_ = 0;
};

bool isOperatorKind(unsigned t) { return (t >= tok::Comma && t <= tok::ConcatAssign) || t == tok::EndOfLine; }

}  // namespace

std::vector<uint8_t> encodeTokenStream(const std::vector<TokenLine>& lines, const std::vector<SString>& directives) {
    std::vector<uint8_t> out;
    uint32_t n = lines.empty() ? 0 : static_cast<uint32_t>(lines.size() - 1);
    qx::putLE32(out, n);
    for (uint32_t i = 1; i <= n; ++i) {
        if (i == 1) {
            for (const SString& d : directives) {
                out.push_back(TypeDirective);
                putString(out, d.view());
            }
        }
        for (const Token& t : lines[i]) {
            switch (t.kind) {
                case tok::Keyword:
                    out.push_back(TypeKeyword);
                    putAsciiString(out, t.num.i32 >= 1 && t.num.i32 <= kw::Count ? kKeywordNames[t.num.i32] : "");
                    break;
                case tok::Builtin:
                    out.push_back(TypeBuiltin);
                    putString(out, u16view(kBuiltins[t.num.i32].name));
                    break;
                case tok::Int32:
                    out.push_back(TypeInt32);
                    putRaw(out, &t.num.i32, 4);
                    break;
                case tok::Int64:
                    out.push_back(TypeInt64);
                    putRaw(out, &t.num.i64, 8);
                    break;
                case tok::Double:
                    out.push_back(TypeDouble);
                    putRaw(out, &t.num.d, 8);
                    break;
                default:
                    out.push_back(static_cast<uint8_t>(t.kind));
                    if (tok::hasString(t.kind)) putString(out, t.str.view());
                    break;
            }
        }
    }
    return out;
}

bool decodeTokenStream(const uint8_t* data, size_t size, std::vector<TokenLine>& lines, std::vector<SString>& directives) {
    Reader r(data, size);
    uint32_t n;
    if (!r.u32(n) || n > r.left()) return false;  // every line takes at least its end byte
    lines.clear();
    lines.resize(size_t(n) + 1);
    for (uint32_t i = 1; i <= n; ++i) {
        TokenLine& line = lines[i];
        for (;;) {
            uint8_t type;
            if (!r.u8(type)) return false;
            Token t = Token::make(tok::Building, -1);
            switch (type) {
                case TypeInt32:
                    t.kind = tok::Int32;
                    if (!r.raw(&t.num.i32, 4)) return false;
                    break;
                case TypeInt64:
                    t.kind = tok::Int64;
                    if (!r.raw(&t.num.i64, 8)) return false;
                    break;
                case TypeDouble:
                    t.kind = tok::Double;
                    if (!r.raw(&t.num.d, 8)) return false;
                    break;
                case TypeKeyword: {
                    SString name;
                    if (!r.string(name)) return false;
                    int32_t k = findKeyword(name.view());
                    t.kind = tok::Keyword;
                    t.num.i32 = k ? k : -1;
                    break;
                }
                case TypeBuiltin: {
                    if (!r.string(t.str)) return false;
                    int b = findBuiltin(t.str.view());
                    if (b >= 0) {
                        t.kind = tok::Builtin;
                        t.num.i32 = b;
                        t.str = SString();
                    } else {
                        // A built-in this runtime does not have: calling it fails as an unknown function
                        // instead of reaching into the table with a bad index.
                        t.kind = tok::UserFunc;
                    }
                    break;
                }
                case TypeDirective: {
                    SString d;
                    if (!r.string(d)) return false;
                    directives.push_back(std::move(d));
                    continue;
                }
                default:
                    if (type >= tok::Macro && type <= tok::String) {
                        t.kind = static_cast<int16_t>(type);
                        if (!r.string(t.str)) return false;
                    } else if (isOperatorKind(type)) {
                        t.kind = static_cast<int16_t>(type);
                    } else {
                        return false;
                    }
                    break;
            }
            bool end = t.kind == tok::EndOfLine;
            line.push_back(std::move(t));
            if (end) break;
        }
    }
    return true;
}

}  // namespace tx
