// DLLCALL, DLLOPEN and DLLCLOSE: calls into DLL exports with arguments described by type names.
//
// A call runs in four steps: the type names are parsed (return type with its convention first, then each
// argument's), the library and the export are resolved, every argument is converted into its cell (text
// arguments into fresh buffers with room for 64 KiB of text written back), and the machine-code thunk of
// dll_thunk.cpp makes the call. The result array shows the return value and every argument as it stands
// after the call, read back through the same conversions (interop/native_types.h).
//
// Libraries opened with DLLOPEN live in a handle table until DLLCLOSE. A DLLCLOSE that runs inside a call
// (from a callback) cannot unload a library whose code may be on the stack, so such a release waits until
// the outermost call has returned.
#include "interop/dllcall.h"

#include <windows.h>

#include <cstring>
#include <memory>
#include <string>
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

constexpr int kMaxArgs = 32;
constexpr size_t kAnsiBufferBytes = 65537;  // room for 64 KiB of text written back, and its 0
constexpr size_t kWideBufferUnits = 65536;  // plus one for the 0

// ---- libraries ---------------------------------------------------------------------------------------

int g_callDepth = 0;                  // DLLCALLs in progress (callbacks nest them)
std::vector<HMODULE> g_deferredFree;  // DLLCLOSEs made while a call was in progress

void releaseLibrary(HMODULE h) {
    if (!h) return;
    if (g_callDepth > 0) g_deferredFree.push_back(h);
    else FreeLibrary(h);
}

// A library loaded by name for one call.
struct OwnedLibrary {
    HMODULE h = nullptr;
    OwnedLibrary() = default;
    OwnedLibrary(const OwnedLibrary&) = delete;
    OwnedLibrary& operator=(const OwnedLibrary&) = delete;
    ~OwnedLibrary() {
        if (h) FreeLibrary(h);
    }
};

struct DllEntry {
    HMODULE h = nullptr;
    explicit DllEntry(HMODULE m) : h(m) {}
    DllEntry(const DllEntry&) = delete;
    DllEntry& operator=(const DllEntry&) = delete;
    ~DllEntry() { releaseLibrary(h); }
};

// Never destroyed: at the end of the run the process unloads its libraries itself, and unloading them
// earlier could pull code from under a window procedure that still receives messages.
HandleTable<DllEntry>& dllTable() {
    static auto* table = new HandleTable<DllEntry>;
    return *table;
}

// Counts a call in progress; the outermost one to end carries out the deferred DLLCLOSEs.
struct CallDepth {
    CallDepth() { ++g_callDepth; }
    CallDepth(const CallDepth&) = delete;
    CallDepth& operator=(const CallDepth&) = delete;
    ~CallDepth() {
        if (--g_callDepth == 0 && !g_deferredFree.empty()) {
            std::vector<HMODULE> list;
            list.swap(g_deferredFree);
            for (HMODULE h : list) FreeLibrary(h);
        }
    }
};

bool hasZero(u16view s) { return s.find(u'\0') != u16view::npos; }

HMODULE loadLibrary(const SString& name) {
    if (name.empty() || hasZero(name.view())) return nullptr;
    return LoadLibraryW(reinterpret_cast<const wchar_t*>(name.c_str()));
}

// The export named by a string (its ANSI form, then with "A" appended) or by an ordinal number.
const void* findExport(HMODULE m, const Variant& fn) {
    FARPROC p = nullptr;
    if (fn.isString()) {
        const SString& name = fn.rawString();
        if (name.empty() || hasZero(name.view())) return nullptr;
        std::string ansi = platform::toAnsi(name.view());
        p = GetProcAddress(m, ansi.c_str());
        if (!p) {
            ansi.push_back('A');
            p = GetProcAddress(m, ansi.c_str());
        }
    } else {
        int64_t ordinal = fn.toInt64();
        if (ordinal < 1 || ordinal > 0xFFFF) return nullptr;
        p = GetProcAddress(m, MAKEINTRESOURCEA(static_cast<WORD>(ordinal)));
    }
    return reinterpret_cast<const void*>(p);
}

// ---- arguments ---------------------------------------------------------------------------------------

// Text buffers of the two standard sizes are kept for later calls (a few of each, for nested calls):
// allocating and releasing a 128 KiB block costs more than most calls themselves.
constexpr size_t kWideBufferBytes = (kWideBufferUnits + 1) * sizeof(char16_t);
constexpr size_t kPooled = 4;

