// The script store: everything the loader produced for the running script.
//
// It holds the directive flags, the list of script files (index 0 is the main script), the stored source
// lines with their file index and line number (used by error reports), and the token-line table indexed
// by stored-line number (index 0 exists and stays empty). Text scripts fill the lines and are tokenised
// by the preparation pass; compiled scripts arrive directly as token lines without texts.
#pragma once

#include <cstdint>
#include <vector>

#include "core/sstring.h"
#include "core/tokens.h"

namespace tx {

// Where the script comes from (the stored value is what the macro layer reads).
enum class SourceMode : int32_t {
    Refused = 0,
    Line = 1,
    Text = 2,
    ScriptFile = 3,
    Compiled = 4,
};

struct StoredLine {
    SString text;
    int lineNumber = 0;
    int fileIndex = -1;  // -1: no file (the single line of the command line)
};

class ScriptStore {
public:
    uint8_t noTrayIcon = 0;
    uint8_t requireAdmin = 0;
    uint8_t noExecute = 0;
    uint8_t errorToStdout = 0;
    int titleId = 102;

    std::vector<SString> files;
    std::vector<StoredLine> lines{1};    // index 0 unused
    std::vector<TokenLine> tokenLines;   // empty until tokenised or loaded compiled
    bool compiled = false;               // token lines came from a container (no texts)

    // Adds a script file; a path already present (compared without case) keeps its index.
    int addFile(const SString& path);
    void addLine(SString text, int lineNumber, int fileIndex);
    int lineCount() const { return static_cast<int>(lines.size()) - 1; }
    int tokenLineCount() const { return tokenLines.empty() ? 0 : static_cast<int>(tokenLines.size()) - 1; }

    // Lookups used by error reports: none / -1 / none for compiled scripts and out-of-range indices.
    const SString* lineText(int index) const;
    int lineNumber(int index) const;
    const SString* filePath(int index) const;  // file of a stored line, or nullptr

    void release();
};

ScriptStore& scriptStore();

}  // namespace tx
