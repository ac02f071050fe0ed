#include "firmware_call_gate.h"

#include "root_wmi_connection.h"

#include <atlbase.h>
#include <wrl/client.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <vector>

namespace zmrmc {
namespace {

using Microsoft::WRL::ComPtr;

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
    CComVariant v(static_cast<LONG>(value));
    return object->Put(name, 0, &v, 0);
}

HRESULT PutArray(IWbemClassObject* object, const wchar_t* name, const void* bytes, uint32_t count) {
    CComVariant v;
    HRESULT hr = PutBytes(&v, bytes, count);
    return FAILED(hr) ? hr : object->Put(name, 0, &v, 0);
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
    services_.Reset();  // before COM goes
    if (com_initialised_) CoUninitialize();
}

HRESULT FirmwareCallGate::Connect() {
    if (services_) return S_OK;
    if (FAILED(ConnectRootWmi(services_.GetAddressOf())) || !services_) return E_FAIL;
    return S_OK;
}

HRESULT FirmwareCallGate::Call(uint32_t command, uint32_t commandType, uint32_t inputSize, uint32_t outputSize,
                               uint32_t* status, const void* input, void* output) {
    if ((inputSize > 0 && input == nullptr) || (outputSize > 0 && output == nullptr)) return E_INVALIDARG;
    if (Connect() != S_OK) return E_FAIL;

    wchar_t method[20];
    std::swprintf(method, sizeof method / sizeof method[0], L"vrxBIOSInt%ld", static_cast<long>(outputSize));
    CComBSTR methodName(method);
    CComBSTR methodClass(L"vrxBIntM");
    CComBSTR inputClass(L"vrxBDataIn");
    CComBSTR path;
    HRESULT hr = S_OK;
    ComPtr<IWbemClassObject> gateClass, signature, inParams, recordClass, record, instance, outParams, outData;
    ComPtr<IEnumWbemClassObject> instances;
    do {
        // The method's in-parameters, with the input record embedded as InData.
        if (FAILED(hr = services_->GetObject(methodClass, 0, nullptr, gateClass.GetAddressOf(), nullptr))) break;
        if (FAILED(hr = gateClass->GetMethod(method, 0, signature.GetAddressOf(), nullptr))) break;
        if (!signature) {
            hr = WBEM_E_INVALID_METHOD;
            break;
        }
        if (FAILED(hr = signature->SpawnInstance(0, inParams.GetAddressOf()))) break;
        if (FAILED(hr = services_->GetObject(inputClass, 0, nullptr, recordClass.GetAddressOf(), nullptr))) break;
        if (FAILED(hr = recordClass->SpawnInstance(0, record.GetAddressOf()))) break;
        if (FAILED(hr = PutArray(record.Get(), L"Sign", kSignature, sizeof kSignature))) break;
        if (FAILED(hr = PutInt(record.Get(), L"Command", command))) break;
        if (FAILED(hr = PutInt(record.Get(), L"CommandType", commandType))) break;
        if (FAILED(hr = PutInt(record.Get(), L"Size", inputSize))) break;
        if (FAILED(hr = PutArray(record.Get(), L"vrxBData", input, inputSize))) break;
        {
            CComVariant embedded(static_cast<IUnknown*>(record.Get()));
            if (FAILED(hr = inParams->Put(L"InData", 0, &embedded, 0))) break;
        }

        // The first instance of the method class is the target.
        if (FAILED(hr = services_->CreateInstanceEnum(methodClass,
                                                      WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
                                                      instances.GetAddressOf())))
            break;
        ULONG returned = 0;
        hr = instances->Next(kInstanceWaitMs, 1, instance.GetAddressOf(), &returned);
        if (FAILED(hr)) break;
        if (returned == 0 || !instance) {
            hr = WBEM_E_NOT_FOUND;
            break;
        }
        {
            CComVariant value;
            if (FAILED(hr = instance->Get(L"__PATH", 0, &value, nullptr, nullptr))) break;
            if (V_VT(&value) != VT_BSTR) {
                hr = WBEM_E_INVALID_OBJECT;
                break;
            }
            path = V_BSTR(&value);
        }

        if (FAILED(hr = services_->ExecMethod(path, methodName, 0, nullptr, inParams.Get(), outParams.GetAddressOf(),
                                              nullptr)))
            break;
        if (!outParams) {
            hr = WBEM_E_INVALID_OBJECT;
            break;
        }

        // The answer: OutData's return code and data.
        CComVariant out;
        if (FAILED(hr = outParams->Get(L"OutData", 0, &out, nullptr, nullptr))) break;
        if (V_VT(&out) != VT_UNKNOWN || V_UNKNOWN(&out) == nullptr ||
            FAILED(V_UNKNOWN(&out)->QueryInterface(IID_IWbemClassObject,
                                                   reinterpret_cast<void**>(outData.GetAddressOf())))) {
            hr = WBEM_E_INVALID_OBJECT;
            break;
        }
        CComVariant code;
        if (FAILED(hr = outData->Get(L"rwReturnCode", 0, &code, nullptr, nullptr))) break;
        if (V_VT(&code) != VT_NULL && V_VT(&code) != VT_EMPTY && status != nullptr) {
            CComVariant as;
            if (SUCCEEDED(as.ChangeType(VT_I4, &code))) *status = static_cast<uint32_t>(V_I4(&as));
        }
        if (outputSize > 0) {
            CComVariant data;
            if (FAILED(hr = outData->Get(L"Data", 0, &data, nullptr, nullptr))) break;
            std::vector<uint8_t> bytes;
            if (!ArrayBytes(&data, &bytes) || bytes.size() != outputSize) {
                if (status != nullptr) *status = kGateWrongLength;
            } else {
                std::memcpy(output, bytes.data(), outputSize);
            }
        }
    } while (false);
    return hr;
}

}  // namespace zmrmc
