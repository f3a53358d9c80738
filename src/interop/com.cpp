// COM automation objects: late-bound member calls (get, call, put, put by reference) with chains and
// by-reference arguments, WITH and FOR ... IN over IEnumVARIANT, and the built-ins OBJCREATE, OBJGET and
// OBJNAME. Object values and conversions live in com_values.cpp, events and the error handler in
// com_events.cpp.
//
// Everything here runs on the script's thread. The evaluator reaches this file only through the object
// hooks (core/engine.h) it installs at start-up; the DLL layer through its "idispatch" hooks; the GUI
// through the small bridge of interop/com_bridge.h.
#include "interop/com.h"

#include <cstring>
#include <cwchar>
#include <vector>

#include "core/interp.h"
#include "core/platform.h"
#include "host/runloop.h"
#include "interop/com_bridge.h"
#include "interop/com_internal.h"
#include "interop/native_types.h"

namespace tx {
namespace com {

namespace {

constexpr LCID kNameLocale = 0x0400;  // names are looked up in the system's language
constexpr LCID kCallLocale = 0x0800;  // calls run in the user's

// Has the callee changed a by-reference argument? (Unchanged arguments are not written back, so a
// variable keeps its own kind: an Int64 or a Binary passed to a method stays what it was.)
bool sameValue(const VARIANT& a, const VARIANT& b) {
    if (V_VT(&a) != V_VT(&b)) return false;
    switch (V_VT(&a)) {
        case VT_BSTR: {
            UINT la = SysStringLen(V_BSTR(&a)), lb = SysStringLen(V_BSTR(&b));
            return la == lb && (la == 0 || std::memcmp(V_BSTR(&a), V_BSTR(&b), la * sizeof(OLECHAR)) == 0);
        }
        case VT_DECIMAL: return std::memcmp(&V_DECIMAL(&a), &V_DECIMAL(&b), sizeof(DECIMAL)) == 0;
        default: return V_UI8(&a) == V_UI8(&b);
    }
}

}  // namespace

HRESULT callMember(IDispatch* d, DISPID id, WORD flags, Variant* args, Variant** refs, int n, VARIANT* result,
                   EXCEPINFO* info, bool& converted) {
    // Put: the value is the last argument and goes first, as the named property-put argument.
    const bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
    std::vector<VARIANT> params(static_cast<size_t>(n));
    std::vector<VARIANT> inner(static_cast<size_t>(n));   // values behind by-reference arguments
    std::vector<VARIANT> before(static_cast<size_t>(n));  // and what they were
    for (auto& v : params) VariantInit(&v);
    for (auto& v : inner) VariantInit(&v);
    for (auto& v : before) VariantInit(&v);
    std::vector<SAFEARRAY*> arrays(static_cast<size_t>(n), nullptr);
    struct Clear {
        std::vector<VARIANT>* a[3];
        ~Clear() {
            for (auto* vec : a)
                for (auto& v : *vec) VariantClear(&v);
        }
    } clear{{&params, &inner, &before}};
    converted = true;
    for (int i = 0; i < n; ++i) {
        size_t slot = static_cast<size_t>(n - 1 - i);  // last argument first
        bool byRef = refs && refs[i] && !(put && i == n - 1);
        if (byRef) {
            if (!toVariant(args[i], inner[static_cast<size_t>(i)])) {
                converted = false;
                return E_INVALIDARG;
            }
            // What the argument was, to tell afterwards whether the callee changed it. An array is
            // recognised by its descriptor, not copied.
            if (V_VT(&inner[static_cast<size_t>(i)]) & VT_ARRAY) arrays[static_cast<size_t>(i)] = V_ARRAY(&inner[static_cast<size_t>(i)]);
            else VariantCopy(&before[static_cast<size_t>(i)], &inner[static_cast<size_t>(i)]);
            V_VT(&params[slot]) = VT_BYREF | VT_VARIANT;
            V_VARIANTREF(&params[slot]) = &inner[static_cast<size_t>(i)];
        } else if (!toVariant(args[i], params[slot])) {
            converted = false;
            return E_INVALIDARG;
        }
    }
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS dp{};
    dp.rgvarg = n ? params.data() : nullptr;
    dp.cArgs = static_cast<UINT>(n);
    if (put) {
        dp.rgdispidNamedArgs = &named;
        dp.cNamedArgs = 1;
    }
    UINT argErr = 0;
    RunState& rs = runState();
    const uint8_t savedCall = rs.objectCall;
    rs.objectCall = 1;
    HRESULT hr = d->Invoke(id, IID_NULL, kCallLocale, flags, &dp, put ? nullptr : result, info, &argErr);
    rs.objectCall = savedCall;
    if (SUCCEEDED(hr) && refs) {
        for (int i = 0; i < n; ++i) {
            if (!refs[i] || (put && i == n - 1)) continue;
            const VARIANT& now = inner[static_cast<size_t>(i)];
            SAFEARRAY* was = arrays[static_cast<size_t>(i)];
            if (was ? (V_VT(&now) & VT_ARRAY) && V_ARRAY(&now) == was : sameValue(now, before[static_cast<size_t>(i)]))
                continue;
            Variant back;
            fromVariant(now, back);
            *refs[i] = std::move(back);
        }
    }
    return hr;
}

namespace {

// ---- member chains ----------------------------------------------------------------------------------------

const char16_t kBadArgs[] = u"Incorrect parameters to object property !";
const char16_t kBadAssign[] = u"Invalid characters behind Object assignment !";

// The dispatch pointer of an Object value, or a failure code of the rule (1/4 null pointer, 2 not an
// object).
IDispatch* targetOf(const Variant& v, int& code) {
    const VARIANT* h = heldVariant(v);
    if (!v.is(Kind::Object)) {
        code = 2;
        return nullptr;
    }
    if (!h) {
        code = 1;
        return nullptr;
    }
    if (V_VT(h) == VT_DISPATCH) {
        if (!V_DISPATCH(h)) code = 4;
        return V_DISPATCH(h);
    }
    code = 2;
    return nullptr;
}

bool reportTarget(int code) {
    if (code == 2) return failure(2, nullptr, u"Not an Object type", true);
    return failure(code, nullptr, u"NULL Pointer assignment", true);
}

// The parsed argument list of one member: values, and the variables plain-variable arguments came from.
struct MemberArgs {
    std::vector<Variant> values;
    std::vector<Variant*> refs;
};

// Reads "(" args ")" at pos when present. False after a script error (reported).
bool readArgs(Engine& e, TokenLine& line, size_t& pos, MemberArgs& out) {
    if (!line[pos].is(tok::LParen)) return true;
    size_t close;
    if (!findClose(line, pos, close)) {
        reportRuntimeDetail(kBadArgs);
        return false;
    }
    ++pos;
    if (pos == close) {
        pos = close + 1;
        return true;
    }
    for (;;) {
        // A plain variable argument is passed by reference: the callee may change it.
        Variant* ref = nullptr;
        Token& t = line[pos];
        if (t.is(tok::Variable) && pos + 1 <= close &&
            (line[pos + 1].is(tok::Comma) || pos + 1 == close)) {
            VarEntry* entry = e.lookup(e.symbolOf(t), Scope::Any);
            if (entry && !(entry->flags & kVarConst) && !entry->ptr->is(Kind::Object)) ref = entry->ptr;
        }
        Variant v;
        size_t start = pos;
        if (!e.evaluate(line, pos, close, v)) {
            reportRuntimeDetail(kBadArgs);
            return false;
        }
        if (pos == start) {
            reportRuntimeDetail(kBadArgs);
            return false;
        }
        out.values.push_back(std::move(v));
        out.refs.push_back(ref);
        if (pos == close) break;
        if (!line[pos].is(tok::Comma)) {
            reportRuntimeDetail(kBadArgs);
            return false;
        }
        ++pos;
    }
    pos = close + 1;
    return true;
}

// Skips the rest of a member chain (members and their argument lists) after a failure the error handler
// took.
void skipChain(TokenLine& line, size_t& pos) {
    for (;;) {
        if (line[pos].is(tok::LParen)) {
            size_t close;
            if (!findClose(line, pos, close)) return;
            pos = close + 1;
        } else if (line[pos].is(tok::Member)) {
            ++pos;
        } else {
            return;
        }
    }
}

// Looks a member name up. On failure the rule has been applied: handled tells whether the script goes on.
bool memberId(IDispatch* d, const Token& member, DISPID& id, bool& handled) {
    if (!member.is(tok::Member) || member.str.empty()) {
        id = DISPID_VALUE;
        return true;
    }
    std::u16string name(member.str.view());
    LPOLESTR names[1] = {reinterpret_cast<LPOLESTR>(name.data())};
    HRESULT hr = d->GetIDsOfNames(IID_NULL, names, 1, kNameLocale, &id);
    if (SUCCEEDED(hr)) return true;
    handled = failure(hr, nullptr, nullptr, true);
    return false;
}

// Reports a failed Invoke (with the server's exception information when it raised one) and frees that
// information; true when the error handler took the failure.
bool invokeFailure(HRESULT hr, EXCEPINFO& info) {
    bool handled;
    if (hr == DISP_E_EXCEPTION) {
        if (info.pfnDeferredFillIn) info.pfnDeferredFillIn(&info);
        handled = failure(hr, &info, nullptr, true);
    } else {
        handled = failure(hr, nullptr, nullptr, true);
    }
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
    return handled;
}

// Runs one Invoke and applies the failure rule; true on success.
bool invokeChecked(IDispatch* d, DISPID id, WORD flags, MemberArgs& a, VARIANT* result, bool& handled) {
    EXCEPINFO info{};
    bool converted = true;
    HRESULT hr = callMember(d, id, flags, a.values.data(), a.refs.data(), static_cast<int>(a.values.size()), result,
                            &info, converted);
    if (!converted) {
        handled = failure(5, nullptr, u"Conversion of parameters failed", true);
        return false;
    }
    if (SUCCEEDED(hr)) return true;
    handled = invokeFailure(hr, info);
    return false;
}

enum class Step { Ok, Handled, Failed };

// One get or call: the member at pos (a Member token, or "(" for the default member) with its arguments.
Step getMember(Engine& e, TokenLine& line, size_t& pos, const Variant& target, Variant& out) {
    int code = 0;
    IDispatch* d = targetOf(target, code);
    if (!d) return reportTarget(code) ? Step::Handled : Step::Failed;
    const Token& member = line[pos];
    if (member.is(tok::Member)) ++pos;
    MemberArgs a;
    if (!readArgs(e, line, pos, a)) return Step::Failed;
    d->AddRef();  // the arguments may have run code that dropped the target
    struct Drop {
        IDispatch* d;
        ~Drop() { d->Release(); }
    } drop{d};
    DISPID id;
    bool handled = false;
    if (!memberId(d, member, id, handled)) return handled ? Step::Handled : Step::Failed;
    VARIANT r;
    VariantInit(&r);
    if (!invokeChecked(d, id, DISPATCH_METHOD | DISPATCH_PROPERTYGET, a, &r, handled))
        return handled ? Step::Handled : Step::Failed;
    fromVariant(r, out);
    VariantClear(&r);
    return Step::Ok;
}

// A member name that follows a value that is not an object: error 169, offered to the handler first.
bool notObject(Engine& e, TokenLine& line, size_t& pos) {
    if (objectHooks().offerError && objectHooks().offerError(e, err::NotObject)) {
        skipChain(line, pos);
        return true;
    }
    reportRuntimeError(err::NotObject, line[pos].column);
    return false;
}

bool readHook(Engine& e, TokenLine& line, size_t& pos, Variant& object, Variant& out) {
    if (!line[pos].is(tok::Member) && !line[pos].is(tok::LParen)) {
        out = object;
        return true;
    }
    Variant cur = object;  // the object itself may be changed by the arguments' code
    for (;;) {
        Variant next;
        Step s = getMember(e, line, pos, cur, next);
        if (s == Step::Failed) return false;
        if (s == Step::Handled) {
            skipChain(line, pos);
            out.setString(SString());
            return true;
        }
        cur = std::move(next);
        if (!line[pos].is(tok::Member)) break;
        if (!cur.is(Kind::Object)) {
            if (!notObject(e, line, pos)) return false;
            out.setString(SString());
            return true;
        }
    }
    out = std::move(cur);
    return true;
}

bool putMember(Engine& e, TokenLine& line, size_t& pos, const Variant& target, const Token& member, MemberArgs& a) {
    ++pos;  // "="
    Variant value;
    if (!e.evaluate(line, pos, value)) return false;
    if (!isEol(line[pos])) {
        reportRuntimeError(err::ExtraText, line[pos].column);
        return false;
    }
    int code = 0;
    IDispatch* d = targetOf(target, code);
    if (!d) return reportTarget(code);
    d->AddRef();
    struct Drop {
        IDispatch* d;
        ~Drop() { d->Release(); }
    } drop{d};
    DISPID id;
    bool handled = false;
    if (!memberId(d, member, id, handled)) return handled;
    bool isObj = value.is(Kind::Object);
    a.values.push_back(std::move(value));
    a.refs.push_back(nullptr);
    WORD first = isObj ? DISPATCH_PROPERTYPUTREF : DISPATCH_PROPERTYPUT;
    WORD second = isObj ? DISPATCH_PROPERTYPUT : DISPATCH_PROPERTYPUTREF;
    EXCEPINFO info{};
    bool converted = true;
    int n = static_cast<int>(a.values.size());
    HRESULT hr = callMember(d, id, first, a.values.data(), a.refs.data(), n, nullptr, &info, converted);
    if (converted && hr == DISP_E_MEMBERNOTFOUND) {
        hr = callMember(d, id, second, a.values.data(), a.refs.data(), n, nullptr, &info, converted);
    }
    if (!converted) return failure(5, nullptr, u"Conversion of parameters failed", true);
    if (SUCCEEDED(hr)) return true;
    return invokeFailure(hr, info);
}

// A statement that is an object member chain: a call whose result is dropped, or an assignment to the
// last member.
bool statementHook(Engine& e, TokenLine& line, size_t pos, Variant& object) {
    Variant cur = object;
    for (;;) {
        // Where does this member (and its arguments) end?
        size_t after = pos + (line[pos].is(tok::Member) ? 1 : 0);
        if (line[after].is(tok::LParen)) {
            size_t close;
            if (!findClose(line, after, close)) return reportRuntimeDetail(kBadArgs), false;
            after = close + 1;
        }
        if (line[after].is(tok::Equal)) {
            const Token& member = line[pos];
            if (member.is(tok::Member)) ++pos;
            MemberArgs a;
            if (!readArgs(e, line, pos, a)) return false;
            return putMember(e, line, pos, cur, member, a);
        }
        if (!line[after].is(tok::Member) && !isEol(line[after])) {
            reportRuntimeDetail(kBadAssign);
            return false;
        }
        Variant next;
        Step s = getMember(e, line, pos, cur, next);
        if (s == Step::Failed) return false;
        if (s == Step::Handled) return true;
        if (isEol(line[pos])) return true;
        if (!next.is(Kind::Object)) return notObject(e, line, pos);
        cur = std::move(next);
    }
}

// ---- FOR ... IN -------------------------------------------------------------------------------------------

// The next element of an enumerator held in en; false (and the enumerator dropped) at the end.
bool nextItem(Variant& en, Variant& item) {
    const VARIANT* h = heldVariant(en);
    if (!h || V_VT(h) != VT_UNKNOWN || !V_UNKNOWN(h)) {
        failure(2, nullptr, u"Incorrect Object type in FOR..IN loop", false);
        return false;
    }
    IEnumVARIANT* ev = nullptr;
    if (FAILED(V_UNKNOWN(h)->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void**>(&ev))) || !ev) return false;
    VARIANT v;
    VariantInit(&v);
    ULONG fetched = 0;
    RunState& rs = runState();
    const uint8_t saved = rs.objectCall;
    rs.objectCall = 1;
    HRESULT hr = ev->Next(1, &v, &fetched);
    rs.objectCall = saved;
    ev->Release();
    if (hr != S_OK || fetched != 1) {
        VariantClear(&v);
        en.clear();  // the enumerator is dropped with the loop
        return false;
    }
    fromVariant(v, item);
    VariantClear(&v);
    return true;
}

bool enumStart(Engine&, Variant& object, Variant& en, Variant& item, bool& failed) {
    failed = false;
    int code = 0;
    IDispatch* d = targetOf(object, code);
    if (!d) {
        failed = !reportTarget(code);
        return false;
    }
    d->AddRef();
    struct Drop {
        IDispatch* d;
        ~Drop() { d->Release(); }
    } drop{d};
    DISPID id = DISPID_NEWENUM;
    for (const char16_t* n : {u"_NewEnum", u"get__NewEnum"}) {
        std::u16string name(n);
        LPOLESTR names[1] = {reinterpret_cast<LPOLESTR>(name.data())};
        DISPID found;
        if (SUCCEEDED(d->GetIDsOfNames(IID_NULL, names, 1, kNameLocale, &found))) {
            id = found;
            break;
        }
    }
    MemberArgs none;
    VARIANT r;
    VariantInit(&r);
    bool handled = false;
    if (!invokeChecked(d, id, DISPATCH_METHOD | DISPATCH_PROPERTYGET, none, &r, handled)) {
        failed = !handled;
        return false;
    }
    IUnknown* unk = nullptr;
    if (V_VT(&r) == VT_UNKNOWN || V_VT(&r) == VT_DISPATCH) unk = V_UNKNOWN(&r);
    if (!unk) {
        VariantClear(&r);
        failed = !failure(1, nullptr, u"Null Object assignment in FOR..IN loop", true);
        return false;
    }
    IEnumVARIANT* ev = nullptr;
    HRESULT hr = unk->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void**>(&ev));
    VariantClear(&r);
    if (FAILED(hr) || !ev) {
        failed = !failure(hr, nullptr, u"Incorrect Object type in FOR..IN loop", true);
        return false;
    }
    ev->Reset();
    // The enumerator is kept as an IUnknown: it is no dispatch object the script could call.
    en = wrapEnumerator(ev);
    return nextItem(en, item);
}

bool enumNext(Engine&, Variant& en, Variant& item) { return nextItem(en, item); }

bool objectsEqual(const Variant& a, const Variant& b) {
    const VARIANT* x = heldVariant(a);
    const VARIANT* y = heldVariant(b);
    if (!x || !y) return false;
    return V_VT(x) == V_VT(y) && V_UNKNOWN(x) == V_UNKNOWN(y);
}

// ---- "idispatch" values of DLL calls ------------------------------------------------------------------------

void* dispatchOfValue(const Variant& v) {
    const VARIANT* h = heldVariant(v);
    if (!h || (V_VT(h) != VT_DISPATCH && V_VT(h) != VT_UNKNOWN)) return nullptr;
    return V_UNKNOWN(h);
}

bool objectFromPointer(void* p, bool addRef, Variant& out) {
    if (!p) return false;
    ensureOle();
    out = wrapUnknown(static_cast<IUnknown*>(p), addRef);
    return true;
}

void releaseFactories();

void releaseAll() {
    shutdownEvents();
    // Whatever the script still holds is released now, while the servers are loaded.
    releaseFactories();
    releaseValues();
}

const bool g_installed = [] {
    ObjectHooks& h = objectHooks();
    h.read = readHook;
    h.statement = statementHook;
    h.enumStart = enumStart;
    h.enumNext = enumNext;
    h.equals = objectsEqual;
    native::dispatchHooks().dispatchOf = dispatchOfValue;
    native::dispatchHooks().objectFrom = objectFromPointer;
    loopHooks().objectEvent = serveEvent;
    addShutdownHook(releaseAll);
    return true;
}();

// ---- OBJCREATE -----------------------------------------------------------------------------------------------

// Classes met before: the class id of a name and the class factory. Every lookup and creation through the
// system costs a dozen registry reads, so a script that creates objects in a loop would spend its time
// there; a kept factory makes a creation one call. A factory that stops working is dropped and the class
// is created the ordinary way.
struct KnownClass {
    std::u16string name;  // upper case
    CLSID id;
    IClassFactory* factory = nullptr;
    bool noFactory = false;  // none to keep (a local server, or the factory failed once)
};
std::vector<KnownClass> g_classes;

KnownClass* knownClass(const std::u16string& upperName) {
    for (auto& c : g_classes)
        if (c.name == upperName) return &c;
    return nullptr;
}

std::u16string upperName(const SString& s) { return asciiUpperCopy(s.view()); }

bool classId(const SString& cls, CLSID& id, HRESULT& hr) {
    std::u16string key = upperName(cls);
    if (KnownClass* k = knownClass(key)) {
        id = k->id;
        hr = S_OK;
        return true;
    }
    std::u16string s(cls.view());
    LPCOLESTR p = reinterpret_cast<LPCOLESTR>(s.c_str());
    if (!s.empty() && s[0] == u'{') hr = CLSIDFromString(p, &id);
    else hr = CLSIDFromProgID(p, &id);
    if (FAILED(hr)) return false;
    g_classes.push_back(KnownClass{std::move(key), id, nullptr});
    return true;
}

// Creates an instance of a local class (in-process or local server), asking for IUnknown.
HRESULT createLocal(const SString& cls, const CLSID& id, IUnknown** unk) {
    KnownClass* k = knownClass(upperName(cls));
    // Only in-process factories are kept: holding the class object of a local server could keep that
    // program running after the script has let go of its objects.
    if (k && !k->factory && !k->noFactory) {
        IClassFactory* f = nullptr;
        if (SUCCEEDED(CoGetClassObject(id, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&f))) && f)
            k->factory = f;
        else
            k->noFactory = true;
    }
    if (k && k->factory) {
        HRESULT hr = k->factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(unk));
        if (SUCCEEDED(hr)) return hr;
        k->factory->Release();
        k->factory = nullptr;
        k->noFactory = true;
    }
    return CoCreateInstance(id, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IUnknown,
                            reinterpret_cast<void**>(unk));
}

