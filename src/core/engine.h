// The interpreter engine: call frames, variable tables, user functions, the block stack and the levels of
// the line executor, plus the evaluator and executor entry points.
//
// Built-in handlers use only the small API at the top (setError/setExtended/setExtendedValue, error(),
// extended(), numParams()). The rest is shared by the core files (eval.cpp, exec.cpp, variables.cpp,
// calls.cpp), the run loop and the layers that call script functions (events, callbacks, timers).
//
// How names are found: every variable name is interned once into a symbol (an index). A variable token
// remembers its symbol in its otherwise unused number payload (and shares the symbol's name buffer, which
// is how a stale or foreign number is recognised), so a lookup is an index, never a string comparison.
// Each symbol points at its global entry and at the entry of the innermost function frame that declared
// it ("shallow binding": a frame records what it shadowed and puts it back when it is popped). So the
// lookup rules are those of nested scope tables: local (the running function only), then global.
//
// Errors: every evaluator/executor function returns false after a script error was raised (or silenced
// inside EXECUTE); callers abandon what they are doing and return false in turn.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/builtins.h"
#include "core/errors.h"
#include "core/sstring.h"
#include "core/tokens.h"
#include "core/variant.h"

namespace tx {

// Variable flags.
constexpr uint16_t kVarConst = 0x100;
constexpr uint16_t kVarParam = 0x200;
constexpr uint16_t kVarStatic = 0x400;

// Scope selectors.
enum class Scope { Any = 0, Local = 1, Global = 2, Static = 16 };

// Keeps an array element store alive while something holds a pointer to one of its elements (a BYREF
// parameter bound to an element, a For loop over an element). A store is freed only when no holder and
// no pin is left, so a script that resizes the array meanwhile cannot leave a dangling element.
class StorePin {
public:
    StorePin() = default;
    explicit StorePin(ArrayStore* s) : s_(s) {
        if (s_) ++s_->pins;
    }
    StorePin(StorePin&& o) noexcept : s_(o.s_) { o.s_ = nullptr; }
    StorePin& operator=(StorePin&& o) noexcept {
        if (this != &o) {
            reset();
            s_ = o.s_;
            o.s_ = nullptr;
        }
        return *this;
    }
    StorePin(const StorePin&) = delete;
    StorePin& operator=(const StorePin&) = delete;
    ~StorePin() { reset(); }
    void reset() {
        if (s_ && --s_->pins == 0 && s_->refs == 0) delete s_;
        s_ = nullptr;
    }

private:
    ArrayStore* s_ = nullptr;
};

struct VarEntry {
    Variant value;
    Variant* ptr = &value;  // &value, or the borrowed Variant (static value, BYREF target)
    uint32_t sym = 0;
    uint16_t flags = 0;
    bool borrowed = false;
    StorePin pin;  // BYREF to an array element
    // What this local entry shadowed (restored when its frame is popped).
    VarEntry* prevLocal = nullptr;
    uint64_t prevSerial = 0;
    VarEntry* nextFree = nullptr;
};

struct Symbol {
    SString name;
    VarEntry* global = nullptr;
    VarEntry* local = nullptr;
    uint64_t localSerial = 0;  // local is valid while this equals the running frame's serial
};

// A small open-addressing map from names (UTF-16, exact) to indices.
class NameIndex {
public:
    int find(u16view name) const;
    void insert(const SString& name, int value);  // name not present
    void clear();

private:
    struct Slot {
        SString key;
        int value = -1;
        uint32_t hash = 0;
    };
    static uint32_t hashOf(u16view s);
    void grow();
    std::vector<Slot> slots_;
    size_t used_ = 0;
};

struct Param {
    uint32_t sym = 0;
    bool byRef = false;
    bool isConst = false;
    int defaultPos = -1;  // token index of the default (its sign included), or -1
    int defaultEnd = -1;
};

struct UserFunction {
    SString name;
    int funcLine = 0;  // line of FUNC, also the identity number of its statics
    int endLine = 0;   // line of ENDFUNC
    int minArgs = 0;
    int maxArgs = 0;
    std::vector<Param> params;
};

struct Frame {
    uint64_t serial = 0;
    int funcId = 0;  // FUNC line of the running function, 0 for the main script
    bool isFunction = false;
    std::vector<VarEntry*> locals;  // in creation order
    Variant returnValue;
    bool hasReturn = false;
    int32_t error = 0;
    bool errorByScript = false;
    Variant extended;
    bool extendedByScript = false;
};

enum class BlockKind : uint8_t { If, While, Do, For, ForIn, ForObj, Select, Switch };

struct Block {
    BlockKind kind = BlockKind::If;
    int startLine = 0;
    int endLine = 0;
    Variant* loopVar = nullptr;  // For/ForIn
    StorePin pin;                // the loop variable is an array element
    Variant limit;               // For: end value; ForIn: the array walked
    Variant step;                // For: the step; ForObj: the enumerator
    uint32_t index = 0;          // ForIn: current element
    bool negativeStep = false;   // For: the step is below 0 (it never changes)
};

// One level of the line executor (the main script, each user-function call, each nested wait).
struct Level {
    int nextLine = 0;
    bool returnFlag = false;
    bool failed = false;  // a line was abandoned after an error
    size_t blockBase = 0;
    Variant with;          // the object of the open WITH block
    bool withOpen = false;
    Level* prev = nullptr;
};

// What a forward scan from a block's opening line found (computed once per line: lines never change).
struct BlockScan {
    bool done = false;
    int end = 0;                // partner line, 0 when the script ended first
    std::vector<int> branches;  // IF: its ELSE/ELSEIF lines; SELECT/SWITCH: its CASE lines
};

// Hooks filled by later layers (COM objects, plug-ins, tray). Null hooks make the operation fail with the
// documented script error.
struct ObjectHooks {
    // Object access after a variable holding an Object (member names, calls, subscripts) in an
    // expression: pos is at the token after the variable; on success out holds the result.
    bool (*read)(class Engine&, TokenLine& line, size_t& pos, Variant& object, Variant& out) = nullptr;
    // A line that starts with a variable holding an Object followed by a member or "(": the whole line.
    bool (*statement)(class Engine&, TokenLine& line, size_t pos, Variant& object) = nullptr;
    // The COM error handler: offered error 169 first; returns true when it took the error.
    bool (*offerError)(class Engine&, int messageId) = nullptr;
    // FOR ... IN over an object: starts the enumeration (enumerator into e, first item into item);
    // false with no script error when the collection is empty.
    bool (*enumStart)(class Engine&, Variant& object, Variant& e, Variant& item, bool& failed) = nullptr;
    bool (*enumNext)(class Engine&, Variant& e, Variant& item) = nullptr;
    // "=" on two Objects: the two COM values are identical.
    bool (*equals)(const Variant& a, const Variant& b) = nullptr;
};
ObjectHooks& objectHooks();

// Plug-in functions: offered a name that is no user function. Returns 0 when no plug-in has the name,
// 1 when it ran (result, error and extended filled), -1 when the argument count did not fit.
using PluginCallHook = int (*)(u16view upperName, Variant* args, int n, Variant& result, int32_t& error,
                               Variant& extended);
extern PluginCallHook g_pluginCall;

// Output a layer holds back to save system calls (the file layer's write buffer). While flush is set, it
// is called before every built-in call except those of the writers named in keep (they add to what is
// held, or flush it themselves when that would reorder anything), before every object or plug-in call,
// and when a script error is reported; the run loop calls it when it pumps messages and at the end of
// the run. Whoever holds output sets flush, and clears it once nothing is held.
struct HeldOutput {
    void (*flush)() = nullptr;
    BuiltinFn keep[2] = {};
};
extern HeldOutput g_heldOutput;
inline void releaseHeldOutput() {
    if (g_heldOutput.flush) g_heldOutput.flush();
}

struct CExpr;
struct CNode;

class Engine {
public:
    Engine();
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // ---- handler-facing API --------------------------------------------------------------------------
    // @error of the current frame; byScript marks a value set by SETERROR (carried back to the caller).
    void setError(int32_t code, bool byScript = false);
    // @extended of the current frame as Int32.
    void setExtended(int32_t value, bool byScript = false);
    // @extended as a copy of any value (flag off).
    void setExtendedValue(const Variant& value);
    int32_t error() const;
    const Variant& extended() const;
    int32_t numParams() const { return numParams_; }  // @NUMPARAMS
    // Inside a user function (not the main script)?
    bool inFunction() const { return frameDepth_ > 0; }

