// File built-ins over shell and system services: FILEINSTALL, version resources, shortcuts (shell link
// objects), NTFS junctions and hard links, the recycle bin and the common open, save and folder dialogs.
//
// Every COM object is created and released within its call, with COM initialised around it; every pidl
// and handle has an owner that frees it on all paths. Failures are @error values, never script errors.
#include <windows.h>
#include <commdlg.h>
#include <shellapi.h>
#include <shlobj.h>
#include <winioctl.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "automation/keys.h"
#include "core/engine.h"
#include "core/errors.h"
#include "host/container.h"
#include "lib/file_paths.h"
#include "lib/files.h"
#include "lib/shell_files.h"

namespace tx {

namespace {

using fs::W;

std::u16string argText(Args& a, int i) { return std::u16string(a.str(i).view()); }

// COM for the length of one call.
class ComScope {
public:
    ComScope() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComScope() {
        if (SUCCEEDED(hr_)) CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

private:
    HRESULT hr_;
};

// Owner of one COM interface pointer.
template <class T>
class ComRef {
public:
    ComRef() = default;
    ~ComRef() {
        if (p_) p_->Release();
    }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    T** out() { return &p_; }
    T* operator->() const { return p_; }
    T* get() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    T* p_ = nullptr;
};

// Owner of a shell item id list.
class PidlRef {
public:
    PidlRef() = default;
    ~PidlRef() { CoTaskMemFree(p_); }
    PidlRef(const PidlRef&) = delete;
    PidlRef& operator=(const PidlRef&) = delete;
    LPITEMIDLIST* out() { return &p_; }
    LPITEMIDLIST get() const { return p_; }
    void reset(LPITEMIDLIST p) {
        CoTaskMemFree(p_);
        p_ = p;
    }

private:
    LPITEMIDLIST p_ = nullptr;
};

// ---- FILEINSTALL ----

// The destination of an installed file: a folder (or a path ending in a separator) takes the source's name,
// and "*" in the name or extension takes the source's part, as FILECOPY does.
std::u16string completeDestination(std::u16string dest, std::u16string_view sourceName) {
    if (fs::isDirectory(dest) || (!dest.empty() && fs::isSep(dest.back()))) dest = fs::joinPath(dest, u"*.*");
    if (fs::namePart(dest).find(u'*') == std::u16string_view::npos) return dest;
    return fs::joinPath(fs::dirPart(dest), wildcardDestinationName(dest, sourceName));
}

// The script runs from source: FILEINSTALL is a FILECOPY with the overwrite flag.
int installByCopy(Engine& e, Args& a, Variant& r) {
    std::u16string src = argText(a, 0);
    if (src.find(u'\\') == std::u16string::npos) {
        u16view full = runState().scriptFullPath.view();
        size_t slash = full.rfind(u'\\');
        if (slash != u16view::npos) src = std::u16string(full.substr(0, slash + 1)) + src;
    }
    std::u16string dst = fs::fullPath(a.str(1).view());
    if (fs::isDirectory(dst) && !dst.empty() && !fs::isSep(dst.back())) {
        r.setInt32(0);
        return 0;
    }
    Variant copyArgs[3] = {Variant::string(u16view(src)), Variant::string(u16view(dst)),
                           Variant::int32(a.int32Or(2, 0) ? 1 : 0)};
    Args forward{copyArgs, 3};
    return bi_FILECOPY(e, forward, r);
}

}  // namespace

int bi_FILEINSTALL(Engine& e, Args& a, Variant& r) {
    if (a.str(0).view() == u">>>TARVEX SCRIPT<<<") return 0;
    u16view source = a.str(0).view();
    std::u16string dest = completeDestination(fs::fullPath(a.str(1).view()), fs::namePart(source));
    int code = extractContainerEntry(source, SString(u16view(dest)), a.int32Or(2, 0) != 0);
    if (code == cres::NotCompiled) return installByCopy(e, a, r);
    if (code != cres::Ok) {
        e.setExtended(code);
        r.setInt32(0);
    }
    return 0;
}

// ---- FILEGETVERSION ----

namespace {

// Reads a file's version resource; empty when it has none.
std::vector<uint8_t> versionBlock(const std::u16string& path) {
    DWORD unused = 0;
    DWORD size = GetFileVersionInfoSizeW(W(path.c_str()), &unused);
    std::vector<uint8_t> block;
    if (size == 0) return block;
    block.resize(size);
    if (!GetFileVersionInfoW(W(path.c_str()), 0, size, block.data())) block.clear();
    return block;
}

}  // namespace

int bi_FILEGETVERSION(Engine& e, Args& a, Variant& r) {
    std::u16string path = fs::fullPath(a.str(0).view());
    std::u16string field = a.given(1) ? argText(a, 1) : std::u16string();
    std::vector<uint8_t> block = versionBlock(path);

    if (field.empty() || field == u"\\") {
        VS_FIXEDFILEINFO* info = nullptr;
        UINT len = 0;
        if (block.empty() || !VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &len) ||
            len < sizeof(VS_FIXEDFILEINFO)) {
            e.setError(1);
            r.setString(u16view(u"0.0.0.0"));
            return 0;
        }
        char text[64];
        std::snprintf(text, sizeof text, "%u.%u.%u.%u", unsigned(HIWORD(info->dwFileVersionMS)),
                      unsigned(LOWORD(info->dwFileVersionMS)), unsigned(HIWORD(info->dwFileVersionLS)),
                      unsigned(LOWORD(info->dwFileVersionLS)));
        r.setString(SString::fromLatin1(text));
        return 0;
    }

