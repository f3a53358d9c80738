// What the native fuzz targets link besides the runtime's own Win32-free files: the platform's report
// sinks (reports are dropped), options and macros, a small built-in table (the core's EXECUTE, EVAL,
// ASSIGN, ... and STRINGFORMAT's formatter), a run loop that serves nothing, and the loader's file and
// code-page services over memory: fuzzInput() is the only "file" there is.
#include <cstdio>
#include <cstring>
#include <string>

#include "core/builtins.h"
#include "core/core_builtins.h"
#include "core/engine.h"
#include "core/interp.h"
#include "core/platform.h"
#include "core/script_store.h"
#include "env/options.h"
#include "fuzz_native.h"
#include "host/file_io.h"
#include "lib/encoding.h"
#include "lib/format.h"

namespace tx {

namespace platform {
SString loadMessage(int id) { return SString::fromLatin1("error " + std::to_string(id)); }
void showErrorBox(u16view, u16view, bool) {}
void writeStdout(const char*, size_t) {}
}  // namespace platform

Options& options() {
    static Options o;
    return o;
}
bool g_expandStrings = false;
void expandOptionStrings(Engine&, Variant&) {}

bool evalMacro(Engine& e, u16view name, Variant& out) {
    if (name == u"CRLF") out = Variant::string(SString(u"\r\n"));
    else if (name == u"ERROR") out = Variant::int32(e.error());
    else if (name == u"EXTENDED") out = e.extended();
    else return false;
    return true;
}

namespace {
int bi_STRINGFORMAT(Engine&, Args& a, Variant& r) {
    r.setString(formatText(a.str(0).view(), a.v + 1, a.count() - 1));
    return 0;
}
int bi_STRINGLEN(Engine&, Args& a, Variant& r) {
    r = Variant::int32(static_cast<int32_t>(a.str(0).size()));
    return 0;
}
}  // namespace

// Sorted by name, as findBuiltin expects.
const BuiltinEntry kBuiltins[] = {
    {u"ASSIGN", 2, 3, biAssign},
    {u"CALL", 1, 255, biCall},
    {u"EVAL", 1, 1, biEval},
    {u"EXECUTE", 1, 1, biExecute},
    {u"ISDECLARED", 1, 1, biIsDeclared},
    {u"SETERROR", 1, 3, biSetError},
    {u"SETEXTENDED", 1, 2, biSetExtended},
    {u"STRINGFORMAT", 1, 33, bi_STRINGFORMAT},
    {u"STRINGLEN", 1, 1, bi_STRINGLEN},
    {u"UBOUND", 1, 2, biUBound},
};
const int kBuiltinCount = static_cast<int>(sizeof(kBuiltins) / sizeof(kBuiltins[0]));
int findBuiltin(u16view upperName) {
    for (int i = 0; i < kBuiltinCount; ++i)
        if (upperName == kBuiltins[i].name) return i;
    return -1;
}

int runLevel(int firstLine) {
    Engine& e = engine();
    RunState& rs = runState();
    Level level;
    e.enterLevel(level, firstLine);
    const int count = lineCount();
    // Bounded: a fuzzed loop must not run forever.
    for (int steps = 0; !level.returnFlag && !rs.stopping && steps < 10000; ++steps) {
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

// ---- the loader's services over memory ------------------------------------------------------------------

namespace {
std::string g_input;
}
void setFuzzInput(const uint8_t* data, size_t n) { g_input.assign(reinterpret_cast<const char*>(data), n); }
const std::string& fuzzInput() { return g_input; }

namespace enc {
// UTF-8 (65001) through the runtime's own decoder; every other code page as Latin-1.
SString fromCodePage(const void* bytes, size_t n, unsigned codePage) {
    std::string_view s(static_cast<const char*>(bytes), n);
    return codePage == 65001 ? SString::fromUtf8(s) : SString::fromLatin1(s);
}
}  // namespace enc

namespace fio {
// Any path names the fuzz input; a File reads it from memory (its handle is the read position + 1).
bool File::openRead(const SString&) {
    h_ = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(1));
    return true;
}
bool File::create(const SString&) { return false; }
void File::close() { h_ = INVALID_HANDLE_VALUE; }
uint64_t File::size() const { return g_input.size(); }
bool File::seek(uint64_t pos) {
    if (!valid() || pos > g_input.size()) return false;
    h_ = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(pos + 1));
    return true;
}
size_t File::readSome(void* buf, size_t n) {
    if (!valid()) return 0;
    size_t pos = reinterpret_cast<uintptr_t>(h_) - 1;
    size_t got = pos < g_input.size() ? std::min(n, g_input.size() - pos) : 0;
    std::memcpy(buf, g_input.data() + pos, got);
    h_ = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(pos + got + 1));
    return got;
}
bool File::write(const void*, size_t) { return false; }
bool readWholeFile(const SString&, std::vector<uint8_t>& bytes, uint64_t) {
    bytes.assign(g_input.begin(), g_input.end());
    return true;
}
bool writeWholeFile(const SString&, const std::vector<uint8_t>&) { return false; }
SString fullPath(const SString& path) { return path; }
bool exists(const SString&) { return true; }
SString directoryOf(const SString&) { return SString(u"C:\\"); }
SString currentDirectory() { return SString(u"C:\\"); }
SString modulePath() { return SString(u"C:\\tarvex3.exe"); }
}  // namespace fio

// Resets what one input leaves behind: the script store, the engine's state and the run flags.
void resetForInput() {
    RunState& rs = runState();
    rs.stopping = 0;
    rs.quit = 0;
    rs.reported = 0;
    rs.suppress = 1;
    ScriptStore& st = scriptStore();
    st.files.clear();
    st.lines.assign(1, StoredLine());
    st.tokenLines.clear();
    st.compiled = false;
    g_lines = nullptr;
}

}  // namespace tx
