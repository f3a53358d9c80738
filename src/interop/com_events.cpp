// COM events and the COM error handler: OBJEVENT, the runtime's own dispatch objects that serve as the
// error handler ("Tarvex.Error") and as event-sink handles, the sinks that servers call, and the 64-entry
// event ring the run loop drains.
//
// Sinks may be called on any thread, so they only copy the event into the ring (under a spin flag, with
// plain VARIANTs and std::u16string: nothing of the interpreter is touched there). The run loop takes one
// entry per turn on the script's thread, turns it into script values and calls the event function. The
// error handler is active while its object lives; a COM failure then fills its fields and queues a call of
// its function, which runs before the next line.
#include <cstring>
#include <string>
#include <vector>

#include "core/interp.h"
#include "core/platform.h"
#include "env/macro_feeds.h"
#include "host/runloop.h"
#include "interop/com.h"
#include "interop/com_internal.h"

namespace tx {
namespace com {

namespace {

// Members of the runtime's objects, matched without regard to case; the index is the dispatch id.
const char16_t* const kMembers[] = {u"NULL",        u"RAISE",     u"CLEAR",          u"NUMBER",      u"WINDESCRIPTION",
                                    u"DESCRIPTION", u"SOURCE",    u"HELPFILE",       u"HELPCONTEXT", u"LASTDLLERROR",
                                    u"SCRIPTLINE",  u"RETCODE",   u"STOP"};
enum : DISPID {
    kNull = 0,
    kRaise = 1,
    kClear = 2,
    kNumber = 3,
    kWinDescription = 4,
    kDescription = 5,
    kSource = 6,
    kHelpFile = 7,
    kHelpContext = 8,
    kLastDllError = 9,
    kScriptLine = 10,
    kRetCode = 11,
    kStop = 12,
};
constexpr int kMemberCount = 13;

bool compareNoCase(u16view a, u16view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (asciiUpper(a[i]) != asciiUpper(b[i])) return false;
    return true;
}

std::u16string upper(const std::u16string& s) { return asciiUpperCopy(u16view(s.data(), s.size())); }

class EventSink;

// The error handler and the sink handles: one class, two roles.
class RuntimeObject final : public IDispatch {
public:
    enum class Role { ErrorHandler, SinkHandle };
    explicit RuntimeObject(Role role) : role_(role) {
        for (auto& v : fields_) VariantInit(&v);
    }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IDispatch) {
            *out = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG n = InterlockedDecrement(&refs_);
        if (n == 0) delete this;
        return static_cast<ULONG>(n);
    }
    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override {
        if (n) *n = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** ti) override {
        if (ti) *ti = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        if (!names || !ids || count == 0) return E_INVALIDARG;
        HRESULT hr = S_OK;
        for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
        std::u16string n = upper(reinterpret_cast<const char16_t*>(names[0]));
        for (int k = 0; k < kMemberCount; ++k)
            if (n == kMembers[k]) ids[0] = k;
        if (ids[0] == DISPID_UNKNOWN || count > 1) hr = DISP_E_UNKNOWNNAME;
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* dp, VARIANT* result,
                                     EXCEPINFO*, UINT*) override;

    void setField(DISPID id, const VARIANT& v) {
        VariantClear(&fields_[id]);
        VariantCopyInd(&fields_[id], const_cast<VARIANT*>(&v));
    }
    void setInt(DISPID id, int32_t x) {
        VariantClear(&fields_[id]);
        V_VT(&fields_[id]) = VT_I4;
        V_I4(&fields_[id]) = x;
    }
    void setText(DISPID id, const std::u16string& s) {
        VariantClear(&fields_[id]);
        V_VT(&fields_[id]) = VT_BSTR;
        V_BSTR(&fields_[id]) = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(s.data()), static_cast<UINT>(s.size()));
    }
    void setBstr(DISPID id, BSTR b) {
        VariantClear(&fields_[id]);
        V_VT(&fields_[id]) = VT_BSTR;
        V_BSTR(&fields_[id]) = b ? SysAllocStringLen(b, SysStringLen(b)) : SysAllocString(L"");
    }
    void clearFields() {
        for (auto& v : fields_) VariantClear(&v);
    }
    // Queues a call of the handler's function (error handler role). The handler object goes along as the
    // one argument: a function that declares a parameter gets it (without one it would never be called),
    // a function without parameters is called as before.
    void queueCall() {
        VARIANT self;
        VariantInit(&self);
        V_VT(&self) = VT_DISPATCH;
        V_DISPATCH(&self) = this;  // copied (and referenced) by the queue
        queueEvent(this, function_, std::u16string(), &self, 1);
    }

