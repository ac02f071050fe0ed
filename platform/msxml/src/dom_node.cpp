#include "dom_node.h"

#include "dom_strings.h"

#include <libxml/xmlsave.h>

namespace qv::msxml {
namespace {

// The node object's NodeCore, or null when `object` is not one of the DOM's own nodes.
NodeCore* CoreOf(IXMLDOMNode* object) {
    void* core = nullptr;
    if (object == nullptr || FAILED(object->QueryInterface(IID_QvDomNodeCore, &core)) || core == nullptr)
        return nullptr;
    object->Release();  // the caller's reference keeps the object
    return static_cast<NodeCore*>(core);
}

bool IsAncestorOrSelf(xmlNodePtr candidate, xmlNodePtr node) {
    for (xmlNodePtr n = node; n != nullptr; n = n->parent)
        if (n == candidate) return true;
    return false;
}

bool CanHold(xmlNodePtr parent, xmlNodePtr child) {
    if (child->type != XML_ELEMENT_NODE && child->type != XML_TEXT_NODE) return false;
    switch (parent->type) {
    case XML_ELEMENT_NODE: return true;
    case XML_DOCUMENT_NODE:
        return child->type == XML_ELEMENT_NODE && xmlDocGetRootElement(reinterpret_cast<xmlDocPtr>(parent)) == nullptr;
    default: return false;
    }
}

// Links `child` as the last child of `parent`. Done by hand: libxml2's own xmlAddChild merges a text node
// into a text node before it and frees it, which would pull the node from under its node object.
void LinkLast(xmlNodePtr parent, xmlNodePtr child) {
    xmlUnlinkNode(child);
    child->parent = parent;
    child->prev = parent->last;
    child->next = nullptr;
    if (parent->last != nullptr)
        parent->last->next = child;
    else
        parent->children = child;
    parent->last = child;
}

}  // namespace

NodeCore::NodeCore(IUnknown* owner, xmlNodePtr node) : owner_(owner), node_(node) {
    if (owner_ != nullptr) owner_->AddRef();
}

NodeCore::~NodeCore() {
    if (owner_ != nullptr) owner_->Release();
}

HRESULT NodeCore::NodeName(BSTR* name) const {
    if (name == nullptr) return E_POINTER;
    switch (node_->type) {
    case XML_ELEMENT_NODE: *name = ToBstr(node_->name); break;
    case XML_TEXT_NODE: *name = ToBstr(std::string("#text")); break;
    default: *name = ToBstr(std::string("#document")); break;
    }
    return *name != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT NodeCore::NodeType(DOMNodeType* type) const {
    if (type == nullptr) return E_POINTER;
    switch (node_->type) {
    case XML_ELEMENT_NODE: *type = NODE_ELEMENT; break;
    case XML_TEXT_NODE: *type = NODE_TEXT; break;
    default: *type = NODE_DOCUMENT; break;
    }
    return S_OK;
}

HRESULT NodeCore::AppendChild(IXMLDOMNode* child, IXMLDOMNode** appended) {
    if (appended != nullptr) *appended = nullptr;
    NodeCore* core = CoreOf(child);
    if (core == nullptr || core->node_->doc != node_->doc) return E_INVALIDARG;
    xmlNodePtr node = core->node_;
    if (!CanHold(node_, node) || IsAncestorOrSelf(node, node_)) return E_FAIL;
    LinkLast(node_, node);
    if (appended != nullptr) {
        child->AddRef();
        *appended = child;
    }
    return S_OK;
}

HRESULT NodeCore::HasChildNodes(VARIANT_BOOL* has) const {
    if (has == nullptr) return E_POINTER;
    *has = node_->children != nullptr ? VARIANT_TRUE : VARIANT_FALSE;
    return *has == VARIANT_TRUE ? S_OK : S_FALSE;
}

HRESULT NodeCore::Text(BSTR* text) const {
    if (text == nullptr) return E_POINTER;
    xmlChar* content = xmlNodeGetContent(node_);
    *text = ToBstr(content);
    xmlFree(content);
    return *text != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT NodeCore::Markup(BSTR* xml) const {
    if (xml == nullptr) return E_POINTER;
    *xml = nullptr;
    xmlBufferPtr buffer = xmlBufferCreate();
    if (buffer == nullptr) return E_OUTOFMEMORY;
    xmlSaveCtxtPtr save = xmlSaveToBuffer(buffer, "UTF-8", XML_SAVE_NO_DECL);
    bool saved = save != nullptr && xmlSaveTree(save, node_) >= 0;
    if (save != nullptr) xmlSaveClose(save);
    if (saved) *xml = ToBstr(xmlBufferContent(buffer));
    xmlBufferFree(buffer);
    if (!saved) return E_FAIL;
    return *xml != nullptr ? S_OK : E_OUTOFMEMORY;
}

}  // namespace qv::msxml
