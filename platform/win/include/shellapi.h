// Shell file operations.
#pragma once

#include "windows.h"

#define FO_MOVE 0x0001
#define FO_COPY 0x0002
#define FO_DELETE 0x0003
#define FO_RENAME 0x0004

#define FOF_MULTIDESTFILES 0x0001
#define FOF_SILENT 0x0004
#define FOF_RENAMEONCOLLISION 0x0008
#define FOF_NOCONFIRMATION 0x0010
#define FOF_ALLOWUNDO 0x0040
#define FOF_FILESONLY 0x0080
#define FOF_SIMPLEPROGRESS 0x0100
#define FOF_NOCONFIRMMKDIR 0x0200
#define FOF_NOERRORUI 0x0400

typedef WORD FILEOP_FLAGS;

struct SHFILEOPSTRUCTW {
    HWND hwnd;
    UINT wFunc;
    LPCWSTR pFrom;  // one or more paths, each NUL-terminated, the list ended by a second NUL
    LPCWSTR pTo;
    FILEOP_FLAGS fFlags;
    BOOL fAnyOperationsAborted;
    LPVOID hNameMappings;
    LPCWSTR lpszProgressTitle;
};
typedef SHFILEOPSTRUCTW* LPSHFILEOPSTRUCTW;

// FO_DELETE: deletes every file or folder of pFrom, folders with all their content. There is no user
// interface here, so the FOF_ flags change nothing (FOF_ALLOWUNDO deletes for good). Returns 0 when everything
// was deleted; ERROR_FILE_NOT_FOUND when a path does not exist (the paths before it are deleted, the ones
// after it are not); ERROR_INVALID_PARAMETER for an empty list, a wildcard, or a path that names a drive's
// root or the system root itself; ERROR_ACCESS_DENIED when a deletion fails. Other operations answer
// ERROR_NOT_SUPPORTED.
int SHFileOperationW(LPSHFILEOPSTRUCTW operation);
