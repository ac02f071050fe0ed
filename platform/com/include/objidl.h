// IStream and IMarshal with Windows' slot order: how an object that marshals itself by value travels.
#pragma once

#include "unknwn.h"
#include "windef.h"
#include "wtypes.h"

union LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
};
union ULARGE_INTEGER {
    struct {
        DWORD LowPart;
        DWORD HighPart;
    } u;
    ULONGLONG QuadPart;
};

struct STATSTG {
    LPOLESTR pwcsName;
    DWORD type;
    ULARGE_INTEGER cbSize;
    ULONGLONG mtime, ctime, atime;  // FILETIME values, not kept by memory streams
    DWORD grfMode;
    DWORD grfLocksSupported;
    CLSID clsid;
    DWORD grfStateBits;
    DWORD reserved;
};

#define STREAM_SEEK_SET 0
#define STREAM_SEEK_CUR 1
#define STREAM_SEEK_END 2
#define STGTY_STREAM 2
#define STATFLAG_DEFAULT 0
#define STATFLAG_NONAME 1
#define STG_E_INVALIDFUNCTION static_cast<HRESULT>(0x80030001L)
#define STG_E_MEDIUMFULL static_cast<HRESULT>(0x80030070L)

// {0C733A30-2A1C-11CE-ADE5-00AA0044773D}
DEFINE_GUID(IID_ISequentialStream, 0x0c733a30, 0x2a1c, 0x11ce, 0xad, 0xe5, 0x00, 0xaa, 0x00, 0x44, 0x77, 0x3d);
// {0000000C-0000-0000-C000-000000000046}
DEFINE_GUID(IID_IStream, 0x0000000c, 0x0000, 0x0000, 0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
// {00000003-0000-0000-C000-000000000046}
DEFINE_GUID(IID_IMarshal, 0x00000003, 0x0000, 0x0000, 0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

struct ISequentialStream : IUnknown {
    STDMETHOD(Read)(void* buffer, ULONG size, ULONG* read) = 0;
    STDMETHOD(Write)(const void* buffer, ULONG size, ULONG* written) = 0;

protected:
    ~ISequentialStream() = default;
};

struct IStream : ISequentialStream {
    STDMETHOD(Seek)(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) = 0;
    STDMETHOD(SetSize)(ULARGE_INTEGER size) = 0;
    STDMETHOD(CopyTo)(IStream* target, ULARGE_INTEGER size, ULARGE_INTEGER* read, ULARGE_INTEGER* written) = 0;
    STDMETHOD(Commit)(DWORD flags) = 0;
    STDMETHOD(Revert)() = 0;
    STDMETHOD(LockRegion)(ULARGE_INTEGER offset, ULARGE_INTEGER size, DWORD lockType) = 0;
    STDMETHOD(UnlockRegion)(ULARGE_INTEGER offset, ULARGE_INTEGER size, DWORD lockType) = 0;
    STDMETHOD(Stat)(STATSTG* stat, DWORD flags) = 0;
    STDMETHOD(Clone)(IStream** copy) = 0;

protected:
    ~IStream() = default;
};
typedef IStream* LPSTREAM;

// Destination contexts and marshal flags.
#define MSHCTX_LOCAL 0
#define MSHCTX_NOSHAREDMEM 1
#define MSHCTX_DIFFERENTMACHINE 2
#define MSHCTX_INPROC 3
#define MSHLFLAGS_NORMAL 0
#define MSHLFLAGS_TABLESTRONG 1
#define MSHLFLAGS_TABLEWEAK 2

// An object that implements IMarshal travels by value: the runtime asks GetUnmarshalClass for an in-process
// class, lets MarshalInterface write the object's bytes into a stream, and on the other side creates that class
// (CLSCTX_INPROC_SERVER, IID_IMarshal) and calls UnmarshalInterface on the same bytes.
struct IMarshal : IUnknown {
    STDMETHOD(GetUnmarshalClass)(REFIID riid, void* object, DWORD destContext, void* reserved, DWORD flags,
                                 CLSID* clsid) = 0;
    STDMETHOD(GetMarshalSizeMax)(REFIID riid, void* object, DWORD destContext, void* reserved, DWORD flags,
                                 DWORD* size) = 0;
    STDMETHOD(MarshalInterface)(IStream* stream, REFIID riid, void* object, DWORD destContext, void* reserved,
                                DWORD flags) = 0;
    STDMETHOD(UnmarshalInterface)(IStream* stream, REFIID riid, void** object) = 0;
    STDMETHOD(ReleaseMarshalData)(IStream* stream) = 0;
    STDMETHOD(DisconnectObject)(DWORD reserved) = 0;

protected:
    ~IMarshal() = default;
};
