// Interface references, VARIANTs and argument lists on the wire.

#include "marshal.h"

#include "objbase.h"
#include "proxy.h"
#include "runtime.h"

#include <cstring>

namespace qv::com {
namespace {

constexpr int kMaxDepth = 8;
constexpr uint32_t kMaxElements = 1u << 20;
constexpr uint32_t kNullArray = 0xFFFFFFFFu;

enum Tag : uint8_t { kNull = 0, kExported = 1, kYours = 2, kByValue = 3 };

HRESULT Bad() { return RPC_E_INVALID_DATAPACKET; }

// Writes an object that marshals itself; S_FALSE when it does not implement IMarshal.
HRESULT WriteByValue(wire::Writer& w, IUnknown* object, REFIID iid) {
    IMarshal* marshal = nullptr;
    if (FAILED(object->QueryInterface(IID_IMarshal, reinterpret_cast<void**>(&marshal)))) return S_FALSE;
    CLSID clsid{};
    IStream* stream = nullptr;
    HRESULT hr = marshal->GetUnmarshalClass(iid, object, MSHCTX_LOCAL, nullptr, MSHLFLAGS_NORMAL, &clsid);
    if (SUCCEEDED(hr)) hr = CreateStreamOnHGlobal(nullptr, TRUE, &stream);
    if (SUCCEEDED(hr)) hr = marshal->MarshalInterface(stream, iid, object, MSHCTX_LOCAL, nullptr, MSHLFLAGS_NORMAL);
    if (SUCCEEDED(hr)) {
        STATSTG stat{};
        LARGE_INTEGER zero{};
        hr = stream->Stat(&stat, STATFLAG_NONAME);
        if (SUCCEEDED(hr) && stat.cbSize.QuadPart > wire::kMaxBody) hr = E_OUTOFMEMORY;
        std::vector<uint8_t> bytes(SUCCEEDED(hr) ? static_cast<size_t>(stat.cbSize.QuadPart) : 0);
        ULONG read = 0;
        if (SUCCEEDED(hr)) hr = stream->Seek(zero, STREAM_SEEK_SET, nullptr);
        if (SUCCEEDED(hr) && !bytes.empty()) hr = stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read);
        if (SUCCEEDED(hr)) {
            w.U8(kByValue);
            w.Guid(clsid);
            w.Bytes(bytes.data(), bytes.size());
            hr = S_OK;
        }
    }
    if (stream != nullptr) stream->Release();
    marshal->Release();
    return hr;
}

HRESULT ReadByValue(wire::Reader& r, REFIID iid, void** object) {
    CLSID clsid{};
    std::vector<uint8_t> bytes;
    if (!r.Guid(&clsid) || !r.Bytes(&bytes)) return Bad();
    IMarshal* marshal = nullptr;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IMarshal,
                                  reinterpret_cast<void**>(&marshal));
    if (FAILED(hr)) return hr;
    IStream* stream = nullptr;
    hr = CreateStreamOnHGlobal(nullptr, TRUE, &stream);
    if (SUCCEEDED(hr) && !bytes.empty()) hr = stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr);
    LARGE_INTEGER zero{};
    if (SUCCEEDED(hr)) hr = stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    if (SUCCEEDED(hr)) hr = marshal->UnmarshalInterface(stream, iid, object);
    if (stream != nullptr) stream->Release();
    marshal->Release();
    if (FAILED(hr)) *object = nullptr;
    return hr;
}

size_t ElementSize(VARTYPE base) {
    switch (base) {
    case VT_I1:
    case VT_UI1: return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL: return 2;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_ERROR:
    case VT_R4: return 4;
    case VT_I8:
    case VT_UI8:
    case VT_R8:
    case VT_DATE:
    case VT_CY: return 8;
    default: return 0;
    }
}

const GUID& InterfaceOf(VARTYPE base) { return base == VT_DISPATCH ? IID_IDispatch : IID_IUnknown; }

