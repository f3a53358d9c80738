// Native types of DLL calls and callbacks: the type-name table, the "type[:convention]" text of
// a return type, and the conversions between script values and the raw 64-bit cells that hold native
// arguments and results. DLLCALL and DLLCALLBACKREGISTER share all of it, so a callback's parameters
// reach the script exactly as DLLCALL's results do.
//
// A cell is the 8-byte home of one native value: an integer in its low bytes (little-endian, so a
// callee that reads 1, 2 or 4 bytes through a by-reference pointer sees the right value), a float's bits
// in the low 4 bytes, a double's 8 bytes, or a pointer. Strings travel as pointers to text buffers.
//
// Pointer-sized types are pointer-sized on both targets: 4 bytes and Int32 results on i686, 8 bytes and
// Int64 results on x86_64, so handles and pointers are never cut.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/sstring.h"
#include "core/variant.h"

namespace tx::native {

enum class TypeClass : uint8_t {
    None = 0,  // return type only
    Byte = 1,
    Short = 2,
    UShort = 3,
    Int = 4,
    UInt = 5,
    Str = 6,
    WStr = 7,
    Ptr = 8,
    Float = 9,
    Double = 10,
    IntPtr = 11,
    UIntPtr = 12,
    Int64 = 13,
    UInt64 = 14,
    IDispatch = 15,
};

struct NativeType {
    TypeClass cls = TypeClass::None;
    bool byRef = false;  // the name ended in "*": the callee gets the address of the value's cell
};

enum class Convention : uint8_t { Stdcall, Cdecl };

// Looks a type name up (compared without regard to case; an optional trailing "*" makes it by-reference).
// "none" is accepted only when allowNone; "none*" never.
bool parseType(u16view name, bool allowNone, NativeType& out);

// Parses a return type "type[:convention]" ("cdecl", "winapi" or "stdcall"; stdcall when
// absent). False when the type or the convention is unknown.
bool parseReturnType(u16view text, NativeType& type, Convention& conv);

// Bytes the value takes among the arguments on the 32-bit stack: 8 for a double or 64-bit integer passed
// by value, 4 for everything else. (On x86_64 every argument takes one 8-byte slot.)
inline uint32_t stackBytes32(NativeType t) {
    if (t.byRef) return 4;
    return (t.cls == TypeClass::Double || t.cls == TypeClass::Int64 || t.cls == TypeClass::UInt64) ? 8 : 4;
}

inline bool isFloating(TypeClass c) { return c == TypeClass::Float || c == TypeClass::Double; }
inline bool isText(TypeClass c) { return c == TypeClass::Str || c == TypeClass::WStr; }

// The cell of a script value for every class but the text classes (whose cells hold buffer pointers).
uint64_t toCell(TypeClass cls, const Variant& v);

// The script value of a cell. For the text classes the cell holds a pointer to the text (null gives "");
// textLimit bounds the text in characters when the buffer is the runtime's own.
void fromCell(TypeClass cls, uint64_t cell, Variant& out, size_t textLimit = SIZE_MAX);

// ---- hooks of the COM layer -------------------------------------------------------------------------------
// "idispatch" values need the COM layer: the IDispatch pointer an Object holds (no reference added), and
// an Object made from an interface pointer (addRef: add a reference of its own; otherwise the pointer's
// reference passes to the Object). Until the COM layer sets them, an Object passes 0 and a returned
// interface pointer is shown as a Ptr.
struct DispatchHooks {
    void* (*dispatchOf)(const Variant& object) = nullptr;
    bool (*objectFrom)(void* dispatch, bool addRef, Variant& out) = nullptr;
};
DispatchHooks& dispatchHooks();

// ---- the machine-code routines (dll_thunk.cpp) ------------------------------------------------------------
#if defined(__x86_64__)
// Calls fn with n argument slots under the x64 Windows convention: the first four slots go to both the
// integer and the floating-point argument registers (so variadic callees find doubles too), the rest on
// the stack above the shadow space. Returns RAX; *fpResult receives XMM0.
extern "C" uint64_t tx_dll_thunk(const void* fn, const uint64_t* slots, size_t n, uint64_t* fpResult)
    asm("tx_dll_thunk");
#elif defined(__i386__)
struct ThunkOut {
    double fp;         // ST(0) when the call returns floating point
    uint32_t stackOk;  // the stack stood where the convention says after the call
};
constexpr uint32_t kThunkCdecl = 1;   // the caller removes the arguments
constexpr uint32_t kThunkFpResult = 2;  // take the result from ST(0)
// Pushes the 32-bit words (the first word lowest, as if pushed from the last argument to the first),
// calls fn and checks the stack position afterwards. Returns EDX:EAX.
extern "C" uint64_t tx_dll_thunk(const void* fn, const uint32_t* words, uint32_t nwords, uint32_t flags,
                                 ThunkOut* out) asm("tx_dll_thunk");
#else
#error "DLL calls are built for x86 and x86_64 only"
#endif
// The shared part of every callback stub: each stub loads its callback record into a register and jumps
// here (callbacks.cpp has the stub bytes and the entry it calls).
extern "C" void tx_callback_common() asm("tx_callback_common");

}  // namespace tx::native
