// qx3compile: the script compiler. Reads a script with the runtime's own preprocessor and lexer, turns
// its token lines into a token stream, compresses and scrambles it into a container, and writes either
// the container alone (.qxc, run with /Tarvex3ExecuteScript) or a standalone executable: a copy of the
// runtime with the container appended.
//
//   qx3compile [/runtime RUNTIME.exe] SCRIPT [OUTPUT]
//
// OUTPUT defaults to the script's name with ".exe"; an OUTPUT ending in ".qxc" is written as a container
// file. #NoTarvex3Execute adds the entry that makes the executable refuse /Tarvex3ExecuteLine and
// /Tarvex3ExecuteScript; every FILEINSTALL whose source is a string literal embeds that file, found
// relative to the main script's directory, as an entry named by the literal.
//
// Exit codes: 0 written; 1 the script has errors (reported on standard output in the runtime's
// /ErrorStdOut form); 2 bad command line; 3 an input file (script, runtime, installed file) cannot be
// read; 4 the output cannot be written.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "core/builtins.h"
#include "core/errors.h"
#include "core/platform.h"
#include "core/script_store.h"
#include "host/container_format.h"
#include "host/file_io.h"
#include "host/lexer.h"
#include "host/preprocess.h"
#include "host/token_stream.h"

using namespace tx;

