// Command-line splitting and the order in which the runtime's options are recognised.
#include <string>
#include <vector>

#include "check.h"
#include "host/cmdline.h"

using namespace tx;

static std::string joined(const std::vector<SString>& v) {
    std::string out;
    for (const SString& s : v) out += "[" + s.toUtf8() + "]";
    return out;
}
static std::string split(const char* s) { return joined(splitCommandLine(utf8ToUtf16(s))); }

TEST(split_quotes) {
    CHECK_EQ(split("a \"b c\" \"\" d"), "[a][b c][][d]");
    CHECK_EQ(split("  a\t\tb  "), "[a][b]");
    CHECK_EQ(split("\"say \"\"hi\"\"\""), "[say \"hi\"]");
    CHECK_EQ(split("ab\"cd ef"), "[ab\"cd ef]");  // unterminated quote kept where it opened
    CHECK_EQ(split("x\"\""), "[x]");
    CHECK_EQ(split("\"\""), "[]");
    CHECK_EQ(split(""), "");
    CHECK_EQ(split("a\"b\"c"), "[abc]");
}

TEST(split_length_limit) {
    std::string longArg(5000, 'x');
    std::vector<SString> v = splitCommandLine(utf8ToUtf16("a " + longArg + " b"));
    CHECK_EQ(v.size(), 2u);
    CHECK_EQ(v[1].size(), 4096u);
}

static CommandLine parse(const char* s, bool forbid = false) {
    return parseCommandLine(splitCommandLine(utf8ToUtf16(s)), SString::fromLatin1("EXE"), forbid);
}

TEST(option_order) {
    CommandLine a = parse("/ErrorStdOut /Tarvex3ExecuteScript f.qx3 w");
    CHECK(a.errorToStdout);
    CHECK(a.mode == SourceMode::ScriptFile);
    CHECK_EQ(a.scriptPath.toUtf8(), "f.qx3");
    CHECK_EQ(joined(a.args), "[w]");

    CommandLine b = parse("/Tarvex3OutputDebug /ErrorStdOut");
    CHECK(b.debugOutput);
    CHECK(!b.errorToStdout);
    CHECK_EQ(b.scriptPath.toUtf8(), "EXE");
    CHECK_EQ(joined(b.args), "[/ErrorStdOut]");

    CommandLine c = parse("/errorstdout /TARVEX3EXECUTELINE \"ConsoleWrite(1)\" x");
    CHECK(c.mode == SourceMode::Line);
    CHECK(c.noTrayIcon);
    CHECK_EQ(c.lineText.toUtf8(), "ConsoleWrite(1)");
    CHECK_EQ(joined(c.args), "[x]");

    CommandLine d = parse("/Tarvex3ExecuteScript");
    CHECK(d.scriptPath.empty());  // start-up opens the file dialog

    CommandLine e = parse("/Tarvex3ExecuteScript \"\" real.qx3 arg");
    CHECK_EQ(e.scriptPath.toUtf8(), "real.qx3");
    CHECK_EQ(joined(e.args), "[arg]");

    CHECK(parse("/Tarvex3ExecuteLine x", true).mode == SourceMode::Refused);
    CHECK(parse("/Tarvex3ExecuteScript x", true).mode == SourceMode::Refused);
    CommandLine f = parse("one two", true);
    CHECK(f.mode == SourceMode::Compiled);
    CHECK_EQ(joined(f.args), "[one][two]");
}