    Role role_;
    std::u16string function_;  // error handler: the function's name as given; sink: the prefix
    // Sink handle: the connection.
    IConnectionPoint* point_ = nullptr;
    DWORD cookie_ = 0;
    EventSink* sink_ = nullptr;
    void stop();

private:
    ~RuntimeObject();
    LONG refs_ = 1;
    VARIANT fields_[kMemberCount];
};

RuntimeObject* g_handler = nullptr;          // the active error handler (no reference of its own)
std::vector<RuntimeObject*> g_sinkHandles;   // live sink handles (no references), unadvised at the end
bool g_eventRunning = false;                 // an event function is running
// The script's thread (only it may touch the run loop's state); taken when the first sink or handler is
// made, which happens on it.
DWORD g_scriptThread = 0;

// ---- the sink a server calls ---------------------------------------------------------------------------------

class EventSink final : public IDispatch {
public:
    EventSink(const IID& iid, ITypeInfo* ti, IDispatch* source, std::u16string prefix)
        : iid_(iid), ti_(ti), source_(source), prefix_(std::move(prefix)) {
        if (ti_) ti_->AddRef();
        if (source_) source_->AddRef();
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == iid_) {
            *out = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG n = InterlockedDecrement(&refs_);
        if (n == 0) delete this;
        return static_cast<ULONG>(n);
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override {
        if (n) *n = ti_ ? 1 : 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT i, LCID, ITypeInfo** ti) override {
        if (!ti) return E_POINTER;
        *ti = nullptr;
        if (i != 0 || !ti_) return DISP_E_BADINDEX;
        ti_->AddRef();
        *ti = ti_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        if (!ti_) return DISP_E_UNKNOWNNAME;
        return ti_->GetIDsOfNames(names, count, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* dp, VARIANT* result, EXCEPINFO*,
                                     UINT*) override {
        if (result) VariantInit(result);
        std::u16string name;
        if (ti_) {
            BSTR b = nullptr;
            UINT got = 0;
            if (SUCCEEDED(ti_->GetNames(id, &b, 1, &got)) && got == 1 && b)
                name.assign(reinterpret_cast<const char16_t*>(b), SysStringLen(b));
            SysFreeString(b);
        }
        // The server gives the arguments last first; the entry keeps them in their natural order.
        int n = dp ? static_cast<int>(dp->cArgs) : 0;
        std::vector<VARIANT> args(static_cast<size_t>(n));
        for (int i = 0; i < n; ++i) args[static_cast<size_t>(i)] = dp->rgvarg[n - 1 - i];
        queueEvent(source_, prefix_, name, args.data(), n);
        return S_OK;
    }

private:
    ~EventSink() {
        if (ti_) ti_->Release();
        if (source_) source_->Release();
    }
    LONG refs_ = 1;
    IID iid_;
    ITypeInfo* ti_;
    IDispatch* source_;
    std::u16string prefix_;
};

void RuntimeObject::stop() {
    if (point_) {
        point_->Unadvise(cookie_);
        point_->Release();
        point_ = nullptr;
    }
    if (sink_) {
        sink_->Release();
        sink_ = nullptr;
    }
}

RuntimeObject::~RuntimeObject() {
    if (g_handler == this) g_handler = nullptr;
    for (size_t i = 0; i < g_sinkHandles.size(); ++i)
        if (g_sinkHandles[i] == this) {
            g_sinkHandles.erase(g_sinkHandles.begin() + static_cast<std::ptrdiff_t>(i));
            break;
        }
    stop();
    clearFields();
}

HRESULT RuntimeObject::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* dp, VARIANT* result, EXCEPINFO*,
                              UINT*) {
    if (result) VariantInit(result);
    if (id < 0 || id >= kMemberCount) return DISP_E_MEMBERNOTFOUND;
    UINT n = dp ? dp->cArgs : 0;
    if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
        if (id < kNumber || id > kRetCode) return DISP_E_MEMBERNOTFOUND;
        if (n < 1) return DISP_E_BADPARAMCOUNT;
        setField(id, dp->rgvarg[0]);
        return S_OK;
    }
    switch (id) {
        case kNull: return S_OK;
        case kRaise:
            if (n >= 1) setField(kNumber, dp->rgvarg[n - 1]);
            if (role_ == Role::ErrorHandler) queueCall();
            return S_OK;
        case kClear: clearFields(); return S_OK;
        case kStop: stop(); return S_OK;
        default:
            if (result) VariantCopy(result, &fields_[id]);
            return S_OK;
    }
}

// ---- the event ring ------------------------------------------------------------------------------------------

struct Entry {
    IDispatch* source = nullptr;
    std::u16string prefix, name;
    std::vector<VARIANT> args;
    void reset() {
        if (source) source->Release();
        source = nullptr;
        for (auto& v : args) VariantClear(&v);
        args.clear();
        prefix.clear();
        name.clear();
    }
};

constexpr uint32_t kRingSize = 64;
Entry g_ring[kRingSize];
uint32_t g_written = 0, g_read = 0;
volatile LONG g_ringFlag = 0;

// The spin flag: the caller owns the ring when its increment made the count 1; three tries, 10 ms apart.
bool lockRing() {
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (InterlockedIncrement(&g_ringFlag) == 1) return true;
        InterlockedDecrement(&g_ringFlag);
        Sleep(10);
    }
    return false;
}
void unlockRing() { InterlockedDecrement(&g_ringFlag); }

