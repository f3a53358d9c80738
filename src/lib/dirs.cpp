// Directory built-ins: create, remove, copy, move and measure directory trees.
//
// Trees are walked here with the wide-character file functions rather than through the shell, so every
// step is checked and reported. Walks never descend through directory links (junctions, symbolic links):
// a remove deletes the link itself and leaves its target alone, a size count does not count a tree twice,
// and a link cycle cannot trap a walk. A copy never runs into its own destination, and a move that has to
// copy removes the source only after the whole copy succeeded. A drive root is never removed: no recursive
// remove empties a whole drive only to fail at its root.
//
// DIRGETSIZE can take long on a large tree, so its walk keeps the runtime responsive: it takes the waiting
// messages about every 10 ms, waits while the script is paused, and gives up when the script is stopping.
#include <windows.h>

#include <string>

#include "core/engine.h"
#include "core/errors.h"
#include "host/runloop.h"
#include "lib/file_paths.h"
#include "lib/files.h"

namespace tx {

namespace {

using fs::W;

bool isLinkDir(const WIN32_FIND_DATAW& fd) {
    return (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// The absolute form of a directory argument, without a trailing separator (a root keeps its own).
std::u16string dirArg(Args& a, int i) {
    std::u16string p = fs::fullPath(a.str(i).view());
    while (p.size() > 3 && fs::isSep(p.back())) p.pop_back();
    return p;
}

// A drive root ("C:\") or the root of a share ("\\server\share"), as dirArg gives them.
bool isRoot(const std::u16string& p) {
    if (p.size() <= 3 && p.size() >= 2 && p[1] == u':') return true;
    if (p.size() > 2 && fs::isSep(p[0]) && fs::isSep(p[1])) {
        size_t server = p.find_first_of(u"\\/", 2);
        if (server == std::u16string::npos) return true;
        size_t share = p.find_first_of(u"\\/", server + 1);
        return share == std::u16string::npos || share + 1 == p.size();
    }
    return false;
}

// Is inner the same as outer or somewhere below it?
bool isWithin(const std::u16string& inner, const std::u16string& outer) {
    if (inner.size() < outer.size()) return false;
    if (!fs::sameNoCase(std::u16string_view(inner).substr(0, outer.size()), outer)) return false;
    return inner.size() == outer.size() || fs::isSep(inner[outer.size()]) || fs::isSep(outer.back());
}

bool deleteFileForced(const std::u16string& p) {
    if (DeleteFileW(W(p.c_str()))) return true;
    DWORD attr = fs::attributesOf(p);
    if (attr == INVALID_FILE_ATTRIBUTES || !(attr & FILE_ATTRIBUTE_READONLY)) return false;
    SetFileAttributesW(W(p.c_str()), attr & ~FILE_ATTRIBUTE_READONLY);
    return DeleteFileW(W(p.c_str())) != 0;
}

bool removeDirForced(const std::u16string& p) {
    if (RemoveDirectoryW(W(p.c_str()))) return true;
    DWORD attr = fs::attributesOf(p);
    if (attr == INVALID_FILE_ATTRIBUTES || !(attr & FILE_ATTRIBUTE_READONLY)) return false;
    SetFileAttributesW(W(p.c_str()), attr & ~FILE_ATTRIBUTE_READONLY);
    return RemoveDirectoryW(W(p.c_str())) != 0;
}

// Deletes a directory and everything in it, read-only entries included.
bool removeTree(const std::u16string& dir) {
    bool ok = true;
    for (const WIN32_FIND_DATAW& fd : fs::matchEntries(fs::joinPath(dir, u"*"))) {
        std::u16string p = fs::joinPath(dir, fs::U(fd.cFileName));
        if (isLinkDir(fd)) ok = removeDirForced(p) && ok;
        else if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ok = removeTree(p) && ok;
        else ok = deleteFileForced(p) && ok;
    }
    return removeDirForced(dir) && ok;
}

// Copies the contents of one directory into another that exists, replacing files already there.
bool copyTree(const std::u16string& from, const std::u16string& to) {
    for (const WIN32_FIND_DATAW& fd : fs::matchEntries(fs::joinPath(from, u"*"))) {
        std::u16string src = fs::joinPath(from, fs::U(fd.cFileName));
        std::u16string dst = fs::joinPath(to, fs::U(fd.cFileName));
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (isLinkDir(fd)) continue;
            if (!CreateDirectoryW(W(dst.c_str()), nullptr) && !fs::isDirectory(dst)) return false;
            if (!copyTree(src, dst)) return false;
            continue;
        }
        if (CopyFileW(W(src.c_str()), W(dst.c_str()), FALSE)) continue;
        // A read-only, hidden or system file in the way is replaced as well.
        const DWORD blocking = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
        DWORD attr = fs::attributesOf(dst);
        if (attr == INVALID_FILE_ATTRIBUTES || !(attr & blocking)) return false;
        SetFileAttributesW(W(dst.c_str()), (attr & ~blocking) ? (attr & ~blocking) : FILE_ATTRIBUTE_NORMAL);
        if (!CopyFileW(W(src.c_str()), W(dst.c_str()), FALSE)) return false;
    }
    return true;
}

struct SizeCount {
    int64_t bytes = 0;
    int64_t files = 0;
    int64_t dirs = 0;
};

// The walk's turn for the run loop, before each entry: takes the waiting messages about every 10 ms and
// waits while the script is paused. False when the script is stopping: the walk is then abandoned.
class WalkPoll {
public:
    bool operator()() {
        RunState& rs = runState();
        if (rs.callbackRunning) return !stopping(rs);
        DWORD now = GetTickCount();
        if (now - last_ >= 10) {
            last_ = now;
            pumpMessages();
        }
        while (rs.paused && !stopping(rs)) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
            pumpMessages();
        }
        return !stopping(rs);
    }

private:
    static bool stopping(const RunState& rs) { return rs.stopping || rs.quit || rs.exitRequest; }
    DWORD last_ = GetTickCount();
};

// Adds up a directory's files and subdirectories; false when the walk was abandoned.
bool measureTree(const std::u16string& dir, bool recurse, SizeCount& c, WalkPoll& poll) {
    WIN32_FIND_DATAW fd;
    std::u16string pattern = fs::joinPath(dir, u"*.*");
    fs::FindHandle h(FindFirstFileExW(W(pattern.c_str()), FindExInfoBasic, &fd, FindExSearchNameMatch, nullptr,
                                      FIND_FIRST_EX_LARGE_FETCH));
    if (!h.valid()) return true;
    do {
        if (!poll()) return false;
        if (fs::isDotEntry(fd.cFileName)) continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            ++c.dirs;
            if (recurse && !isLinkDir(fd) && !measureTree(fs::joinPath(dir, fs::U(fd.cFileName)), true, c, poll))
                return false;
        } else {
            ++c.files;
            c.bytes += static_cast<int64_t>((static_cast<uint64_t>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow);
        }
    } while (FindNextFileW(h.get(), &fd));
    return true;
}

}  // namespace

int bi_DIRCREATE(Engine&, Args& a, Variant& r) {
    u16view p = a.str(0).view();
    if (fs::hasNul(p) || !fs::createDirectoryTree(std::u16string(p))) r.setInt32(0);
    return 0;
}

int bi_DIRREMOVE(Engine&, Args& a, Variant& r) {
    std::u16string p = dirArg(a, 0);
    DWORD attr = fs::attributesOf(p);
    bool ok = false;
    if (attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY) && !isRoot(p)) {
        // A link to a directory is removed as a link: what it points to is not part of the request.
        bool recurse = a.int32Or(1, 0) != 0 && !(attr & FILE_ATTRIBUTE_REPARSE_POINT);
        ok = recurse ? removeTree(p) : RemoveDirectoryW(W(p.c_str())) != 0;
    }
    r.setInt32(ok ? 1 : 0);
    return 0;
}

