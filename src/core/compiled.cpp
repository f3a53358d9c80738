// Compiled expressions: the compiler from a script line's tokens to the tree of compiled.h, and the
// evaluator that runs the tree.
//
// The compiler reads the same grammar the token walk's operator-precedence machine accepts, restricted to
// well-formed text: binary operators of one level group to the left, prefix "-", "+" and NOT bind the
// operand right after them, AND and OR have the lowest level. What it does not take (or any doubt about
// where the token walk would stop) leaves the expression uncompiled, remembered as such, and the token
// walk runs it every time. Script lines never change while the script runs and a function index never
// moves once the functions are registered, so a compiled form stays valid for the whole run.
//
// The tree runs left to right, depth first, as the token walk applies operators: the same operands are
// read in the same order, AND and OR skip their right side once the left decides, and every error is
// raised from the token the walk would name. Variables that are not plain values (undeclared, objects,
// elements of things that are not arrays) are read by the token walk's own operand reader.
#include "core/compiled.h"

#include "core/callargs.h"
#include "core/interp.h"
#include "core/ops.h"
#include "env/macros.h"

namespace tx {

using namespace ops;

namespace {

// The binary operator of a token after an operand, AND and OR included, or End.
uint8_t binaryAt(const Token& t) {
    if (t.kind == tok::Keyword) {
        if (t.num.i32 == kw::And) return And;
        if (t.num.i32 == kw::Or) return Or;
        return End;
    }
    return symbolOperator(t);
}

// Where a compiled expression may stop: where the token walk ends an expression too (and where its
// short-circuit skip stops as well).
bool stopsExpression(const Token& t) {
    switch (t.kind) {
        case tok::EndOfLine:
        case tok::Comma:
        case tok::RParen:
        case tok::RBracket:
            return true;
        case tok::Keyword: return endsExpression(t);
        default: return false;
    }
}

class Compiler {
public:
    Compiler(Engine& e, TokenLine& line, CExpr& x) : e_(e), line_(line), x_(x) {}

    // The expression at pos; false when it has no compiled form.
    bool compile(size_t pos) {
        if (line_.size() > 60000) return false;  // token indices are kept in 16 bits
        p_ = pos;
        int root = binary(1);
        if (root < 0 || !stopsExpression(line_[p_])) return false;
        x_.root = root;
        x_.stop = static_cast<uint32_t>(p_);
        return true;
    }

private:
    Engine& e_;
    TokenLine& line_;
    CExpr& x_;
    size_t p_ = 0;
    int depth_ = 0;

    int add(CNode n) {
        x_.nodes.push_back(n);
        return static_cast<int>(x_.nodes.size() - 1);
    }
    CNode node(CKind k) const {
        CNode n;
        n.kind = k;
        n.tok = static_cast<uint16_t>(p_);
        return n;
    }
    int constant(Variant v) {
        CNode n = node(CKind::Const);
        x_.consts.push_back(std::move(v));
        n.a = static_cast<int32_t>(x_.consts.size() - 1);
        ++p_;
        return add(n);
    }

    int binary(int minLevel) {
        if (++depth_ > 200) return -1;  // deep nesting: left to the token walk and its limits
        int lhs = unary();
        while (lhs >= 0) {
            const uint8_t code = binaryAt(line_[p_]);
            if (code == End || kOpLevel[code] < minLevel) break;
            CNode n = node(code == And || code == Or ? CKind::AndOr : CKind::Binary);
            n.code = code;
            ++p_;
            int rhs = binary(kOpLevel[code] + 1);
            if (rhs < 0) return -1;
            n.a = lhs;
            n.b = rhs;
            lhs = add(n);
        }
        --depth_;
        return lhs;
    }

    int unary() {
        const Token& t = line_[p_];
        uint8_t code = End;
        if (t.is(tok::Minus)) code = Neg;
        else if (t.is(tok::Plus)) code = Plus;
        else if (t.isKeyword(kw::Not)) code = Not;
        if (code == End) return primary();
        CNode n = node(CKind::Unary);
        n.code = code;
        ++p_;
        if (++depth_ > 200) return -1;
        n.a = unary();
        --depth_;
        if (n.a < 0) return -1;
        return add(n);
    }

