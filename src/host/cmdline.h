// Command-line splitting and the runtime's own options.
#pragma once

#include <vector>

#include "core/script_store.h"
#include "core/sstring.h"

namespace tx {

// Splits the command line that follows the executable's name into arguments: spaces and tabs separate,
// double quotes group (a doubled quote inside quotes is a literal quote), an unterminated quote is kept
// literally where it opened, and an argument reaching 4096 characters ends the splitting.
std::vector<SString> splitCommandLine(u16view line);

struct CommandLine {
    bool errorToStdout = false;
    bool debugOutput = false;
    bool noTrayIcon = false;
    SourceMode mode = SourceMode::Compiled;
    SString scriptPath;        // the executable's path unless an option names another
    SString lineText;          // /Tarvex3ExecuteLine
    std::vector<SString> args; // script arguments ($CMDLINE[1..n])
};

// Applies the runtime options at the front of the split arguments, in their fixed order.
CommandLine parseCommandLine(const std::vector<SString>& words, const SString& exePath, bool forbidCommandLine);

}  // namespace tx
