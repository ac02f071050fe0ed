// What every node object of the DOM shares: the libxml2 node it stands for, the document that owns that node,
// and the IXMLDOMNode methods (those the DOM serves over libxml2; the rest answer E_NOTIMPL).
//
// Node objects never free their libxml2 node: a node belongs to its document's tree once appended, and the
// document frees what was never appended when it goes. Every node object holds a reference on its document,
// so the document outlives them all. Several node objects may stand for one node.
#pragma once

#include "msxml.h"
#include "qv_com_object.h"

#include <libxml/tree.h>

QV_COM_INTERFACE_ID(IXMLDOMNode, IDispatch, IID_IXMLDOMNode);
QV_COM_INTERFACE_ID(IXMLDOMDocument, IXMLDOMNode, IID_IXMLDOMDocument);
QV_COM_INTERFACE_ID(IXMLDOMElement, IXMLDOMNode, IID_IXMLDOMElement);
QV_COM_INTERFACE_ID(IXMLDOMCharacterData, IXMLDOMNode, IID_IXMLDOMCharacterData);
QV_COM_INTERFACE_ID(IXMLDOMText, IXMLDOMCharacterData, IID_IXMLDOMText);

namespace qv::msxml {

// Private: answered by the DOM's own node objects with their NodeCore (the reference is the object's).
// {6E0B7A31-4C8D-4F2A-9B57-2D1E8C3F4A60}
DEFINE_GUID(IID_QvDomNodeCore, 0x6e0b7a31, 0x4c8d, 0x4f2a, 0x9b, 0x57, 0x2d, 0x1e, 0x8c, 0x3f, 0x4a, 0x60);

class NodeCore {
public:
    xmlNodePtr node() const { return node_; }

protected:
    // `owner` is the document object (AddRef'd here, released at destruction); null for the document itself.
    NodeCore(IUnknown* owner, xmlNodePtr node);
    ~NodeCore();
    NodeCore(const NodeCore&) = delete;
    NodeCore& operator=(const NodeCore&) = delete;

    HRESULT NodeName(BSTR* name) const;
    HRESULT NodeType(DOMNodeType* type) const;
    HRESULT AppendChild(IXMLDOMNode* child, IXMLDOMNode** appended);
    HRESULT HasChildNodes(VARIANT_BOOL* has) const;
    HRESULT Text(BSTR* text) const;
    HRESULT Markup(BSTR* xml) const;

private:
    IUnknown* owner_;
    xmlNodePtr node_;
};

// The node object of one interface derived from IXMLDOMNode.
template <typename Interface>
class Node : public com::Object<Interface>, public NodeCore {
public:
    // IDispatch: the DOM is used through its vtable only.
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }

    STDMETHODIMP get_nodeName(BSTR* name) override { return NodeName(name); }
    STDMETHODIMP get_nodeValue(VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP put_nodeValue(VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP get_nodeType(DOMNodeType* type) override { return NodeType(type); }
    STDMETHODIMP get_parentNode(IXMLDOMNode**) override { return E_NOTIMPL; }
    STDMETHODIMP get_childNodes(IXMLDOMNodeList**) override { return E_NOTIMPL; }
    STDMETHODIMP get_firstChild(IXMLDOMNode**) override { return E_NOTIMPL; }
    STDMETHODIMP get_lastChild(IXMLDOMNode**) override { return E_NOTIMPL; }
    STDMETHODIMP get_previousSibling(IXMLDOMNode**) override { return E_NOTIMPL; }
    STDMETHODIMP get_nextSibling(IXMLDOMNode**) override { return E_NOTIMPL; }
    STDMETHODIMP get_attributes(IXMLDOMNamedNodeMap**) override { return E_NOTIMPL; }
    STDMETHODIMP insertBefore(IXMLDOMNode*, VARIANT, IXMLDOMNode**) override { return E_NOTIMPL; }
    STDMETHODIMP replaceChild(IXMLDOMNode*, IXMLDOMNode*, IXMLDOMNode**) override { return E_NOTIMPL; }
    STDMETHODIMP removeChild(IXMLDOMNode*, IXMLDOMNode**) override { return E_NOTIMPL; }
    STDMETHODIMP appendChild(IXMLDOMNode* child, IXMLDOMNode** appended) override {
        return AppendChild(child, appended);
    }
    STDMETHODIMP hasChildNodes(VARIANT_BOOL* has) override { return HasChildNodes(has); }
    STDMETHODIMP get_ownerDocument(IXMLDOMDocument**) override { return E_NOTIMPL; }
    STDMETHODIMP cloneNode(VARIANT_BOOL, IXMLDOMNode**) override { return E_NOTIMPL; }
    STDMETHODIMP get_nodeTypeString(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_text(BSTR* text) override { return Text(text); }
    STDMETHODIMP put_text(BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP get_specified(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP get_definition(IXMLDOMNode**) override { return E_NOTIMPL; }
    STDMETHODIMP get_nodeTypedValue(VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP put_nodeTypedValue(VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP get_dataType(VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP put_dataType(BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP get_xml(BSTR* xml) override { return Markup(xml); }
    STDMETHODIMP transformNode(IXMLDOMNode*, BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP selectNodes(BSTR, IXMLDOMNodeList**) override { return E_NOTIMPL; }
    STDMETHODIMP selectSingleNode(BSTR, IXMLDOMNode**) override { return E_NOTIMPL; }
    STDMETHODIMP get_parsed(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP get_namespaceURI(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_prefix(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_baseName(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP transformNodeToObject(IXMLDOMNode*, VARIANT) override { return E_NOTIMPL; }

protected:
    Node(IUnknown* owner, xmlNodePtr node) : NodeCore(owner, node) {}

    void* FindOther(REFIID riid) override {
        return IsEqualGUID(riid, IID_QvDomNodeCore) ? static_cast<NodeCore*>(this) : nullptr;
    }
};

// Node objects for nodes of `owner`'s document (reference count 1); null when memory runs out.
IXMLDOMElement* NewElementObject(IUnknown* owner, xmlNodePtr node);
IXMLDOMText* NewTextObject(IUnknown* owner, xmlNodePtr node);

}  // namespace qv::msxml