    r.setString(SString());
    if (block.empty()) {
        e.setError(1);
        return 0;
    }
    // The first translation; a file without a table is read as US English, neutral code page.
    WORD lang = 0x0409, codePage = 0;
    WORD* trans = nullptr;
    UINT len = 0;
    if (VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&trans), &len) &&
        len >= 4) {
        lang = trans[0];
        codePage = trans[1];
    }
    char hex[16];
    std::snprintf(hex, sizeof hex, "%04x%04x", unsigned(lang), unsigned(codePage));
    if (fs::sameNoCase(field, u"DefaultLangCodepage")) {
        r.setString(SString::fromLatin1(hex));
        return 0;
    }
    std::u16string query = u"\\StringFileInfo\\";
    if (field.find(u'\\') == std::u16string::npos) {
        for (const char* c = hex; *c; ++c) query += static_cast<char16_t>(*c);
        query += u'\\';
    }
    query += field;
    wchar_t* value = nullptr;
    len = 0;
    if (!VerQueryValueW(block.data(), W(query.c_str()), reinterpret_cast<void**>(&value), &len) || !value) {
        e.setError(1);
        return 0;
    }
    std::u16string_view text(fs::U(value));
    if (text.size() > 512) text = text.substr(0, 512);
    r.setString(SString(text));
    return 0;
}

// ---- Shortcuts ----

namespace {

std::u16string linkPath(Args& a, int i) {
    std::u16string p = fs::fullPath(a.str(i).view());
    if (p.size() < 4 || !fs::sameNoCase(std::u16string_view(p).substr(p.size() - 4), u".lnk")) p += u".lnk";
    return p;
}

// The shell link hot-key word: modifier bits (shift 1, control 2, alt 4) above the virtual key. A key
// without control or alt gets both, as the shell ignores plain and shift-only shortcut keys.
bool shortcutHotKey(u16view text, WORD& word) {
    HotKey hk = parseHotKey(text);
    if (hk.status != HotKey::Ok || hk.vk == 0) return false;
    WORD mods = 0;
    if (hk.mods & kHotShift) mods |= HOTKEYF_SHIFT;
    if (hk.mods & kHotCtrl) mods |= HOTKEYF_CONTROL;
    if (hk.mods & kHotAlt) mods |= HOTKEYF_ALT;
    if (!(mods & (HOTKEYF_CONTROL | HOTKEYF_ALT))) mods |= HOTKEYF_CONTROL | HOTKEYF_ALT;
    word = static_cast<WORD>((mods << 8) | hk.vk);
    return true;
}

}  // namespace

