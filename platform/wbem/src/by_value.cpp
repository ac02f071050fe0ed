// Marshal streams of by-value objects and the small class factories of the in-process WMI classes.
#include "by_value.h"

#include "qv_wbem_interface_ids.h"

namespace qv::wbem {

namespace {

constexpr uint32_t kMaxMarshalBytes = 64u << 20;

class Unmarshaler final : public qv::com::Object<IMarshal> {
public:
    explicit Unmarshaler(DecodeFunction decode) : decode_(decode) {}
    STDMETHODIMP GetUnmarshalClass(REFIID, void*, DWORD, void*, DWORD, CLSID*) override { return E_NOTIMPL; }
    STDMETHODIMP GetMarshalSizeMax(REFIID, void*, DWORD, void*, DWORD, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP MarshalInterface(IStream*, REFIID, void*, DWORD, void*, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP UnmarshalInterface(IStream* stream, REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        std::vector<uint8_t> bytes;
        HRESULT hr = ReadMarshalBytes(stream, &bytes);
        if (FAILED(hr)) return hr;
        IUnknown* made = nullptr;
        hr = decode_(bytes, &made);
        if (FAILED(hr)) return hr;
        hr = made->QueryInterface(riid, object);
        made->Release();
        return hr;
    }
    STDMETHODIMP ReleaseMarshalData(IStream*) override { return S_OK; }
    STDMETHODIMP DisconnectObject(DWORD) override { return S_OK; }

private:
    ~Unmarshaler() = default;
    DecodeFunction decode_;
};

class Factory final : public qv::com::Object<IClassFactory> {
public:
    Factory(DecodeFunction decode, CreateFunction create) : decode_(decode), create_(create) {}
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        IUnknown* made = nullptr;
        if (create_ != nullptr)
            made = create_();
        else
            made = static_cast<IMarshal*>(new Unmarshaler(decode_));
        if (made == nullptr) return E_OUTOFMEMORY;
        HRESULT hr = made->QueryInterface(riid, object);
        made->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }

private:
    ~Factory() = default;
    DecodeFunction decode_;
    CreateFunction create_;
};

}  // namespace

HRESULT WriteMarshalBytes(IStream* stream, const std::vector<uint8_t>& bytes) {
    if (stream == nullptr) return E_POINTER;
    if (bytes.size() > kMaxMarshalBytes) return WBEM_E_TOO_MUCH_DATA;
    uint32_t size = static_cast<uint32_t>(bytes.size());
    uint8_t prefix[4] = {static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8), static_cast<uint8_t>(size >> 16),
                         static_cast<uint8_t>(size >> 24)};
    HRESULT hr = stream->Write(prefix, 4, nullptr);
    if (SUCCEEDED(hr) && size != 0) hr = stream->Write(bytes.data(), size, nullptr);
    return hr;
}

HRESULT ReadMarshalBytes(IStream* stream, std::vector<uint8_t>* bytes) {
    if (stream == nullptr) return E_POINTER;
    uint8_t prefix[4] = {};
    ULONG read = 0;
    if (FAILED(stream->Read(prefix, 4, &read)) || read != 4) return WBEM_E_INVALID_STREAM;
    uint32_t size = prefix[0] | (prefix[1] << 8) | (prefix[2] << 16) | (static_cast<uint32_t>(prefix[3]) << 24);
    if (size > kMaxMarshalBytes) return WBEM_E_INVALID_STREAM;
    bytes->assign(size, 0);
    if (size != 0 && (FAILED(stream->Read(bytes->data(), size, &read)) || read != size)) return WBEM_E_INVALID_STREAM;
    return S_OK;
}

IClassFactory* CreateUnmarshalFactory(DecodeFunction decode) { return new Factory(decode, nullptr); }
IClassFactory* CreateSimpleFactory(CreateFunction create) { return new Factory(nullptr, create); }

}  // namespace qv::wbem
