// Native stand-ins for the platform's report sinks and the built-in names, so the core's values and lexer
// run as a plain Linux program (the text services are in native_text.cpp): message texts are "MSG<id>",
// reports are captured for the tests to read.
#include <cstdio>
#include <string>

#include "core/builtins.h"
#include "core/platform.h"

namespace tx::platform {

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