int bi_FILECREATESHORTCUT(Engine&, Args& a, Variant& r) {
    r.setInt32(0);
    std::u16string target = fs::fullPath(a.str(0).view());
    std::u16string link = linkPath(a, 1);
    ComScope com;
    ComRef<IShellLinkW> shell;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(shell.out()))))
        return 0;
    if (FAILED(shell->SetPath(W(target.c_str())))) return 0;
    if (a.given(2)) shell->SetWorkingDirectory(W(argText(a, 2).c_str()));
    if (a.given(3)) shell->SetArguments(W(argText(a, 3).c_str()));
    if (a.given(4)) shell->SetDescription(W(argText(a, 4).c_str()));
    std::u16string iconFile = a.given(5) ? argText(a, 5) : std::u16string();
    if (a.given(5)) shell->SetIconLocation(W(iconFile.c_str()), 0);
    WORD hotKey = 0;
    if (a.given(6) && shortcutHotKey(a.str(6).view(), hotKey)) shell->SetHotkey(hotKey);
    if (a.given(7)) shell->SetIconLocation(W(iconFile.c_str()), a.int32(7));
    if (a.given(8)) shell->SetShowCmd(a.int32(8));
    ComRef<IPersistFile> file;
    if (FAILED(shell->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.out())))) return 0;
    if (FAILED(file->Save(W(link.c_str()), TRUE))) return 0;
    r.setInt32(1);
    return 0;
}

int bi_FILEGETSHORTCUT(Engine& e, Args& a, Variant& r) {
    e.setError(1);
    r.setString(SString());
    std::u16string link = linkPath(a, 0);
    ComScope com;
    ComRef<IShellLinkW> shell;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(shell.out()))))
        return 0;
    ComRef<IPersistFile> file;
    if (FAILED(shell->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.out())))) return 0;
    if (FAILED(file->Load(W(link.c_str()), STGM_READ))) return 0;

    wchar_t text[5][MAX_PATH + 1] = {};
    int iconIndex = 0, showCmd = 0;
    shell->GetPath(text[0], MAX_PATH, nullptr, 0);
    shell->GetWorkingDirectory(text[1], MAX_PATH);
    shell->GetArguments(text[2], MAX_PATH);
    shell->GetDescription(text[3], MAX_PATH);
    shell->GetIconLocation(text[4], MAX_PATH, &iconIndex);
    shell->GetShowCmd(&showCmd);

    const uint32_t size = 7;
    ArrayData* arr = ArrayData::create(&size, 1);
    for (uint32_t i = 0; i < 5; ++i) arr->at(i) = Variant::string(u16view(fs::U(text[i])));
    arr->at(5) = Variant::int32(iconIndex);
    arr->at(6) = Variant::int32(showCmd);
    r = Variant::array(arr);
    e.setError(0);
    return 0;
}

// ---- NTFS links ----

