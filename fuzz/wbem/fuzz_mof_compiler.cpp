// Compiles arbitrary bytes as a MOF file into a scratch repository. Each input runs inside a transaction
// that is rolled back, so inputs do not see each other's classes. When a file compiles, every class it
// stored is written back as MOF and compiled again: that must succeed too.
//
// Included files never come from the disk: "part.mof" (in any folder) is a small fixed schema, "again.mof"
// is the input itself (so an input that includes it includes itself through it), every other name is
// missing. An input may include itself (through folders, so no cycle forms) again and again: after 64 reads
// every include fails, so one input is never compiled more than that many times over.
#include "qv_class_object.h"
#include "qv_mof_compiler.h"
#include "qv_system_root.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

qv::wbem::Repository& Scratch() {
    static std::unique_ptr<qv::wbem::Repository> repository = [] {
        char pattern[] = "/tmp/qv-fuzz-mof-XXXXXX";
        if (!mkdtemp(pattern)) std::abort();
        static const std::string folder = pattern;
        std::atexit([] { std::filesystem::remove_all(folder); });  // the run leaves no repository behind
        auto r = qv::wbem::Repository::Open(pattern);
        if (!r) std::abort();
        return r;
    }();
    return *repository;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qv::wbem::Repository& repo = Scratch();
    qv::wbem::Repository::Transaction scope(repo);  // never committed
    if (FAILED(scope.Begin())) std::abort();
    const std::string input(reinterpret_cast<const char*>(data), size);
    qv::wbem::MofOptions fakeFiles;
    int reads = 0;
    fakeFiles.readFile = [&](const std::filesystem::path& file, std::string* bytes, std::string* reason) {
        if (++reads > 64) {
            *reason = "too many includes for the fuzz target";
            return false;
        }
        if (file.filename() == "part.mof") {
            *bytes = "class FuzzPart { [key] string K; uint8 V = 0x7F; };\ninstance of FuzzPart { K = \"p\"; };\n";
            return true;
        }
        if (file.filename() == "again.mof") {
            *bytes = input;
            return true;
        }
        *reason = "no such file";
        return false;
    };
    qv::wbem::MofResult result = qv::wbem::CompileMofText(qv::wbem::DecodeMofBytes(input), "fuzz.mof", repo, fakeFiles);
    if (!result.ok) {
        if (result.reason.empty() || result.line < 0) std::abort();
        return 0;
    }
    for (const std::wstring& ns : repo.Namespaces()) {
        std::vector<qv::wbem::CimObject> classes;
        if (FAILED(repo.EnumClasses(ns, L"", 0, &classes))) std::abort();
        for (const qv::wbem::CimObject& c : classes) {
            if (c.className.compare(0, 2, L"__") == 0) continue;
            qv::wbem::MofOptions options;
            options.defaultNamespace = ns;
            qv::wbem::MofResult again = qv::wbem::CompileMofText(qv::wbem::ObjectText(c), "again.mof", repo, options);
            if (!again.ok) {
                std::fprintf(stderr, "class text does not compile again: %s\n%s\n",
                             qv::wbem::FormatMofError(again).c_str(), qv::win::ToUtf8(qv::wbem::ObjectText(c)).c_str());
                std::abort();
            }
            qv::wbem::CimObject back;
            if (FAILED(repo.GetClass(ns, c.className, &back)) || !(back == c)) {
                std::fprintf(stderr, "class changed when compiled from its own text:\n%s\n",
                             qv::win::ToUtf8(qv::wbem::ObjectText(c)).c_str());
                std::abort();
            }
        }
    }
    return 0;
}
