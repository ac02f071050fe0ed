// Writes a parsed object path back as canonical text: "\\server\ns\...:" when it has a server, the class,
// then "=@", "=value" or "." and the keys sorted by name without regard to case (equal names keep their
// order), strings in double quotes with "\" and '"' escaped by a backslash, numbers in signed decimal.
// Parsing the text (WMIObjectPathParser) gives back an equal WMIParsedObjectPath.
#pragma once

#include "WMIObjectPath.h"

#include <string>

// Returns false, leaving `text` unchanged, when no text parses back to `path`: a server without
// namespaces, namespaces without a server, an empty server or one holding "\", "/" or NUL; a name that
// the lexer would not read as one identifier; keys or "=@" without a class; "=@" with keys; an unnamed key
// beside other keys; a value other than VT_I4 or VT_BSTR, or a BSTR holding NUL; nothing at all to write.
// Throws std::bad_alloc when memory runs out.
bool FormatObjectPath(const WMIParsedObjectPath& path, std::wstring& text);
