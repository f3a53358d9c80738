// Text reader and preprocessor (see preprocess.h).
//
// Each file is read whole, decoded once and walked line by line. While a file is read the current
// directory is its own directory, so that relative #include names and existence tests resolve against
// the including file; it is restored when the file is done. The include depth is capped at 47 open files
// so that a file including itself ends with a report instead of exhausting the stack.
#include "host/preprocess.h"

#include <windows.h>

#include <cstring>

#include "core/errors.h"
#include "core/script_store.h"
#include "host/file_io.h"
#include "lib/encoding.h"

namespace tx {

namespace {

constexpr size_t kMaxLineLength = 4094;
constexpr int kMaxIncludeDepth = 48;
constexpr size_t kMaxIncludeDirs = 256;
constexpr size_t kMaxIncludeDirLength = 259;

int g_depth = 0;
std::vector<int> g_includeCounts;  // by file index: how often the file was read
std::vector<SString> g_startFunctions;
std::vector<SString> g_carried;

bool isCrtSpace(char16_t c) { return c == u' ' || (c >= 9 && c <= 13); }

// Case-insensitive test that s begins with the ASCII prefix.
bool startsWithNoCase(u16view s, const char* prefix) {
    size_t n = std::strlen(prefix);
    if (s.size() < n) return false;
    for (size_t i = 0; i < n; ++i)
        if (asciiUpper(s[i]) != asciiUpper(static_cast<unsigned char>(prefix[i]))) return false;
    return true;
}

u16view trimLeft(u16view s) {
    size_t a = 0;
    while (a < s.size() && isCrtSpace(s[a])) ++a;
    return s.substr(a);
}
u16view trimRight(u16view s) {
    size_t e = s.size();
    while (e > 0 && isCrtSpace(s[e - 1])) --e;
    return s.substr(0, e);
}
u16view trim(u16view s) { return trimRight(trimLeft(s)); }

void report(const SString* file, int line, const char* message, u16view text) {
    SString m = SString::fromLatin1(message);
    reportPreprocessorError(file, line, m.view(), text);
}

// ---- Decoding -----------------------------------------------------------------------------------------------

// Valid UTF-8 with at least one multi-byte sequence; a sequence cut off by the end of the sample counts.
bool looksLikeUtf8(const uint8_t* p, size_t n) {
    bool multi = false;
    size_t i = 0;
    while (i < n) {
        uint8_t c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t follow = (c >= 0xC2 && c <= 0xDF) ? 1 : (c >= 0xE0 && c <= 0xEF) ? 2 : (c >= 0xF0 && c <= 0xF4) ? 3 : 0;
        if (follow == 0) return false;
        for (size_t k = 1; k <= follow && i + k < n; ++k)
            if (p[i + k] < 0x80 || p[i + k] > 0xBF) return false;
        multi = true;
        i += follow + 1;
    }
    return multi;
}

std::u16string decodeUtf16(const uint8_t* p, size_t n, bool bigEndian) {
    std::u16string s(n / 2, u'\0');
    for (size_t i = 0; i < s.size(); ++i) {
        uint8_t a = p[2 * i], b = p[2 * i + 1];
        s[i] = static_cast<char16_t>(bigEndian ? (a << 8 | b) : (b << 8 | a));
    }
    return s;
}

std::u16string decodeScript(const std::vector<uint8_t>& b) {
    const uint8_t* p = b.data();
    size_t n = b.size();
    if (n >= 2 && p[0] == 0xFF && p[1] == 0xFE) return decodeUtf16(p + 2, n - 2, false);
    if (n >= 2 && p[0] == 0xFE && p[1] == 0xFF) return decodeUtf16(p + 2, n - 2, true);
    SString s;
    if (n >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) s = enc::fromUtf8(p + 3, n - 3);
    else if (looksLikeUtf8(p, n < 65536 ? n : 65536)) s = enc::fromUtf8(p, n);
    else s = enc::fromAnsi(p, n);
    return std::u16string(s.view());
}

// Lines end at CR, LF or CR LF; a last line without an end is still a line.
class Lines {
public:
    explicit Lines(const std::u16string& t) : t_(t) {}
    bool next(u16view& line) {
        if (pos_ >= t_.size()) return false;
        size_t e = pos_;
        while (e < t_.size() && t_[e] != u'\r' && t_[e] != u'\n') ++e;
        line = u16view(t_).substr(pos_, e - pos_);
        if (e < t_.size() && t_[e] == u'\r' && e + 1 < t_.size() && t_[e + 1] == u'\n') ++e;
        pos_ = e + 1;
        if (line.size() > kMaxLineLength) line = line.substr(0, kMaxLineLength);
        return true;
    }

private:
    const std::u16string& t_;
    size_t pos_ = 0;
};

// ---- Include directories ------------------------------------------------------------------------------------

struct RegKey {
    HKEY h = nullptr;
    ~RegKey() {
        if (h) RegCloseKey(h);
    }
};

std::vector<SString> buildIncludeDirectories() {
    std::vector<SString> dirs;
    SString first = fio::directoryOf(fio::modulePath());
    if (first.empty() || first[first.size() - 1] != u'\\') first.append(u'\\');
    first.appendLatin1("Include\\");
    dirs.push_back(first);

    RegKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Tarvex v3\\Tarvex", 0, KEY_READ, &key.h) != ERROR_SUCCESS)
        return dirs;
    std::vector<wchar_t> buf(131070 / sizeof(wchar_t));
    DWORD type = 0, bytes = 131070;
    if (RegQueryValueExW(key.h, L"Include", nullptr, &type, reinterpret_cast<BYTE*>(buf.data()), &bytes) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return dirs;
    u16view value(reinterpret_cast<const char16_t*>(buf.data()), bytes / sizeof(wchar_t));
    size_t nul = value.find(u'\0');
    if (nul != u16view::npos) value = value.substr(0, nul);
    // Every piece between semicolons is an entry, empty ones included. Pieces beyond the list's limits
    // (more than 256 entries, longer than 259 characters) are left out.
    size_t start = 0;
    for (;;) {
        size_t semi = value.find(u';', start);
        u16view piece = value.substr(start, semi == u16view::npos ? u16view::npos : semi - start);
        if (dirs.size() < kMaxIncludeDirs && piece.size() <= kMaxIncludeDirLength) {
            SString d(piece);
            if (!d.empty() && d[d.size() - 1] != u'\\') d.append(u'\\');
            dirs.push_back(std::move(d));
        }
        if (semi == u16view::npos) break;
        start = semi + 1;
    }
    return dirs;
}

SString joined(const SString& dir, u16view name) {
    SString s = dir;
    s.append(name);
    return s;
}

// Angle brackets: the include directories first to last. Quotes: the name itself, then the include
// directories last to first. When nothing exists the plain name is used (and fails to open).
SString resolveInclude(u16view name, bool angle) {
    const std::vector<SString>& dirs = includeDirectories();
    SString plain(name);
    if (angle) {
        for (const SString& d : dirs) {
            SString c = joined(d, name);
            if (fio::exists(c)) return c;
        }
        return plain;
    }
    if (fio::exists(plain)) return plain;
    for (size_t i = dirs.size(); i-- > 0;) {
        SString c = joined(dirs[i], name);
        if (fio::exists(c)) return c;
    }
    return plain;
}

// The name of an #include line, or false when the line cannot be parsed.
bool parseIncludeName(u16view line, u16view& name, bool& angle) {
    size_t i = 8;  // after "#include"
    while (i < line.size() && (line[i] == u' ' || line[i] == u'\t')) ++i;
    if (i >= line.size()) return false;
    char16_t open = line[i];
    char16_t close = open == u'<' ? u'>' : open;
    if (open != u'"' && open != u'\'' && open != u'<') return false;
    size_t end = line.find(close, i + 1);
    if (end == u16view::npos) return false;
    size_t k = end + 1;
    while (k < line.size() && (line[k] == u' ' || line[k] == u'\t')) ++k;
    if (k < line.size() && line[k] != u';') return false;
    name = trim(line.substr(i + 1, end - i - 1));
    angle = open == u'<';
    return true;
}

// ---- Lines --------------------------------------------------------------------------------------------------

// Cuts the comment off a line (after its leading white space). Lines starting with '#' other than
// #include are directives: quotes mean nothing there and ';' always starts a comment. False when a string
// is left open.
bool stripComment(u16view line, size_t& end) {
    enum { Outside, InDouble, InSingle, Directive } state = Outside;
    size_t i = 0;
    if (!line.empty() && line[0] == u'#' && !startsWithNoCase(line, "#include")) {
        state = Directive;
        i = 1;
    }
    for (; i < line.size(); ++i) {
        char16_t c = line[i];
        if (c == u'"') {
            if (state == Outside) state = InDouble;
            else if (state == InDouble) state = Outside;
        } else if (c == u'\'') {
            if (state == Outside) state = InSingle;
            else if (state == InSingle) state = Outside;
        } else if (c == u';' && (state == Outside || state == Directive)) {
            break;
        }
    }
    end = i;
    return state == Outside || state == Directive;
}

// Stores a line; an empty last line gives its place to the next one, so blank lines take none.
void storeLine(u16view text, int lineNumber, int fileIndex) {
    ScriptStore& st = scriptStore();
    if (st.lineCount() > 0 && st.lines.back().text.empty()) {
        StoredLine& l = st.lines.back();
        l.text = SString(text);
        l.lineNumber = lineNumber;
        l.fileIndex = fileIndex;
        return;
    }
    st.addLine(SString(text), lineNumber, fileIndex);
}

void registerStartFunction(u16view rest) {
    u16view name = trim(rest);
    if (!name.empty() && name.back() == u'"') {
        name.remove_suffix(1);
        if (!name.empty()) name.remove_prefix(1);
        name = trim(name);
    }
    g_startFunctions.emplace_back(name);
}

bool readFile(const SString& path, int fileIndex, const SString& includingPath, u16view includingText,
              int includingLine);

class FileReader {
public:
    FileReader(const SString& path, int fileIndex, const std::u16string& text)
        : path_(path), fileIndex_(fileIndex), lines_(text) {}

    // Reads every line; false after a reported failure.
    bool run() {
        bool prevContinued = false;
        u16view raw;
        while (lines_.next(raw)) {
            ++lineNo_;
            u16view line = trimLeft(raw);
            size_t end;
            if (!stripComment(line, end)) {
                report(&path_, lineNo_, "Unterminated string", line);
                return false;
            }
            u16view s = trimRight(line.substr(0, end));
            bool continued = false;
            if (s.size() > 2 && s.back() == u'_' && isCrtSpace(s[s.size() - 2] & 0x7F)) {
                s.remove_suffix(1);
                continued = true;
            }
            if (prevContinued) {
                scriptStore().lines.back().text.append(s);
                prevContinued = continued;
                continue;
            }
            if (s.empty() || s[0] != u'#') {
                storeLine(s, lineNo_, fileIndex_);
                prevContinued = continued;
                continue;
            }
            // A directive is not stored, so a " _" after it has nothing to continue: the next line
            // stands on its own rather than being glued to some earlier stored line.
            prevContinued = false;
            switch (directive(s)) {
                case Next: break;
                case Stop: return true;
                case Fail: return false;
            }
        }
        return true;
    }

private:
    enum Outcome { Next, Stop, Fail };

    Outcome directive(u16view s) {
        ScriptStore& st = scriptStore();
        if (startsWithNoCase(s, "#notrayicon")) {
            st.noTrayIcon = 1;
            g_carried.emplace_back(s);
        } else if (startsWithNoCase(s, "#requireadmin")) {
            st.requireAdmin = 1;
            g_carried.emplace_back(s);
        } else if (startsWithNoCase(s, "#NoTarvex3Exe")) {
            st.noExecute = 1;
        } else if (startsWithNoCase(s, "#OnTarvexStartRegister")) {
            registerStartFunction(s.substr(22));
            g_carried.emplace_back(s);
        } else if (startsWithNoCase(s, "#include-once")) {
            if (static_cast<size_t>(fileIndex_) < g_includeCounts.size() && g_includeCounts[fileIndex_] >= 2) return Stop;
        } else if (startsWithNoCase(s, "#include")) {
            return include(s) ? Next : Fail;
        } else if (startsWithNoCase(s, "#comments-start") || startsWithNoCase(s, "#cs")) {
            return commentBlock() ? Next : Fail;
        }
        return Next;  // any other '#' line, a stray #ce included, is ignored
    }

    bool include(u16view s) {
        u16view name;
        bool angle;
        if (!parseIncludeName(s, name, angle)) {
            report(&path_, lineNo_, "Cannot parse #include", s);
            return false;
        }
        SString full = fio::fullPath(resolveInclude(name, angle));
        ScriptStore& st = scriptStore();
        size_t before = st.files.size();
        int index = st.addFile(full);
        if (g_includeCounts.size() < st.files.size()) g_includeCounts.resize(st.files.size(), 0);
        if (static_cast<size_t>(index) < before) ++g_includeCounts[index];
        else g_includeCounts[index] = 1;
        return readFile(full, index, path_, s, lineNo_);
    }

    bool commentBlock() {
        int nesting = 1;
        u16view raw;
        while (lines_.next(raw)) {
            ++lineNo_;
            u16view l = trim(raw);
            if (startsWithNoCase(l, "#comments-start") || startsWithNoCase(l, "#cs")) {
                ++nesting;
            } else if (startsWithNoCase(l, "#comments-end") || startsWithNoCase(l, "#ce")) {
                if (nesting == 1) return true;
                --nesting;
            }
        }
        report(&path_, lineNo_, "Unterminated group of comments", u16view());
        return false;
    }

    const SString& path_;
    int fileIndex_;
    Lines lines_;
    int lineNo_ = 0;
};

// Restores the current directory when a file is done.
struct DirectoryGuard {
    SString saved = fio::currentDirectory();
    ~DirectoryGuard() {
        if (!saved.empty()) SetCurrentDirectoryW(fio::wz(saved));
    }
};

bool readFile(const SString& path, int fileIndex, const SString& includingPath, u16view includingText,
              int includingLine) {
    struct Depth {
        Depth() { ++g_depth; }
        ~Depth() { --g_depth; }
    } depth;
    if (g_depth >= kMaxIncludeDepth) {
        report(&includingPath, includingLine, "#include depth exceeded.  Make sure there are no recursive includes",
               includingText);
        return false;
    }
    std::vector<uint8_t> bytes;
    if (!fio::readWholeFile(path, bytes)) {
        report(&includingPath, includingLine, "Error opening the file", includingText);
        return false;
    }
    std::u16string text = decodeScript(bytes);
    bytes = {};
    DirectoryGuard dir;
    SString full = fio::fullPath(path);
    SetCurrentDirectoryW(fio::wz(fio::directoryOf(full)));
    FileReader reader(full, fileIndex, text);
    return reader.run();
}

}  // namespace

bool readScriptFile(const SString& fullPath, int fileIndex) {
    if (fileIndex >= 0) {
        if (g_includeCounts.size() <= static_cast<size_t>(fileIndex)) g_includeCounts.resize(fileIndex + 1, 0);
        if (g_includeCounts[fileIndex] < 1) g_includeCounts[fileIndex] = 1;
    }
    return readFile(fullPath, fileIndex, fullPath, u16view(), 0);
}

const std::vector<SString>& startFunctionNames() { return g_startFunctions; }

const std::vector<SString>& carriedDirectives() { return g_carried; }

void applyCompiledDirective(u16view text) {
    ScriptStore& st = scriptStore();
    if (startsWithNoCase(text, "#notrayicon")) st.noTrayIcon = 1;
    else if (startsWithNoCase(text, "#requireadmin")) st.requireAdmin = 1;
    else if (startsWithNoCase(text, "#OnTarvexStartRegister")) registerStartFunction(text.substr(22));
}

const std::vector<SString>& includeDirectories() {
    static const std::vector<SString> dirs = buildIncludeDirectories();
    return dirs;
}

}  // namespace tx
