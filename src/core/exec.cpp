// The statement executor: the structure check run before the first line, the line dispatcher, and every
// block statement (IF, WHILE, DO, FOR, SELECT, SWITCH, WITH) with EXITLOOP, CONTINUELOOP, CONTINUECASE,
// EXIT, FUNC, ENDFUNC and RETURN.
//
// Control flow works on line numbers. A block finds its partner lines (ENDIF and the ELSE/ELSEIF lines,
// WEND, UNTIL, NEXT, the CASE lines and ENDSELECT/ENDSWITCH) by a forward scan the first time it runs;
// lines never change, so the scan's result is kept per line and later runs reuse it. Open blocks are
// records on the engine's block stack; a level of the executor (a function call) never pops records
// that belong to its caller.
#include "core/compiled.h"
#include "core/interp.h"
#include "core/ops.h"
#include "env/options.h"

namespace tx {

namespace {

bool isLoop(BlockKind k) { return k == BlockKind::While || k == BlockKind::Do || k == BlockKind::For || k == BlockKind::ForIn || k == BlockKind::ForObj; }

// The last token before the end of the line.
inline const Token& lastToken(const TokenLine& line) { return line[line.size() >= 2 ? line.size() - 2 : 0]; }

inline bool opensIfBlock(const TokenLine& line) { return line[0].isKeyword(kw::If) && lastToken(line).isKeyword(kw::Then); }

BlockScan& scanOf(Engine& e, int ln) {
    if (e.scans_.size() <= static_cast<size_t>(ln)) e.scans_.resize(static_cast<size_t>(lineCount()) + 1);
    return e.scans_[static_cast<size_t>(ln)];
}

// IF: the ELSE/ELSEIF lines at its own nesting and its ENDIF.
const BlockScan& scanIf(Engine& e, int ln) {
    BlockScan& s = scanOf(e, ln);
    if (s.done) return s;
    int depth = 0, n = lineCount();
    for (int i = ln + 1; i <= n; ++i) {
        const TokenLine& l = tokenLine(i);
        int k = keywordOf(l[0]);
        if (k == kw::If && opensIfBlock(l)) ++depth;
        else if (k == kw::EndIf) {
            if (depth == 0) {
                s.end = i;
                break;
            }
            --depth;
        } else if (depth == 0 && (k == kw::Else || k == kw::ElseIf)) {
            s.branches.push_back(i);
        }
    }
    s.done = true;
    return s;
}

// WHILE/WEND, DO/UNTIL, FOR/NEXT.
const BlockScan& scanLoop(Engine& e, int ln, int open, int close) {
    BlockScan& s = scanOf(e, ln);
    if (s.done) return s;
    int depth = 0, n = lineCount();
    for (int i = ln + 1; i <= n; ++i) {
        int k = keywordOf(tokenLine(i)[0]);
        if (k == open) ++depth;
        else if (k == close) {
            if (depth == 0) {
                s.end = i;
                break;
            }
            --depth;
        }
    }
    s.done = true;
    return s;
}

// SELECT/SWITCH: the CASE lines at its own nesting and the closing line.
const BlockScan& scanSelect(Engine& e, int ln) {
    BlockScan& s = scanOf(e, ln);
    if (s.done) return s;
    int depth = 0, n = lineCount();
    for (int i = ln + 1; i <= n; ++i) {
        int k = keywordOf(tokenLine(i)[0]);
        if (k == kw::Select || k == kw::Switch) ++depth;
        else if (k == kw::EndSelect || k == kw::EndSwitch) {
            if (depth == 0) {
                s.end = i;
                break;
            }
            --depth;
        } else if (depth == 0 && k == kw::Case) {
            s.branches.push_back(i);
        }
    }
    s.done = true;
    return s;
}

// Evaluates a condition of another line (ELSEIF, CASE, the WHILE line at WEND) with error reports
// naming that line.
struct LineSwitch {
    int saved;
    explicit LineSwitch(int ln) : saved(runState().currentLine) { runState().currentLine = ln; }
    ~LineSwitch() { runState().currentLine = saved; }
};

// Nothing may follow at pos.
inline bool endHere(const TokenLine& line, size_t pos) {
    if (!isEol(line[pos])) return fail(err::ExtraText, line[pos]);
    return true;
}

class Exec {
public:
    explicit Exec(Engine& e) : e_(e), lv_(*e.level()), rs_(e.rs) {}