struct TextPool {
    std::vector<char*> ansi, wide;
    std::vector<char*>* listFor(size_t bytes) {
        if (bytes == kAnsiBufferBytes) return &ansi;
        if (bytes == kWideBufferBytes) return &wide;
        return nullptr;
    }
};
TextPool& textPool() {
    static auto* pool = new TextPool;
    return *pool;
}

struct TextRelease {
    size_t bytes = 0;
    void operator()(char* p) const {
        std::vector<char*>* list = textPool().listFor(bytes);
        if (list && list->size() < kPooled) list->push_back(p);
        else delete[] p;
    }
};
using TextBuffer = std::unique_ptr<char[], TextRelease>;

TextBuffer takeText(size_t bytes) {
    std::vector<char*>* list = textPool().listFor(bytes);
    if (list && !list->empty()) {
        char* p = list->back();
        list->pop_back();
        return TextBuffer(p, TextRelease{bytes});
    }
    return TextBuffer(new char[bytes], TextRelease{bytes});
}

// One argument: its type, its cell (what the callee gets, or what a by-reference pointer points at) and
// the text buffer a str/wstr argument owns.
struct CallArg {
    NativeType type;
    uint64_t cell = 0;
    TextBuffer text;
    size_t textUnits = 0;  // buffer size in characters
};

void prepare(CallArg& arg, const Variant& v) {
    switch (arg.type.cls) {
        case TypeClass::Str: {
            std::string ansi = platform::toAnsi(v.toString().view());
            size_t bytes = ansi.size() + 1 > kAnsiBufferBytes ? ansi.size() + 1 : kAnsiBufferBytes;
            arg.text = takeText(bytes);
            std::memcpy(arg.text.get(), ansi.data(), ansi.size());
            arg.text[ansi.size()] = 0;
            arg.text[bytes - 1] = 0;  // text written up to the end still ends
            arg.textUnits = bytes;
            arg.cell = reinterpret_cast<uintptr_t>(arg.text.get());
            break;
        }
        case TypeClass::WStr: {
            const SString& s = v.toString();
            size_t units = (s.size() > kWideBufferUnits ? s.size() : kWideBufferUnits) + 1;
            arg.text = takeText(units * sizeof(char16_t));
            auto* w = reinterpret_cast<char16_t*>(arg.text.get());
            std::memcpy(w, s.data(), s.size() * sizeof(char16_t));
            w[s.size()] = 0;
            w[units - 1] = 0;
            arg.textUnits = units;
            arg.cell = reinterpret_cast<uintptr_t>(w);
            break;
        }
        default: arg.cell = native::toCell(arg.type.cls, v); break;
    }
}

// The argument as the result array shows it after the call.
void readBack(const CallArg& arg, const Variant& original, Variant& out) {
    TypeClass cls = arg.type.cls;
    if (native::isText(cls)) {
        // The callee may have replaced the pointer of a by-reference argument; only the runtime's own
        // buffer has a known size.
        bool own = arg.cell == reinterpret_cast<uintptr_t>(arg.text.get());
        native::fromCell(cls, arg.cell, out, own ? arg.textUnits : SIZE_MAX);
        return;
    }
    if (cls == TypeClass::IDispatch) {
        // The script's own object, unless the callee stored another interface pointer.
        if (arg.cell == native::toCell(cls, original)) out = original;
        else native::fromCell(cls, arg.cell, out);
        return;
    }
    native::fromCell(cls, arg.cell, out);
}

// ---- the call ------------------------------------------------------------------------------------------

struct CallResult {
    uint64_t integer = 0;
    double fp = 0;  // floating-point returns, as a double
    bool stackOk = true;
};

