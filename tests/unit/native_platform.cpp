// Native stand-ins for the platform services, so the core's values and lexer run as a plain Linux program.
// The ANSI code page is taken as Latin-1; casing is ASCII; message texts are "MSG<id>".
#include <cstdio>
#include <string>

#include "core/builtins.h"
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
SString loadMessage(int id) { return SString::fromLatin1("MSG" + std::to_string(id)); }
std::string g_box;  // text of the last message box (UTF-8)
void showErrorBox(u16view text, u16view, bool) {
    g_box = utf16ToUtf8(text);
    std::fprintf(stderr, "[box] %s\n", g_box.c_str());
}
std::string g_stdout;  // captured report output
void writeStdout(const char* bytes, size_t n) { g_stdout.append(bytes, n); }

}  // namespace tx::platform

namespace tx {
// A few built-in names, enough for the lexer's lookups.
int findBuiltin(u16view upperName) {
    static const char16_t* const names[] = {u"CONSOLEWRITE", u"MSGBOX", u"STRINGLEN"};
    for (int i = 0; i < 3; ++i)
        if (upperName == names[i]) return i;
    return -1;
}
}  // namespace tx
