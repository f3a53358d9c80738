// Native profiling driver: the Win32-free core (values, strings, lexer, evaluator, executor, calls) as a
// plain Linux program, so that callgrind or perf can see inside the interpreter.
//
//     bench/native/build.sh && valgrind --tool=callgrind build/<dir>/prof/txprof bench/workloads/b_fib.qx3
//
// It loads a script's lines (dropping blank lines and whole-line comments), tokenises them and runs them with a run loop that serves nothing (no events,
// no waits). The few built-ins the benchmark workloads need are stand-ins: CONSOLEWRITE prints, TIMERINIT
// and TIMERDIFF use the monotonic clock, STRINGLEN counts; STRINGREGEXP only reports a match (the real
// regular-expression engine lives with the Win32 string layer). Macros: @CRLF, @LF, @TAB, @ERROR,
// @EXTENDED. The ANSI code page is taken as Latin-1, casing as ASCII.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "core/builtins.h"
#include "core/engine.h"
#include "core/interp.h"
#include "core/platform.h"
#include "core/script_store.h"
#include "env/options.h"
#include "host/lexer.h"

namespace tx {

namespace platform {
SString loadMessage(int id) { return SString::fromLatin1("error " + std::to_string(id)); }
void showErrorBox(u16view text, u16view, bool) { std::fprintf(stderr, "%s\n", utf16ToUtf8(text).c_str()); }
void writeStdout(const char* bytes, size_t n) { std::fwrite(bytes, 1, n, stderr); }
}  // namespace platform

Options& options() {
    static Options o;
    return o;
}
bool g_expandStrings = false;
void expandOptionStrings(Engine&, Variant&) {}

bool evalMacro(Engine& e, u16view name, Variant& out) {
    if (name == u"CRLF") out = Variant::string(SString(u"\r\n"));
    else if (name == u"LF") out = Variant::string(SString(u"\n"));
    else if (name == u"TAB") out = Variant::string(SString(u"\t"));
    else if (name == u"ERROR") out = Variant::int32(e.error());
    else if (name == u"EXTENDED") out = e.extended();
    else return false;
    return true;
}

namespace {
using Clock = std::chrono::steady_clock;

int bi_CONSOLEWRITE(Engine&, Args& a, Variant&) {
    std::string s = platform::toAnsi(a.str(0).view());
    std::fwrite(s.data(), 1, s.size(), stdout);
    return 0;
}
int bi_STRINGLEN(Engine&, Args& a, Variant& r) {
    r = Variant::int32(static_cast<int32_t>(a.str(0).size()));
    return 0;
}
int bi_STRINGREGEXP(Engine&, Args&, Variant& r) {
    r = Variant::int32(1);
    return 0;
}
int bi_TIMERINIT(Engine&, Args&, Variant& r) {
    r = Variant::dbl(std::chrono::duration<double, std::milli>(Clock::now().time_since_epoch()).count());
    return 0;
}
int bi_TIMERDIFF(Engine&, Args& a, Variant& r) {
    r = Variant::dbl(std::chrono::duration<double, std::milli>(Clock::now().time_since_epoch()).count() - a.dbl(0));
    return 0;
}
}  // namespace

// Sorted by name, as findBuiltin expects.
const BuiltinEntry kBuiltins[] = {
    {u"CONSOLEWRITE", 1, 1, bi_CONSOLEWRITE},
    {u"STRINGLEN", 1, 1, bi_STRINGLEN},
    {u"STRINGREGEXP", 2, 4, bi_STRINGREGEXP},
    {u"TIMERDIFF", 1, 1, bi_TIMERDIFF},
    {u"TIMERINIT", 0, 0, bi_TIMERINIT},
};
const int kBuiltinCount = static_cast<int>(sizeof(kBuiltins) / sizeof(kBuiltins[0]));
int findBuiltin(u16view upperName) {
    for (int i = 0; i < kBuiltinCount; ++i)
        if (upperName == kBuiltins[i].name) return i;
    return -1;
}

// The run loop without serving: lines until the level returns or the script stops.
int runLevel(int firstLine) {
    Engine& e = engine();
    RunState& rs = runState();
    Level level;
    e.enterLevel(level, firstLine);
    const int count = lineCount();
    while (!level.returnFlag && !rs.stopping) {
        const int n = level.nextLine++;
        if (n < 1 || n > count) {
            rs.stopping = 1;
            break;
        }
        rs.currentLine = n;
        if (!e.executeLine(n)) {
            level.failed = true;
            break;
        }
    }
    e.leaveLevel(level);
    return level.failed ? 1 : 0;
}

}  // namespace tx

int main(int argc, char** argv) {
    using namespace tx;
    if (argc != 2) {
        std::fprintf(stderr, "usage: txprof SCRIPT\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 2;
    }
    ScriptStore& store = scriptStore();
    int file = store.addFile(SString::fromUtf8(argv[1]));
    std::string text;
    int number = 0;
    while (std::getline(in, text)) {
        ++number;
        // Only whole-line comments and blank lines are dropped (the workloads need no more).
        size_t first = text.find_first_not_of(" \t\r");
        if (first == std::string::npos || text[first] == ';') continue;
        size_t last = text.find_last_not_of(" \t\r");
        store.addLine(SString::fromUtf8(text.substr(first, last - first + 1)), number, file);
    }
    if (!tokeniseAll()) return 1;
    Engine& e = engine();
    g_lines = store.tokenLines.data();
    if (!e.registerFunctions() || !e.checkBlocks()) return 1;
    runState().currentLine = 0;
    return runLevel(1);
}
