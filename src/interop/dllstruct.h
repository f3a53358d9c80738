// DLL structures: C-style memory blocks laid out from a definition string such as
// "int a; char name[32]; ptr p", held by DLLStruct values, passed to native code by pointer and read or
// written element by element.
//
// A DLLStruct value owns one reference to a shared structure record (layout plus memory): copying the
// value shares the record, so writes through one copy are seen through every other, and the memory is
// freed with the last reference. Memory given by the script as a pointer is used as it stands and never
// freed. Element sizes follow the target: pointers and pointer-sized integers take 8 bytes on x86_64.
#pragma once

#include "core/builtins.h"

namespace tx {

int bi_DLLSTRUCTCREATE(Engine& e, Args& a, Variant& r);
int bi_DLLSTRUCTGETDATA(Engine& e, Args& a, Variant& r);
int bi_DLLSTRUCTSETDATA(Engine& e, Args& a, Variant& r);
int bi_DLLSTRUCTGETPTR(Engine& e, Args& a, Variant& r);
int bi_DLLSTRUCTGETSIZE(Engine& e, Args& a, Variant& r);

}  // namespace tx
