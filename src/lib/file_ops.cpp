// Built-ins over file paths and patterns: copy, move and delete with wildcards, existence, size,
// attributes, time stamps, short and long names and the current directory.
//
// Copy and move list the source pattern's files first and then work through the list, so a destination
// inside the searched directory is never picked up again. An existing destination is only replaced when
// the script asked for it, and then by the platform's own replacing copy or move: the old file stays in
// place until the new one is complete, so a failed copy never costs the destination it was meant to
// replace. Attribute and time changes walk a directory (and, when asked, its subdirectories) with full
// paths; the process's current directory is left alone.
#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/engine.h"
#include "lib/file_paths.h"
#include "lib/files.h"

namespace tx {

namespace {

using fs::W;

// A path argument; "" (no file) for a name with a NUL in it.
std::u16string argPath(Args& a, int i) {
    u16view p = a.str(i).view();
    return fs::hasNul(p) ? std::u16string() : std::u16string(p);
}

// A path that names a directory stands for all the files in it.
std::u16string expandDirectory(std::u16string p) {
    if (fs::isDirectory(p)) return fs::joinPath(p, u"*.*");
    return p;
}

// Splits a file name at its last dot into name and extension (the extension without its dot).
void splitExtension(std::u16string_view file, std::u16string_view& name, std::u16string_view& ext, bool& hasDot) {
    size_t dot = file.rfind(u'.');
    hasDot = dot != std::u16string_view::npos;
    name = hasDot ? file.substr(0, dot) : file;
    ext = hasDot ? file.substr(dot + 1) : std::u16string_view();
}

// One part (name or extension) of a wildcard destination: the text before the first "*", the source's
// part in its place, then the rest with any further "*" dropped. A part without "*" stands as it is.
std::u16string buildPart(std::u16string_view dest, std::u16string_view source) {
    size_t star = dest.find(u'*');
    if (star == std::u16string_view::npos) return std::u16string(dest);
    std::u16string r(dest.substr(0, star));
    r += source;
    for (char16_t c : dest.substr(star + 1))
        if (c != u'*') r += c;
    return r;
}

// The destination file name for one source file under a destination pattern.
std::u16string destinationName(std::u16string_view destPattern, std::u16string_view sourceFile) {
    std::u16string_view destFile = fs::namePart(destPattern);
    if (destFile.find(u'*') == std::u16string_view::npos) return std::u16string(destFile);
    std::u16string_view dn, de, sn, se;
    bool dDot, sDot;
    splitExtension(destFile, dn, de, dDot);
    splitExtension(sourceFile, sn, se, sDot);
    std::u16string name = buildPart(dn, sn);
    std::u16string ext = dDot ? buildPart(de, se) : std::u16string();
    if (ext.empty()) ext = se;
    if (!ext.empty()) {
        name += u'.';
        name += ext;
    }
    return name;
}

// A replacing copy that the system refused because the destination is hidden or a system file (a file
// that could simply be deleted first): clears those two attributes and copies again. A read-only
// destination stays refused. The attributes come back when the second copy fails as well.
bool copyOverHidden(const std::u16string& from, const std::u16string& to) {
    const DWORD blocking = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    DWORD attr = fs::attributesOf(to);
    if (attr == INVALID_FILE_ATTRIBUTES || !(attr & blocking) || (attr & FILE_ATTRIBUTE_READONLY)) return false;
    DWORD cleared = attr & ~blocking;
    if (!SetFileAttributesW(W(to.c_str()), cleared ? cleared : FILE_ATTRIBUTE_NORMAL)) return false;
    if (CopyFileW(W(from.c_str()), W(to.c_str()), FALSE)) return true;
    SetFileAttributesW(W(to.c_str()), attr);
    return false;
}

// FILECOPY and FILEMOVE: flags 1 overwrite, 8 create the destination directory.
int copyOrMove(Args& a, Variant& r, bool move) {
    int32_t flags = a.int32Or(2, 0);
    bool overwrite = flags & 1;
    std::u16string src = fs::fullPath(argPath(a, 0));
    std::u16string dst = fs::fullPath(argPath(a, 1));
    r.setInt32(0);
    if (src.empty() || dst.empty()) return 0;
    if ((flags & 8) && !fs::createParentDirectories(dst)) return 0;
    src = expandDirectory(src);
    dst = expandDirectory(dst);
    std::u16string_view srcDir = fs::dirPart(src);
    std::u16string_view dstDir = fs::dirPart(dst);

    int handled = 0;
    for (const WIN32_FIND_DATAW& fd : fs::matchEntries(src)) {
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        std::u16string_view name(fs::U(fd.cFileName));
        std::u16string from = fs::joinPath(srcDir, name);
        std::u16string to = fs::joinPath(dstDir, destinationName(dst, name));
        bool exists = fs::attributesOf(to) != INVALID_FILE_ATTRIBUTES;
        if (exists && !overwrite) return 0;
        bool ok;
        if (exists && fs::sameNoCase(from, to)) {
            // The same file: only the case of its name can change.
            ok = fs::renameCase(from, to);
        } else if (move) {
            ok = MoveFileExW(W(from.c_str()), W(to.c_str()),
                             MOVEFILE_COPY_ALLOWED | (overwrite ? MOVEFILE_REPLACE_EXISTING : 0));
        } else {
            ok = CopyFileW(W(from.c_str()), W(to.c_str()), !overwrite);
            if (!ok && exists) ok = copyOverHidden(from, to);
        }
        if (!ok) return 0;
        ++handled;
    }
    if (handled) r.setInt32(1);
    return 0;
}

// Attribute letters in the order FILEGETATTRIB writes them.
struct AttributeLetter {
    char16_t letter;
    DWORD bit;
    bool settable;
};
constexpr AttributeLetter kAttributeLetters[] = {
    {u'R', FILE_ATTRIBUTE_READONLY, true},   {u'A', FILE_ATTRIBUTE_ARCHIVE, true},
    {u'S', FILE_ATTRIBUTE_SYSTEM, true},     {u'H', FILE_ATTRIBUTE_HIDDEN, true},
    {u'N', FILE_ATTRIBUTE_NORMAL, true},     {u'D', FILE_ATTRIBUTE_DIRECTORY, false},
    {u'O', FILE_ATTRIBUTE_OFFLINE, true},    {u'C', FILE_ATTRIBUTE_COMPRESSED, false},
    {u'T', FILE_ATTRIBUTE_TEMPORARY, true},
};

// Applies change to every entry a pattern names, as FILESETATTRIB and FILESETTIME do: a path naming a
// directory changes the directory itself and, with recurse, everything in it; otherwise the last part of
// the path is a pattern matched in its directory and, with recurse, in every directory below it. The
// result is 0 when a change failed or, without recurse, when nothing matched.
template <class Change>
int32_t applyToPattern(const std::u16string& pattern, bool recurse, Change change) {
    std::u16string path = fs::fullPath(pattern);
    if (path.empty()) return 0;
    bool failed = false, matched = false;

    auto walk = [&](auto& self, const std::u16string& dir, std::u16string_view pat) -> void {
        for (const WIN32_FIND_DATAW& fd : fs::matchEntries(fs::joinPath(dir, pat))) {
            matched = true;
            if (!change(fs::joinPath(dir, fs::U(fd.cFileName)))) failed = true;
        }
        if (!recurse) return;
        for (const WIN32_FIND_DATAW& fd : fs::matchEntries(fs::joinPath(dir, u"*"))) {
            // Links to directories are not followed, so a link cycle cannot trap the walk.
            if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                self(self, fs::joinPath(dir, fs::U(fd.cFileName)), pat);
        }
    };

    std::u16string_view last = fs::namePart(path);
    if (!fs::hasWildcard(last) && fs::isDirectory(path)) {
        matched = true;
        if (!change(path)) failed = true;
        if (recurse) walk(walk, path, u"*.*");
    } else {
        walk(walk, std::u16string(fs::dirPart(path)), last);
    }
    if (failed || (!recurse && !matched)) return 0;
    return 1;
}

// Which time stamp: 0 last write, 1 creation, 2 last access.
FILETIME* pickTime(WIN32_FILE_ATTRIBUTE_DATA& d, int32_t which) {
    if (which == 1) return &d.ftCreationTime;
    if (which == 2) return &d.ftLastAccessTime;
    return &d.ftLastWriteTime;
}

// Reads "YYYY[MM[DD[hh[mm[ss]]]]]" over the current local time. False for a malformed string.
bool parseTimeString(u16view s, SYSTEMTIME& st) {
    GetLocalTime(&st);
    if (s.empty()) return true;
    if (s.size() < 4) return false;
    auto digits = [&](size_t at, size_t n, WORD& out) {
        int v = 0;
        for (size_t i = at; i < at + n; ++i) {
            if (!isAsciiDigit(s[i])) return false;
            v = v * 10 + (s[i] - u'0');
        }
        out = static_cast<WORD>(v);
        return true;
    };
    if (!digits(0, 4, st.wYear)) return false;
    WORD* fields[] = {&st.wMonth, &st.wDay, &st.wHour, &st.wMinute, &st.wSecond};
    size_t at = 4;
    for (int i = 0; i < 5 && at + 2 <= s.size(); ++i, at += 2) {
        if (!digits(at, 2, *fields[i])) return false;
        if (i == 4) st.wMilliseconds = 0;
    }
    return true;
}

std::u16string argPathMaybeFull(Args& a) {
    std::u16string p = argPath(a, 0);
    return a.int32Or(1, 0) == 1 ? fs::fullPath(p) : p;
}

}  // namespace

std::u16string wildcardDestinationName(std::u16string_view destPattern, std::u16string_view sourceFile) {
    return destinationName(destPattern, sourceFile);
}

int bi_FILECOPY(Engine&, Args& a, Variant& r) { return copyOrMove(a, r, false); }
int bi_FILEMOVE(Engine&, Args& a, Variant& r) { return copyOrMove(a, r, true); }

int bi_FILEDELETE(Engine& e, Args& a, Variant& r) {
    std::u16string pattern = fs::fullPath(argPath(a, 0));
    r.setInt32(0);
    if (pattern.empty()) {
        e.setExtended(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    pattern = expandDirectory(pattern);
    std::vector<WIN32_FIND_DATAW> entries = fs::matchEntries(pattern);
    DWORD lastError = GetLastError();
    std::u16string_view dir = fs::dirPart(pattern);
    int deleted = 0;
    for (const WIN32_FIND_DATAW& fd : entries) {
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        if (!DeleteFileW(W(fs::joinPath(dir, fs::U(fd.cFileName)).c_str()))) {
            e.setExtended(static_cast<int32_t>(GetLastError()));
            return 0;
        }
        ++deleted;
    }
    if (deleted) r.setInt32(1);
    else e.setExtended(static_cast<int32_t>(entries.empty() ? lastError : ERROR_FILE_NOT_FOUND));
    return 0;
}

int bi_FILEEXISTS(Engine&, Args& a, Variant& r) {
    std::u16string p = argPath(a, 0);
    bool found = !p.empty() && fs::attributesOf(p) != INVALID_FILE_ATTRIBUTES;
    if (!found && !p.empty()) {
        WIN32_FIND_DATAW fd;
        fs::FindHandle h(FindFirstFileW(W(p.c_str()), &fd));
        found = h.valid();
    }
    r.setInt32(found ? 1 : 0);
    return 0;
}

int bi_FILEGETSIZE(Engine& e, Args& a, Variant& r) {
    WIN32_FILE_ATTRIBUTE_DATA d;
    if (!fs::firstEntry(argPath(a, 0), d)) {
        r.setInt32(0);
        e.setError(1);
        return 0;
    }
    r.setInt64(static_cast<int64_t>((static_cast<uint64_t>(d.nFileSizeHigh) << 32) | d.nFileSizeLow));
    return 0;
}

int bi_FILEGETATTRIB(Engine& e, Args& a, Variant& r) {
    WIN32_FILE_ATTRIBUTE_DATA d;
    if (!fs::firstEntry(argPath(a, 0), d)) {
        r.setString(SString());
        e.setError(1);
        return 0;
    }
    char16_t letters[16];
    size_t n = 0;
    for (const AttributeLetter& l : kAttributeLetters)
        if (d.dwFileAttributes & l.bit) letters[n++] = l.letter;
    r.setString(SString(letters, n));
    return 0;
}

int bi_FILESETATTRIB(Engine&, Args& a, Variant& r) {
    DWORD add = 0, remove = 0;
    bool adding = true;
    for (char16_t c : a.str(1).view()) {
        if (c == u'+') { adding = true; continue; }
        if (c == u'-') { adding = false; continue; }
        char16_t up = asciiUpper(c);
        const AttributeLetter* found = nullptr;
        for (const AttributeLetter& l : kAttributeLetters)
            if (l.letter == up && l.settable) found = &l;
        if (!found) {
            r.setInt32(0);
            return 0;
        }
        (adding ? add : remove) |= found->bit;
    }
    const DWORD settable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                           FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_OFFLINE |
                           FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    auto change = [&](const std::u16string& p) {
        DWORD old = fs::attributesOf(p);
        if (old == INVALID_FILE_ATTRIBUTES) return false;
        DWORD now = ((old | add) & ~remove) & settable;
        // "Normal" only means something on its own.
        if (now & ~FILE_ATTRIBUTE_NORMAL) now &= ~FILE_ATTRIBUTE_NORMAL;
        if (now == 0) now = FILE_ATTRIBUTE_NORMAL;
        return SetFileAttributesW(W(p.c_str()), now) != 0;
    };
    r.setInt32(applyToPattern(argPath(a, 0), a.int32Or(2, 0) == 1, change));
    return 0;
}

int bi_FILEGETTIME(Engine& e, Args& a, Variant& r) {
    WIN32_FILE_ATTRIBUTE_DATA d;
    FILETIME local;
    SYSTEMTIME st;
    if (!fs::firstEntry(argPath(a, 0), d) || !FileTimeToLocalFileTime(pickTime(d, a.int32Or(1, 0)), &local) ||
        !FileTimeToSystemTime(&local, &st)) {
        r.setString(SString());
        e.setError(1);
        return 0;
    }
    if (a.int32Or(2, 0) == 1) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%4d%02d%02d%02d%02d%02d", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute,
                      st.wSecond);
        r.setString(SString::fromLatin1(buf));
        return 0;
    }
    const int values[6] = {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
    uint32_t size = 6;
    ArrayData* arr = ArrayData::create(&size, 1);
    for (int i = 0; i < 6; ++i) {
        char buf[8];
        std::snprintf(buf, sizeof buf, i == 0 ? "%04d" : "%02d", values[i]);
        arr->at(static_cast<uint32_t>(i)) = Variant::string(SString::fromLatin1(buf));
    }
    r = Variant::array(arr);
    return 0;
}

int bi_FILESETTIME(Engine&, Args& a, Variant& r) {
    SYSTEMTIME st;
    FILETIME local, ft;
    if (!parseTimeString(a.str(1).view(), st) || !SystemTimeToFileTime(&st, &local) ||
        !LocalFileTimeToFileTime(&local, &ft)) {
        r.setInt32(0);
        return 0;
    }
    int32_t which = a.int32Or(2, 0);
    if (which != 1 && which != 2) which = 0;
    auto change = [&](const std::u16string& p) {
        fs::FileHandle h(CreateFileW(W(p.c_str()), FILE_WRITE_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!h.valid()) return false;
        return SetFileTime(h.get(), which == 1 ? &ft : nullptr, which == 2 ? &ft : nullptr,
                           which == 0 ? &ft : nullptr) != 0;
    };
    r.setInt32(applyToPattern(argPath(a, 0), a.int32Or(3, 0) == 1, change));
    return 0;
}

int bi_FILEGETSHORTNAME(Engine& e, Args& a, Variant& r) {
    std::u16string p = argPathMaybeFull(a);
    std::u16string out(MAX_PATH, u'\0');
    DWORD n = p.empty() ? 0 : GetShortPathNameW(W(p.c_str()), W(out.data()), static_cast<DWORD>(out.size()));
    if (n >= out.size()) {
        out.assign(n + 1, u'\0');
        n = GetShortPathNameW(W(p.c_str()), W(out.data()), static_cast<DWORD>(out.size()));
    }
    if (n == 0 || n >= out.size()) {
        r.setString(a.str(0));
        e.setError(1);
        return 0;
    }
    r.setString(SString(out.data(), n));
    return 0;
}

int bi_FILEGETLONGNAME(Engine& e, Args& a, Variant& r) {
    std::u16string p = argPathMaybeFull(a);
    IShellFolder* desktop = nullptr;
    PIDLIST_RELATIVE pidl = nullptr;
    wchar_t out[MAX_PATH * 4];
    bool ok = !p.empty() && SUCCEEDED(SHGetDesktopFolder(&desktop));
    if (ok) {
        ok = SUCCEEDED(desktop->ParseDisplayName(nullptr, nullptr, const_cast<LPWSTR>(W(p.c_str())), nullptr, &pidl,
                                                 nullptr));
        desktop->Release();
    }
    if (ok) {
        ok = SHGetPathFromIDListEx(reinterpret_cast<PCIDLIST_ABSOLUTE>(pidl), out, MAX_PATH * 4, GPFIDL_DEFAULT);
        CoTaskMemFree(pidl);
    }
    if (!ok) {
        r.setString(a.str(0));
        e.setError(1);
        return 0;
    }
    r.setString(SString(fs::U(out)));
    return 0;
}

int bi_FILECHANGEDIR(Engine&, Args& a, Variant& r) {
    std::u16string p = argPath(a, 0);
    if (p.empty() || !SetCurrentDirectoryW(W(p.c_str()))) r.setInt32(0);
    return 0;
}

}  // namespace tx
