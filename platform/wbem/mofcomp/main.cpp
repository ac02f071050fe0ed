// mofcomp FILE: compiles a MOF file into the repository of the current system root (QV_SYSTEM_ROOT).
// Exit code 0 when everything was stored; 1 for a usage error; 2 when the file was refused (nothing stored,
// the error names file, line and reason on standard error); 3 when the repository cannot be opened; 4 when the
// user is not an administrator (qv_wbem_administrators.h), before anything is read or opened.
#include "qv_mof_compiler.h"
#include "qv_system_root.h"
#include "qv_wbem_administrators.h"
#include "wbemcli.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc != 2 || std::strcmp(argv[1], "-?") == 0 || std::strcmp(argv[1], "/?") == 0) {
        std::fprintf(stderr, "usage: mofcomp FILE\n");
        return 1;
    }
    if (!qv::wbem::CallerIsAdministrator()) {
        std::fprintf(stderr,
                     "mofcomp: WBEM_E_ACCESS_DENIED (0x%08X): only root and the group %s change the repository\n",
                     static_cast<unsigned>(WBEM_E_ACCESS_DENIED), qv::wbem::kAdministratorsGroup);
        return 4;
    }
    std::printf("Parsing MOF file: %s\n", argv[1]);
    HRESULT hr = S_OK;
    auto repository = qv::wbem::Repository::OpenDefault(&hr);
    if (!repository) {
        std::fprintf(stderr, "mofcomp: cannot open the repository (0x%08X)\n", static_cast<unsigned>(hr));
        return 3;
    }
    qv::wbem::MofResult result = qv::wbem::CompileMofFile(qv::win::HostPath(std::string(argv[1])), *repository, {},
                                                          argv[1]);
    if (!result.ok) {
        std::fprintf(stderr, "%s\nNothing was stored.\n", qv::wbem::FormatMofError(result).c_str());
        return 2;
    }
    for (const std::wstring& line : result.stored) std::printf("Stored %s\n", qv::win::ToUtf8(line).c_str());
    std::printf("Done!\n");
    return 0;
}
