// Command-line splitting and option recognition.
#include "host/cmdline.h"

namespace tx {

std::vector<SString> splitCommandLine(u16view s) {
    constexpr size_t kMaxArg = 4096;
    std::vector<SString> out;
    std::u16string arg;
    size_t i = 0;
    auto skipBlanks = [&] {
        while (i < s.size() && (s[i] == u' ' || s[i] == u'\t')) ++i;
    };
    skipBlanks();
    bool inQuotes = false;
    bool emptyQuoted = false;
    size_t quotePos = 0;
    while (i < s.size()) {
        if (arg.size() >= kMaxArg) break;
        char16_t c = s[i];
        if ((c == u' ' || c == u'\t') && !inQuotes) {
            out.emplace_back(u16view(arg));
            arg.clear();
            emptyQuoted = false;
            skipBlanks();
            continue;
        }
        if (c == u'"') {
            if (i + 1 < s.size() && s[i + 1] == u'"') {
                if (inQuotes) arg.push_back(u'"');
                else emptyQuoted = true;
                i += 2;
                continue;
            }
            inQuotes = !inQuotes;
            if (inQuotes) quotePos = arg.size();
            ++i;
            continue;
        }
        arg.push_back(c);
        ++i;
    }
    if (arg.empty() && !emptyQuoted && !inQuotes) return out;
    if (inQuotes) arg.insert(arg.begin() + static_cast<std::ptrdiff_t>(quotePos), u'"');
    out.emplace_back(u16view(arg));
    return out;
}

CommandLine parseCommandLine(const std::vector<SString>& words, const SString& exePath, bool forbid) {
    CommandLine cl;
    cl.scriptPath = exePath;
    size_t k = 0;
    auto front = [&](const char* opt) { return k < words.size() && equalsNoCaseAscii(words[k].view(), opt); };
    auto next = [&]() { return k < words.size() ? words[k] : SString(); };
    if (front("/ERRORSTDOUT")) {
        cl.errorToStdout = true;
        ++k;
    }
    if (front("/TARVEX3OUTPUTDEBUG")) {
        cl.debugOutput = true;
        ++k;
    }
    if (front("/TARVEX3EXECUTELINE")) {
        cl.mode = forbid ? SourceMode::Refused : SourceMode::Line;
        cl.noTrayIcon = true;
        cl.scriptPath = exePath;
        ++k;
        cl.lineText = next();
        ++k;
    }
    if (front("/TARVEX3EXECUTESCRIPT")) {
        cl.mode = forbid ? SourceMode::Refused : SourceMode::ScriptFile;
        ++k;
        cl.scriptPath = next();
        ++k;
    }
    if (cl.scriptPath.empty() && k < words.size()) {
        cl.scriptPath = words[k];
        ++k;
    }
    for (; k < words.size(); ++k) cl.args.push_back(words[k]);
    return cl;
}

}  // namespace tx
