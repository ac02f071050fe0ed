#include "ScopedWorkingFolder.h"

#include "WorkingFolder.h"

#include "shellapi.h"

ScopedWorkingFolder::ScopedWorkingFolder() {
    LPWSTR folder = GetWorkingFolder(L"vrxBIOS");
    if (folder == nullptr) return;
    folder_ = folder;
    delete[] folder;
    CreateDirectoryW(folder_.c_str(), nullptr);
}

ScopedWorkingFolder::~ScopedWorkingFolder() {
    if (folder_.empty()) return;
    // The shell wants the folder itself (no trailing "\") in a list ended by two NULs.
    std::wstring from = folder_;
    while (from.size() > 1 && from.back() == L'\\') from.pop_back();
    from.push_back(L'\0');
    SHFILEOPSTRUCTW operation{};
    operation.wFunc = FO_DELETE;
    operation.pFrom = from.c_str();  // c_str() adds the second NUL
    operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
    SHFileOperationW(&operation);
}
