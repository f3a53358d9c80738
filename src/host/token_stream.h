// The token stream of a compiled script: token lines as bytes, written by the compiler and read back by
// the runtime's container loader.
//
// Layout: a 4-byte line count N, then N lines, each a run of tokens closed by the end-of-line type 0x7F.
// A token is a type byte and its payload: 0x05 Int32, 0x10 Int64, 0x20 Double, 0x30 keyword by name,
// 0x31 built-in by name, 0x32-0x36 the string kinds, 0x37 a directive line, 0x40-0x56 operators (no
// payload). Strings are a 4-byte unit count and the units, each XOR-ed with a key derived from the count.
// Keywords and built-ins travel by name, so the runtime's table order is free to change.
#pragma once

#include <cstdint>
#include <vector>

#include "core/sstring.h"
#include "core/tokens.h"

namespace tx {

// Encodes token lines 1..N of lines (index 0 is not written). The directive texts go at the front of
// line 1 (they are applied at load time wherever they stand).
std::vector<uint8_t> encodeTokenStream(const std::vector<TokenLine>& lines, const std::vector<SString>& directives);

// Decodes a stream into a token-line table (index 0 empty; every token with column -1) and the directive
// texts met on the way. Any malformed content (unknown type byte, a length past the end, a line without
// its end) gives false and leaves both outputs unspecified.
bool decodeTokenStream(const uint8_t* data, size_t n, std::vector<TokenLine>& lines, std::vector<SString>& directives);

}  // namespace tx
