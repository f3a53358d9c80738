// COM automation objects: Object values, the conversions between script values and VARIANTs, late-bound
// member calls (get, call, put, put by reference) with chains, WITH and FOR ... IN over IEnumVARIANT, and
// the built-ins OBJCREATE, OBJGET and OBJNAME. Events and the error handler live in com_events.cpp.
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

bool g_oleStarted = false;      // COM is usable on the script's thread
bool g_oleInitialised = false;  // and this layer started it (so it ends it)
ObjectPayload* g_payloads = nullptr;  // every live payload (released at the end of the run)
bool g_shutDown = false;

constexpr LCID kNameLocale = 0x0400;
constexpr LCID kCallLocale = 0x0800;

ObjectPayload* newPayload() {
    auto* p = new ObjectPayload;
    VariantInit(&p->v);
    p->next = g_payloads;
    if (g_payloads) g_payloads->prev = p;
    g_payloads = p;
    return p;
}

void* copyPayload(void* src) {
    auto* s = static_cast<ObjectPayload*>(src);
    ObjectPayload* p = newPayload();
    if (FAILED(VariantCopy(&p->v, &s->v))) {
        VariantClear(&p->v);
        V_VT(&p->v) = VT_EMPTY;  // the copy holds no object
    }
    return p;
}

void releasePayload(void* payload) {
    auto* p = static_cast<ObjectPayload*>(payload);
    if (p->prev) p->prev->next = p->next;
    else if (g_payloads == p) g_payloads = p->next;
    if (p->next) p->next->prev = p->prev;
    // After the end of the run OLE is down: what is left was released already.
    if (!g_shutDown) VariantClear(&p->v);
    delete p;
}

// ---- conversions ---------------------------------------------------------------------------------------------

BSTR toBstr(u16view s) {
    return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(s.data()), static_cast<UINT>(s.size()));
}

SString fromBstr(BSTR b) {
    if (!b) return SString();
    return SString(reinterpret_cast<const char16_t*>(b), SysStringLen(b));
}

bool arrayToSafeArray(const ArrayData& a, VARIANT& out) {
    std::vector<SAFEARRAYBOUND> bounds(a.ndims);
    for (uint32_t d = 0; d < a.ndims; ++d) {
        bounds[d].lLbound = 0;
        bounds[d].cElements = a.dims[d];
    }
    SAFEARRAY* sa = SafeArrayCreate(VT_VARIANT, a.ndims, bounds.data());
    if (!sa) return false;
    VARIANT* data = nullptr;
    if (FAILED(SafeArrayAccessData(sa, reinterpret_cast<void**>(&data)))) {
        SafeArrayDestroy(sa);
        return false;
    }
    // The script's arrays are row-major (last subscript fastest); a SAFEARRAY keeps its first subscript
    // fastest. Each element goes to the cell of the same subscripts.
    std::vector<uint32_t> subs(a.ndims, 0);
    bool ok = true;
    for (uint32_t k = 0; k < a.total && ok; ++k) {
        size_t cell = 0, stride = 1;
        for (uint32_t d = 0; d < a.ndims; ++d) {
            cell += subs[d] * stride;
            stride *= a.dims[d];
        }
        ok = toVariant(a.at(k), data[cell]);
        for (int d = static_cast<int>(a.ndims) - 1; d >= 0; --d) {
            if (++subs[static_cast<size_t>(d)] < a.dims[d]) break;
            subs[static_cast<size_t>(d)] = 0;
        }
    }
    SafeArrayUnaccessData(sa);
    if (!ok) {
        SafeArrayDestroy(sa);
        return false;
    }
    V_VT(&out) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(&out) = sa;
    return true;
}

// Element types whose cells can be read as a VARIANT of that type.
bool readableElement(VARTYPE t) {
    switch (t) {
        case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4: case VT_INT: case VT_UINT:
        case VT_R4: case VT_R8: case VT_CY: case VT_DATE: case VT_BSTR: case VT_BOOL: case VT_ERROR: case VT_I8:
        case VT_UI8: case VT_DISPATCH: case VT_UNKNOWN: case VT_DECIMAL: case VT_VARIANT:
            return true;
        default:
            return false;
    }
}

