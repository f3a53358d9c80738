// Lexer: token kinds, payloads and columns, and the errors with their columns.
#include <string>

#include "check.h"
#include "core/errors.h"
#include "core/script_store.h"
#include "host/lexer.h"

using namespace tx;

namespace tx::platform {
extern std::string g_stdout;
}

// Renders a token line as "kind:payload@column ..." for compact comparisons.
static std::string lex(const char* text, int* rc = nullptr) {
    TokenLine line;
    std::u16string w = utf8ToUtf16(text);
    int r = tokenise(0, w, line);
    if (rc) *rc = r;
    std::string out;
    for (const Token& t : line) {
        if (!out.empty()) out += ' ';
        out += std::to_string(t.kind);
        switch (t.kind) {
            case tok::Keyword:
            case tok::Builtin:
            case tok::Int32: out += ":" + std::to_string(t.num.i32); break;
            case tok::Int64: out += ":" + std::to_string(t.num.i64); break;
            case tok::Double: {
                char b[40];
                std::snprintf(b, sizeof b, "%g", t.num.d);
                out += std::string(":") + b;
                break;
            }
            default:
                if (tok::hasString(t.kind)) out += ":" + t.str.toUtf8();
        }
        out += "@" + std::to_string(t.column);
    }
    return out;
}

TEST(lexer_basic_tokens) {
    CHECK_EQ(lex("$a=1"), "51:A@0 65@2 5:1@3 127@4");
    CHECK_EQ(lex("$x = 2147483648"), "51:X@0 65@3 16:2147483648@5 127@15");
    CHECK_EQ(lex("2147483647"), "5:2147483647@0 127@10");
    CHECK_EQ(lex("-2147483648"), "74@0 16:2147483648@1 127@11");
    CHECK_EQ(lex("If $a Then"), "0:4@0 51:A@3 0:5@6 127@10");
    CHECK_EQ(lex("MsgBox (0)"), "1:1@0 71@7 5:0@8 72@9 127@10");
    CHECK_EQ(lex("ifx ()"), "52:IFX@0 71@4 72@5 127@6");
    CHECK_EQ(lex("$o.Name"), "51:O@0 53:Name@2 127@7");
    CHECK_EQ(lex("@crlf & $v"), "50:CRLF@0 77@6 51:V@8 127@10");
}

TEST(lexer_operators) {
    CHECK_EQ(lex("1<>2<=3>=4==5=6<7>8"), "5:1@0 68@1 5:2@3 70@4 5:3@6 69@7 5:4@9 80@10 5:5@12 65@13 5:6@14 67@15 5:7@16 66@17 5:8@18 127@19");
    CHECK_EQ(lex("$a+=1-=2*=3/=4&=5"), "51:A@0 82@2 5:1@4 83@5 5:2@7 85@8 5:3@10 84@11 5:4@13 86@14 5:5@16 127@17");
    CHECK_EQ(lex("(,)[]^+-*/&"), "71@0 64@1 72@2 78@3 79@4 81@5 73@6 74@7 76@8 75@9 77@10 127@11");
}

TEST(lexer_numbers) {
    CHECK_EQ(lex("0x7FFFFFFF"), "5:2147483647@0 127@10");
    CHECK_EQ(lex("0xFFFFFFFF"), "5:-1@0 127@10");
    CHECK_EQ(lex("0x"), "5:0@0 127@2");
    CHECK_EQ(lex("1.5e3 1e3 1. .5"), "32:1500@0 32:1000@6 32:1@10 32:0.5@13 127@15");
    CHECK_EQ(lex("1e5+3"), "32:100000@0 73@3 5:3@4 127@5");
    CHECK_EQ(lex("1.2.3"), "32:1.2@0 32:0.3@3 127@5");
    CHECK_EQ(lex(". 1"), "32:0@0 5:1@2 127@3");
    CHECK_EQ(lex("1e-5"), "32:1e-05@0 127@4");
    CHECK_EQ(lex("99999999999999999999999"), "16:9223372036854775807@0 127@23");
    int rc = 0;
    for (const char* bad : {"0x100000000", "1e", "1e+", "12abc", "1.Item"}) {
        lex(bad, &rc);
        CHECK_EQ(rc, 1);
    }
}