namespace {

enum Exit { ExitOk = 0, ExitScript = 1, ExitUsage = 2, ExitInput = 3, ExitOutput = 4 };

void say(const std::u16string& text) {
    std::string a = platform::toAnsi(text);
    a += "\r\n";
    HANDLE h = GetStdHandle(STD_ERROR_HANDLE);
    DWORD put = 0;
    if (h && h != INVALID_HANDLE_VALUE) WriteFile(h, a.data(), static_cast<DWORD>(a.size()), &put, nullptr);
}

int fail(int code, const char* what, const SString& path) {
    std::u16string t = u"qx3compile: ";
    for (const char* p = what; *p; ++p) t.push_back(static_cast<unsigned char>(*p));
    if (!path.empty()) {
        t += u" \"";
        t += path.view();
        t += u"\"";
    }
    say(t);
    return code;
}

int usage() {
    say(u"usage: qx3compile [/runtime RUNTIME.exe] SCRIPT [OUTPUT]\r\n"
        u"  OUTPUT defaults to SCRIPT with the extension .exe; an OUTPUT ending in .qxc is written as a\r\n"
        u"  compiled-script file for tarvex3.exe /Tarvex3ExecuteScript instead of an executable.\r\n"
        u"  /runtime names the runtime to copy (default: tarvex3.exe beside qx3compile.exe).");
    return ExitUsage;
}

bool endsWithNoCase(u16view s, const char* suffix) {
    size_t n = std::char_traits<char>::length(suffix);
    if (s.size() < n) return false;
    for (size_t i = 0; i < n; ++i)
        if (asciiUpper(s[s.size() - n + i]) != asciiUpper(static_cast<unsigned char>(suffix[i]))) return false;
    return true;
}

SString withExtension(const SString& path, const char* ext) {
    u16view v = path.view();
    size_t dot = v.find_last_of(u'.');
    size_t slash = v.find_last_of(u"\\/");
    if (dot != u16view::npos && (slash == u16view::npos || dot > slash)) v = v.substr(0, dot);
    SString s(v);
    s.appendLatin1(ext);
    return s;
}

qx::FileTimes timesOf(const SString& path) {
    qx::FileTimes t;
    WIN32_FILE_ATTRIBUTE_DATA a;
    if (GetFileAttributesExW(fio::wz(path), GetFileExInfoStandard, &a)) {
        t.creation = uint64_t(a.ftCreationTime.dwHighDateTime) << 32 | a.ftCreationTime.dwLowDateTime;
        t.lastWrite = uint64_t(a.ftLastWriteTime.dwHighDateTime) << 32 | a.ftLastWriteTime.dwLowDateTime;
    }
    return t;
}

bool sameFile(const SString& a, const SString& b) {
    return platform::compareLocale(fio::fullPath(a).view(), fio::fullPath(b).view(), true) == 0;
}

// The string literals given as FILEINSTALL's source, each once, in the order met.
std::vector<SString> installedNames() {
    std::vector<SString> names;
    int fileInstall = findBuiltin(u"FILEINSTALL");
    if (fileInstall < 0) return names;
    const ScriptStore& st = scriptStore();
    for (size_t i = 1; i < st.tokenLines.size(); ++i) {
        const TokenLine& l = st.tokenLines[i];
        for (size_t j = 0; j < l.size(); ++j) {
            if (!(l[j].is(tok::Builtin) && l[j].num.i32 == fileInstall)) continue;
            size_t k = j + 1;
            if (k < l.size() && l[k].is(tok::LParen)) ++k;
            if (!(k + 1 < l.size() && l[k].is(tok::String) && (l[k + 1].is(tok::Comma) || l[k + 1].is(tok::RParen))))
                continue;
            const SString& name = l[k].str;
            // The script's own entry names are not files (FILEINSTALL ignores the script entry's name).
            if (name == u16view(qx::kScriptEntry) || name == u16view(qx::kNoCmdExecuteEntry)) continue;
            if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
        }
    }
    return names;
}

// Stores data compressed when that makes it smaller.
void addFileEntry(std::vector<uint8_t>& out, u16view name, u16view path, const std::vector<uint8_t>& data,
                  const qx::FileTimes& times) {
    std::vector<uint8_t> packed = qx::compress(data.data(), data.size());
    bool compressed = packed.size() < data.size();
    qx::writeEntry(out, name, path, compressed ? packed : data, compressed, static_cast<uint32_t>(data.size()), times);
}

bool holdsContainer(const std::vector<uint8_t>& image) {
    uint8_t pattern[qx::kHeadLength];
    qx::headPattern(pattern);
    return std::search(image.begin(), image.end(), pattern, pattern + qx::kHeadLength) != image.end();
}

constexpr uint64_t kMaxInstalledFile = 0x7FFFFFFF;

int compile(int argc, wchar_t** argv) {
    SString runtime, scriptArg, outputArg;
    for (int i = 1; i < argc; ++i) {
        SString a(reinterpret_cast<const char16_t*>(argv[i]));
        if (equalsNoCaseAscii(a.view(), "/RUNTIME")) {
            if (++i >= argc) return usage();
            runtime = SString(reinterpret_cast<const char16_t*>(argv[i]));
        } else if (equalsNoCaseAscii(a.view(), "/?") || equalsNoCaseAscii(a.view(), "/HELP")) {
            return usage();
        } else if (scriptArg.empty()) {
            scriptArg = a;
        } else if (outputArg.empty()) {
            outputArg = a;
        } else {
            return usage();
        }
    }
    if (scriptArg.empty()) return usage();

    SString script = fio::fullPath(scriptArg);
    SString output = fio::fullPath(outputArg.empty() ? withExtension(script, ".exe") : outputArg);
    bool containerOnly = endsWithNoCase(output.view(), ".qxc");
    if (!containerOnly && runtime.empty()) {
        runtime = fio::directoryOf(fio::modulePath());
        runtime.appendLatin1("\\tarvex3.exe");
    }
    if (sameFile(output, script) || (!containerOnly && sameFile(output, runtime)))
        return fail(ExitUsage, "the output would overwrite its own input:", output);
    DWORD attr = GetFileAttributesW(fio::wz(script));
    if (attr == INVALID_FILE_ATTRIBUTES || (attr & FILE_ATTRIBUTE_DIRECTORY))
        return fail(ExitInput, "cannot open the script", script);

    // Read and tokenise the script exactly as the runtime would; errors are reported on standard output.
    ScriptStore& store = scriptStore();
    store.errorToStdout = 1;
    runState().errorToStdout = 1;
    runState().scriptFullPath = script;
    int index = store.addFile(script);
    if (!readScriptFile(script, index)) return ExitScript;
    if (store.lineCount() == 0) return fail(ExitScript, "the script has no lines to run:", script);
    if (!tokeniseAll()) return ExitScript;

    std::vector<uint8_t> stream = encodeTokenStream(store.tokenLines, carriedDirectives());
    std::vector<uint8_t> container;
    qx::writeHead(container);
    qx::writeEntry(container, qx::kScriptEntry, script.view(), qx::compress(stream.data(), stream.size()), true,
                   static_cast<uint32_t>(stream.size()), timesOf(script));
    if (store.noExecute) qx::writeEntry(container, qx::kNoCmdExecuteEntry, u16view(), {}, false, 0, qx::FileTimes{});

    // Installed files resolve against the main script's directory.
    SetCurrentDirectoryW(fio::wz(fio::directoryOf(script)));
    for (const SString& name : installedNames()) {
        SString source = fio::fullPath(name);
        std::vector<uint8_t> data;
        if (!fio::readWholeFile(source, data, kMaxInstalledFile))
            return fail(ExitInput, "cannot read the file to install", source);
        addFileEntry(container, name.view(), source.view(), data, timesOf(source));
    }

    std::vector<uint8_t> image;
    if (!containerOnly) {
        if (!fio::readWholeFile(runtime, image)) return fail(ExitInput, "cannot read the runtime", runtime);
        if (holdsContainer(image)) return fail(ExitInput, "the runtime already carries a compiled script:", runtime);
    }
    image.insert(image.end(), container.begin(), container.end());
    if (!fio::writeWholeFile(output, image)) return fail(ExitOutput, "cannot write", output);
    return ExitOk;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    try {
        return compile(argc, argv);
    } catch (const std::bad_alloc&) {
        say(u"qx3compile: out of memory");
        return ExitInput;
    }
}
