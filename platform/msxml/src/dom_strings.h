// Text crossing between the DOM's wide BSTRs and libxml2's UTF-8.
#pragma once

#include "wtypes.h"

#include <libxml/tree.h>

#include <string>

namespace qv::msxml {

// The UTF-8 form of `text` (null is the empty text). False when it holds a character XML 1.0 cannot carry
// (most control characters, lone surrogates, U+FFFE and U+FFFF): such a text could not be saved.
bool ToXmlText(BSTR text, std::string* utf8);
// A name XML allows for an element or an attribute (no namespace handling).
bool IsXmlName(const std::string& utf8);
// A new BSTR holding `utf8` (null: the empty text); null only when memory runs out.
BSTR ToBstr(const xmlChar* utf8);
BSTR ToBstr(const std::string& utf8);

}  // namespace qv::msxml
