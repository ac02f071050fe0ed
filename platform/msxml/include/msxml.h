// The platform's XML DOM: the document class and the node interfaces, in Windows' slot order.
//
// The in-process class CLSID_DOMDocument (registered with the COM runtime in every program that links the
// DOM library) serves what building and saving a document needs: createElement, createTextNode,
// setAttribute, appendChild, save, and reading back names, types, attributes, texts and the markup (get_xml).
// The other methods answer E_NOTIMPL. Texts are wide (BSTR); save writes UTF-8.
#pragma once

#include "oaidl.h"
#include "unknwn.h"

// {2933BF90-7B36-11D2-B20E-00C04F983E60}
DEFINE_GUID(CLSID_DOMDocument, 0x2933bf90, 0x7b36, 0x11d2, 0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60);
// {2933BF80-7B36-11D2-B20E-00C04F983E60}
DEFINE_GUID(IID_IXMLDOMNode, 0x2933bf80, 0x7b36, 0x11d2, 0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60);
// {2933BF81-7B36-11D2-B20E-00C04F983E60}
DEFINE_GUID(IID_IXMLDOMDocument, 0x2933bf81, 0x7b36, 0x11d2, 0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60);
// {2933BF84-7B36-11D2-B20E-00C04F983E60}
DEFINE_GUID(IID_IXMLDOMCharacterData, 0x2933bf84, 0x7b36, 0x11d2, 0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60);
// {2933BF86-7B36-11D2-B20E-00C04F983E60}
DEFINE_GUID(IID_IXMLDOMElement, 0x2933bf86, 0x7b36, 0x11d2, 0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60);
// {2933BF87-7B36-11D2-B20E-00C04F983E60}
DEFINE_GUID(IID_IXMLDOMText, 0x2933bf87, 0x7b36, 0x11d2, 0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60);

enum DOMNodeType {
    NODE_INVALID = 0,
    NODE_ELEMENT = 1,
    NODE_ATTRIBUTE = 2,
    NODE_TEXT = 3,
    NODE_CDATA_SECTION = 4,
    NODE_ENTITY_REFERENCE = 5,
    NODE_ENTITY = 6,
    NODE_PROCESSING_INSTRUCTION = 7,
    NODE_COMMENT = 8,
    NODE_DOCUMENT = 9,
    NODE_DOCUMENT_TYPE = 10,
    NODE_DOCUMENT_FRAGMENT = 11,
    NODE_NOTATION = 12
};

struct IXMLDOMNodeList;
struct IXMLDOMNamedNodeMap;
struct IXMLDOMDocument;
struct IXMLDOMDocumentType;
struct IXMLDOMImplementation;
struct IXMLDOMElement;
struct IXMLDOMDocumentFragment;
struct IXMLDOMText;
struct IXMLDOMComment;
struct IXMLDOMCDATASection;
struct IXMLDOMProcessingInstruction;
struct IXMLDOMAttribute;
struct IXMLDOMEntityReference;
struct IXMLDOMParseError;

