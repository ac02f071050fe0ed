// A small in-process stand-in for the WMI service, enough for the library's firmware call gate and SMBIOS
// source: classes come from the repository of the current system root, instances and methods from the WMI
// kernel-data provider, called directly. Also a collecting object sink. Test code only.
#pragma once

#include "qv_unserved_wbem_services.h"
#include "qv_class_object.h"
#include "qv_firmware_wmi.h"
#include "qv_wbem_interface_ids.h"
#include "qv_wbem_repository.h"

#include <atlbase.h>
#include <objbase.h>
#include <wbemcli.h>
#include <wbemprov.h>
#include <wrl/client.h>
#include <wrl/implements.h>

#include <string>
#include <vector>

namespace qv::test {

using Microsoft::WRL::ComPtr;
using Microsoft::WRL::Make;

class CollectingSink final : public qv::com::Object<IWbemObjectSink> {
public:
    STDMETHODIMP Indicate(LONG count, IWbemClassObject** objects) override {
        for (LONG i = 0; i < count; ++i) received.emplace_back(objects[i]);
        return WBEM_S_NO_ERROR;
    }
    STDMETHODIMP SetStatus(LONG flags, HRESULT result, BSTR, IWbemClassObject*) override {
        if (flags == WBEM_STATUS_COMPLETE) {
            status = result;
            done = true;
        }
        return WBEM_S_NO_ERROR;
    }
    std::vector<ComPtr<IWbemClassObject>> received;
    HRESULT status = WBEM_E_FAILED;  // until the provider reports
    bool done = false;
};

class InitSink final : public qv::com::Object<IWbemProviderInitSink> {
public:
    STDMETHODIMP QueryInterface(REFIID, void** object) override {
        *object = this;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP SetStatus(LONG s, LONG) override {
        status = s;
        return WBEM_S_NO_ERROR;
    }
    LONG status = -1;
};

// The kernel-data provider, initialised for a namespace.
inline ComPtr<IWbemServices> NewProvider(const wchar_t* ns) {
    ComPtr<IWbemProviderInit> init;
    if (FAILED(qv::wbem::CreateWmiKernelDataProvider(IID_IWbemProviderInit,
                                                     reinterpret_cast<void**>(init.GetAddressOf()))))
        return nullptr;
    ComPtr<InitSink> sink = Make<InitSink>();
    std::wstring name = ns;
    init->Initialize(nullptr, 0, name.data(), nullptr, nullptr, nullptr, sink.Get());
    ComPtr<IWbemServices> services;
    if (sink->status == WBEM_S_INITIALIZED) init.As(&services);
    return services;
}

class ListEnum final : public qv::com::Object<IEnumWbemClassObject> {
public:
    explicit ListEnum(std::vector<ComPtr<IWbemClassObject>> objects) : objects_(std::move(objects)) {}
    STDMETHODIMP QueryInterface(REFIID, void** object) override {
        *object = this;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP Reset() override { return WBEM_E_NOT_SUPPORTED; }
    STDMETHODIMP Next(LONG, ULONG count, IWbemClassObject** objects, ULONG* returned) override {
        *returned = 0;
        while (*returned < count && next_ < objects_.size()) objects_[next_++].CopyTo(&objects[(*returned)++]);
        return *returned == count ? WBEM_S_NO_ERROR : WBEM_S_FALSE;
    }
    STDMETHODIMP NextAsync(ULONG, IWbemObjectSink*) override { return WBEM_E_NOT_SUPPORTED; }
    STDMETHODIMP Clone(IEnumWbemClassObject**) override { return WBEM_E_NOT_SUPPORTED; }
    STDMETHODIMP Skip(LONG, ULONG) override { return WBEM_E_NOT_SUPPORTED; }

private:
    std::vector<ComPtr<IWbemClassObject>> objects_;
    size_t next_ = 0;
};

// What the tests can make the stand-in do wrong.
struct Faults {
    int dataDelta = 0;            // returned Data arrays are this many bytes longer (negative: shorter)
    bool dropReturnCode = false;  // rwReturnCode comes back NULL
};

class Services final : public UnservedWbemServices<qv::com::Object<IWbemServices>> {
public:
    Services(std::wstring ns, Faults* faults)
        : ns_(std::move(ns)), faults_(faults), provider_(NewProvider(ns_.c_str())) {}
    std::vector<std::wstring> calls;  // "GetObject vrxBIntM", "ExecMethod <path> <method>", ...
    ComPtr<IWbemClassObject> lastIn;

