// Small stand-ins for the WMI objects the framework talks to: class objects and instances with a property
// bag, namespace services with a class table, response sinks that record what reaches them, and a decoupled
// event provider. Each can be told to fail a given call.
#pragma once

#include "qv_unserved_wbem_services.h"
#include "atlbase.h"
#include "oleauto.h"
#include "qv_wbem_interface_ids.h"
#include "wbemprov.h"
#include "wrl/client.h"
#include "wrl/implements.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cwctype>
#include <map>
#include <memory>
#include <string>
#include <vector>

// Answers IUnknown and its one interface (and the ones it derives from), nothing else (a runtime that marshals a
// fake asks it for IMarshal). Counted atomically: a fake handed to another process is released by the runtime's
// threads.
template <typename Interface>
class FakeUnknown : public qv::com::Object<Interface> {
public:
    ULONG References() {
        this->AddRef();
        return this->Release();
    }
};

// A class or an instance: named properties, and methods with an optional output signature.
class FakeObject : public FakeUnknown<IWbemClassObject> {
public:
    explicit FakeObject(std::wstring className, bool = true) : class_name_(std::move(className)) {}

    // Test controls.
    HRESULT spawn_result = S_OK;  // failure of SpawnInstance
    bool spawn_null = false;      // SpawnInstance succeeds without an object
    HRESULT put_result = S_OK;
    // Adds a method; outSignature null: the method has no output parameters. Takes the reference.
    void AddMethod(const std::wstring& name, FakeObject* outSignature) { methods_[Lower(name)].Attach(outSignature); }
    bool Has(const std::wstring& name) const { return properties_.count(name) != 0; }
    const VARIANT& Value(const std::wstring& name) const { return properties_.at(name); }
    std::wstring Text(const std::wstring& name) const {
        auto it = properties_.find(name);
        return it != properties_.end() && it->second.vt == VT_BSTR ? it->second.bstrVal : L"<none>";
    }
    LONG Number(const std::wstring& name) const {
        auto it = properties_.find(name);
        return it != properties_.end() && it->second.vt == VT_I4 ? it->second.lVal : -999;
    }
    const std::wstring& ClassName() const { return class_name_; }
    void Set(const std::wstring& name, const VARIANT& value) { properties_[name] = value; }

    STDMETHODIMP Get(LPCWSTR name, LONG, VARIANT* value, CIMTYPE*, LONG*) override {
        if (name == nullptr || value == nullptr) return WBEM_E_INVALID_PARAMETER;
        if (std::wstring(name) == L"__CLASS") {
            value->vt = VT_BSTR;
            value->bstrVal = SysAllocString(class_name_.c_str());
            return S_OK;
        }
        auto it = properties_.find(name);
        if (it == properties_.end()) return WBEM_E_NOT_FOUND;
        return VariantCopy(value, &it->second);
    }
    STDMETHODIMP Put(LPCWSTR name, LONG, VARIANT* value, CIMTYPE) override {
        if (FAILED(put_result)) return put_result;
        if (name == nullptr || *name == L'\0' || value == nullptr) return WBEM_E_INVALID_PARAMETER;
        Set(name, *value);
        return S_OK;
    }
    STDMETHODIMP SpawnInstance(LONG, IWbemClassObject** instance) override {
        if (FAILED(spawn_result)) return spawn_result;
        *instance = spawn_null ? nullptr : new FakeObject(class_name_, false);
        return S_OK;
    }
    STDMETHODIMP GetMethod(LPCWSTR name, LONG, IWbemClassObject** in, IWbemClassObject** out) override {
        if (in != nullptr) *in = nullptr;
        auto it = methods_.find(Lower(name != nullptr ? name : L""));
        if (it == methods_.end()) return WBEM_E_NOT_FOUND;
        if (out != nullptr) it->second.CopyTo(out);
        return S_OK;
    }

