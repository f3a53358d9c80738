// COM built-ins: OBJCREATE, OBJGET, OBJNAME (com.cpp) and OBJEVENT (com_events.cpp). Member access, WITH
// and FOR ... IN over objects reach the COM layer through the evaluator's object hooks, not through here.
#pragma once

#include "core/builtins.h"

namespace tx {

int bi_OBJCREATE(Engine& e, Args& a, Variant& r);
int bi_OBJGET(Engine& e, Args& a, Variant& r);
int bi_OBJNAME(Engine& e, Args& a, Variant& r);
int bi_OBJEVENT(Engine& e, Args& a, Variant& r);

}  // namespace tx
