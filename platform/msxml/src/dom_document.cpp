// The document: the node factory for its tree, and saving it to a file.
#include "dom_document.h"

#include "dom_node.h"
#include "dom_strings.h"

#include "fileapi.h"
#include "handleapi.h"
#include "oleauto.h"
#include "windows.h"

#include <libxml/parser.h>

#include <new>
#include <vector>

namespace qv::msxml {
namespace {

class DocumentObject final : public Node<IXMLDOMDocument> {
public:
    explicit DocumentObject(xmlDocPtr doc) : Node(nullptr, reinterpret_cast<xmlNodePtr>(doc)), doc_(doc) {}

    STDMETHODIMP get_doctype(IXMLDOMDocumentType**) override { return E_NOTIMPL; }
    STDMETHODIMP get_implementation(IXMLDOMImplementation**) override { return E_NOTIMPL; }

    STDMETHODIMP get_documentElement(IXMLDOMElement** element) override {
        if (element == nullptr) return E_POINTER;
        *element = nullptr;
        xmlNodePtr root = xmlDocGetRootElement(doc_);
        if (root == nullptr) return S_FALSE;
        *element = NewElementObject(this, root);
        return *element != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    STDMETHODIMP putref_documentElement(IXMLDOMElement*) override { return E_NOTIMPL; }

    STDMETHODIMP createElement(BSTR tagName, IXMLDOMElement** element) override {
        if (element == nullptr) return E_POINTER;
        *element = nullptr;
        std::string name;
        if (!ToXmlText(tagName, &name) || !IsXmlName(name)) return E_FAIL;
        xmlNodePtr node = Track(xmlNewDocNode(doc_, nullptr, reinterpret_cast<const xmlChar*>(name.c_str()), nullptr));
        if (node == nullptr) return E_OUTOFMEMORY;
        *element = NewElementObject(this, node);
        return *element != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    STDMETHODIMP createDocumentFragment(IXMLDOMDocumentFragment**) override { return E_NOTIMPL; }

    STDMETHODIMP createTextNode(BSTR data, IXMLDOMText** text) override {
        if (text == nullptr) return E_POINTER;
        *text = nullptr;
        std::string content;
        if (!ToXmlText(data, &content)) return E_INVALIDARG;
        xmlNodePtr node = Track(xmlNewDocText(doc_, reinterpret_cast<const xmlChar*>(content.c_str())));
        if (node == nullptr) return E_OUTOFMEMORY;
        *text = NewTextObject(this, node);
        return *text != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    STDMETHODIMP createComment(BSTR, IXMLDOMComment**) override { return E_NOTIMPL; }
    STDMETHODIMP createCDATASection(BSTR, IXMLDOMCDATASection**) override { return E_NOTIMPL; }
    STDMETHODIMP createProcessingInstruction(BSTR, BSTR, IXMLDOMProcessingInstruction**) override { return E_NOTIMPL; }
    STDMETHODIMP createAttribute(BSTR, IXMLDOMAttribute**) override { return E_NOTIMPL; }
    STDMETHODIMP createEntityReference(BSTR, IXMLDOMEntityReference**) override { return E_NOTIMPL; }
    STDMETHODIMP getElementsByTagName(BSTR, IXMLDOMNodeList**) override { return E_NOTIMPL; }
    STDMETHODIMP createNode(VARIANT, BSTR, BSTR, IXMLDOMNode**) override { return E_NOTIMPL; }
    STDMETHODIMP nodeFromID(BSTR, IXMLDOMNode**) override { return E_NOTIMPL; }
    STDMETHODIMP load(VARIANT, VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP get_readyState(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP get_parseError(IXMLDOMParseError**) override { return E_NOTIMPL; }
    STDMETHODIMP get_url(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_async(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP put_async(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP abort() override { return E_NOTIMPL; }
    STDMETHODIMP loadXML(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }

    STDMETHODIMP save(VARIANT destination) override {
        if (destination.vt != VT_BSTR || destination.bstrVal == nullptr || SysStringLen(destination.bstrVal) == 0)
            return E_INVALIDARG;
        if (xmlDocGetRootElement(doc_) == nullptr) return E_FAIL;
        xmlChar* bytes = nullptr;
        int size = 0;
        xmlDocDumpFormatMemoryEnc(doc_, &bytes, &size, "UTF-8", 1);
        if (bytes == nullptr) return E_OUTOFMEMORY;
        HRESULT hr = WriteWholeFile(destination.bstrVal, bytes, static_cast<DWORD>(size));
        xmlFree(bytes);
        return hr;
    }

    STDMETHODIMP get_validateOnParse(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP put_validateOnParse(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP get_resolveExternals(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP put_resolveExternals(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP get_preserveWhiteSpace(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP put_preserveWhiteSpace(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP put_onreadystatechange(VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP put_ondataavailable(VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP put_ontransformnode(VARIANT) override { return E_NOTIMPL; }

private:
    // Every node object has released its reference on the document by now: nodes never appended (and what
    // was appended to them) are freed, then the tree.
    ~DocumentObject() override {
        std::vector<xmlNodePtr> detached;
        for (xmlNodePtr node : created_)
            if (node->parent == nullptr) detached.push_back(node);
        for (xmlNodePtr node : detached) xmlFreeNode(node);
        xmlFreeDoc(doc_);
    }

    xmlNodePtr Track(xmlNodePtr node) {
        if (node == nullptr) return nullptr;
        try {
            created_.push_back(node);
        } catch (const std::bad_alloc&) {
            xmlFreeNode(node);
            return nullptr;
        }
        return node;
    }

    static HRESULT WriteWholeFile(BSTR path, const xmlChar* bytes, DWORD size) {
        HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return HRESULT_FROM_WIN32(GetLastError());
        HRESULT hr = S_OK;
        for (DWORD done = 0; done < size && SUCCEEDED(hr);) {
            DWORD written = 0;
            if (!WriteFile(file, bytes + done, size - done, &written, nullptr) || written == 0)
                hr = HRESULT_FROM_WIN32(GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_WRITE_FAULT);
            done += written;
        }
        if (!CloseHandle(file) && SUCCEEDED(hr)) hr = HRESULT_FROM_WIN32(GetLastError());
        return hr;
    }

    xmlDocPtr doc_;
    std::vector<xmlNodePtr> created_;  // every node this document made, appended or not
};

}  // namespace

IXMLDOMDocument* NewDocumentObject() {
    xmlInitParser();
    xmlDocPtr doc = xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0"));
    if (doc == nullptr) return nullptr;
    auto* object = new (std::nothrow) DocumentObject(doc);
    if (object == nullptr) xmlFreeDoc(doc);
    return object;
}

}  // namespace qv::msxml
