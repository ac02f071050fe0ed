// System message texts and local memory.

#include "windows.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace {

struct Message {
    DWORD code;
    const wchar_t* text;
};

const Message system_messages[] = {
    {0, L"The operation completed successfully."},
    {1, L"Incorrect function."},
    {2, L"The system cannot find the file specified."},
    {3, L"The system cannot find the path specified."},
    {5, L"Access is denied."},
    {6, L"The handle is invalid."},
    {8, L"Not enough storage is available to process this command."},
    {11, L"An attempt was made to load a program with an incorrect format."},
    {13, L"The data is invalid."},
    {14, L"Not enough storage is available to complete this operation."},
    {29, L"The system cannot write to the specified device."},
    {30, L"The system cannot read from the specified device."},
    {31, L"A device attached to the system is not functioning."},
    {50, L"The request is not supported."},
    {80, L"The file exists."},
    {87, L"The parameter is incorrect."},
    {112, L"There is not enough space on the disk."},
    {122, L"The data area passed to a system call is too small."},
    {123, L"The filename, directory name, or volume label syntax is incorrect."},
    {126, L"The specified module could not be found."},
    {127, L"The specified procedure could not be found."},
    {145, L"The directory is not empty."},
    {183, L"Cannot create a file when that file already exists."},
    {1150, L"The specified program requires a newer version of Windows."},
};

}  // namespace

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) {
    void* memory = (flags & LMEM_ZEROINIT) ? std::calloc(1, bytes == 0 ? 1 : bytes)
                                           : std::malloc(bytes == 0 ? 1 : bytes);
    if (memory == nullptr) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return memory;
}

HLOCAL LocalFree(HLOCAL memory) {
    std::free(memory);
    return nullptr;
}

DWORD FormatMessageW(DWORD flags, LPCVOID /*source*/, DWORD messageId, DWORD /*languageId*/, LPWSTR buffer, DWORD size,
                     void* /*arguments*/) {
    if ((flags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || (flags & FORMAT_MESSAGE_IGNORE_INSERTS) == 0 ||
        buffer == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const wchar_t* text = nullptr;
    for (const Message& m : system_messages)
        if (m.code == messageId) text = m.text;
    if (text == nullptr) {
        SetLastError(ERROR_MR_MID_NOT_FOUND);
        return 0;
    }
    size_t length = std::wcslen(text) + 2;  // with "\r\n"
    LPWSTR target = buffer;
    if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
        size_t chars = length + 1 > size ? length + 1 : size;
        target = static_cast<LPWSTR>(LocalAlloc(LPTR, chars * sizeof(wchar_t)));
        if (target == nullptr) return 0;
        *reinterpret_cast<LPWSTR*>(buffer) = target;
    } else if (length + 1 > size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::wcscpy(target, text);
    std::wcscat(target, L"\r\n");
    return static_cast<DWORD>(length);
}
