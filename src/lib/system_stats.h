// Built-ins that touch the system as a whole: ending the session or powering down (SHUTDOWN), the
// administrator-rights test (ISADMIN), and memory figures of the system (MEMGETSTATS) or of one process
// (PROCESSGETSTATS).
#pragma once

#include "core/builtins.h"

namespace tx {

int bi_SHUTDOWN(Engine& e, Args& a, Variant& r);
int bi_ISADMIN(Engine& e, Args& a, Variant& r);
int bi_MEMGETSTATS(Engine& e, Args& a, Variant& r);
int bi_PROCESSGETSTATS(Engine& e, Args& a, Variant& r);

}  // namespace tx
