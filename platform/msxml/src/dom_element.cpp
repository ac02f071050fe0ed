// Element nodes: tag name and attributes.
#include "dom_node.h"
#include "dom_strings.h"

#include "oleauto.h"

#include <new>

namespace qv::msxml {
namespace {

class ElementObject final : public Node<IXMLDOMElement> {
public:
    ElementObject(IUnknown* owner, xmlNodePtr node) : Node(owner, node) {}

    STDMETHODIMP get_tagName(BSTR* name) override { return NodeName(name); }

    STDMETHODIMP getAttribute(BSTR name, VARIANT* value) override {
        if (value == nullptr) return E_POINTER;
        VariantInit(value);
        std::string key;
        if (!ToXmlText(name, &key)) return E_INVALIDARG;
        xmlChar* text = xmlGetProp(node(), reinterpret_cast<const xmlChar*>(key.c_str()));
        if (text == nullptr) {
            value->vt = VT_NULL;
            return S_FALSE;
        }
        BSTR copy = ToBstr(text);
        xmlFree(text);
        if (copy == nullptr) return E_OUTOFMEMORY;
        value->vt = VT_BSTR;
        value->bstrVal = copy;
        return S_OK;
    }

    STDMETHODIMP setAttribute(BSTR name, VARIANT value) override {
        std::string key;
        if (!ToXmlText(name, &key) || !IsXmlName(key)) return E_FAIL;
        VARIANT text;
        VariantInit(&text);
        HRESULT hr = VariantChangeType(&text, &value, 0, VT_BSTR);
        if (FAILED(hr)) return hr;
        std::string content;
        bool valid = ToXmlText(text.bstrVal, &content);
        VariantClear(&text);
        if (!valid) return E_INVALIDARG;
        if (xmlSetProp(node(), reinterpret_cast<const xmlChar*>(key.c_str()),
                       reinterpret_cast<const xmlChar*>(content.c_str())) == nullptr)
            return E_OUTOFMEMORY;
        return S_OK;
    }

    STDMETHODIMP removeAttribute(BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP getAttributeNode(BSTR, IXMLDOMAttribute**) override { return E_NOTIMPL; }
    STDMETHODIMP setAttributeNode(IXMLDOMAttribute*, IXMLDOMAttribute**) override { return E_NOTIMPL; }
    STDMETHODIMP removeAttributeNode(IXMLDOMAttribute*, IXMLDOMAttribute**) override { return E_NOTIMPL; }
    STDMETHODIMP getElementsByTagName(BSTR, IXMLDOMNodeList**) override { return E_NOTIMPL; }
    STDMETHODIMP normalize() override { return E_NOTIMPL; }
};

}  // namespace

IXMLDOMElement* NewElementObject(IUnknown* owner, xmlNodePtr node) {
    return new (std::nothrow) ElementObject(owner, node);
}

}  // namespace qv::msxml
