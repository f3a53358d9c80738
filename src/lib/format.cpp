// STRINGFORMAT's formatting (see format.h). Integer conversions are done here; doubles and strings go to the
// C runtime's wide formatter, whose output is cut at 65535 characters per item.
#include "lib/format.h"

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cwchar>
#include <memory>
#include <string>
#include <string_view>

namespace tx {

#if defined(TX_NATIVE)
// Native builds (the fuzz targets): wchar_t has 32 bits there, so the format and a string value are widened
// for swprintf, which, like _snwprintf, gives -1 when the output does not fit.
namespace {
int _snwprintf(wchar_t* buf, size_t cap, const wchar_t* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    int n = vswprintf(buf, cap + 1, fmt, ap);
    va_end(ap);
    return n < 0 || static_cast<size_t>(n) > cap ? -1 : n;
}
}  // namespace
#endif


namespace {

// One format item of STRINGFORMAT, as read from the format text:
//   %[-+ 0#]?([0-9]*|\*)?(\.[0-9]*|\.\*)?[hlL]?[diouxXeEfgGs]
struct FormatSpec {
    char16_t flag = 0;
    bool zero = false;       // the width starts with 0, which the C formatter reads as the flag "0"
    int64_t width = -1;      // -1: none ("*" counts as none)
    int64_t precision = -1;  // -1: none; "." alone is 0
    char16_t size = 0;       // h, l, L or 0
    char16_t conv = 0;
};

bool isIn(char16_t c, const char* set) {
    for (; *set; ++set)
        if (c == static_cast<unsigned char>(*set)) return true;
    return false;
}

// Reads a format item starting at the '%' at p[i]; returns its length, or 0 when the text there is none.
size_t readSpec(u16view p, size_t i, FormatSpec& spec) {
    size_t j = i + 1;
    auto digits = [&](int64_t& out) {
        int64_t v = 0;
        while (j < p.size() && p[j] >= u'0' && p[j] <= u'9') {
            v = std::min<int64_t>(v * 10 + (p[j] - u'0'), 65536);  // output is cut at 65535 anyway
            ++j;
        }
        out = v;
    };
    if (j < p.size() && isIn(p[j], "-+ 0#")) spec.flag = p[j++];
    if (j < p.size() && p[j] == u'*') {
        ++j;
    } else if (j < p.size() && p[j] >= u'0' && p[j] <= u'9') {
        spec.zero = p[j] == u'0';
        digits(spec.width);
    }
    if (j < p.size() && p[j] == u'.') {
        ++j;
        if (j < p.size() && p[j] == u'*') ++j;
        else digits(spec.precision);
    }
    if (j < p.size() && isIn(p[j], "hlL")) spec.size = p[j++];
    if (j < p.size() && isIn(p[j], "diouxXeEfgGs")) {
        spec.conv = p[j++];
        return j - i;
    }
    return 0;
}

// Numbers take at most 512 digits of precision, as the system's C formatter allows.
constexpr int64_t kMaxNumberPrecision = 512;
// What a single conversion may write.
constexpr size_t kMaxConversion = 65535;

// d, i, o, u, x and X by the C rules, on the low 32 bits of the value's integer form ("h": 16 bits). Done
// here rather than by the C runtime: some runtimes' wide formatters overrun their own buffer for integers
// with a precision, or with "#" and "0" together.
void formatInteger(const FormatSpec& spec, const Variant& value, std::u16string& out) {
    const uint32_t raw = static_cast<uint32_t>(value.toInt64());
    const bool isSigned = spec.conv == u'd' || spec.conv == u'i';
    const bool shortInt = spec.size == u'h';
    bool negative = false;
    uint32_t mag;
    if (isSigned) {
        const int32_t v = shortInt ? static_cast<int16_t>(raw) : static_cast<int32_t>(raw);
        negative = v < 0;
        mag = negative ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
    } else {
        mag = shortInt ? static_cast<uint16_t>(raw) : raw;
    }
    const unsigned base = spec.conv == u'o' ? 8 : (spec.conv == u'x' || spec.conv == u'X') ? 16 : 10;
    const char* digitSet = spec.conv == u'X' ? "0123456789ABCDEF" : "0123456789abcdef";
    char16_t digits[16];
    size_t nd = 0;
    for (uint32_t m = mag; m; m /= base) digits[nd++] = static_cast<char16_t>(digitSet[m % base]);
    // At least precision digits (1 when none is given; none at all for 0 with precision 0).
    const size_t precision = spec.precision < 0 ? 1 : static_cast<size_t>(std::min(spec.precision, kMaxNumberPrecision));
    size_t zeros = precision > nd ? precision - nd : 0;
    if (spec.flag == u'#' && base == 8 && zeros == 0 && (nd == 0 || digits[nd - 1] != u'0')) zeros = 1;

    char16_t prefix[2];
    size_t np = 0;
    if (negative) prefix[np++] = u'-';
    else if (isSigned && (spec.flag == u'+' || spec.flag == u' ')) prefix[np++] = spec.flag;
    if (spec.flag == u'#' && base == 16 && mag != 0) {
        prefix[np++] = u'0';
        prefix[np++] = spec.conv;
    }
    const size_t body = np + zeros + nd;
    const size_t width = spec.width > 0 ? std::min(static_cast<size_t>(spec.width), kMaxConversion) : 0;
    const size_t pad = width > body ? width - body : 0;
    const bool zeroPad = (spec.flag == u'0' || spec.zero) && spec.flag != u'-' && spec.precision < 0;
    if (pad && !zeroPad && spec.flag != u'-') out.append(pad, u' ');
    out.append(prefix, np);
    if (pad && zeroPad) out.append(pad, u'0');
    out.append(zeros, u'0');
    for (size_t k = nd; k > 0; --k) out.push_back(digits[k - 1]);
    if (pad && spec.flag == u'-') out.append(pad, u' ');
}

// Formats one value with the C runtime's wide formatter; at most 65535 characters.
void formatOne(const FormatSpec& spec, const Variant& value, std::u16string& out) {
    if (isIn(spec.conv, "diouxX")) return formatInteger(spec, value, out);
    wchar_t fmt[48];
    size_t n = 0;
    fmt[n++] = L'%';
    if (spec.flag) fmt[n++] = static_cast<wchar_t>(spec.flag);
    if (spec.zero) fmt[n++] = L'0';
    auto number = [&](int64_t v) {
        wchar_t digits[12];
        size_t k = 0;
        do digits[k++] = static_cast<wchar_t>(L'0' + v % 10);
        while ((v /= 10) > 0);
        while (k) fmt[n++] = digits[--k];
    };
    if (spec.width >= 0) number(spec.width);
    if (spec.precision >= 0) {
        fmt[n++] = L'.';
        number(spec.conv == u's' ? spec.precision : std::min(spec.precision, kMaxNumberPrecision));
    }
    fmt[n++] = static_cast<wchar_t>(spec.conv);  // the size letter means nothing for doubles and strings
    fmt[n] = 0;

    std::wstring str;  // keeps a %s argument alive while formatting
    auto run = [&](wchar_t* buf, size_t cap) -> int {
        if (spec.conv == u's') return _snwprintf(buf, cap, fmt, str.c_str());
        return _snwprintf(buf, cap, fmt, value.toDouble());
    };
    if (spec.conv == u's') {
        const SString& s = value.toString();
        str.assign(s.data(), s.data() + std::min<size_t>(s.size(), 65535));
    }
    constexpr size_t kBig = 65536;
    wchar_t small[512];
    int got = run(small, 511);
    if (got >= 0) {
        out.append(small, small + got);
        return;
    }
    std::unique_ptr<wchar_t[]> big(new wchar_t[kBig]);
    got = run(big.get(), kBig - 1);
    const size_t len = got < 0 ? kBig - 1 : static_cast<size_t>(got);
    out.append(big.get(), big.get() + len);
}

}  // namespace

SString formatText(u16view f, const Variant* values, int count) {
    std::u16string out;
    out.reserve(f.size() + 16);
    int next = 0;  // next value
    size_t copied = 0;
    for (size_t i = 0; i < f.size();) {
        const char16_t c = f[i];
        size_t len = 0;
        if (c == u'\\' && i + 1 < f.size() && isIn(f[i + 1], "\\nrt")) {
            out.append(f.data() + copied, i - copied);
            static const char16_t kEsc[] = {u'\\', u'\n', u'\r', u'\t'};
            out.push_back(kEsc[std::string_view("\\nrt").find(static_cast<char>(f[i + 1]))]);
            len = 2;
        } else if (c == u'%' && i + 1 < f.size() && f[i + 1] == u'%') {
            out.append(f.data() + copied, i - copied);
            out.push_back(u'%');
            len = 2;
        } else if (c == u'%') {
            FormatSpec spec;
            len = readSpec(f, i, spec);
            if (len) {
                out.append(f.data() + copied, i - copied);
                if (next < count) formatOne(spec, values[next++], out);
            }
        }
        if (len) {
            i += len;
            copied = i;
        } else {
            ++i;
        }
    }
    out.append(f.data() + copied, f.size() - copied);
    return SString(out.data(), out.size());
}

}  // namespace tx
