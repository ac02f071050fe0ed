// Registers the DOM's in-process class with the COM runtime before main runs, in every program and library
// that links the DOM (the library's link options keep this file in, see CMakeLists.txt).
#include "dom_document.h"

#include "qv_com_object.h"
#include "qv_com_runtime.h"

#include <new>

namespace qv::msxml {
namespace {

class DocumentFactory final : public com::Object<IClassFactory> {
public:
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        IXMLDOMDocument* document = NewDocumentObject();
        if (document == nullptr) return E_OUTOFMEMORY;
        HRESULT hr = document->QueryInterface(riid, object);
        document->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};

HRESULT RegisterDomClasses() {
    auto* factory = new (std::nothrow) DocumentFactory();
    if (factory == nullptr) return E_OUTOFMEMORY;
    HRESULT hr = com::RegisterPlatformClass(CLSID_DOMDocument, factory);
    factory->Release();  // the class table holds its own reference
    return hr;
}

}  // namespace
}  // namespace qv::msxml

// Referenced by the library's link options so that the linker keeps this file and its registrar.
extern "C" {
int qv_msxml_classes_anchor = 0;
}

namespace {
const bool registered = (qv::msxml::RegisterDomClasses(), true);
}