struct IXMLDOMNode : IDispatch {
    STDMETHOD(get_nodeName)(BSTR* name) = 0;
    STDMETHOD(get_nodeValue)(VARIANT* value) = 0;
    STDMETHOD(put_nodeValue)(VARIANT value) = 0;
    STDMETHOD(get_nodeType)(DOMNodeType* type) = 0;
    STDMETHOD(get_parentNode)(IXMLDOMNode** parent) = 0;
    STDMETHOD(get_childNodes)(IXMLDOMNodeList** children) = 0;
    STDMETHOD(get_firstChild)(IXMLDOMNode** child) = 0;
    STDMETHOD(get_lastChild)(IXMLDOMNode** child) = 0;
    STDMETHOD(get_previousSibling)(IXMLDOMNode** sibling) = 0;
    STDMETHOD(get_nextSibling)(IXMLDOMNode** sibling) = 0;
    STDMETHOD(get_attributes)(IXMLDOMNamedNodeMap** attributes) = 0;
    STDMETHOD(insertBefore)(IXMLDOMNode* newChild, VARIANT refChild, IXMLDOMNode** inserted) = 0;
    STDMETHOD(replaceChild)(IXMLDOMNode* newChild, IXMLDOMNode* oldChild, IXMLDOMNode** replaced) = 0;
    STDMETHOD(removeChild)(IXMLDOMNode* child, IXMLDOMNode** removed) = 0;
    // Adds newChild as the last child (a child that already has a parent moves). E_INVALIDARG for a node of
    // another document or implementation, E_FAIL for a child this node cannot hold.
    STDMETHOD(appendChild)(IXMLDOMNode* newChild, IXMLDOMNode** appended) = 0;
    STDMETHOD(hasChildNodes)(VARIANT_BOOL* has) = 0;
    STDMETHOD(get_ownerDocument)(IXMLDOMDocument** document) = 0;
    STDMETHOD(cloneNode)(VARIANT_BOOL deep, IXMLDOMNode** clone) = 0;
    STDMETHOD(get_nodeTypeString)(BSTR* type) = 0;
    STDMETHOD(get_text)(BSTR* text) = 0;
    STDMETHOD(put_text)(BSTR text) = 0;
    STDMETHOD(get_specified)(VARIANT_BOOL* specified) = 0;
    STDMETHOD(get_definition)(IXMLDOMNode** definition) = 0;
    STDMETHOD(get_nodeTypedValue)(VARIANT* value) = 0;
    STDMETHOD(put_nodeTypedValue)(VARIANT value) = 0;
    STDMETHOD(get_dataType)(VARIANT* type) = 0;
    STDMETHOD(put_dataType)(BSTR type) = 0;
    // The node's markup.
    STDMETHOD(get_xml)(BSTR* xml) = 0;
    STDMETHOD(transformNode)(IXMLDOMNode* stylesheet, BSTR* result) = 0;
    STDMETHOD(selectNodes)(BSTR query, IXMLDOMNodeList** nodes) = 0;
    STDMETHOD(selectSingleNode)(BSTR query, IXMLDOMNode** node) = 0;
    STDMETHOD(get_parsed)(VARIANT_BOOL* parsed) = 0;
    STDMETHOD(get_namespaceURI)(BSTR* uri) = 0;
    STDMETHOD(get_prefix)(BSTR* prefix) = 0;
    STDMETHOD(get_baseName)(BSTR* name) = 0;
    STDMETHOD(transformNodeToObject)(IXMLDOMNode* stylesheet, VARIANT output) = 0;

protected:
    ~IXMLDOMNode() = default;
};