void releaseFactories() {
    for (auto& c : g_classes)
        if (c.factory) {
            c.factory->Release();
            c.factory = nullptr;
        }
}

// The class id the remote machine has for cls (replaces the local one when found).
HRESULT remoteClassId(const std::u16string& machine, const SString& cls, const SString* user, const SString* password,
                      CLSID& id) {
    if (user) {
        std::u16string remote = machine + u"\\IPC$";
        NETRESOURCEW nr{};
        nr.dwType = RESOURCETYPE_ANY;
        nr.lpRemoteName = reinterpret_cast<LPWSTR>(remote.data());
        std::u16string u(user->view()), pw(password ? password->view() : u16view());
        DWORD r = WNetAddConnection2W(&nr, reinterpret_cast<LPCWSTR>(pw.c_str()), reinterpret_cast<LPCWSTR>(u.c_str()), 0);
        if (static_cast<LONG>(r) < 0) return static_cast<HRESULT>(r);
    }
    HKEY hklm = nullptr;
    if (RegConnectRegistryW(reinterpret_cast<LPCWSTR>(machine.c_str()), HKEY_LOCAL_MACHINE, &hklm) != ERROR_SUCCESS)
        return S_OK;
    std::u16string path = u"SOFTWARE\\Classes\\" + std::u16string(cls.view()) + u"\\CLSID";
    HKEY key = nullptr;
    LONG r = RegOpenKeyExW(hklm, reinterpret_cast<LPCWSTR>(path.c_str()), 0, KEY_READ, &key);
    RegCloseKey(hklm);
    if (r != ERROR_SUCCESS) return S_OK;
    wchar_t buf[256] = {};
    DWORD size = 510, type = 0;
    r = RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
    RegCloseKey(key);
    if (r != ERROR_SUCCESS) return S_OK;
    buf[255] = 0;
    CLSID found;
    HRESULT hr = CLSIDFromString(buf, &found);
    if (FAILED(hr)) return hr;
    id = found;
    return S_OK;
}

