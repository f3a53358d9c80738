// Declarations of every built-in handler, gathered from the subject headers for the built-in table.
#pragma once

#include "core/builtins.h"
#include "lib/regex.h"
#include "lib/strings.h"
#include "core/typetests.h"
#include "lib/files.h"
#include "lib/ini.h"
#include "lib/shell_files.h"
#include "lib/math.h"
#include "lib/process.h"
#include "lib/system_stats.h"
#include "lib/drives.h"
#include "core/core_builtins.h"
#include "host/runloop_builtins.h"
#include "interop/dllcall.h"
#include "automation/windows.h"
#include "gui/dialogs.h"
