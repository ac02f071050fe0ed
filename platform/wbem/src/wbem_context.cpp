// IWbemContext: named values a client passes along with a call. Travels by value (the codec's bytes of an
// instance whose properties are the values).
#include "by_value.h"
#include "qv_cim_variant.h"
#include "qv_class_object.h"
#include "qv_object_codec.h"
#include "qv_wbem_classes.h"
#include "qv_wbem_interface_ids.h"

#include <mutex>

namespace qv::wbem {

namespace {

class Context final : public qv::com::Object<IWbemContext, ByValueMarshal> {
public:
    Context() {
        values_.genus = WBEM_GENUS_INSTANCE;
        values_.className = L"__Context";
    }
    explicit Context(CimObject values) : values_(std::move(values)) {}

    CLSID UnmarshalClass() const override { return CLSID_WbemContext; }
    std::vector<uint8_t> MarshalBytes() override {
        std::lock_guard lock(mutex_);
        return EncodeObject(values_);
    }
    STDMETHODIMP UnmarshalInterface(IStream* stream, REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        std::vector<uint8_t> bytes;
        HRESULT hr = ReadMarshalBytes(stream, &bytes);
        CimObject values;
        if (SUCCEEDED(hr)) hr = DecodeObject(bytes.data(), bytes.size(), &values);
        if (FAILED(hr)) return hr;
        auto* made = new Context(std::move(values));
        hr = made->QueryInterface(riid, object);
        made->Release();
        return hr;
    }

    STDMETHODIMP Clone(IWbemContext** copy) override {
        if (copy == nullptr) return WBEM_E_INVALID_PARAMETER;
        std::lock_guard lock(mutex_);
        *copy = new Context(values_);
        return S_OK;
    }
    STDMETHODIMP GetNames(LONG flags, SAFEARRAY** names) override {
        if (names == nullptr || flags != 0) return WBEM_E_INVALID_PARAMETER;
        std::lock_guard lock(mutex_);
        *names = SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(values_.properties.size()));
        for (LONG i = 0; i < static_cast<LONG>(values_.properties.size()); ++i) {
            BSTR name = SysAllocString(values_.properties[i].name.c_str());
            SafeArrayPutElement(*names, &i, name);
            SysFreeString(name);
        }
        return S_OK;
    }
    STDMETHODIMP BeginEnumeration(LONG flags) override {
        if (flags != 0) return WBEM_E_INVALID_PARAMETER;
        std::lock_guard lock(mutex_);
        cursor_ = 0;
        return S_OK;
    }
    STDMETHODIMP Next(LONG flags, BSTR* name, VARIANT* value) override {
        if (flags != 0) return WBEM_E_INVALID_PARAMETER;
        std::lock_guard lock(mutex_);
        if (cursor_ < 0) return WBEM_E_UNEXPECTED;
        if (cursor_ >= static_cast<long>(values_.properties.size())) return WBEM_S_NO_MORE_DATA;
        const auto& p = values_.properties[cursor_++];
        if (name) *name = SysAllocString(p.name.c_str());
        if (value) {
            VariantInit(value);
            return ToVariant(p.value, value);
        }
        return S_OK;
    }
    STDMETHODIMP EndEnumeration() override {
        std::lock_guard lock(mutex_);
        cursor_ = -1;
        return S_OK;
    }
    STDMETHODIMP SetValue(LPCWSTR name, LONG flags, VARIANT* value) override {
        if (name == nullptr || *name == 0 || flags != 0 || value == nullptr) return WBEM_E_INVALID_PARAMETER;
        CIMTYPE type = CimTypeOfVariant(value);
        CimValue converted;
        HRESULT hr = FromVariant(value, type, &converted);
        if (FAILED(hr)) return hr;
        std::lock_guard lock(mutex_);
        Property* p = FindProperty(values_, name);
        if (p == nullptr) {
            values_.properties.push_back(Property{name, type, {}, {}, L"__Context"});
            p = &values_.properties.back();
        }
        p->type = type;
        p->value = std::move(converted);
        return S_OK;
    }
    STDMETHODIMP GetValue(LPCWSTR name, LONG flags, VARIANT* value) override {
        if (name == nullptr || flags != 0 || value == nullptr) return WBEM_E_INVALID_PARAMETER;
        std::lock_guard lock(mutex_);
        const Property* p = FindProperty(values_, name);
        if (p == nullptr) return WBEM_E_NOT_FOUND;
        VariantInit(value);
        return ToVariant(p->value, value);
    }
    STDMETHODIMP DeleteValue(LPCWSTR name, LONG flags) override {
        if (name == nullptr || flags != 0) return WBEM_E_INVALID_PARAMETER;
        std::lock_guard lock(mutex_);
        for (auto it = values_.properties.begin(); it != values_.properties.end(); ++it)
            if (NamesEqual(it->name, name)) {
                values_.properties.erase(it);
                return S_OK;
            }
        return S_OK;
    }
    STDMETHODIMP DeleteAll() override {
        std::lock_guard lock(mutex_);
        values_.properties.clear();
        return S_OK;
    }

private:
    ~Context() = default;
    std::mutex mutex_;
    CimObject values_;
    long cursor_ = -1;
};

}  // namespace

IWbemContext* CreateWbemContext() { return new Context(); }

}  // namespace qv::wbem
