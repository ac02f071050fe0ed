// Decodes arbitrary bytes as an encoded CIM object. What decodes must encode back to the same bytes and be
// usable through IWbemClassObject.
#include "qv_class_object.h"
#include "qv_object_codec.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qv::wbem::CimObject object;
    if (FAILED(qv::wbem::DecodeObject(data, size, &object))) return 0;
    std::vector<uint8_t> again = qv::wbem::EncodeObject(object);
    if (again.size() != size || !std::equal(again.begin(), again.end(), data)) std::abort();
    IWbemClassObject* wrapped = qv::wbem::CreateClassObject(object);
    BSTR text = nullptr;
    wrapped->GetObjectText(0, &text);
    SysFreeString(text);
    if (SUCCEEDED(wrapped->BeginEnumeration(0))) {
        BSTR name = nullptr;
        VARIANT value;
        VariantInit(&value);
        while (wrapped->Next(0, &name, &value, nullptr, nullptr) == S_OK) {
            SysFreeString(name);
            VariantClear(&value);
        }
    }
    wrapped->Release();
    return 0;
}
