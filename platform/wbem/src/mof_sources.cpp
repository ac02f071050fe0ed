// Reading the files of one compile and expanding #pragma include.
#include "mof_sources.h"

#include "qv_mof_compiler.h"
#include "qv_system_root.h"

#include <algorithm>
#include <fstream>

namespace qv::wbem::mof {

namespace fs = std::filesystem;

namespace {

// What identifies a file whatever path reached it: its absolute path with links resolved.
fs::path Identity(const fs::path& file) {
    std::error_code ec;
    fs::path absolute = fs::absolute(file, ec);
    if (ec) return file.lexically_normal();
    fs::path canonical = fs::weakly_canonical(absolute, ec);
    return ec ? absolute.lexically_normal() : canonical;
}

}  // namespace

bool ReadHostFile(const fs::path& file, std::string* bytes, std::string* reason) {
    std::error_code ec;
    if (fs::is_directory(file, ec)) {
        *reason = "it is a folder";
        return false;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        *reason = "cannot open the file";
        return false;
    }
    bytes->clear();
    char chunk[65536];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
        if (bytes->size() + static_cast<size_t>(in.gcount()) > kMaxMofFileBytes) {
            *reason = "the file is larger than " + std::to_string(kMaxMofFileBytes >> 20) + " MB";
            return false;
        }
        bytes->append(chunk, static_cast<size_t>(in.gcount()));
    }
    if (in.bad()) {
        *reason = "cannot read the file";
        return false;
    }
    return true;
}

bool Sources::Load(const std::wstring& text, const std::string& name, const fs::path& path,
                   std::vector<Statement>* statements, SourceError* error) {
    files_.assign(1, SourceFile{name, path});
    open_.assign(1, Identity(path));
    bytes_ = text.size();
    statements->clear();
    return Add(text, 0, statements, error);
}

bool Sources::Add(const std::wstring& text, int file, std::vector<Statement>* out, SourceError* error) {
    std::vector<Statement> statements;
    ParseError parseError;
    if (!Parse(text, &statements, &parseError)) {
        *error = {file, parseError.line, WBEM_E_INVALID_SYNTAX, parseError.reason};
        return false;
    }
    for (Statement& s : statements) {
        s.file = file;
        if (s.kind == Statement::Kind::Pragma && s.pragma.name == L"include") {
            if (!Include(s, out, error)) return false;
            continue;
        }
        out->push_back(std::move(s));
    }
    return true;
}

bool Sources::Include(const Statement& s, std::vector<Statement>* out, SourceError* error) {
    auto fail = [&](HRESULT code, const std::string& reason) {
        *error = {s.file, s.line, code, reason};
        return false;
    };
    const std::vector<Value>& args = s.pragma.arguments;
    if (args.size() != 1 || args[0].text.empty())
        return fail(WBEM_E_INVALID_SYNTAX, "#pragma include needs one file name (#pragma include (\"file.mof\"))");
    const std::wstring& name = args[0].text;
    std::string shown = qv::win::ToUtf8(name);
    fs::path target = qv::win::HostPath(name);
    if (target.is_relative()) target = (files_[static_cast<size_t>(s.file)].path.parent_path() / target);
    target = target.lexically_normal();
    if (static_cast<int>(open_.size()) > kMaxIncludeDepth)
        return fail(WBEM_E_INVALID_OPERATION,
                    "includes nested more than " + std::to_string(kMaxIncludeDepth) + " deep at '" + shown + "'");
    fs::path identity = Identity(target);
    if (std::find(open_.begin(), open_.end(), identity) != open_.end()) {
        std::string chain;
        for (const fs::path& p : open_) chain += p.filename().string() + " -> ";
        return fail(WBEM_E_INVALID_OPERATION, "include cycle: " + chain + target.filename().string());
    }
    if (files_.size() > kMaxIncludedFiles)
        return fail(WBEM_E_INVALID_OPERATION,
                    "more than " + std::to_string(kMaxIncludedFiles) + " includes in one compile at '" + shown + "'");
    std::string bytes, reason;
    if (!read_(target, &bytes, &reason))
        return fail(WBEM_E_NOT_FOUND, "cannot include '" + shown + "' (" + target.string() + "): " + reason);
    bytes_ += bytes.size();
    if (bytes_ > kMaxCompileBytes)
        return fail(WBEM_E_INVALID_OPERATION, "the files of one compile hold more than " +
                                                  std::to_string(kMaxCompileBytes >> 20) + " MB at '" + shown + "'");
    int file = static_cast<int>(files_.size());
    files_.push_back({target.string(), target});
    open_.push_back(identity);
    bool ok = Add(DecodeMofBytes(bytes), file, out, error);
    open_.pop_back();
    return ok;
}

}  // namespace qv::wbem::mof
