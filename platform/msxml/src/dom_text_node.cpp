// Text nodes: their character data.
#include "dom_node.h"
#include "dom_strings.h"

#include "oleauto.h"

#include <new>

namespace qv::msxml {
namespace {

class TextObject final : public Node<IXMLDOMText> {
public:
    TextObject(IUnknown* owner, xmlNodePtr node) : Node(owner, node) {}

    STDMETHODIMP get_data(BSTR* data) override { return Text(data); }
    STDMETHODIMP put_data(BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP get_length(LONG* length) override {
        if (length == nullptr) return E_POINTER;
        BSTR data = nullptr;
        HRESULT hr = Text(&data);
        if (FAILED(hr)) return hr;
        *length = static_cast<LONG>(SysStringLen(data));
        SysFreeString(data);
        return S_OK;
    }
    STDMETHODIMP substringData(LONG, LONG, BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP appendData(BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP insertData(LONG, BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP deleteData(LONG, LONG) override { return E_NOTIMPL; }
    STDMETHODIMP replaceData(LONG, LONG, BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP splitText(LONG, IXMLDOMText**) override { return E_NOTIMPL; }
};

}  // namespace

IXMLDOMText* NewTextObject(IUnknown* owner, xmlNodePtr node) { return new (std::nothrow) TextObject(owner, node); }

}  // namespace qv::msxml
