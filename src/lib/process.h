// Built-ins over other programs and the system's settings: starting programs (optionally as another
// user) and waiting for them, the standard streams of started programs, finding, waiting for and ending
// processes, the registry and the environment.
//
// process.cpp starts, waits for and ends processes; process_streams.cpp keeps the redirected streams of
// started programs; registry.cpp and environment.cpp hold the registry and environment built-ins.
#pragma once

#include "core/builtins.h"

namespace tx {

// process.cpp
int bi_RUN(Engine& e, Args& a, Variant& r);
int bi_RUNWAIT(Engine& e, Args& a, Variant& r);
int bi_RUNAS(Engine& e, Args& a, Variant& r);
int bi_RUNASWAIT(Engine& e, Args& a, Variant& r);
int bi_SHELLEXECUTE(Engine& e, Args& a, Variant& r);
int bi_SHELLEXECUTEWAIT(Engine& e, Args& a, Variant& r);
int bi_PROCESSCLOSE(Engine& e, Args& a, Variant& r);
int bi_PROCESSEXISTS(Engine& e, Args& a, Variant& r);
int bi_PROCESSLIST(Engine& e, Args& a, Variant& r);
int bi_PROCESSSETPRIORITY(Engine& e, Args& a, Variant& r);
int bi_PROCESSWAIT(Engine& e, Args& a, Variant& r);
int bi_PROCESSWAITCLOSE(Engine& e, Args& a, Variant& r);

// process_streams.cpp
int bi_STDOUTREAD(Engine& e, Args& a, Variant& r);
int bi_STDERRREAD(Engine& e, Args& a, Variant& r);
int bi_STDINWRITE(Engine& e, Args& a, Variant& r);
int bi_STDIOCLOSE(Engine& e, Args& a, Variant& r);

// registry.cpp
int bi_REGREAD(Engine& e, Args& a, Variant& r);
int bi_REGWRITE(Engine& e, Args& a, Variant& r);
int bi_REGDELETE(Engine& e, Args& a, Variant& r);
int bi_REGENUMKEY(Engine& e, Args& a, Variant& r);
int bi_REGENUMVAL(Engine& e, Args& a, Variant& r);

// environment.cpp
int bi_ENVGET(Engine& e, Args& a, Variant& r);
int bi_ENVSET(Engine& e, Args& a, Variant& r);
int bi_ENVUPDATE(Engine& e, Args& a, Variant& r);

}  // namespace tx
