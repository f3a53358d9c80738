// File helpers of the loader and the script compiler (see file_io.h).
#include "host/file_io.h"

#include <algorithm>

namespace tx::fio {

namespace {
SString fromW(const wchar_t* s, size_t n) { return SString(reinterpret_cast<const char16_t*>(s), n); }
}  // namespace

bool File::openRead(const SString& path) {
    close();
    h_ = CreateFileW(wz(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return valid();
}

bool File::create(const SString& path) {
    close();
    h_ = CreateFileW(wz(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    return valid();
}

void File::close() {
    if (valid()) CloseHandle(h_);
    h_ = INVALID_HANDLE_VALUE;
}

uint64_t File::size() const {
    LARGE_INTEGER s{};
    if (!valid() || !GetFileSizeEx(h_, &s)) return 0;
    return static_cast<uint64_t>(s.QuadPart);
}

bool File::seek(uint64_t pos) {
    LARGE_INTEGER p{};
    p.QuadPart = static_cast<LONGLONG>(pos);
    return valid() && SetFilePointerEx(h_, p, nullptr, FILE_BEGIN);
}

size_t File::readSome(void* buf, size_t n) {
    size_t total = 0;
    while (total < n) {
        DWORD want = static_cast<DWORD>(std::min<size_t>(n - total, 1u << 30));
        DWORD got = 0;
        if (!ReadFile(h_, static_cast<uint8_t*>(buf) + total, want, &got, nullptr) || got == 0) break;
        total += got;
    }
    return total;
}

bool File::write(const void* buf, size_t n) {
    size_t total = 0;
    while (total < n) {
        DWORD want = static_cast<DWORD>(std::min<size_t>(n - total, 1u << 30));
        DWORD put = 0;
        if (!WriteFile(h_, static_cast<const uint8_t*>(buf) + total, want, &put, nullptr) || put == 0) return false;
        total += put;
    }
    return true;
}

bool readWholeFile(const SString& path, std::vector<uint8_t>& bytes, uint64_t limit) {
    File f;
    if (!f.openRead(path)) return false;
    uint64_t n = f.size();
    if (n > limit) return false;
    bytes.resize(static_cast<size_t>(n));
    return f.read(bytes.data(), bytes.size());
}

bool writeWholeFile(const SString& path, const std::vector<uint8_t>& bytes) {
    File f;
    if (!f.create(path)) return false;
    if (f.write(bytes.data(), bytes.size())) return true;
    f.close();
    DeleteFileW(wz(path));
    return false;
}

SString fullPath(const SString& path) {
    wchar_t small[MAX_PATH];
    DWORD n = GetFullPathNameW(wz(path), MAX_PATH, small, nullptr);
    if (n == 0) return path;
    if (n < MAX_PATH) return fromW(small, n);
    std::wstring big(n, L'\0');
    n = GetFullPathNameW(wz(path), static_cast<DWORD>(big.size()), big.data(), nullptr);
    if (n == 0 || n >= big.size()) return path;
    return fromW(big.data(), n);
}

bool exists(const SString& path) { return GetFileAttributesW(wz(path)) != INVALID_FILE_ATTRIBUTES; }

SString directoryOf(const SString& full) {
    u16view v = full.view();
    size_t cut = v.find_last_of(u"\\/");
    SString dir(v.substr(0, cut == u16view::npos ? 0 : cut));
    if (dir.size() == 2 && dir[1] == u':') dir.append(u'\\');
    return dir;
}

SString currentDirectory() {
    DWORD n = GetCurrentDirectoryW(0, nullptr);
    if (n == 0) return SString();
    std::wstring buf(n, L'\0');
    n = GetCurrentDirectoryW(static_cast<DWORD>(buf.size()), buf.data());
    return fromW(buf.data(), n);
}

SString modulePath() {
    std::wstring buf(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) return SString();
        if (n < buf.size()) return fromW(buf.data(), n);
        buf.resize(buf.size() * 2);
    }
}

}  // namespace tx::fio