bool g_securitySet = false;

int nullObject(Variant& r, bool emptyString);

int createRemote(Engine& e, Args& a, const CLSID& local, Variant& r) {
    CLSID id = local;
    SString server = a.str(1);
    std::u16string host(server.view());
    // A name given as "\\host" (or "\host") keeps its own backslashes.
    while (!host.empty() && host[0] == u'\\') host.erase(0, 1);
    std::u16string machine = u"\\\\" + host;
    const bool withUser = a.given(2) && !a.str(2).empty();
    SString user = withUser ? a.str(2) : SString();
    SString password = a.given(3) ? a.str(3) : SString();
    HRESULT hr = remoteClassId(machine, a.str(0), withUser ? &user : nullptr, &password, id);
    if (FAILED(hr)) {
        failure(hr, nullptr, nullptr, false);
        e.setError(static_cast<int32_t>(hr));
        r.setInt32(0);
        return 0;
    }
    if (!g_securitySet) {
        CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_CONNECT, RPC_C_IMP_LEVEL_IMPERSONATE,
                             nullptr, EOAC_NONE, nullptr);
        g_securitySet = true;
    }
    std::u16string hostName(server.view());
    COSERVERINFO si{};
    si.pwszName = reinterpret_cast<LPWSTR>(hostName.data());
    COAUTHIDENTITY ident{};
    COAUTHINFO auth{};
    std::u16string domain, name, pw(password.view());
    if (withUser) {
        std::u16string u(user.view());
        size_t slash = u.find(u'\\');
        if (slash != std::u16string::npos) {
            domain = u.substr(0, slash);
            name = u.substr(slash + 1);
        } else {
            name = u;
        }
        ident.User = reinterpret_cast<USHORT*>(name.data());
        ident.UserLength = static_cast<ULONG>(name.size());
        ident.Domain = reinterpret_cast<USHORT*>(domain.data());
        ident.DomainLength = static_cast<ULONG>(domain.size());
        ident.Password = reinterpret_cast<USHORT*>(pw.data());
        ident.PasswordLength = static_cast<ULONG>(pw.size());
        ident.Flags = SEC_WINNT_AUTH_IDENTITY_UNICODE;
        auth.dwAuthnSvc = 9;  // negotiate
        auth.dwAuthzSvc = RPC_C_AUTHZ_NONE;
        auth.dwAuthnLevel = RPC_C_AUTHN_LEVEL_CONNECT;
        auth.dwImpersonationLevel = RPC_C_IMP_LEVEL_IMPERSONATE;
        auth.pAuthIdentityData = &ident;
        si.pAuthInfo = &auth;
    }
    MULTI_QI mqi{&IID_IDispatch, nullptr, S_OK};
    hr = CoCreateInstanceEx(id, nullptr, CLSCTX_REMOTE_SERVER, &si, 1, &mqi);
    if (SUCCEEDED(hr)) hr = mqi.hr;
    if (FAILED(hr) || !mqi.pItf) {
        if (SUCCEEDED(hr)) return nullObject(r, false);
        failure(hr, nullptr, nullptr, false);
        e.setError(static_cast<int32_t>(hr));
        r.setInt32(0);
        return 0;
    }
    if (withUser) {
        CoSetProxyBlanket(mqi.pItf, 9, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CONNECT,
                          RPC_C_IMP_LEVEL_IMPERSONATE, &ident, EOAC_NONE);
    }
    r = wrapDispatch(static_cast<IDispatch*>(mqi.pItf), false);
    return 0;
}

