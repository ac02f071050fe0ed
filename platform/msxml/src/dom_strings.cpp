#include "dom_strings.h"

#include "oleauto.h"
#include "qv_system_root.h"

#include <libxml/parser.h>

namespace qv::msxml {
namespace {

bool IsXmlCharacter(char32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0x10FFFF);
}

}  // namespace

bool ToXmlText(BSTR text, std::string* utf8) {
    std::wstring wide = text != nullptr ? std::wstring(text, SysStringLen(text)) : std::wstring();
    for (wchar_t c : wide)
        if (!IsXmlCharacter(static_cast<char32_t>(c))) return false;
    *utf8 = qv::win::ToUtf8(wide);
    return true;
}

bool IsXmlName(const std::string& utf8) {
    return !utf8.empty() && xmlValidateName(reinterpret_cast<const xmlChar*>(utf8.c_str()), 0) == 0;
}

BSTR ToBstr(const std::string& utf8) {
    std::wstring wide = qv::win::FromUtf8(utf8);
    return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

BSTR ToBstr(const xmlChar* utf8) {
    return ToBstr(utf8 != nullptr ? std::string(reinterpret_cast<const char*>(utf8)) : std::string());
}

}  // namespace qv::msxml