struct IXMLDOMDocument : IXMLDOMNode {
    STDMETHOD(get_doctype)(IXMLDOMDocumentType** type) = 0;
    STDMETHOD(get_implementation)(IXMLDOMImplementation** implementation) = 0;
    // The root element; S_FALSE and null when there is none.
    STDMETHOD(get_documentElement)(IXMLDOMElement** element) = 0;
    STDMETHOD(putref_documentElement)(IXMLDOMElement* element) = 0;
    // A new element without a parent. E_FAIL for a name XML does not allow.
    STDMETHOD(createElement)(BSTR tagName, IXMLDOMElement** element) = 0;
    STDMETHOD(createDocumentFragment)(IXMLDOMDocumentFragment** fragment) = 0;
    // A new text node without a parent. E_INVALIDARG for characters XML cannot carry.
    STDMETHOD(createTextNode)(BSTR data, IXMLDOMText** text) = 0;
    STDMETHOD(createComment)(BSTR data, IXMLDOMComment** comment) = 0;
    STDMETHOD(createCDATASection)(BSTR data, IXMLDOMCDATASection** section) = 0;
    STDMETHOD(createProcessingInstruction)(BSTR target, BSTR data, IXMLDOMProcessingInstruction** instruction) = 0;
    STDMETHOD(createAttribute)(BSTR name, IXMLDOMAttribute** attribute) = 0;
    STDMETHOD(createEntityReference)(BSTR name, IXMLDOMEntityReference** reference) = 0;
    STDMETHOD(getElementsByTagName)(BSTR tagName, IXMLDOMNodeList** elements) = 0;
    STDMETHOD(createNode)(VARIANT type, BSTR name, BSTR namespaceURI, IXMLDOMNode** node) = 0;
    STDMETHOD(nodeFromID)(BSTR id, IXMLDOMNode** node) = 0;
    STDMETHOD(load)(VARIANT source, VARIANT_BOOL* loaded) = 0;
    STDMETHOD(get_readyState)(LONG* state) = 0;
    STDMETHOD(get_parseError)(IXMLDOMParseError** error) = 0;
    STDMETHOD(get_url)(BSTR* url) = 0;
    STDMETHOD(get_async)(VARIANT_BOOL* async) = 0;
    STDMETHOD(put_async)(VARIANT_BOOL async) = 0;
    STDMETHOD(abort)() = 0;
    STDMETHOD(loadXML)(BSTR xml, VARIANT_BOOL* loaded) = 0;
    // Writes the document to the file a VT_BSTR path names (created or replaced), UTF-8 with an XML
    // declaration. The file layer's error as an HRESULT when the file cannot be written; E_FAIL for a
    // document without a root element.
    STDMETHOD(save)(VARIANT destination) = 0;
    STDMETHOD(get_validateOnParse)(VARIANT_BOOL* validate) = 0;
    STDMETHOD(put_validateOnParse)(VARIANT_BOOL validate) = 0;
    STDMETHOD(get_resolveExternals)(VARIANT_BOOL* resolve) = 0;
    STDMETHOD(put_resolveExternals)(VARIANT_BOOL resolve) = 0;
    STDMETHOD(get_preserveWhiteSpace)(VARIANT_BOOL* preserve) = 0;
    STDMETHOD(put_preserveWhiteSpace)(VARIANT_BOOL preserve) = 0;
    STDMETHOD(put_onreadystatechange)(VARIANT handler) = 0;
    STDMETHOD(put_ondataavailable)(VARIANT handler) = 0;
    STDMETHOD(put_ontransformnode)(VARIANT handler) = 0;

protected:
    ~IXMLDOMDocument() = default;
};

struct IXMLDOMElement : IXMLDOMNode {
    STDMETHOD(get_tagName)(BSTR* name) = 0;
    // The attribute's text as VT_BSTR; S_FALSE and VT_NULL when the element has no such attribute.
    STDMETHOD(getAttribute)(BSTR name, VARIANT* value) = 0;
    // Sets (or replaces) an attribute; the value is turned into text as VariantChangeType does. E_FAIL for a
    // name XML does not allow, E_INVALIDARG for characters XML cannot carry.
    STDMETHOD(setAttribute)(BSTR name, VARIANT value) = 0;
    STDMETHOD(removeAttribute)(BSTR name) = 0;
    STDMETHOD(getAttributeNode)(BSTR name, IXMLDOMAttribute** attribute) = 0;
    STDMETHOD(setAttributeNode)(IXMLDOMAttribute* attribute, IXMLDOMAttribute** replaced) = 0;
    STDMETHOD(removeAttributeNode)(IXMLDOMAttribute* attribute, IXMLDOMAttribute** removed) = 0;
    STDMETHOD(getElementsByTagName)(BSTR tagName, IXMLDOMNodeList** elements) = 0;
    STDMETHOD(normalize)() = 0;

protected:
    ~IXMLDOMElement() = default;
};

struct IXMLDOMCharacterData : IXMLDOMNode {
    STDMETHOD(get_data)(BSTR* data) = 0;
    STDMETHOD(put_data)(BSTR data) = 0;
    STDMETHOD(get_length)(LONG* length) = 0;
    STDMETHOD(substringData)(LONG offset, LONG count, BSTR* data) = 0;
    STDMETHOD(appendData)(BSTR data) = 0;
    STDMETHOD(insertData)(LONG offset, BSTR data) = 0;
    STDMETHOD(deleteData)(LONG offset, LONG count) = 0;
    STDMETHOD(replaceData)(LONG offset, LONG count, BSTR data) = 0;

protected:
    ~IXMLDOMCharacterData() = default;
};

struct IXMLDOMText : IXMLDOMCharacterData {
    STDMETHOD(splitText)(LONG offset, IXMLDOMText** rest) = 0;

protected:
    ~IXMLDOMText() = default;
};
