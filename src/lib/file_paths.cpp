// Path and pattern helpers for the file and directory built-ins: absolute paths, splitting, matching
// entries and creating directory trees.
#include "lib/file_paths.h"

namespace tx::fs {

std::u16string fullPath(std::u16string_view p) {
    if (hasNul(p)) return std::u16string();  // names nothing (see hasNul)
    std::u16string in(p);
    if (in.empty()) return in;
    std::u16string out(MAX_PATH, u'\0');
    for (;;) {
        DWORD n = GetFullPathNameW(W(in.c_str()), static_cast<DWORD>(out.size()), W(out.data()), nullptr);
        if (n == 0) return in;
        if (n < out.size()) {
            out.resize(n);
            return out;
        }
        out.assign(n + 1, u'\0');
    }
}

size_t lastSep(std::u16string_view p) { return p.find_last_of(u"\\/"); }

std::u16string_view dirPart(std::u16string_view p) {
    size_t s = lastSep(p);
    return s == std::u16string_view::npos ? std::u16string_view() : p.substr(0, s);
}

std::u16string_view namePart(std::u16string_view p) {
    size_t s = lastSep(p);
    return s == std::u16string_view::npos ? p : p.substr(s + 1);
}

std::u16string joinPath(std::u16string_view a, std::u16string_view b) {
    std::u16string r(a);
    if (!r.empty() && !isSep(r.back())) r += u'\\';
    r += b;
    return r;
}

bool sameNoCase(std::u16string_view a, std::u16string_view b) {
    return CompareStringOrdinal(W(a.data()), static_cast<int>(a.size()), W(b.data()), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

DWORD attributesOf(const std::u16string& p) { return GetFileAttributesW(W(p.c_str())); }

bool isDirectory(const std::u16string& p) {
    DWORD a = attributesOf(p);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

std::vector<WIN32_FIND_DATAW> matchEntries(const std::u16string& pattern) {
    std::vector<WIN32_FIND_DATAW> out;
    WIN32_FIND_DATAW fd;
    FindHandle h(FindFirstFileW(W(pattern.c_str()), &fd));
    if (!h.valid()) return out;
    do {
        if (!isDotEntry(fd.cFileName)) out.push_back(fd);
    } while (FindNextFileW(h.get(), &fd));
    if (out.empty()) SetLastError(ERROR_FILE_NOT_FOUND);
    return out;
}

bool firstEntry(const std::u16string& p, WIN32_FILE_ATTRIBUTE_DATA& out) {
    if (!hasWildcard(p) && GetFileAttributesExW(W(p.c_str()), GetFileExInfoStandard, &out)) return true;
    WIN32_FIND_DATAW fd;
    FindHandle h(FindFirstFileW(W(p.c_str()), &fd));
    if (!h.valid()) return false;
    while (isDotEntry(fd.cFileName)) {
        if (!FindNextFileW(h.get(), &fd)) return false;
    }
    out.dwFileAttributes = fd.dwFileAttributes;
    out.ftCreationTime = fd.ftCreationTime;
    out.ftLastAccessTime = fd.ftLastAccessTime;
    out.ftLastWriteTime = fd.ftLastWriteTime;
    out.nFileSizeHigh = fd.nFileSizeHigh;
    out.nFileSizeLow = fd.nFileSizeLow;
    return true;
}

// The spelling of an entry's name as the file system keeps it.
static std::u16string storedName(const std::u16string& p) {
    WIN32_FIND_DATAW fd;
    FindHandle h(FindFirstFileW(W(p.c_str()), &fd));
    return h.valid() ? std::u16string(U(fd.cFileName)) : std::u16string();
}

bool renameCase(const std::u16string& from, const std::u16string& to) {
    if (from == to) return true;
    if (!MoveFileW(W(from.c_str()), W(to.c_str()))) return false;
    std::u16string_view wanted = namePart(to);
    if (storedName(to) == wanted) return true;
    std::u16string tmp;
    for (unsigned n = GetTickCount();; ++n) {
        tmp = from + u".~" + std::u16string(1, char16_t(u'a' + n % 26)) + std::u16string(1, char16_t(u'a' + (n / 26) % 26));
        if (attributesOf(tmp) == INVALID_FILE_ATTRIBUTES) break;
    }
    if (!MoveFileW(W(from.c_str()), W(tmp.c_str()))) return false;
    if (MoveFileW(W(tmp.c_str()), W(to.c_str()))) return true;
    MoveFileW(W(tmp.c_str()), W(from.c_str()));
    return false;
}

bool createDirectoryTree(std::u16string path) {
    while (path.size() > 1 && isSep(path.back())) path.pop_back();
    if (path.empty()) return false;
    DWORD a = attributesOf(path);
    if (a != INVALID_FILE_ATTRIBUTES) return (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (CreateDirectoryW(W(path.c_str()), nullptr)) return true;
    DWORD err = GetLastError();
    if (err == ERROR_ALREADY_EXISTS) return isDirectory(path);
    if (err != ERROR_PATH_NOT_FOUND && err != ERROR_FILE_NOT_FOUND) return false;
    // The parent is missing: make it first, then this level.
    size_t s = lastSep(path);
    if (s == std::u16string::npos || s == 0) return false;
    std::u16string parent = path.substr(0, s);
    if (parent == path || !createDirectoryTree(parent)) return false;
    return CreateDirectoryW(W(path.c_str()), nullptr) || isDirectory(path);
}

bool createParentDirectories(std::u16string_view filePath) {
    std::u16string_view d = dirPart(filePath);
    if (d.empty()) return true;
    // "C:" alone, or a root, needs nothing made.
    if (d.size() == 2 && d[1] == u':') return true;
    return createDirectoryTree(std::u16string(d));
}

}  // namespace tx::fs
