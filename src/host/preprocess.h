// The text reader and preprocessor: a plain-text script file (and everything it includes) into the
// script store's line store.
//
// A file is decoded (UTF-16 LE/BE or UTF-8 with a byte-order mark, UTF-8 without one when the start of
// the file is valid UTF-8 with at least one multi-byte sequence, otherwise the ANSI code page), cut into
// lines, stripped of comments and white space, joined across " _" continuations, and its directives are
// obeyed: #include in its quoted and angle-bracket forms, #include-once, #cs/#ce comment blocks (nested),
// #NoTrayIcon, #RequireAdmin, #NoTarvex3Execute and #OnTarvexStartRegister. Failures are reported in the
// preprocessor form before the reader returns false.
//
// The script compiler runs the same reader; the directives a compiled script must carry are kept as
// texts so that it can put them into its token stream.
#pragma once

#include <vector>

#include "core/sstring.h"

namespace tx {

// Reads the main script (already in the file list at fileIndex) with everything it includes.
bool readScriptFile(const SString& fullPath, int fileIndex);

// Names registered by #OnTarvexStartRegister (text or compiled), in order; the run loop calls them
// before the first line.
const std::vector<SString>& startFunctionNames();

// Directive lines of the text script that a compiled script carries as directive tokens
// (#NoTrayIcon, #RequireAdmin, #OnTarvexStartRegister), in the order met.
const std::vector<SString>& carriedDirectives();

// Applies one directive of a compiled script: only #NoTrayIcon, #RequireAdmin and #OnTarvexStartRegister
// have an effect; any other text is ignored.
void applyCompiledDirective(u16view text);

// The include directory list: the executable's "Include" folder, then the pieces of the registry value
// "Include" under HKEY_CURRENT_USER\Software\Tarvex v3\Tarvex. Built on first use.
const std::vector<SString>& includeDirectories();

}  // namespace tx