    // ---- evaluation -----------------------------------------------------------------------------------
    // Evaluates tokens from pos up to (not including) end, or the end of the line, into out; pos is left
    // at the first token not consumed. False after a script error.
    bool evaluate(TokenLine& line, size_t& pos, size_t end, Variant& out);
    bool evaluate(TokenLine& line, size_t& pos, Variant& out) { return evaluate(line, pos, SIZE_MAX, out); }

    // ---- the line executor ------------------------------------------------------------------------------
    // Executes one stored line (the run loop calls it with the current level set up).
    bool executeLine(int lineIndex);
    // Executes the statement starting at pos of a line (also the tail of a single-line IF).
    bool executeStatement(TokenLine& line, size_t pos);
    Level* level() { return level_; }
    void enterLevel(Level& l, int firstLine);
    void leaveLevel(Level& l);
    int nesting() const { return nesting_; }

    // ---- preparation --------------------------------------------------------------------------------------
    bool registerFunctions();
    bool checkBlocks();

    // ---- functions ----------------------------------------------------------------------------------------
    int findUserFunction(u16view upperName) const;  // -1 when none
    const UserFunction& userFunction(int index) const { return funcs_[static_cast<size_t>(index)]; }
    int userFunctionCount() const { return static_cast<int>(funcs_.size()); }
    // Calls a user function with values (by value also for BYREF parameters). The argument count must
    // fit (checked by the caller). False after a script error; result holds the function's result.
    bool callUser(int index, Variant* args, int n, Variant& result);
    // Calls a user function with no arguments (event, timer and exit functions). False when there is no
    // such function or it failed.
    bool callUserByName(u16view upperName, Variant& result);
    // Whether the last user function that ended did so with RETURN and a value (a window message handler
    // tells "no answer" from an answer of 0 by it).
    bool lastCallReturnedValue = false;