HRESULT WriteArray(Connection& c, wire::Writer& w, VARTYPE base, SAFEARRAY* array, int depth) {
    if (array == nullptr) {
        w.U32(kNullArray);
        return S_OK;
    }
    if (SafeArrayGetDim(array) != 1) return DISP_E_BADVARTYPE;
    LONG lower = array->rgsabound[0].lLbound;
    ULONG count = array->rgsabound[0].cElements;
    w.U32(count);
    w.U32(static_cast<uint32_t>(lower));
    size_t size = ElementSize(base);
    const auto* data = static_cast<const uint8_t*>(array->pvData);
    for (ULONG i = 0; i < count; ++i) {
        if (size != 0) {
            w.Raw(data + i * size, size);
        } else if (base == VT_BSTR) {
            BSTR s = static_cast<BSTR const*>(array->pvData)[i];
            w.String(s != nullptr ? s : L"", SysStringLen(s));
        } else if (base == VT_VARIANT) {
            if (HRESULT hr = WriteVariant(c, w, static_cast<const VARIANT*>(array->pvData)[i], depth + 1); FAILED(hr))
                return hr;
        } else if (base == VT_UNKNOWN || base == VT_DISPATCH) {
            IUnknown* p = static_cast<IUnknown* const*>(array->pvData)[i];
            if (HRESULT hr = WriteInterface(c, w, p, InterfaceOf(base)); FAILED(hr)) return hr;
        } else {
            return DISP_E_BADVARTYPE;
        }
    }
    return S_OK;
}

HRESULT ReadArray(Connection& c, wire::Reader& r, VARTYPE base, SAFEARRAY** out, int depth) {
    *out = nullptr;
    uint32_t count = 0, lower = 0;
    if (!r.U32(&count)) return Bad();
    if (count == kNullArray) return S_OK;
    if (!r.U32(&lower)) return Bad();
    size_t size = ElementSize(base);
    bool known = size != 0 || base == VT_BSTR || base == VT_VARIANT || base == VT_UNKNOWN || base == VT_DISPATCH;
    if (!known) return DISP_E_BADVARTYPE;
    // Every element takes at least one byte on the wire: a count beyond the rest of the message is a lie.
    if (count > kMaxElements || count > r.remaining()) return Bad();
    SAFEARRAY* array = SafeArrayCreateVector(base, static_cast<LONG>(lower), count);
    if (array == nullptr) return E_OUTOFMEMORY;
    HRESULT hr = S_OK;
    for (uint32_t i = 0; i < count && SUCCEEDED(hr); ++i) {
        if (size != 0) {
            if (!r.Raw(static_cast<uint8_t*>(array->pvData) + i * size, size)) hr = Bad();
        } else if (base == VT_BSTR) {
            std::wstring text;
            bool present = false;
            if (!r.String(&text, &present)) {
                hr = Bad();
            } else {
                BSTR s = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
                if (s == nullptr) hr = E_OUTOFMEMORY;
                static_cast<BSTR*>(array->pvData)[i] = s;
            }
        } else if (base == VT_VARIANT) {
            hr = ReadVariant(c, r, &static_cast<VARIANT*>(array->pvData)[i], depth + 1);
        } else {
            hr = ReadInterface(c, r, InterfaceOf(base),
                               reinterpret_cast<void**>(&static_cast<IUnknown**>(array->pvData)[i]));
        }
    }
    if (FAILED(hr)) {
        SafeArrayDestroy(array);
        return hr;
    }
    *out = array;
    return S_OK;
}

}  // namespace

HRESULT WriteInterface(Connection& c, wire::Writer& w, IUnknown* object, REFIID iid, DWORD apartment) {
    if (object == nullptr) {
        w.U8(kNull);
        return S_OK;
    }
    ProxyManager* manager = ProxyManagerOf(object);
    if (manager != nullptr && &manager->connection() == &c) {
        w.U8(kYours);
        w.U64(manager->id());
        w.Guid(iid);
        return S_OK;
    }
    if (manager == nullptr) {
        HRESULT hr = WriteByValue(w, object, iid);
        if (hr != S_FALSE) return hr;
    }
    uint64_t id = 0;
    if (HRESULT hr = c.Export(object, iid, apartment, &id); FAILED(hr)) return hr;
    w.U8(kExported);
    w.U64(id);
    w.Guid(iid);
    return S_OK;
}

