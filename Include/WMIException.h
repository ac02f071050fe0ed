// The thrown-HRESULT convention of the provider: where an error is detected, ThrowHResult traces
// "Throwing HRESULT exception <file>:<line> (0x<code>)" and throws the HRESULT itself (a 32-bit signed
// integer); every COM entry point catches at its end, traces what it caught and returns the code.
#pragma once

#include "windows.h"

// The file name part of a source path ("Include/WMIProvider.cpp" -> "WMIProvider.cpp").
const char* WMISourceFileName(const char* path);

// Formats the throw trace into a 512-byte narrow buffer, writes it with OutputDebugStringA and throws code.
[[noreturn]] void ThrowHResult(const char* file, int line, HRESULT code);

// The traces of a catch: "Caught HRESULT exception %s:%d (0x%X)\n" and "Caught general exception %s:%d\n".
void TraceCaughtHResult(const char* file, int line, HRESULT code);
void TraceCaughtGeneral(const char* file, int line);

#define WMI_THROW(code) ThrowHResult(WMISourceFileName(__FILE__), __LINE__, (code))
// Throws the result of a call when it failed.
#define WMI_THROW_IF_FAILED(call)                        \
    do {                                                 \
        HRESULT wmi_result_ = (call);                    \
        if (FAILED(wmi_result_)) WMI_THROW(wmi_result_); \
    } while (0)
#define WMI_TRACE_CAUGHT(code) TraceCaughtHResult(WMISourceFileName(__FILE__), __LINE__, (code))
#define WMI_TRACE_CAUGHT_GENERAL() TraceCaughtGeneral(WMISourceFileName(__FILE__), __LINE__)