    bool keyword(TokenLine& line, size_t pos);

private:
    Engine& e_;
    Level& lv_;
    RunState& rs_;

    int current() const { return rs_.currentLine; }
    std::vector<Block>& blocks() { return e_.blocks_; }
    bool hasBlock() const { return e_.blocks_.size() > lv_.blockBase; }
    Block& top() { return e_.blocks_.back(); }
    void pop() { e_.blocks_.pop_back(); }

    bool ifStatement(TokenLine& line, size_t pos);
    bool elseReached();
    bool whileStatement(TokenLine& line, size_t pos);
    bool wend(TokenLine& line, size_t pos);
    bool doStatement(TokenLine& line, size_t pos);
    bool until(TokenLine& line, size_t pos);
    bool forStatement(TokenLine& line, size_t pos);
    bool next(TokenLine& line, size_t pos);
    bool exitLoop(TokenLine& line, size_t pos, bool cont);
    bool selectStatement(TokenLine& line, size_t pos);
    bool switchStatement(TokenLine& line, size_t pos);
    bool caseReached(TokenLine& line, size_t pos);
    bool endSelect(TokenLine& line, size_t pos, int kind);
    bool continueCase(TokenLine& line, size_t pos);
    bool withStatement(TokenLine& line, size_t pos);
    bool exitStatement(TokenLine& line, size_t pos);
    bool returnStatement(TokenLine& line, size_t pos);
    bool loopTest(Block& b);
};

bool Exec::ifStatement(TokenLine& line, size_t pos) {
    size_t p = pos + 1;
    Variant cond;
    if (!e_.evaluate(line, p, cond)) return false;
    if (!line[p].isKeyword(kw::Then)) return fail(err::IfNoThen, line[p]);
    ++p;
    if (!isEol(line[p])) {
        // Single-line form: the rest of the line is a statement of its own.
        if (!cond.isTrue()) return true;
        return e_.executeStatement(line, p);
    }
    const int ln = current();
    const BlockScan& s = scanIf(e_, ln);
    if (s.end == 0) return fail(err::IfNoEndIf, line[pos]);
    int chosen = 0;
    bool seenElse = false;
    bool truth = cond.isTrue();
    if (truth) chosen = ln + 1;
    for (int b : s.branches) {
        TokenLine& bl = tokenLine(b);
        if (bl[0].isKeyword(kw::Else)) {
            if (seenElse) {
                LineSwitch ls(b);
                return fail(err::TooManyElse, bl[0]);
            }
            seenElse = true;
            if (!chosen) chosen = b + 1;
        } else {
            if (seenElse) {
                LineSwitch ls(b);
                return fail(err::TooManyElse, bl[0]);
            }
            if (chosen) continue;
            LineSwitch ls(b);
            size_t q = 1;
            Variant c;
            if (!e_.evaluate(bl, q, c)) return false;
            if (!bl[q].isKeyword(kw::Then)) return fail(err::IfNoThen, bl[q]);
            if (!endHere(bl, q + 1)) return false;
            if (c.isTrue()) chosen = b + 1;
        }
    }
    Block& blk = blocks().emplace_back();
    blk.kind = BlockKind::If;
    blk.startLine = ln;
    blk.endLine = s.end;
    lv_.nextLine = chosen ? chosen : s.end;
    return true;
}

// ELSE or ELSEIF reached by execution: the chosen branch is over.
bool Exec::elseReached() {
    if (hasBlock() && top().kind == BlockKind::If) {
        lv_.nextLine = top().endLine + 1;
        pop();
        return true;
    }
    // No record (cannot happen after the structure check): find the ENDIF from here.
    int depth = 0, n = lineCount();
    for (int i = current() + 1; i <= n; ++i) {
        const TokenLine& l = tokenLine(i);
        int k = keywordOf(l[0]);
        if (k == kw::If && opensIfBlock(l)) ++depth;
        else if (k == kw::EndIf && depth-- == 0) {
            lv_.nextLine = i + 1;
            return true;
        }
    }
    return fail(err::ElseNoIf, tokenLine(current())[0]);
}

bool Exec::whileStatement(TokenLine& line, size_t pos) {
    size_t p = pos + 1;
    Variant cond;
    if (!e_.evaluate(line, p, cond)) return false;
    if (!endHere(line, p)) return false;
    const int ln = current();
    const BlockScan& s = scanLoop(e_, ln, kw::While, kw::Wend);
    if (s.end == 0) return fail(err::WhileNoWend, line[pos]);
    if (!cond.isTrue()) {
        lv_.nextLine = s.end + 1;
        return true;
    }
    Block& b = blocks().emplace_back();
    b.kind = BlockKind::While;
    b.startLine = ln;
    b.endLine = s.end;
    return true;
}

bool Exec::wend(TokenLine& line, size_t pos) {
    if (!hasBlock() || top().kind != BlockKind::While) return fail(err::WendNoWhile, line[pos]);
    const int start = top().startLine;
    TokenLine& wl = tokenLine(start);
    Variant cond;
    {
        LineSwitch ls(start);
        size_t p = 1;
        if (!e_.evaluate(wl, p, cond)) return false;
    }
    if (cond.isTrue()) {
        lv_.nextLine = start + 1;
    } else {
        pop();
        lv_.nextLine = current() + 1;
    }
    return true;
}

bool Exec::doStatement(TokenLine& line, size_t pos) {
    const int ln = current();
    const BlockScan& s = scanLoop(e_, ln, kw::Do, kw::Until);
    if (s.end == 0) return fail(err::DoNoUntil, line[pos]);
    Block& b = blocks().emplace_back();
    b.kind = BlockKind::Do;
    b.startLine = ln;
    b.endLine = s.end;
    return true;
}

bool Exec::until(TokenLine& line, size_t pos) {
    size_t p = pos + 1;
    Variant cond;
    if (!e_.evaluate(line, p, cond)) return false;
    if (!endHere(line, p)) return false;
    if (!hasBlock() || top().kind != BlockKind::Do) return fail(err::UntilNoDo, line[pos]);
    if (cond.isTrue()) {
        pop();
        lv_.nextLine = current() + 1;
    } else {
        lv_.nextLine = top().startLine + 1;
    }
    return true;
}

// The For...To test: while var <= end, or var >= end for a negative step.
bool Exec::loopTest(Block& b) {
    if (b.negativeStep) return !ops::less(*b.loopVar, b.limit);
    return !ops::less(b.limit, *b.loopVar);
}

bool Exec::forStatement(TokenLine& line, size_t pos) {
    size_t p = pos + 1;
    if (!line[p].is(tok::Variable)) return fail(err::BadFor, line[p]);
    Token& vt = line[p];
    uint32_t sym = e_.symbolOf(vt);
    VarEntry* v = e_.lookup(sym, Scope::Local);
    if (!v) v = e_.create(sym, Scope::Local, 0);
    if (v->flags & kVarConst) return fail(err::AssignConst, vt);
    ++p;
    Variant* var = v->ptr;
    StorePin pin;
    if (line[p].is(tok::LBracket)) {
        // An array element as the loop variable.
        if (!v->ptr->isArray()) return fail(err::NotArray, line[p]);
        uint32_t subs[kMaxDims];
        int n, col;
        if (!readSubscripts(e_, line, p, SIZE_MAX, subs, n, col)) return false;
        uint32_t flat;
        if (!v->ptr->isArray() || !flatIndex(*v->ptr->rawArray(), subs, n, flat)) return fail(err::BadSubscript, col);
        ArrayData* a = v->ptr->rawArray();
        a->makeUnique();
        var = &a->at(flat);
        pin = StorePin(a->store);
    }
    const int ln = current();
    if (line[p].isKeyword(kw::In)) {
        ++p;
        Variant coll;
        if (!e_.evaluate(line, p, coll)) return false;
        if (!endHere(line, p)) return false;
        const BlockScan& s = scanLoop(e_, ln, kw::For, kw::Next);
        if (s.end == 0) return fail(err::ForNoNext, line[pos]);
        if (coll.isArray()) {
            ArrayData* a = coll.rawArray();
            if (a->ndims != 1 || a->total == 0) {
                var->setString(SString());
                lv_.nextLine = s.end + 1;
                return true;
            }
            *var = a->at(0);
            Block& b = blocks().emplace_back();
            b.kind = BlockKind::ForIn;
            b.startLine = ln;
            b.endLine = s.end;
            b.loopVar = var;
            b.pin = std::move(pin);
            b.limit = std::move(coll);
            b.index = 0;
            return true;
        }
        if (coll.is(Kind::Object) && objectHooks().enumStart) {
            Variant en, item;
            bool failed = false;
            releaseHeldOutput();
            bool any = objectHooks().enumStart(e_, coll, en, item, failed);
            if (failed) return fail(err::ObjectFailed, line[pos]);
            if (!any) {
                var->setString(SString());
                lv_.nextLine = s.end + 1;
                return true;
            }
            *var = std::move(item);
            Block& b = blocks().emplace_back();
            b.kind = BlockKind::ForObj;
            b.startLine = ln;
            b.endLine = s.end;
            b.loopVar = var;
            b.pin = std::move(pin);
            b.step = std::move(en);
            return true;
        }
        if (objectHooks().offerError && objectHooks().offerError(e_, err::NotObject)) {
            lv_.nextLine = s.end + 1;
            return true;
        }
        return fail(err::NotObject, line[pos]);
    }
    if (!line[p].is(tok::Equal)) return fail(err::BadFor, line[p]);
    ++p;
    Variant start;
    if (!e_.evaluate(line, p, start)) return false;
    *var = std::move(start);
    if (var->isString()) var->toDoubleInPlace();
    if (!line[p].isKeyword(kw::To)) return fail(err::BadFor, line[p]);
    ++p;
    Variant limit;
    if (!e_.evaluate(line, p, limit)) return false;
    if (limit.isString()) limit.toDoubleInPlace();
    Variant step = Variant::int32(1);
    if (line[p].isKeyword(kw::Step)) {
        ++p;
        if (!e_.evaluate(line, p, step)) return false;
    }
    if (!endHere(line, p)) return false;
    const BlockScan& s = scanLoop(e_, ln, kw::For, kw::Next);
    if (s.end == 0) return fail(err::ForNoNext, line[pos]);
    Block& b = blocks().emplace_back();
    b.kind = BlockKind::For;
    b.startLine = ln;
    b.endLine = s.end;
    b.loopVar = var;
    b.pin = std::move(pin);
    b.limit = std::move(limit);
    b.negativeStep = ops::less(step, Variant::dbl(0.0));
    b.step = std::move(step);
    if (!loopTest(b)) {
        pop();
        lv_.nextLine = s.end + 1;
    }
    return true;
}

bool Exec::next(TokenLine& line, size_t pos) {
    if (!hasBlock()) return fail(err::NextNoFor, line[pos]);
    Block& b = top();
    switch (b.kind) {
        case BlockKind::For: {
            Variant& v = *b.loopVar;
            if (v.is(Kind::Int32) && b.step.is(Kind::Int32) && b.limit.is(Kind::Int32)) {
                // The common counting loop, with the same result as "+" and the test on Int32 values.
                int64_t n = int64_t(v.rawInt32()) + b.step.rawInt32();
                if (n >= INT32_MIN && n <= INT32_MAX) {
                    v.setInt32(static_cast<int32_t>(n));
                    bool more = b.negativeStep ? n >= b.limit.rawInt32() : n <= b.limit.rawInt32();
                    if (more) {
                        lv_.nextLine = b.startLine + 1;
                        return true;
                    }
                    break;
                }
            }
            ops::add(v, b.step);
            if (loopTest(b)) {
                lv_.nextLine = b.startLine + 1;
                return true;
            }
            break;
        }
        case BlockKind::ForIn: {
            ArrayData* a = b.limit.rawArray();
            if (++b.index < a->total) {
                *b.loopVar = a->at(b.index);
                lv_.nextLine = b.startLine + 1;
                return true;
            }
            break;
        }
        case BlockKind::ForObj: {
            Variant item;
            releaseHeldOutput();
            if (objectHooks().enumNext && objectHooks().enumNext(e_, b.step, item)) {
                *b.loopVar = std::move(item);
                lv_.nextLine = b.startLine + 1;
                return true;
            }
            break;
        }
        default:
            return fail(err::NextNoFor, line[pos]);
    }
    pop();
    lv_.nextLine = current() + 1;
    return true;
}

bool Exec::exitLoop(TokenLine& line, size_t pos, bool cont) {
    size_t p = pos + 1;
    int32_t n = 1;
    if (!isEol(line[p])) {
        Variant v;
        if (!e_.evaluate(line, p, v)) return false;
        if (!endHere(line, p)) return false;
        n = v.toInt32();
    }
    if (n <= 0) return true;
    // Find the n-th loop record of this level, innermost first.
    size_t i = blocks().size();
    int found = 0;
    while (i > lv_.blockBase) {
        --i;
        if (isLoop(blocks()[i].kind) && ++found == n) break;
    }
    if (found < n) return fail(err::ExitLoopOutside, line[pos]);
    Block& b = blocks()[i];
    if (cont) {
        if (current() < b.startLine || current() > b.endLine) return fail(err::ContinueLoopOutside, line[pos]);
        lv_.nextLine = b.endLine;
        while (blocks().size() > i + 1) pop();
    } else {
        lv_.nextLine = b.endLine + 1;
        while (blocks().size() > i) pop();
    }
    return true;
}

bool Exec::selectStatement(TokenLine& line, size_t pos) {
    const int ln = current();
    const BlockScan& s = scanSelect(e_, ln);
    if (s.branches.empty() || s.end == 0) return fail(err::SelectNoEnd, line[pos]);
    int chosen = 0;
    for (int c : s.branches) {
        TokenLine& cl = tokenLine(c);
        LineSwitch ls(c);
        if (cl[1].isKeyword(kw::Else)) {
            if (!endHere(cl, 2)) return false;
            chosen = c;
            break;
        }
        size_t q = 1;
        Variant v;
        if (!e_.evaluate(cl, q, v)) return false;
        if (!endHere(cl, q)) return false;
        if (v.isTrue()) {
            chosen = c;
            break;
        }
    }
    Block& b = blocks().emplace_back();
    b.kind = BlockKind::Select;
    b.startLine = ln;
    b.endLine = s.end;
    lv_.nextLine = chosen ? chosen + 1 : s.end;
    return true;
}

bool Exec::switchStatement(TokenLine& line, size_t pos) {
    size_t p = pos + 1;
    if (isEol(line[p])) return fail(err::Expression, line[p]);
    Variant x;
    if (!e_.evaluate(line, p, x)) return false;
    if (!endHere(line, p)) return false;
    const int ln = current();
    const BlockScan& s = scanSelect(e_, ln);
    if (s.branches.empty() || s.end == 0) return fail(err::SelectNoEnd, line[pos]);
    int chosen = 0;
    for (int c : s.branches) {
        TokenLine& cl = tokenLine(c);
        LineSwitch ls(c);
        if (cl[1].isKeyword(kw::Else)) {
            if (!endHere(cl, 2)) return false;
            chosen = c;
            break;
        }
        size_t q = 1;
        bool match = false;
        for (;;) {
            Variant lo;
            if (!e_.evaluate(cl, q, lo)) return false;
            if (cl[q].isKeyword(kw::To)) {
                ++q;
                Variant hi;
                if (!e_.evaluate(cl, q, hi)) return false;
                if (!cl[q].is(tok::Comma) && !isEol(cl[q])) return fail(err::ExtraText, cl[q]);
                match = !ops::less(x, lo) && !ops::less(hi, x);
            } else {
                if (!cl[q].is(tok::Comma) && !isEol(cl[q])) return fail(err::ExtraText, cl[q]);
                match = ops::equal(x, lo);
            }
            if (match || isEol(cl[q])) break;
            ++q;  // past ","
        }
        if (match) {
            chosen = c;
            break;
        }
    }
    Block& b = blocks().emplace_back();
    b.kind = BlockKind::Switch;
    b.startLine = ln;
    b.endLine = s.end;
    lv_.nextLine = chosen ? chosen + 1 : s.end;
    return true;
}

// CASE reached by execution: the chosen case is over.
bool Exec::caseReached(TokenLine& line, size_t pos) {
    if (!hasBlock() || (top().kind != BlockKind::Select && top().kind != BlockKind::Switch))
        return fail(err::CaseOutside, line[pos]);
    lv_.nextLine = top().endLine;
    return true;
}

bool Exec::endSelect(TokenLine& line, size_t pos, int kind) {
    if (!hasBlock() || (top().kind != BlockKind::Select && top().kind != BlockKind::Switch))
        return fail(kind == kw::EndSelect ? err::EndSelectNoSelect : err::EndSwitchNoSwitch, line[pos]);
    pop();
    return true;
}

bool Exec::continueCase(TokenLine& line, size_t pos) {
    if (!endHere(line, pos + 1)) return false;
    while (hasBlock() && top().kind != BlockKind::Select && top().kind != BlockKind::Switch) pop();
    if (!hasBlock()) return fail(err::ContinueCaseOutside, line[pos]);
    Block& b = top();
    const BlockScan& s = scanSelect(e_, b.startLine);
    for (int c : s.branches) {
        if (c > current()) {
            lv_.nextLine = c + 1;
            return true;
        }
    }
    lv_.nextLine = b.endLine + 1;
    pop();
    return true;
}

bool Exec::withStatement(TokenLine& line, size_t pos) {
    if (lv_.withOpen) return fail(err::NestedWith, line[pos]);
    size_t p = pos + 1;
    if (!line[p].is(tok::Variable)) return fail(err::WithNotObject, line[p]);
    Variant v;
    if (!e_.evaluate(line, p, v)) return false;
    if (!v.is(Kind::Object)) return fail(err::WithNotObject, line[pos + 1]);
    if (!endHere(line, p)) return false;
    lv_.with = std::move(v);
    lv_.withOpen = true;
    return true;
}

bool Exec::exitStatement(TokenLine& line, size_t pos) {
    size_t p = pos + 1;
    bool given = false;
    int32_t code = 0;
    if (!isEol(line[p])) {
        Variant v;
        if (!e_.evaluate(line, p, v)) return false;
        if (!endHere(line, p)) return false;
        code = v.toInt32();
        given = true;
    }
    if (given && options().setExitCode && code > 2147479551) return fail(err::BadExitCode, line[pos + 1]);
    if (given) rs_.exitCode = code;
    e_.exitMethod = 1;
    rs_.stopping = 1;
    return true;
}

bool Exec::returnStatement(TokenLine& line, size_t pos) {
    if (!e_.inFunction()) return fail(err::BadKeyword, line[pos]);
    size_t p = pos + 1;
    Frame& f = e_.frame();
    if (!isEol(line[p])) {
        if (!e_.evaluate(line, p, f.returnValue)) return false;
        if (!endHere(line, p)) return false;
        f.hasReturn = true;
    }
    lv_.returnFlag = true;
    return true;
}

bool Exec::keyword(TokenLine& line, size_t pos) {
    const int k = line[pos].num.i32;
    switch (k) {
        case kw::If: return ifStatement(line, pos);
        case kw::Else:
        case kw::ElseIf: return elseReached();
        case kw::EndIf:
            if (hasBlock() && top().kind == BlockKind::If) pop();
            return true;
        case kw::While: return whileStatement(line, pos);
        case kw::Wend: return wend(line, pos);
        case kw::Do: return doStatement(line, pos);
        case kw::Until: return until(line, pos);
        case kw::For: return forStatement(line, pos);
        case kw::Next: return next(line, pos);
        case kw::ExitLoop: return exitLoop(line, pos, false);
        case kw::ContinueLoop: return exitLoop(line, pos, true);
        case kw::Select: return selectStatement(line, pos);
        case kw::Switch: return switchStatement(line, pos);
        case kw::Case: return caseReached(line, pos);
        case kw::EndSelect:
        case kw::EndSwitch: return endSelect(line, pos, k);
        case kw::ContinueCase: return continueCase(line, pos);
        case kw::With: return withStatement(line, pos);
        case kw::EndWith:
            if (!endHere(line, pos + 1)) return false;
            lv_.with.setString(SString());
            lv_.withOpen = false;
            return true;
        case kw::Exit: return exitStatement(line, pos);
        case kw::Func: {
            int fi = e_.funcAtLine_.size() > static_cast<size_t>(current()) ? e_.funcAtLine_[static_cast<size_t>(current())] : -1;
            if (fi < 0) return fail(err::BadFunc, line[pos]);
            lv_.nextLine = e_.userFunction(fi).endLine + 1;
            return true;
        }
        case kw::EndFunc:
            lv_.returnFlag = true;
            return true;
        case kw::Return: return returnStatement(line, pos);
        case kw::Dim:
        case kw::ReDim:
        case kw::Local:
        case kw::Global:
        case kw::Const:
        case kw::Static:
        case kw::Enum: return declaration(e_, line, pos);
        default: return fail(err::BadKeyword, line[pos]);
    }
}

}  // namespace

bool Engine::executeStatement(TokenLine& line, size_t pos) {
    Token& t = line[pos];
    switch (t.kind) {
        case tok::Keyword: {
            Exec x(*this);
            return x.keyword(line, pos);
        }
        case tok::Variable: return assignment(*this, line, pos);
        case tok::Builtin:
        case tok::UserFunc: {
            Variant r;
            const int c = runCompiledCall(*this, line, pos, r);
            if (c == 0) return false;
            if (c < 0) {
                bool ok = t.kind == tok::Builtin ? callBuiltinAt(*this, line, pos, r) : callUserAt(*this, line, pos, r);
                if (!ok) return false;
            }
            return endHere(line, pos);
        }
        case tok::Member:
            if (!level_ || !level_->withOpen) return fail(err::MemberOutsideWith, t);
            if (objectHooks().statement) {
                releaseHeldOutput();
                if (!objectHooks().statement(*this, line, pos, level_->with)) return fail(err::ObjectFailed, t);
                return true;
            }
            return fail(err::ObjectFailed, t);
        case tok::EndOfLine: return true;
        default: return fail(err::CannotParse, t);
    }
}

bool Engine::executeLine(int lineIndex) { return executeStatement(tokenLine(lineIndex), 0); }

// ---------------------------------------------------------------------------------------------------
// The structure check

bool Engine::checkBlocks() {
    RunState& rs = runState();
    enum Open { OIf, OWhile, ODo, OFor, OSelect, OSwitch, OCount };
    struct OpenBlock {
        Open kind;
        int line;
    };
    int counts[OCount] = {};
    std::vector<OpenBlock> stack;  // open blocks, innermost last
    bool inFunc = false;
    int funcLine = 0;
    const int n = lineCount();
    // The pairing found here is what the executor's block scans would find line by line; recording it
    // keeps entering nested blocks linear (a forward scan per block costs the square of the depth).
    scans_.assign(static_cast<size_t>(n) + 1, BlockScan());
    int ln = 0;
    auto addBranch = [&] { scans_[static_cast<size_t>(stack.back().line)].branches.push_back(ln); };

    auto push = [&](Open o, int ln) {
        stack.push_back({o, ln});
        ++counts[o];
    };
    auto innermost = [&](Open o) { return !stack.empty() && stack.back().kind == o; };
    auto close = [&](Open o, int id, const Token& t) {
        if (!innermost(o)) return fail(id, t);
        BlockScan& s = scans_[static_cast<size_t>(stack.back().line)];
        s.end = ln;
        s.done = true;
        stack.pop_back();
        --counts[o];
        return true;
    };
    // A block left open: the first kind by priority is reported, at the line that opened it.
    auto reportOpen = [&]() {
        static const struct {
            Open o;
            int id;
        } order[] = {{ODo, err::DoNoUntil}, {OWhile, err::WhileNoWend}, {OFor, err::ForNoNext},
                     {OSelect, err::SelectNoEnd}, {OSwitch, err::SwitchNoEnd}, {OIf, err::IfNoEndIf}};
        for (const auto& x : order) {
            if (counts[x.o] == 0) continue;
            for (size_t i = stack.size(); i-- > 0;) {
                if (stack[i].kind != x.o) continue;
                rs.currentLine = stack[i].line;
                return fail(x.id, tokenLine(stack[i].line)[0]);
            }
        }
        return true;
    };
    auto alone = [&](const TokenLine& l) { return endHere(l, 1); };
    auto loopsOpen = [&] { return counts[OWhile] + counts[ODo] + counts[OFor] > 0; };

    for (ln = 1; ln <= n; ++ln) {
        TokenLine& l = tokenLine(ln);
        if (l[0].kind != tok::Keyword) continue;
        rs.currentLine = ln;
        const Token& t = l[0];
        switch (t.num.i32) {
            case kw::If: {
                size_t th = 1;
                while (!isEol(l[th]) && !l[th].isKeyword(kw::Then)) ++th;
                if (isEol(l[th])) return fail(err::IfNoThen, l[th]);
                const Token& after = l[th + 1];
                if (isEol(after)) {
                    push(OIf, ln);
                } else if (after.kind == tok::Keyword) {
                    switch (after.num.i32) {
                        case kw::ExitLoop:
                        case kw::ContinueLoop:
                            if (!loopsOpen()) return fail(err::ExitLoopOutside, after);
                            break;
                        case kw::ContinueCase:
                        case kw::Dim:
                        case kw::ReDim:
                        case kw::Local:
                        case kw::Global:
                        case kw::Const:
                        case kw::Return:
                        case kw::Exit:
                            break;
                        default:
                            return fail(err::KeywordAfterThen, after);
                    }
                }
                break;
            }
            case kw::ExitLoop:
            case kw::ContinueLoop:
                if (!loopsOpen()) return fail(err::ExitLoopOutside, t);
                break;
            case kw::Then: return fail(err::BadKeyword, t);
            case kw::Else:
                if (!alone(l)) return false;
                if (!innermost(OIf)) return fail(err::ElseNoIf, t);
                addBranch();
                break;
            case kw::ElseIf:
                if (!innermost(OIf)) return fail(err::ElseNoIf, t);
                addBranch();
                break;
            case kw::EndIf:
                if (!alone(l) || !close(OIf, err::EndIfNoIf, t)) return false;
                break;
            case kw::While: push(OWhile, ln); break;
            case kw::Wend:
                if (!alone(l) || !close(OWhile, err::WendNoWhile, t)) return false;
                break;
            case kw::Do:
                if (!alone(l)) return false;
                push(ODo, ln);
                break;
            case kw::Until:
                if (!close(ODo, err::UntilNoDo, t)) return false;
                break;
            case kw::For: push(OFor, ln); break;
            case kw::Next:
                if (!alone(l) || !close(OFor, err::NextNoFor, t)) return false;
                break;
            case kw::Select:
                if (!alone(l)) return false;
                push(OSelect, ln);
                break;
            case kw::Switch: push(OSwitch, ln); break;
            case kw::Case:
                if (!innermost(OSelect) && !innermost(OSwitch)) return fail(err::CaseOutside, t);
                addBranch();
                break;
            case kw::EndSelect:
                if (!alone(l) || !close(OSelect, err::EndSelectNoSelect, t)) return false;
                break;
            case kw::EndSwitch:
                if (!alone(l) || !close(OSwitch, err::EndSwitchNoSwitch, t)) return false;
                break;
            case kw::Func:
                if (inFunc) return fail(err::FuncNoEndFunc, t);
                if (!reportOpen()) return false;
                inFunc = true;
                funcLine = ln;
                break;
            case kw::EndFunc:
                if (!alone(l)) return false;
                if (!inFunc) return fail(err::FuncNoEndFunc, t);
                if (!reportOpen()) return false;
                inFunc = false;
                if (static_cast<size_t>(funcLine) < funcAtLine_.size() && funcAtLine_[static_cast<size_t>(funcLine)] >= 0)
                    funcs_[static_cast<size_t>(funcAtLine_[static_cast<size_t>(funcLine)])].endLine = ln;
                break;
            default: break;
        }
    }
    if (!reportOpen()) return false;
    if (inFunc) {
        rs.currentLine = funcLine;
        return fail(err::FuncNoEndFunc, tokenLine(funcLine)[0]);
    }
    return true;
}

}  // namespace tx
