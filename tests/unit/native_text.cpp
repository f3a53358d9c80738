// Native stand-ins for the platform's text services, shared by the unit tests and the native profiling
// driver: the ANSI code page is taken as Latin-1, casing is ASCII, comparison is by code unit.
#include <string>

#include "core/platform.h"

namespace tx::platform {

std::string toAnsi(u16view s) {
    std::string out;
    for (char16_t c : s) out.push_back(c < 256 ? static_cast<char>(c) : '?');
    return out;
}
SString fromAnsi(const char* s, size_t n) { return SString::fromLatin1(std::string_view(s, n)); }
void upperCase(char16_t* s, size_t n) {
    for (size_t i = 0; i < n; ++i) s[i] = asciiUpper(s[i]);
}
void lowerCase(char16_t* s, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (s[i] >= u'A' && s[i] <= u'Z') s[i] = static_cast<char16_t>(s[i] + 32);
}
int compareLocale(u16view a, u16view b, bool) { return a.compare(b); }

}  // namespace tx::platform
