// The MOF compiler: compiles MOF text, and the files it includes, into a repository as one transaction.
//
// Supported: #pragma include / namespace / autorecover / classflags / instanceflags / deleteclass / locale,
// qualifier lists with flavors (ToInstance, ToSubclass, Restricted, DisableOverride, EnableOverride,
// Amended), class declarations (superclass, array sizes, defaults, references, embedded objects, methods
// with in/out parameters), `instance of` with aliases and references to them, nested instances, string
// concatenation and escapes (\b \t \n \f \r \" \' \\ \x and \X with 1 to 4 hexadecimal digits), comments,
// integers in decimal, octal (017), hexadecimal (0xF) and binary (1111b) with either sign, reals (also
// subnormal ones), char16 literals, DMTF datetime and interval strings, booleans, NULL. Every literal is
// checked against the limits of the type it is assigned to. Qualifier declarations ("qualifier X : ...;")
// are accepted and not stored.
//
// #pragma include ("name"): the named file's statements are compiled where the pragma stands; a relative
// name is found beside the including file (see src/mof_sources.h). Namespaces in #pragma namespace:
// "\\.\root\x", "//./root/x", "\root\x", "root\x" and "root/x" are absolute (a server other than ".",
// "localhost" or this machine is refused); anything else is relative to the current namespace. A compile
// starts in options.defaultNamespace ("root\default", as WMI's compiler does). Aliases must be defined
// before they are used.
//
// A compile reads, parses and checks everything (building every class and instance over a staged view of
// the repository) without holding the repository's write lock, and takes it only to store the result in one
// short transaction (nested in the caller's Repository::Transaction when there is one). On any error, in
// any file, nothing of the compile is stored.
#pragma once

#include "qv_wbem_repository.h"

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace qv::wbem {

struct MofOptions {
    std::wstring defaultNamespace = L"root\\default";
    bool allowSystemClasses = false;  // classes named __X (the repository's own system classes)
    // Reads a file of the compile (the first one of CompileMofFile and every included one): false with a
    // reason when it cannot. Empty: the host file system (regular files and pipes up to 64 MB).
    std::function<bool(const std::filesystem::path& file, std::string* bytes, std::string* reason)> readFile;
};

struct MofResult {
    bool ok = false;
    std::string file;  // the file the error is in (the including file for a failed include)
    int line = 0;      // where the error is (1-based); 0 when it concerns the whole file
    std::string reason;
    HRESULT code = S_OK;
    std::vector<std::wstring> stored;  // "class X in root\y", "instance of X (path) in root\y", ...
};

// Compiles `text`, shown in messages as `fileName`; relative includes are looked up in the folder of
// `fileName` taken as a host path. On any error nothing of it stays in the repository.
MofResult CompileMofText(const std::wstring& text, const std::string& fileName, Repository& repository,
                         const MofOptions& options = {});
// Reads a file (UTF-8, with or without BOM, or UTF-16LE with BOM) and compiles it; messages show it as
// `name` (default: the path).
MofResult CompileMofFile(const std::filesystem::path& file, Repository& repository, const MofOptions& options = {},
                         const std::string& name = {});

// "file(line): error 0x80041002: reason".
std::string FormatMofError(const MofResult& result);

// MOF file bytes to text: UTF-16LE with BOM, UTF-8 (BOM optional); invalid UTF-8 bytes read as Windows-1252.
std::wstring DecodeMofBytes(const std::string& bytes);

}  // namespace qv::wbem
