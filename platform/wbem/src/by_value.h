// Helpers for objects that travel between processes by value: their bytes in a marshal stream, and the
// in-process class object of an unmarshal class.
#pragma once

#include "objbase.h"
#include "objidl.h"
#include "qv_com_object.h"

#include <cstdint>
#include <vector>

namespace qv::wbem {

// Writes u32 length + bytes.
HRESULT WriteMarshalBytes(IStream* stream, const std::vector<uint8_t>& bytes);
// Reads what WriteMarshalBytes wrote; WBEM_E_INVALID_STREAM when the stream is short or absurd.
HRESULT ReadMarshalBytes(IStream* stream, std::vector<uint8_t>* bytes);

// IMarshal of an object that marshals itself by value: the derived class supplies its unmarshal class and
// its bytes; the other IMarshal methods are not meaningful for a by-value object.
class ByValueMarshal : public IMarshal {
public:
    virtual CLSID UnmarshalClass() const = 0;
    virtual std::vector<uint8_t> MarshalBytes() = 0;

    STDMETHODIMP GetUnmarshalClass(REFIID, void*, DWORD, void*, DWORD, CLSID* clsid) override {
        if (clsid == nullptr) return E_POINTER;
        *clsid = UnmarshalClass();
        return S_OK;
    }
    STDMETHODIMP GetMarshalSizeMax(REFIID, void*, DWORD, void*, DWORD, DWORD* size) override {
        if (size == nullptr) return E_POINTER;
        *size = static_cast<DWORD>(MarshalBytes().size() + 4);
        return S_OK;
    }
    STDMETHODIMP MarshalInterface(IStream* stream, REFIID, void*, DWORD, void*, DWORD) override {
        return WriteMarshalBytes(stream, MarshalBytes());
    }
    STDMETHODIMP UnmarshalInterface(IStream*, REFIID, void**) override { return E_NOTIMPL; }
    STDMETHODIMP ReleaseMarshalData(IStream*) override { return S_OK; }
    STDMETHODIMP DisconnectObject(DWORD) override { return S_OK; }

protected:
    ~ByValueMarshal() = default;
};

}  // namespace qv::wbem

QV_COM_IMPLEMENTATION(qv::wbem::ByValueMarshal, IMarshal);

namespace qv::wbem {

// An unmarshal class whose UnmarshalInterface turns bytes into a new object through `decode`.
using DecodeFunction = HRESULT (*)(const std::vector<uint8_t>& bytes, IUnknown** object);
IClassFactory* CreateUnmarshalFactory(DecodeFunction decode);

// A class factory that creates objects through `create` (no aggregation).
using CreateFunction = IUnknown* (*)();
IClassFactory* CreateSimpleFactory(CreateFunction create);

}  // namespace qv::wbem