    // ---- variables ---------------------------------------------------------------------------------------
    // Symbol index of a name (interned on first use).
    uint32_t intern(u16view upperName);
    int findSymbol(u16view upperName) const { return names_.find(upperName); }
    VarEntry* lookup(uint32_t sym, Scope scope) {
        Symbol& s = symbols_[sym];
        if (scope == Scope::Any) return (frameDepth_ > 0 && s.localSerial == serial_) ? s.local : s.global;
        return lookupIn(sym, scope);
    }
    VarEntry* lookupIn(uint32_t sym, Scope scope);
    VarEntry* lookup(u16view upperName, Scope scope);
    // Creates a variable (the name must not exist in that scope yet) holding the empty String, or, when
    // the caller stores a value at once, Int32 0.
    VarEntry* create(uint32_t sym, Scope scope, uint16_t flags, bool empty = true);
    // Creates or overwrites.
    VarEntry* declare(u16view upperName, Scope scope, uint16_t flags, const Variant& value);
    const SString& symbolName(uint32_t sym) const { return symbols_[sym].name; }

    // How the script ended (read by the exit sequence): 0 ran past its end, 1 EXIT.
    int exitMethod = 0;

    // The process-wide run state (current line, stopping), kept at hand for the hot paths.
    RunState& rs;