namespace {

// The mount-point layout of a reparse buffer (the SDK keeps it in the driver headers).
struct MountPointReparse {
    DWORD tag;
    WORD dataLength;
    WORD reserved;
    WORD substituteOffset;
    WORD substituteLength;
    WORD printOffset;
    WORD printLength;
    WCHAR path[1];
};

bool setJunction(const std::u16string& link, const std::u16string& target) {
    std::u16string substitute = u"\\??\\" + target;
    if (substitute.size() > 4 && fs::isSep(substitute.back()) && substitute[substitute.size() - 2] != u':')
        substitute.pop_back();
    const size_t nameBytes = substitute.size() * sizeof(WCHAR);
    const size_t header = offsetof(MountPointReparse, path);
    const size_t total = header + nameBytes + 2 * sizeof(WCHAR);
    if (total > MAXIMUM_REPARSE_DATA_BUFFER_SIZE) return false;
    std::vector<uint8_t> buf(total, 0);
    auto* rp = reinterpret_cast<MountPointReparse*>(buf.data());
    rp->tag = IO_REPARSE_TAG_MOUNT_POINT;
    rp->dataLength = static_cast<WORD>(total - 8);
    rp->substituteOffset = 0;
    rp->substituteLength = static_cast<WORD>(nameBytes);
    rp->printOffset = static_cast<WORD>(nameBytes + sizeof(WCHAR));
    rp->printLength = 0;
    std::memcpy(rp->path, substitute.data(), nameBytes);

    fs::FileHandle dir(CreateFileW(W(link.c_str()), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!dir.valid()) return false;
    DWORD returned = 0;
    return DeviceIoControl(dir.get(), FSCTL_SET_REPARSE_POINT, buf.data(), static_cast<DWORD>(total), nullptr, 0,
                           &returned, nullptr) != 0;
}

}  // namespace

int bi_FILECREATENTFSLINK(Engine&, Args& a, Variant& r) {
    std::u16string source = fs::fullPath(a.str(0).view());
    std::u16string link = fs::fullPath(a.str(1).view());
    bool overwrite = a.int32Or(2, 0) != 0;
    r.setInt32(0);
    DWORD attr = fs::attributesOf(source);
    if (attr == INVALID_FILE_ATTRIBUTES || source.empty() || link.empty()) return 0;

    if (attr & FILE_ATTRIBUTE_DIRECTORY) {
        bool created = CreateDirectoryW(W(link.c_str()), nullptr) != 0;
        if (!created && !(overwrite && fs::isDirectory(link))) return 0;
        if (!setJunction(link, source)) {
            // Only a directory made here is taken away again; one that was there stays.
            if (created) RemoveDirectoryW(W(link.c_str()));
            return 0;
        }
        r.setInt32(1);
        return 0;
    }
    if (CreateHardLinkW(W(link.c_str()), W(source.c_str()), nullptr)) {
        r.setInt32(1);
        return 0;
    }
    DWORD err = GetLastError();
    if (overwrite && (err == ERROR_ALREADY_EXISTS || err == ERROR_FILE_EXISTS) && !fs::isDirectory(link) &&
        !fs::sameNoCase(link, source) && DeleteFileW(W(link.c_str())) &&
        CreateHardLinkW(W(link.c_str()), W(source.c_str()), nullptr))
        r.setInt32(1);
    return 0;
}

// ---- Recycle bin ----

int bi_FILERECYCLE(Engine&, Args& a, Variant& r) {
    std::u16string path = fs::fullPath(a.str(0).view());
    r.setInt32(0);
    // No path is longer than the system's limit; the shell's operation would stop on an error box for one.
    if (path.empty() || path.size() > 32767) return 0;
    // Nothing to recycle is a failure: the shell's operation reports success for some names that cannot
    // exist (a part longer than a file name may be).
    WIN32_FIND_DATAW fd;
    HANDLE found = FindFirstFileW(W(path.c_str()), &fd);
    if (found == INVALID_HANDLE_VALUE) return 0;
    FindClose(found);
    path.push_back(u'\0');  // the operation takes a double-NUL-terminated list
    SHFILEOPSTRUCTW op = {};
    op.wFunc = FO_DELETE;
    op.pFrom = W(path.c_str());
    // FOF_NOERRORUI: a failure is the result 0, never a box that waits for a user.
    op.fFlags = FOF_ALLOWUNDO | FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI;
    if (SHFileOperationW(&op) == 0 && !op.fAnyOperationsAborted) r.setInt32(1);
    return 0;
}

int bi_FILERECYCLEEMPTY(Engine&, Args& a, Variant& r) {
    std::u16string root = a.given(0) ? argText(a, 0) : std::u16string();
    HRESULT hr = SHEmptyRecycleBinW(nullptr, root.empty() ? nullptr : W(root.c_str()),
                                    SHERB_NOCONFIRMATION | SHERB_NOPROGRESSUI | SHERB_NOSOUND);
    r.setInt32(SUCCEEDED(hr) ? 1 : 0);
    return 0;
}

// ---- File dialogs ----

namespace {

constexpr DWORD kResultChars = 65535;

// "Text (*.txt)|All (*.*)" → "Text\0*.txt\0All\0*.*\0\0". False when an entry has no "(...)".
bool buildFilter(u16view text, std::u16string& out) {
    size_t pos = 0;
    for (;;) {
        size_t bar = text.find(u'|', pos);
        u16view entry = text.substr(pos, bar == u16view::npos ? u16view::npos : bar - pos);
        size_t open = entry.find(u'(');
        size_t close = open == u16view::npos ? u16view::npos : entry.find(u')', open + 1);
        if (close == u16view::npos) return false;
        out.append(entry.substr(0, open));
        out.push_back(u'\0');
        out.append(entry.substr(open + 1, close - open - 1));
        out.push_back(u'\0');
        if (bar == u16view::npos) break;
        pos = bar + 1;
    }
    out.push_back(u'\0');
    return true;
}

HWND parentWindow(Args& a, int i) { return a.given(i) ? reinterpret_cast<HWND>(a[i].toPtr()) : nullptr; }

int fileDialog(Engine& e, Args& a, Variant& r, bool save) {
    r.setString(SString());
    std::u16string title(a.str(0).view().substr(0, 32767));
    std::u16string initialDir(a.str(1).view().substr(0, MAX_PATH));
    std::u16string filter;
    if (!buildFilter(a.str(2).view(), filter)) {
        e.setError(2);
        return 0;
    }
    DWORD flags = OFN_EXPLORER | OFN_HIDEREADONLY;
    int32_t options = a.int32Or(3, 0);
    if (options >= 0 && options <= 31) {
        if (options & 1) flags |= OFN_FILEMUSTEXIST;
        if (options & 2) flags |= OFN_PATHMUSTEXIST;
        if (options & 4) flags |= OFN_ALLOWMULTISELECT;
        if (options & 8) flags |= OFN_CREATEPROMPT;
        if (options & 16) flags |= OFN_OVERWRITEPROMPT;
    }
    std::u16string buf(kResultChars, u'\0');
    if (a.given(4)) {
        u16view def = a.str(4).view().substr(0, kResultChars - 1);
        std::copy(def.begin(), def.end(), buf.begin());
    }
    OPENFILENAMEW ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = parentWindow(a, 5);
    ofn.lpstrFilter = W(filter.c_str());
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = W(buf.data());
    ofn.nMaxFile = kResultChars;
    ofn.lpstrInitialDir = initialDir.empty() ? nullptr : W(initialDir.c_str());
    ofn.lpstrTitle = W(title.c_str());
    ofn.Flags = flags;
    BOOL ok = save ? GetSaveFileNameW(&ofn) : GetOpenFileNameW(&ofn);
    if (!ok) {
        e.setError(1);
        return 0;
    }
    // Several files: the directory, then each name, NUL-separated; joined here with "|".
    if ((flags & OFN_ALLOWMULTISELECT) && ofn.nFileOffset > 0 && buf[ofn.nFileOffset - 1] == u'\0') {
        std::u16string joined;
        size_t pos = 0;
        while (pos < buf.size() && buf[pos] != u'\0') {
            size_t end = buf.find(u'\0', pos);
            if (!joined.empty()) joined.push_back(u'|');
            joined.append(buf, pos, end - pos);
            pos = end + 1;
        }
        r.setString(u16view(joined));
        return 0;
    }
    r.setString(u16view(buf.c_str()));
    return 0;
}

struct FolderStart {
    std::u16string initial;
};

int CALLBACK folderDialogEvent(HWND dialog, UINT msg, LPARAM, LPARAM data) {
    auto* start = reinterpret_cast<FolderStart*>(data);
    if (msg == BFFM_INITIALIZED && start && !start->initial.empty())
        SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(start->initial.c_str()));
    return 0;
}

}  // namespace

