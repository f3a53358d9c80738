// Named storage: the declaration statements (DIM, REDIM, LOCAL, GLOBAL, CONST, STATIC, ENUM) with array
// sizes and initialisers, plain and compound assignment, and the built-ins that work on variables by name
// (ISDECLARED, ASSIGN, EVAL) or on array shape (UBOUND).
#include <string>

#include "core/core_builtins.h"
#include "core/interp.h"
#include "core/ops.h"
#include "core/platform.h"
#include "env/options.h"

namespace tx {

namespace {

// The dimension sizes of "[n][m]..." at pos.
struct Dims {
    uint32_t sizes[kMaxDims + 1] = {};
    int count = 0;
};

bool readDims(Engine& e, TokenLine& line, size_t& p, Dims& d) {
    d.count = 0;
    while (line[p].is(tok::LBracket)) {
        if (d.count == kMaxDims + 1) return fail(err::BadArrayFormat, line[p]);
        ++p;
        Variant s;
        if (!e.evaluate(line, p, s)) return false;
        int32_t n = s.toInt32();
        if (n < 1 || !line[p].is(tok::RBracket)) return fail(err::BadArrayFormat, line[p]);
        ++p;
        d.sizes[d.count++] = static_cast<uint32_t>(n);
    }
    if (d.count > kMaxDims) return fail(err::TooManySubscripts, line[p]);
    uint64_t total = 1;
    for (int i = 0; i < d.count; ++i) {
        total *= d.sizes[i];
        if (total > kMaxElements) return fail(err::ArrayTooBig, line[p]);
    }
    return true;
}

// A new array of the given shape; with keep, the elements of old whose subscripts are valid in both
// shapes are carried over (only when the number of dimensions is the same).
Variant makeArray(const Dims& d, const Variant* keep) {
    ArrayData* a = ArrayData::create(d.sizes, static_cast<uint32_t>(d.count));
    if (keep && keep->isArray() && keep->rawArray()->ndims == static_cast<uint32_t>(d.count)) {
        const ArrayData* o = keep->rawArray();
        uint32_t common[kMaxDims];
        uint64_t n = 1;
        for (int i = 0; i < d.count; ++i) {
            common[i] = o->dims[i] < a->dims[i] ? o->dims[i] : a->dims[i];
            n *= common[i];
        }
        // Walk every subscript tuple of the common shape.
        uint32_t sub[kMaxDims] = {};
        for (uint64_t k = 0; k < n; ++k) {
            uint32_t fo = 0, fa = 0;
            for (int i = 0; i < d.count; ++i) {
                fo = fo * o->dims[i] + sub[i];
                fa = fa * a->dims[i] + sub[i];
            }
            a->at(fa) = o->at(fo);
            for (int i = d.count - 1; i >= 0; --i) {
                if (++sub[i] < common[i]) break;
                sub[i] = 0;
            }
        }
    }
    return Variant::array(a);
}

bool sameShape(const Variant& v, const Dims& d) {
    if (!v.isArray()) return false;
    const ArrayData* a = v.rawArray();
    if (a->ndims != static_cast<uint32_t>(d.count)) return false;
    for (int i = 0; i < d.count; ++i)
        if (a->dims[i] != d.sizes[i]) return false;
    return true;
}

// Reads "[" item, item, ... "]" (nested per dimension) at p into the array. ended is set when the line
// ends inside the initialiser (the statement then ends without a message).
bool fillDim(Engine& e, TokenLine& line, size_t& p, ArrayData* a, uint32_t d, uint32_t prefix, bool& ended) {
    ++p;  // past "["
    uint32_t idx = 0;
    for (;;) {
        if (isEol(line[p])) {
            ended = true;
            return true;
        }
        if (idx >= a->dims[d]) return fail(err::BadSubscript, line[p]);
        uint32_t here = prefix * a->dims[d] + idx;
        if (line[p].is(tok::LBracket)) {
            if (d + 1 >= a->ndims) return fail(err::TooManySubscripts, line[p]);
            if (!fillDim(e, line, p, a, d + 1, here, ended)) return false;
            if (ended) return true;
        } else {
            if (d + 1 < a->ndims) return fail(err::DimNoSubscript, line[p]);
            Variant v;
            if (!e.evaluate(line, p, v)) return false;
            a->makeUnique();
            a->at(here) = std::move(v);
        }
        ++idx;
        if (isEol(line[p])) {
            ended = true;
            return true;
        }
        if (line[p].is(tok::Comma)) {
            ++p;
            continue;
        }
        if (line[p].is(tok::RBracket)) {
            ++p;
            return true;
        }
        return fail(err::MissingRParen, line[p]);
    }
}

// Fills the array held by the variable from the initialiser at p. The array is taken out of the
// variable while its items are evaluated, so that nothing the items run can free it under us.
bool readInitialiser(Engine& e, TokenLine& line, size_t& p, VarEntry* v, bool& ended) {
    Variant arr = std::move(*v->ptr);
    bool ok = fillDim(e, line, p, arr.rawArray(), 0, 0, ended);
    *v->ptr = std::move(arr);
    return ok;
}

// Skips an initialiser (up to the next "," at depth 0 or the end of the line).
void skipInitialiser(const TokenLine& line, size_t& p) {
    int depth = 0;
    for (; !isEol(line[p]); ++p) {
        int16_t k = line[p].kind;
        if (k == tok::LParen || k == tok::LBracket) ++depth;
        else if (k == tok::RParen || k == tok::RBracket) --depth;
        else if (k == tok::Comma && depth <= 0) break;
    }
}

// With MustDeclareVars on: the initialiser may not use the variable being declared.
bool selfReference(Engine& e, TokenLine& line, size_t p, uint32_t sym) {
    if (!options().mustDeclareVars) return false;
    int depth = 0;
    for (; !isEol(line[p]); ++p) {
        int16_t k = line[p].kind;
        if (k == tok::LParen || k == tok::LBracket) ++depth;
        else if (k == tok::RParen || k == tok::RBracket) --depth;
        else if (k == tok::Comma && depth <= 0) break;
        else if (k == tok::Variable && e.symbolOf(line[p]) == sym) return true;
    }
    return false;
}

// The value part after "=": an array initialiser or an expression, stored into the variable.
bool readValue(Engine& e, TokenLine& line, size_t& p, VarEntry* v, bool dimsGiven, bool redim, bool& ended) {
    if (line[p].is(tok::LBracket)) {
        if (redim) return fail(err::ReDimInit, line[p]);
        if (!v->ptr->isArray()) return fail(err::NotArray, line[p]);
        return readInitialiser(e, line, p, v, ended);
    }
    if (dimsGiven) return fail(err::DimNoSubscript, line[p]);
    Variant val;
    if (!e.evaluate(line, p, val)) return false;
    *v->ptr = std::move(val);
    return true;
}

// After an item: the end of the line, or "," and the next item.
inline int afterItem(const TokenLine& line, size_t& p, int errorId) {
    if (isEol(line[p])) return 0;
    if (line[p].is(tok::Comma)) {
        ++p;
        return 1;
    }
    fail(errorId, line[p]);
    return -1;
}

bool declareList(Engine& e, TokenLine& line, size_t p, Scope scope, bool redim) {
    for (;;) {
        Token& vt = line[p];
        if (!vt.is(tok::Variable)) return fail(err::DeclNoVar, vt);
        uint32_t sym = e.symbolOf(vt);
        VarEntry* v = e.lookup(sym, scope);
        bool existed = v != nullptr;
        if (v) {
            if (v->flags & kVarConst) return fail(err::RedeclareConst, vt);
            if (v->flags & kVarStatic) return fail(err::StaticToVar, vt);
        } else if (redim) {
            return fail(err::Undeclared, vt);
        }
        if (scope == Scope::Local && v && (v->flags & kVarParam)) return fail(err::RedeclareParam, vt);
        if (scope == Scope::Global && e.inFunction()) {
            VarEntry* local = e.lookup(sym, Scope::Local);
            if (local && (local->flags & kVarParam)) return fail(err::RedeclareParam, vt);
        }
        if (!v) v = e.create(sym, scope, 0);
        ++p;
        if (redim && !v->ptr->isArray()) return fail(err::ReDimNotArray, vt);
        bool dimsGiven = false;
        if (line[p].is(tok::LBracket)) {
            Variant old;
            if (redim) old = *v->ptr;  // shares the element store
            Dims d;
            if (!readDims(e, line, p, d)) return false;
            *v->ptr = makeArray(d, redim ? &old : nullptr);
            dimsGiven = true;
        }
        if (line[p].is(tok::Equal)) {
            ++p;
            if (existed && !dimsGiven) v->ptr->setString(SString());
            if (selfReference(e, line, p, sym)) return fail(err::SelfInit, line[p]);
            bool ended = false;
            if (!readValue(e, line, p, v, dimsGiven, redim, ended)) return false;
            if (ended) return true;
        }
        int r = afterItem(line, p, err::DeclNoVar);
        if (r <= 0) return r == 0;
    }
}

bool constList(Engine& e, TokenLine& line, size_t p, Scope scope) {
    for (;;) {
        Token& vt = line[p];
        if (!vt.is(tok::Variable)) return fail(err::DeclNoVar, vt);
        uint32_t sym = e.symbolOf(vt);
        if (VarEntry* old = e.lookup(sym, scope))
            return fail((old->flags & kVarConst) ? err::RedeclareConst : err::ConstExisting, vt);
        VarEntry* v = e.create(sym, scope, kVarConst);
        ++p;
        bool dimsGiven = false;
        if (line[p].is(tok::LBracket)) {
            Dims d;
            if (!readDims(e, line, p, d)) return false;
            *v->ptr = makeArray(d, nullptr);
            dimsGiven = true;
        }
        if (!line[p].is(tok::Equal)) return fail(err::AssignExpected, line[p]);
        ++p;
        if (selfReference(e, line, p, sym)) return fail(err::SelfInit, line[p]);
        bool ended = false;
        if (!readValue(e, line, p, v, dimsGiven, false, ended)) return false;
        if (ended) return true;
        int r = afterItem(line, p, err::DeclNoVar);
        if (r <= 0) return r == 0;
    }
}

bool staticList(Engine& e, TokenLine& line, size_t p, Scope scope) {
    for (;;) {
        Token& vt = line[p];
        if (!vt.is(tok::Variable)) return fail(err::DeclNoVar, vt);
        uint32_t sym = e.symbolOf(vt);
        VarEntry* cur = e.lookup(sym, scope);
        if (cur && !(cur->flags & kVarStatic)) return fail(err::StaticExisting, vt);
        // The static value, keyed by the running function and the name.
        std::u16string key;
        for (char c : std::to_string(e.frame().funcId)) key.push_back(static_cast<char16_t>(c));
        key.push_back(u'.');
        key.append(e.symbolName(sym).view());
        int si = e.staticNames_.find(key);
        bool first = si < 0;
        if (first) {
            VarEntry* s = e.allocEntry();
            s->sym = sym;
            s->flags = kVarStatic;
            s->value.setString(SString());
            e.statics_.push_back(s);
            si = static_cast<int>(e.statics_.size() - 1);
            e.staticNames_.insert(SString(u16view(key)), si);
        }
        VarEntry* st = e.statics_[static_cast<size_t>(si)];
        // Bind the name to the static value.
        Scope bind = scope == Scope::Any ? Scope::Local : scope;
        VarEntry* v = e.lookup(sym, bind);
        if (!v) v = e.create(sym, bind, kVarStatic);
        v->flags |= kVarStatic;
        v->value.clear();
        v->pin.reset();
        v->ptr = &st->value;
        v->borrowed = true;
        ++p;
        bool dimsGiven = false;
        if (line[p].is(tok::LBracket)) {
            Dims d;
            if (!readDims(e, line, p, d)) return false;
            if (!sameShape(st->value, d)) {
                Variant old = st->value;
                st->value = makeArray(d, &old);
            }
            dimsGiven = true;
        }
        if (line[p].is(tok::Equal)) {
            ++p;
            if (first) {
                if (selfReference(e, line, p, sym)) return fail(err::SelfInit, line[p]);
                bool ended = false;
                if (!readValue(e, line, p, v, dimsGiven, false, ended)) return false;
                if (ended) return true;
            } else {
                skipInitialiser(line, p);
            }
        }
        int r = afterItem(line, p, err::DeclNoVar);
        if (r <= 0) return r == 0;
    }
}

bool enumList(Engine& e, TokenLine& line, size_t p, Scope scope) {
    Variant cur = Variant::int32(0);
    Variant step = Variant::int32(1);
    int op = tok::Plus;
    if (line[p].isKeyword(kw::Step)) {
        ++p;
        if (line[p].is(tok::Plus) || line[p].is(tok::Minus) || line[p].is(tok::Multiply)) {
            op = line[p].kind;
            if (op == tok::Multiply) cur.setInt32(1);
            ++p;
        }
        if (!line[p].is(tok::Int32)) return fail(err::BadEnum, line[p]);
        step.setInt32(line[p].num.i32);
        ++p;
    }
    for (;;) {
        Token& vt = line[p];
        if (!vt.is(tok::Variable)) return fail(err::BadEnum, vt);
        uint32_t sym = e.symbolOf(vt);
        ++p;
        if (line[p].is(tok::Equal)) {
            ++p;
            Variant v;
            if (!e.evaluate(line, p, v)) return false;
            cur = std::move(v);
        }
        if (e.lookup(sym, scope)) return fail(err::AssignConst, vt);
        VarEntry* v = e.create(sym, scope, kVarConst);
        *v->ptr = cur;
        if (op == tok::Plus) ops::add(cur, step);
        else if (op == tok::Minus) ops::sub(cur, step);
        else ops::mul(cur, step);
        int r = afterItem(line, p, err::DeclNoVar);
        if (r <= 0) return r == 0;
    }
}

}  // namespace

bool declaration(Engine& e, TokenLine& line, size_t pos) {
    const int k = line[pos].num.i32;
    size_t p = pos + 1;
    Scope scope = Scope::Any;
    const int next = keywordOf(line[p]);
    switch (k) {
        case kw::ReDim: return declareList(e, line, p, Scope::Any, true);
        case kw::Dim:
        case kw::Local:
        case kw::Global:
            scope = k == kw::Dim ? Scope::Any : k == kw::Local ? Scope::Local : Scope::Global;
            if (next == kw::Const) return constList(e, line, p + 1, scope);
            if (next == kw::Enum) return enumList(e, line, p + 1, scope);
            if (next == kw::Static && k != kw::Dim) return staticList(e, line, p + 1, scope);
            return declareList(e, line, p, scope, false);
        case kw::Const:
            if (next == kw::Enum) return enumList(e, line, p + 1, Scope::Any);
            return constList(e, line, p, Scope::Any);
        case kw::Static:
            if (next == kw::Local) return staticList(e, line, p + 1, Scope::Local);
            if (next == kw::Global) return staticList(e, line, p + 1, Scope::Global);
            if (next != 0) return fail(err::DeclNoVar, line[p]);
            return staticList(e, line, p, Scope::Any);
        case kw::Enum: return enumList(e, line, p, Scope::Any);
        default: return fail(err::BadKeyword, line[pos]);
    }
}

// ---------------------------------------------------------------------------------------------------
// Assignment

namespace {

// "$s = $s & a & b ..." where every a, b is a literal, another variable or a macro: the same result as
// evaluating the right-hand side, but the operands are appended to the variable's own string, so building
// a string in a loop stays linear. Returns -1 when the line has another shape (the caller evaluates it),
// 0 after a script error, 1 when done.
int appendToItself(Engine& e, TokenLine& line, size_t p, uint32_t sym, VarEntry* v) {
    constexpr int kMaxParts = 8;
    if (expansionOn() || !line[p].is(tok::Variable) || e.symbolOf(line[p]) != sym || v->ptr->is(Kind::Object)) return -1;
    size_t q = p + 1;
    int parts = 0;
    while (line[q].is(tok::Concat)) {
        const Token& t = line[q + 1];
        bool ok = t.kind == tok::String || t.kind == tok::Int32 || t.kind == tok::Int64 || t.kind == tok::Double ||
                  t.kind == tok::Macro || (t.kind == tok::Variable && e.symbolOf(line[q + 1]) != sym);
        if (!ok || ++parts > kMaxParts) return -1;
        q += 2;
    }
    if (parts == 0 || !isEol(line[q])) return -1;
    // The operands first, in order (they read nothing this statement changes).
    Variant vals[kMaxParts];
    for (int i = 0; i < parts; ++i) {
        size_t tp = p + 2 + 2 * static_cast<size_t>(i);
        if (!e.evaluate(line, tp, tp + 1, vals[i])) return 0;
    }
    Variant acc = std::move(*v->ptr);
    for (int i = 0; i < parts; ++i) ops::concat(acc, vals[i]);
    *v->ptr = std::move(acc);
    return 1;
}

}  // namespace

bool assignment(Engine& e, TokenLine& line, size_t pos) {
    Token& vt = line[pos];
    uint32_t sym = e.symbolOf(vt);
    VarEntry* v = e.lookup(sym, Scope::Any);
    if (v && (v->flags & kVarConst)) return fail(err::AssignConst, vt);
    size_t p = pos + 1;
    uint32_t subs[kMaxDims];
    int nsubs = 0, subCol = 0;
    bool element = false;
    if (line[p].is(tok::LBracket)) {
        if (!v) return fail(err::Undeclared, vt);
        if (!v->ptr->isArray()) return fail(err::NotArray, line[p]);
        if (!readSubscripts(e, line, p, SIZE_MAX, subs, nsubs, subCol)) return false;
        uint32_t flat;
        if (!v->ptr->isArray() || !flatIndex(*v->ptr->rawArray(), subs, nsubs, flat))
            return fail(err::BadSubscript, subCol);
        element = true;
    }
    if (v && v->ptr->is(Kind::Object) && !element && (line[p].is(tok::Member) || line[p].is(tok::LParen))) {
        releaseHeldOutput();
        if (objectHooks().statement && objectHooks().statement(e, line, p, *v->ptr)) return true;
        return fail(err::ObjectFailed, line[p]);
    }
    if (line[p].is(tok::Member)) {
        if (objectHooks().offerError && objectHooks().offerError(e, err::NotObject)) return true;
        return fail(err::NotObject, line[p]);
    }
    const int16_t op = line[p].kind;
    if (op != tok::Equal && op != tok::AddAssign && op != tok::SubAssign && op != tok::MulAssign &&
        op != tok::DivAssign && op != tok::ConcatAssign)
        return fail(err::AssignExpected, line[p]);
    ++p;
    if (op == tok::Equal && v && !element) {
        int r = appendToItself(e, line, p, sym, v);
        if (r >= 0) return r == 1;
    }
    Variant rhs;
    if (!e.evaluate(line, p, rhs)) return false;
    if (!isEol(line[p])) return fail(err::ExtraText, line[p]);

    if (!v) {
        if (op != tok::Equal || options().mustDeclareVars) return fail(err::Undeclared, vt);
        v = e.lookup(sym, Scope::Any);  // the right-hand side may have declared it
        if (!v) v = e.create(sym, Scope::Any, 0);
        else if (v->flags & kVarConst) return fail(err::AssignConst, vt);
    }
    Variant* target = v->ptr;
    if (element) {
        // Resolved again: the right-hand side may have resized or replaced the array.
        uint32_t flat;
        if (!target->isArray()) return fail(err::NotArray, line[pos + 1]);
        ArrayData* a = target->rawArray();
        if (!flatIndex(*a, subs, nsubs, flat)) return fail(err::BadSubscript, subCol);
        a->makeUnique();
        target = &a->at(flat);
    }
    switch (op) {
        case tok::Equal: *target = std::move(rhs); break;
        case tok::AddAssign: ops::add(*target, rhs); break;
        case tok::SubAssign: ops::sub(*target, rhs); break;
        case tok::MulAssign: ops::mul(*target, rhs); break;
        case tok::DivAssign: ops::div(*target, rhs); break;
        default: ops::concat(*target, rhs); break;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------------
// Built-ins

namespace {

SString upperName(const Variant& v) {
    SString s = v.toString();
    if (!s.empty()) platform::upperCase(s.mutableData(), s.size());
    return s;
}

}  // namespace

int biIsDeclared(Engine& e, Args& args, Variant& result) {
    SString name = upperName(args[0]);
    int sym = e.findSymbol(name.view());
    int32_t r = 0;
    if (sym >= 0) {
        if (e.inFunction() && e.lookup(static_cast<uint32_t>(sym), Scope::Local)) r = -1;
        else if (e.lookup(static_cast<uint32_t>(sym), Scope::Global)) r = 1;
    }
    result.setInt32(r);
    return 0;
}

int biAssign(Engine& e, Args& args, Variant& result) {
    SString name = upperName(args[0]);
    if (name.empty() || name[0] == u'@' || name.view().find(u'[') != u16view::npos) {
        result.setInt32(0);
        e.setError(1);
        return 0;
    }
    int32_t flag = args.n > 2 ? args.int32(2) : 0;
    Scope scope = (flag & 2) ? Scope::Global : (flag & 1) ? Scope::Local : Scope::Any;
    bool create = (flag & 4) == 0;
    uint32_t sym = e.intern(name.view());
    VarEntry* v = e.lookup(sym, scope);
    if (v) {
        if (v->flags & kVarConst) {
            result.setInt32(0);
            e.setError(1);
            return 0;
        }
        *v->ptr = std::move(args[1]);
        result.setInt32(1);
        return 0;
    }
    if (!create) {
        result.setInt32(0);
        e.setError(2);
        return 0;
    }
    v = e.create(sym, scope, 0);
    *v->ptr = std::move(args[1]);
    result.setInt32(1);
    return 0;
}

int biEval(Engine& e, Args& args, Variant& result) {
    SString name = upperName(args[0]);
    VarEntry* v = e.lookup(name.view(), Scope::Any);
    if (!v) {
        result.setString(SString());
        e.setError(1);
        return 0;
    }
    result = *v->ptr;
    return 0;
}

int biUBound(Engine& e, Args& args, Variant& result) {
    if (!args[0].isArray()) {
        result.setInt32(0);
        e.setError(1);
        return 0;
    }
    const ArrayData* a = args[0].rawArray();
    int32_t d = args.n > 1 ? args.int32(1) : 1;
    if (d == 0) {
        result.setInt32(static_cast<int32_t>(a->ndims));
    } else if (d >= 1 && static_cast<uint32_t>(d) <= a->ndims) {
        result.setInt32(static_cast<int32_t>(a->dims[d - 1]));
    } else {
        result.setInt32(0);
        e.setError(2);
    }
    return 0;
}

}  // namespace tx