// A failed creation: @error is the HRESULT (the handler, when active, is told too).
int creationFailed(Engine& e, HRESULT hr, Variant& r, bool emptyString) {
    failure(hr, nullptr, nullptr, false);
    e.setError(static_cast<int32_t>(hr));
    if (emptyString) r.setString(SString());
    else r.setInt32(0);
    return 0;
}

// A creation that succeeded but gave no object: fatal unless the handler takes it.
int nullObject(Variant& r, bool emptyString) {
    if (!failure(1, nullptr, u"NULL Pointer assignment", true)) {
        reportRuntimeError(err::ObjectFailed, -1);
        return 1;
    }
    if (emptyString) r.setString(SString());
    else r.setInt32(0);
    return 0;
}

}  // namespace
}  // namespace com

using namespace com;

int bi_OBJCREATE(Engine& e, Args& a, Variant& r) {
    if (!ensureOle()) return creationFailed(e, E_UNEXPECTED, r, false);
    CLSID id;
    HRESULT hr;
    if (!classId(a.str(0), id, hr)) return creationFailed(e, hr, r, false);
    if (a.given(1) && !a.str(1).empty()) return createRemote(e, a, id, r);
    IUnknown* unk = nullptr;
    hr = createLocal(a.str(0), id, &unk);
    if (FAILED(hr)) return creationFailed(e, hr, r, false);
    if (!unk) return nullObject(r, false);
    IDispatch* d = nullptr;
    hr = unk->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&d));
    unk->Release();
    if (FAILED(hr)) return creationFailed(e, hr, r, false);
    if (!d) return nullObject(r, false);
    r = wrapDispatch(d, false);
    return 0;
}

