// Plug-in DLLs: PLUGINOPEN and PLUGINCLOSE, and the call path that offers names which are neither built-ins
// nor user functions to the loaded plug-ins (the binary interface is include/tarvex3_plugin.h).
#pragma once

#include "core/builtins.h"

namespace tx {

int bi_PLUGINOPEN(Engine& e, Args& a, Variant& r);
int bi_PLUGINCLOSE(Engine& e, Args& a, Variant& r);

}  // namespace tx
