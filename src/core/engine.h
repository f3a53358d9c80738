// The interpreter engine: what built-in handlers and the other layers may ask of the running script.
//
// The engine owns the call frames (@error/@extended live in the current frame), the variable tables, the
// block stack and the nesting count. Handlers only use the small API below; the evaluator and executor
// behind it are free to change.
#pragma once

#include <cstdint>

#include "core/variant.h"

namespace tx {

class Engine {
public:
    // @error of the current frame; byScript marks a value set by SETERROR (carried back to the caller).
    void setError(int32_t code, bool byScript = false);
    // @extended of the current frame as Int32.
    void setExtended(int32_t value, bool byScript = false);
    // @extended as a copy of any value (flag off).
    void setExtendedValue(const Variant& value);
    int32_t error() const;
    const Variant& extended() const;
    int32_t numParams() const;  // arguments given to the running user function (@NUMPARAMS)
};

Engine& engine();

}  // namespace tx