    // "(" args ")" at p_ into slots (the argument nodes); false when not well formed.
    bool arguments(std::vector<int32_t>& args, std::vector<size_t>* starts = nullptr) {
        if (!line_[p_].is(tok::LParen)) return false;
        ++p_;
        if (line_[p_].is(tok::RParen)) {
            ++p_;
            return true;
        }
        for (;;) {
            if (starts) starts->push_back(p_);
            int a = binary(1);
            if (a < 0) return false;
            args.push_back(a);
            if (line_[p_].is(tok::RParen)) break;
            if (!line_[p_].is(tok::Comma)) return false;
            ++p_;
            if (line_[p_].is(tok::RParen)) return false;
        }
        ++p_;
        return true;
    }

    int primary() {
        Token& t = line_[p_];
        switch (t.kind) {
            case tok::Int32: return constant(Variant::int32(t.num.i32));
            case tok::Int64: return constant(Variant::int64(t.num.i64));
            case tok::Double: return constant(Variant::dbl(t.num.d));
            case tok::String: return constant(Variant::string(t.str));
            case tok::Keyword:
                if (t.num.i32 == kw::True || t.num.i32 == kw::False) return constant(Variant::boolean(t.num.i32 == kw::True));
                if (t.num.i32 == kw::Default) return constant(Variant::defaultValue());
                return -1;
            case tok::Macro: {
                CNode n = node(CKind::Macro);
                ++p_;
                return add(n);
            }
            case tok::Variable: {
                CNode n = node(CKind::Var);
                n.index = e_.symbolOf(t);
                ++p_;
                if (line_[p_].is(tok::LBracket)) {
                    n.kind = CKind::Elem;
                    std::vector<int32_t> subs;
                    while (line_[p_].is(tok::LBracket)) {
                        if (subs.size() >= 2 * kMaxDims) return -1;
                        ++p_;
                        int s = binary(1);
                        if (s < 0 || !line_[p_].is(tok::RBracket)) return -1;
                        subs.push_back(s);
                        subs.push_back(static_cast<int32_t>(p_));
                        ++p_;
                    }
                    n.a = static_cast<int32_t>(x_.slots.size());
                    n.n = static_cast<int32_t>(subs.size() / 2);
                    x_.slots.insert(x_.slots.end(), subs.begin(), subs.end());
                }
                // Object access after a variable is the object layer's; the token walk keeps it.
                if (line_[p_].is(tok::Member) || line_[p_].is(tok::LParen)) return -1;
                return add(n);
            }
            case tok::Builtin: {
                const int index = t.num.i32;
                if (index < 0 || index >= kBuiltinCount) return -1;
                CNode n = node(CKind::Builtin);
                n.index = static_cast<uint32_t>(index);
                ++p_;
                std::vector<int32_t> args;
                if (!arguments(args)) return -1;
                const BuiltinEntry& b = kBuiltins[index];
                if (static_cast<int>(args.size()) < b.minArgs || static_cast<int>(args.size()) > b.maxArgs) return -1;
                return call(n, args);
            }
            case tok::UserFunc: {
                // Bound now: functions are registered before the script runs and never change.
                const int index = e_.functionOf(t);
                if (index < 0) return -1;  // a plug-in function, or none
                CNode n = node(CKind::User);
                n.index = static_cast<uint32_t>(index);
                ++p_;
                std::vector<int32_t> args;
                std::vector<size_t> starts;
                if (!arguments(args, &starts)) return -1;
                const UserFunction& f = e_.userFunction(index);
                const int count = static_cast<int>(args.size());
                if (count < f.minArgs || count > f.maxArgs) return -1;
                // A variable given for a BYREF parameter is passed by reference: the token walk's business.
                for (int i = 0; i < count; ++i)
                    if (f.params[static_cast<size_t>(i)].byRef && line_[starts[static_cast<size_t>(i)]].is(tok::Variable)) return -1;
                return call(n, args);
            }
            case tok::LParen: {
                ++p_;
                int inner = binary(1);
                if (inner < 0 || !line_[p_].is(tok::RParen)) return -1;
                ++p_;
                return after(inner);
            }
            default: return -1;
        }
    }

