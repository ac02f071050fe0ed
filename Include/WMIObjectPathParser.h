// The WMI object path parser: "[\\server\namespace\...:]Class[.Key=value,...|=value|=@]" into a
// WMIParsedObjectPath.
//
// Grammar, read token by token (WMIObjectPathLexer) after an optional "\\server" or "//server" prefix; the
// first alternative that fits is taken:
//   start       := "\" namespaces [":" reference]
//                | identifier ":" reference                      (the identifier is the first namespace)
//                | identifier "\" namespaces [":" reference]     (likewise)
//                | identifier rest                               (the identifier is the class)
//                | ":" reference
//   namespaces  := identifier {"\" identifier}
//   reference   := identifier rest
//   rest        := "=" "@" | "=" constant | "." key {"," key} | nothing
//   key         := identifier "=" constant
//   constant    := quoted string (VT_BSTR) | decimal or 0x hexadecimal integer (VT_I4) | TRUE | FALSE (VT_I4 1/0,
//                  any case)
// The end of the text must follow. A number's text (sign and "0x" included) must be shorter than 32
// characters and its value must fit 32 bits: -2147483648 to 4294967295 in decimal, up to 0xFFFFFFFF in
// hexadecimal; values above 2147483647 keep their 32-bit pattern in VT_I4, as WMI carries uint32 values.
// A path with namespaces must name its server. Two or more keys are sorted by name without regard to case;
// keys with equal names keep their order.
#pragma once

#include "WMIObjectPath.h"

#include <memory>

enum WMIPathParseResult : int {
    WMIPathParseNoError = 0,
    WMIPathParseSyntaxError = 1,
    WMIPathParseInvalidParameter = 2,  // null or empty path, or white space as its first or last character
};

class WMIObjectPathParser {
public:
    // Parses the NUL-terminated `path` (may be null). On WMIPathParseNoError `parsed` receives the result,
    // owned by the caller; on any other result `parsed` is null. White space means space, tab, line feed,
    // vertical tab, form feed and carriage return. Throws std::bad_alloc when memory runs out.
    WMIPathParseResult Parse(const wchar_t* path, std::unique_ptr<WMIParsedObjectPath>& parsed) const;
};