    // Everything below is the interpreter's own state; other layers should not need it.
    // Symbols and tables.
    std::vector<Symbol> symbols_;
    NameIndex names_;
    NameIndex staticNames_;
    std::vector<VarEntry*> statics_;

    // Frames (frames_[0] is the main script) and the depth of the running one.
    std::vector<std::unique_ptr<Frame>> frames_;
    int frameDepth_ = 0;
    uint64_t nextSerial_ = 1;
    Frame& frame() { return *frames_[static_cast<size_t>(frameDepth_)]; }
    const Frame& frame() const { return *frames_[static_cast<size_t>(frameDepth_)]; }
    Frame& pushFrame(int funcId);
    void popFrame();

    // User functions.
    std::vector<UserFunction> funcs_;
    NameIndex funcNames_;
    std::vector<int> funcAtLine_;  // FUNC line -> function index (lines without FUNC: -1)

    // Levels and blocks.
    std::vector<Block> blocks_;
    Level* level_ = nullptr;
    int nesting_ = 0;
    int callNesting_ = 0;  // CALL's own counter
    int numParams_ = 0;

    // Evaluator stacks (shared by nested evaluations; each evaluation works above its own base).
    std::vector<Variant> values_;
    std::vector<uint8_t> ops_;
    int evalDepth_ = 0;

    VarEntry* allocEntry();
    void freeEntry(VarEntry* e);

    // Compiled expressions (compiled.cpp). runCompiled returns 1 after evaluating the expression at pos
    // of a script line through its compiled form, 0 after a script error there, -1 when the line is no
    // script line or the expression has no compiled form (the token walk then evaluates it).
    int runCompiled(TokenLine& line, size_t& pos, size_t end, Variant& out);
    bool runNode(const CExpr& x, TokenLine& line, int node, Variant& out);
    const Variant* peek(const CExpr& x, const CNode& n);
    [[gnu::noinline]] bool binaryRight(const CExpr& x, TokenLine& line, const CNode& n, Variant& out);
    [[gnu::noinline]] bool runUserCall(const CExpr& x, TokenLine& line, const CNode& n, Variant& out);
    [[gnu::noinline]] bool runBuiltinCall(const CExpr& x, TokenLine& line, const CNode& n, Variant& out);
    [[gnu::noinline]] bool runElement(const CExpr& x, TokenLine& line, const CNode& n, Variant& out);
    [[gnu::noinline]] bool readOperand(TokenLine& line, size_t tok, Variant& out);
    [[gnu::noinline]] const CExpr* compileAt(TokenLine& line, size_t pos);
    bool enterCall();
    std::vector<std::unique_ptr<CExpr>> compiled_;  // every expression met in a script line (Token::aux)

    // Evaluator fast paths.
    const Variant* simpleValue(Token& t, Variant& scratch);
    bool fastBinary(TokenLine& line, size_t& pos, size_t end, Variant& out);
    bool fastElement(TokenLine& line, size_t& pos, size_t end, Variant& out);

    // Resolves the symbol of a variable token (cached in the token).
    uint32_t symbolOf(Token& t) {
        uint32_t c = static_cast<uint32_t>(t.num.i32);
        if (c != 0 && c <= symbols_.size() && symbols_[c - 1].name.sharesBufferWith(t.str)) return c - 1;
        return resolveSymbol(t);
    }
    uint32_t resolveSymbol(Token& t);
    // Function index of a user-function token (cached in the token), or -1.
    int functionOf(Token& t);

    uint64_t serial_ = 0;  // serial of the running frame (its locals are valid while they carry it)

private:
    VarEntry* freeList_ = nullptr;
    std::vector<std::unique_ptr<VarEntry[]>> entryChunks_;

public:
    std::vector<BlockScan> scans_;  // indexed by line
};

Engine& engine();

// The run loop's level: runs lines from firstLine until the function returns, the script stops or a line
// fails. Returns 0, or 1 when the nesting limit was hit or a line failed (implemented by the run loop).
int runLevel(int firstLine);

}  // namespace tx