int bi_OBJGET(Engine& e, Args& a, Variant& r) {
    if (!ensureOle()) return creationFailed(e, E_UNEXPECTED, r, true);
    SString file = a.str(0);
    IDispatch* d = nullptr;
    HRESULT hr;
    if (!file.empty()) {
        std::u16string name(file.view());
        bool exists = GetFileAttributesW(reinterpret_cast<LPCWSTR>(name.c_str())) != INVALID_FILE_ATTRIBUTES;
        if (!exists) {
            WIN32_FIND_DATAW fd;
            HANDLE h = FindFirstFileW(reinterpret_cast<LPCWSTR>(name.c_str()), &fd);
            if (h != INVALID_HANDLE_VALUE) {
                FindClose(h);
                exists = true;
            }
        }
        if (exists) {
            std::u16string doubled;
            for (char16_t c : name) {
                doubled += c;
                if (c == u'\\') doubled += c;
            }
            name = std::move(doubled);
        }
        IBindCtx* ctx = nullptr;
        hr = CreateBindCtx(0, &ctx);
        if (FAILED(hr)) return creationFailed(e, hr, r, true);
        IMoniker* mk = nullptr;
        ULONG eaten = 0;
        hr = MkParseDisplayName(ctx, reinterpret_cast<LPCOLESTR>(name.c_str()), &eaten, &mk);
        if (SUCCEEDED(hr) && mk) {
            hr = mk->BindToObject(ctx, nullptr, IID_IDispatch, reinterpret_cast<void**>(&d));
            mk->Release();
        } else if (SUCCEEDED(hr)) {
            hr = MK_E_SYNTAX;
        }
        ctx->Release();
        if (FAILED(hr)) return creationFailed(e, hr, r, true);
    } else {
        if (!a.given(1) || a.str(1).empty()) return creationFailed(e, E_INVALIDARG, r, true);
        CLSID id;
        if (!classId(a.str(1), id, hr)) return creationFailed(e, hr, r, true);
        IUnknown* unk = nullptr;
        hr = GetActiveObject(id, nullptr, &unk);
        if (FAILED(hr)) return creationFailed(e, hr, r, true);
        if (!unk) return nullObject(r, true);
        hr = unk->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&d));
        unk->Release();
        if (FAILED(hr)) return creationFailed(e, hr, r, true);
    }
    if (!d) return nullObject(r, true);
    r = wrapDispatch(d, false);
    return 0;
}

