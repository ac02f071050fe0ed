// The COM registrar object (CLSID_Registrar): replacements plus scripts from strings, files and resources.

#include "qv_com_object.h"
#include "qv_module_unload.h"
#include "qv_resource_notes.h"
#include "qv_system_root.h"
#include "registry_script.h"
#include "statreg.h"
#include "windows.h"

#include <fstream>
#include <mutex>
#include <sstream>

namespace qv::com {
namespace {

class Registrar final : public qv::com::Object<IRegistrar> {
public:
    STDMETHODIMP AddReplacement(LPCOLESTR key, LPCOLESTR item) override {
        if (key == nullptr || item == nullptr) return E_INVALIDARG;
        std::lock_guard lock(mutex_);
        replacements_[key] = item;
        return S_OK;
    }
    STDMETHODIMP ClearReplacements() override {
        std::lock_guard lock(mutex_);
        replacements_.clear();
        return S_OK;
    }
    STDMETHODIMP ResourceRegisterSz(LPCOLESTR file, LPCOLESTR id, LPCOLESTR type) override {
        return FromResource(file, id, type, true);
    }
    STDMETHODIMP ResourceUnregisterSz(LPCOLESTR file, LPCOLESTR id, LPCOLESTR type) override {
        return FromResource(file, id, type, false);
    }
    STDMETHODIMP FileRegister(LPCOLESTR file) override { return FromFile(file, true); }
    STDMETHODIMP FileUnregister(LPCOLESTR file) override { return FromFile(file, false); }
    STDMETHODIMP StringRegister(LPCOLESTR script) override { return Apply(script, true); }
    STDMETHODIMP StringUnregister(LPCOLESTR script) override { return Apply(script, false); }
    STDMETHODIMP ResourceRegister(LPCOLESTR file, UINT id, LPCOLESTR type) override {
        return FromResource(file, MAKEINTRESOURCEW(id), type, true);
    }
    STDMETHODIMP ResourceUnregister(LPCOLESTR file, UINT id, LPCOLESTR type) override {
        return FromResource(file, MAKEINTRESOURCEW(id), type, false);
    }

private:
    ~Registrar() = default;

    HRESULT Apply(LPCOLESTR script, bool registering) {
        if (script == nullptr) return E_INVALIDARG;
        Replacements replacements;
        {
            std::lock_guard lock(mutex_);
            replacements = replacements_;
        }
        return ApplyRegistryScript(script, replacements, registering);
    }

    HRESULT FromFile(LPCOLESTR file, bool registering) {
        if (file == nullptr) return E_INVALIDARG;
        std::ifstream in(win::HostPath(std::wstring(file)), std::ios::binary);
        if (!in) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        std::stringstream bytes;
        bytes << in.rdbuf();
        return Apply(DecodeScriptText(bytes.str()).c_str(), registering);
    }

    HRESULT FromResource(LPCOLESTR file, LPCOLESTR id, LPCOLESTR type, bool registering) {
        if (file == nullptr || id == nullptr || type == nullptr) return E_INVALIDARG;
        win::ResourceId wanted_type = win::ResourceIdFromArgument(type);
        win::ResourceId wanted_name = win::ResourceIdFromArgument(id);
        std::string storage, text;
        bool found = false;
        bool read = win::ReadFileResources(win::HostPath(std::wstring(file)).string(), storage,
                                           [&](const win::ResourceEntry& e) {
                                               if (found || !(e.type == wanted_type) || !(e.name == wanted_name))
                                                   return;
                                               text.assign(reinterpret_cast<const char*>(e.data), e.size);
                                               found = true;
                                           });
        if (!read) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        if (!found) return HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND);
        return Apply(DecodeScriptText(text).c_str(), registering);
    }

    std::mutex mutex_;
    Replacements replacements_;
};

class RegistrarFactory final : public qv::com::UncountedObject<IClassFactory> {
public:
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        auto* registrar = new Registrar();
        HRESULT hr = registrar->QueryInterface(riid, object);
        registrar->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};

}  // namespace

IClassFactory* RegistrarClassFactory() {
    // Lives as long as the platform's class table that holds it: a static object would be destroyed before a
    // library's copy of the table gives its factories back at unload.
    static auto* factory = qv::win::KeepUntilUnload(new RegistrarFactory());
    return factory;
}

}  // namespace qv::com
