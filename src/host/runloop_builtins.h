// Built-ins of the run loop: SLEEP, the Adlib timers, the exit functions and the hot keys.
//
// Kept apart from host/runloop.h so that the built-in table sees no Win32 declarations.
#pragma once

#include "core/builtins.h"

namespace tx {

// runloop.cpp
int bi_SLEEP(Engine& e, Args& a, Variant& r);
// script_functions.cpp
int bi_ADLIBREGISTER(Engine& e, Args& a, Variant& r);
int bi_ADLIBUNREGISTER(Engine& e, Args& a, Variant& r);
int bi_ONTARVEXEXITREGISTER(Engine& e, Args& a, Variant& r);
int bi_ONTARVEXEXITUNREGISTER(Engine& e, Args& a, Variant& r);
// hotkeys.cpp
int bi_HOTKEYSET(Engine& e, Args& a, Variant& r);

}  // namespace tx
