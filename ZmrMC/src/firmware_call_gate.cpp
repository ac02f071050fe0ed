#include "firmware_call_gate.h"

#include "root_wmi_connection.h"

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <vector>

namespace zmrmc {
namespace {

constexpr LONG kInstanceWaitMs = 2000;
const uint8_t kSignature[4] = {0x53, 0x45, 0x43, 0x55};  // "SECU"

// A VT_ARRAY | VT_UI1 variant of the bytes (an empty array for none).
HRESULT PutBytes(VARIANT* v, const void* bytes, uint32_t count) {
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, count);
    if (array == nullptr) return E_OUTOFMEMORY;
    if (count > 0) {
        void* data = nullptr;
        if (FAILED(SafeArrayAccessData(array, &data))) {
            SafeArrayDestroy(array);
            return E_FAIL;
        }
        std::memcpy(data, bytes, count);
        SafeArrayUnaccessData(array);
    }
    V_VT(v) = VT_ARRAY | VT_UI1;
    V_ARRAY(v) = array;
    return S_OK;
}

HRESULT PutInt(IWbemClassObject* object, const wchar_t* name, uint32_t value) {
    Variant v;
    V_VT(v.get()) = VT_I4;
    V_I4(v.get()) = static_cast<LONG>(value);
    return object->Put(name, 0, v.get(), 0);
}

HRESULT PutArray(IWbemClassObject* object, const wchar_t* name, const void* bytes, uint32_t count) {
    Variant v;
    HRESULT hr = PutBytes(v.get(), bytes, count);
    return FAILED(hr) ? hr : object->Put(name, 0, v.get(), 0);
}

// The bytes of a byte-array variant (an array of another integer type is narrowed element by element).
bool ArrayBytes(VARIANT* v, std::vector<uint8_t>* out) {
    if ((V_VT(v) & VT_ARRAY) == 0 || V_ARRAY(v) == nullptr) return false;
    SAFEARRAY* array = V_ARRAY(v);
    LONG low = 0, high = -1;
    if (SafeArrayGetDim(array) != 1 || FAILED(SafeArrayGetLBound(array, 1, &low)) ||
        FAILED(SafeArrayGetUBound(array, 1, &high)))
        return false;
    out->clear();
    VARTYPE type = static_cast<VARTYPE>(V_VT(v) & ~VT_ARRAY);
    for (LONG i = low; i <= high; ++i) {
        uint8_t byte = 0;
        if (type == VT_UI1 || type == VT_I1) {
            if (FAILED(SafeArrayGetElement(array, &i, &byte))) return false;
        } else if (type == VT_I4 || type == VT_UI4) {
            LONG value = 0;
            if (FAILED(SafeArrayGetElement(array, &i, &value))) return false;
            byte = static_cast<uint8_t>(value);
        } else if (type == VT_I2 || type == VT_UI2) {
            SHORT value = 0;
            if (FAILED(SafeArrayGetElement(array, &i, &value))) return false;
            byte = static_cast<uint8_t>(value);
        } else {
            return false;
        }
        out->push_back(byte);
    }
    return true;
}

}  // namespace

FirmwareCallGate::FirmwareCallGate() { com_initialised_ = SUCCEEDED(CoInitialize(nullptr)); }

FirmwareCallGate::~FirmwareCallGate() {
    if (services_ != nullptr) services_->Release();
    services_ = nullptr;
    if (com_initialised_) CoUninitialize();
}

HRESULT FirmwareCallGate::Connect() {
    if (services_ != nullptr) return S_OK;
    IWbemServices* services = nullptr;
    if (FAILED(ConnectRootWmi(&services)) || services == nullptr) return E_FAIL;
    services_ = services;
    return S_OK;
}

