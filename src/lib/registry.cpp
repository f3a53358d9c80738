// Registry built-ins: REGREAD, REGWRITE, REGDELETE, REGENUMKEY and REGENUMVAL.
//
// A key string is an optional "\\computer\" prefix (a remote registry, connected first), a root (long or
// short name, any case, optionally followed by "64" for the 64-bit view), then "\" and the subkey. The
// "64" suffix only matters to a 32-bit runtime on a 64-bit system; a native runtime already sees that
// view. Every key opened here has one owner that closes it on every path out.
//
// @error of these built-ins: 2 a bad root, 3 the remote registry could not be reached, 1 the key could not
// be opened or created (@extended: the system error), -1 no such value or entry, -2 a value type that
// cannot be read or written (or, for REGDELETE, a deletion that failed).
#include "lib/process.h"

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/engine.h"

namespace tx {

namespace {

const wchar_t* W(const char16_t* s) { return reinterpret_cast<const wchar_t*>(s); }
const char16_t* U(const wchar_t* s) { return reinterpret_cast<const char16_t*>(s); }

// Owner of a key opened or connected here (the predefined roots are never put in one).
class RegKey {
public:
    RegKey() = default;
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    ~RegKey() { reset(); }
    void reset() {
        if (k_) RegCloseKey(k_);
        k_ = nullptr;
    }
    HKEY get() const { return k_; }
    HKEY* put() {
        reset();
        return &k_;
    }

private:
    HKEY k_ = nullptr;
};

bool sameText(u16view a, const char16_t* b) {
    return CompareStringOrdinal(W(a.data()), static_cast<int>(a.size()), W(b), -1, TRUE) == CSTR_EQUAL;
}

bool runningUnderWow64() {
    static const bool wow = [] {
        BOOL w = FALSE;
        return IsWow64Process(GetCurrentProcess(), &w) && w;
    }();
    return wow;
}

// A split key string.
struct KeyPath {
    HKEY root = nullptr;
    REGSAM view = 0;         // KEY_WOW64_64KEY for a "64" root under emulation
    std::u16string machine;  // "\\computer" for a remote registry, else empty
    std::u16string subkey;   // may be empty (the root itself)
};

bool splitKey(u16view key, KeyPath& out) {
    if (key.size() >= 2 && key[0] == u'\\' && key[1] == u'\\') {
        size_t end = key.find(u'\\', 2);
        if (end == u16view::npos || end == 2) return false;
        out.machine = key.substr(0, end);
        key.remove_prefix(end + 1);
    }
    size_t slash = key.find(u'\\');
    u16view root = key.substr(0, slash);
    if (slash != u16view::npos) out.subkey = key.substr(slash + 1);
    if (root.size() > 2 && root.substr(root.size() - 2) == u"64") {
        root.remove_suffix(2);
        if (runningUnderWow64()) out.view = KEY_WOW64_64KEY;
    }
    static const struct {
        const char16_t* longName;
        const char16_t* shortName;
        HKEY key;
    } kRoots[] = {
        {u"HKEY_LOCAL_MACHINE", u"HKLM", HKEY_LOCAL_MACHINE},
        {u"HKEY_CLASSES_ROOT", u"HKCR", HKEY_CLASSES_ROOT},
        {u"HKEY_CURRENT_CONFIG", u"HKCC", HKEY_CURRENT_CONFIG},
        {u"HKEY_CURRENT_USER", u"HKCU", HKEY_CURRENT_USER},
        {u"HKEY_USERS", u"HKU", HKEY_USERS},
    };
    for (const auto& r : kRoots) {
        if (sameText(root, r.longName) || sameText(root, r.shortName)) {
            out.root = r.key;
            return true;
        }
    }
    return false;
}

// Splits the key argument and connects a remote registry. Returns the root to open below, or nullptr
// after setting @error (2 bad root, 3 connection failed).
HKEY rootOf(Engine& e, u16view key, KeyPath& path, RegKey& remote) {
    if (!splitKey(key, path)) {
        e.setError(2);
        return nullptr;
    }
    if (path.machine.empty()) return path.root;
    LONG rc = RegConnectRegistryW(W(path.machine.c_str()), path.root, remote.put());
    if (rc != ERROR_SUCCESS) {
        e.setError(3);
        e.setExtended(rc);
        return nullptr;
    }
    return remote.get();
}

// Opens the key named by the argument with the given access; false after setting @error.
bool openKey(Engine& e, u16view key, REGSAM access, RegKey& out, KeyPath& path, RegKey& remote) {
    HKEY root = rootOf(e, key, path, remote);
    if (!root) return false;
    LONG rc = RegOpenKeyExW(root, W(path.subkey.c_str()), 0, access | path.view, out.put());
    if (rc != ERROR_SUCCESS) {
        e.setError(1);
        e.setExtended(rc);
        return false;
    }
    return true;
}

// Turns registry data into the script's value; false for a type the language does not read.
bool valueOf(DWORD type, const std::vector<BYTE>& data, DWORD size, Variant& out) {
    auto chars = [&] { return reinterpret_cast<const char16_t*>(data.data()); };
    switch (type) {
        case REG_SZ:
        case REG_EXPAND_SZ: {
            u16view s(chars(), size / sizeof(char16_t));
            out.setString(s.substr(0, s.find(u'\0')));
            return true;
        }
        case REG_MULTI_SZ: {
            size_t n = size / sizeof(char16_t);
            while (n > 0 && chars()[n - 1] == u'\0') --n;  // the final separator and the list's end
            SString s(chars(), n);
            char16_t* p = s.mutableData();
            for (size_t i = 0; i < n; ++i)
                if (p[i] == u'\0') p[i] = u'\n';
            out.setString(std::move(s));
            return true;
        }
        case REG_BINARY:
            out = Variant::binary(data.data(), size);
            return true;
        case REG_DWORD: {
            uint32_t v = 0;
            std::memcpy(&v, data.data(), size < 4 ? size : 4);
            out.setDouble(v);
            return true;
        }
        default:
            return false;
    }
}

}  // namespace

int bi_REGREAD(Engine& e, Args& a, Variant& r) {
    r.setString(SString());
    KeyPath path;
    RegKey remote, key;
    if (!openKey(e, a.str(0).view(), KEY_READ, key, path, remote)) return 0;
    const SString& name = a.str(1);
    DWORD type = 0, size = 0;
    LONG rc = RegQueryValueExW(key.get(), W(name.c_str()), nullptr, &type, nullptr, &size);
    std::vector<BYTE> data;
    while (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA) {
        data.assign(size + 2 * sizeof(char16_t), 0);  // room for a missing terminator
        DWORD got = size;
        rc = RegQueryValueExW(key.get(), W(name.c_str()), nullptr, &type, data.data(), &got);
        if (rc == ERROR_SUCCESS) {
            size = got;
            break;
        }
        if (rc == ERROR_MORE_DATA) size = got;  // grew in between
    }
    if (rc != ERROR_SUCCESS) {
        e.setError(-1);
        e.setExtended(rc);
        return 0;
    }
    e.setExtended(static_cast<int32_t>(type));
    if (!valueOf(type, data, size, r)) e.setError(-2);
    return 0;
}

int bi_REGWRITE(Engine& e, Args& a, Variant& r) {
    KeyPath path;
    RegKey remote, key;
    HKEY root = rootOf(e, a.str(0).view(), path, remote);
    if (!root) {
        r.setInt32(0);
        return 0;
    }
    LONG rc = RegCreateKeyExW(root, W(path.subkey.c_str()), 0, nullptr, 0, KEY_WRITE | path.view, nullptr,
                              key.put(), nullptr);
    if (rc != ERROR_SUCCESS) {
        e.setError(1);
        e.setExtended(rc);
        r.setInt32(0);
        return 0;
    }
    if (a.count() == 1) return 0;  // the key alone

    const SString typeName = a.strOr(2, u"");
    Variant value = a.count() > 3 ? a[3] : Variant::emptyString();
    DWORD type;
    std::u16string text;
    std::vector<BYTE> bytes;
    const BYTE* data = nullptr;
    DWORD size = 0;
    if (sameText(typeName.view(), u"REG_SZ") || sameText(typeName.view(), u"REG_EXPAND_SZ")) {
        type = sameText(typeName.view(), u"REG_SZ") ? REG_SZ : REG_EXPAND_SZ;
        text = value.toString().view();
        data = reinterpret_cast<const BYTE*>(text.c_str());
        size = static_cast<DWORD>((text.size() + 1) * sizeof(char16_t));
    } else if (sameText(typeName.view(), u"REG_MULTI_SZ")) {
        type = REG_MULTI_SZ;
        text = value.toString().view();
        for (char16_t& c : text)
            if (c == u'\n') c = u'\0';
        text.push_back(u'\0');  // with the string's own terminator: two zeros
        data = reinterpret_cast<const BYTE*>(text.c_str());
        size = static_cast<DWORD>((text.size() + 1) * sizeof(char16_t));
    } else if (sameText(typeName.view(), u"REG_DWORD")) {
        type = REG_DWORD;
        uint32_t v = static_cast<uint32_t>(value.toInt64());  // 4294967295 stays all ones
        bytes.assign(reinterpret_cast<const BYTE*>(&v), reinterpret_cast<const BYTE*>(&v) + 4);
    } else if (sameText(typeName.view(), u"REG_QWORD")) {
        type = REG_QWORD;
        int64_t v = value.toInt64();
        bytes.assign(reinterpret_cast<const BYTE*>(&v), reinterpret_cast<const BYTE*>(&v) + 8);
    } else if (sameText(typeName.view(), u"REG_BINARY")) {
        type = REG_BINARY;
        value.toBinary();
        bytes.assign(value.binaryData(), value.binaryData() + value.binaryLength());
    } else {
        e.setError(-2);
        r.setInt32(0);
        return 0;
    }
    if (!data) {
        data = bytes.data();
        size = static_cast<DWORD>(bytes.size());
    }
    const SString& name = a.str(1);
    rc = RegSetValueExW(key.get(), W(name.c_str()), 0, type, data, size);
    if (rc != ERROR_SUCCESS) {
        e.setError(-1);
        e.setExtended(rc);
        r.setInt32(0);
    }
    return 0;
}

int bi_REGDELETE(Engine& e, Args& a, Variant& r) {
    KeyPath path;
    RegKey remote, key;
    if (!openKey(e, a.str(0).view(), KEY_ALL_ACCESS, key, path, remote)) {
        r.setInt32(0);
        return 0;
    }
    LONG rc;
    if (a.given(1)) {
        rc = RegDeleteValueW(key.get(), W(a.str(1).c_str()));
        if (rc == ERROR_FILE_NOT_FOUND) {
            r.setInt32(0);
            return 0;
        }
    } else {
        key.reset();
        std::u16string sub = path.subkey;
        while (!sub.empty() && sub.back() == u'\\') sub.pop_back();
        if (sub.empty()) {  // a root is never deleted
            e.setError(-2);
            r.setInt32(2);
            return 0;
        }
        using DeleteKeyEx = LONG(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);
        static const auto deleteKeyEx = reinterpret_cast<DeleteKeyEx>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"advapi32.dll"), "RegDeleteKeyExW")));
        HKEY root = remote.get() ? remote.get() : path.root;
        rc = deleteKeyEx ? deleteKeyEx(root, W(sub.c_str()), path.view, 0) : RegDeleteKeyW(root, W(sub.c_str()));
    }
    if (rc != ERROR_SUCCESS) {
        e.setError(-2);
        e.setExtended(rc);
        r.setInt32(2);
    }
    return 0;
}

