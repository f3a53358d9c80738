// The narrow interfaces between start-up and the later stages (loader, engine, run loop, tray).
//
// Start-up only calls these; each is implemented by the stage that owns it.
#pragma once

#include <vector>

#include "core/script_store.h"
#include "core/sstring.h"

namespace tx {

// Compiled-script container (appended to an executable): does it forbid command-line execution?
bool containerForbidsCommandLine(const SString& exePath);
// Loads the script at path into the script store with the given file index; a plain-text file turns
// mode ScriptFile into Text. Failures are reported before it returns false.
bool loadScript(const SString& path, int fileIndex, SourceMode& mode);

// Creates $CMDLINERAW and $CMDLINE (called as soon as variables exist).
void createCommandLineVariables(const SString& raw, const std::vector<SString>& args);
// After tokenising: block-structure check and user-function registration. False when reported.
bool prepareEngine();
// Runs the prepared script to its end (the run loop).
void runScript();

// Tray icon (added before the run, removed after it).
void trayAdd();
void trayRemove();

}  // namespace tx