namespace {

SString readClassKey(const std::u16string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, reinterpret_cast<LPCWSTR>(path.c_str()), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return SString();
    DWORD type = 0, size = 0;
    SString out;
    if (RegQueryValueExW(key, nullptr, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ) && size >= sizeof(wchar_t)) {
        std::vector<wchar_t> buf(size / sizeof(wchar_t) + 1, 0);
        if (RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buf.data()), &size) == ERROR_SUCCESS)
            out = SString(reinterpret_cast<const char16_t*>(buf.data()));
    }
    RegCloseKey(key);
    return out;
}

SString className(IDispatch* d) {
    ITypeInfo* ti = nullptr;
    IProvideClassInfo* pci = nullptr;
    if (SUCCEEDED(d->QueryInterface(IID_IProvideClassInfo, reinterpret_cast<void**>(&pci))) && pci) {
        if (FAILED(pci->GetClassInfo(&ti))) ti = nullptr;
        pci->Release();
    }
    if (!ti && FAILED(d->GetTypeInfo(0, 0, &ti))) ti = nullptr;
    if (!ti) return SString();
    BSTR name = nullptr;
    SString out;
    if (SUCCEEDED(ti->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr)) && name)
        out = SString(reinterpret_cast<const char16_t*>(name), SysStringLen(name));
    SysFreeString(name);
    ti->Release();
    return out;
}