CallResult invoke(const void* fn, Convention conv, NativeType ret, CallArg* args, int n) {
    CallResult r;
    const bool fpReturn = !ret.byRef && native::isFloating(ret.cls);
#if defined(__x86_64__)
    (void)conv;
    uint64_t slots[kMaxArgs];
    for (int i = 0; i < n; ++i)
        slots[i] = args[i].type.byRef ? reinterpret_cast<uintptr_t>(&args[i].cell) : args[i].cell;
    uint64_t fpBits = 0;
    r.integer = native::tx_dll_thunk(fn, slots, static_cast<size_t>(n), &fpBits);
    if (fpReturn) {
        if (ret.cls == TypeClass::Float) {
            float f;
            std::memcpy(&f, &fpBits, sizeof f);
            r.fp = f;
        } else {
            std::memcpy(&r.fp, &fpBits, sizeof r.fp);
        }
    }
#else
    uint32_t words[kMaxArgs * 2];
    uint32_t nw = 0;
    for (int i = 0; i < n; ++i) {
        const CallArg& a = args[i];
        if (a.type.byRef) {
            words[nw++] = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&a.cell));
        } else {
            words[nw++] = static_cast<uint32_t>(a.cell);
            if (native::stackBytes32(a.type) == 8) words[nw++] = static_cast<uint32_t>(a.cell >> 32);
        }
    }
    native::ThunkOut out{};
    uint32_t flags = (conv == Convention::Cdecl ? native::kThunkCdecl : 0) | (fpReturn ? native::kThunkFpResult : 0);
    r.integer = native::tx_dll_thunk(fn, words, nw, flags, &out);
    r.fp = out.fp;
    r.stackOk = out.stackOk != 0;
#endif
    return r;
}

// A wrong calling convention leaves the native stack untrustworthy: the run ends at once, with the exit
// code of any other script error (ending with 0 would tell a caller the script succeeded).
[[noreturn]] void stackImbalance() {
    RunState& rs = runState();
    rs.suppress = 0;
    reportRuntimeError(msg::StackImbalance, -1);
    ExitProcess(static_cast<UINT>(rs.exitCode ? rs.exitCode : 1));
}

int failWith(Engine& e, Variant& r, int code) {
    e.setError(code);
    r.setInt32(0);
    return 0;
}

}  // namespace

// ---- built-ins -----------------------------------------------------------------------------------------

int bi_DLLOPEN(Engine&, Args& a, Variant& r) {
    HMODULE h = loadLibrary(a.str(0));
    if (!h) {
        r.setInt32(-1);
        return 0;
    }
    r.setInt32(static_cast<int32_t>(dllTable().add(std::make_unique<DllEntry>(h))));
    return 0;
}

int bi_DLLCLOSE(Engine&, Args& a, Variant& r) {
    r.setInt32(dllTable().remove(a.int64(0)) ? 1 : 0);
    return 0;
}

int bi_DLLCALL(Engine& e, Args& a, Variant& r) {
    if ((a.count() - 3) % 2 != 0) return failWith(e, r, 4);
    const int n = (a.count() - 3) / 2;
    if (n > kMaxArgs) return failWith(e, r, 4);  // the table allows no more; kept for the fixed arrays below

    NativeType ret;
    Convention conv;
    if (!native::parseReturnType(a.str(1).view(), ret, conv)) return failWith(e, r, 2);
    CallArg args[kMaxArgs];
    for (int i = 0; i < n; ++i)
        if (!native::parseType(a.str(3 + 2 * i).view(), false, args[i].type)) return failWith(e, r, 1);

    OwnedLibrary byName;
    HMODULE module = nullptr;
    if (a[0].isString()) {
        byName.h = loadLibrary(a[0].rawString());
        module = byName.h;
    } else if (DllEntry* d = dllTable().get(a.int64(0))) {
        module = d->h;
    }
    if (!module) return failWith(e, r, 1);
    const void* fn = findExport(module, a[2]);
    if (!fn) return failWith(e, r, 3);

    for (int i = 0; i < n; ++i) prepare(args[i], a[4 + 2 * i]);

    CallResult res;
    {
        CallDepth depth;
        res = invoke(fn, conv, ret, args, n);
    }
    if (!res.stackOk) stackImbalance();

    uint32_t size = static_cast<uint32_t>(n) + 1;
    Variant out = Variant::array(ArrayData::create(&size, 1));
    ArrayData* arr = out.rawArray();
    if (ret.cls != TypeClass::None) {
        if (ret.byRef) arr->at(0).setPtr(static_cast<uintptr_t>(res.integer));
        else if (native::isFloating(ret.cls)) arr->at(0).setDouble(res.fp);
        else native::fromCell(ret.cls, res.integer, arr->at(0));
    }
    for (int i = 0; i < n; ++i) readBack(args[i], a[4 + 2 * i], arr->at(static_cast<uint32_t>(i) + 1));
    r = std::move(out);
    return 0;
}

}  // namespace tx
