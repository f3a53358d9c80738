// Native interop built-ins: calls into any DLL export with arguments described by type names (DLLCALL),
// DLL handles (DLLOPEN, DLLCLOSE), script functions handed to native code as function pointers
// (DLLCALLBACKREGISTER, DLLCALLBACKGETPTR, DLLCALLBACKFREE), and, through interop/dllstruct.h, the C-style
// memory structures passed to those calls by pointer.
#pragma once

#include "core/builtins.h"
#include "interop/dllstruct.h"

namespace tx {

int bi_DLLCALL(Engine& e, Args& a, Variant& r);
int bi_DLLOPEN(Engine& e, Args& a, Variant& r);
int bi_DLLCLOSE(Engine& e, Args& a, Variant& r);
int bi_DLLCALLBACKREGISTER(Engine& e, Args& a, Variant& r);
int bi_DLLCALLBACKGETPTR(Engine& e, Args& a, Variant& r);
int bi_DLLCALLBACKFREE(Engine& e, Args& a, Variant& r);

}  // namespace tx
