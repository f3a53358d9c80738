// Path and pattern helpers shared by the file and directory built-ins (and by the INI and shortcut
// built-ins, which follow the same path rules).
//
// Paths are UTF-16 throughout and go to the wide-character Win32 file functions. Owners here close what
// they opened on every path out of a function: FileHandle for CreateFileW handles, FindHandle for
// FindFirstFileW searches. matchEntries() lists a pattern's entries up front, so callers that rename, copy
// or delete inside the searched directory never see their own results come back in the listing.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/sstring.h"

namespace tx::fs {

inline const wchar_t* W(const char16_t* s) { return reinterpret_cast<const wchar_t*>(s); }
inline wchar_t* W(char16_t* s) { return reinterpret_cast<wchar_t*>(s); }
inline const char16_t* U(const wchar_t* s) { return reinterpret_cast<const char16_t*>(s); }

// A name with a NUL in it names no file: the Win32 functions would stop reading it at the NUL and act on
// another file (FileDelete("a" & Chr(0) & "x") would delete "a"; a tree walk of such a directory name
// finds its own start again and never ends).
inline bool hasNul(std::u16string_view p) { return p.find(u'\0') != std::u16string_view::npos; }

// Owner of a CreateFileW handle.
class FileHandle {
public:
    FileHandle() = default;
    explicit FileHandle(HANDLE h) : h_(h) {}
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    FileHandle(FileHandle&& o) noexcept : h_(o.h_) { o.h_ = INVALID_HANDLE_VALUE; }
    FileHandle& operator=(FileHandle&& o) noexcept {
        if (this != &o) {
            reset();
            h_ = o.h_;
            o.h_ = INVALID_HANDLE_VALUE;
        }
        return *this;
    }
    ~FileHandle() { reset(); }
    void reset() {
        if (valid()) CloseHandle(h_);
        h_ = INVALID_HANDLE_VALUE;
    }
    bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
    HANDLE get() const { return h_; }

private:
    HANDLE h_ = INVALID_HANDLE_VALUE;
};

// Owner of a FindFirstFileW search handle.
class FindHandle {
public:
    FindHandle() = default;
    explicit FindHandle(HANDLE h) : h_(h) {}
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;
    FindHandle(FindHandle&& o) noexcept : h_(o.h_) { o.h_ = INVALID_HANDLE_VALUE; }
    FindHandle& operator=(FindHandle&& o) noexcept {
        if (this != &o) {
            if (valid()) FindClose(h_);
            h_ = o.h_;
            o.h_ = INVALID_HANDLE_VALUE;
        }
        return *this;
    }
    ~FindHandle() {
        if (valid()) FindClose(h_);
    }
    bool valid() const { return h_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return h_; }

private:
    HANDLE h_ = INVALID_HANDLE_VALUE;
};

// Restores the process's critical-error mode when it goes out of scope.
class ErrorModeScope {
public:
    explicit ErrorModeScope(UINT mode) : old_(SetErrorMode(mode)) {}
    ~ErrorModeScope() { SetErrorMode(old_); }
    ErrorModeScope(const ErrorModeScope&) = delete;
    ErrorModeScope& operator=(const ErrorModeScope&) = delete;

private:
    UINT old_;
};

inline bool isSep(char16_t c) { return c == u'\\' || c == u'/'; }
inline bool isDotEntry(const wchar_t* name) {
    return name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0));
}
inline bool hasWildcard(std::u16string_view p) { return p.find_first_of(u"*?") != std::u16string_view::npos; }

// The absolute form of a path (GetFullPathNameW); the path as given when the platform refuses it.
std::u16string fullPath(std::u16string_view p);
// Index of the last path separator, or npos.
size_t lastSep(std::u16string_view p);
// The text before the last separator ("" when there is none).
std::u16string_view dirPart(std::u16string_view p);
// The text after the last separator.
std::u16string_view namePart(std::u16string_view p);
// a + "\" + b, without doubling a separator a already ends with.
std::u16string joinPath(std::u16string_view a, std::u16string_view b);
// Ordinal comparison ignoring case, as the file system compares names.
bool sameNoCase(std::u16string_view a, std::u16string_view b);

// Attributes of a path, INVALID_FILE_ATTRIBUTES when it does not exist.
DWORD attributesOf(const std::u16string& p);
bool isDirectory(const std::u16string& p);

// Every entry a pattern matches, "." and ".." left out. Empty when nothing matches (lastError() then holds
// the platform's reason).
std::vector<WIN32_FIND_DATAW> matchEntries(const std::u16string& pattern);
// The first entry a path or pattern names: the path's own attributes when it exists as written, else the
// first entry of a search. False when there is none.
bool firstEntry(const std::u16string& pathOrPattern, WIN32_FILE_ATTRIBUTE_DATA& out);

// Renames a file or directory to a name that differs only in case. Some file systems take such a rename
// for a rename onto itself and keep the old spelling; then the entry goes through a temporary name.
bool renameCase(const std::u16string& from, const std::u16string& to);

// Creates a directory and every missing level above it. An existing directory is success, an existing
// file failure.
bool createDirectoryTree(std::u16string path);
// Creates the missing directory part of a file path (the text before its last separator).
bool createParentDirectories(std::u16string_view filePath);

}  // namespace tx::fs
