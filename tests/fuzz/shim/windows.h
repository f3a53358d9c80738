// Stand-in for <windows.h> in the native fuzz builds: just the types, constants and calls that the loader
// files built there (host/preprocess.cpp, host/container.cpp, host/file_io.h) name. Every call fails or does
// nothing: the fuzz targets feed those files from memory (tests/fuzz/fuzz_native.cpp), never from disk or
// the registry.
#pragma once

#include <cstdint>

using DWORD = uint32_t;
using BYTE = uint8_t;
using LONG = int32_t;
using BOOL = int;
using UINT = unsigned;
using HANDLE = void*;
using HKEY = void*;
using LPCWSTR = const wchar_t*;
using LPWSTR = wchar_t*;
struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

#define TRUE 1
#define FALSE 0
#define MAX_PATH 260
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000001u)))
#define KEY_READ 0x20019
#define ERROR_SUCCESS 0L
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define FILE_WRITE_ATTRIBUTES 0x100
#define FILE_SHARE_READ 1
#define FILE_SHARE_WRITE 2
#define OPEN_EXISTING 3
#define FILE_ATTRIBUTE_NORMAL 0x80

inline LONG RegOpenKeyExW(HKEY, LPCWSTR, DWORD, DWORD, HKEY*) { return 2; }
inline LONG RegQueryValueExW(HKEY, LPCWSTR, DWORD*, DWORD*, BYTE*, DWORD*) { return 2; }
inline LONG RegCloseKey(HKEY) { return 0; }
inline BOOL SetCurrentDirectoryW(LPCWSTR) { return TRUE; }
inline BOOL DeleteFileW(LPCWSTR) { return FALSE; }
inline BOOL CopyFileW(LPCWSTR, LPCWSTR, BOOL) { return FALSE; }
inline DWORD GetTempPathW(DWORD, LPWSTR) { return 0; }
inline UINT GetTempFileNameW(LPCWSTR, LPCWSTR, UINT, LPWSTR) { return 0; }
inline HANDLE CreateFileW(LPCWSTR, DWORD, DWORD, void*, DWORD, DWORD, HANDLE) { return INVALID_HANDLE_VALUE; }
inline BOOL SetFileTime(HANDLE, const FILETIME*, const FILETIME*, const FILETIME*) { return FALSE; }
inline BOOL CloseHandle(HANDLE) { return TRUE; }
