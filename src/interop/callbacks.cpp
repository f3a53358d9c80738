// DLLCALLBACKREGISTER, DLLCALLBACKGETPTR and DLLCALLBACKFREE: script functions as native function pointers.
//
// Every registered callback owns a few bytes of executable memory, its stub, which loads the address of
// the callback's record into a register and jumps to the shared routine of dll_thunk.cpp. That routine
// collects the caller's arguments and calls tx_callback_entry below, which converts each argument into a
// script value exactly as DLLCALL converts its results, runs the script function to its end, and hands
// back its return value converted for the declared return type (floating-point types included). On i686
// the routine then returns with the argument bytes removed for a stdcall callback.
//
// The interpreter is single-threaded: a stub called on any other thread than the script's returns 0
// without running script code, and so does one called after the script has begun to stop. By-reference
// parameter types ("int*") reach the script as the Ptr the caller passed, so the function can read and
// write through it with a structure.
#include "interop/dllcall.h"

#include <windows.h>

#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "core/engine.h"
#include "core/errors.h"
#include "core/handle_table.h"
#include "core/platform.h"
#include "interop/native_types.h"

namespace tx {

namespace {

using native::Convention;
using native::NativeType;
using native::TypeClass;

constexpr size_t kStubBytes = 96;

struct CallbackRecord {
    int funcIndex = -1;
    int passCount = 0;  // parameters handed to the script function
    std::vector<NativeType> params;
    NativeType ret;
    uint32_t popBytes = 0;  // argument bytes a stdcall callback removes (i686)
    DWORD threadId = 0;     // the script's thread
    void* stub = nullptr;

