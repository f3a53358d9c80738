// Small file helpers of the loader and the script compiler: an owned file handle with exact reads and
// writes at a position, whole-file reads, and path helpers (absolute path, existence, directory part).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/sstring.h"

namespace tx::fio {

inline const wchar_t* wz(const SString& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

// Owner of a file handle; closed on every path.
class File {
public:
    File() = default;
    ~File() { close(); }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    File(File&& o) noexcept : h_(o.h_) { o.h_ = INVALID_HANDLE_VALUE; }

    bool openRead(const SString& path);
    bool create(const SString& path);  // create or truncate, for writing
    void close();
    bool valid() const { return h_ != INVALID_HANDLE_VALUE; }
    HANDLE handle() const { return h_; }

    uint64_t size() const;
    bool seek(uint64_t pos);
    // Reads up to n bytes; returns the count (0 at the end or on failure).
    size_t readSome(void* buf, size_t n);
    // Reads exactly n bytes.
    bool read(void* buf, size_t n) { return n == 0 || readSome(buf, n) == n; }
    bool write(const void* buf, size_t n);

private:
    HANDLE h_ = INVALID_HANDLE_VALUE;
};

// The whole file; false when it cannot be opened or read (or is larger than the limit).
bool readWholeFile(const SString& path, std::vector<uint8_t>& bytes, uint64_t limit = 0x40000000);
// Writes bytes to path, replacing it; a partly written file is removed again.
bool writeWholeFile(const SString& path, const std::vector<uint8_t>& bytes);

SString fullPath(const SString& path);  // GetFullPathNameW; the path itself when that fails
bool exists(const SString& path);
SString directoryOf(const SString& fullPath);  // up to the last backslash; "C:" becomes "C:\"
SString currentDirectory();
SString modulePath();  // this process's executable

}  // namespace tx::fio
