// Handlers of the core's own built-ins: calls and evaluation (CALL, EXECUTE, SETERROR, SETEXTENDED,
// DUMMYSPEEDTEST), variables by name and array shape (ASSIGN, EVAL, ISDECLARED, UBOUND), the console
// (CONSOLEWRITE, CONSOLEWRITEERROR, CONSOLEREAD) and the options (OPT, TARVEXSETOPTION).
#pragma once

#include "core/builtins.h"

namespace tx {

int biCall(Engine& e, Args& args, Variant& result);
int biExecute(Engine& e, Args& args, Variant& result);
int biSetError(Engine& e, Args& args, Variant& result);
int biSetExtended(Engine& e, Args& args, Variant& result);
int biDummySpeedTest(Engine& e, Args& args, Variant& result);

int biAssign(Engine& e, Args& args, Variant& result);
int biEval(Engine& e, Args& args, Variant& result);
int biIsDeclared(Engine& e, Args& args, Variant& result);
int biUBound(Engine& e, Args& args, Variant& result);

int biConsoleWrite(Engine& e, Args& args, Variant& result);
int biConsoleWriteError(Engine& e, Args& args, Variant& result);
int biConsoleRead(Engine& e, Args& args, Variant& result);

int biOpt(Engine& e, Args& args, Variant& result);

}  // namespace tx
