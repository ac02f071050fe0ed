#include "smbios_instrumentation.h"

#include "root_wmi_connection.h"

#include <atlbase.h>
#include <wrl/client.h>

#include <cstring>

namespace zmrmc {
namespace {

using Microsoft::WRL::ComPtr;

// Each object of the answer is waited for at most this long (the instrumentation reads a firmware table).
constexpr LONG kObjectWaitMs = 60000;

bool IntegerProperty(IWbemClassObject* object, const wchar_t* name, LONG* value) {
    CComVariant v, as;
    if (FAILED(object->Get(name, 0, &v, nullptr, nullptr))) return false;
    if (V_VT(&v) == VT_NULL || V_VT(&v) == VT_EMPTY) return false;
    if (FAILED(as.ChangeType(VT_I4, &v))) return false;
    *value = V_I4(&as);
    return true;
}

bool ByteArrayProperty(IWbemClassObject* object, const wchar_t* name, std::vector<uint8_t>* bytes) {
    CComVariant v;
    if (FAILED(object->Get(name, 0, &v, nullptr, nullptr))) return false;
    if (V_VT(&v) != (VT_ARRAY | VT_UI1) || V_ARRAY(&v) == nullptr) return false;
    SAFEARRAY* array = V_ARRAY(&v);
    LONG low = 0, high = -1;
    if (SafeArrayGetDim(array) != 1 || FAILED(SafeArrayGetLBound(array, 1, &low)) ||
        FAILED(SafeArrayGetUBound(array, 1, &high)))
        return false;
    size_t count = high >= low ? static_cast<size_t>(high - low + 1) : 0;
    void* data = nullptr;
    if (FAILED(SafeArrayAccessData(array, &data))) return false;
    bytes->assign(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + count);
    SafeArrayUnaccessData(array);
    return true;
}

bool Query(IWbemServices* services, RawSmbiosTables* tables) {
    ComPtr<IEnumWbemClassObject> objects;
    HRESULT hr = services->ExecQuery(CComBSTR(L"WQL"), CComBSTR(L"select * from MSSmBios_RawSMBiosTables"),
                                     WBEM_FLAG_FORWARD_ONLY, nullptr, objects.GetAddressOf());
    if (FAILED(hr) || !objects) return false;
    bool loaded = false;
    for (;;) {
        ComPtr<IWbemClassObject> object;
        ULONG returned = 0;
        if (objects->Next(kObjectWaitMs, 1, object.GetAddressOf(), &returned) != WBEM_S_NO_ERROR || returned != 1 ||
            !object)
            break;
        LONG value = 0;
        if (IntegerProperty(object.Get(), L"SmbiosMajorVersion", &value)) tables->major = static_cast<uint8_t>(value);
        if (IntegerProperty(object.Get(), L"SmbiosMinorVersion", &value)) tables->minor = static_cast<uint8_t>(value);
        LONG size = -1;
        bool haveSize = IntegerProperty(object.Get(), L"Size", &size) && size >= 0;
        std::vector<uint8_t> data;
        if (!ByteArrayProperty(object.Get(), L"SMBiosData", &data)) continue;
        // The entry point's table length is 16-bit: so is the copy.
        size_t length = haveSize ? static_cast<size_t>(size) : data.size();
        length = std::min<size_t>(length, 0xFFFF);
        data.resize(length, 0);
        tables->data = std::move(data);
        loaded = !tables->data.empty();
    }
    return loaded;
}

}  // namespace

bool ReadRawSmbiosTables(RawSmbiosTables* tables) {
    if (tables == nullptr) return false;
    bool initialised = SUCCEEDED(CoInitialize(nullptr));
    bool loaded = false;
    {
        ComPtr<IWbemServices> services;
        if (SUCCEEDED(ConnectRootWmi(services.GetAddressOf())) && services) loaded = Query(services.Get(), tables);
    }
    if (initialised) CoUninitialize();
    return loaded;
}

}  // namespace zmrmc