    STDMETHODIMP GetQualifierSet(IWbemQualifierSet**) override { return E_NOTIMPL; }
    STDMETHODIMP Delete(LPCWSTR) override { return E_NOTIMPL; }
    STDMETHODIMP GetNames(LPCWSTR, LONG, VARIANT*, SAFEARRAY**) override { return E_NOTIMPL; }
    STDMETHODIMP BeginEnumeration(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP Next(LONG, BSTR*, VARIANT*, CIMTYPE*, LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP EndEnumeration() override { return E_NOTIMPL; }
    STDMETHODIMP GetPropertyQualifierSet(LPCWSTR, IWbemQualifierSet**) override { return E_NOTIMPL; }
    STDMETHODIMP Clone(IWbemClassObject**) override { return E_NOTIMPL; }
    STDMETHODIMP GetObjectText(LONG, BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP SpawnDerivedClass(LONG, IWbemClassObject**) override { return E_NOTIMPL; }
    STDMETHODIMP CompareTo(LONG, IWbemClassObject*) override { return E_NOTIMPL; }
    STDMETHODIMP GetPropertyOrigin(LPCWSTR, BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP InheritsFrom(LPCWSTR) override { return E_NOTIMPL; }
    STDMETHODIMP PutMethod(LPCWSTR, LONG, IWbemClassObject*, IWbemClassObject*) override { return E_NOTIMPL; }
    STDMETHODIMP DeleteMethod(LPCWSTR) override { return E_NOTIMPL; }
    STDMETHODIMP BeginMethodEnumeration(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP NextMethod(LONG, BSTR*, IWbemClassObject**, IWbemClassObject**) override { return E_NOTIMPL; }
    STDMETHODIMP EndMethodEnumeration() override { return E_NOTIMPL; }
    STDMETHODIMP GetMethodQualifierSet(LPCWSTR, IWbemQualifierSet**) override { return E_NOTIMPL; }
    STDMETHODIMP GetMethodOrigin(LPCWSTR, BSTR*) override { return E_NOTIMPL; }

private:
    static std::wstring Lower(std::wstring s) {
        for (auto& c : s) c = static_cast<wchar_t>(towlower(static_cast<wint_t>(c)));
        return s;
    }
    std::wstring class_name_;
    std::map<std::wstring, CComVariant> properties_;
    std::map<std::wstring, Microsoft::WRL::ComPtr<IWbemClassObject>> methods_;
};

// Namespace services that know a set of classes (exact names, as the repository stores them, but found
// without regard to case like WMI does).
class FakeServices : public UnservedWbemServices<FakeUnknown<IWbemServices>> {
public:
    // Adds a class (the services keep the reference) and returns it.
    FakeObject* AddClass(const std::wstring& name) {
        auto* cls = new FakeObject(name);
        classes_[Lower(name)].Attach(cls);
        return cls;
    }
    HRESULT get_object_result = S_OK;
    int get_object_calls = 0;

    STDMETHODIMP GetObject(const BSTR path, LONG, IWbemContext*, IWbemClassObject** object,
                           IWbemCallResult**) override {
        ++get_object_calls;
        *object = nullptr;
        if (FAILED(get_object_result)) return get_object_result;
        auto it = classes_.find(Lower(path != nullptr ? path : L""));
        if (it == classes_.end()) return WBEM_E_NOT_FOUND;
        return it->second.CopyTo(object);
    }

private:
    static std::wstring Lower(std::wstring s) {
        for (auto& c : s) c = static_cast<wchar_t>(towlower(static_cast<wint_t>(c)));
        return s;
    }
    std::map<std::wstring, Microsoft::WRL::ComPtr<IWbemClassObject>> classes_;
};

// A response sink that records, in order, every object indicated and every status.
class FakeSink : public FakeUnknown<IWbemObjectSink> {
public:
    struct Event {
        bool is_status;
        HRESULT status;
        IWbemClassObject* object;
    };
    std::vector<Microsoft::WRL::ComPtr<IWbemClassObject>> objects;
    std::vector<HRESULT> statuses;
    std::vector<Event> events;  // both, in arrival order
    HRESULT indicate_result = S_OK;
    HRESULT set_status_result = S_OK;

    STDMETHODIMP Indicate(LONG count, IWbemClassObject** list) override {
        for (LONG i = 0; i < count; ++i) {
            objects.emplace_back(list[i]);
            events.push_back({false, 0, list[i]});
        }
        return indicate_result;
    }
    STDMETHODIMP SetStatus(LONG flags, HRESULT result, BSTR, IWbemClassObject*) override {
        EXPECT_EQ(flags, WBEM_STATUS_COMPLETE);
        statuses.push_back(result);
        events.push_back({true, result, nullptr});
        return set_status_result;
    }
    FakeObject* Object(size_t i) const { return static_cast<FakeObject*>(objects.at(i).Get()); }
};

class FakeInitSink : public FakeUnknown<IWbemProviderInitSink> {
public:
    std::vector<LONG> statuses;
    STDMETHODIMP SetStatus(LONG status, LONG) override {
        statuses.push_back(status);
        return S_OK;
    }
};

// The platform's decoupled event provider: a registration, services to build events with, and a sink that
// exists while someone is subscribed.
class FakeDecoupledProvider : public FakeUnknown<IWbemDecoupledBasicEventProvider> {
public:
    Microsoft::WRL::ComPtr<FakeSink> sink;  // current subscriber's sink, or null
    Microsoft::WRL::ComPtr<FakeServices> services;
    HRESULT register_result = S_OK;
    HRESULT get_service_result = S_OK;
    std::wstring scope, registration;
    int get_sink_calls = 0;

    STDMETHODIMP Register(LONG, IWbemContext*, LPCWSTR, LPCWSTR, LPCWSTR scopeName, LPCWSTR name, IUnknown*) override {
        scope = scopeName != nullptr ? scopeName : L"";
        registration = name != nullptr ? name : L"";
        return register_result;
    }
    STDMETHODIMP UnRegister() override { return S_OK; }
    STDMETHODIMP GetSink(LONG, IWbemContext*, IWbemObjectSink** out) override {
        ++get_sink_calls;
        *out = sink.Get();
        if (sink) sink->AddRef();
        return sink ? S_OK : WBEM_S_FALSE;
    }
    STDMETHODIMP GetService(LONG, IWbemContext*, IWbemServices** out) override {
        *out = nullptr;
        if (FAILED(get_service_result)) return get_service_result;
        *out = services.Get();
        if (services) services->AddRef();
        return S_OK;
    }
};