bool takeEntry(Entry& out) {
    if (!lockRing()) return false;
    bool got = false;
    if (g_read != g_written) {
        Entry& e = g_ring[g_read % kRingSize];
        out.source = e.source;
        e.source = nullptr;
        out.prefix = std::move(e.prefix);
        out.name = std::move(e.name);
        out.args = std::move(e.args);
        e.reset();
        ++g_read;
        got = true;
    }
    unlockRing();
    return got;
}

// Calls a user function with event arguments as the run loop calls event functions: the interrupted
// code's @error and @extended are kept.
bool callWithArgs(Engine& e, int index, std::vector<Variant>& args) {
    const UserFunction& f = e.userFunction(index);
    int n = static_cast<int>(args.size());
    if (n > f.maxArgs) n = f.maxArgs;
    if (n < f.minArgs) return false;
    // Event arguments are values: a parameter that wants a variable cannot have one.
    for (int k = 0; k < n; ++k)
        if (f.params[static_cast<size_t>(k)].byRef) {
            runState().currentLine = f.funcLine;  // the report shows the function's parameter list
            reportRuntimeError(err::ParamNoVar, -1);
            return false;
        }
    Frame& fr = e.frame();
    const int32_t error = fr.error;
    const bool errorByScript = fr.errorByScript;
    Variant extended = fr.extended;
    const bool extendedByScript = fr.extendedByScript;
    Variant result;
    bool ok = e.callUser(index, args.data(), n, result);
    Frame& after = e.frame();
    after.error = error;
    after.errorByScript = errorByScript;
    after.extended = std::move(extended);
    after.extendedByScript = extendedByScript;
    return ok;
}

}  // namespace

void queueEvent(IDispatch* source, const std::u16string& prefix, const std::u16string& name, const VARIANT* args,
                int n) {
    // Copies are made before the ring is taken (by-reference arguments as the values they point at).
    Entry fresh;
    fresh.prefix = prefix;
    fresh.name = name;
    fresh.args.resize(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        VariantInit(&fresh.args[static_cast<size_t>(i)]);
        VariantCopyInd(&fresh.args[static_cast<size_t>(i)], const_cast<VARIANT*>(&args[i]));
    }
    if (source) source->AddRef();
    fresh.source = source;
    if (!lockRing()) {
        fresh.reset();  // dropped
        return;
    }
    if (g_written - g_read >= kRingSize) {
        // Only the newest 64 are kept: the oldest entry gives way.
        g_ring[g_read % kRingSize].reset();
        ++g_read;
    }
    Entry& slot = g_ring[g_written % kRingSize];
    slot.source = fresh.source;
    fresh.source = nullptr;
    slot.prefix = std::move(fresh.prefix);
    slot.name = std::move(fresh.name);
    slot.args = std::move(fresh.args);
    ++g_written;
    unlockRing();
    if (GetCurrentThreadId() == g_scriptThread) serveSoon();
}

