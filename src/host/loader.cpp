// Script loading: compiled containers and plain-text script files.
//
// This is the simple text reader: it decodes the file (byte-order marks for UTF-16 LE/BE and UTF-8,
// UTF-8 without a mark when the bytes are valid UTF-8, otherwise the ANSI code page), cuts it into lines,
// strips comments outside string literals, joins continuation lines (" _" at the end) and stores the
// non-empty lines with their line numbers.
#include <windows.h>

#include <string>

#include "core/errors.h"
#include "core/platform.h"
#include "core/script_store.h"
#include "host/hooks.h"

namespace tx {

namespace {

bool readWholeFile(const SString& path, std::string& bytes) {
    HANDLE h = CreateFileW(reinterpret_cast<LPCWSTR>(path.c_str()), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size{};
    bool ok = GetFileSizeEx(h, &size) && size.QuadPart < 0x40000000;
    if (ok) {
        bytes.resize(static_cast<size_t>(size.QuadPart));
        DWORD got = 0;
        ok = bytes.empty() || (ReadFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) &&
                               got == bytes.size());
    }
    CloseHandle(h);
    return ok;
}

bool validUtf8(const std::string& s) {
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        size_t n = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : 9;
        if (n == 9 || i + n >= s.size() + (n == 0 ? 1 : 0)) {
            if (n != 0) return false;
        }
        for (size_t k = 1; k <= n; ++k)
            if (i + k >= s.size() || (static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += n + 1;
    }
    return true;
}

std::u16string decode(const std::string& b) {
    if (b.size() >= 2 && static_cast<unsigned char>(b[0]) == 0xFF && static_cast<unsigned char>(b[1]) == 0xFE) {
        std::u16string w((b.size() - 2) / 2, u'\0');
        for (size_t i = 0; i < w.size(); ++i)
            w[i] = static_cast<char16_t>(static_cast<unsigned char>(b[2 + 2 * i]) |
                                         (static_cast<unsigned char>(b[3 + 2 * i]) << 8));
        return w;
    }
    if (b.size() >= 2 && static_cast<unsigned char>(b[0]) == 0xFE && static_cast<unsigned char>(b[1]) == 0xFF) {
        std::u16string w((b.size() - 2) / 2, u'\0');
        for (size_t i = 0; i < w.size(); ++i)
            w[i] = static_cast<char16_t>((static_cast<unsigned char>(b[2 + 2 * i]) << 8) |
                                         static_cast<unsigned char>(b[3 + 2 * i]));
        return w;
    }
    if (b.size() >= 3 && b.compare(0, 3, "\xEF\xBB\xBF") == 0) return utf8ToUtf16(std::string_view(b).substr(3));
    if (validUtf8(b)) return utf8ToUtf16(b);
    SString a = platform::fromAnsi(b.data(), b.size());
    return std::u16string(a.view());
}

// Cuts a comment (";" outside string literals) and trims spaces and tabs.
std::u16string cleanLine(std::u16string_view l) {
    char16_t quote = 0;
    size_t end = l.size();
    for (size_t i = 0; i < l.size(); ++i) {
        char16_t c = l[i];
        if (quote) {
            if (c == quote) quote = 0;
        } else if (c == u'"' || c == u'\'') {
            quote = c;
        } else if (c == u';') {
            end = i;
            break;
        }
    }
    size_t a = 0;
    while (a < end && (l[a] == u' ' || l[a] == u'\t')) ++a;
    while (end > a && (l[end - 1] == u' ' || l[end - 1] == u'\t')) --end;
    return std::u16string(l.substr(a, end - a));
}

}  // namespace

bool containerForbidsCommandLine(const SString&) { return false; }

bool loadScript(const SString& path, int fileIndex, SourceMode& mode) {
    ScriptStore& store = scriptStore();
    if (mode == SourceMode::Compiled) {
        reportLoadError();
        return false;
    }
    std::string bytes;
    if (!readWholeFile(path, bytes)) {
        reportLoadError();
        return false;
    }
    mode = SourceMode::Text;
    std::u16string text = decode(bytes);
    std::u16string pending;
    int pendingLine = 0;
    size_t pos = 0;
    int lineNo = 0;
    while (pos <= text.size()) {
        size_t e = pos;
        while (e < text.size() && text[e] != u'\r' && text[e] != u'\n') ++e;
        ++lineNo;
        std::u16string line = cleanLine(std::u16string_view(text).substr(pos, e - pos));
        if (e < text.size() && text[e] == u'\r' && e + 1 < text.size() && text[e + 1] == u'\n') ++e;
        pos = e + 1;
        if (pending.empty()) pendingLine = lineNo;
        if (line.size() >= 2 && line.back() == u'_' && (line[line.size() - 2] == u' ' || line[line.size() - 2] == u'\t')) {
            line.pop_back();
            pending += line;
            continue;
        }
        pending += line;
        std::u16string_view v = pending;
        if (!v.empty() && v[0] == u'#') {
            if (equalsNoCaseAscii(v, "#NOTRAYICON")) store.noTrayIcon = 1;
            else if (equalsNoCaseAscii(v, "#REQUIREADMIN")) store.requireAdmin = 1;
        } else if (!v.empty()) {
            store.addLine(SString(v), pendingLine, fileIndex);
        }
        pending.clear();
        if (e >= text.size()) break;
    }
    return true;
}

}  // namespace tx
