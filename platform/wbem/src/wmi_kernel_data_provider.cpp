// The operating system's WMI kernel-data provider for the simulated machine: raw SMBIOS tables, the firmware's
// call gate (vrxBIntM) and, on machines that publish their settings natively, the settings-interface object.

#include "qv_class_object.h"
#include "qv_firmware_gate.h"
#include "qv_firmware_wmi.h"
#include "qv_root_machine.h"
#include "qv_wbem_interface_ids.h"
#include "qv_wbem_repository.h"

#include <cstring>
#include <functional>
#include <cwctype>
#include <mutex>
#include <string>
#include <vector>

namespace qv::wbem {
namespace {

const wchar_t kAcpiInstance[] = L"ACPI\\PNP0C14\\0_0";
const uint8_t kSignature[4] = {0x53, 0x45, 0x43, 0x55};

bool Same(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::towlower(static_cast<wint_t>(a[i])) != std::towlower(static_cast<wint_t>(b[i]))) return false;
    return true;
}

HRESULT PutValue(IWbemClassObject* o, const wchar_t* name, VARIANT* v) {
    HRESULT hr = o->Put(name, 0, v, 0);
    VariantClear(v);
    return hr;
}
HRESULT PutString(IWbemClassObject* o, const wchar_t* name, const wchar_t* text) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = SysAllocString(text);
    return PutValue(o, name, &v);
}
HRESULT PutBool(IWbemClassObject* o, const wchar_t* name, bool value) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_BOOL;
    V_BOOL(&v) = value ? VARIANT_TRUE : VARIANT_FALSE;
    return PutValue(o, name, &v);
}
HRESULT PutInt(IWbemClassObject* o, const wchar_t* name, LONG value) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_I4;
    V_I4(&v) = value;
    return PutValue(o, name, &v);
}
HRESULT PutByte(IWbemClassObject* o, const wchar_t* name, uint8_t value) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_UI1;
    V_UI1(&v) = value;
    return PutValue(o, name, &v);
}
HRESULT PutBytes(IWbemClassObject* o, const wchar_t* name, const std::vector<uint8_t>& bytes) {
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
    if (array == nullptr) return WBEM_E_OUT_OF_MEMORY;
    void* data = nullptr;
    if (!bytes.empty() && SUCCEEDED(SafeArrayAccessData(array, &data))) {
        std::memcpy(data, bytes.data(), bytes.size());
        SafeArrayUnaccessData(array);
    }
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_ARRAY | VT_UI1;
    V_ARRAY(&v) = array;
    return PutValue(o, name, &v);
}

bool GetInt(IWbemClassObject* o, const wchar_t* name, LONG* value) {
    VARIANT v, as;
    VariantInit(&v);
    VariantInit(&as);
    bool ok = SUCCEEDED(o->Get(name, 0, &v, nullptr, nullptr)) && V_VT(&v) != VT_NULL &&
              SUCCEEDED(VariantChangeType(&as, &v, 0, VT_I4));
    if (ok) *value = V_I4(&as);
    VariantClear(&v);
    VariantClear(&as);
    return ok;
}
bool GetBytes(IWbemClassObject* o, const wchar_t* name, std::vector<uint8_t>* bytes) {
    VARIANT v;
    VariantInit(&v);
    bool ok = SUCCEEDED(o->Get(name, 0, &v, nullptr, nullptr));
    bytes->clear();
    if (ok && V_VT(&v) == (VT_ARRAY | VT_UI1) && V_ARRAY(&v) != nullptr) {
        LONG low = 0, high = -1;
        SafeArrayGetLBound(V_ARRAY(&v), 1, &low);
        SafeArrayGetUBound(V_ARRAY(&v), 1, &high);
        void* data = nullptr;
        if (high >= low && SUCCEEDED(SafeArrayAccessData(V_ARRAY(&v), &data))) {
            bytes->assign(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + (high - low + 1));
            SafeArrayUnaccessData(V_ARRAY(&v));
        }
    } else if (ok && V_VT(&v) != VT_NULL) {
        ok = false;
    }
    VariantClear(&v);
    return ok;
}

class KernelDataProvider final : public qv::com::Object<IWbemProviderInit, IWbemServices> {
public:
    // IUnknown

    // IWbemProviderInit
    STDMETHODIMP Initialize(LPWSTR, LONG, LPWSTR ns, LPWSTR, IWbemServices*, IWbemContext*,
                            IWbemProviderInitSink* sink) override {
        if (ns == nullptr || sink == nullptr) return WBEM_E_INVALID_PARAMETER;
        std::wstring name = ns;
        // "\\.\root\WMI" and "root\WMI" name the same namespace.
        if (name.rfind(L"\\\\", 0) == 0) {
            size_t slash = name.find(L'\\', 2);
            name = slash == std::wstring::npos ? L"" : name.substr(slash + 1);
        }
        namespace_ = name;
        sink->SetStatus(WBEM_S_INITIALIZED, 0);
        return WBEM_S_NO_ERROR;
    }

