// The working folder "vrxBIOS" for the length of one installation step: created when the object is made,
// deleted with everything in it when the object goes (SHFileOperationW, FO_DELETE, silent, no confirmation,
// no error UI). The files written there (MOF files, the library) never outlive the step that wrote them.
#pragma once

#include "windows.h"

#include <string>

class ScopedWorkingFolder {
public:
    ScopedWorkingFolder();
    ~ScopedWorkingFolder();
    ScopedWorkingFolder(const ScopedWorkingFolder&) = delete;
    ScopedWorkingFolder& operator=(const ScopedWorkingFolder&) = delete;

    // False when no usable base folder was found (GetWorkingFolder answered null); then nothing is deleted.
    bool Usable() const { return !folder_.empty(); }
    // The folder (ending in "\") followed by the file name; just the file name when the folder is not usable.
    std::wstring PathOf(LPCWSTR fileName) const { return folder_ + fileName; }

private:
    std::wstring folder_;
};
