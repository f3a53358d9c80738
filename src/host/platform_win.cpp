// Windows implementation of the core's platform services (text code pages, casing, locale comparison,
// error-report sinks).
#include <windows.h>

#include <cstdio>
#include <vector>

#include "core/platform.h"
#include "host/startup.h"

namespace tx::platform {

std::string toAnsi(u16view s) {
    if (s.empty()) return {};
    int n = WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<LPCWCH>(s.data()), static_cast<int>(s.size()), nullptr, 0,
                                nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<LPCWCH>(s.data()), static_cast<int>(s.size()), out.data(), n,
                            nullptr, nullptr);
    return out;
}

SString fromAnsi(const char* s, size_t n) {
    if (n == 0) return SString();
    int w = MultiByteToWideChar(CP_ACP, 0, s, static_cast<int>(n), nullptr, 0);
    if (w <= 0) return SString();
    SString out = SString::withLength(static_cast<size_t>(w));
    MultiByteToWideChar(CP_ACP, 0, s, static_cast<int>(n), reinterpret_cast<LPWSTR>(out.mutableData()), w);
    return out;
}

void upperCase(char16_t* s, size_t n) {
    if (n) CharUpperBuffW(reinterpret_cast<LPWSTR>(s), static_cast<DWORD>(n));
}

void lowerCase(char16_t* s, size_t n) {
    if (n) CharLowerBuffW(reinterpret_cast<LPWSTR>(s), static_cast<DWORD>(n));
}

int compareLocale(u16view a, u16view b, bool ignoreCase) {
    int r = CompareStringW(LOCALE_USER_DEFAULT, ignoreCase ? NORM_IGNORECASE : 0, reinterpret_cast<LPCWSTR>(a.data()),
                           static_cast<int>(a.size()), reinterpret_cast<LPCWSTR>(b.data()), static_cast<int>(b.size()));
    return r == 0 ? 0 : r - 2;
}

SString loadMessage(int id) {
    const wchar_t* p = nullptr;
    // Length 0 asks for a read-only pointer into the resource itself.
    int n = LoadStringW(GetModuleHandleW(nullptr), static_cast<UINT>(id), reinterpret_cast<LPWSTR>(&p), 0);
    if (n <= 0 || !p) return SString();
    if (n > 4095) n = 4095;
    return SString(reinterpret_cast<const char16_t*>(p), static_cast<size_t>(n));
}

void showErrorBox(u16view text, u16view caption, bool ownedByMainWindow) {
    std::u16string t(text), c(caption);
    MessageBoxW(ownedByMainWindow ? mainWindow() : nullptr, reinterpret_cast<LPCWSTR>(t.c_str()),
                reinterpret_cast<LPCWSTR>(c.c_str()), MB_SETFOREGROUND | MB_SYSTEMMODAL | MB_ICONERROR);
}

void writeStdout(const char* bytes, size_t n) {
    HANDLE h = GetStdHandle(STD_OUTPUT_HANDLE);
    if (h == nullptr || h == INVALID_HANDLE_VALUE || n == 0) return;
    DWORD written = 0;
    WriteFile(h, bytes, static_cast<DWORD>(n), &written, nullptr);
}

}  // namespace tx::platform
