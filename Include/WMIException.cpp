#include "WMIException.h"

#include <cstdio>
#include <cstring>

const char* WMISourceFileName(const char* path) {
    if (path == nullptr) return "";
    const char* name = path;
    for (const char* p = path; *p != '\0'; ++p)
        if (*p == '/' || *p == '\\') name = p + 1;
    return name;
}

void ThrowHResult(const char* file, int line, HRESULT code) {
    char text[512];
    std::snprintf(text, sizeof text, "Throwing HRESULT exception %s:%d (0x%X)\n", file, line,
                  static_cast<unsigned>(code));
    OutputDebugStringA(text);
    throw static_cast<HRESULT>(code);
}

void TraceCaughtHResult(const char* file, int line, HRESULT code) {
    char text[512];
    std::snprintf(text, sizeof text, "Caught HRESULT exception %s:%d (0x%X)\n", file, line,
                  static_cast<unsigned>(code));
    OutputDebugStringA(text);
}

void TraceCaughtGeneral(const char* file, int line) {
    char text[512];
    std::snprintf(text, sizeof text, "Caught general exception %s:%d\n", file, line);
    OutputDebugStringA(text);
}