HRESULT FirmwareCallGate::Call(uint32_t command, uint32_t commandType, uint32_t inputSize, uint32_t outputSize,
                               uint32_t* status, const void* input, void* output) {
    if ((inputSize > 0 && input == nullptr) || (outputSize > 0 && output == nullptr)) return E_INVALIDARG;
    if (Connect() != S_OK) return E_FAIL;

    wchar_t method[20];
    std::swprintf(method, sizeof method / sizeof method[0], L"vrxBIOSInt%ld", static_cast<long>(outputSize));
    BSTR methodName = SysAllocString(method);
    BSTR methodClass = SysAllocString(L"vrxBIntM");
    BSTR inputClass = SysAllocString(L"vrxBDataIn");
    BSTR path = nullptr;
    HRESULT hr = S_OK;
    ComRef<IWbemClassObject> gateClass, signature, inParams, recordClass, record, instance, outParams, outData;
    ComRef<IEnumWbemClassObject> instances;
    do {
        // The method's in-parameters, with the input record embedded as InData.
        if (FAILED(hr = services_->GetObject(methodClass, 0, nullptr, gateClass.out(), nullptr))) break;
        if (FAILED(hr = gateClass->GetMethod(method, 0, signature.out(), nullptr))) break;
        if (!signature) {
            hr = WBEM_E_INVALID_METHOD;
            break;
        }
        if (FAILED(hr = signature->SpawnInstance(0, inParams.out()))) break;
        if (FAILED(hr = services_->GetObject(inputClass, 0, nullptr, recordClass.out(), nullptr))) break;
        if (FAILED(hr = recordClass->SpawnInstance(0, record.out()))) break;
        if (FAILED(hr = PutArray(record.get(), L"Sign", kSignature, sizeof kSignature))) break;
        if (FAILED(hr = PutInt(record.get(), L"Command", command))) break;
        if (FAILED(hr = PutInt(record.get(), L"CommandType", commandType))) break;
        if (FAILED(hr = PutInt(record.get(), L"Size", inputSize))) break;
        if (FAILED(hr = PutArray(record.get(), L"vrxBData", input, inputSize))) break;
        {
            Variant embedded;
            V_VT(embedded.get()) = VT_UNKNOWN;
            V_UNKNOWN(embedded.get()) = record.get();
            record->AddRef();
            if (FAILED(hr = inParams->Put(L"InData", 0, embedded.get(), 0))) break;
        }

        // The first instance of the method class is the target.
        if (FAILED(hr = services_->CreateInstanceEnum(
                       methodClass, WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr, instances.out())))
            break;
        ULONG returned = 0;
        hr = instances->Next(kInstanceWaitMs, 1, instance.out(), &returned);
        if (FAILED(hr)) break;
        if (returned == 0 || !instance) {
            hr = WBEM_E_NOT_FOUND;
            break;
        }
        {
            Variant value;
            if (FAILED(hr = instance->Get(L"__PATH", 0, value.get(), nullptr, nullptr))) break;
            if (V_VT(value.get()) != VT_BSTR) {
                hr = WBEM_E_INVALID_OBJECT;
                break;
            }
            path = SysAllocString(V_BSTR(value.get()));
        }

        if (FAILED(hr = services_->ExecMethod(path, methodName, 0, nullptr, inParams.get(), outParams.out(), nullptr)))
            break;
        if (!outParams) {
            hr = WBEM_E_INVALID_OBJECT;
            break;
        }

        // The answer: OutData's return code and data.
        Variant out;
        if (FAILED(hr = outParams->Get(L"OutData", 0, out.get(), nullptr, nullptr))) break;
        if (V_VT(out.get()) != VT_UNKNOWN || V_UNKNOWN(out.get()) == nullptr ||
            FAILED(
                V_UNKNOWN(out.get())->QueryInterface(IID_IWbemClassObject, reinterpret_cast<void**>(outData.out())))) {
            hr = WBEM_E_INVALID_OBJECT;
            break;
        }
        Variant code;
        if (FAILED(hr = outData->Get(L"rwReturnCode", 0, code.get(), nullptr, nullptr))) break;
        if (V_VT(code.get()) != VT_NULL && V_VT(code.get()) != VT_EMPTY && status != nullptr) {
            Variant as;
            if (SUCCEEDED(VariantChangeType(as.get(), code.get(), 0, VT_I4)))
                *status = static_cast<uint32_t>(V_I4(as.get()));
        }
        if (outputSize > 0) {
            Variant data;
            if (FAILED(hr = outData->Get(L"Data", 0, data.get(), nullptr, nullptr))) break;
            std::vector<uint8_t> bytes;
            if (!ArrayBytes(data.get(), &bytes) || bytes.size() != outputSize) {
                if (status != nullptr) *status = kGateWrongLength;
            } else {
                std::memcpy(output, bytes.data(), outputSize);
            }
        }
    } while (false);
    SysFreeString(path);
    SysFreeString(inputClass);
    SysFreeString(methodClass);
    SysFreeString(methodName);
    return hr;
}

}  // namespace zmrmc
