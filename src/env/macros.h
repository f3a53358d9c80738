// Macros: the "@" names scripts read facts through.
#pragma once

#include "core/sstring.h"
#include "core/variant.h"

namespace tx {

class Engine;

// Evaluates the macro of an upper-case name (without "@") into out. Returns false for an unknown name
// (the caller raises the unknown-macro error).
bool evalMacro(Engine& engine, u16view upperName, Variant& out);

}  // namespace tx
