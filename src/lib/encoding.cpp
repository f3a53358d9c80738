// Text encodings: conversions between UTF-16 text and bytes through the system code-page converter.
#include "lib/encoding.h"

#include <windows.h>

#include <climits>

namespace tx::enc {

std::string toCodePage(u16view s, unsigned codePage) {
    if (s.empty() || s.size() > INT_MAX) return {};
    auto src = reinterpret_cast<LPCWCH>(s.data());
    int len = static_cast<int>(s.size());
    int n = WideCharToMultiByte(codePage, 0, src, len, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<size_t>(n), '\0');
    n = WideCharToMultiByte(codePage, 0, src, len, out.data(), n, nullptr, nullptr);
    out.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return out;
}

SString fromCodePage(const void* bytes, size_t n, unsigned codePage) {
    if (n == 0 || n > INT_MAX) return SString();
    // MB_PRECOMPOSED is refused by the UTF-7/UTF-8 and a few other code pages.
    DWORD flags = (codePage == CP_UTF8 || codePage == CP_UTF7 || codePage >= 50000) ? 0 : MB_PRECOMPOSED;
    auto src = static_cast<LPCCH>(bytes);
    int len = static_cast<int>(n);
    int w = MultiByteToWideChar(codePage, flags, src, len, nullptr, 0);
    if (w <= 0) return SString();
    SString out = SString::withLength(static_cast<size_t>(w));
    w = MultiByteToWideChar(codePage, flags, src, len, reinterpret_cast<LPWSTR>(out.mutableData()), w);
    if (w <= 0) return SString();
    if (static_cast<size_t>(w) != out.size()) out.resize(static_cast<size_t>(w));
    return out;
}

std::string encode(u16view s, TextEncoding e) {
    switch (e) {
        case TextEncoding::Ansi: return toCodePage(s, CP_ACP);
        case TextEncoding::Utf8: return toCodePage(s, CP_UTF8);
        case TextEncoding::Utf16LE:
        case TextEncoding::Utf16BE: {
            std::string out(s.size() * 2, '\0');
            const bool big = e == TextEncoding::Utf16BE;
            for (size_t i = 0; i < s.size(); ++i) {
                char lo = static_cast<char>(s[i] & 0xFF), hi = static_cast<char>(s[i] >> 8);
                out[2 * i] = big ? hi : lo;
                out[2 * i + 1] = big ? lo : hi;
            }
            return out;
        }
    }
    return {};
}

SString decode(const void* bytes, size_t n, TextEncoding e) {
    switch (e) {
        case TextEncoding::Ansi: return fromCodePage(bytes, n, CP_ACP);
        case TextEncoding::Utf8: return fromCodePage(bytes, n, CP_UTF8);
        case TextEncoding::Utf16LE:
        case TextEncoding::Utf16BE: {
            const size_t units = n / 2;
            if (units == 0) return SString();
            auto p = static_cast<const uint8_t*>(bytes);
            const bool big = e == TextEncoding::Utf16BE;
            SString out = SString::withLength(units);
            char16_t* d = out.mutableData();
            for (size_t i = 0; i < units; ++i) {
                uint8_t a = p[2 * i], b = p[2 * i + 1];
                d[i] = big ? char16_t((a << 8) | b) : char16_t((b << 8) | a);
            }
            return out;
        }
    }
    return SString();
}

}  // namespace tx::enc
