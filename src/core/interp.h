// Helpers shared by the evaluator, the executor, declarations and calls (not used outside the core).
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/engine.h"
#include "core/errors.h"
#include "core/ops.h"
#include "core/script_store.h"

namespace tx {

// Script error ids raised by the core, by name.
namespace err {
enum : int {
    BadFunc = 105,
    MissingRParen = 107,
    Expression = 110,
    CallParse = 111,
    ArgCount = 112,
    ReDimNotArray = 113,
    ExtraText = 114,
    IfNoEndIf = 115,
    ElseNoIf = 116,
    EndIfNoIf = 117,
    TooManyElse = 118,
    WhileNoWend = 119,
    WendNoWhile = 120,
    Undeclared = 121,
    BadSubscript = 122,
    BadArrayFormat = 123,
    NotArray = 124,
    TooManySubscripts = 125,
    DimNoSubscript = 126,
    DeclNoVar = 127,
    AssignExpected = 128,
    BadKeyword = 129,
    ArrayTooBig = 130,
    FuncNoEndFunc = 131,
    DuplicateFunc = 132,
    UnknownFunc = 133,
    UnknownMacro = 134,
    ContinueLoopOutside = 143,
    ParamNoVar = 145,
    DoNoUntil = 146,
    UntilNoDo = 147,
    BadFor = 148,
    NextNoFor = 149,
    ExitLoopOutside = 150,
    ForNoNext = 151,
    CaseOutside = 152,
    EndSelectNoSelect = 153,
    Recursion = 154,
    StaticExisting = 155,
    StaticToVar = 156,
    BadEnum = 157,
    KeywordAfterThen = 159,
    SelectNoEnd = 160,
    IfNoThen = 161,
    AssignConst = 163,
    ConstExisting = 164,
    WithNotObject = 165,
    MemberOutsideWith = 167,
    NestedWith = 168,
    NotObject = 169,
    ObjectFailed = 170,
    DuplicateParam = 171,
    ReDimInit = 172,
    RedeclareConst = 174,
    RedeclareParam = 175,
    ConstByRef = 176,
    SelfInit = 177,
    EndSwitchNoSwitch = 179,
    SwitchNoEnd = 180,
    ContinueCaseOutside = 181,
    BadExitCode = 185,
    CannotParse = 5000,
};
}

// Raises a script error and returns false, so that error paths read "return fail(...)".
inline bool fail(int id, int column) {
    reportRuntimeError(id, column);
    return false;
}
inline bool fail(int id, const Token& t) { return fail(id, t.column); }

inline bool isEol(const Token& t) { return t.kind == tok::EndOfLine; }
extern TokenLine* g_lines;  // the script's token lines, set when the script is prepared
inline TokenLine& tokenLine(int index) { return g_lines[index]; }
inline int lineCount() { return scriptStore().tokenLineCount(); }
inline int keywordOf(const Token& t) { return t.kind == tok::Keyword ? t.num.i32 : 0; }

// Tokens that end an expression when met where an operand or operator is expected.
inline bool endsExpression(const Token& t) {
    switch (t.kind) {
        case tok::Keyword: {
            int k = t.num.i32;
            return k != kw::And && k != kw::Or && k != kw::Not && k != kw::True && k != kw::False && k != kw::Default;
        }
        case tok::EndOfLine:
        case tok::Comma:
        case tok::LBracket:
        case tok::RBracket:
        case tok::AddAssign:
        case tok::SubAssign:
        case tok::DivAssign:
        case tok::MulAssign:
        case tok::ConcatAssign:
            return true;
        default:
            return false;
    }
}

// Binding levels of the operator codes of ops.h, indexed by code (higher binds tighter; the markers "(" and
// start never compete). The token walk and the compiled form both read them.
inline constexpr uint8_t kOpLevel[22] = {
    2, 2, 2, 2, 2, 2, 2,  // comparisons
    1, 1,                 // AND, OR
    3,                    // &
    8,                    // NOT
    4, 4,                 // + -
    5, 5,                 // * /
    6,                    // ^
    7, 7,                 // prefix - +
    0, 0, 0, 0,
};

// The operator code of a symbol token after an operand (arithmetic, "&" or a comparison), or End. AND and
// OR are keywords, which callers that take them check themselves.
inline uint8_t symbolOperator(const Token& t) {
    switch (t.kind) {
        case tok::Plus: return ops::Add;
        case tok::Minus: return ops::Sub;
        case tok::Multiply: return ops::Mul;
        case tok::Divide: return ops::Div;
        case tok::Power: return ops::Pow;
        case tok::Concat: return ops::Concat;
        case tok::Equal: return ops::Equal;
        case tok::StrictEqual: return ops::StrictEqual;
        case tok::Less: return ops::Less;
        case tok::Greater: return ops::Greater;
        case tok::LessEqual: return ops::LessEqual;
        case tok::GreaterEqual: return ops::GreaterEqual;
        case tok::NotEqual: return ops::NotEqual;
        default: return ops::End;
    }
}

// Finds the ")" matching the "(" at openPos; false when the line ends first.
bool findClose(const TokenLine& line, size_t openPos, size_t& close);

// Reads "[" expr "]" groups at pos (at most 64) into subs.
bool readSubscripts(Engine& e, TokenLine& line, size_t& pos, size_t end, uint32_t* subs, int& count, int& column);
// Row-major index of subscripts in an array; false when the count or a subscript does not fit.
bool flatIndex(const ArrayData& a, const uint32_t* subs, int count, uint32_t& flat);

// A variable operand at pos (and its subscripts, or the object access after it) pushed onto values; pos
// moves past what was read. False after a script error.
bool pushVariable(Engine& e, TokenLine& line, size_t& pos, size_t end, std::vector<Variant>& values);

// Nested evaluations allowed at once: far beyond any script line (lines are short; user-function
// recursion stops at 3900 levels), but a text built for EXECUTE could nest calls deeply enough to
// exhaust the stack.
constexpr int kMaxEvalDepth = 20000;

// Calls at pos (a built-in or user-function token); pos is left after the closing ")".
bool callBuiltinAt(Engine& e, TokenLine& line, size_t& pos, Variant& out);
bool callUserAt(Engine& e, TokenLine& line, size_t& pos, Variant& out);

// Statements of the variables layer: assignment (line starting with a variable) and the declarations.
bool assignment(Engine& e, TokenLine& line, size_t pos);
bool declaration(Engine& e, TokenLine& line, size_t pos);

// The option-driven expansion of "%env%", "$var$" and "@macro@" references in a string.
void expandOptionStrings(Engine& e, Variant& v);
extern bool g_expandStrings;  // ExpandEnvStrings or ExpandVarStrings is on
inline bool expansionOn() { return g_expandStrings; }

}  // namespace tx