bool serveEvent() {
    if (g_eventRunning || g_read == g_written) return false;
    Engine& e = engine();
    Entry entry;
    while (takeEntry(entry)) {
        std::vector<Variant> args;
        int index = e.findUserFunction(upper(entry.prefix + entry.name));
        if (index < 0) {
            index = e.findUserFunction(upper(entry.prefix));
            if (index >= 0) args.push_back(Variant::string(u16view(entry.name)));
        }
        if (index < 0) {
            entry.reset();
            continue;
        }
        for (auto& v : entry.args) {
            args.emplace_back();
            fromVariant(v, args.back());
        }
        publishEventMacro(e, u"COM_EVENTOBJ", entry.source ? wrapDispatch(entry.source, true) : Variant::emptyString());
        entry.reset();
        g_eventRunning = true;
        callWithArgs(e, index, args);
        g_eventRunning = false;
        // The macro names the source while its function runs; kept afterwards it would keep the object
        // (and an error handler the script has dropped) alive.
        publishEventMacro(e, u"COM_EVENTOBJ", Variant::emptyString());
        return true;
    }
    return false;
}

bool handlerActive() { return g_handler != nullptr; }

bool failure(HRESULT code, const EXCEPINFO* info, const char16_t* message, bool fatal) {
    Engine& e = engine();
    const DWORD lastError = GetLastError();
    e.setError(static_cast<int32_t>(code));
    RuntimeObject* h = g_handler;
    if (!h) return !fatal;
    h->clearFields();
    h->setInt(kNumber, static_cast<int32_t>(code));
    h->setInt(kLastDllError, static_cast<int32_t>(lastError));
    h->setInt(kScriptLine, scriptStore().lineNumber(runState().currentLine));
    int32_t ret = static_cast<int32_t>(code);
    if (info) {
        h->setBstr(kSource, info->bstrSource);
        h->setBstr(kDescription, info->bstrDescription);
        h->setBstr(kHelpFile, info->bstrHelpFile);
        h->setInt(kHelpContext, static_cast<int32_t>(info->dwHelpContext));
        ret = info->wCode ? info->wCode : (info->scode ? static_cast<int32_t>(info->scode) : ret);
    } else {
        h->setText(kSource, u"");
        h->setText(kDescription, u"");
        h->setText(kHelpFile, u"");
        h->setInt(kHelpContext, 0);
    }
    h->setInt(kRetCode, ret);
    if (message) {
        h->setText(kWinDescription, message);
    } else {
        wchar_t* text = nullptr;
        DWORD len = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, static_cast<DWORD>(ret), 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
        h->setText(kWinDescription, len && text ? std::u16string(reinterpret_cast<const char16_t*>(text), len) : u"");
        if (text) LocalFree(text);
    }
    h->queueCall();
    return true;
}