TEST(lexer_strings) {
    CHECK_EQ(lex("\"a\"\"b\""), "54:a\"b@0 127@6");
    CHECK_EQ(lex("'it''s' \"x'y\""), "54:it's@0 54:x'y@8 127@13");
    CHECK_EQ(lex("\"\""), "54:@0 127@2");
    CHECK_EQ(lex("\"中文\" & 'ü'"), "54:中文@0 77@5 54:ü@7 127@10");
    int rc = 0;
    for (const char* bad : {"\"abc", "\"", "'a''", "x = \"a\"\""}) {
        lex(bad, &rc);
        CHECK_EQ(rc, 1);
    }
}

// Errors are reported with the message id and the column of the offending token.
static std::string lexError(const char* text) {
    ScriptStore& store = scriptStore();
    store.release();
    store.errorToStdout = 1;
    runState().scriptFullPath = SString::fromLatin1("S");
    std::u16string w = utf8ToUtf16(text);
    store.addLine(SString(w), 1, -1);
    platform::g_stdout.clear();
    TokenLine line;
    int rc = tokenise(1, w, line);
    CHECK_EQ(rc, 1);
    CHECK_EQ(line.back().kind, tok::EndOfLine);
    store.release();
    return platform::g_stdout;
}

TEST(lexer_errors_and_columns) {
    CHECK_EQ(lexError("$"), "S (1) : ==> MSG5003: \n$ \n^ ERROR\n");
    CHECK_EQ(lexError("$a = $"), "S (1) : ==> MSG5003: \n$a = $ \n$a = ^ ERROR\n");
    CHECK_EQ(lexError("x = \"abc"), "S (1) : ==> MSG5002: \nx = \"abc \nx = ^ ERROR\n");
    CHECK_EQ(lexError("x"), "S (1) : ==> MSG5004: \nx \n^ ERROR\n");
    CHECK_EQ(lexError("$x = \"abc"), "S (1) : ==> MSG5002: \n$x = \"abc \n$x = ^ ERROR\n");
    CHECK_EQ(lexError("Foo"), "S (1) : ==> MSG5004: \nFoo \n^ ERROR\n");
    CHECK_EQ(lexError("If$a"), "S (1) : ==> MSG5004: \nIf$a \n^ ERROR\n");
    CHECK_EQ(lexError("$a = 12abc"), "S (1) : ==> MSG5000: \n$a = 12abc \n$a = ^ ERROR\n");
    CHECK_EQ(lexError("$a = 1 # 2"), "S (1) : ==> MSG5000: \n$a = 1 # 2 \n$a = 1 ^ ERROR\n");
    CHECK_EQ(lexError("@ = 1"), "S (1) : ==> MSG5003: \n@ = 1 \n^ ERROR\n");
    // Names are ASCII: a letter outside ASCII is no name character, and outside a literal it starts nothing.
    CHECK_EQ(lexError("$\xe4\xb8\xad = 1"), "S (1) : ==> MSG5003: \n$? = 1 \n^ ERROR\n");
    CHECK_EQ(lexError("$a = \xe4\xb8\xad"), "S (1) : ==> MSG5000: \n$a = ? \n$a = ^ ERROR\n");
    // Keywords accept ( ) , = ] and end of line after them.
    int rc = 0;
    lex("Return(1)", &rc);
    CHECK_EQ(rc, 0);
    lex("Case Else", &rc);
    CHECK_EQ(rc, 0);
    lex("$a[True]", &rc);
    CHECK_EQ(rc, 0);
}

TEST(lexer_eof_mark) {
    ScriptStore& store = scriptStore();
    store.release();
    store.addLine(SString::fromLatin1("$a = 1"), 1, 0);
    store.addLine(SString(u"\x1A"), 2, 0);
    TokenLine line;
    CHECK_EQ(tokenise(2, u"\x1A", line), 0);
    CHECK_EQ(line.size(), 1u);
    CHECK_EQ(tokenise(0, u"\x1A", line), 1);  // not the last stored line
    CHECK_EQ(tokenise(2, u"$a \x1A", line), 1);
    store.release();
}