HRESULT WriteInterface(Connection& c, wire::Writer& w, IUnknown* object, REFIID iid) {
    return WriteInterface(c, w, object, iid, CurrentApartmentThread());
}

HRESULT ReadInterface(Connection& c, wire::Reader& r, REFIID iid, void** object) {
    *object = nullptr;
    uint8_t tag = 0;
    if (!r.U8(&tag)) return Bad();
    uint64_t id = 0;
    GUID sent{};
    switch (tag) {
    case kNull: return S_OK;
    case kExported:
        if (!r.U64(&id) || !r.Guid(&sent)) return Bad();
        if (!(sent == iid) && !(iid == IID_IUnknown)) {
            // Take the reference the sender counted, then ask for what the receiver wants.
            IUnknown* proxy = nullptr;
            HRESULT hr = c.Unmarshal(id, sent, reinterpret_cast<void**>(&proxy));
            if (FAILED(hr)) return hr;
            hr = proxy->QueryInterface(iid, object);
            proxy->Release();
            return hr;
        }
        return c.Unmarshal(id, sent, object);
    case kYours:
        if (!r.U64(&id) || !r.Guid(&sent)) return Bad();
        return c.LookupExport(id, iid, object);
    case kByValue: return ReadByValue(r, iid, object);
    default: return Bad();
    }
}

HRESULT WriteVariant(Connection& c, wire::Writer& w, const VARIANT& v, int depth) {
    if (depth > kMaxDepth) return DISP_E_BADVARTYPE;
    VARTYPE vt = v.vt;
    if (vt & VT_BYREF) return DISP_E_BADVARTYPE;
    w.U16(vt);
    if (vt & VT_ARRAY) return WriteArray(c, w, static_cast<VARTYPE>(vt & VT_TYPEMASK), v.parray, depth);
    size_t size = ElementSize(vt);
    if (size != 0) {
        w.Raw(&v.llVal, size);  // the union's members all start at its first byte
        return S_OK;
    }
    switch (vt) {
    case VT_EMPTY:
    case VT_NULL: return S_OK;
    case VT_BSTR: w.String(v.bstrVal != nullptr ? v.bstrVal : L"", SysStringLen(v.bstrVal)); return S_OK;
    case VT_UNKNOWN:
    case VT_DISPATCH: return WriteInterface(c, w, v.punkVal, InterfaceOf(vt));
    default: return DISP_E_BADVARTYPE;
    }
}

HRESULT ReadVariant(Connection& c, wire::Reader& r, VARIANT* v, int depth) {
    VariantInit(v);
    if (depth > kMaxDepth) return Bad();
    uint16_t vt = 0;
    if (!r.U16(&vt)) return Bad();
    if (vt & VT_BYREF) return Bad();
    if (vt & VT_ARRAY) {
        if ((vt & ~(VT_ARRAY | VT_TYPEMASK)) != 0) return Bad();
        SAFEARRAY* array = nullptr;
        HRESULT hr = ReadArray(c, r, static_cast<VARTYPE>(vt & VT_TYPEMASK), &array, depth);
        if (FAILED(hr)) return hr;
        v->vt = vt;
        v->parray = array;
        return S_OK;
    }
    size_t size = ElementSize(vt);
    if (size != 0) {
        if (!r.Raw(&v->llVal, size)) return Bad();
        v->vt = vt;
        return S_OK;
    }
    switch (vt) {
    case VT_EMPTY:
    case VT_NULL: v->vt = vt; return S_OK;
    case VT_BSTR: {
        std::wstring text;
        bool present = false;
        if (!r.String(&text, &present)) return Bad();
        BSTR s = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        if (s == nullptr) return E_OUTOFMEMORY;
        v->vt = VT_BSTR;
        v->bstrVal = s;
        return S_OK;
    }
    case VT_UNKNOWN:
    case VT_DISPATCH: {
        IUnknown* p = nullptr;
        HRESULT hr = ReadInterface(c, r, InterfaceOf(vt), reinterpret_cast<void**>(&p));
        if (FAILED(hr)) return hr;
        v->vt = vt;
        v->punkVal = p;
        return S_OK;
    }
    default: return Bad();
    }
}