int bi_DIRCOPY(Engine&, Args& a, Variant& r) {
    std::u16string src = dirArg(a, 0), dst = dirArg(a, 1);
    bool overwrite = a.int32Or(2, 0) != 0;
    r.setInt32(0);
    if (src.empty() || dst.empty()) return 0;
    if (fs::sameNoCase(src, dst)) {
        // Only the spelling of the name can change.
        if (overwrite && fs::isDirectory(src) && fs::renameCase(src, dst))
            r.setInt32(1);
        return 0;
    }
    if (!fs::isDirectory(src) || isWithin(dst, src)) return 0;
    DWORD attr = fs::attributesOf(dst);
    if (attr != INVALID_FILE_ATTRIBUTES) {
        if (!overwrite || !(attr & FILE_ATTRIBUTE_DIRECTORY)) return 0;
    } else if (!fs::createDirectoryTree(dst)) {
        return 0;
    }
    if (copyTree(src, dst)) r.setInt32(1);
    return 0;
}

int bi_DIRMOVE(Engine&, Args& a, Variant& r) {
    std::u16string src = dirArg(a, 0), dst = dirArg(a, 1);
    bool overwrite = a.int32Or(2, 0) != 0;
    r.setInt32(0);
    // A drive root cannot move; across drives the copy-and-remove fallback would empty it instead.
    if (src.empty() || dst.empty() || !fs::isDirectory(src) || isRoot(src)) return 0;
    std::u16string target = dst;
    if (fs::attributesOf(dst) != INVALID_FILE_ATTRIBUTES) {
        if (!overwrite) return 0;
        if (fs::sameNoCase(src, dst)) {
            if (fs::renameCase(src, dst)) r.setInt32(1);
            return 0;
        }
        if (!fs::isDirectory(dst)) return 0;
        target = fs::joinPath(dst, fs::namePart(src));
    }
    if (isWithin(target, src) || !fs::createParentDirectories(target)) return 0;
    if (fs::attributesOf(target) == INVALID_FILE_ATTRIBUTES) {
        if (MoveFileExW(W(src.c_str()), W(target.c_str()), 0)) {
            r.setInt32(1);
            return 0;
        }
        if (GetLastError() != ERROR_NOT_SAME_DEVICE) return 0;
    }
    // Another drive, or a directory of that name already in the destination: copy, then remove the
    // source once everything has arrived.
    DWORD tattr = fs::attributesOf(target);
    if (tattr != INVALID_FILE_ATTRIBUTES && !(tattr & FILE_ATTRIBUTE_DIRECTORY)) return 0;
    if (tattr == INVALID_FILE_ATTRIBUTES && !CreateDirectoryW(W(target.c_str()), nullptr)) return 0;
    if (copyTree(src, target) && removeTree(src)) r.setInt32(1);
    return 0;
}

int bi_DIRGETSIZE(Engine& e, Args& a, Variant& r) {
    std::u16string p(a.str(0).view());
    // An empty path names no directory (with the backslash added it would be the root of the current drive).
    if (!p.empty() && !fs::isSep(p.back())) p += u'\\';
    if (p.empty() || fs::hasNul(p) || !fs::isDirectory(p)) {
        r.setInt32(-1);
        e.setError(1);
        return 0;
    }
    int32_t flags = a.int32Or(1, 0);
    SizeCount c;
    {
        fs::ErrorModeScope quiet(SEM_FAILCRITICALERRORS);
        WalkPoll poll;
        // Abandoned because the script is stopping: the call ends without a result.
        if (!measureTree(p, !(flags & 2), c, poll)) return 0;
    }
    if (!(flags & 1)) {
        r.setInt64(c.bytes);
        return 0;
    }
    uint32_t size = 3;
    ArrayData* arr = ArrayData::create(&size, 1);
    arr->at(0) = Variant::int64(c.bytes);
    arr->at(1) = Variant::int64(c.files);
    arr->at(2) = Variant::int64(c.dirs);
    r = Variant::array(arr);
    return 0;
}

}  // namespace tx
