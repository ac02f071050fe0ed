// Registry scripts in the ATL registrar syntax: parsing into a tree, and applying it in register or removal
// mode (see statreg.h for the language).
#pragma once

#include "windef.h"

#include <map>
#include <string>
#include <vector>

namespace qv::com {

// Replacement names are compared without regard to case.
struct NoCaseLess {
    bool operator()(const std::wstring& a, const std::wstring& b) const;
};
using Replacements = std::map<std::wstring, std::wstring, NoCaseLess>;

// Parses `script` after replacing %NAME% and applies it. A syntax error or unknown replacement changes
// nothing and returns DISP_E_EXCEPTION; a registry failure returns its HRESULT.
HRESULT ApplyRegistryScript(const std::wstring& script, const Replacements& replacements, bool registering);

// Script text from a resource or file: UTF-16LE with a byte-order mark, else the ANSI code page.
std::wstring DecodeScriptText(const std::string& bytes);

}  // namespace qv::com
