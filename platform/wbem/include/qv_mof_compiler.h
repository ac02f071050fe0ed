// The MOF compiler: compiles MOF text into a repository, one file as one transaction.
//
// Supported: #pragma namespace / autorecover / classflags / instanceflags / deleteclass / locale,
// qualifier lists with flavors (ToInstance, ToSubclass, Restricted, DisableOverride, EnableOverride,
// Amended), class declarations (superclass, array sizes, defaults, references, embedded objects, methods
// with in/out parameters), `instance of` with aliases and references to them, nested instances, string
// concatenation and escapes, comments, decimal/hexadecimal/real numbers, booleans, NULL. Qualifier
// declarations ("qualifier X : ...;") are accepted and not stored.
//
// Namespaces in #pragma namespace: "\\.\root\x" and "root\x" are absolute; anything else is relative to the
// current namespace. A file starts in options.defaultNamespace ("root\default", as WMI's compiler does).
// Aliases must be defined before they are used.
#pragma once

#include "qv_wbem_repository.h"

#include <filesystem>
#include <string>
#include <vector>

namespace qv::wbem {

struct MofOptions {
    std::wstring defaultNamespace = L"root\\default";
    bool allowSystemClasses = false;  // classes named __X (the repository's own system classes)
};

struct MofResult {
    bool ok = false;
    std::string file;
    int line = 0;  // where the error is (1-based); 0 when it concerns the whole file
    std::string reason;
    HRESULT code = S_OK;
    std::vector<std::wstring> stored;  // "class X in root\y", "instance of X (path) in root\y", ...
};

// Compiles `text`; on any error nothing of it stays in the repository.
MofResult CompileMofText(const std::wstring& text, const std::string& fileName, Repository& repository,
                         const MofOptions& options = {});
// Reads a file (UTF-8, with or without BOM, or UTF-16LE with BOM) and compiles it.
MofResult CompileMofFile(const std::filesystem::path& file, Repository& repository, const MofOptions& options = {});

// "file(line): error 0x80041002: reason".
std::string FormatMofError(const MofResult& result);

// MOF file bytes to text: UTF-16LE with BOM, UTF-8 (BOM optional); invalid UTF-8 bytes read as Windows-1252.
std::wstring DecodeMofBytes(const std::string& bytes);

}  // namespace qv::wbem