    // IWbemServices: what the provider serves
    STDMETHODIMP CreateInstanceEnumAsync(const BSTR className, LONG, IWbemContext*, IWbemObjectSink* sink) override {
        if (className == nullptr || sink == nullptr) return WBEM_E_INVALID_PARAMETER;
        std::vector<IWbemClassObject*> objects;
        HRESULT hr = Instances(className, &objects);
        return Deliver(sink, hr, objects);
    }
    STDMETHODIMP ExecQueryAsync(const BSTR language, const BSTR query, LONG, IWbemContext*,
                                IWbemObjectSink* sink) override {
        if (language == nullptr || query == nullptr || sink == nullptr) return WBEM_E_INVALID_PARAMETER;
        if (!Same(language, L"WQL")) return WBEM_E_INVALID_QUERY_TYPE;
        std::wstring cls;
        if (!WholeClassQuery(query, &cls)) return WBEM_E_PROVIDER_NOT_CAPABLE;
        std::vector<IWbemClassObject*> objects;
        HRESULT hr = Instances(cls, &objects);
        return Deliver(sink, hr, objects);
    }
    STDMETHODIMP GetObjectAsync(const BSTR path, LONG, IWbemContext*, IWbemObjectSink* sink) override {
        if (path == nullptr || sink == nullptr) return WBEM_E_INVALID_PARAMETER;
        std::wstring text = path;
        size_t dot = text.find(L'.');
        std::vector<IWbemClassObject*> objects, found;
        HRESULT hr = Instances(dot == std::wstring::npos ? text : text.substr(0, dot), &objects);
        for (IWbemClassObject* o : objects) {
            if (dot != std::wstring::npos && RelPath(o) == text)
                found.push_back(o);
            else
                o->Release();
        }
        if (SUCCEEDED(hr) && found.empty()) hr = WBEM_E_NOT_FOUND;
        return Deliver(sink, hr, found);
    }
    STDMETHODIMP ExecMethodAsync(const BSTR path, const BSTR method, LONG, IWbemContext*, IWbemClassObject* in,
                                 IWbemObjectSink* sink) override {
        if (path == nullptr || method == nullptr || sink == nullptr) return WBEM_E_INVALID_PARAMETER;
        IWbemClassObject* out = nullptr;
        HRESULT hr = CallGate(path, method, in, &out);
        std::vector<IWbemClassObject*> objects;
        if (out != nullptr) objects.push_back(out);
        return Deliver(sink, hr, objects);
    }