    CallbackRecord() = default;
    CallbackRecord(const CallbackRecord&) = delete;
    CallbackRecord& operator=(const CallbackRecord&) = delete;
    ~CallbackRecord() {
        if (stub) VirtualFree(stub, 0, MEM_RELEASE);
    }
};

// Never destroyed: a window procedure made from a callback may still be called while the process ends.
HandleTable<CallbackRecord>& callbackTable() {
    static auto* table = new HandleTable<CallbackRecord>;
    return *table;
}

// Writes the stub for a record: "mov r10, record; mov r11, common; jmp r11" on x86_64, "mov eax, record;
// mov ecx, common; jmp ecx" on i686. The page is made executable and read-only once written.
void* makeStub(CallbackRecord* rec) {
    void* mem = VirtualAlloc(nullptr, kStubBytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!mem) throw std::bad_alloc();
    auto* p = static_cast<uint8_t*>(mem);
    const uintptr_t record = reinterpret_cast<uintptr_t>(rec);
    const uintptr_t common = reinterpret_cast<uintptr_t>(&native::tx_callback_common);
#if defined(__x86_64__)
    p[0] = 0x49, p[1] = 0xBA;
    std::memcpy(p + 2, &record, 8);
    p[10] = 0x49, p[11] = 0xBB;
    std::memcpy(p + 12, &common, 8);
    p[20] = 0x41, p[21] = 0xFF, p[22] = 0xE3;
#else
    p[0] = 0xB8;
    std::memcpy(p + 1, &record, 4);
    p[5] = 0xB9;
    std::memcpy(p + 6, &common, 4);
    p[10] = 0xFF, p[11] = 0xE1;
#endif
    DWORD old;
    VirtualProtect(mem, kStubBytes, PAGE_EXECUTE_READ, &old);
    FlushInstructionCache(GetCurrentProcess(), mem, kStubBytes);
    return mem;
}

// The parameter types of "type;type;...": an empty string has none, a final ";" is allowed, and every
// piece must be a known type (white space around a name is ignored).
bool parseParams(u16view s, std::vector<NativeType>& out) {
    out.clear();
    if (s.empty()) return true;
    if (s.back() == u';') s.remove_suffix(1);
    size_t start = 0;
    for (;;) {
        size_t end = s.find(u';', start);
        u16view piece = s.substr(start, end == u16view::npos ? u16view::npos : end - start);
        while (!piece.empty() && (piece.front() == u' ' || piece.front() == u'\t')) piece.remove_prefix(1);
        while (!piece.empty() && (piece.back() == u' ' || piece.back() == u'\t')) piece.remove_suffix(1);
        NativeType t;
        if (!native::parseType(piece, false, t)) return false;
        out.push_back(t);
        if (end == u16view::npos) return true;
        start = end + 1;
    }
}

// What a callback hands back to its caller.
struct CallbackResult {
    uint64_t integer = 0;
    double fp = 0;
};

// The script value of one argument cell.
void argumentValue(NativeType t, uint64_t cell, Variant& out) {
    if (t.byRef) {
        out.setPtr(static_cast<uintptr_t>(cell));
    } else if (t.cls == TypeClass::IDispatch) {
        void* p = reinterpret_cast<void*>(static_cast<uintptr_t>(cell));
        if (!p || !native::dispatchHooks().objectFrom || !native::dispatchHooks().objectFrom(p, true, out))
            out.setPtr(static_cast<uintptr_t>(cell));
    } else {
        native::fromCell(t.cls, cell, out);
    }
}

// Runs the script function of a callback with the argument cells; cells has rec->passCount entries.
void runCallback(const CallbackRecord* rec, const uint64_t* cells, CallbackResult& res) {
    if (GetCurrentThreadId() != rec->threadId) return;
    RunState& rs = runState();
    if (rs.stopping) return;
    Engine& e = engine();

    // The record may be freed by the script function itself: everything needed afterwards is copied.
    const int index = rec->funcIndex;
    const int n = rec->passCount;
    const NativeType ret = rec->ret;
    std::vector<Variant> args(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) argumentValue(rec->params[static_cast<size_t>(i)], cells[i], args[static_cast<size_t>(i)]);

    // @error and @extended of the code that was running stay as they were.
    Frame& f = e.frame();
    const int32_t error = f.error;
    const bool errorByScript = f.errorByScript;
    Variant extended = f.extended;
    const bool extendedByScript = f.extendedByScript;
    const uint8_t wasRunning = rs.callbackRunning;
    rs.callbackRunning = 1;
    Variant result;
    bool ok = e.callUser(index, args.data(), n, result);
    rs.callbackRunning = wasRunning;
    Frame& g = e.frame();
    g.error = error;
    g.errorByScript = errorByScript;
    g.extended = std::move(extended);
    g.extendedByScript = extendedByScript;
    if (!ok) return;

    if (ret.cls == TypeClass::None) return;
    if (ret.byRef || native::isText(ret.cls)) res.integer = static_cast<uint64_t>(result.toPtr());
    else if (native::isFloating(ret.cls)) res.fp = result.toDouble();
    else res.integer = native::toCell(ret.cls, result);
}

// Script code must not throw through native frames: an allocation failure ends the run as everywhere
// else, and nothing else is expected.
void runCallbackGuarded(const CallbackRecord* rec, const uint64_t* cells, CallbackResult& res) {
    try {
        runCallback(rec, cells, res);
    } catch (const std::bad_alloc&) {
        if (std::new_handler h = std::get_new_handler()) h();
        ExitProcess(1);
    } catch (...) {
        res = CallbackResult{};
    }
}

bool floatingReturn(const CallbackRecord* rec) { return !rec->ret.byRef && native::isFloating(rec->ret.cls); }

int failWith(Engine& e, Variant& r, int code) {
    e.setError(code);
    r.setInt32(0);
    return 0;
}

}  // namespace

// ---- the entry of the shared stub routine ---------------------------------------------------------------

#if defined(__x86_64__)

// intArgs: the caller's argument slots (the first four as spilled from RCX, RDX, R8, R9); fpArgs: XMM0-XMM3.
// XMM0's result goes back through fpArgs[0].
extern "C" uint64_t tx_callback_entry(const CallbackRecord* rec, const uint64_t* intArgs, uint64_t* fpArgs)
    asm("tx_callback_entry");

extern "C" uint64_t tx_callback_entry(const CallbackRecord* rec, const uint64_t* intArgs, uint64_t* fpArgs) {
    const int n = rec->passCount;
    uint64_t inlineCells[8];
    std::vector<uint64_t> heapCells;
    uint64_t* cells = inlineCells;
    if (n > 8) {
        heapCells.resize(static_cast<size_t>(n));
        cells = heapCells.data();
    }
    for (int i = 0; i < n; ++i) {
        NativeType t = rec->params[static_cast<size_t>(i)];
        cells[i] = (i < 4 && !t.byRef && native::isFloating(t.cls)) ? fpArgs[i] : intArgs[i];
    }
    const bool fpReturn = floatingReturn(rec);
    const bool isFloat = rec->ret.cls == TypeClass::Float;
    CallbackResult res;
    runCallbackGuarded(rec, cells, res);
    fpArgs[0] = 0;
    if (fpReturn) {
        if (isFloat) {
            float f = static_cast<float>(res.fp);
            std::memcpy(&fpArgs[0], &f, sizeof f);
        } else {
            std::memcpy(&fpArgs[0], &res.fp, sizeof res.fp);
        }
    }
    return res.integer;
}

#else

struct CallbackOut {
    uint32_t popBytes;  // argument bytes the return removes
    uint32_t fpResult;  // load fp into ST(0)
    double fp;
};

extern "C" uint64_t tx_callback_entry(const CallbackRecord* rec, const uint8_t* stackArgs, CallbackOut* out)
    asm("tx_callback_entry");

extern "C" uint64_t tx_callback_entry(const CallbackRecord* rec, const uint8_t* stackArgs, CallbackOut* out) {
    // Set first: the stub routine needs them whatever happens below.
    out->popBytes = rec->popBytes;
    out->fpResult = floatingReturn(rec) ? 1 : 0;
    out->fp = 0;
    const int n = rec->passCount;
    uint64_t inlineCells[8];
    std::vector<uint64_t> heapCells;
    uint64_t* cells = inlineCells;
    if (n > 8) {
        heapCells.resize(static_cast<size_t>(n));
        cells = heapCells.data();
    }
    size_t offset = 0;
    for (int i = 0; i < n; ++i) {
        uint32_t bytes = native::stackBytes32(rec->params[static_cast<size_t>(i)]);
        cells[i] = 0;
        std::memcpy(&cells[i], stackArgs + offset, bytes);
        offset += bytes;
    }
    CallbackResult res;
    runCallbackGuarded(rec, cells, res);
    out->fp = res.fp;
    return res.integer;
}

#endif

// ---- built-ins -----------------------------------------------------------------------------------------

int bi_DLLCALLBACKREGISTER(Engine& e, Args& a, Variant& r) {
    auto rec = std::make_unique<CallbackRecord>();

    // The script function: a fixed list of plain parameters (no optional, ByRef or Const ones).
    SString name = a.str(0);
    if (!name.empty()) platform::upperCase(name.mutableData(), name.size());
    rec->funcIndex = e.findUserFunction(name.view());
    if (rec->funcIndex < 0) return failWith(e, r, 3);
    const UserFunction& f = e.userFunction(rec->funcIndex);
    if (f.minArgs != f.maxArgs) return failWith(e, r, 3);
    for (const Param& p : f.params)
        if (p.byRef || p.isConst || p.defaultPos >= 0) return failWith(e, r, 3);

    Convention conv;
    if (!native::parseReturnType(a.str(1).view(), rec->ret, conv)) return failWith(e, r, 1);
    if (!parseParams(a.str(2).view(), rec->params)) return failWith(e, r, 2);
    // The function takes the leading arguments; it cannot take more than the caller passes.
    if (f.maxArgs > static_cast<int>(rec->params.size())) return failWith(e, r, 3);
    rec->passCount = f.maxArgs;

#if defined(__i386__)
    if (conv == Convention::Stdcall) {
        uint32_t bytes = 0;
        for (const NativeType& t : rec->params) bytes += native::stackBytes32(t);
        rec->popBytes = bytes & 0xFFFF;
    }
#else
    (void)conv;
#endif
    rec->threadId = GetCurrentThreadId();
    rec->stub = makeStub(rec.get());
    r.setInt32(static_cast<int32_t>(callbackTable().add(std::move(rec))));
    return 0;
}

int bi_DLLCALLBACKGETPTR(Engine&, Args& a, Variant& r) {
    CallbackRecord* rec = callbackTable().get(a.int64(0));
    if (!rec) r.setInt32(0);
    else r.setPtr(reinterpret_cast<uintptr_t>(rec->stub));
    return 0;
}

int bi_DLLCALLBACKFREE(Engine&, Args& a, Variant& r) {
    r.setInt32(callbackTable().remove(a.int64(0)) ? 1 : 0);
    return 0;
}

}  // namespace tx
