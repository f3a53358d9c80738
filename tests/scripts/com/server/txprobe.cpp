// The COM test server: an in-process automation object ("TarvexComTest.Probe") with the dual interface of
// txprobe.idl, one connection point for its events (fired at once or from a timer, with by-value and
// by-reference arguments), methods that fail with exception information, values of many VARIANT types,
// the running object table, a file binding and a log of its own release. "TarvexComTest.Plain" is the
// same object without IProvideClassInfo, so that a client has to find its events through the type library.
//
// Only IDispatch is served (late binding): Invoke dispatches on the member ids of the type library.
#include <windows.h>
#include <ocidl.h>
#include <ole2.h>
#include <oleauto.h>
#include <olectl.h>

#include <cstdio>
#include <cwchar>
#include <map>
#include <string>
#include <vector>

namespace {

const GUID LIBID_Probe = {0x5F0B6C1A, 0x7E2D, 0x4C59, {0x9A, 0x61, 0x3D, 0x2B, 0x8E, 0x7A, 0x10, 0x01}};
const IID IID_Probe = {0x5F0B6C1A, 0x7E2D, 0x4C59, {0x9A, 0x61, 0x3D, 0x2B, 0x8E, 0x7A, 0x10, 0x02}};
const IID DIID_Events = {0x5F0B6C1A, 0x7E2D, 0x4C59, {0x9A, 0x61, 0x3D, 0x2B, 0x8E, 0x7A, 0x10, 0x03}};
const CLSID CLSID_Probe = {0x5F0B6C1A, 0x7E2D, 0x4C59, {0x9A, 0x61, 0x3D, 0x2B, 0x8E, 0x7A, 0x10, 0x04}};
const CLSID CLSID_Plain = {0x5F0B6C1A, 0x7E2D, 0x4C59, {0x9A, 0x61, 0x3D, 0x2B, 0x8E, 0x7A, 0x10, 0x05}};

HMODULE g_module;
LONG g_objects = 0;

ITypeLib* typeLib() {
    static ITypeLib* lib = nullptr;
    if (!lib) {
        wchar_t path[MAX_PATH];
        GetModuleFileNameW(g_module, path, MAX_PATH);
        if (FAILED(LoadTypeLibEx(path, REGKIND_NONE, &lib))) lib = nullptr;
    }
    return lib;
}

ITypeInfo* typeInfo(REFGUID id) {
    ITypeInfo* ti = nullptr;
    if (typeLib() && FAILED(typeLib()->GetTypeInfoOfGuid(id, &ti))) ti = nullptr;
    return ti;
}

std::wstring fmt(const wchar_t* f, ...) {
    wchar_t buf[512];
    va_list ap;
    va_start(ap, f);
    _vsnwprintf(buf, 511, f, ap);
    va_end(ap);
    buf[511] = 0;
    return buf;
}

std::wstring describe(const VARIANT* v);

std::wstring describeArray(SAFEARRAY* sa, VARTYPE vt) {
    UINT dims = SafeArrayGetDim(sa);
    std::wstring s = fmt(L"array of %d dims=%u", vt & VT_TYPEMASK, dims);
    std::vector<LONG> last(dims);
    for (UINT d = 1; d <= dims; ++d) {
        LONG lo = 0, hi = 0;
        SafeArrayGetLBound(sa, d, &lo);
        SafeArrayGetUBound(sa, d, &hi);
        s += fmt(L"%s%ld", d == 1 ? L" " : L"x", hi - lo + 1);
        last[d - 1] = hi;
    }
    if ((vt & VT_TYPEMASK) == VT_VARIANT && dims > 0) {
        VARIANT e;
        VariantInit(&e);
        std::vector<LONG> first(dims, 0);
        if (SUCCEEDED(SafeArrayGetElement(sa, first.data(), &e))) s += L" first=" + describe(&e);
        VariantClear(&e);
        if (SUCCEEDED(SafeArrayGetElement(sa, last.data(), &e))) s += L" last=" + describe(&e);
        VariantClear(&e);
        if (dims == 2 && last[1] >= 1) {
            LONG at[2] = {0, 1};  // first subscript 0, second 1
            if (SUCCEEDED(SafeArrayGetElement(sa, at, &e))) s += L" (0,1)=" + describe(&e);
            VariantClear(&e);
        }
    }
    if ((vt & VT_TYPEMASK) == VT_UI1 && dims == 1) {
        BYTE* p = nullptr;
        LONG hi = last[0];
        if (SUCCEEDED(SafeArrayAccessData(sa, reinterpret_cast<void**>(&p)))) {
            s += L" bytes=";
            for (LONG i = 0; i <= hi; ++i) s += fmt(L"%02X", p[i]);
            SafeArrayUnaccessData(sa);
        }
    }
    return s;
}

std::wstring describe(const VARIANT* v) {
    std::wstring prefix;
    if (V_VT(v) == (VT_BYREF | VT_VARIANT)) {
        prefix = L"byref ";
        v = V_VARIANTREF(v);
    }
    VARTYPE vt = V_VT(v);
    if (vt & VT_ARRAY) return prefix + describeArray(V_ARRAY(v), vt);
    switch (vt) {
        case VT_EMPTY: return prefix + L"empty";
        case VT_I4: return prefix + fmt(L"I4 %ld", V_I4(v));
        case VT_R8: return prefix + fmt(L"R8 %.17g", V_R8(v));
        case VT_BSTR: return prefix + L"BSTR " + std::wstring(V_BSTR(v) ? V_BSTR(v) : L"", SysStringLen(V_BSTR(v)));
        case VT_BOOL: return prefix + fmt(L"BOOL %d", V_BOOL(v));
        case VT_ERROR: return prefix + fmt(L"ERROR %08lX", static_cast<unsigned long>(V_ERROR(v)));
        case VT_DISPATCH: return prefix + (V_DISPATCH(v) ? L"DISPATCH" : L"DISPATCH null");
        case VT_UNKNOWN: return prefix + L"UNKNOWN";
        default: return prefix + fmt(L"vt %d", vt);
    }
}

HRESULT toBstr(const std::wstring& s, VARIANT* r) {
    if (!r) return S_OK;
    V_VT(r) = VT_BSTR;
    V_BSTR(r) = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
    return S_OK;
}

// Reads argument i (natural order) of a call as a long.
HRESULT argLong(DISPPARAMS* dp, UINT i, LONG& out) {
    VARIANT v;
    VariantInit(&v);
    HRESULT hr = VariantChangeType(&v, &dp->rgvarg[dp->cArgs - 1 - i], 0, VT_I4);
    if (FAILED(hr)) return DISP_E_TYPEMISMATCH;
    out = V_I4(&v);
    return S_OK;
}

HRESULT argText(DISPPARAMS* dp, UINT i, std::wstring& out) {
    VARIANT v;
    VariantInit(&v);
    HRESULT hr = VariantChangeType(&v, &dp->rgvarg[dp->cArgs - 1 - i], 0, VT_BSTR);
    if (FAILED(hr)) return DISP_E_TYPEMISMATCH;
    out.assign(V_BSTR(&v), SysStringLen(V_BSTR(&v)));
    VariantClear(&v);
    return S_OK;
}

class Probe;
std::map<UINT_PTR, Probe*> g_timers;

// A plain enumerator over a copy of some values.
class Enum final : public IEnumVARIANT {
public:
    explicit Enum(std::vector<VARIANT> items) : items_(std::move(items)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IEnumVARIANT) {
            *out = this;
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG n = --refs_;
        if (!n) {
            for (auto& v : items_) VariantClear(&v);
            delete this;
        }
        return n;
    }
    HRESULT STDMETHODCALLTYPE Next(ULONG n, VARIANT* out, ULONG* fetched) override {
        ULONG got = 0;
        while (got < n && pos_ < items_.size()) {
            VariantInit(&out[got]);
            VariantCopy(&out[got], &items_[pos_++]);
            ++got;
        }
        if (fetched) *fetched = got;
        return got == n ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG n) override {
        pos_ += n;
        return pos_ <= items_.size() ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        pos_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT**) override { return E_NOTIMPL; }

private:
    ULONG refs_ = 1;
    size_t pos_ = 0;
    std::vector<VARIANT> items_;
};

class Probe final : public IDispatch,
                    public IProvideClassInfo2,
                    public IConnectionPointContainer,
                    public IConnectionPoint,
                    public IPersistFile,
                    public IOleObject {
public:
    explicit Probe(bool plain) : plain_(plain) {
        InterlockedIncrement(&g_objects);
        VariantInit(&value_);
    }

    // ---- IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IDispatch) *out = static_cast<IDispatch*>(this);
        else if (!plain_ && (iid == IID_IProvideClassInfo || iid == IID_IProvideClassInfo2))
            *out = static_cast<IProvideClassInfo2*>(this);
        else if (iid == IID_IConnectionPointContainer) *out = static_cast<IConnectionPointContainer*>(this);
        else if (iid == IID_IPersistFile) *out = static_cast<IPersistFile*>(this);
        else if (iid == IID_IOleObject) *out = static_cast<IOleObject*>(this);
        if (!*out) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG n = InterlockedDecrement(&refs_);
        if (n == 0) delete this;
        return static_cast<ULONG>(n);
    }