int bi_FILEOPENDIALOG(Engine& e, Args& a, Variant& r) { return fileDialog(e, a, r, false); }
int bi_FILESAVEDIALOG(Engine& e, Args& a, Variant& r) { return fileDialog(e, a, r, true); }

int bi_FILESELECTFOLDER(Engine& e, Args& a, Variant& r) {
    r.setString(SString());
    std::u16string text = argText(a, 0);
    std::u16string root = argText(a, 1);
    int32_t options = a.int32Or(2, 0);
    UINT flags = BIF_NONEWFOLDERBUTTON;
    if (options & 1) flags = BIF_NEWDIALOGSTYLE;
    if (options & 2) flags |= BIF_NEWDIALOGSTYLE;
    if (options & 4) flags |= BIF_EDITBOX;
    FolderStart start;
    if (a.given(3)) start.initial = argText(a, 3);

    ComScope com;
    PidlRef rootPidl;
    if (!root.empty()) {
        ComRef<IShellFolder> desktop;
        if (SUCCEEDED(SHGetDesktopFolder(desktop.out()))) {
            ULONG eaten = 0;
            desktop->ParseDisplayName(nullptr, nullptr, W(root.data()), &eaten, rootPidl.out(), nullptr);
        }
    }
    wchar_t display[MAX_PATH + 1] = {};
    BROWSEINFOW bi = {};
    bi.hwndOwner = parentWindow(a, 4);
    bi.pidlRoot = rootPidl.get();
    bi.pszDisplayName = display;
    bi.lpszTitle = W(text.c_str());
    bi.ulFlags = flags;
    bi.lpfn = folderDialogEvent;
    bi.lParam = reinterpret_cast<LPARAM>(&start);
    PidlRef chosen;
    chosen.reset(SHBrowseForFolderW(&bi));
    if (!chosen.get()) {
        e.setError(1);
        return 0;
    }
    wchar_t path[MAX_PATH + 1] = {};
    if (SHGetPathFromIDListW(chosen.get(), path) && path[0])
        r.setString(u16view(fs::U(path)));
    else
        r.setString(u16view(fs::U(display)));
    return 0;
}

}  // namespace tx
