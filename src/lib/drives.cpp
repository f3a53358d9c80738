// Drive built-ins (DRIVEGET*, DRIVESETLABEL, DRIVESPACE*, DRIVESTATUS) and network drive mapping
// (DRIVEMAPADD, DRIVEMAPDEL, DRIVEMAPGET, through mpr).
//
// The path-taking built-ins work on the path with a "\" appended when it lacks one (the form the volume
// functions want for a root), and run with the critical-error dialogs switched off, so that asking about an
// empty removable drive fails quietly instead of stopping the script behind a system dialog. A path holding
// a NUL character is refused before it reaches the system, which would otherwise read only its start.
#include "lib/drives.h"

#include <windows.h>
#include <winnetwk.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/engine.h"
#include "lib/file_paths.h"

namespace tx {

namespace {

using fs::U;
using fs::W;

// The argument as a root path: the text with a trailing "\" added when missing. False when the text holds a
// NUL, which no path can contain.
bool rootPath(const SString& text, std::wstring& root) {
    const u16view v = text.view();
    if (v.find(u'\0') != u16view::npos) return false;
    root.assign(W(v.data()), v.size());
    if (root.empty() || root.back() != L'\\') root += L'\\';
    return true;
}

// Failure of a built-in whose failure value is "".
int failEmpty(Engine& e, Variant& r, int32_t code = 1) {
    e.setError(code);
    r.setString(SString());
    return 0;
}

// Failure of a built-in whose failure value is Int32 0.
int failZero(Engine& e, Variant& r, int32_t code = 1) {
    e.setError(code);
    r.setInt32(0);
    return 0;
}

bool sameText(u16view a, const wchar_t* b) {
    return CompareStringOrdinal(W(a.data()), static_cast<int>(a.size()), b, -1, TRUE) == CSTR_EQUAL;
}

// GetVolumeInformationW for one root; label and file system are filled only when asked for.
bool volumeInfo(const SString& path, wchar_t* label, DWORD* serial, wchar_t* fileSystem) {
    std::wstring root;
    if (!rootPath(path, root)) return false;
    fs::ErrorModeScope quiet(SEM_FAILCRITICALERRORS);
    return GetVolumeInformationW(root.c_str(), label, label ? MAX_PATH + 1 : 0, serial, nullptr, nullptr,
                                 fileSystem, fileSystem ? MAX_PATH + 1 : 0) != 0;
}

// GetDiskFreeSpaceExW for one root; the system error on failure.
DWORD diskSpace(const SString& path, ULARGE_INTEGER& available, ULARGE_INTEGER& total) {
    std::wstring root;
    if (!rootPath(path, root)) return ERROR_INVALID_NAME;
    fs::ErrorModeScope quiet(SEM_FAILCRITICALERRORS);
    if (GetDiskFreeSpaceExW(root.c_str(), &available, &total, nullptr)) return ERROR_SUCCESS;
    return GetLastError();
}

constexpr double kBytesPerMegabyte = 1.0 / 1048576.0;

}  // namespace

int bi_DRIVEGETDRIVE(Engine& e, Args& a, Variant& r) {
    struct Kind {
        const wchar_t* name;
        UINT type;
    };
    // DRIVE_NO_ROOT_DIR stands for "all": any letter with a root at all.
    static const Kind kinds[] = {
        {L"all", DRIVE_NO_ROOT_DIR}, {L"cdrom", DRIVE_CDROM},     {L"removable", DRIVE_REMOVABLE},
        {L"fixed", DRIVE_FIXED},     {L"network", DRIVE_REMOTE},  {L"ramdisk", DRIVE_RAMDISK},
        {L"unknown", DRIVE_UNKNOWN},
    };
    const SString& wanted = a.str(0);
    const Kind* kind = nullptr;
    for (const Kind& k : kinds) {
        if (sameText(wanted.view(), k.name)) kind = &k;
    }
    if (!kind) return failEmpty(e, r);

    char16_t found[26];
    uint32_t count = 0;
    {
        fs::ErrorModeScope quiet(SEM_FAILCRITICALERRORS);
        wchar_t root[] = L"a:\\";
        for (wchar_t letter = L'a'; letter <= L'z'; ++letter) {
            root[0] = letter;
            const UINT type = GetDriveTypeW(root);
            const bool listed = kind->type == DRIVE_NO_ROOT_DIR ? type != DRIVE_NO_ROOT_DIR : type == kind->type;
            if (listed) found[count++] = static_cast<char16_t>(letter);
        }
    }
    if (count == 0) return failEmpty(e, r);

    const uint32_t size = count + 1;
    ArrayData* list = ArrayData::create(&size, 1);
    list->at(0) = Variant::int32(static_cast<int32_t>(count));
    for (uint32_t i = 0; i < count; ++i) {
        const char16_t drive[2] = {found[i], u':'};
        list->at(i + 1) = Variant::string(SString(drive, 2));
    }
    r = Variant::array(list);
    return 0;
}

int bi_DRIVEGETTYPE(Engine& e, Args& a, Variant& r) {
    std::wstring root;
    if (!rootPath(a.str(0), root)) return failEmpty(e, r);
    UINT type;
    {
        fs::ErrorModeScope quiet(SEM_FAILCRITICALERRORS);
        type = GetDriveTypeW(root.c_str());
    }
    const char16_t* name;
    switch (type) {
        case DRIVE_NO_ROOT_DIR: return failEmpty(e, r);
        case DRIVE_REMOVABLE: name = u"Removable"; break;
        case DRIVE_FIXED: name = u"Fixed"; break;
        case DRIVE_REMOTE: name = u"Network"; break;
        case DRIVE_CDROM: name = u"CDROM"; break;
        case DRIVE_RAMDISK: name = u"RAMDisk"; break;
        default: name = u"Unknown"; break;
    }
    r.setString(SString(name));
    return 0;
}

int bi_DRIVEGETLABEL(Engine& e, Args& a, Variant& r) {
    wchar_t label[MAX_PATH + 1] = L"";
    if (!volumeInfo(a.str(0), label, nullptr, nullptr)) return failEmpty(e, r);
    r.setString(SString(U(label)));
    return 0;
}

int bi_DRIVEGETSERIAL(Engine& e, Args& a, Variant& r) {
    DWORD serial = 0;
    if (!volumeInfo(a.str(0), nullptr, &serial, nullptr)) return failEmpty(e, r);
    char digits[16];
    const int n = std::snprintf(digits, sizeof digits, "%lu", static_cast<unsigned long>(serial));
    r.setString(SString::fromLatin1(std::string_view(digits, static_cast<size_t>(n))));
    return 0;
}

int bi_DRIVEGETFILESYSTEM(Engine& e, Args& a, Variant& r) {
    wchar_t fileSystem[MAX_PATH + 1] = L"";
    if (!volumeInfo(a.str(0), nullptr, nullptr, fileSystem)) return failEmpty(e, r);
    r.setString(SString(U(fileSystem)));
    return 0;
}

int bi_DRIVESETLABEL(Engine&, Args& a, Variant& r) {
    std::wstring root;
    const SString& label = a.str(1);
    bool done = false;
    if (rootPath(a.str(0), root) && label.view().find(u'\0') == u16view::npos) {
        fs::ErrorModeScope quiet(SEM_FAILCRITICALERRORS);
        done = SetVolumeLabelW(root.c_str(), W(label.c_str())) != 0;
    }
    r.setInt32(done ? 1 : 0);
    return 0;
}

int bi_DRIVESPACEFREE(Engine& e, Args& a, Variant& r) {
    ULARGE_INTEGER available{}, total{};
    if (diskSpace(a.str(0), available, total) != ERROR_SUCCESS) return failZero(e, r);
    r.setDouble(static_cast<double>(available.QuadPart) * kBytesPerMegabyte);
    return 0;
}

int bi_DRIVESPACETOTAL(Engine& e, Args& a, Variant& r) {
    ULARGE_INTEGER available{}, total{};
    if (diskSpace(a.str(0), available, total) != ERROR_SUCCESS) return failZero(e, r);
    r.setDouble(static_cast<double>(total.QuadPart) * kBytesPerMegabyte);
    return 0;
}

int bi_DRIVESTATUS(Engine& e, Args& a, Variant& r) {
    static constexpr const char16_t* kReady = u"READY";
    const SString& path = a.str(0);
    const u16view v = path.view();
    // Only a bare root ("x:" or "x:\") names a drive here.
    const size_t n = v.size();
    const bool bare = (n == 2 && v[1] == u':') || (n == 3 && v[1] == u':' && v[2] == u'\\');
    const char16_t* status;
    if (!bare) {
        status = u"INVALID";
    } else {
        ULARGE_INTEGER available{}, total{};
        switch (diskSpace(path, available, total)) {
            case ERROR_SUCCESS: status = kReady; break;
            case ERROR_WRITE_PROTECT: status = u"READONLY"; break;
            case ERROR_NOT_READY: status = u"NOTREADY"; break;
            case ERROR_PATH_NOT_FOUND: status = u"INVALID"; break;
            default: status = u"UNKNOWN"; break;
        }
    }
    if (status != kReady) e.setError(1);
    r.setString(SString(status));
    return 0;
}

int bi_DRIVEMAPADD(Engine& e, Args& a, Variant& r) {
    const SString& device = a.str(0);
    const SString& share = a.str(1);
    const DWORD flags = static_cast<DWORD>(a.int32Or(2, 0));
    const bool anyDevice = device.view() == u"*";
    // Neither name can hold a NUL: the system would read a shorter name than the script gave.
    if (device.view().find(u'\0') != u16view::npos) return failZero(e, r, 4);
    if (share.view().find(u'\0') != u16view::npos) return failZero(e, r, 5);

    std::wstring remote(W(share.c_str()), share.size());
    NETRESOURCEW resource{};
    const u16view dv = device.view();
    const bool printer = dv.size() >= 3 && sameText(dv.substr(0, 3), L"LPT");
    resource.dwType = printer ? RESOURCETYPE_PRINT : RESOURCETYPE_DISK;
    resource.lpLocalName = (device.empty() || anyDevice) ? nullptr : const_cast<wchar_t*>(W(device.c_str()));
    resource.lpRemoteName = remote.data();

    // User name and password are passed only when the script gives them.
    SString user, password;
    if (a.given(3)) user = a.str(3);
    if (a.given(4)) password = a.str(4);

    wchar_t chosen[256] = L"";
    DWORD chosenSize = 256;
    DWORD outcome = 0;
    const DWORD rc = WNetUseConnectionW(nullptr, &resource, a.given(4) ? W(password.c_str()) : nullptr,
                                        a.given(3) ? W(user.c_str()) : nullptr,
                                        flags | (anyDevice ? CONNECT_REDIRECT : 0), chosen, &chosenSize, &outcome);
    if (rc != NO_ERROR) {
        switch (rc) {
            case ERROR_ACCESS_DENIED: return failZero(e, r, 2);
            case ERROR_ALREADY_ASSIGNED:
            case ERROR_DEVICE_ALREADY_REMEMBERED: return failZero(e, r, 3);
            case ERROR_BAD_DEVICE: return failZero(e, r, 4);
            case ERROR_BAD_NET_NAME: return failZero(e, r, 5);
            case ERROR_INVALID_PASSWORD: return failZero(e, r, 6);
            default:
                e.setExtended(static_cast<int32_t>(rc));
                return failZero(e, r, 1);
        }
    }
    if (anyDevice) {
        chosen[255] = L'\0';
        r.setString((outcome & CONNECT_LOCALDRIVE) ? SString(U(chosen)) : SString());
    }
    return 0;
}

int bi_DRIVEMAPDEL(Engine& e, Args& a, Variant& r) {
    const SString& device = a.str(0);
    DWORD rc = ERROR_BAD_DEVICE;
    if (device.view().find(u'\0') == u16view::npos)
        rc = WNetCancelConnection2W(W(device.c_str()), CONNECT_UPDATE_PROFILE, TRUE);
    if (rc != NO_ERROR) {
        e.setExtended(static_cast<int32_t>(rc));
        r.setInt32(0);
    }
    Sleep(10);
    return 0;
}

int bi_DRIVEMAPGET(Engine& e, Args& a, Variant& r) {
    const SString& device = a.str(0);
    if (device.view().find(u'\0') != u16view::npos) {
        e.setExtended(ERROR_BAD_DEVICE);
        return failEmpty(e, r);
    }
    // 1024 characters hold any usual remote name; a longer one is read again with the size the system asks for.
    std::vector<wchar_t> remote(1024);
    DWORD size = static_cast<DWORD>(remote.size());
    DWORD rc = WNetGetConnectionW(W(device.c_str()), remote.data(), &size);
    if (rc == ERROR_MORE_DATA && size > remote.size()) {
        remote.resize(size);
        rc = WNetGetConnectionW(W(device.c_str()), remote.data(), &size);
    }
    if (rc != NO_ERROR) {
        e.setExtended(static_cast<int32_t>(rc));
        return failEmpty(e, r);
    }
    remote.back() = L'\0';
    r.setString(SString(U(remote.data())));
    return 0;
}

}  // namespace tx