// REGENUMKEY and REGENUMVAL: the name of entry n (from 1).
int enumerate(Engine& e, Args& a, Variant& r, bool values) {
    r.setString(SString());
    KeyPath path;
    RegKey remote, key;
    if (!openKey(e, a.str(0).view(), KEY_READ, key, path, remote)) return 0;
    const int64_t n = a.int64(1);
    wchar_t name[16384];  // the longest value name, and more than the longest key name
    DWORD len = 16384, type = 0;
    LONG rc = ERROR_NO_MORE_ITEMS;
    if (n >= 1 && n <= UINT32_MAX) {
        DWORD index = static_cast<DWORD>(n - 1);
        rc = values ? RegEnumValueW(key.get(), index, name, &len, nullptr, &type, nullptr, nullptr)
                    : RegEnumKeyExW(key.get(), index, name, &len, nullptr, nullptr, nullptr, nullptr);
    }
    if (rc != ERROR_SUCCESS) {
        e.setError(-1);
        return 0;
    }
    r.setString(u16view(U(name), len));
    if (values) e.setExtended(static_cast<int32_t>(type));
    return 0;
}

int bi_REGENUMKEY(Engine& e, Args& a, Variant& r) { return enumerate(e, a, r, false); }
int bi_REGENUMVAL(Engine& e, Args& a, Variant& r) { return enumerate(e, a, r, true); }

}  // namespace tx