    STDMETHODIMP QueryInterface(REFIID, void** object) override {
        *object = this;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP GetObject(const BSTR path, LONG, IWbemContext*, IWbemClassObject** object,
                           IWbemCallResult**) override {
        calls.push_back(std::wstring(L"GetObject ") + path);
        HRESULT hr = S_OK;
        auto repository = qv::wbem::Repository::OpenDefault(&hr);
        qv::wbem::CimObject cls;
        if (!repository || FAILED(hr = repository->GetClass(ns_, path, &cls)))
            return hr == WBEM_E_NOT_FOUND ? WBEM_E_NOT_FOUND : hr;
        *object = qv::wbem::CreateClassObject(cls);
        return S_OK;
    }
    STDMETHODIMP CreateInstanceEnum(const BSTR cls, LONG, IWbemContext*, IEnumWbemClassObject** e) override {
        calls.push_back(std::wstring(L"CreateInstanceEnum ") + cls);
        ComPtr<CollectingSink> sink = Make<CollectingSink>();
        provider_->CreateInstanceEnumAsync(cls, 0, nullptr, sink.Get());
        return Finish(*sink.Get(), e);
    }
    STDMETHODIMP ExecQuery(const BSTR language, const BSTR query, LONG, IWbemContext*,
                           IEnumWbemClassObject** e) override {
        calls.push_back(std::wstring(L"ExecQuery ") + language + L" " + query);
        ComPtr<CollectingSink> sink = Make<CollectingSink>();
        HRESULT hr = provider_->ExecQueryAsync(language, query, 0, nullptr, sink.Get());
        if (FAILED(hr)) return hr;
        return Finish(*sink.Get(), e);
    }
    STDMETHODIMP ExecMethod(const BSTR path, const BSTR method, LONG, IWbemContext*, IWbemClassObject* in,
                            IWbemClassObject** out, IWbemCallResult**) override {
        calls.push_back(std::wstring(L"ExecMethod ") + path + L" " + method);
        lastIn = in;
        ComPtr<CollectingSink> sink = Make<CollectingSink>();
        provider_->ExecMethodAsync(path, method, 0, nullptr, in, sink.Get());
        HRESULT hr = sink->status;
        if (SUCCEEDED(hr) && sink->received.size() == 1) {
            Damage(sink->received[0].Get());
            sink->received[0].CopyTo(out);
        }
        return hr;
    }

private:
    static HRESULT Finish(CollectingSink& sink, IEnumWbemClassObject** e) {
        if (SUCCEEDED(sink.status)) *e = new ListEnum(sink.received);  // the caller's reference
        return sink.status;
    }
    void Damage(IWbemClassObject* out) {
        if (faults_ == nullptr || (faults_->dataDelta == 0 && !faults_->dropReturnCode)) return;
        CComVariant v;
        out->Get(L"OutData", 0, &v, nullptr, nullptr);
        ComPtr<IWbemClassObject> data;
        if (V_VT(&v) == VT_UNKNOWN)
            V_UNKNOWN(&v)->QueryInterface(IID_IWbemClassObject, reinterpret_cast<void**>(data.GetAddressOf()));
        if (data) {
            if (faults_->dropReturnCode) {
                CComVariant null;
                V_VT(&null) = VT_NULL;
                data->Put(L"rwReturnCode", 0, &null, 0);
            }
            if (faults_->dataDelta != 0) {
                CComVariant bytes;
                data->Get(L"Data", 0, &bytes, nullptr, nullptr);
                LONG high = -1;
                SafeArrayGetUBound(V_ARRAY(&bytes), 1, &high);
                SAFEARRAYBOUND bound{static_cast<ULONG>(high + 1 + faults_->dataDelta), 0};
                SafeArrayRedim(V_ARRAY(&bytes), &bound);
                data->Put(L"Data", 0, &bytes, 0);
            }
            // The embedded object is a copy: put it back.
            out->Put(L"OutData", 0, &v, 0);
        }
    }

    std::wstring ns_;
    Faults* faults_;
    ComPtr<IWbemServices> provider_;
};

// The locator the library creates (CLSID_WbemLocator, in-process); records what it was asked.
class Locator final : public qv::com::Object<IWbemLocator> {
public:
    explicit Locator(Faults* faults) : faults_(faults) {}
    STDMETHODIMP ConnectServer(const BSTR resource, const BSTR user, const BSTR password, const BSTR, LONG flags,
                               const BSTR, IWbemContext*, IWbemServices** ns) override {
        std::wstring name = resource != nullptr ? resource : L"";
        connects.push_back(name);
        lastFlags = flags;
        if (user != nullptr || password != nullptr) return WBEM_E_ACCESS_DENIED;
        if (name != L"\\\\.\\root\\WMI") return WBEM_E_INVALID_NAMESPACE;
        lastServices = Make<Services>(L"root\\WMI", faults_);
        ComPtr<IWbemServices> handed = lastServices;
        *ns = handed.Detach();  // the caller's reference
        return S_OK;
    }
    std::vector<std::wstring> connects;
    LONG lastFlags = -1;
    ComPtr<Services> lastServices;

private:
    Faults* faults_;
};

class LocatorFactory final : public qv::com::Object<IClassFactory> {
public:
    explicit LocatorFactory(Locator* locator) : locator_(locator) {}
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        return locator_->QueryInterface(riid, object);
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }

private:
    Locator* locator_;
};

}  // namespace qv::test
