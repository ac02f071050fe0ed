#include "ResourceFile.h"

#include "DebugTrace.h"

void ExtractResourceFile(HMODULE module, UINT id, LPCWSTR path) {
    WIN32_FILE_ATTRIBUTE_DATA existing;
    if (GetFileAttributesExW(path, GetFileExInfoStandard, &existing)) {
        DeleteFileW(path);
        Sleep(200);
    }
    if (GetFileAttributesExW(path, GetFileExInfoStandard, &existing)) {
        DebugTrace(L"[Warning] Pre-existing module found at [%s].", path);
        return;
    }

    HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(id), L"BINARY");
    if (resource == nullptr) return;
    HGLOBAL loaded = LoadResource(module, resource);
    if (loaded == nullptr) return;
    const void* bytes = LockResource(loaded);
    DWORD size = SizeofResource(module, resource);
    if (bytes == nullptr || size == 0) return;

    HANDLE file = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    if (!WriteFile(file, bytes, size, &written, nullptr) || written != size) {
        ReportLastError(0);
        CloseHandle(file);
        DeleteFileW(path);
        return;
    }
    CloseHandle(file);
}
