// Text encodings shared by the string, binary and file built-ins.
//
// The runtime keeps text as UTF-16 (SString). Built-ins that exchange text with bytes — Binary values,
// ASCII arrays, files, sockets — go through these helpers, which name the four encodings the language knows
// (the system ANSI code page, UTF-16 little- and big-endian, UTF-8). Conversions take an explicit length,
// so zero characters inside a string or zero bytes inside a block survive them; nothing here stops at a 0.
// Every conversion is a single pass over its input (two calls into the system converter: size, then fill).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/sstring.h"

namespace tx::enc {

enum class TextEncoding { Ansi, Utf16LE, Utf16BE, Utf8 };

// Text to bytes in any Windows code page (CP_ACP = 0, CP_UTF8 = 65001, ...). Characters the code page lacks
// become the system's default character.
std::string toCodePage(u16view s, unsigned codePage);
// Bytes in a Windows code page to text. ANSI-type code pages decode with MB_PRECOMPOSED; invalid UTF-8
// sequences become U+FFFD.
SString fromCodePage(const void* bytes, size_t n, unsigned codePage);

inline std::string toAnsi(u16view s) { return toCodePage(s, 0); }
inline std::string toUtf8(u16view s) { return toCodePage(s, 65001); }
inline SString fromAnsi(const void* bytes, size_t n) { return fromCodePage(bytes, n, 0); }
inline SString fromUtf8(const void* bytes, size_t n) { return fromCodePage(bytes, n, 65001); }

// Text to bytes in one of the four encodings (UTF-16 as two bytes per code unit, no byte-order mark).
std::string encode(u16view s, TextEncoding e);
// Bytes to text. For the UTF-16 encodings a trailing odd byte is ignored (callers that must refuse odd
// counts check first).
SString decode(const void* bytes, size_t n, TextEncoding e);

}  // namespace tx::enc