// --- argument lists -----------------------------------------------------------------------------------------

struct CallFrame::Slot {
    bool present = false;
    BSTR text = nullptr;
    GUID guid{};
    VARIANT variant{};
    IUnknown* object = nullptr;
    std::vector<IUnknown*> objects;
    std::vector<BSTR> texts;
    std::vector<LONG> ints;
    std::vector<VARIANT> variants;
    std::vector<DISPID> named;
    DISPPARAMS params{};
    EXCEPINFO exception{};
    LONG value = 0;
};

CallFrame::CallFrame(const MethodSpec& method)
    : method_(method), argv_(method.args.size() + 1, 0), slots_(new std::vector<Slot>(method.args.size())) {
    for (auto& s : *slots_) VariantInit(&s.variant);
}

CallFrame::~CallFrame() {
    for (auto& s : *slots_) {
        SysFreeString(s.text);
        VariantClear(&s.variant);
        if (s.object != nullptr) s.object->Release();
        for (auto* p : s.objects)
            if (p != nullptr) p->Release();
        for (auto t : s.texts) SysFreeString(t);
        for (auto& v : s.variants) VariantClear(&v);
        SysFreeString(s.exception.bstrSource);
        SysFreeString(s.exception.bstrDescription);
        SysFreeString(s.exception.bstrHelpFile);
    }
    delete slots_;
}

