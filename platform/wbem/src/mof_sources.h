// The files of one compile: the first file and every file it includes with #pragma include("name"), parsed
// into one list of statements in text order. An included file's statements stand where its pragma stood,
// as if its text were written there: a namespace or flags pragma in it holds after it too.
//
// A relative name is looked up beside the file that includes it (never in the current folder, unless the
// including file is there); an absolute one is a Windows path ("C:\schema\x.mof", mapped into the system
// root) or a host path. Includes nest up to kMaxIncludeDepth deep. An include cycle, a name that cannot be
// read and a malformed include pragma are errors of the including file at the pragma's line; a syntax error
// inside an included file is an error of that file. So is an include past kMaxIncludedFiles or past
// kMaxCompileBytes in all.
#pragma once

#include "mof_parser.h"

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace qv::wbem::mof {

constexpr int kMaxIncludeDepth = 32;
constexpr size_t kMaxMofFileBytes = 64u << 20;
// What one compile reads altogether, counting a file each time it is included: a file may be included
// again and again (without a cycle), so nested repeats could otherwise multiply a few small files into
// more text than fits in memory.
constexpr size_t kMaxCompileBytes = 64u << 20;
constexpr size_t kMaxIncludedFiles = 10000;

// Reads a whole file; false with *reason when it cannot.
using FileReader = std::function<bool(const std::filesystem::path& file, std::string* bytes, std::string* reason)>;

// Reads a host file of at most kMaxMofFileBytes (pipes and other readable non-folders included).
bool ReadHostFile(const std::filesystem::path& file, std::string* bytes, std::string* reason);

struct SourceFile {
    std::string name;            // as messages show it
    std::filesystem::path path;  // where it lies; includes are looked up beside it
};

struct SourceError {
    int file = 0;  // index into Files()
    int line = 0;
    HRESULT code = S_OK;
    std::string reason;
};

class Sources {
public:
    explicit Sources(FileReader read) : read_(std::move(read)) {}

    // Parses `text` (the first file, shown as `name`, lying at `path`) and everything it includes.
    bool Load(const std::wstring& text, const std::string& name, const std::filesystem::path& path,
              std::vector<Statement>* statements, SourceError* error);
    // Every file read, the first file at index 0; Statement::file indexes it.
    const std::vector<SourceFile>& Files() const { return files_; }

private:
    bool Add(const std::wstring& text, int file, std::vector<Statement>* out, SourceError* error);
    bool Include(const Statement& pragma, std::vector<Statement>* out, SourceError* error);

    FileReader read_;
    std::vector<SourceFile> files_;
    std::vector<std::filesystem::path> open_;  // identities of the files being read, outermost first
    size_t bytes_ = 0;                         // read so far, the first file included
};

}  // namespace qv::wbem::mof
