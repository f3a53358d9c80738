// The lexer: one line of script text in, one token line out.
#pragma once

#include "core/sstring.h"
#include "core/tokens.h"

namespace tx {

// Tokenises text into out (emptied first). Returns 0 on success, 1 on failure; on failure an end-of-line
// token has been appended and, when lineIndex > 0, the error has been reported (lexer form). Run-time
// callers (EXECUTE, CALL) pass 0 and get no report.
int tokenise(int lineIndex, u16view text, TokenLine& out);

// Tokenises every stored line of the script store once (nothing to do when the script arrived compiled).
// Returns false at the first failing line (already reported) or when no line is stored.
bool tokeniseAll();

}  // namespace tx