    // ---- IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override {
        *n = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT i, LCID, ITypeInfo** ti) override {
        *ti = nullptr;
        if (i != 0) return DISP_E_BADINDEX;
        *ti = typeInfo(IID_Probe);
        return *ti ? S_OK : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT n, LCID, DISPID* ids) override {
        if (vanished_) return RPC_E_DISCONNECTED;
        ITypeInfo* ti = typeInfo(IID_Probe);
        if (!ti) return E_FAIL;
        HRESULT hr = DispGetIDsOfNames(ti, names, n, ids);
        ti->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* dp, VARIANT* result,
                                     EXCEPINFO* ei, UINT*) override;

    // ---- IProvideClassInfo2
    HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** ti) override {
        *ti = typeInfo(CLSID_Probe);
        return *ti ? S_OK : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE GetGUID(DWORD kind, GUID* g) override {
        if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) return E_INVALIDARG;
        *g = DIID_Events;
        return S_OK;
    }

    // ---- IConnectionPointContainer / IConnectionPoint (one point, for the events)
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** cp) override {
        *cp = nullptr;
        if (iid != DIID_Events) return CONNECT_E_NOCONNECTION;
        *cp = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override {
        *iid = DIID_Events;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** c) override {
        *c = static_cast<IConnectionPointContainer*>(this);
        AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override {
        IDispatch* d = nullptr;
        if (FAILED(sink->QueryInterface(DIID_Events, reinterpret_cast<void**>(&d)))) return CONNECT_E_CANNOTCONNECT;
        sinks_.push_back(d);
        *cookie = static_cast<DWORD>(sinks_.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override {
        if (cookie == 0 || cookie > sinks_.size() || !sinks_[cookie - 1]) return CONNECT_E_NOCONNECTION;
        sinks_[cookie - 1]->Release();
        sinks_[cookie - 1] = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections**) override { return E_NOTIMPL; }

    // ---- IPersistFile (OBJGET binds a file of the class's extension through it)
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* id) override {
        *id = CLSID_Probe;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsDirty() override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE Load(LPCOLESTR name, DWORD) override {
        file_ = name;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Save(LPCOLESTR, BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SaveCompleted(LPCOLESTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetCurFile(LPOLESTR*) override { return E_NOTIMPL; }

    // ---- IOleObject: only the class id is of use to a client here
    HRESULT STDMETHODCALLTYPE SetClientSite(IOleClientSite*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetClientSite(IOleClientSite**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetHostNames(LPCOLESTR, LPCOLESTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Close(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetClipboardData(DWORD, IDataObject**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DoVerb(LONG, LPMSG, IOleClientSite*, LONG, HWND, LPCRECT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumVerbs(IEnumOLEVERB**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Update() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsUpToDate() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetUserClassID(CLSID* id) override {
        *id = plain_ ? CLSID_Plain : CLSID_Probe;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetUserType(DWORD, LPOLESTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetExtent(DWORD, SIZEL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetExtent(DWORD, SIZEL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Advise(IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
    // (IOleObject::Unadvise shares the connection point's: no one asks the object for advise sinks.)
    HRESULT STDMETHODCALLTYPE EnumAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMiscStatus(DWORD, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

    // Fires Tick(n, "tick n") and Ask(n, byref "q").
    void fire(LONG n) {
        AddRef();  // a sink's function may drop the last reference meanwhile
        std::vector<IDispatch*> sinks = sinks_;
        for (IDispatch* s : sinks) {
            if (!s) continue;
            s->AddRef();
            VARIANT args[2];
            V_VT(&args[1]) = VT_I4;
            V_I4(&args[1]) = n;
            std::wstring text = fmt(L"tick %ld", n);
            V_VT(&args[0]) = VT_BSTR;
            V_BSTR(&args[0]) = SysAllocString(text.c_str());
            DISPPARAMS dp{args, nullptr, 2, 0};
            s->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &dp, nullptr, nullptr, nullptr);
            VariantClear(&args[0]);
            VARIANT answer;
            V_VT(&answer) = VT_BSTR;
            V_BSTR(&answer) = SysAllocString(L"q");
            V_VT(&args[0]) = VT_BYREF | VT_VARIANT;
            V_VARIANTREF(&args[0]) = &answer;
            s->Invoke(2, IID_NULL, 0, DISPATCH_METHOD, &dp, nullptr, nullptr, nullptr);
            VariantClear(&answer);
            s->Release();
        }
        Release();
    }

    static DWORD WINAPI fireThread(void* self) {
        auto* p = static_cast<Probe*>(self);
        for (LONG i = 1; i <= p->threadCount_; ++i) fire(p, i);
        p->Release();
        return 0;
    }
    static void fire(Probe* p, LONG n) { p->fire(n); }

    static void CALLBACK onTimer(HWND, UINT, UINT_PTR id, DWORD) {
        auto timer = g_timers.find(id);
        if (timer == g_timers.end()) return;
        Probe* p = timer->second;
        LONG n = ++p->fired_;
        if (n >= p->toFire_) {
            KillTimer(nullptr, id);
            g_timers.erase(timer);
        }
        LONG left = p->toFire_;
        p->fire(n);
        if (n >= left) p->Release();  // the timer's reference
    }

private:
    ~Probe() {
        for (IDispatch* s : sinks_)
            if (s) s->Release();
        VariantClear(&value_);
        if (!log_.empty()) {
            FILE* f = _wfopen(log_.c_str(), L"ab");
            if (f) {
                fputs("released\r\n", f);
                fclose(f);
            }
        }
        InterlockedDecrement(&g_objects);
    }

    LONG refs_ = 1;
    bool plain_;
    bool vanished_ = false;
    VARIANT value_;
    std::vector<IDispatch*> sinks_;
    std::wstring file_, log_;
    LONG fired_ = 0, toFire_ = 0, threadCount_ = 0;
    DWORD rot_ = 0;
};

SAFEARRAY* variantVector(std::vector<VARIANT>& items) {
    SAFEARRAY* sa = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(items.size()));
    for (LONG i = 0; i < static_cast<LONG>(items.size()); ++i) {
        SafeArrayPutElement(sa, &i, &items[static_cast<size_t>(i)]);
        VariantClear(&items[static_cast<size_t>(i)]);
    }
    return sa;
}

HRESULT Probe::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* dp, VARIANT* result, EXCEPINFO* ei, UINT*) {
    if (vanished_) return RPC_E_DISCONNECTED;
    if (result) VariantInit(result);
    const UINT n = dp->cArgs;
    const bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
    auto want = [&](UINT count) { return n == count ? S_OK : DISP_E_BADPARAMCOUNT; };
    HRESULT hr;
    switch (id) {
        case 1:  // Value
            if (put) {
                if (n != 1) return DISP_E_BADPARAMCOUNT;
                VariantClear(&value_);
                return VariantCopyInd(&value_, &dp->rgvarg[0]);
            }
            if ((hr = want(0)) != S_OK) return hr;
            return result ? VariantCopy(result, &value_) : S_OK;
        case 2:  // Describe
            if ((hr = want(1)) != S_OK) return hr;
            return toBstr(describe(&dp->rgvarg[0]), result);
        case 3: {  // Fail
            if ((hr = want(2)) != S_OK) return hr;
            LONG code;
            std::wstring text;
            if (FAILED(hr = argLong(dp, 0, code)) || FAILED(hr = argText(dp, 1, text))) return hr;
            if (ei) {
                ZeroMemory(ei, sizeof *ei);
                if (code == 0) ei->wCode = 1001;
                else ei->scode = code;
                ei->bstrSource = SysAllocString(L"TarvexComTest.Probe");
                ei->bstrDescription = SysAllocString(text.c_str());
                ei->bstrHelpFile = SysAllocString(L"probe.hlp");
                ei->dwHelpContext = 77;
            }
            return DISP_E_EXCEPTION;
        }
        case 4: {  // When: 2024-03-05 07:08:09
            if ((hr = want(0)) != S_OK) return hr;
            SYSTEMTIME st{2024, 3, 2, 5, 7, 8, 9, 0};
            DATE d;
            SystemTimeToVariantTime(&st, &d);
            if (result) {
                V_VT(result) = VT_DATE;
                V_DATE(result) = d;
            }
            return S_OK;
        }
        case 5: {  // Fire
            LONG count;
            if ((hr = want(1)) != S_OK || FAILED(hr = argLong(dp, 0, count))) return hr;
            for (LONG i = 1; i <= count; ++i) fire(i);
            return S_OK;
        }
        case 6: {  // FireLater
            LONG count, ms;
            if ((hr = want(2)) != S_OK || FAILED(hr = argLong(dp, 0, count)) || FAILED(hr = argLong(dp, 1, ms))) return hr;
            fired_ = 0;
            toFire_ = count;
            if (count <= 0) return S_OK;
            UINT_PTR t = SetTimer(nullptr, 0, static_cast<UINT>(ms), onTimer);
            if (!t) return E_FAIL;
            AddRef();
            g_timers[t] = this;
            return S_OK;
        }
        case 7: {  // Bump: numbers grow by one, text gets "!"
            if ((hr = want(1)) != S_OK) return hr;
            VARIANT* arg = &dp->rgvarg[0];
            if (V_VT(arg) != (VT_BYREF | VT_VARIANT)) return DISP_E_TYPEMISMATCH;
            VARIANT* v = V_VARIANTREF(arg);
            if (V_VT(v) == VT_BSTR) {
                std::wstring s(V_BSTR(v), SysStringLen(V_BSTR(v)));
                s += L"!";
                VariantClear(v);
                V_VT(v) = VT_BSTR;
                V_BSTR(v) = SysAllocString(s.c_str());
            } else {
                VARIANT one;
                V_VT(&one) = VT_I4;
                V_I4(&one) = 1;
                VARIANT sum;
                VariantInit(&sum);
                if (FAILED(VarAdd(v, &one, &sum))) return DISP_E_TYPEMISMATCH;
                VariantClear(v);
                *v = sum;
            }
            return S_OK;
        }
        case 8: {  // Kinds: one value of each scalar type
            if ((hr = want(0)) != S_OK) return hr;
            std::vector<VARIANT> k(16);
            for (auto& v : k) VariantInit(&v);
            V_VT(&k[0]) = VT_I2; V_I2(&k[0]) = -5;
            V_VT(&k[1]) = VT_UI1; V_UI1(&k[1]) = 200;
            V_VT(&k[2]) = VT_I1; V_I1(&k[2]) = -3;
            V_VT(&k[3]) = VT_UI2; V_UI2(&k[3]) = 60000;
            V_VT(&k[4]) = VT_UINT; V_UINT(&k[4]) = 4000000000u;
            V_VT(&k[5]) = VT_R4; V_R4(&k[5]) = 1.5f;
            V_VT(&k[6]) = VT_CY; V_CY(&k[6]).int64 = 123456;
            V_VT(&k[7]) = VT_DECIMAL; VarDecFromR8(2.5, &V_DECIMAL(&k[7])); V_VT(&k[7]) = VT_DECIMAL;
            V_VT(&k[8]) = VT_I8; V_I8(&k[8]) = -9000000000LL;
            V_VT(&k[9]) = VT_UI8; V_UI8(&k[9]) = 0xFFFFFFFFFFFFFFFFULL;
            V_VT(&k[10]) = VT_NULL;
            V_VT(&k[11]) = VT_EMPTY;
            V_VT(&k[12]) = VT_BOOL; V_BOOL(&k[12]) = VARIANT_TRUE;
            V_VT(&k[13]) = VT_ERROR; V_ERROR(&k[13]) = DISP_E_PARAMNOTFOUND;
            V_VT(&k[14]) = VT_UI4; V_UI4(&k[14]) = 7;
            V_VT(&k[15]) = VT_INT; V_INT(&k[15]) = -8;
            if (result) {
                V_VT(result) = VT_ARRAY | VT_VARIANT;
                V_ARRAY(result) = variantVector(k);
            } else {
                for (auto& v : k) VariantClear(&v);
            }
            return S_OK;
        }
        case 9: {  // RegisterActive
            if ((hr = want(0)) != S_OK) return hr;
            return RegisterActiveObject(static_cast<IDispatch*>(this), CLSID_Probe, ACTIVEOBJECT_WEAK, &rot_);
        }
        case 10:  // FileName
            return toBstr(file_, result);
        case 11: {  // SetLog
            if ((hr = want(1)) != S_OK) return hr;
            return argText(dp, 0, log_);
        }
        case 12: {  // Add
            LONG a, b;
            if ((hr = want(2)) != S_OK || FAILED(hr = argLong(dp, 0, a)) || FAILED(hr = argLong(dp, 1, b))) return hr;
            if (result) {
                V_VT(result) = VT_I4;
                V_I4(result) = a + b;
            }
            return S_OK;
        }
        case 13: {  // Grid: 2 x 3 strings "r,c" in a BSTR array
            if ((hr = want(0)) != S_OK) return hr;
            SAFEARRAYBOUND b[2] = {{2, 0}, {3, 0}};
            SAFEARRAY* sa = SafeArrayCreate(VT_BSTR, 2, b);
            for (LONG r = 0; r < 2; ++r)
                for (LONG c = 0; c < 3; ++c) {
                    LONG at[2] = {r, c};
                    BSTR s = SysAllocString(fmt(L"%ld,%ld", r, c).c_str());
                    SafeArrayPutElement(sa, at, s);
                    SysFreeString(s);
                }
            if (result) {
                V_VT(result) = VT_ARRAY | VT_BSTR;
                V_ARRAY(result) = sa;
            } else {
                SafeArrayDestroy(sa);
            }
            return S_OK;
        }
        case 14: {  // Bytes
            if ((hr = want(0)) != S_OK) return hr;
            SAFEARRAY* sa = SafeArrayCreateVector(VT_UI1, 0, 3);
            BYTE* p;
            SafeArrayAccessData(sa, reinterpret_cast<void**>(&p));
            p[0] = 1, p[1] = 0x80, p[2] = 0xFF;
            SafeArrayUnaccessData(sa);
            if (result) {
                V_VT(result) = VT_ARRAY | VT_UI1;
                V_ARRAY(result) = sa;
            } else {
                SafeArrayDestroy(sa);
            }
            return S_OK;
        }
        case 15:  // Vanish: the object acts as if its server had gone away
            vanished_ = true;
            return S_OK;
        case 16: {  // Child
            if ((hr = want(0)) != S_OK) return hr;
            auto* c = new Probe(false);
            VARIANT v;
            V_VT(&v) = VT_I4;
            V_I4(&v) = 99;
            VariantCopy(&c->value_, &v);
            if (result) {
                V_VT(result) = VT_DISPATCH;
                V_DISPATCH(result) = static_cast<IDispatch*>(c);
            } else {
                c->Release();
            }
            return S_OK;
        }
        case 17:  // Nothing
            if (result) {
                V_VT(result) = VT_DISPATCH;
                V_DISPATCH(result) = nullptr;
            }
            return S_OK;
        case 18: {  // Spin: busy for ms milliseconds without taking messages
            LONG ms;
            if ((hr = want(1)) != S_OK || FAILED(hr = argLong(dp, 0, ms))) return hr;
            Sleep(static_cast<DWORD>(ms));
            return S_OK;
        }
        case 19: {  // Items: "x", "y", "z"
            std::vector<VARIANT> k(3);
            const wchar_t* names[] = {L"x", L"y", L"z"};
            for (int i = 0; i < 3; ++i) {
                V_VT(&k[i]) = VT_BSTR;
                V_BSTR(&k[i]) = SysAllocString(names[i]);
            }
            if (result) {
                V_VT(result) = VT_ARRAY | VT_VARIANT;
                V_ARRAY(result) = variantVector(k);
            }
            return S_OK;
        }
        case 20: {  // FireThread: the events come from a thread of the server's own, straight to the sinks
            LONG count;
            if ((hr = want(1)) != S_OK || FAILED(hr = argLong(dp, 0, count))) return hr;
            AddRef();
            threadCount_ = count;
            HANDLE t = CreateThread(nullptr, 0, fireThread, this, 0, nullptr);
            if (!t) {
                Release();
                return E_FAIL;
            }
            CloseHandle(t);
            return S_OK;
        }
        case DISPID_NEWENUM: {  // the object is a collection of 10, 20, 30
            std::vector<VARIANT> items(3);
            for (int i = 0; i < 3; ++i) {
                V_VT(&items[i]) = VT_I4;
                V_I4(&items[i]) = 10 * (i + 1);
            }
            if (result) {
                V_VT(result) = VT_UNKNOWN;
                V_UNKNOWN(result) = new Enum(std::move(items));
            }
            return S_OK;
        }
        default:
            return DISP_E_MEMBERNOTFOUND;
    }
}

class Factory final : public IClassFactory {
public:
    explicit Factory(bool plain) : plain_(plain) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *out = this;
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        auto* p = new Probe(plain_);
        HRESULT hr = p->QueryInterface(iid, out);
        p->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    bool plain_;
};

Factory g_probeFactory(false), g_plainFactory(true);

LONG setKey(const std::wstring& path, const wchar_t* name, const std::wstring& value) {
    HKEY k;
    LONG r = RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &k, nullptr);
    if (r) return r;
    r = RegSetValueExW(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(k);
    return r;
}

std::wstring guidText(const GUID& g) {
    wchar_t buf[64];
    StringFromGUID2(g, buf, 64);
    return buf;
}

HRESULT registerClass(const CLSID& id, const wchar_t* progId, const wchar_t* description) {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(g_module, path, MAX_PATH);
    std::wstring key = L"CLSID\\" + guidText(id);
    if (setKey(key, nullptr, description) || setKey(key + L"\\InprocServer32", nullptr, path) ||
        setKey(key + L"\\InprocServer32", L"ThreadingModel", L"Apartment") ||
        setKey(key + L"\\ProgID", nullptr, progId) || setKey(progId, nullptr, description) ||
        setKey(std::wstring(progId) + L"\\CLSID", nullptr, guidText(id)))
        return SELFREG_E_CLASS;
    return S_OK;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE h, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = h;
        DisableThreadLibraryCalls(h);
    }
    return TRUE;
}

extern "C" __declspec(dllexport) HRESULT WINAPI DllGetClassObject(REFCLSID id, REFIID iid, void** out) {
    if (id == CLSID_Probe) return g_probeFactory.QueryInterface(iid, out);
    if (id == CLSID_Plain) return g_plainFactory.QueryInterface(iid, out);
    *out = nullptr;
    return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" __declspec(dllexport) HRESULT WINAPI DllCanUnloadNow() { return g_objects == 0 ? S_OK : S_FALSE; }

extern "C" __declspec(dllexport) HRESULT WINAPI DllRegisterServer() {
    HRESULT hr = registerClass(CLSID_Probe, L"TarvexComTest.Probe", L"Tarvex COM test probe");
    if (FAILED(hr)) return hr;
    hr = registerClass(CLSID_Plain, L"TarvexComTest.Plain", L"Tarvex COM test probe without class information");
    if (FAILED(hr)) return hr;
    // Files with this extension bind to the probe (OBJGET with a file name).
    if (setKey(L".txprobe", nullptr, L"TarvexComTest.Probe")) return SELFREG_E_CLASS;
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(g_module, path, MAX_PATH);
    ITypeLib* lib = typeLib();
    if (!lib) return SELFREG_E_TYPELIB;
    return RegisterTypeLib(lib, path, nullptr);
}

extern "C" __declspec(dllexport) HRESULT WINAPI DllUnregisterServer() {
    const wchar_t* keys[] = {L"TarvexComTest.Probe\\CLSID", L"TarvexComTest.Probe", L"TarvexComTest.Plain\\CLSID",
                             L"TarvexComTest.Plain", L".txprobe"};
    for (const wchar_t* k : keys) RegDeleteKeyW(HKEY_CLASSES_ROOT, k);
    for (const CLSID* id : {&CLSID_Probe, &CLSID_Plain}) {
        std::wstring key = L"CLSID\\" + guidText(*id);
        RegDeleteKeyW(HKEY_CLASSES_ROOT, (key + L"\\InprocServer32").c_str());
        RegDeleteKeyW(HKEY_CLASSES_ROOT, (key + L"\\ProgID").c_str());
        RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
    }
    UnRegisterTypeLib(LIBID_Probe, 1, 0, 0, SYS_WIN64);
    return S_OK;
}

// Plain exports for DLL calls with "idispatch" values: an object handed back (its reference passes to
// the caller), and the reference count an object has.
extern "C" __declspec(dllexport) IDispatch* WINAPI TxProbeEcho(IDispatch* d) {
    if (d) d->AddRef();
    return d;
}

extern "C" __declspec(dllexport) LONG WINAPI TxProbeRefs(IUnknown* u) {
    if (!u) return -1;
    u->AddRef();
    return static_cast<LONG>(u->Release());
}
