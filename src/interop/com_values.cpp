// Object values and the conversions between script values and VARIANTs (both ways, arrays as
// SAFEARRAYs with their subscripts kept), and the start and end of OLE for the run.
//
// An Object value owns an ObjectPayload (see com_internal.h). Payloads are listed so that the end of the
// run can release every object the script still holds while the servers are loaded; the values
// themselves go later, with the engine, and then find their payloads empty.
#include <cstdio>
#include <cstring>
#include <vector>

#include "interop/com_internal.h"

namespace tx {
namespace com {

namespace {

bool g_oleStarted = false;      // COM is usable on the script's thread
bool g_oleInitialised = false;  // and this layer started it (so it ends it)
ObjectPayload* g_payloads = nullptr;  // every live payload (released at the end of the run)
bool g_shutDown = false;

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

Variant wrapEnumerator(IUnknown* e) {
    ObjectPayload* o = newPayload();
    V_VT(&o->v) = VT_UNKNOWN;
    V_UNKNOWN(&o->v) = e;
    return Variant::object(o);
}

void releaseValues() {
    for (ObjectPayload* p = g_payloads; p; p = p->next) {
        VARIANT v = p->v;
        V_VT(&p->v) = VT_EMPTY;
        VariantClear(&v);
    }
    g_shutDown = true;
    if (g_oleInitialised) OleUninitialize();
}

namespace {

const bool g_opsInstalled = [] {
    g_objectOps.copy = copyPayload;
    g_objectOps.release = releasePayload;
    return true;
}();

}  // namespace
}  // namespace com
}  // namespace tx
