// A minimal IWbemClassObject holding named, typed values in the order they were set: enough to evaluate
// conditions against and to enumerate properties. Names starting with "__" count as system properties.
#pragma once

#include "atlbase.h"
#include "wbemcli.h"

#include <cwctype>
#include <map>
#include <string>
#include <utility>
#include <vector>

class PropertyBag final : public IWbemClassObject {
public:
    PropertyBag& Set(const std::wstring& name, CComVariant value, CIMTYPE type) {
        auto [it, added] = values_.try_emplace(Key(name));
        if (added) order_.push_back(name);
        it->second.value = std::move(value);
        it->second.type = type;
        return *this;
    }
    PropertyBag& Text(const std::wstring& name, const wchar_t* text, CIMTYPE type = CIM_STRING) {
        return Set(name, CComVariant(text), type);
    }
    PropertyBag& Number(const std::wstring& name, LONG value, CIMTYPE type = CIM_SINT32) {
        return Set(name, CComVariant(value), type);
    }
    PropertyBag& Flag(const std::wstring& name, bool value) {
        CComVariant v;
        v.vt = VT_BOOL;
        v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
        return Set(name, std::move(v), CIM_BOOLEAN);
    }
    PropertyBag& Null(const std::wstring& name, CIMTYPE type) {
        CComVariant v;
        v.vt = VT_NULL;
        return Set(name, std::move(v), type);
    }
    PropertyBag& Object(const std::wstring& name, PropertyBag* object) {
        return Set(name, CComVariant(static_cast<IUnknown*>(object)), CIM_OBJECT);
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
        if (riid == IID_IUnknown || riid == IID_IWbemClassObject) {
            *object = static_cast<IWbemClassObject*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override { return --refs_; }  // lives on the test's stack

    STDMETHODIMP Get(LPCWSTR name, LONG, VARIANT* value, CIMTYPE* type, LONG*) override {
        auto it = values_.find(Key(name));
        if (it == values_.end()) return WBEM_E_NOT_FOUND;
        if (value != nullptr) VariantCopy(value, &it->second.value);
        if (type != nullptr) *type = it->second.type;
        return S_OK;
    }

    // The rest of the interface is not needed to evaluate conditions.
    STDMETHODIMP GetQualifierSet(IWbemQualifierSet**) override { return WBEM_E_NOT_SUPPORTED; }
    STDMETHODIMP Put(LPCWSTR, LONG, VARIANT*, CIMTYPE) override { return WBEM_E_NOT_SUPPORTED; }
    STDMETHODIMP Delete(LPCWSTR) override { return WBEM_E_NOT_SUPPORTED; }
    STDMETHODIMP GetNames(LPCWSTR, LONG, VARIANT*, SAFEARRAY**) override { return WBEM_E_NOT_SUPPORTED; }
    STDMETHODIMP BeginEnumeration(LONG flags) override {
        cursor_ = 0;
        nonsystem_only_ = (flags & WBEM_FLAG_NONSYSTEM_ONLY) == WBEM_FLAG_NONSYSTEM_ONLY;
        return S_OK;
    }
    STDMETHODIMP Next(LONG, BSTR* name, VARIANT* value, CIMTYPE* type, LONG*) override {
        while (cursor_ < order_.size() && nonsystem_only_ && order_[cursor_].rfind(L"__", 0) == 0) ++cursor_;
        if (cursor_ >= order_.size()) return WBEM_S_NO_MORE_DATA;
        const std::wstring& next = order_[cursor_++];
        if (name != nullptr) *name = SysAllocString(next.c_str());
        return Get(next.c_str(), 0, value, type, nullptr);
    }
    STDMETHODIMP EndEnumeration() override { return S_OK; }
    STDMETHODIMP GetPropertyQualifierSet(LPCWSTR, IWbemQualifierSet**) override { return WBEM_E_NOT_SUPPORTED; }
    STDMETHODIMP Clone(IWbemClassObject**) override { return WBEM_E_NOT_SUPPORTED; }
    STDMETHODIMP GetObjectText(LONG, BSTR*) override { return WBEM_E_NOT_SUPPORTED; }
    STDMETHODIMP SpawnDerivedClass(LONG, IWbemClassObject**) override { return WBEM_E_NOT_SUPPORTED; }
    STDMETHODIMP SpawnInstance(LONG, IWbemClassObject**) override { return WBEM_E_NOT_SUPPORTED; }
    STDMETHODIMP CompareTo(LONG, IWbemClassObject*) override { return WBEM_E_NOT_SUPPORTED; }
    STDMETHODIMP GetPropertyOrigin(LPCWSTR, BSTR*) override { return WBEM_E_NOT_SUPPORTED; }
    STDMETHODIMP InheritsFrom(LPCWSTR) override { return WBEM_E_NOT_SUPPORTED; }
    STDMETHODIMP GetMethod(LPCWSTR, LONG, IWbemClassObject**, IWbemClassObject**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    STDMETHODIMP PutMethod(LPCWSTR, LONG, IWbemClassObject*, IWbemClassObject*) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    STDMETHODIMP DeleteMethod(LPCWSTR) override { return WBEM_E_NOT_SUPPORTED; }
    STDMETHODIMP BeginMethodEnumeration(LONG) override { return WBEM_E_NOT_SUPPORTED; }
    STDMETHODIMP NextMethod(LONG, BSTR*, IWbemClassObject**, IWbemClassObject**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    STDMETHODIMP EndMethodEnumeration() override { return WBEM_E_NOT_SUPPORTED; }
    STDMETHODIMP GetMethodQualifierSet(LPCWSTR, IWbemQualifierSet**) override { return WBEM_E_NOT_SUPPORTED; }
    STDMETHODIMP GetMethodOrigin(LPCWSTR, BSTR*) override { return WBEM_E_NOT_SUPPORTED; }

private:
    static std::wstring Key(const std::wstring& name) {
        std::wstring key = name;
        for (auto& c : key) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
        return key;
    }
    struct Entry {
        CComVariant value;
        CIMTYPE type = 0;
    };
    std::map<std::wstring, Entry> values_;
    std::vector<std::wstring> order_;
    size_t cursor_ = 0;
    bool nonsystem_only_ = false;
    ULONG refs_ = 1;
};