namespace {

// Error 169 (a member name after a value that is no object; FOR ... IN over one) goes to the handler
// first.
bool offerError(Engine&, int messageId) {
    if (!g_handler) return false;
    // The handler is told in English, as for every COM failure; FOR ... IN words it its own way.
    const TokenLine& line = tokenLine(runState().currentLine);
    bool forIn = !line.empty() && line[0].isKeyword(kw::For);
    const char16_t* text = messageId != err::NotObject ? u"Object access failed."
                           : forIn                     ? u"Variable is not of type 'Object'."
                                                       : u"Variable must be of type 'Object'.";
    return failure(messageId, nullptr, text, false);
}

const bool g_installed = [] {
    objectHooks().offerError = offerError;
    return true;
}();

// ---- finding a source interface ------------------------------------------------------------------------------

// The default source interface of a coclass: its id and type information.
bool defaultSource(ITypeInfo* coclass, IID& iid, ITypeInfo** out) {
    TYPEATTR* ta = nullptr;
    if (FAILED(coclass->GetTypeAttr(&ta)) || !ta) return false;
    bool found = false;
    for (UINT i = 0; i < ta->cImplTypes && !found; ++i) {
        INT f = 0;
        if (FAILED(coclass->GetImplTypeFlags(i, &f))) continue;
        if ((f & (IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE)) != (IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE))
            continue;
        HREFTYPE ref;
        ITypeInfo* ti = nullptr;
        if (FAILED(coclass->GetRefTypeOfImplType(i, &ref)) || FAILED(coclass->GetRefTypeInfo(ref, &ti)) || !ti) continue;
        TYPEATTR* sa = nullptr;
        if (SUCCEEDED(ti->GetTypeAttr(&sa)) && sa) {
            iid = sa->guid;
            ti->ReleaseTypeAttr(sa);
            *out = ti;
            found = true;
        } else {
            ti->Release();
        }
    }
    coclass->ReleaseTypeAttr(ta);
    return found;
}

// Does the coclass list iid among its interfaces (not its sources)?
bool coclassImplements(ITypeInfo* coclass, const IID& iid) {
    TYPEATTR* ta = nullptr;
    if (FAILED(coclass->GetTypeAttr(&ta)) || !ta) return false;
    bool found = false;
    for (UINT i = 0; i < ta->cImplTypes && !found; ++i) {
        INT f = 0;
        coclass->GetImplTypeFlags(i, &f);
        if (f & IMPLTYPEFLAG_FSOURCE) continue;
        HREFTYPE ref;
        ITypeInfo* ti = nullptr;
        if (FAILED(coclass->GetRefTypeOfImplType(i, &ref)) || FAILED(coclass->GetRefTypeInfo(ref, &ti)) || !ti) continue;
        TYPEATTR* a = nullptr;
        if (SUCCEEDED(ti->GetTypeAttr(&a)) && a) {
            found = a->guid == iid;
            ti->ReleaseTypeAttr(a);
        }
        ti->Release();
    }
    coclass->ReleaseTypeAttr(ta);
    return found;
}

ITypeLib* typeLibOf(IDispatch* d, IID* ownIid) {
    ITypeInfo* ti = nullptr;
    if (FAILED(d->GetTypeInfo(0, 0, &ti)) || !ti) return nullptr;
    if (ownIid) {
        TYPEATTR* a = nullptr;
        if (SUCCEEDED(ti->GetTypeAttr(&a)) && a) {
            *ownIid = a->guid;
            ti->ReleaseTypeAttr(a);
        }
    }
    ITypeLib* lib = nullptr;
    UINT index = 0;
    if (FAILED(ti->GetContainingTypeLib(&lib, &index))) lib = nullptr;
    ti->Release();
    return lib;
}

// Type information of an interface id: from the object's own type library, else from the library the
// registry names for the interface.
ITypeInfo* typeInfoOf(IDispatch* d, const IID& iid) {
    ITypeInfo* ti = nullptr;
    if (ITypeLib* lib = typeLibOf(d, nullptr)) {
        if (FAILED(lib->GetTypeInfoOfGuid(iid, &ti))) ti = nullptr;
        lib->Release();
        if (ti) return ti;
    }
    LPOLESTR s = nullptr;
    if (FAILED(StringFromIID(iid, &s)) || !s) return nullptr;
    std::wstring key = L"Interface\\" + std::wstring(s) + L"\\TypeLib";
    CoTaskMemFree(s);
    HKEY k = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return nullptr;
    wchar_t libid[64] = {}, ver[32] = {};
    DWORD n1 = sizeof libid - sizeof(wchar_t), n2 = sizeof ver - sizeof(wchar_t);
    RegQueryValueExW(k, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(libid), &n1);
    RegQueryValueExW(k, L"Version", nullptr, nullptr, reinterpret_cast<BYTE*>(ver), &n2);
    RegCloseKey(k);
    GUID lid;
    if (FAILED(CLSIDFromString(libid, &lid))) return nullptr;
    unsigned major = 1, minor = 0;
    swscanf(ver, L"%x.%x", &major, &minor);
    ITypeLib* lib = nullptr;
    if (FAILED(LoadRegTypeLib(lid, static_cast<WORD>(major), static_cast<WORD>(minor), 0, &lib)) || !lib) return nullptr;
    if (FAILED(lib->GetTypeInfoOfGuid(iid, &ti))) ti = nullptr;
    lib->Release();
    return ti;
}

// The interface id registered under HKCR\Interface with the given name.
bool interfaceByName(u16view name, IID& iid) {
    HKEY root = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, L"Interface", 0, KEY_READ, &root) != ERROR_SUCCESS) return false;
    bool found = false;
    wchar_t sub[64];
    for (DWORD i = 0; !found; ++i) {
        DWORD len = 64;
        if (RegEnumKeyExW(root, i, sub, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        wchar_t value[256] = {};
        LONG size = sizeof value - sizeof(wchar_t);
        if (RegQueryValueW(root, sub, value, &size) != ERROR_SUCCESS) continue;
        std::u16string v(reinterpret_cast<const char16_t*>(value));
        if (v.size() == name.size() && compareNoCase(v, name)) found = SUCCEEDED(CLSIDFromString(sub, &iid));
    }
    RegCloseKey(root);
    return found;
}

// An interface of the object's own type library with the given name (the registry holds the same names,
// but walking its thousands of interface keys costs far more).
bool ownInterfaceByName(IDispatch* d, u16view name, IID& iid) {
    ITypeLib* lib = typeLibOf(d, nullptr);
    if (!lib) return false;
    bool found = false;
    UINT count = lib->GetTypeInfoCount();
    for (UINT i = 0; i < count && !found; ++i) {
        TYPEKIND kind;
        if (FAILED(lib->GetTypeInfoType(i, &kind)) || (kind != TKIND_DISPATCH && kind != TKIND_INTERFACE)) continue;
        BSTR n = nullptr;
        if (FAILED(lib->GetDocumentation(static_cast<INT>(i), &n, nullptr, nullptr, nullptr)) || !n) continue;
        bool same = compareNoCase(u16view(reinterpret_cast<const char16_t*>(n), SysStringLen(n)), name);
        SysFreeString(n);
        ITypeInfo* t = nullptr;
        if (!same || FAILED(lib->GetTypeInfo(i, &t)) || !t) continue;
        TYPEATTR* a = nullptr;
        if (SUCCEEDED(t->GetTypeAttr(&a)) && a) {
            iid = a->guid;
            t->ReleaseTypeAttr(a);
            found = true;
        }
        t->Release();
    }
    lib->Release();
    return found;
}

bool findSource(IDispatch* d, const Variant* name, IID& iid, ITypeInfo** ti) {
    *ti = nullptr;
    if (name) {
        u16view n = name->toString().view();
        if (!ownInterfaceByName(d, n, iid) && !interfaceByName(n, iid)) return false;
        *ti = typeInfoOf(d, iid);
        return true;
    }
    IProvideClassInfo2* pci2 = nullptr;
    if (SUCCEEDED(d->QueryInterface(IID_IProvideClassInfo2, reinterpret_cast<void**>(&pci2))) && pci2) {
        HRESULT hr = pci2->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &iid);
        pci2->Release();
        if (SUCCEEDED(hr)) {
            *ti = typeInfoOf(d, iid);
            return true;
        }
    }
    IProvideClassInfo* pci = nullptr;
    if (SUCCEEDED(d->QueryInterface(IID_IProvideClassInfo, reinterpret_cast<void**>(&pci))) && pci) {
        ITypeInfo* cls = nullptr;
        bool ok = SUCCEEDED(pci->GetClassInfo(&cls)) && cls && defaultSource(cls, iid, ti);
        if (cls) cls->Release();
        pci->Release();
        if (ok) return true;
    }
    IID own = IID_NULL;
    ITypeLib* lib = typeLibOf(d, &own);
    if (!lib) return false;
    bool found = false;
    UINT count = lib->GetTypeInfoCount();
    for (UINT i = 0; i < count && !found; ++i) {
        TYPEKIND kind;
        if (FAILED(lib->GetTypeInfoType(i, &kind)) || kind != TKIND_COCLASS) continue;
        ITypeInfo* cls = nullptr;
        if (FAILED(lib->GetTypeInfo(i, &cls)) || !cls) continue;
        if (coclassImplements(cls, own)) found = defaultSource(cls, iid, ti);
        cls->Release();
    }
    lib->Release();
    return found;
}