void safeArrayToArray(SAFEARRAY* sa, VARTYPE elemType, Variant& out) {
    UINT nd = sa ? SafeArrayGetDim(sa) : 0;
    if (nd == 0 || nd > static_cast<UINT>(kMaxDims)) {
        out.setString(SString());
        return;
    }
    // Dimensions in the order they were created (the first is the fastest in memory).
    std::vector<uint32_t> dims(nd);
    uint64_t total = 1;
    for (UINT d = 0; d < nd; ++d) {
        LONG lo = 0, hi = -1;
        SafeArrayGetLBound(sa, d + 1, &lo);
        SafeArrayGetUBound(sa, d + 1, &hi);
        dims[d] = hi >= lo ? static_cast<uint32_t>(hi - lo + 1) : 0;
        total *= dims[d];
    }
    if (total > kMaxElements) {
        out.setString(SString());
        return;
    }
    ArrayData* a = ArrayData::create(dims.data(), nd);
    Variant result = Variant::array(a);
    UINT elemSize = SafeArrayGetElemsize(sa);
    char* data = nullptr;
    if (total == 0 || FAILED(SafeArrayAccessData(sa, reinterpret_cast<void**>(&data)))) {
        out = std::move(result);
        return;
    }
    std::vector<uint32_t> subs(nd, 0);
    for (uint32_t k = 0; k < a->total; ++k) {
        size_t cell = 0, stride = 1;
        for (UINT d = 0; d < nd; ++d) {
            cell += subs[d] * stride;
            stride *= dims[d];
        }
        const char* at = data + cell * elemSize;
        if (!readableElement(elemType)) {
            // Records and other types with no value of their own: the element stays "".
        } else if (elemType == VT_VARIANT) {
            fromVariant(*reinterpret_cast<const VARIANT*>(at), a->at(k));
        } else {
            // A borrowed view of the element as a VARIANT of its type (nothing is released).
            VARIANT view;
            std::memset(&view, 0, sizeof view);
            V_VT(&view) = elemType;
            size_t n = elemSize;
            if (n > sizeof(view) - offsetof(VARIANT, llVal)) n = sizeof(view) - offsetof(VARIANT, llVal);
            if (elemType == VT_DECIMAL) std::memcpy(&V_DECIMAL(&view), at, sizeof(DECIMAL)), V_VT(&view) = VT_DECIMAL;
            else std::memcpy(&V_I8(&view), at, n);
            fromVariant(view, a->at(k));
        }
        for (int d = static_cast<int>(nd) - 1; d >= 0; --d) {
            if (++subs[static_cast<size_t>(d)] < dims[static_cast<size_t>(d)]) break;
            subs[static_cast<size_t>(d)] = 0;
        }
    }
    SafeArrayUnaccessData(sa);
    out = std::move(result);
}

SString dateString(DATE d) {
    SYSTEMTIME st{};
    if (!VariantTimeToSystemTime(d, &st)) return SString();
    char buf[64];
    std::snprintf(buf, sizeof buf, "%4d%02d%02d%02d%02d%02d", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute,
                  st.wSecond);
    return SString::fromLatin1(buf);
}

}  // namespace

bool ensureOle() {
    if (g_oleStarted) return true;
    HRESULT hr = OleInitialize(nullptr);
    // Someone else may have started COM on this thread in the other threading model (RPC_E_CHANGED_MODE):
    // it is usable, but not ours to end.
    if (FAILED(hr) && hr != RPC_E_CHANGED_MODE) return false;
    g_oleInitialised = SUCCEEDED(hr);
    g_oleStarted = true;
    return true;
}

bool oleStarted() { return g_oleStarted; }

Variant wrapDispatch(IDispatch* p, bool addRef) {
    ObjectPayload* o = newPayload();
    V_VT(&o->v) = VT_DISPATCH;
    V_DISPATCH(&o->v) = p;
    if (p && addRef) p->AddRef();
    return Variant::object(o);
}

