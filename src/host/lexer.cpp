// Lexer: turns a stored script line into a token line.
//
// Lines arrive stripped of comments, joined across continuation lines and trimmed. Only spaces and tabs
// separate tokens; names are ASCII. Numbers are read by a small state machine so that "1.2.3" is two
// doubles and "$o.Name" is a variable followed by a member name. Errors stop the line at the first fault.
#include "host/lexer.h"

#include "core/builtins.h"
#include "core/errors.h"
#include "core/script_store.h"
#include "core/variant.h"

namespace tx {

const char* const kKeywordNames[kw::Count + 1] = {
    "",       "AND",      "OR",       "NOT",    "IF",           "THEN",      "ELSE",   "ELSEIF", "ENDIF",
    "WHILE",  "WEND",     "DO",       "UNTIL",  "FOR",          "NEXT",      "TO",     "STEP",   "IN",
    "EXITLOOP", "CONTINUELOOP", "SELECT", "CASE", "ENDSELECT",  "SWITCH",    "ENDSWITCH", "CONTINUECASE",
    "DIM",    "REDIM",    "LOCAL",    "GLOBAL", "CONST",        "STATIC",    "FUNC",   "ENDFUNC", "RETURN",
    "EXIT",   "BYREF",    "WITH",     "ENDWITH", "TRUE",        "FALSE",     "DEFAULT", "ENUM"};

int32_t findKeyword(u16view upper) {
    if (upper.size() < 2 || upper.size() > 12) return 0;
    for (int32_t i = 1; i <= kw::Count; ++i) {
        const char* k = kKeywordNames[i];
        size_t j = 0;
        while (j < upper.size() && k[j] && char16_t(static_cast<unsigned char>(k[j])) == upper[j]) ++j;
        if (j == upper.size() && k[j] == 0) return i;
    }
    return 0;
}

namespace {

enum NumFlags : unsigned { fD = 1, fP = 2, fE = 4, fS = 8 };

// Reads a number at pos. On success appends the token, advances pos and returns true.
bool readNumber(u16view t, size_t& pos, int column, TokenLine& out) {
    size_t start = pos;
    if (pos + 1 < t.size() && t[pos] == u'0' && (t[pos + 1] == u'x' || t[pos + 1] == u'X')) {
        size_t i = pos + 2;
        uint32_t v = 0;
        int digits = 0;
        for (; i < t.size(); ++i) {
            char16_t c = t[i];
            int d = isAsciiDigit(c) ? c - u'0' : (c >= u'a' && c <= u'f') ? c - u'a' + 10 : (c >= u'A' && c <= u'F') ? c - u'A' + 10 : -1;
            if (d < 0) break;
            if (++digits > 8) return false;
            v = (v << 4) | static_cast<uint32_t>(d);
        }
        Token tk = Token::make(tok::Int32, column);
        tk.num.i32 = static_cast<int32_t>(v);
        out.push_back(std::move(tk));
        pos = i;
        return true;
    }
    unsigned st = fD | fP | fE;
    bool isDouble = false;
    size_t i = pos;
    for (; i < t.size(); ++i) {
        char16_t c = t[i];
        if (isAsciiDigit(c)) {
            st &= ~(fD | fS);
        } else if (c == u'.') {
            isDouble = true;
            if (!(st & fP)) break;
            st = fE;
        } else if (c == u'e' || c == u'E') {
            isDouble = true;
            if (!((st & fE) && !(st & fD))) break;
            st = fD | fS;
        } else if (c == u'+' || c == u'-') {
            if (!(st & fS)) break;
            st = fD;
        } else if (isAsciiAlpha(c) || c == u'_') {
            pos = start;
            return false;
        } else {
            break;
        }
    }
    if (st & fD) {
        pos = start;
        return false;
    }
    u16view text = t.substr(start, i - start);
    if (isDouble) {
        Token tk = Token::make(tok::Double, column);
        tk.num.d = parseDecimalDouble(text);
        out.push_back(std::move(tk));
    } else {
        int64_t v = parseDecimalInt64(text);
        if (v >= INT32_MIN && v <= INT32_MAX) {
            Token tk = Token::make(tok::Int32, column);
            tk.num.i32 = static_cast<int32_t>(v);
            out.push_back(std::move(tk));
        } else {
            Token tk = Token::make(tok::Int64, column);
            tk.num.i64 = v;
            out.push_back(std::move(tk));
        }
    }
    pos = i;
    return true;
}

SString upperName(u16view t, size_t from, size_t to) {
    SString s = SString::withLength(to - from);
    char16_t* d = s.mutableData();
    for (size_t i = from; i < to; ++i) d[i - from] = asciiUpper(t[i]);
    return s;
}

bool isKeywordSeparator(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'(' || c == u')' || c == u',' || c == u'=' || c == u']';
}

}  // namespace

int tokenise(int lineIndex, u16view t, TokenLine& out) {
    out.clear();
    size_t pos = 0;
    int errId = 0;
    int errCol = 0;
    for (;;) {
        while (pos < t.size() && (t[pos] == u' ' || t[pos] == u'\t')) ++pos;
        if (pos >= t.size()) break;
        int col = static_cast<int>(pos);
        char16_t c = t[pos];
        if (isAsciiDigit(c) || c == u'.') {
            if (readNumber(t, pos, col, out)) continue;
            if (c == u'.') {
                size_t j = pos + 1;
                while (j < t.size() && isNameChar(t[j])) ++j;
                if (j == pos + 1) {
                    errId = msg::BadVarOrMacro;
                    errCol = col;
                    break;
                }
                Token tk = Token::make(tok::Member, col);
                tk.str = SString(t.data() + pos + 1, j - pos - 1);
                out.push_back(std::move(tk));
                pos = j;
                continue;
            }
            errId = msg::CannotParse;
            errCol = col;
            break;
        }
        if (isAsciiAlpha(c) || c == u'_') {
            size_t j = pos;
            while (j < t.size() && isNameChar(t[j])) ++j;
            SString word = upperName(t, pos, j);
            char16_t s = j < t.size() ? t[j] : 0;
            int32_t k = findKeyword(word.view());
            if (k) {
                if (s != 0 && !isKeywordSeparator(s)) {
                    errId = msg::MissingSeparator;
                    errCol = col;
                    break;
                }
                Token tk = Token::make(tok::Keyword, col);
                tk.num.i32 = k;
                out.push_back(std::move(tk));
            } else if (s == u' ' || s == u'\t' || s == u'(') {
                int b = findBuiltin(word.view());
                if (b >= 0) {
                    Token tk = Token::make(tok::Builtin, col);
                    tk.num.i32 = b;
                    out.push_back(std::move(tk));
                } else {
                    Token tk = Token::make(tok::UserFunc, col);
                    tk.str = std::move(word);
                    out.push_back(std::move(tk));
                }
            } else {
                errId = msg::MissingSeparator;
                errCol = col;
                break;
            }
            pos = j;
            continue;
        }
        if (c == u'"' || c == u'\'') {
            SString lit;
            size_t j = pos + 1;
            bool closed = false;
            while (j < t.size()) {
                size_t k = j;
                while (k < t.size() && t[k] != c) ++k;
                lit.append(t.data() + j, k - j);
                if (k >= t.size()) {
                    j = k;
                    break;
                }
                if (k + 1 < t.size() && t[k + 1] == c) {
                    lit.append(c);
                    j = k + 2;
                    continue;
                }
                j = k + 1;
                closed = true;
                break;
            }
            if (!closed) {
                errId = msg::MissingQuote;
                errCol = col;
                break;
            }
            Token tk = Token::make(tok::String, col);
            tk.str = std::move(lit);
            out.push_back(std::move(tk));
            pos = j;
            continue;
        }
        if (c == u'$' || c == u'@') {
            size_t j = pos + 1;
            while (j < t.size() && isNameChar(t[j])) ++j;
            if (j == pos + 1) {
                errId = msg::BadVarOrMacro;
                errCol = col;
                break;
            }
            Token tk = Token::make(c == u'$' ? tok::Variable : tok::Macro, col);
            tk.str = upperName(t, pos + 1, j);
            out.push_back(std::move(tk));
            pos = j;
            continue;
        }
        if (c == 0x1A) {
            if (col == 0 && t.size() == 1 && lineIndex >= scriptStore().lineCount()) {
                pos = 1;
                break;
            }
            errId = msg::CannotParse;
            errCol = col;
            break;
        }
        int16_t kind = -1;
        size_t len = 1;
        char16_t n = pos + 1 < t.size() ? t[pos + 1] : 0;
        switch (c) {
            case u',': kind = tok::Comma; break;
            case u'(': kind = tok::LParen; break;
            case u')': kind = tok::RParen; break;
            case u'[': kind = tok::LBracket; break;
            case u']': kind = tok::RBracket; break;
            case u'^': kind = tok::Power; break;
            case u'+': kind = n == u'=' ? tok::AddAssign : tok::Plus; break;
            case u'-': kind = n == u'=' ? tok::SubAssign : tok::Minus; break;
            case u'*': kind = n == u'=' ? tok::MulAssign : tok::Multiply; break;
            case u'/': kind = n == u'=' ? tok::DivAssign : tok::Divide; break;
            case u'&': kind = n == u'=' ? tok::ConcatAssign : tok::Concat; break;
            case u'=': kind = n == u'=' ? tok::StrictEqual : tok::Equal; break;
            case u'<': kind = n == u'=' ? tok::LessEqual : n == u'>' ? tok::NotEqual : tok::Less; break;
            case u'>': kind = n == u'=' ? tok::GreaterEqual : tok::Greater; break;
            default: break;
        }
        if (kind < 0) {
            errId = msg::CannotParse;
            errCol = col;
            break;
        }
        switch (kind) {
            case tok::StrictEqual: case tok::NotEqual: case tok::GreaterEqual: case tok::LessEqual:
            case tok::AddAssign: case tok::SubAssign: case tok::MulAssign: case tok::DivAssign:
            case tok::ConcatAssign: len = 2; break;
            default: break;
        }
        out.push_back(Token::make(kind, col));
        pos += len;
    }
    if (errId) {
        out.push_back(Token::make(tok::EndOfLine, static_cast<int>(pos)));
        reportLexerError(lineIndex, errId, errCol);
        return 1;
    }
    out.push_back(Token::make(tok::EndOfLine, static_cast<int>(pos)));
    return 0;
}

bool tokeniseAll() {
    ScriptStore& store = scriptStore();
    if (!store.tokenLines.empty()) return true;
    int n = store.lineCount();
    if (n <= 0) return false;
    store.tokenLines.resize(static_cast<size_t>(n) + 1);
    for (int i = 1; i <= n; ++i) {
        if (tokenise(i, store.lines[static_cast<size_t>(i)].text.view(), store.tokenLines[static_cast<size_t>(i)])) return false;
    }
    return true;
}

}  // namespace tx
