// Tokens and token lines: the unit of execution.
//
// Every script line is turned into a token line once, before the script runs (or arrives as one from a
// compiled script). The executor and the expression evaluator only ever walk token lines. A token carries
// its kind, the 0-based column where it starts in the line text (error reports put their marker there),
// and a payload: a 32- or 64-bit integer, a double, or a shared string for the name and literal kinds.
#pragma once

#include <cstdint>
#include <vector>

#include "core/sstring.h"

namespace tx {

namespace tok {
enum : int16_t {
    Building = -1,  // a token being built; never leaves the lexer
    Keyword = 0,
    Builtin = 1,
    Int32 = 5,
    Int64 = 16,
    Double = 32,
    Macro = 50,
    Variable = 51,
    UserFunc = 52,
    Member = 53,
    String = 54,
    Directive = 55,  // compiled token stream only
    Comma = 64,
    Equal = 65,
    Greater = 66,
    Less = 67,
    NotEqual = 68,
    GreaterEqual = 69,
    LessEqual = 70,
    LParen = 71,
    RParen = 72,
    Plus = 73,
    Minus = 74,
    Divide = 75,
    Multiply = 76,
    Concat = 77,
    LBracket = 78,
    RBracket = 79,
    StrictEqual = 80,
    Power = 81,
    AddAssign = 82,
    SubAssign = 83,
    DivAssign = 84,
    MulAssign = 85,
    ConcatAssign = 86,
    EndOfLine = 127,
};
inline bool hasString(int16_t kind) { return kind >= 48 && kind <= 63; }
}  // namespace tok

// Keyword indices (the order is fixed: statements test keyword tokens by these numbers).
namespace kw {
enum : int32_t {
    And = 1, Or, Not, If, Then, Else, ElseIf, EndIf, While, Wend,
    Do, Until, For, Next, To, Step, In, ExitLoop, ContinueLoop, Select,
    Case, EndSelect, Switch, EndSwitch, ContinueCase, Dim, ReDim, Local, Global, Const,
    Static, Func, EndFunc, Return, Exit, ByRef, With, EndWith, True, False,
    Default, Enum,
    Count = 42
};
}  // namespace kw

// Upper-case spelling of keyword i (1..42); index 0 is an empty entry.
extern const char* const kKeywordNames[kw::Count + 1];
// Keyword index of an upper-case word, or 0.
int32_t findKeyword(u16view upper);

struct Token {
    union {
        int32_t i32;
        int64_t i64;
        double d;
    } num{};
    int16_t kind = tok::Building;
    int16_t column = 0;
    // The evaluator's note on a token of a script line where an expression starts: 1 + the index of its
    // compiled form, 0 until the expression first runs (it fills padding: a token stays 24 bytes).
    uint32_t aux = 0;
    SString str;  // payload of kinds 48..63

    static Token make(int16_t kind, int column) {
        Token t;
        t.kind = kind;
        t.column = static_cast<int16_t>(column);
        return t;
    }
    bool is(int16_t k) const { return kind == k; }
    bool isKeyword(int32_t k) const { return kind == tok::Keyword && num.i32 == k; }
};

static_assert(sizeof(void*) != 8 || sizeof(Token) == 24, "a token fits in 24 bytes on 64-bit builds");

// An ordered sequence of tokens; every complete token line ends with an end-of-line token.
using TokenLine = std::vector<Token>;

}  // namespace tx