    // IWbemServices: not served by this provider
    STDMETHODIMP OpenNamespace(const BSTR, LONG, IWbemContext*, IWbemServices**, IWbemCallResult**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    STDMETHODIMP CancelAsyncCall(IWbemObjectSink*) override { return WBEM_E_NOT_SUPPORTED; }
    STDMETHODIMP QueryObjectSink(LONG, IWbemObjectSink**) override { return WBEM_E_NOT_SUPPORTED; }
    STDMETHODIMP GetObject(const BSTR, LONG, IWbemContext*, IWbemClassObject**, IWbemCallResult**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    STDMETHODIMP PutClass(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    STDMETHODIMP PutClassAsync(IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    STDMETHODIMP DeleteClass(const BSTR, LONG, IWbemContext*, IWbemCallResult**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    STDMETHODIMP DeleteClassAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    STDMETHODIMP CreateClassEnum(const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    STDMETHODIMP CreateClassEnumAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    STDMETHODIMP PutInstance(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    STDMETHODIMP PutInstanceAsync(IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    STDMETHODIMP DeleteInstance(const BSTR, LONG, IWbemContext*, IWbemCallResult**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    STDMETHODIMP DeleteInstanceAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    STDMETHODIMP CreateInstanceEnum(const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    STDMETHODIMP ExecQuery(const BSTR, const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    STDMETHODIMP ExecNotificationQuery(const BSTR, const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    STDMETHODIMP ExecNotificationQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    STDMETHODIMP ExecMethod(const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*, IWbemClassObject**,
                            IWbemCallResult**) override {
        return WBEM_E_NOT_SUPPORTED;
    }

private:
    ~KernelDataProvider() = default;

    // A class of the provider's namespace as an object; WBEM_E_INVALID_CLASS when the namespace has none.
    HRESULT Class(const std::wstring& name, IWbemClassObject** cls) {
        *cls = nullptr;
        HRESULT hr = S_OK;
        std::unique_ptr<Repository> repository = Repository::OpenDefault(&hr);
        if (!repository) return FAILED(hr) ? hr : WBEM_E_CRITICAL_ERROR;
        CimObject object;
        hr = repository->GetClass(namespace_, name, &object);
        if (hr == WBEM_E_NOT_FOUND) return WBEM_E_INVALID_CLASS;
        if (FAILED(hr)) return hr;
        *cls = CreateClassObject(object);
        return S_OK;
    }

    HRESULT NewInstance(const std::wstring& className, IWbemClassObject** instance) {
        IWbemClassObject* cls = nullptr;
        HRESULT hr = Class(className, &cls);
        if (FAILED(hr)) return hr;
        hr = cls->SpawnInstance(0, instance);
        cls->Release();
        return hr;
    }

    static std::wstring RelPath(IWbemClassObject* o) {
        VARIANT v;
        VariantInit(&v);
        std::wstring text;
        if (SUCCEEDED(o->Get(L"__RELPATH", 0, &v, nullptr, nullptr)) && V_VT(&v) == VT_BSTR) text = V_BSTR(&v);
        VariantClear(&v);
        return text;
    }

    // "select * from Class", nothing else.
    static bool WholeClassQuery(const std::wstring& query, std::wstring* cls) {
        std::vector<std::wstring> words;
        std::wstring word;
        for (wchar_t c : query + L" ") {
            if (std::iswspace(static_cast<wint_t>(c))) {
                if (!word.empty()) words.push_back(word);
                word.clear();
            } else {
                word += c;
            }
        }
        if (words.size() != 4 || !Same(words[0], L"select") || words[1] != L"*" || !Same(words[2], L"from"))
            return false;
        *cls = words[3];
        return true;
    }

    // The instances the machine has of `className` (new references in `objects`).
    HRESULT Instances(const std::wstring& className, std::vector<IWbemClassObject*>* objects) {
        IWbemClassObject* cls = nullptr;
        HRESULT hr = Class(className, &cls);
        if (FAILED(hr)) return hr;
        cls->Release();
        bool smbios = false, native = false;
        std::optional<qv::machine::Bytes> entry;
        qv::machine::Bytes table;
        if (!Reach([&](qv::machine::Firmware& f) {
                native = f.PublishesNativeSettings();
                entry = f.SmbiosEntryPoint();
                if (entry && entry->size() >= 0x1C) {
                    uint32_t address = 0;
                    std::memcpy(&address, entry->data() + 0x18, 4);
                    table = f.ReadRomArea(address, static_cast<uint32_t>((*entry)[0x16] | ((*entry)[0x17] << 8)));
                    smbios = true;
                }
            }))
            return WBEM_E_FAILED;
        IWbemClassObject* o = nullptr;
        if (Same(className, L"MSSmBios_RawSMBiosTables")) {
            if (!smbios) return WBEM_S_NO_ERROR;
            if (FAILED(hr = NewInstance(className, &o))) return hr;
            PutString(o, L"InstanceName", L"SMBiosData");
            PutBool(o, L"Active", true);
            PutBool(o, L"Used20CallingMethod", false);
            PutByte(o, L"SmbiosMajorVersion", (*entry)[6]);
            PutByte(o, L"SmbiosMinorVersion", (*entry)[7]);
            PutByte(o, L"DmiRevision", 0);
            PutInt(o, L"Size", static_cast<LONG>(table.size()));
            PutBytes(o, L"SMBiosData", table);
        } else if (Same(className, L"vrxBIntM") || (Same(className, L"QVBIOS_BIOSSettingInterface") && native)) {
            if (FAILED(hr = NewInstance(className, &o))) return hr;
            PutString(o, L"InstanceName", kAcpiInstance);
            PutBool(o, L"Active", true);
        }
        if (o != nullptr) objects->push_back(o);
        return WBEM_S_NO_ERROR;
    }

    HRESULT CallGate(const std::wstring& path, const std::wstring& method, IWbemClassObject* in,
                     IWbemClassObject** out) {
        *out = nullptr;
        std::wstring cls = path.substr(0, path.find(L'.'));
        size_t colon = cls.find(L':');
        if (colon != std::wstring::npos) cls = cls.substr(colon + 1);
        if (!Same(cls, L"vrxBIntM")) return WBEM_E_INVALID_CLASS;
        const std::wstring prefix = L"vrxBIOSInt";
        if (method.size() <= prefix.size() || !Same(method.substr(0, prefix.size()), prefix))
            return WBEM_E_INVALID_METHOD;
        std::wstring digits = method.substr(prefix.size());
        if (digits != L"0" && digits != L"4" && digits != L"128" && digits != L"4096") return WBEM_E_INVALID_METHOD;
        uint32_t outputSize = static_cast<uint32_t>(std::stoul(digits));
        IWbemClassObject* gateClass = nullptr;
        HRESULT hr = Class(L"vrxBIntM", &gateClass);
        if (FAILED(hr)) return hr;
        IWbemClassObject* outSignature = nullptr;
        hr = gateClass->GetMethod(method.c_str(), 0, nullptr, &outSignature);
        gateClass->Release();
        if (FAILED(hr) || outSignature == nullptr) return FAILED(hr) ? hr : WBEM_E_INVALID_METHOD;

        // The input record.
        if (in == nullptr) {
            outSignature->Release();
            return WBEM_E_INVALID_METHOD_PARAMETERS;
        }
        VARIANT data;
        VariantInit(&data);
        IWbemClassObject* record = nullptr;
        if (SUCCEEDED(in->Get(L"InData", 0, &data, nullptr, nullptr)) && V_VT(&data) == VT_UNKNOWN &&
            V_UNKNOWN(&data) != nullptr)
            V_UNKNOWN(&data)->QueryInterface(IID_IWbemClassObject, reinterpret_cast<void**>(&record));
        VariantClear(&data);
        std::vector<uint8_t> sign, bytes;
        LONG command = 0, type = 0, size = 0;
        bool valid = record != nullptr && GetBytes(record, L"Sign", &sign) && GetInt(record, L"Command", &command) &&
                     GetInt(record, L"CommandType", &type) && GetInt(record, L"Size", &size) &&
                     GetBytes(record, L"vrxBData", &bytes) && sign.size() == 4 &&
                     std::memcmp(sign.data(), kSignature, 4) == 0 && size >= 0 &&
                     static_cast<size_t>(size) <= bytes.size();
        if (record != nullptr) record->Release();
        if (!valid) {
            outSignature->Release();
            return WBEM_E_INVALID_METHOD_PARAMETERS;
        }
        bytes.resize(static_cast<size_t>(size));

        std::vector<uint8_t> answer;
        uint32_t code = 0;
        {
            std::lock_guard hold(gate_mutex_);
            bool reached = Reach([&](qv::machine::Firmware& f) {
                code = qv::machine::ExecuteGateCommand(f, session_, static_cast<uint32_t>(command),
                                                       static_cast<uint32_t>(type), bytes, outputSize, &answer);
            });
            if (!reached) {
                outSignature->Release();
                return WBEM_E_FAILED;
            }
        }

        IWbemClassObject* result = nullptr;
        hr = NewInstance(L"vrxBDataOut", &result);
        if (SUCCEEDED(hr)) {
            PutInt(result, L"rwReturnCode", static_cast<LONG>(code));
            PutBytes(result, L"Data", answer);
            hr = outSignature->SpawnInstance(0, out);
        }
        if (SUCCEEDED(hr)) {
            VARIANT embedded;
            VariantInit(&embedded);
            V_VT(&embedded) = VT_UNKNOWN;
            V_UNKNOWN(&embedded) = result;
            result->AddRef();
            hr = PutValue(*out, L"OutData", &embedded);
        }
        if (result != nullptr) result->Release();
        outSignature->Release();
        if (FAILED(hr) && *out != nullptr) {
            (*out)->Release();
            *out = nullptr;
        }
        return hr;
    }

    // Runs `call` in one transaction on the root's machine: false when it never reached the firmware (a machine
    // whose files are not valid, reported by the machine; the request then fails, the provider goes on).
    static bool Reach(const std::function<void(qv::machine::Firmware&)>& call) {
        try {
            qv::win::RootMachine()->Transact(call);
            return true;
        } catch (const std::exception&) {
            return false;
        }
    }

    static HRESULT Deliver(IWbemObjectSink* sink, HRESULT hr, std::vector<IWbemClassObject*>& objects) {
        if (SUCCEEDED(hr) && !objects.empty()) sink->Indicate(static_cast<LONG>(objects.size()), objects.data());
        for (IWbemClassObject* o : objects) o->Release();
        objects.clear();
        sink->SetStatus(WBEM_STATUS_COMPLETE, FAILED(hr) ? hr : WBEM_S_NO_ERROR, nullptr, nullptr);
        return WBEM_S_NO_ERROR;
    }

    std::wstring namespace_ = L"root\\WMI";
    std::mutex gate_mutex_;
    qv::machine::GateSession session_;
};

}  // namespace

HRESULT CreateWmiKernelDataProvider(REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    auto* provider = new KernelDataProvider();
    HRESULT hr = static_cast<IWbemProviderInit*>(provider)->QueryInterface(riid, object);
    static_cast<IWbemProviderInit*>(provider)->Release();
    return hr;
}

const std::vector<InProcessProvider>& InProcessProviders() {
    static const std::vector<InProcessProvider> providers = {
        {&CLSID_WmiKernelDataProvider, &CreateWmiKernelDataProvider},
    };
    return providers;
}

}  // namespace qv::wbem
