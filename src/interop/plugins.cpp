// Plug-in DLLs: a table of loaded plug-ins (the script's handle is the slot index, from 0), each with the
// function table it reported through "QX3_GetPluginDetails", and the call path that the function-call code
// reaches through g_pluginCall for a name that is no user function.
//
// A plug-in's table is foreign memory: before it is kept, the count must be sane and every entry and name
// must lie in readable memory, so a malformed plug-in is refused at PLUGINOPEN rather than crashing a later
// call. A result record is read only when its memory is readable, for the same reason.
#include "interop/plugins.h"

#include <windows.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/engine.h"
#include "core/handle_table.h"
#include "host/runloop.h"
#include "lib/encoding.h"
#include "tarvex3_plugin.h"

namespace tx {
namespace {

constexpr int32_t kMaxFunctions = 65536;  // more than any real plug-in has; a larger count is garbage
constexpr size_t kMaxNameLength = 1024;

struct Plugin {
    HMODULE module = nullptr;
    int32_t count = 0;
    const QX3_FUNCTION* table = nullptr;
    QX3_FreeVarFn freeVar = nullptr;

    explicit Plugin(HMODULE m) : module(m) {}
    ~Plugin() {
        if (module) FreeLibrary(module);
    }
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;
};

HandleTable<Plugin>& plugins() {
    static HandleTable<Plugin> table;
    return table;
}

// True when [p, p + n) lies in committed memory that may be read.
bool readable(const void* p, size_t n) {
    if (!p) return false;
    auto at = reinterpret_cast<uintptr_t>(p);
    const uintptr_t end = at + n;
    if (end < at) return false;
    while (at < end) {
        MEMORY_BASIC_INFORMATION mbi;
        if (!VirtualQuery(reinterpret_cast<const void*>(at), &mbi, sizeof mbi)) return false;
        if (mbi.State != MEM_COMMIT) return false;
        const DWORD prot = mbi.Protect & 0xFF;
        if ((mbi.Protect & PAGE_GUARD) || prot == PAGE_NOACCESS || prot == PAGE_EXECUTE) return false;
        at = reinterpret_cast<uintptr_t>(mbi.BaseAddress) + mbi.RegionSize;
    }
    return true;
}

// The length of a zero-terminated byte string in readable memory, at most max; false when unreadable or
// longer.
bool boundedLength(const char* s, size_t max, size_t& len) {
    for (len = 0; len <= max; ++len) {
        // Checked where the text starts and again at each page boundary it crosses.
        if (len == 0 || (reinterpret_cast<uintptr_t>(s + len) & 0xFFF) == 0) {
            if (!readable(s + len, 1)) return false;
        }
        if (s[len] == 0) return true;
    }
    return false;
}

bool tableIsSound(int32_t count, const QX3_FUNCTION* table) {
    if (count < 0 || count > kMaxFunctions) return false;
    if (count == 0) return true;
    if (!readable(table, sizeof(QX3_FUNCTION) * static_cast<size_t>(count))) return false;
    for (int32_t i = 0; i < count; ++i) {
        size_t len;
        if (!table[i].name || !boundedLength(table[i].name, kMaxNameLength, len) || len == 0) return false;
    }
    return true;
}

bool sameNameIgnoringCase(const char* a, const std::string& b) {
    size_t i = 0;
    for (; a[i] && i < b.size(); ++i) {
        auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 32);
        if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 32);
        if (x != y) return false;
    }
    return a[i] == 0 && i == b.size();
}

void closeAll() { plugins().clear(); }

// The value of a result record the plug-in returned.
void readResult(const QX3_VALUE& v, Variant& out) {
    switch (v.type) {
        case QX3_INT64: out.setInt64(v.v.i64); return;
        case QX3_DOUBLE: out.setDouble(v.v.d); return;
        case QX3_STRING: {
            size_t len = 0;
            if (v.v.str && boundedLength(v.v.str, SIZE_MAX / 2, len)) {
                out.setString(enc::fromAnsi(v.v.str, len));
            } else {
                out.setString(u16view());
            }
            return;
        }
        case QX3_POINTER: out.setPtr(reinterpret_cast<uintptr_t>(v.v.ptr)); return;
        default: out.setInt32(v.v.i32); return;
    }
}