SString registryName(IDispatch* d, int flag) {
    IOleObject* ole = nullptr;
    if (FAILED(d->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&ole))) || !ole) return SString();
    CLSID id;
    HRESULT hr = ole->GetUserClassID(&id);
    ole->Release();
    if (FAILED(hr)) return SString();
    LPOLESTR s = nullptr;
    if (FAILED(StringFromCLSID(id, &s)) || !s) return SString();
    std::u16string base = u"CLSID\\" + std::u16string(reinterpret_cast<const char16_t*>(s));
    CoTaskMemFree(s);
    switch (flag) {
        case 2: return readClassKey(base);
        case 3: return readClassKey(base + u"\\ProgID");
        case 4: {
            SString f = readClassKey(base + u"\\inprocserver32");
            return f.empty() ? readClassKey(base + u"\\localserver32") : f;
        }
        default: return readClassKey(base + u"\\ToolBoxBitmap32");
    }
}

}  // namespace

int bi_OBJNAME(Engine& e, Args& a, Variant& r) {
    r.setString(SString());
    const VARIANT* h = heldVariant(a[0]);
    IDispatch* d = (h && V_VT(h) == VT_DISPATCH) ? V_DISPATCH(h) : nullptr;
    if (!d) {
        e.setError(1);
        return 0;
    }
    int flag = a.int32Or(1, 1);
    SString name = flag < 2 ? className(d) : registryName(d, flag);
    if (name.empty()) {
        e.setError(1);
        return 0;
    }
    r.setString(std::move(name));
    return 0;
}

// ---- the bridge for hosting objects in windows ---------------------------------------------------------------

bool comUnknownOf(const Variant& object, IUnknown** out) {
    *out = nullptr;
    const VARIANT* h = heldVariant(object);
    if (!h || (V_VT(h) != VT_DISPATCH && V_VT(h) != VT_UNKNOWN) || !V_UNKNOWN(h)) return false;
    *out = V_UNKNOWN(h);
    (*out)->AddRef();
    return true;
}

bool comObjectFrom(IUnknown* p, Variant& out) {
    if (!p || !ensureOle()) return false;
    out = wrapUnknown(p, true);
    return true;
}

bool comInitialise() { return ensureOle(); }

}  // namespace tx