HRESULT CallFrame::DecodeArguments(Connection& c, wire::Reader& r) {
    auto& slots = *slots_;
    for (size_t i = 0; i < method_.args.size(); ++i) {
        const ArgSpec& a = method_.args[i];
        Slot& s = slots[i];
        auto count_of = [&](uint32_t* count) {
            if (a.ref < 0 || static_cast<size_t>(a.ref) >= i) return false;
            *count = static_cast<uint32_t>(argv_[static_cast<size_t>(a.ref)]);
            return *count <= kMaxElements;
        };
        uint8_t present = 0;
        switch (a.kind) {
        case Arg::kInInt: {
            uint32_t v = 0;
            if (!r.U32(&v)) return Bad();
            argv_[i] = v;
            break;
        }
        case Arg::kInString: {
            std::wstring text;
            bool has = false;
            if (!r.String(&text, &has)) return Bad();
            if (has) {
                s.text = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
                if (s.text == nullptr) return E_OUTOFMEMORY;
            }
            argv_[i] = reinterpret_cast<uintptr_t>(s.text);
            break;
        }
        case Arg::kInGuid:
            if (!r.Guid(&s.guid)) return Bad();
            argv_[i] = reinterpret_cast<uintptr_t>(&s.guid);
            break;
        case Arg::kInVariant:
            if (!r.U8(&present)) return Bad();
            if (present) {
                if (HRESULT hr = ReadVariant(c, r, &s.variant); FAILED(hr)) return hr;
                argv_[i] = reinterpret_cast<uintptr_t>(&s.variant);
            }
            break;
        case Arg::kInInterface:
            if (HRESULT hr = ReadInterface(c, r, *a.iid, reinterpret_cast<void**>(&s.object)); FAILED(hr)) return hr;
            argv_[i] = reinterpret_cast<uintptr_t>(s.object);
            break;
        case Arg::kInInterfaceArray: {
            // The count may be an argument after the array (GetIDsOfNames): checked once all are read.
            uint32_t count = 0;
            if (!r.U32(&count) || count > kMaxElements || count > r.remaining()) return Bad();
            s.objects.assign(count, nullptr);
            for (uint32_t k = 0; k < count; ++k)
                if (HRESULT hr = ReadInterface(c, r, *a.iid, reinterpret_cast<void**>(&s.objects[k])); FAILED(hr))
                    return hr;
            argv_[i] = reinterpret_cast<uintptr_t>(s.objects.data());
            break;
        }
        case Arg::kInStringArray: {
            uint32_t count = 0;
            if (!r.U32(&count) || count > kMaxElements || count > r.remaining()) return Bad();
            s.texts.assign(count, nullptr);
            for (uint32_t k = 0; k < count; ++k) {
                std::wstring text;
                bool has = false;
                if (!r.String(&text, &has)) return Bad();
                s.texts[k] = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
            }
            argv_[i] = reinterpret_cast<uintptr_t>(s.texts.data());
            break;
        }
        case Arg::kInDispParams: {
            if (!r.U8(&present)) return Bad();
            if (!present) break;
            uint32_t count = 0, named = 0;
            if (!r.U32(&count) || count > kMaxElements || count > r.remaining()) return Bad();
            s.variants.resize(count);
            for (auto& v : s.variants) VariantInit(&v);
            for (auto& v : s.variants)
                if (HRESULT hr = ReadVariant(c, r, &v); FAILED(hr)) return hr;
            if (!r.U32(&named) || named > count || named > r.remaining() / 4) return Bad();
            s.named.resize(named);
            for (auto& n : s.named) {
                uint32_t id = 0;
                r.U32(&id);
                n = static_cast<DISPID>(id);
            }
            s.params.rgvarg = s.variants.empty() ? nullptr : s.variants.data();
            s.params.cArgs = count;
            s.params.rgdispidNamedArgs = s.named.empty() ? nullptr : s.named.data();
            s.params.cNamedArgs = named;
            argv_[i] = reinterpret_cast<uintptr_t>(&s.params);
            break;
        }
        case Arg::kOutIntArray: {
            uint32_t count = 0;
            if (!r.U8(&present)) return Bad();
            if (!present) break;
            if (!count_of(&count)) return Bad();
            s.present = true;
            s.ints.assign(count, 0);
            argv_[i] = reinterpret_cast<uintptr_t>(s.ints.data());
            break;
        }
        case Arg::kOutInterfaceArray: {
            uint32_t count = 0;
            if (!r.U8(&present)) return Bad();
            if (!present) break;
            if (!count_of(&count)) return Bad();
            s.present = true;
            s.objects.assign(count, nullptr);
            argv_[i] = reinterpret_cast<uintptr_t>(s.objects.data());
            break;
        }
        case Arg::kOutInterface:
            if (a.iid == nullptr && (a.ref < 0 || static_cast<size_t>(a.ref) >= i ||
                                     method_.args[static_cast<size_t>(a.ref)].kind != Arg::kInGuid))
                return Bad();
            [[fallthrough]];
        case Arg::kOutInt:
        case Arg::kOutString:
        case Arg::kOutVariant:
        case Arg::kOutExcepInfo:
            if (!r.U8(&present)) return Bad();
            if (!present) break;
            s.present = true;
            argv_[i] = a.kind == Arg::kOutInt         ? reinterpret_cast<uintptr_t>(&s.value)
                       : a.kind == Arg::kOutString    ? reinterpret_cast<uintptr_t>(&s.text)
                       : a.kind == Arg::kOutVariant   ? reinterpret_cast<uintptr_t>(&s.variant)
                       : a.kind == Arg::kOutInterface ? reinterpret_cast<uintptr_t>(&s.object)
                                                      : reinterpret_cast<uintptr_t>(&s.exception);
            break;
        }
    }
    for (size_t i = 0; i < method_.args.size(); ++i) {
        const ArgSpec& a = method_.args[i];
        if (a.kind != Arg::kInInterfaceArray && a.kind != Arg::kInStringArray) continue;
        size_t count = a.kind == Arg::kInInterfaceArray ? slots[i].objects.size() : slots[i].texts.size();
        if (a.ref < 0 || static_cast<size_t>(a.ref) >= method_.args.size() ||
            static_cast<uint32_t>(argv_[static_cast<size_t>(a.ref)]) != count)
            return Bad();
    }
    return r.remaining() == 0 ? S_OK : Bad();
}