Variant wrapUnknown(IUnknown* p, bool addRef) {
    IDispatch* d = nullptr;
    if (p && SUCCEEDED(p->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&d)))) {
        if (!addRef) p->Release();
        return wrapDispatch(d, false);
    }
    ObjectPayload* o = newPayload();
    V_VT(&o->v) = VT_UNKNOWN;
    V_UNKNOWN(&o->v) = p;
    if (p && addRef) p->AddRef();
    return Variant::object(o);
}

const VARIANT* heldVariant(const Variant& v) {
    if (!v.is(Kind::Object) || !v.rawOther()) return nullptr;
    return &static_cast<ObjectPayload*>(v.rawOther())->v;
}

bool toVariant(const Variant& in, VARIANT& out) {
    switch (in.kind()) {
        case Kind::Int32:
            V_VT(&out) = VT_I4;
            V_I4(&out) = in.rawInt32();
            return true;
        case Kind::Int64:
        case Kind::Double:
            V_VT(&out) = VT_R8;
            V_R8(&out) = in.toDouble();
            return true;
        case Kind::String:
            V_VT(&out) = VT_BSTR;
            V_BSTR(&out) = toBstr(in.rawString().view());
            return V_BSTR(&out) != nullptr;
        case Kind::Array:
            return arrayToSafeArray(*in.rawArray(), out);
        case Kind::Object: {
            const VARIANT* h = heldVariant(in);
            if (!h) return true;  // VT_EMPTY
            return SUCCEEDED(VariantCopy(&out, const_cast<VARIANT*>(h)));
        }
        case Kind::Bool:
            // True goes as 1, not VARIANT_TRUE: scripts and servers written for this runtime rely on it.
            V_VT(&out) = VT_BOOL;
            V_BOOL(&out) = in.rawBool() ? 1 : 0;
            return true;
        case Kind::Keyword:
            if (!in.isDefaultKeyword()) return false;
            V_VT(&out) = VT_ERROR;
            V_ERROR(&out) = DISP_E_PARAMNOTFOUND;
            return true;
        case Kind::Reference:
            return in.rawReference() && toVariant(*in.rawReference(), out);
        case Kind::Binary: {
            SAFEARRAY* sa = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(in.binaryLength()));
            if (!sa) return false;
            void* data = nullptr;
            if (in.binaryLength() && SUCCEEDED(SafeArrayAccessData(sa, &data))) {
                std::memcpy(data, in.binaryData(), in.binaryLength());
                SafeArrayUnaccessData(sa);
            }
            V_VT(&out) = VT_ARRAY | VT_UI1;
            V_ARRAY(&out) = sa;
            return true;
        }
        default:
            return false;  // Ptr, DLLStruct
    }
}