int callPlugin(u16view upperName, Variant* args, int n, Variant& result, int32_t& error, Variant& extended) {
    result.setInt32(1);
    error = 0;
    extended.setInt32(0);
    const std::string name = enc::toAnsi(upperName);
    Plugin* owner = nullptr;
    const QX3_FUNCTION* entry = nullptr;
    plugins().forEach([&](int64_t, Plugin& p) {
        for (int32_t i = 0; !entry && i < p.count; ++i) {
            if (sameNameIgnoringCase(p.table[i].name, name)) {
                owner = &p;
                entry = &p.table[i];
            }
        }
    });
    if (!entry) return 0;
    if (n < entry->min_args || n > entry->max_args) return -1;
    auto fn = reinterpret_cast<QX3_PluginFn>(reinterpret_cast<void*>(GetProcAddress(owner->module, entry->name)));
    if (!fn) return 0;  // the table names a function the DLL does not export: as if no plug-in had it
    const QX3_FreeVarFn freeVar = owner->freeVar;

    // The records and the ANSI copies of string arguments live until the call has returned.
    std::vector<QX3_VALUE> records(static_cast<size_t>(n > 0 ? n : 1));
    std::vector<std::string> texts(static_cast<size_t>(n > 0 ? n : 1));
    for (int i = 0; i < n; ++i) {
        QX3_VALUE& rec = records[static_cast<size_t>(i)];
        std::memset(&rec, 0, sizeof rec);
        const Variant& v = args[i];
        switch (v.kind()) {
            case Kind::Int64: rec.type = QX3_INT64; rec.v.i64 = v.toInt64(); break;
            case Kind::Double: rec.type = QX3_DOUBLE; rec.v.d = v.toDouble(); break;
            case Kind::String:
                texts[static_cast<size_t>(i)] = enc::toAnsi(v.toString().view());
                rec.type = QX3_STRING;
                rec.v.str = texts[static_cast<size_t>(i)].data();
                break;
            case Kind::Ptr: rec.type = QX3_POINTER; rec.v.ptr = reinterpret_cast<void*>(v.toPtr()); break;
            default: rec.type = QX3_INT32; rec.v.i32 = v.toInt32(); break;
        }
    }
    QX3_VALUE* out = nullptr;
    int32_t err = 0, ext = 0;
    fn(n, records.data(), &out, &err, &ext);
    if (out) {
        if (readable(out, sizeof *out)) readResult(*out, result);
        if (freeVar) freeVar(out);
    }
    error = err;
    extended.setInt32(ext);
    return 1;
}

}  // namespace

int bi_PLUGINOPEN(Engine&, Args& a, Variant& r) {
    r.setInt32(-1);
    const SString& path = a.str(0);
    // The wide path: an ANSI copy would lose file names outside the code page.
    if (path.empty() || path.view().find(u'\0') != u16view::npos) return 0;
    auto plugin = std::make_unique<Plugin>(LoadLibraryW(reinterpret_cast<const wchar_t*>(path.c_str())));
    if (!plugin->module) return 0;
    auto details = reinterpret_cast<QX3_GetPluginDetailsFn>(
        reinterpret_cast<void*>(GetProcAddress(plugin->module, "QX3_GetPluginDetails")));
    if (!details) return 0;  // not a plug-in: unloaded again with its owner
    int32_t count = 0;
    QX3_FUNCTION* table = nullptr;
    details(&count, &table);
    if (!tableIsSound(count, table)) return 0;
    plugin->count = count;
    plugin->table = table;
    plugin->freeVar = reinterpret_cast<QX3_FreeVarFn>(
        reinterpret_cast<void*>(GetProcAddress(plugin->module, "QX3_FreeVar")));
    static bool hooked = false;
    if (!hooked) {
        hooked = true;
        g_pluginCall = callPlugin;
        addShutdownHook(closeAll);
    }
    r.setInt32(static_cast<int32_t>(plugins().add(std::move(plugin)) - 1));
    return 0;
}

int bi_PLUGINCLOSE(Engine&, Args& a, Variant& r) {
    const int64_t handle = a.int64(0);
    r.setBool(handle >= 0 && handle < INT64_MAX && plugins().remove(handle + 1) != nullptr);
    return 0;
}

}  // namespace tx
