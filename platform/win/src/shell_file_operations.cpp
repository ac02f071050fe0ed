// SHFileOperationW: deleting files and folder trees.

#include "qv_system_root.h"
#include "shellapi.h"

#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

int SHFileOperationW(LPSHFILEOPSTRUCTW operation) {
    if (operation == nullptr || operation->pFrom == nullptr) return ERROR_INVALID_PARAMETER;
    operation->fAnyOperationsAborted = FALSE;
    if (operation->wFunc != FO_DELETE) return ERROR_NOT_SUPPORTED;
    std::vector<std::wstring> paths;
    for (LPCWSTR at = operation->pFrom; *at != L'\0'; at += paths.back().size() + 1) paths.emplace_back(at);
    if (paths.empty()) return ERROR_INVALID_PARAMETER;
    std::error_code ec;
    const fs::path root = fs::weakly_canonical(qv::win::SystemRoot(), ec);
    for (const std::wstring& path : paths) {
        if (path.find_first_of(L"*?") != std::wstring::npos) return ERROR_INVALID_PARAMETER;
        fs::path host = fs::weakly_canonical(qv::win::HostPath(path), ec);
        if (ec || host.empty() || host == host.root_path() || host == root ||
            host.parent_path() == root)  // a drive's folder (drive_c) is its root
            return ERROR_INVALID_PARAMETER;
        if (!fs::exists(fs::symlink_status(host, ec))) return ERROR_FILE_NOT_FOUND;
        fs::remove_all(host, ec);
        if (ec) return ERROR_ACCESS_DENIED;
    }
    return 0;
}
