// Fuzz target: STRINGFORMAT's format items. The input up to the first NUL is the format (UTF-8); the byte
// after it picks where in a fixed list of values (numbers at their limits, strings, arrays) the values start.
#include <cmath>
#include <limits>

#include "fuzz_native.h"
#include "lib/format.h"

using namespace tx;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const Variant values[] = {
        Variant::int32(-42), Variant::dbl(3.14159), Variant::string(SString(u"text")),
        Variant::int64(std::numeric_limits<int64_t>::min()), Variant::dbl(1e308),
        Variant::dbl(-std::numeric_limits<double>::infinity()), Variant::dbl(std::nan("")),
        Variant::int32(std::numeric_limits<int32_t>::max()), Variant::string(SString()),
        Variant::int32(-42), Variant::dbl(3.14159), Variant::string(SString(u"text")),
        Variant::int64(std::numeric_limits<int64_t>::min()), Variant::dbl(1e308),
        Variant::dbl(-std::numeric_limits<double>::infinity()), Variant::dbl(std::nan("")),
    };
    std::string_view in(reinterpret_cast<const char*>(data), size);
    size_t nul = in.find('\0');
    std::string_view format = in.substr(0, nul);
    size_t first = nul != std::string_view::npos && nul + 1 < in.size() ? static_cast<uint8_t>(in[nul + 1]) % 8 : 0;
    SString f = SString::fromUtf8(format);
    formatText(f.view(), values + first, 8);
    return 0;
}