int eventFailure(Engine& e, int code, const char16_t* text, Variant& r) {
    failure(code, nullptr, text, false);
    e.setError(code);
    r.setInt32(0);
    return 0;
}

}  // namespace
}  // namespace com

using namespace com;

int bi_OBJEVENT(Engine& e, Args& a, Variant& r) {
    ensureOle();
    g_scriptThread = GetCurrentThreadId();
    if (!a[0].is(Kind::Object)) {
        if (a[0].toString().view() != u16view(u"Tarvex.Error"))
            return eventFailure(e, 1, u"Incorrect Parameter format", r);
        if (a.count() == 1) {
            r.setString(g_handler ? SString(u16view(g_handler->function_)) : SString());
            return 0;
        }
        if (g_handler) return eventFailure(e, 2, u"Can't install a new Errorhandler when one is still active.", r);
        SString fn = a.str(1);
        std::u16string up = upper(std::u16string(fn.view()));
        if (fn.empty() || e.findUserFunction(up) < 0) {
            e.setError(1);
            r.setInt32(0);
            return 0;
        }
        auto* h = new (std::nothrow) RuntimeObject(RuntimeObject::Role::ErrorHandler);
        if (!h) return eventFailure(e, 19, u"Failed to create the Error Handler", r);
        h->function_ = std::u16string(fn.view());
        g_handler = h;
        r = wrapDispatch(h, false);
        return 0;
    }
    if (a.count() < 2) return eventFailure(e, 1, u"Incorrect Parameter format", r);  // no prefix
    const VARIANT* held = heldVariant(a[0]);
    IDispatch* d = (held && V_VT(held) == VT_DISPATCH) ? V_DISPATCH(held) : nullptr;
    if (!d) return eventFailure(e, 2, u"First parameter must be of type 'Object'.", r);
    IConnectionPointContainer* cpc = nullptr;
    if (FAILED(d->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&cpc))) || !cpc)
        return eventFailure(e, 7, u"Failed to retrieve outgoing Event Interface from Object.", r);
    IID iid;
    ITypeInfo* ti = nullptr;
    bool found = findSource(d, a.given(2) ? &a[2] : nullptr, iid, &ti);
    if (!found) {
        cpc->Release();
        return eventFailure(e, 7, u"Failed to retrieve outgoing Event Interface from Object.", r);
    }
    IConnectionPoint* cp = nullptr;
    HRESULT hr = cpc->FindConnectionPoint(iid, &cp);
    cpc->Release();
    if (FAILED(hr) || !cp) {
        if (ti) ti->Release();
        return eventFailure(e, 8, u"Failed to find the Connection Point of the Event Interface.", r);
    }
    SString prefix = a.str(1);
    auto* sink = new (std::nothrow) EventSink(iid, ti, d, std::u16string(prefix.view()));
    if (ti) ti->Release();
    auto* handle = sink ? new (std::nothrow) RuntimeObject(RuntimeObject::Role::SinkHandle) : nullptr;
    if (!handle) {
        if (sink) sink->Release();
        cp->Release();
        return eventFailure(e, 10, u"Failed to create the Event Object.", r);
    }
    DWORD cookie = 0;
    hr = cp->Advise(sink, &cookie);
    if (FAILED(hr)) {
        sink->Release();
        cp->Release();
        handle->Release();
        return eventFailure(e, 9, u"Failed to connect the Event Object.", r);
    }
    handle->function_ = std::u16string(prefix.view());
    handle->point_ = cp;
    handle->cookie_ = cookie;
    handle->sink_ = sink;
    g_sinkHandles.push_back(handle);
    r = wrapDispatch(handle, false);
    return 0;
}

namespace com {

void shutdownEvents() {
    // The connections go first (the servers drop their references to the sinks), then what is queued.
    std::vector<RuntimeObject*> handles = g_sinkHandles;
    for (RuntimeObject* h : handles) h->stop();
    Entry entry;
    while (takeEntry(entry)) entry.reset();
}

}  // namespace com
}  // namespace tx