    int call(CNode n, const std::vector<int32_t>& args) {
        n.a = static_cast<int32_t>(x_.slots.size());
        n.n = static_cast<int32_t>(args.size());
        x_.slots.insert(x_.slots.end(), args.begin(), args.end());
        return after(add(n));
    }

    // Subscripts or members after a call or a parenthesis are the token walk's.
    int after(int n) {
        const Token& t = line_[p_];
        if (t.is(tok::LBracket) || t.is(tok::Member) || t.is(tok::LParen)) return -1;
        return n;
    }
};

// The Int32 operation of the fast path, when both operands are Int32 (the same results as the operators).
inline bool int32Binary(uint8_t code, int32_t x, int32_t y, Variant& out) {
    switch (code) {
        case Less: out.setBool(x < y); return true;
        case Greater: out.setBool(x > y); return true;
        case LessEqual: out.setBool(x <= y); return true;
        case GreaterEqual: out.setBool(x >= y); return true;
        case NotEqual: out.setBool(x != y); return true;
        case Equal:
        case StrictEqual: out.setBool(x == y); return true;
        case Add:
        case Sub:
        case Mul: {
            int64_t r = code == Add ? int64_t(x) + y : code == Sub ? int64_t(x) - y : int64_t(x) * y;
            if (r >= INT32_MIN && r <= INT32_MAX) out.setInt32(static_cast<int32_t>(r));
            else out.setInt64(r);
            return true;
        }
        case Div: out.setDouble(static_cast<double>(x) / static_cast<double>(y)); return true;
        default: return false;
    }
}

// out = v, with the numbers (most values in loops and calls) set directly instead of through the general
// copy.
inline void copyValue(Variant& out, const Variant& v) {
    switch (v.kind()) {
        case Kind::Int32: out.setInt32(v.rawInt32()); return;
        case Kind::Int64: out.setInt64(v.rawInt64()); return;
        case Kind::Double: out.setDouble(v.rawDouble()); return;
        default: out = v; return;
    }
}

void applyBinary(uint8_t code, Variant& out, const Variant& r) {
    switch (code) {
        case Add: add(out, r); break;
        case Sub: sub(out, r); break;
        case Mul: mul(out, r); break;
        case Div: div(out, r); break;
        case Pow: power(out, r); break;
        case Concat: concat(out, r); break;
        default: out.setBool(compare(static_cast<Code>(code), out, r)); break;
    }
}

}  // namespace

// Compiles the expression at pos of a line the first time it runs there (only the script's own lines: a
// line that EXECUTE tokenised lives elsewhere and only briefly). Null when the line is no script line.
const CExpr* Engine::compileAt(TokenLine& line, size_t pos) {
    const uintptr_t at = reinterpret_cast<uintptr_t>(&line), base = reinterpret_cast<uintptr_t>(g_lines);
    if (!g_lines || at < base) return nullptr;
    const size_t ln = (at - base) / sizeof(TokenLine);
    if (ln == 0 || ln > static_cast<size_t>(lineCount()) || &tokenLine(static_cast<int>(ln)) != &line) return nullptr;
    auto c = std::make_unique<CExpr>();
    c->owner = &line;
    c->start = static_cast<uint32_t>(pos);
    Compiler comp(*this, line, *c);
    if (!comp.compile(pos)) {
        c->root = -1;
        c->nodes.clear();
        c->slots.clear();
        c->consts.clear();
    }
    compiled_.push_back(std::move(c));
    line[pos].aux = static_cast<uint32_t>(compiled_.size());
    return compiled_.back().get();
}

namespace {

// The compiled form of the expression at pos (made now when it first runs), or null when there is none.
inline const CExpr* compiledAt(Engine& e, TokenLine& line, size_t pos) {
    if (pos >= line.size()) return nullptr;
    const CExpr* x;
    if (const uint32_t id = line[pos].aux) {
        x = e.compiled_[id - 1].get();
        if (x->owner != &line || x->start != pos) return nullptr;  // a copied token
    } else if (!(x = e.compileAt(line, pos))) {
        return nullptr;
    }
    return x->root < 0 ? nullptr : x;
}

}  // namespace

int Engine::runCompiled(TokenLine& line, size_t& pos, size_t end, Variant& out) {
    const CExpr* x = compiledAt(*this, line, pos);
    if (!x) return -1;
    // The token walk would stop where the compiled form stops: at its bound, or at a token that ends an
    // expression before the bound (an unmatched ")" before the bound is an error the walk reports).
    const size_t stop = x->stop;
    if (stop > end || (stop < end && line[stop].is(tok::RParen))) return -1;
    if (!runNode(*x, line, x->root, out)) return 0;
    pos = stop;
    return 1;
}

int runCompiledCall(Engine& e, TokenLine& line, size_t& pos, Variant& out) {
    if (expansionOn()) return -1;
    const CExpr* x = compiledAt(e, line, pos);
    if (!x) return -1;
    // Only the call alone: what follows it is the statement's business (an error, as in the token walk).
    const CKind k = x->nodes[static_cast<size_t>(x->root)].kind;
    if (k != CKind::User && k != CKind::Builtin) return -1;
    if (!e.runNode(*x, line, x->root, out)) return 0;
    pos = x->stop;
    return 1;
}

// Nested calls count towards the evaluator's depth limit, as in the token walk.
bool Engine::enterCall() {
    if (++evalDepth_ > kMaxEvalDepth) {
        --evalDepth_;
        rs.suppress = 0;  // the script stops, as at the nesting limit of calls
        return fail(err::Recursion, -1);
    }
    return true;
}

// The value of a literal or of a declared plain variable, read in place; null for anything else.
inline const Variant* Engine::peek(const CExpr& x, const CNode& n) {
    if (n.kind == CKind::Var) {
        VarEntry* v = lookup(n.index, Scope::Any);
        if (!v) return nullptr;
        const Variant* p = v->ptr;
        if (p->is(Kind::Object) || (p->isString() && expansionOn())) return nullptr;
        return p;
    }
    if (n.kind == CKind::Const) {
        const Variant* p = &x.consts[static_cast<size_t>(n.a)];
        return p->isString() && expansionOn() ? nullptr : p;
    }
    return nullptr;
}

// The right side of a binary operator whose left value is in out.
bool Engine::binaryRight(const CExpr& x, TokenLine& line, const CNode& n, Variant& out) {
    if (const Variant* r = peek(x, x.nodes[static_cast<size_t>(n.b)])) {
        if (out.is(Kind::Int32) && r->is(Kind::Int32) && int32Binary(n.code, out.rawInt32(), r->rawInt32(), out)) return true;
        applyBinary(n.code, out, *r);
        return true;
    }
    Variant r;
    if (!runNode(x, line, n.b, r)) return false;
    if (out.is(Kind::Int32) && r.is(Kind::Int32) && int32Binary(n.code, out.rawInt32(), r.rawInt32(), out)) return true;
    applyBinary(n.code, out, r);
    return true;
}

bool Engine::runUserCall(const CExpr& x, TokenLine& line, const CNode& n, Variant& out) {
    if (!enterCall()) return false;
    struct Leave {
        int& d;
        ~Leave() { --d; }
    } leave{evalDepth_};
    ArgBuffer<CallArg> args(static_cast<size_t>(n.n));
    for (int i = 0; i < n.n; ++i)
        if (!runNode(x, line, x.slots[static_cast<size_t>(n.a + i)], args.push().value)) return false;
    return invokeUser(*this, static_cast<int>(n.index), args.data(), n.n, out);
}

bool Engine::runBuiltinCall(const CExpr& x, TokenLine& line, const CNode& n, Variant& out) {
    if (!enterCall()) return false;
    struct Leave {
        int& d;
        ~Leave() { --d; }
    } leave{evalDepth_};
    ArgBuffer<Variant> args(static_cast<size_t>(n.n));
    for (int i = 0; i < n.n; ++i)
        if (!runNode(x, line, x.slots[static_cast<size_t>(n.a + i)], args.push())) return false;
    return invokeBuiltin(*this, static_cast<int>(n.index), args.data(), n.n, out);
}

// An array element with its subscripts; a variable that is no array goes to the operand reader.
bool Engine::runElement(const CExpr& x, TokenLine& line, const CNode& n, Variant& out) {
    VarEntry* v = lookup(n.index, Scope::Any);
    if (!v || !v->ptr->isArray()) return readOperand(line, n.tok, out);
    uint32_t subs[kMaxDims];
    for (int i = 0; i < n.n; ++i) {
        Variant s;
        if (!runNode(x, line, x.slots[static_cast<size_t>(n.a + 2 * i)], s)) return false;
        const int32_t k = s.toInt32();
        if (k < 0) return fail(err::BadArrayFormat, line[static_cast<size_t>(x.slots[static_cast<size_t>(n.a + 2 * i + 1)])]);
        subs[i] = static_cast<uint32_t>(k);
    }
    Variant* a = v->ptr;  // the subscripts may have run code that changed the variable
    uint32_t flat;
    if (!a->isArray() || !flatIndex(*a->rawArray(), subs, n.n, flat)) return fail(err::BadSubscript, line[n.tok + 1u]);
    out = a->rawArray()->at(flat);
    return true;
}

// A variable the token walk's operand reader handles (undeclared, objects, not arrays), errors included.
bool Engine::readOperand(TokenLine& line, size_t tok, Variant& out) {
    size_t p = tok;
    const size_t base = values_.size();
    if (!pushVariable(*this, line, p, line.size() - 1, values_)) {
        while (values_.size() > base) values_.pop_back();
        return false;
    }
    out = std::move(values_.back());
    while (values_.size() > base) values_.pop_back();
    return true;
}

bool Engine::runNode(const CExpr& x, TokenLine& line, int index, Variant& out) {
    const CNode& n = x.nodes[static_cast<size_t>(index)];
    switch (n.kind) {
        case CKind::Const: {
            copyValue(out, x.consts[static_cast<size_t>(n.a)]);
            if (out.isString() && expansionOn()) expandOptionStrings(*this, out);
            return true;
        }
        case CKind::Var: {
            VarEntry* v = lookup(n.index, Scope::Any);
            if (v && !v->ptr->is(Kind::Object)) {
                copyValue(out, *v->ptr);
                if (out.isString() && expansionOn()) expandOptionStrings(*this, out);
                return true;
            }
            break;  // undeclared or an object: the operand reader
        }
        case CKind::Elem: return runElement(x, line, n, out);
        case CKind::Macro: {
            const Token& t = line[n.tok];
            Variant m;
            if (!evalMacro(*this, t.str.view(), m)) return fail(err::UnknownMacro, t);
            out = std::move(m);
            return true;
        }
        case CKind::Unary:
            if (!runNode(x, line, n.a, out)) return false;
            if (n.code == Not) out.setBool(!out.isTrue());
            else if (n.code == Neg) negate(out);
            return true;
        case CKind::Binary: {
            // Plain operands are read in place, without copies; reading has no effects, so the order of
            // evaluation is kept.
            const Variant* l = peek(x, x.nodes[static_cast<size_t>(n.a)]);
            const Variant* r = l ? peek(x, x.nodes[static_cast<size_t>(n.b)]) : nullptr;
            if (r) {
                if (l->is(Kind::Int32) && r->is(Kind::Int32) && int32Binary(n.code, l->rawInt32(), r->rawInt32(), out)) return true;
                copyValue(out, *l);
                applyBinary(n.code, out, *r);
                return true;
            }
            if (!runNode(x, line, n.a, out)) return false;
            return binaryRight(x, line, n, out);
        }
        case CKind::AndOr: {
            if (!runNode(x, line, n.a, out)) return false;
            const bool left = out.isTrue();
            if (n.code == And ? !left : left) {
                out.setBool(n.code == Or);
                return true;
            }
            Variant r;
            if (!runNode(x, line, n.b, r)) return false;
            out.setBool(n.code == And ? left && r.isTrue() : left || r.isTrue());
            return true;
        }
        case CKind::User: return runUserCall(x, line, n, out);
        case CKind::Builtin: return runBuiltinCall(x, line, n, out);
    }
    return readOperand(line, n.tok, out);  // undeclared or an object
}

}  // namespace tx
