// The native system interface of "ntdll.dll": the section calls that map physical memory, and their types.
//
// As on Windows, programs do not link against these: they resolve them by name from the module handle that
// GetModuleHandleW(L"ntdll.dll") returns (GetProcAddress). The only section there is "\Device\PhysicalMemory":
// the simulated machine's physical memory, mapped read-only as a copy taken when the view is mapped.
#pragma once

#include "windef.h"

typedef LONG NTSTATUS;
#define NT_SUCCESS(status) ((NTSTATUS)(status) >= 0)
#define STATUS_SUCCESS ((NTSTATUS)0x00000000L)
#define STATUS_INVALID_HANDLE ((NTSTATUS)0xC0000008L)
#define STATUS_INVALID_PARAMETER ((NTSTATUS)0xC000000DL)
#define STATUS_ACCESS_DENIED ((NTSTATUS)0xC0000022L)
#define STATUS_OBJECT_NAME_NOT_FOUND ((NTSTATUS)0xC0000034L)
#define STATUS_INVALID_PAGE_PROTECTION ((NTSTATUS)0xC0000045L)
#define STATUS_NOT_MAPPED_VIEW ((NTSTATUS)0xC0000019L)
#define STATUS_NO_MEMORY ((NTSTATUS)0xC0000017L)

#define SECTION_QUERY 0x0001
#define SECTION_MAP_WRITE 0x0002
#define SECTION_MAP_READ 0x0004
#define SECTION_MAP_EXECUTE 0x0008
#define OBJ_CASE_INSENSITIVE 0x00000040L

struct UNICODE_STRING {
    USHORT Length;         // bytes, without a terminator
    USHORT MaximumLength;  // bytes
    WCHAR* Buffer;
};
typedef UNICODE_STRING* PUNICODE_STRING;

struct OBJECT_ATTRIBUTES {
    ULONG Length;
    HANDLE RootDirectory;
    PUNICODE_STRING ObjectName;
    ULONG Attributes;
    void* SecurityDescriptor;
    void* SecurityQualityOfService;
};
typedef OBJECT_ATTRIBUTES* POBJECT_ATTRIBUTES;

#define InitializeObjectAttributes(p, n, a, r, s) \
    do {                                          \
        (p)->Length = sizeof(OBJECT_ATTRIBUTES);  \
        (p)->RootDirectory = (r);                 \
        (p)->Attributes = (a);                    \
        (p)->ObjectName = (n);                    \
        (p)->SecurityDescriptor = (s);            \
        (p)->SecurityQualityOfService = nullptr;  \
    } while (0)

union LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
};
typedef LARGE_INTEGER PHYSICAL_ADDRESS;

enum SECTION_INHERIT { ViewShare = 1, ViewUnmap = 2 };

// The entry points' types, for the pointers GetProcAddress returns.
typedef void (*RtlInitUnicodeStringFn)(PUNICODE_STRING target, const WCHAR* source);
typedef NTSTATUS (*NtOpenSectionFn)(HANDLE* section, DWORD desiredAccess, POBJECT_ATTRIBUTES attributes);
typedef NTSTATUS (*NtMapViewOfSectionFn)(HANDLE section, HANDLE process, void** baseAddress, ULONG_PTR zeroBits,
                                         SIZE_T commitSize, LARGE_INTEGER* sectionOffset, SIZE_T* viewSize,
                                         SECTION_INHERIT inherit, ULONG allocationType, ULONG protect);
typedef NTSTATUS (*NtUnmapViewOfSectionFn)(HANDLE process, void* baseAddress);
typedef ULONG (*RtlNtStatusToDosErrorFn)(NTSTATUS status);
