// Composition of the error report forms (load, preprocessor, lexer, runtime, runtime detail).
//
// The texts are built here; showing them (message box or standard output) goes through the platform
// sinks. Standard-output reports are written in the ANSI code page, as the C runtime's formatted output
// would write them.
#include "core/errors.h"

#include <algorithm>
#include <string>

#include "core/engine.h"
#include "core/platform.h"
#include "core/script_store.h"

namespace tx {

RunState& runState() {
    static RunState state;
    return state;
}

SString messageText(int id) { return platform::loadMessage(id); }

namespace {

class Text {
public:
    Text& operator<<(u16view s) {
        s_.append(s);
        return *this;
    }
    Text& operator<<(const char* s) {
        s_.appendLatin1(s);
        return *this;
    }
    Text& operator<<(int n) {
        s_.appendLatin1(std::to_string(n));
        return *this;
    }
    const SString& str() const { return s_; }

private:
    SString s_;
};

void toStdout(const SString& s) {
    std::string a = platform::toAnsi(s.view());
    platform::writeStdout(a.data(), a.size());
}

// The line text cut at the column, followed by "^ ERROR".
SString markerLine(const SString* text, int column) {
    SString m;
    if (text) m.append(text->data(), std::min<size_t>(static_cast<size_t>(column), text->size()));
    m.appendLatin1("^ ERROR");
    return m;
}

void heading(Text& t, int lineNumber, const SString* file) {
    if (file) t << "Line " << lineNumber << "  (File \"" << file->view() << "\"):\n\n";
    else t << "Line " << lineNumber << ":\n\n";
}

SString title() { return messageText(scriptStore().titleId); }

}  // namespace

void reportLoadError() {
    SString m = messageText(msg::CannotOpenScript);
    if (scriptStore().errorToStdout) {
        Text t;
        t << title().view() << " (" << 0 << ") : ==> " << m.view() << ": \n \n\n";
        toStdout(t.str());
    } else {
        platform::showErrorBox(m.view(), title().view(), false);
    }
}

void reportPreprocessorError(const SString* filePath, int lineNumber, u16view message, u16view lineText) {
    if (scriptStore().errorToStdout) {
        Text t;
        t << (filePath ? filePath->view() : runState().scriptFullPath.view()) << " (" << lineNumber << ") : ==> "
          << message << ".: \n" << lineText << " \n\n";
        toStdout(t.str());
        return;
    }
    Text t;
    heading(t, lineNumber, filePath);
    t << lineText << "\n\nError: " << message << ".\n\n";
    platform::showErrorBox(t.str().view(), title().view(), false);
}

void reportLexerError(int lineIndex, int messageId, int column) {
    if (lineIndex <= 0) return;
    const ScriptStore& store = scriptStore();
    const SString* text = store.lineText(lineIndex);
    int n = store.lineNumber(lineIndex);
    const SString* file = store.filePath(lineIndex);
    SString empty;
    const SString& t = text ? *text : empty;
    SString m = messageText(messageId);
    SString marker = column >= 0 ? markerLine(&t, column) : SString();
    if (store.errorToStdout) {
        // Without a file (the single command-line line) the script's full path stands in.
        Text o;
        o << (file ? file->view() : runState().scriptFullPath.view()) << " (" << n << ") : ==> " << m.view()
          << ": \n" << t.view() << " \n" << marker.view() << "\n";
        toStdout(o.str());
        return;
    }
    Text o;
    heading(o, n, file);
    o << t.view() << "\n";
    if (column >= 0) o << marker.view() << "\n";
    o << "\nError: " << m.view();
    platform::showErrorBox(o.str().view(), title().view(), false);
}

namespace {

bool runtimeReport(int messageId, int column, const char16_t* detail, bool detailForm) {
    RunState& rs = runState();
    if (rs.suppress) return false;
    if (rs.stopping || rs.reported) {
        // Only the first error of a run is shown. One raised later (an exit function that fails after an
        // error) still ends what is running.
        rs.stopping = 1;
        return false;
    }
    // The script stops before the report is shown: the message box runs a message loop of its own, and
    // nothing it dispatches may start script code or a second report.
    rs.stopping = 1;
    rs.reported = 1;
    rs.exitCode = rs.setExitCode ? static_cast<int32_t>(0x7FFFF000 + messageId) : 1;
    const ScriptStore& store = scriptStore();
    int i = rs.currentLine;
    const SString* text = store.lineText(i);
    int n = store.lineNumber(i);
    const SString* file = store.filePath(i);
    bool ownFile = file != nullptr;
    if (!ownFile) {
        n = i;
        file = &rs.scriptFullPath;
    }
    SString m = messageText(messageId);
    SString marker;
    bool hasMarker = false;
    if (detailForm) {
        if (detail) {
            marker = markerLine(nullptr, 0);
            marker.appendLatin1(" ");
            marker.append(u16view(detail));
            hasMarker = true;
        }
    } else if (column >= 0) {
        marker = markerLine(text, column);
        hasMarker = true;
    }
    if (rs.errorToStdout) {
        Text o;
        if (ownFile)
            o << file->view() << " (" << n << ") : ==> " << m.view() << ":\n" << (text ? text->view() : u16view())
              << "\n" << marker.view() << "\n";
        else
            o << rs.scriptFullPath.view() << " (" << i << ") : ==> " << m.view() << ":\n";
        toStdout(o.str());
    } else {
        Text o;
        heading(o, n, file);
        if (text) o << text->view() << "\n";
        if (hasMarker) o << marker.view() << "\n";
        o << "\nError: " << m.view();
        platform::showErrorBox(o.str().view(), title().view(), true);
    }
    return true;
}

}  // namespace

// Defined with the reports, which release it before they show anything (a box may stay up for long).
HeldOutput g_heldOutput;

bool reportRuntimeError(int messageId, int column) {
    releaseHeldOutput();
    return runtimeReport(messageId, column, nullptr, false);
}

bool reportRuntimeDetail(const char16_t* detail) {
    releaseHeldOutput();
    return runtimeReport(114, -1, detail, true);
}

}  // namespace tx
