// Script error reports: the five report forms and the process-wide run state they read.
//
// A script error names the line (file, line number, text), marks the column where it was found and gives
// a numbered message from the message table. It is shown in a system-modal message box, or written to
// standard output when the runtime was started with /ErrorStdOut. The runtime forms stop the script and
// set the exit code; only the first report of a run is shown. Errors of built-in functions never come
// here: they set @error and the script goes on.
#pragma once

#include <cstdint>

#include "core/sstring.h"

namespace tx {

// Message ids used by name in the code.
namespace msg {
enum : int {
    PausedPrefix = 101,
    Title = 102,
    StackImbalance = 103,
    BadFunc = 105,
    MissingRParen = 107,
    MissingOperator = 108,
    UnbalancedBrackets = 109,
    ExpressionError = 110,
    CallParseError = 111,
    WrongArgCount = 112,
    ReDimNotArray = 113,
    ExtraText = 114,
    UndeclaredVar = 121,
    BadSubscript = 122,
    BadArrayFormat = 123,
    NotAnArray = 124,
    TooManySubscripts = 125,
    DimWithoutSize = 126,
    DeclNoVar = 127,
    AssignExpected = 128,
    BadKeyword = 129,
    ArrayTooBig = 130,
    FuncWithoutEnd = 131,
    DuplicateFunc = 132,
    UnknownFunc = 133,
    UnknownMacro = 134,
    RecursionLimit = 154,
    AssignConst = 163,
    CannotParse = 5000,
    CannotOpenScript = 5001,
    MissingQuote = 5002,
    BadVarOrMacro = 5003,
    MissingSeparator = 5004,
};
}

// Process-wide state shared by start-up, the run loop and the reports.
struct RunState {
    int32_t exitCode = 0;
    uint8_t errorToStdout = 0;  // /ErrorStdOut
    uint8_t debugOutput = 0;    // /Tarvex3OutputDebug
    uint8_t suppress = 0;       // set while EXECUTE evaluates: runtime reports stay silent
    uint8_t stopping = 0;       // set by the first runtime report, by EXIT and by the run loop's exit paths
    uint8_t reported = 0;       // a runtime report was made: later errors only stop the script
    uint8_t setExitCode = 0;    // option SetExitCode
    // Run-loop flags, set by the window procedure and by the layers that call into script code.
    uint8_t quit = 0;             // WM_QUIT was taken from the queue: every level ends, no exit functions
    uint8_t paused = 0;           // the tray's pause item
    uint8_t exitRequest = 0;      // the tray's exit item or WM_CLOSE of the main window
    uint8_t callbackRunning = 0;  // a DLL callback runs a user function: no pumping, pause ignored
    uint8_t objectCall = 0;       // an object method call is in progress: no pumping while running lines
    int currentLine = 0;          // stored-line index being executed
    SString scriptFullPath;
    SString exePath;
};
RunState& runState();

// Text of a message id (from the executable's string table).
SString messageText(int id);

void reportLoadError();
void reportPreprocessorError(const SString* filePath, int lineNumber, u16view message, u16view lineText);
void reportLexerError(int lineIndex, int messageId, int column);
// Stops the script. Returns true when the report was made: false inside EXECUTE (nothing happens), and
// false when the script is already stopping or a report was made before (the script stops, silently).
bool reportRuntimeError(int messageId, int column);
bool reportRuntimeDetail(const char16_t* detail);

}  // namespace tx
