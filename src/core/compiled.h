// The compiled form of an expression: a small tree made from a script line's tokens the first time the
// expression is evaluated, which the evaluator runs instead of walking the tokens again.
//
// Variables carry their resolved symbol, literals are ready-made values, calls are bound to their user
// function or built-in, and operators are nodes in the order the token walk would apply them. Every node
// keeps the index of the token it came from, so errors report the same column. Only expressions whose
// every part has a node kind are compiled; anything else (object members, BYREF arguments of variables,
// plug-in functions, malformed text) keeps the token walk, so both paths behave exactly alike.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/tokens.h"
#include "core/variant.h"

namespace tx {

enum class CKind : uint8_t {
    Const,    // consts[a]
    Var,      // symbol index; tok is the variable token
    Elem,     // symbol index, n subscripts: slots[a + 2i] the node, slots[a + 2i + 1] the "]" token
    Macro,    // tok is the macro token
    Unary,    // code Neg, Plus or Not of node a
    Binary,   // code of nodes a and b
    AndOr,    // code And or Or of a and b, b skipped once a decides
    User,     // user function index, n arguments: nodes slots[a + i]
    Builtin,  // built-in index, n arguments: nodes slots[a + i]
};

struct CNode {
    CKind kind = CKind::Const;
    uint8_t code = 0;
    uint16_t tok = 0;
    int32_t a = -1, b = -1;
    int32_t n = 0;
    uint32_t index = 0;
};

struct CExpr {
    const TokenLine* owner = nullptr;  // the script line it was made from
    uint32_t start = 0;                // token index where the expression starts
    uint32_t stop = 0;                 // first token after it
    int root = -1;                     // -1: no compiled form
    std::vector<CNode> nodes;
    std::vector<int32_t> slots;
    std::vector<Variant> consts;
};

class Engine;

// A statement that is one call (a user function or a built-in with its arguments, nothing after it): runs
// it through the compiled form when the line has one. 1 after the call ran (pos after it), 0 after a
// script error, -1 when the token walk must run it.
int runCompiledCall(Engine& e, TokenLine& line, size_t& pos, Variant& out);

}  // namespace tx
