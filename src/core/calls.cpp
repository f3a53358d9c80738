// Function calls: the built-in dispatcher, user-function registration and calls (BYREF, CONST,
// defaults, @NUMPARAMS, error propagation, the nesting limit), plug-in lookup, and the built-ins that
// call by name or evaluate text: CALL, EXECUTE, SETERROR, SETEXTENDED, DUMMYSPEEDTEST.
#include <new>

#include "core/builtins.h"
#include "core/callargs.h"
#include "core/core_builtins.h"
#include "core/interp.h"
#include "core/platform.h"
#include "host/lexer.h"

namespace tx {

namespace {

constexpr int kMaxNesting = 3900;

// Finds the ")" matching the "(" at open and counts the arguments between them (commas at depth 1,
// plus one); false when the line ends first. Lines never change, so the result is kept in the "("
// token's unused number (offset of the ")" and count + 1) and checked against the ")" it names.
bool scanArgs(TokenLine& line, size_t open, size_t& close, size_t& count) {
    const uint64_t cached = static_cast<uint64_t>(line[open].num.i64);
    if (cached != 0) {
        size_t off = static_cast<size_t>(cached & 0xFFFFFFFFu), cnt = static_cast<size_t>(cached >> 32) - 1;
        if (open + off < line.size() && line[open + off].is(tok::RParen) && cnt <= off) {
            close = open + off;
            count = cnt;
            return true;
        }
    }
    size_t n = 1;
    int depth = 0;
    for (size_t p = open; p < line.size(); ++p) {
        int16_t k = line[p].kind;
        if (k == tok::LParen) {
            ++depth;
        } else if (k == tok::RParen) {
            if (--depth == 0) {
                close = p;
                count = p == open + 1 ? 0 : n;
                line[open].num.i64 = static_cast<int64_t>((static_cast<uint64_t>(count + 1) << 32) | (p - open));
                return true;
            }
        } else if (k == tok::Comma) {
            if (depth == 1) ++n;
        } else if (k == tok::EndOfLine) {
            break;
        }
    }
    return false;
}

// Evaluates a plain argument list "(" a, b, ... ")" at pos (at the "(") into args; pos ends after ")".
bool evaluateArgs(Engine& e, TokenLine& line, size_t& pos, size_t close, ArgBuffer<Variant>& args) {
    ++pos;
    if (pos == close) {
        pos = close + 1;
        return true;
    }
    for (;;) {
        if (args.full()) return fail(err::CallParse, line[pos]);
        Variant& a = args.push();
        if (!e.evaluate(line, pos, close, a)) return false;
        if (pos == close) break;
        if (!line[pos].is(tok::Comma)) return fail(err::CallParse, line[pos]);
        ++pos;
        if (pos == close) return fail(err::CallParse, line[pos]);
    }
    pos = close + 1;
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------------------------------
// Built-in calls

bool callBuiltinAt(Engine& e, TokenLine& line, size_t& pos, Variant& out) {
    const Token& name = line[pos];
    int index = name.num.i32;
    if (index < 0 || index >= kBuiltinCount) return fail(err::UnknownFunc, name);
    const BuiltinEntry& entry = kBuiltins[index];
    ++pos;
    if (!line[pos].is(tok::LParen)) return fail(err::CallParse, line[pos]);
    size_t close, count;
    if (!scanArgs(line, pos, close, count)) return fail(err::CallParse, line.back());
    ArgBuffer<Variant> args(count);
    if (!evaluateArgs(e, line, pos, close, args)) return false;
    int n = args.size();
    if (n < entry.minArgs || n > entry.maxArgs) return fail(err::ArgCount, name);
    return invokeBuiltin(e, index, args.data(), n, out);
}

bool invokeBuiltin(Engine& e, int index, Variant* args, int n, Variant& out) {
    const BuiltinEntry& entry = kBuiltins[index];
    Frame& f = e.frame();
    f.error = 0;
    f.errorByScript = false;
    f.extended.setInt32(0);
    f.extendedByScript = false;
    out.setInt32(1);
    if (!entry.handler) {
        // Not available in this build: a plain built-in failure.
        e.setError(1);
        out.setInt32(0);
        return true;
    }
    if (g_heldOutput.flush && entry.handler != g_heldOutput.keep[0] && entry.handler != g_heldOutput.keep[1])
        g_heldOutput.flush();
    Args a{args, n};
    if (entry.handler(e, a, out) != 0) return false;
    return !e.rs.stopping;
}

// ---------------------------------------------------------------------------------------------------
// User functions: registration

bool Engine::registerFunctions() {
    ScriptStore& store = scriptStore();
    RunState& rs = runState();
    int count = store.tokenLineCount();
    funcAtLine_.assign(static_cast<size_t>(count) + 1, -1);
    for (int ln = 1; ln <= count; ++ln) {
        TokenLine& line = tokenLine(ln);
        if (!line[0].isKeyword(kw::Func)) continue;
        rs.currentLine = ln;
        size_t p = 1;
        if (!line[p].is(tok::UserFunc)) return fail(err::BadFunc, line[p]);
        if (funcNames_.find(line[p].str.view()) >= 0) return fail(err::DuplicateFunc, line[p]);
        UserFunction f;
        f.name = line[p].str;
        f.funcLine = ln;
        ++p;
        if (!line[p].is(tok::LParen)) return fail(err::BadFunc, line[p]);
        ++p;
        bool sawDefault = false;
        if (!line[p].is(tok::RParen)) {
            for (;;) {
                Param prm;
                // BYREF and CONST, in any order.
                while (line[p].kind == tok::Keyword) {
                    int k = line[p].num.i32;
                    if (k == kw::ByRef) prm.byRef = true;
                    else if (k == kw::Const) prm.isConst = true;
                    else return fail(err::BadFunc, line[p]);
                    ++p;
                }
                if (!line[p].is(tok::Variable)) return fail(err::ParamNoVar, line[p]);
                prm.sym = intern(line[p].str.view());
                for (const Param& q : f.params)
                    if (q.sym == prm.sym) return fail(err::DuplicateParam, line[p]);
                ++p;
                if (line[p].is(tok::Equal)) {
                    if (prm.byRef) return fail(err::BadFunc, line[p]);
                    ++p;
                    prm.defaultPos = static_cast<int>(p);
                    if (line[p].is(tok::Plus) || line[p].is(tok::Minus)) ++p;
                    int16_t k = line[p].kind;
                    bool okToken = k == tok::Int32 || k == tok::Int64 || k == tok::Double || k == tok::String ||
                                   k == tok::Keyword || k == tok::Macro || k == tok::Variable;
                    if (!okToken) return fail(err::BadFunc, line[p]);
                    ++p;
                    prm.defaultEnd = static_cast<int>(p);
                    sawDefault = true;
                } else if (sawDefault) {
                    return fail(err::BadFunc, line[p]);
                } else {
                    ++f.minArgs;
                }
                f.params.push_back(prm);
                if (line[p].is(tok::RParen)) break;
                if (!line[p].is(tok::Comma)) return fail(err::BadFunc, line[p]);
                ++p;
                if (line[p].is(tok::RParen)) return fail(err::ParamNoVar, line[p]);
            }
        }
        ++p;  // past ")"
        if (!isEol(line[p])) return fail(err::ExtraText, line[p]);
        f.maxArgs = static_cast<int>(f.params.size());
        funcs_.push_back(std::move(f));
        funcNames_.insert(funcs_.back().name, static_cast<int>(funcs_.size() - 1));
        funcAtLine_[static_cast<size_t>(ln)] = static_cast<int>(funcs_.size() - 1);
    }
    return true;
}

// ---------------------------------------------------------------------------------------------------
// User functions: calls

// Runs a user function with its arguments already gathered (values or references).
bool invokeUser(Engine& e, int index, CallArg* args, int n, Variant& out) {
    RunState& rs = e.rs;
    const UserFunction& f = e.userFunction(index);
    const int savedLine = rs.currentLine;
    const int savedNumParams = e.numParams_;

    Frame& fr = e.pushFrame(f.funcLine);
    e.numParams_ = n;
    struct PopFrame {
        Engine& e;
        int line, numParams;
        ~PopFrame() {
            e.popFrame();
            e.numParams_ = numParams;
            e.rs.currentLine = line;
        }
    } popper{e, savedLine, savedNumParams};

    // The parameters become the new frame's first locals (what Engine::create does for a local, without
    // its scope choice: a parameter name is never declared twice in one frame).
    fr.locals.reserve(f.params.size());
    for (size_t k = 0; k < f.params.size(); ++k) {
        const Param& p = f.params[k];
        VarEntry* v = e.allocEntry();
        v->sym = p.sym;
        v->flags = static_cast<uint16_t>(kVarParam | (p.isConst ? kVarConst : 0));
        Symbol& s = e.symbols_[p.sym];
        v->prevLocal = s.local;
        v->prevSerial = s.localSerial;
        s.local = v;
        s.localSerial = fr.serial;
        fr.locals.push_back(v);
        if (static_cast<int>(k) < n) {
            CallArg& a = args[k];
            if (a.ref) {
                v->ptr = a.ref;
                v->borrowed = true;
                v->pin = std::move(a.pin);
                if (a.refConst) v->flags |= kVarConst;
            } else {
                v->value = std::move(a.value);
            }
        } else {
            // Defaults are evaluated at each call, in the callee's scope.
            rs.currentLine = f.funcLine;
            size_t dp = static_cast<size_t>(p.defaultPos);
            Variant d;
            if (!e.evaluate(tokenLine(f.funcLine), dp, static_cast<size_t>(p.defaultEnd), d)) return false;
            v->value = std::move(d);
        }
    }
    rs.currentLine = savedLine;

    if (runLevel(f.funcLine + 1) != 0) return false;

    Frame& callee = e.frame();
    e.lastCallReturnedValue = callee.hasReturn;
    if (callee.hasReturn) out = std::move(callee.returnValue);
    else out.setInt32(0);
    Frame& caller = *e.frames_[static_cast<size_t>(e.frameDepth_ - 1)];
    caller.error = callee.errorByScript ? callee.error : 0;
    caller.errorByScript = false;
    if (callee.extendedByScript) caller.extended = std::move(callee.extended);
    else caller.extended.setInt32(0);
    caller.extendedByScript = false;
    return !rs.stopping;
}

bool callUserAt(Engine& e, TokenLine& line, size_t& pos, Variant& out) {
    Token& name = line[pos];
    int index = e.functionOf(name);
    if (index < 0) {
        // Not a user function: offered to the plug-ins with its evaluated arguments.
        size_t p = pos + 1;
        if (!line[p].is(tok::LParen)) return fail(err::CallParse, line[p]);
        size_t close, count;
        if (!scanArgs(line, p, close, count)) return fail(err::CallParse, line.back());
        ArgBuffer<Variant> args(count);
        if (!evaluateArgs(e, line, p, close, args)) return false;
        int r = 0;
        if (g_pluginCall) {
            releaseHeldOutput();
            int32_t error = 0;
            Variant extended;
            r = g_pluginCall(name.str.view(), args.data(), args.size(), out, error, extended);
            if (r > 0) {
                Frame& f = e.frame();
                f.error = error;
                f.errorByScript = false;
                f.extended = std::move(extended);
                f.extendedByScript = false;
                pos = p;
                return true;
            }
        }
        return fail(r < 0 ? err::ArgCount : err::UnknownFunc, name);
    }
    const UserFunction& f = e.userFunction(index);
    size_t p = pos + 1;
    if (!line[p].is(tok::LParen)) return fail(err::CallParse, line[p]);
    size_t close, count;
    if (!scanArgs(line, p, close, count)) return fail(err::CallParse, line.back());
    ArgBuffer<CallArg> args(count);
    ++p;
    if (p != close) {
        for (;;) {
            if (args.full()) return fail(err::ArgCount, name);
            const int i = args.size();
            CallArg& a = args.push();
            const Param* prm = i < static_cast<int>(f.params.size()) ? &f.params[static_cast<size_t>(i)] : nullptr;
            if (prm && prm->byRef && line[p].is(tok::Variable)) {
                // By reference: the caller's variable (or array element) itself.
                Token& vt = line[p];
                VarEntry* v = e.lookup(e.symbolOf(vt), Scope::Any);
                if (!v) return fail(err::Undeclared, vt);
                if ((v->flags & kVarConst) && !prm->isConst) return fail(err::ConstByRef, vt);
                ++p;
                if (line[p].is(tok::LBracket)) {
                    if (!v->ptr->isArray()) return fail(err::NotArray, line[p]);
                    uint32_t subs[kMaxDims];
                    int n, col;
                    if (!readSubscripts(e, line, p, close, subs, n, col)) return false;
                    uint32_t flat;
                    if (!v->ptr->isArray() || !flatIndex(*v->ptr->rawArray(), subs, n, flat))
                        return fail(err::BadSubscript, col);
                    ArrayData* ad = v->ptr->rawArray();
                    ad->makeUnique();
                    a.ref = &ad->at(flat);
                    a.pin = StorePin(ad->store);
                } else {
                    a.ref = v->ptr;
                }
                a.refConst = (v->flags & kVarConst) != 0;
                if (p != close && !line[p].is(tok::Comma)) return fail(err::CallParse, line[p]);
            } else {
                if (!e.evaluate(line, p, close, a.value)) return false;
            }
            if (p == close) break;
            if (!line[p].is(tok::Comma)) return fail(err::ArgCount, line[p]);
            ++p;
            if (p == close) return fail(err::CallParse, line[p]);
        }
    }
    pos = close + 1;
    int n = args.size();
    if (n < f.minArgs || n > f.maxArgs) return fail(err::ArgCount, name);
    return invokeUser(e, index, args.data(), n, out);
}

bool Engine::callUser(int index, Variant* args, int n, Variant& result) {
    ArgBuffer<CallArg> buf(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) buf.push().value = args[i];
    return invokeUser(*this, index, buf.data(), n, result);
}

bool Engine::callUserByName(u16view upperName, Variant& result) {
    int i = findUserFunction(upperName);
    if (i < 0) return false;
    return callUser(i, nullptr, 0, result);
}

// ---------------------------------------------------------------------------------------------------
// Built-ins of this layer

int biCall(Engine& e, Args& args, Variant& result) {
    if (e.callNesting_ >= kMaxNesting) {
        runState().suppress = 0;
        reportRuntimeError(err::Recursion, -1);
        return 1;
    }
    result.setInt32(0);
    SString name = args[0].toString();
    platform::upperCase(name.mutableData(), name.size());
    int index = e.findUserFunction(name.view());
    auto notCallable = [&] {
        e.setError(0xDEAD);
        e.setExtended(0xBEEF);
        return 0;
    };
    if (index < 0) return notCallable();
    // The arguments: those given, or the elements 1.. of a CALLARGARRAY array.
    Variant* argv = args.n > 1 ? &args[1] : nullptr;
    int argc = args.n - 1;
    if (args.n == 2 && args[1].isArray()) {
        ArrayData* a = args[1].rawArray();
        if (a->ndims == 1 && a->total >= 1 && a->at(0).isString() &&
            equalsNoCaseAscii(a->at(0).rawString().view(), "CALLARGARRAY")) {
            argv = a->total > 1 ? &a->at(1) : nullptr;
            argc = static_cast<int>(a->total) - 1;
        }
    }
    const UserFunction& f = e.userFunction(index);
    if (argc < f.minArgs || argc > f.maxArgs) return notCallable();
    ++e.callNesting_;
    Variant r;
    bool ok = e.callUser(index, argv, argc, r);
    --e.callNesting_;
    if (!ok) {
        if (runState().stopping) return 1;
        e.setError(0xDEAD);
        e.setExtended(0xBEEF);
        return 1;
    }
    result = std::move(r);
    return 0;
}

int biExecute(Engine& e, Args& args, Variant& result) {
    RunState& rs = runState();
    TokenLine line;
    const SString& text = args.str(0);
    uint8_t savedSuppress = rs.suppress;
    rs.suppress = 1;
    bool ok = tokenise(0, text.view(), line) == 0;
    Variant v;
    if (ok && !line.empty() && !isEol(line[0])) {
        size_t pos = 0;
        ok = e.evaluate(line, pos, v) && isEol(line[pos]);
    } else {
        ok = false;
    }
    rs.suppress = savedSuppress;
    if (rs.stopping) return 1;
    if (!ok) {
        result.setString(SString());
        e.setError(1);
        return 0;
    }
    result = std::move(v);
    return 0;
}

int biSetError(Engine& e, Args& args, Variant& result) {
    e.setError(args.int32(0), true);
    if (args.n > 1) e.setExtended(args.int32(1), true);
    if (args.n > 2) result = std::move(args[2]);
    return 0;
}

int biSetExtended(Engine& e, Args& args, Variant& result) {
    e.setExtended(args.int32(0), true);
    if (args.n > 1) result = std::move(args[1]);
    return 0;
}

int biDummySpeedTest(Engine&, Args&, Variant&) { return 0; }

}  // namespace tx
