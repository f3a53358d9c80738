// The expression evaluator: an operator-precedence (shift-reduce) machine over one token line.
//
// Operands are evaluated as they are met, so evaluation runs strictly left to right; an operator waits on
// the operator stack until one of lower or equal level arrives. Both stacks live in the engine and are
// shared by nested evaluations (a call inside an expression evaluates its arguments above the caller's
// part of the stacks), so evaluating allocates nothing once the stacks have grown. A single literal or
// variable followed by the end of the expression skips the machine altogether, and a longer expression of
// one of the script's own lines runs its compiled form (compiled.cpp), made from the same tokens the first
// time it is evaluated; the machine is then left to EXECUTE's text and to what the compiler does not take.
#include "core/interp.h"
#include "core/ops.h"
#include "env/macros.h"

namespace tx {

using namespace ops;

namespace {

inline bool isPrefix(uint8_t op) { return op == Not || op == Neg || op == Plus; }

// Truncates the shared stacks back to an evaluation's base on every way out, and counts how deeply
// evaluations nest (calls in arguments, subscripts in subscripts).
struct StackMark {
    std::vector<Variant>& values;
    std::vector<uint8_t>& ops;
    size_t vbase, obase;
    int& depth;
    ~StackMark() {
        while (values.size() > vbase) values.pop_back();
        ops.resize(obase);
        --depth;
    }
};

bool applyOp(std::vector<Variant>& v, size_t vbase, uint8_t op) {
    size_t n = v.size() - vbase;
    if (isPrefix(op)) {
        if (n < 1) return false;
        Variant& x = v.back();
        if (op == Not) x.setBool(!x.isTrue());
        else if (op == Neg) negate(x);
        return true;
    }
    if (n < 2) return false;
    Variant& l = v[v.size() - 2];
    Variant& r = v.back();
    switch (op) {
        case Add: add(l, r); break;
        case Sub: sub(l, r); break;
        case Mul: mul(l, r); break;
        case Div: div(l, r); break;
        case Pow: power(l, r); break;
        case Concat: concat(l, r); break;
        case And: l.setBool(l.isTrue() && r.isTrue()); break;
        case Or: l.setBool(l.isTrue() || r.isTrue()); break;
        default: l.setBool(compare(static_cast<Code>(op), l, r)); break;
    }
    v.pop_back();
    return true;
}

// Column for an error found at pos (the bound, when evaluation stopped there).
inline int columnAt(const TokenLine& line, size_t pos) {
    return line[pos < line.size() ? pos : line.size() - 1].column;
}

}  // namespace

bool findClose(const TokenLine& line, size_t openPos, size_t& close) {
    int depth = 0;
    for (size_t p = openPos; p < line.size(); ++p) {
        int16_t k = line[p].kind;
        if (k == tok::LParen) ++depth;
        else if (k == tok::RParen && --depth == 0) {
            close = p;
            return true;
        } else if (k == tok::EndOfLine) {
            break;
        }
    }
    return false;
}

bool flatIndex(const ArrayData& a, const uint32_t* subs, int count, uint32_t& flat) {
    if (static_cast<uint32_t>(count) != a.ndims) return false;
    uint32_t f = 0;
    for (int i = 0; i < count; ++i) {
        if (subs[i] >= a.dims[i]) return false;
        f = f * a.dims[i] + subs[i];
    }
    flat = f;
    return true;
}

bool readSubscripts(Engine& e, TokenLine& line, size_t& pos, size_t end, uint32_t* subs, int& count, int& column) {
    count = 0;
    column = line[pos].column;
    while (pos < end && line[pos].is(tok::LBracket)) {
        if (count == kMaxDims) return fail(err::BadSubscript, line[pos]);
        ++pos;
        Variant v;
        if (!e.evaluate(line, pos, end, v)) return false;
        int32_t i = v.toInt32();
        if (i < 0) return fail(err::BadArrayFormat, columnAt(line, pos));
        if (pos >= end || !line[pos].is(tok::RBracket)) return fail(err::BadArrayFormat, columnAt(line, pos));
        ++pos;
        subs[count++] = static_cast<uint32_t>(i);
    }
    return true;
}

// A variable operand at pos: its value (or element) is pushed; pos moves past what was read.
bool pushVariable(Engine& e, TokenLine& line, size_t& pos, size_t end, std::vector<Variant>& values) {
    Token& t = line[pos];
    uint32_t sym = e.symbolOf(t);
    VarEntry* entry = e.lookup(sym, Scope::Any);
    if (!entry) return fail(err::Undeclared, t);
    Variant* v = entry->ptr;
    size_t next = pos + 1;
    bool bracket = next < end && line[next].is(tok::LBracket);
    if (v->isArray() && bracket) {
        pos = next;
        uint32_t subs[kMaxDims];
        int n, col;
        if (!readSubscripts(e, line, pos, end, subs, n, col)) return false;
        v = entry->ptr;  // the subscripts may have run code that changed the variable
        uint32_t flat;
        if (!v->isArray() || !flatIndex(*v->rawArray(), subs, n, flat)) return fail(err::BadSubscript, col);
        values.push_back(v->rawArray()->at(flat));
    } else if (v->is(Kind::Object)) {
        pos = next;
        if (objectHooks().read) {
            Variant out;
            releaseHeldOutput();
            if (!objectHooks().read(e, line, pos, *v, out)) return fail(err::ObjectFailed, t);
            values.push_back(std::move(out));
            return true;
        }
        if (pos < end && (line[pos].is(tok::Member) || line[pos].is(tok::LBracket)))
            return fail(err::ObjectFailed, line[pos]);
        values.push_back(*v);
        return true;
    } else if (bracket) {
        return fail(err::NotArray, line[next]);
    } else {
        pos = next;
        values.push_back(*v);
        if (v->isString() && expansionOn()) expandOptionStrings(e, values.back());
    }
    // A member name after a value that is not an object.
    while (pos < end && line[pos].is(tok::Member)) {
        if (objectHooks().offerError && objectHooks().offerError(e, err::NotObject)) {
            ++pos;
            continue;
        }
        return fail(err::NotObject, line[pos]);
    }
    return true;
}

namespace {

// The operand token kinds the fast path takes.
inline bool simpleOperand(const Token& t) {
    switch (t.kind) {
        case tok::Int32:
        case tok::Int64:
        case tok::Double:
        case tok::String:
        case tok::Variable:
            return true;
        default:
            return false;
    }
}

inline void literalValue(const Token& t, Variant& out) {
    switch (t.kind) {
        case tok::Int32: out.setInt32(t.num.i32); break;
        case tok::Int64: out.setInt64(t.num.i64); break;
        case tok::Double: out.setDouble(t.num.d); break;
        default: out.setString(t.str); break;
    }
}

// The Int32 value of a literal or of a declared variable holding an Int32.
inline bool int32Of(Engine& e, Token& t, int32_t& v) {
    if (t.kind == tok::Int32) {
        v = t.num.i32;
        return true;
    }
    if (t.kind != tok::Variable) return false;
    VarEntry* x = e.lookup(e.symbolOf(t), Scope::Any);
    if (!x || !x->ptr->is(Kind::Int32)) return false;
    v = x->ptr->rawInt32();
    return true;
}

}  // namespace

// The value of a simple operand (literal, or a declared plain variable that holds no object) without
// copying a variable: literals go to scratch. Null when the general path must handle it.
const Variant* Engine::simpleValue(Token& t, Variant& scratch) {
    if (t.kind == tok::Variable) {
        VarEntry* entry = lookup(symbolOf(t), Scope::Any);
        if (!entry || entry->ptr->is(Kind::Object)) return nullptr;
        return entry->ptr;
    }
    literalValue(t, scratch);
    return &scratch;
}

// "$a[i]" of a one-dimensional array with a simple subscript, followed by the end of the expression.
// Anything unusual (errors included) is left to the general path, which reads it again.
bool Engine::fastElement(TokenLine& line, size_t& pos, size_t end, Variant& out) {
    Token& sub = line[pos + 2];
    if (!simpleOperand(sub) || !line[pos + 3].is(tok::RBracket)) return false;
    if (pos + 4 < end && (!endsExpression(line[pos + 4]) || line[pos + 4].is(tok::LBracket))) return false;
    VarEntry* entry = lookup(symbolOf(line[pos]), Scope::Any);
    if (!entry || !entry->ptr->isArray()) return false;
    const ArrayData* a = entry->ptr->rawArray();
    if (a->ndims != 1) return false;
    int32_t i;
    if (!int32Of(*this, sub, i)) {
        Variant scratch;
        const Variant* v = simpleValue(sub, scratch);
        if (!v) return false;
        i = v->toInt32();
    }
    if (i < 0 || static_cast<uint32_t>(i) >= a->dims[0]) return false;
    out = a->at(static_cast<uint32_t>(i));
    if (out.isString() && expansionOn()) expandOptionStrings(*this, out);
    pos += 4;
    return true;
}

// "a op b" of two simple operands followed by the end of the expression, computed without the stacks.
bool Engine::fastBinary(TokenLine& line, size_t& pos, size_t end, Variant& out) {
    // The shape: operand (op operand)+ and then the end, every operator of one level. Such a chain
    // reduces strictly left to right, exactly as the stacks would reduce it.
    const uint8_t first = symbolOperator(line[pos + 1]);
    if (first == End) return false;
    size_t q = pos + 1;
    int count = 0;
    for (;;) {
        if (q >= end) break;
        const Token& t = line[q];
        if (endsExpression(t)) {
            if (t.is(tok::LBracket)) return false;  // a subscript
            break;
        }
        uint8_t c = symbolOperator(t);
        if (c == End || kOpLevel[c] != kOpLevel[first] || q + 1 >= end || !simpleOperand(line[q + 1])) return false;
        ++count;
        q += 2;
    }
    if (expansionOn()) return false;
    Token& a = line[pos];
    if (count == 1) {
        // Two Int32 operands (the common loop counter and limit) without building values.
        Token& b = line[pos + 2];
        int32_t x, y;
        if (int32Of(*this, a, x) && int32Of(*this, b, y)) {
            switch (first) {
                case Less: out.setBool(x < y); break;
                case Greater: out.setBool(x > y); break;
                case LessEqual: out.setBool(x <= y); break;
                case GreaterEqual: out.setBool(x >= y); break;
                case NotEqual: out.setBool(x != y); break;
                case Equal:
                case StrictEqual: out.setBool(x == y); break;
                case Add:
                case Sub:
                case Mul: {
                    int64_t r = first == Add ? int64_t(x) + y : first == Sub ? int64_t(x) - y : int64_t(x) * y;
                    if (r >= INT32_MIN && r <= INT32_MAX) out.setInt32(static_cast<int32_t>(r));
                    else out.setInt64(r);
                    break;
                }
                case Div: out.setDouble(static_cast<double>(x) / static_cast<double>(y)); break;
                default: goto values;  // "^" and "&"
            }
            pos = q;
            return true;
        }
    }
values:
    // Operands that are not plain (undeclared, objects) go to the general path, which reports them.
    Variant scratch;
    const Variant* l = simpleValue(a, scratch);
    if (!l) return false;
    for (size_t k = pos + 2; k < q; k += 2)
        if (line[k].kind == tok::Variable && !simpleValue(line[k], scratch)) return false;
    Variant acc(*l);
    for (size_t k = pos + 1; k < q; k += 2) {
        const uint8_t code = symbolOperator(line[k]);
        const Variant* r = simpleValue(line[k + 1], scratch);
        switch (code) {
            case Add: add(acc, *r); break;
            case Sub: sub(acc, *r); break;
            case Mul: mul(acc, *r); break;
            case Div: div(acc, *r); break;
            case Pow: power(acc, *r); break;
            case Concat: concat(acc, *r); break;
            default: acc.setBool(compare(static_cast<Code>(code), acc, *r)); break;
        }
    }
    out = std::move(acc);
    pos = q;
    return true;
}

bool Engine::evaluate(TokenLine& line, size_t& pos, size_t end, Variant& out) {
    if (end > line.size() - 1) end = line.size() - 1;  // the end-of-line token bounds every line

    // Fast paths: "a op b" of simple operands; one literal or plain variable alone.
    // (Longer chains do better through the compiled form below.)
    if (pos + 2 < end && simpleOperand(line[pos]) && (pos + 3 >= end || endsExpression(line[pos + 3])) &&
        fastBinary(line, pos, end, out))
        return true;
    if (pos < end && simpleOperand(line[pos]) && (pos + 1 >= end || endsExpression(line[pos + 1]))) {
        Token& t = line[pos];
        if (t.kind != tok::Variable) {
            literalValue(t, out);
            if (t.kind == tok::String && expansionOn()) expandOptionStrings(*this, out);
            ++pos;
            return true;
        }
        if (pos + 4 <= end && line[pos + 1].is(tok::LBracket) && fastElement(line, pos, end, out)) return true;
        if (pos + 1 >= end || !line[pos + 1].is(tok::LBracket)) {
            VarEntry* entry = lookup(symbolOf(t), Scope::Any);
            if (!entry) return fail(err::Undeclared, t);
            if (!entry->ptr->is(Kind::Object)) {
                out = *entry->ptr;
                if (out.isString() && expansionOn()) expandOptionStrings(*this, out);
                ++pos;
                return true;
            }
        }
    }

    // Anything longer, in a line of the script, runs the line's compiled form of the expression (made the
    // first time it is evaluated there).
    if (!expansionOn()) {
        const int r = runCompiled(line, pos, end, out);
        if (r >= 0) return r == 1;
    }

    std::vector<Variant>& values = values_;
    std::vector<uint8_t>& opstack = ops_;
    const size_t vbase = values.size();
    StackMark mark{values, opstack, vbase, opstack.size(), evalDepth_};
    if (++evalDepth_ > kMaxEvalDepth) {
        rs.suppress = 0;  // the script stops, as at the nesting limit of calls
        return fail(err::Recursion, -1);
    }
    bool afterOperand = false;  // the last item was an operand or ")"
    if (pos < end && (line[pos].kind == tok::Builtin || line[pos].kind == tok::UserFunc)) {
        // A leading call: when nothing follows it, its result is the value, with no stack work.
        Variant r;
        bool ok = line[pos].kind == tok::Builtin ? callBuiltinAt(*this, line, pos, r) : callUserAt(*this, line, pos, r);
        if (!ok) return false;
        if (pos >= end || (endsExpression(line[pos]) && !line[pos].is(tok::LBracket))) {
            out = std::move(r);
            return true;
        }
        values.push_back(std::move(r));
        afterOperand = true;
    }
    opstack.push_back(Start);

    for (;;) {
        uint8_t code;
        if (pos >= end) {
            code = End;
        } else {
            Token& t = line[pos];
            switch (t.kind) {
                case tok::Int32:
                    values.push_back(Variant::int32(t.num.i32));
                    ++pos;
                    afterOperand = true;
                    continue;
                case tok::Int64:
                    values.push_back(Variant::int64(t.num.i64));
                    ++pos;
                    afterOperand = true;
                    continue;
                case tok::Double:
                    values.push_back(Variant::dbl(t.num.d));
                    ++pos;
                    afterOperand = true;
                    continue;
                case tok::String:
                    values.push_back(Variant::string(t.str));
                    if (expansionOn()) expandOptionStrings(*this, values.back());
                    ++pos;
                    afterOperand = true;
                    continue;
                case tok::Variable:
                    if (!pushVariable(*this, line, pos, end, values)) return false;
                    afterOperand = true;
                    continue;
                case tok::Macro: {
                    Variant m;
                    if (!evalMacro(*this, t.str.view(), m)) return fail(err::UnknownMacro, t);
                    values.push_back(std::move(m));
                    ++pos;
                    afterOperand = true;
                    continue;
                }
                case tok::Builtin:
                case tok::UserFunc: {
                    Variant r;
                    bool ok = t.kind == tok::Builtin ? callBuiltinAt(*this, line, pos, r) : callUserAt(*this, line, pos, r);
                    if (!ok) return false;
                    values.push_back(std::move(r));
                    afterOperand = true;
                    continue;
                }
                case tok::Member:
                    // A member of the WITH object; object access arrives with the COM layer.
                    if (!level_ || !level_->withOpen) return fail(err::MemberOutsideWith, t);
                    if (objectHooks().read) {
                        Variant r;
                        releaseHeldOutput();
                        if (!objectHooks().read(*this, line, pos, level_->with, r)) return fail(err::Expression, t);
                        values.push_back(std::move(r));
                        afterOperand = true;
                        continue;
                    }
                    return fail(err::Expression, t);
                case tok::Keyword:
                    switch (t.num.i32) {
                        case kw::True:
                        case kw::False:
                            values.push_back(Variant::boolean(t.num.i32 == kw::True));
                            ++pos;
                            afterOperand = true;
                            continue;
                        case kw::Default:
                            values.push_back(Variant::defaultValue());
                            ++pos;
                            afterOperand = true;
                            continue;
                        case kw::And: code = And; break;
                        case kw::Or: code = Or; break;
                        case kw::Not: code = Not; break;
                        default: code = End; break;
                    }
                    break;
                case tok::LParen: code = LParen; break;
                case tok::RParen: code = RParen; break;
                case tok::Plus: code = afterOperand ? Add : Plus; break;
                case tok::Minus: code = afterOperand ? Sub : Neg; break;
                case tok::Multiply: code = Mul; break;
                case tok::Divide: code = Div; break;
                case tok::Power: code = Pow; break;
                case tok::Concat: code = Concat; break;
                case tok::Equal: code = Equal; break;
                case tok::StrictEqual: code = StrictEqual; break;
                case tok::Less: code = Less; break;
                case tok::Greater: code = Greater; break;
                case tok::LessEqual: code = LessEqual; break;
                case tok::GreaterEqual: code = GreaterEqual; break;
                case tok::NotEqual: code = NotEqual; break;
                default: code = End; break;
            }
        }

        if (code == End) {
            for (;;) {
                uint8_t top = opstack.back();
                if (top == Start) break;
                if (top == LParen) return fail(err::MissingRParen, columnAt(line, pos));
                if (!applyOp(values, vbase, top)) return fail(err::Expression, columnAt(line, pos));
                opstack.pop_back();
            }
            if (values.size() - vbase != 1) return fail(err::Expression, columnAt(line, pos));
            out = std::move(values[vbase]);
            return true;
        }
        if (code == RParen) {
            for (;;) {
                uint8_t top = opstack.back();
                if (top == LParen) break;
                if (top == Start) return fail(msg::UnbalancedBrackets, line[pos]);
                if (!applyOp(values, vbase, top)) return fail(err::Expression, line[pos]);
                opstack.pop_back();
            }
            opstack.pop_back();
            ++pos;
            afterOperand = true;
            continue;
        }
        if (code == LParen || isPrefix(code)) {
            opstack.push_back(code);
            ++pos;
            afterOperand = false;
            continue;
        }
        // A binary operator: reduce what binds at least as tightly, then push it.
        const int column = line[pos].column;
        for (;;) {
            uint8_t top = opstack.back();
            if (top == LParen || top == Start || kOpLevel[top] < kOpLevel[code]) break;
            if (!applyOp(values, vbase, top)) return fail(err::Expression, column);
            opstack.pop_back();
        }
        opstack.push_back(code);
        ++pos;
        afterOperand = false;
        if (code == And || code == Or) {
            // Short circuit: a decided left side skips the right-hand operand unevaluated.
            if (values.size() == vbase) return fail(err::Expression, column);
            bool t = values.back().isTrue();
            if ((code == And && !t) || (code == Or && t)) {
                // Brackets nest like parentheses, so a skipped operand with subscripts is passed over
                // whole, and the "]" of an enclosing subscript ends the skip like an enclosing ")".
                int depth = 0;
                for (;;) {
                    if (pos >= end) {
                        if (depth > 0) return fail(err::Expression, columnAt(line, pos));
                        break;
                    }
                    const Token& s = line[pos];
                    if (s.is(tok::LParen) || s.is(tok::LBracket)) {
                        ++depth;
                    } else if (s.is(tok::RParen) || s.is(tok::RBracket)) {
                        if (depth == 0) break;
                        --depth;
                    } else if (depth == 0 && s.is(tok::Comma)) {
                        break;
                    } else if (depth == 0 && s.kind == tok::Keyword) {
                        int k = s.num.i32;
                        if (k != kw::Not && k != kw::True && k != kw::False && k != kw::Default) break;
                    }
                    ++pos;
                }
                values.back().setBool(code == Or);
                opstack.pop_back();
                afterOperand = true;
            }
        }
    }
}

}  // namespace tx
