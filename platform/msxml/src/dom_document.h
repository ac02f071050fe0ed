// The document object behind CLSID_DOMDocument.
#pragma once

#include "msxml.h"

namespace qv::msxml {

// A new, empty document (reference count 1); null when memory runs out.
IXMLDOMDocument* NewDocumentObject();

}  // namespace qv::msxml
