// The texts of the error reports: the standard-output and message-box forms of the runtime, runtime
// detail, lexer and preprocessor reports, with and without a file, column or SetExitCode; one report per run.
#include <string>

#include "check.h"
#include "core/errors.h"
#include "core/script_store.h"

namespace tx::platform {
extern std::string g_stdout;
extern std::string g_box;
}  // namespace tx::platform

using namespace tx;
using platform::g_box;
using platform::g_stdout;

// A fresh run: line 1 is line 3 of C:\s.qx3, line 2 has no file (the command-line line).
static void fresh(bool toStdout, bool setExitCode = false) {
    ScriptStore& st = scriptStore();
    st.release();
    st.addFile(SString::fromLatin1("C:\\s.qx3"));
    st.addLine(SString::fromLatin1("$x = $y"), 3, 0);
    st.addLine(SString::fromLatin1("Foo()"), 1, -1);
    st.errorToStdout = toStdout;
    RunState& rs = runState();
    rs.errorToStdout = toStdout;
    rs.setExitCode = setExitCode;
    rs.suppress = rs.stopping = rs.reported = 0;
    rs.exitCode = 0;
    rs.currentLine = 1;
    rs.scriptFullPath = SString::fromLatin1("C:\\s.qx3");
    g_stdout.clear();
    g_box.clear();
}

TEST(runtime_report_stdout) {
    fresh(true);
    CHECK(reportRuntimeError(121, 5));
    CHECK_EQ(g_stdout, std::string("C:\\s.qx3 (3) : ==> MSG121:\n$x = $y\n$x = ^ ERROR\n"));
    CHECK_EQ(runState().exitCode, 1);
    CHECK_EQ(runState().stopping, 1);
    // Only the first error of a run is reported, also after the stopping state was cleared (exit functions).
    g_stdout.clear();
    runState().stopping = 0;
    CHECK(!reportRuntimeError(110, 0));
    CHECK_EQ(g_stdout, std::string());
    CHECK_EQ(runState().stopping, 1);
    CHECK_EQ(runState().exitCode, 1);

    fresh(true);
    runState().currentLine = 2;
    CHECK(reportRuntimeError(133, 0));
    CHECK_EQ(g_stdout, std::string("C:\\s.qx3 (2) : ==> MSG133:\n"));
}

TEST(runtime_report_suppressed_and_exit_code) {
    fresh(true, true);
    runState().suppress = 1;
    CHECK(!reportRuntimeError(121, 5));
    CHECK_EQ(g_stdout, std::string());
    CHECK_EQ(runState().stopping, 0);
    runState().suppress = 0;
    CHECK(reportRuntimeError(121, -1));
    CHECK_EQ(g_stdout, std::string("C:\\s.qx3 (3) : ==> MSG121:\n$x = $y\n\n"));
    CHECK_EQ(runState().exitCode, 0x7FFFF000 + 121);
    fresh(true, true);
    CHECK(reportRuntimeDetail(u"Incorrect parameters to object property !"));
    CHECK_EQ(g_stdout, std::string("C:\\s.qx3 (3) : ==> MSG114:\n$x = $y\n^ ERROR Incorrect parameters to object property !\n"));
    CHECK_EQ(runState().exitCode, 2147479666);
}

TEST(runtime_report_box) {
    fresh(false);
    CHECK(reportRuntimeError(121, 5));
    CHECK_EQ(g_box, std::string("Line 3  (File \"C:\\s.qx3\"):\n\n$x = $y\n$x = ^ ERROR\n\nError: MSG121"));
    CHECK_EQ(g_stdout, std::string());
    fresh(false);
    runState().currentLine = 2;
    CHECK(reportRuntimeError(133, -1));
    CHECK_EQ(g_box, std::string("Line 2  (File \"C:\\s.qx3\"):\n\nFoo()\n\nError: MSG133"));
    fresh(false);
    CHECK(reportRuntimeDetail(nullptr));
    CHECK_EQ(g_box, std::string("Line 3  (File \"C:\\s.qx3\"):\n\n$x = $y\n\nError: MSG114"));
}

TEST(lexer_and_preprocessor_reports) {
    fresh(true);
    reportLexerError(1, 5003, 5);
    CHECK_EQ(g_stdout, std::string("C:\\s.qx3 (3) : ==> MSG5003: \n$x = $y \n$x = ^ ERROR\n"));
    CHECK_EQ(runState().stopping, 0);
    fresh(false);
    reportLexerError(2, 5002, 2);
    CHECK_EQ(g_box, std::string("Line 1:\n\nFoo()\nFo^ ERROR\n\nError: MSG5002"));
    reportLexerError(0, 5002, 2);  // EXECUTE's text has no line: nothing
    CHECK_EQ(g_box, std::string("Line 1:\n\nFoo()\nFo^ ERROR\n\nError: MSG5002"));

    fresh(true);
    SString f = SString::fromLatin1("C:\\inc.qx3");
    reportPreprocessorError(&f, 4, u"Error opening the file", u"#include \"x\"");
    CHECK_EQ(g_stdout, std::string("C:\\inc.qx3 (4) : ==> Error opening the file.: \n#include \"x\" \n\n"));
    fresh(false);
    reportPreprocessorError(&f, 4, u"Error opening the file", u"#include \"x\"");
    CHECK_EQ(g_box, std::string("Line 4  (File \"C:\\inc.qx3\"):\n\n#include \"x\"\n\nError: Error opening the file.\n\n"));
    reportPreprocessorError(nullptr, 1, u"Bad", u"t");
    CHECK_EQ(g_box, std::string("Line 1:\n\nt\n\nError: Bad.\n\n"));

    fresh(true);
    reportLoadError();
    CHECK_EQ(g_stdout, std::string("MSG102 (0) : ==> MSG5001: \n \n\n"));
}
