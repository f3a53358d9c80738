// Built-in functions: the handler contract, argument helpers and the table lookup.
//
// A handler receives the engine, its arguments (each evaluated into a fresh Variant that the handler owns
// and may change) and the result, preset to Int32 1. Before it runs, the dispatcher has checked the
// argument count against the table and reset @error and @extended. A handler that fails without stopping
// the script sets @error/@extended through the engine (Engine::setError, setExtended, setExtendedValue)
// and stores its failure value in the result, then returns 0. It returns non-zero only after it has
// raised a script error (reportRuntimeError), which stops the script.
#pragma once

#include <cstdint>

#include "core/sstring.h"
#include "core/variant.h"

namespace tx {

class Engine;

// The arguments of one built-in call, with readers that apply the language's conversions. An argument
// that is absent or the Default keyword counts as not given for the *Or readers.
struct Args {
    Variant* v = nullptr;
    int n = 0;

    int count() const { return n; }
    Variant& operator[](int i) { return v[i]; }
    const Variant& operator[](int i) const { return v[i]; }
    bool given(int i) const { return i < n && !v[i].isDefaultKeyword(); }

    int32_t int32(int i) const { return v[i].toInt32(); }
    int64_t int64(int i) const { return v[i].toInt64(); }
    double dbl(int i) const { return v[i].toDouble(); }
    const SString& str(int i) const { return v[i].toString(); }
    bool truth(int i) const { return v[i].isTrue(); }

    int32_t int32Or(int i, int32_t def) const { return given(i) ? v[i].toInt32() : def; }
    int64_t int64Or(int i, int64_t def) const { return given(i) ? v[i].toInt64() : def; }
    double dblOr(int i, double def) const { return given(i) ? v[i].toDouble() : def; }
    SString strOr(int i, u16view def) const { return given(i) ? v[i].toString() : SString(def); }
};

using BuiltinFn = int (*)(Engine& engine, Args& args, Variant& result);

struct BuiltinEntry {
    const char16_t* name;  // upper case
    uint8_t minArgs;
    uint8_t maxArgs;
    BuiltinFn handler;  // nullptr: not available in this build (fails with @error 1)
};

extern const BuiltinEntry kBuiltins[];
extern const int kBuiltinCount;

// Index of an upper-case built-in name, or -1.
int findBuiltin(u16view upperName);

}  // namespace tx