HRESULT CallFrame::EncodeResults(Connection& c, wire::Writer& w) {
    auto& slots = *slots_;
    for (size_t i = 0; i < method_.args.size(); ++i) {
        const ArgSpec& a = method_.args[i];
        Slot& s = slots[i];
        if (!s.present) continue;
        HRESULT hr = S_OK;
        switch (a.kind) {
        case Arg::kOutInt: w.U32(static_cast<uint32_t>(s.value)); break;
        case Arg::kOutIntArray:
            w.U32(static_cast<uint32_t>(s.ints.size()));
            for (LONG v : s.ints) w.U32(static_cast<uint32_t>(v));
            break;
        case Arg::kOutString: w.String(s.text, SysStringLen(s.text)); break;
        case Arg::kOutVariant: hr = WriteVariant(c, w, s.variant); break;
        case Arg::kOutInterface: {
            const GUID& iid = a.iid != nullptr ? *a.iid : slots[static_cast<size_t>(a.ref)].guid;
            hr = WriteInterface(c, w, s.object, iid);
            break;
        }
        case Arg::kOutInterfaceArray:
            w.U32(static_cast<uint32_t>(s.objects.size()));
            for (auto* p : s.objects)
                if (SUCCEEDED(hr)) hr = WriteInterface(c, w, p, *a.iid);
            break;
        case Arg::kOutExcepInfo:
            w.U16(s.exception.wCode);
            w.U32(static_cast<uint32_t>(s.exception.scode));
            w.String(s.exception.bstrSource);
            w.String(s.exception.bstrDescription);
            w.String(s.exception.bstrHelpFile);
            w.U32(s.exception.dwHelpContext);
            break;
        default: break;
        }
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT EncodeArguments(Connection& c, const MethodSpec& method, const uint64_t* argv, wire::Writer& w) {
    for (size_t i = 0; i < method.args.size(); ++i) {
        const ArgSpec& a = method.args[i];
        uint64_t slot = argv[i];
        void* p = reinterpret_cast<void*>(static_cast<uintptr_t>(slot));
        auto count_of = [&] { return static_cast<uint32_t>(argv[static_cast<size_t>(a.ref)]); };
        HRESULT hr = S_OK;
        switch (a.kind) {
        case Arg::kInInt: w.U32(static_cast<uint32_t>(slot)); break;
        case Arg::kInString: w.String(static_cast<const wchar_t*>(p)); break;
        case Arg::kInGuid:
            if (p == nullptr) return E_INVALIDARG;
            w.Guid(*static_cast<const GUID*>(p));
            break;
        case Arg::kInVariant:
            w.U8(p != nullptr);
            if (p != nullptr) hr = WriteVariant(c, w, *static_cast<const VARIANT*>(p));
            break;
        case Arg::kInInterface: hr = WriteInterface(c, w, static_cast<IUnknown*>(p), *a.iid); break;
        case Arg::kInInterfaceArray: {
            uint32_t count = count_of();
            if (count > kMaxElements) return E_INVALIDARG;
            if (count != 0 && p == nullptr) return E_POINTER;
            w.U32(count);
            for (uint32_t k = 0; k < count && SUCCEEDED(hr); ++k)
                hr = WriteInterface(c, w, static_cast<IUnknown**>(p)[k], *a.iid);
            break;
        }
        case Arg::kInStringArray: {
            uint32_t count = count_of();
            if (count > kMaxElements) return E_INVALIDARG;
            if (count != 0 && p == nullptr) return E_POINTER;
            w.U32(count);
            for (uint32_t k = 0; k < count; ++k) w.String(static_cast<wchar_t**>(p)[k]);
            break;
        }
        case Arg::kInDispParams: {
            w.U8(p != nullptr);
            if (p == nullptr) break;
            auto* params = static_cast<const DISPPARAMS*>(p);
            if (params->cArgs > kMaxElements || params->cNamedArgs > params->cArgs) return E_INVALIDARG;
            if ((params->cArgs != 0 && params->rgvarg == nullptr) ||
                (params->cNamedArgs != 0 && params->rgdispidNamedArgs == nullptr))
                return E_POINTER;
            w.U32(params->cArgs);
            for (UINT k = 0; k < params->cArgs && SUCCEEDED(hr); ++k) hr = WriteVariant(c, w, params->rgvarg[k]);
            w.U32(params->cNamedArgs);
            for (UINT k = 0; k < params->cNamedArgs; ++k) w.U32(static_cast<uint32_t>(params->rgdispidNamedArgs[k]));
            break;
        }
        default:  // outs may be null (an optional IWbemCallResult**): the callee learns whether to fill them
            w.U8(p != nullptr);
            break;
        }
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT DecodeResults(Connection& c, const MethodSpec& method, const uint64_t* argv, wire::Reader& r) {
    for (size_t i = 0; i < method.args.size(); ++i) {
        const ArgSpec& a = method.args[i];
        void* p = reinterpret_cast<void*>(static_cast<uintptr_t>(argv[i]));
        if (p == nullptr) continue;
        HRESULT hr = S_OK;
        switch (a.kind) {
        case Arg::kOutInt: {
            uint32_t v = 0;
            if (!r.U32(&v)) return Bad();
            *static_cast<LONG*>(p) = static_cast<LONG>(v);
            break;
        }
        case Arg::kOutIntArray: {
            uint32_t count = 0;
            if (!r.U32(&count) || count != static_cast<uint32_t>(argv[static_cast<size_t>(a.ref)])) return Bad();
            for (uint32_t k = 0; k < count; ++k) {
                uint32_t v = 0;
                if (!r.U32(&v)) return Bad();
                static_cast<LONG*>(p)[k] = static_cast<LONG>(v);
            }
            break;
        }
        case Arg::kOutString: {
            std::wstring text;
            bool present = false;
            if (!r.String(&text, &present)) return Bad();
            *static_cast<BSTR*>(p) = present ? SysAllocStringLen(text.data(), static_cast<UINT>(text.size())) : nullptr;
            break;
        }
        case Arg::kOutVariant: hr = ReadVariant(c, r, static_cast<VARIANT*>(p)); break;
        case Arg::kOutInterface: {
            const GUID& iid = a.iid != nullptr ? *a.iid
                                               : *reinterpret_cast<const GUID*>(argv[static_cast<size_t>(a.ref)]);
            hr = ReadInterface(c, r, iid, static_cast<void**>(p));
            break;
        }
        case Arg::kOutInterfaceArray: {
            uint32_t count = 0;
            if (!r.U32(&count) || count != static_cast<uint32_t>(argv[static_cast<size_t>(a.ref)])) return Bad();
            for (uint32_t k = 0; k < count && SUCCEEDED(hr); ++k)
                hr = ReadInterface(c, r, *a.iid, &static_cast<void**>(p)[k]);
            break;
        }
        case Arg::kOutExcepInfo: {
            auto* e = static_cast<EXCEPINFO*>(p);
            uint32_t scode = 0, context = 0;
            std::wstring source, description, help;
            bool has_source = false, has_description = false, has_help = false;
            if (!r.U16(&e->wCode) || !r.U32(&scode) || !r.String(&source, &has_source) ||
                !r.String(&description, &has_description) || !r.String(&help, &has_help) || !r.U32(&context))
                return Bad();
            e->scode = static_cast<SCODE>(scode);
            e->bstrSource = has_source ? SysAllocString(source.c_str()) : nullptr;
            e->bstrDescription = has_description ? SysAllocString(description.c_str()) : nullptr;
            e->bstrHelpFile = has_help ? SysAllocString(help.c_str()) : nullptr;
            e->dwHelpContext = context;
            break;
        }
        default: break;
        }
        if (FAILED(hr)) return hr;
    }
    return r.remaining() == 0 ? S_OK : Bad();
}

void ClearResults(const MethodSpec& method, const uint64_t* argv) {
    for (size_t i = 0; i < method.args.size(); ++i) {
        void* p = reinterpret_cast<void*>(static_cast<uintptr_t>(argv[i]));
        if (p == nullptr) continue;
        switch (method.args[i].kind) {
        case Arg::kOutString: *static_cast<BSTR*>(p) = nullptr; break;
        case Arg::kOutInterface: *static_cast<void**>(p) = nullptr; break;
        case Arg::kOutInterfaceArray: {
            auto count = static_cast<uint32_t>(argv[static_cast<size_t>(method.args[i].ref)]);
            for (uint32_t k = 0; k < count && k < kMaxElements; ++k) static_cast<void**>(p)[k] = nullptr;
            break;
        }
        default: break;
        }
    }
}

}  // namespace qv::com