void fromVariant(const VARIANT& in, Variant& out) {
    VARTYPE vt = V_VT(&in);
    if (vt & VT_ARRAY) {
        SAFEARRAY* sa = (vt & VT_BYREF) ? (V_ARRAYREF(&in) ? *V_ARRAYREF(&in) : nullptr) : V_ARRAY(&in);
        VARTYPE et = vt & VT_TYPEMASK;
        if (sa && et == VT_EMPTY) SafeArrayGetVartype(sa, &et);
        safeArrayToArray(sa, et, out);
        return;
    }
    if (vt & VT_BYREF) {
        // The referenced value, read as its type; a null reference leaves the value empty.
        if (!V_BYREF(&in)) {
            out.setString(SString());
            return;
        }
        VARTYPE base = vt & VT_TYPEMASK;
        if (base == VT_VARIANT) {
            fromVariant(*V_VARIANTREF(&in), out);
            return;
        }
        VARIANT view;
        std::memset(&view, 0, sizeof view);
        V_VT(&view) = base;
        switch (base) {
            case VT_I1: case VT_UI1: V_UI1(&view) = *V_UI1REF(&in); break;
            case VT_I2: case VT_UI2: case VT_BOOL: V_UI2(&view) = *V_UI2REF(&in); break;
            case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_R4: case VT_ERROR:
                V_UI4(&view) = *V_UI4REF(&in);
                break;
            case VT_I8: case VT_UI8: case VT_R8: case VT_CY: case VT_DATE: V_UI8(&view) = *V_UI8REF(&in); break;
            case VT_BSTR: V_BSTR(&view) = *V_BSTRREF(&in); break;
            case VT_DISPATCH: V_DISPATCH(&view) = *V_DISPATCHREF(&in); break;
            case VT_UNKNOWN: V_UNKNOWN(&view) = *V_UNKNOWNREF(&in); break;
            case VT_DECIMAL: V_DECIMAL(&view) = *V_DECIMALREF(&in); V_VT(&view) = VT_DECIMAL; break;
            default: {
                // A copy of what the reference points at: the server's memory is not ours to keep.
                ObjectPayload* o = newPayload();
                if (FAILED(VariantCopyInd(&o->v, const_cast<VARIANT*>(&in)))) V_VT(&o->v) = VT_EMPTY;
                out = Variant::object(o);
                return;
            }
        }
        fromVariant(view, out);
        return;
    }
    switch (vt) {
        case VT_EMPTY:
        case VT_NULL: out.setString(SString()); return;
        case VT_I2: out.setInt32(V_I2(&in)); return;
        case VT_I4:
        case VT_INT: out.setInt32(V_I4(&in)); return;
        case VT_UINT:
        case VT_UI4: out.setInt32(static_cast<int32_t>(V_UI4(&in))); return;
        case VT_I1: out.setInt32(V_I1(&in)); return;
        case VT_UI1: out.setInt32(V_UI1(&in)); return;
        case VT_UI2: out.setInt32(V_UI2(&in)); return;
        case VT_R4: out.setDouble(V_R4(&in)); return;
        case VT_R8: out.setDouble(V_R8(&in)); return;
        case VT_CY: out.setDouble(static_cast<double>(V_CY(&in).int64) / 10000.0); return;
        case VT_DECIMAL: {
            double d = 0;
            VarR8FromDec(const_cast<DECIMAL*>(&V_DECIMAL(&in)), &d);
            out.setDouble(d);
            return;
        }
        case VT_DATE: out.setString(dateString(V_DATE(&in))); return;
        case VT_BSTR: out.setString(fromBstr(V_BSTR(&in))); return;
        case VT_BOOL: out.setBool(V_BOOL(&in) != 0); return;
        case VT_I8:
        case VT_UI8: out.setInt64(static_cast<int64_t>(V_UI8(&in))); return;
        case VT_DISPATCH: out = wrapDispatch(V_DISPATCH(&in), true); return;
        case VT_UNKNOWN: out = wrapUnknown(V_UNKNOWN(&in), true); return;
        default: {
            ObjectPayload* o = newPayload();
            if (FAILED(VariantCopy(&o->v, const_cast<VARIANT*>(&in)))) V_VT(&o->v) = VT_EMPTY;
            out = Variant::object(o);
            return;
        }
    }
}

namespace {

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
    if (hr == DISP_E_EXCEPTION) {
        if (info.pfnDeferredFillIn) info.pfnDeferredFillIn(&info);
        handled = failure(hr, &info, nullptr, true);
    } else {
        handled = failure(hr, nullptr, nullptr, true);
    }
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
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
    bool ok;
    if (hr == DISP_E_EXCEPTION) {
        if (info.pfnDeferredFillIn) info.pfnDeferredFillIn(&info);
        ok = failure(hr, &info, nullptr, true);
    } else {
        ok = failure(hr, nullptr, nullptr, true);
    }
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
    return ok;
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
    ObjectPayload* o = newPayload();
    V_VT(&o->v) = VT_UNKNOWN;
    V_UNKNOWN(&o->v) = ev;
    en = Variant::object(o);
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
    // Whatever the script still holds is released now, while the servers are loaded; the values
    // themselves go later with the engine and find their payloads empty.
    for (ObjectPayload* p = g_payloads; p; p = p->next) {
        VARIANT v = p->v;
        V_VT(&p->v) = VT_EMPTY;
        VariantClear(&v);
    }
    releaseFactories();
    g_shutDown = true;
    if (g_oleInitialised) OleUninitialize();
}

const bool g_installed = [] {
    g_objectOps.copy = copyPayload;
    g_objectOps.release = releasePayload;
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

std::u16string upperName(const SString& s) {
    std::u16string u(s.view());
    for (auto& c : u) c = asciiUpper(c);
    return u;
}

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
