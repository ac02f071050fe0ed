// The by-value test object and the test server's registration script.

#include "test_classes.h"

#include "atlbase.h"
#include "qv_com_runtime.h"
#include "qv_wbem_interface_ids.h"
#include "wrl/client.h"

#define QV_NOT_IMPLEMENTED(name, params) \
    STDMETHODIMP name params override { return E_NOTIMPL; }

namespace {

class TestValue final : public qv::com::Object<IWbemClassObject, IMarshal> {
public:
    TestValue(LONG index, std::wstring name) : index_(index), name_(std::move(name)) {}

    // IWbemClassObject: only Get is served.
    STDMETHODIMP Get(LPCWSTR name, LONG, VARIANT* value, CIMTYPE*, LONG*) override {
        if (name == nullptr || value == nullptr) return WBEM_E_INVALID_PARAMETER;
        VariantInit(value);
        if (std::wstring(name) == L"Index") {
            value->vt = VT_I4;
            value->lVal = index_;
            return S_OK;
        }
        if (std::wstring(name) == L"Name") {
            value->vt = VT_BSTR;
            value->bstrVal = SysAllocString(name_.c_str());
            return S_OK;
        }
        return WBEM_E_NOT_FOUND;
    }
    QV_NOT_IMPLEMENTED(GetQualifierSet, (IWbemQualifierSet**))
    QV_NOT_IMPLEMENTED(Put, (LPCWSTR, LONG, VARIANT*, CIMTYPE))
    QV_NOT_IMPLEMENTED(Delete, (LPCWSTR))
    QV_NOT_IMPLEMENTED(GetNames, (LPCWSTR, LONG, VARIANT*, SAFEARRAY**))
    QV_NOT_IMPLEMENTED(BeginEnumeration, (LONG))
    QV_NOT_IMPLEMENTED(Next, (LONG, BSTR*, VARIANT*, CIMTYPE*, LONG*))
    QV_NOT_IMPLEMENTED(EndEnumeration, ())
    QV_NOT_IMPLEMENTED(GetPropertyQualifierSet, (LPCWSTR, IWbemQualifierSet**))
    QV_NOT_IMPLEMENTED(Clone, (IWbemClassObject**))
    QV_NOT_IMPLEMENTED(GetObjectText, (LONG, BSTR*))
    QV_NOT_IMPLEMENTED(SpawnDerivedClass, (LONG, IWbemClassObject**))
    QV_NOT_IMPLEMENTED(SpawnInstance, (LONG, IWbemClassObject**))
    QV_NOT_IMPLEMENTED(CompareTo, (LONG, IWbemClassObject*))
    QV_NOT_IMPLEMENTED(GetPropertyOrigin, (LPCWSTR, BSTR*))
    QV_NOT_IMPLEMENTED(InheritsFrom, (LPCWSTR))
    QV_NOT_IMPLEMENTED(GetMethod, (LPCWSTR, LONG, IWbemClassObject**, IWbemClassObject**))
    QV_NOT_IMPLEMENTED(PutMethod, (LPCWSTR, LONG, IWbemClassObject*, IWbemClassObject*))
    QV_NOT_IMPLEMENTED(DeleteMethod, (LPCWSTR))
    QV_NOT_IMPLEMENTED(BeginMethodEnumeration, (LONG))
    QV_NOT_IMPLEMENTED(NextMethod, (LONG, BSTR*, IWbemClassObject**, IWbemClassObject**))
    QV_NOT_IMPLEMENTED(EndMethodEnumeration, ())
    QV_NOT_IMPLEMENTED(GetMethodQualifierSet, (LPCWSTR, IWbemQualifierSet**))
    QV_NOT_IMPLEMENTED(GetMethodOrigin, (LPCWSTR, BSTR*))

    // IMarshal: index, name length and name as 32-bit units.
    STDMETHODIMP GetUnmarshalClass(REFIID, void*, DWORD, void*, DWORD, CLSID* clsid) override {
        *clsid = CLSID_QvTestValue;
        return S_OK;
    }
    STDMETHODIMP GetMarshalSizeMax(REFIID, void*, DWORD, void*, DWORD, DWORD* size) override {
        *size = static_cast<DWORD>(8 + 4 * name_.size());
        return S_OK;
    }
    STDMETHODIMP MarshalInterface(IStream* stream, REFIID, void*, DWORD, void*, DWORD) override {
        uint32_t length = static_cast<uint32_t>(name_.size());
        HRESULT hr = stream->Write(&index_, 4, nullptr);
        if (SUCCEEDED(hr)) hr = stream->Write(&length, 4, nullptr);
        for (wchar_t c : name_) {
            uint32_t unit = static_cast<uint32_t>(c);
            if (SUCCEEDED(hr)) hr = stream->Write(&unit, 4, nullptr);
        }
        return hr;
    }
    STDMETHODIMP UnmarshalInterface(IStream* stream, REFIID riid, void** object) override {
        uint32_t length = 0;
        ULONG read = 0;
        if (stream->Read(&index_, 4, &read) != S_OK || stream->Read(&length, 4, &read) != S_OK || length > 4096)
            return E_INVALIDARG;
        name_.clear();
        for (uint32_t i = 0; i < length; ++i) {
            uint32_t unit = 0;
            if (stream->Read(&unit, 4, &read) != S_OK) return E_INVALIDARG;
            name_ += static_cast<wchar_t>(unit);
        }
        return QueryInterface(riid, object);
    }
    QV_NOT_IMPLEMENTED(ReleaseMarshalData, (IStream*))
    QV_NOT_IMPLEMENTED(DisconnectObject, (DWORD))

private:
    ~TestValue() = default;
    LONG index_;
    std::wstring name_;
};

class TestValueFactory final : public qv::com::UncountedObject<IClassFactory> {
public:
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        Microsoft::WRL::ComPtr<IWbemClassObject> value;
        value.Attach(NewTestValue(0, L""));
        return value.CopyTo(riid, object);
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};

}  // namespace

IWbemClassObject* NewTestValue(LONG index, const std::wstring& name) { return new TestValue(index, name); }

void RegisterTestValueClass() {
    static TestValueFactory factory;
    qv::com::RegisterPlatformClass(CLSID_QvTestValue, &factory);
}

bool ReadTestValue(IWbemClassObject* object, LONG* index, std::wstring* name) {
    CComVariant v;
    if (FAILED(object->Get(L"Index", 0, &v, nullptr, nullptr)) || v.vt != VT_I4) return false;
    *index = v.lVal;
    v.Clear();
    if (FAILED(object->Get(L"Name", 0, &v, nullptr, nullptr)) || v.vt != VT_BSTR) return false;
    *name = v.bstrVal;
    return true;
}

const wchar_t kTestServerScript[] =
    LR"(HKCR
{
    QvTest.Server.1 = s 'QV Test Server'
    {
        CLSID = s '{5E1F0C3A-7B2D-4C61-9A43-2B8E6D0F1A11}'
    }
    QvTest.Server = s 'QV Test Server'
    {
        CurVer = s 'QvTest.Server.1'
    }
    NoRemove CLSID
    {
        ForceRemove {5E1F0C3A-7B2D-4C61-9A43-2B8E6D0F1A11} = s 'QV Test Server'
        {
            ProgID = s 'QvTest.Server.1'
            VersionIndependentProgID = s 'QvTest.Server'
            LocalServer32 = s '%MODULE%'
        }
        ForceRemove {5E1F0C3A-7B2D-4C61-9A43-2B8E6D0F1A13} = s 'QV Silent Server'
        {
            LocalServer32 = s '%MODULE% -Silent'
        }
    }
})";
