#include "CommandLine.h"

#include <cwctype>

namespace {

constexpr size_t kNameBuffer = 260;  // characters, with the terminating NUL

bool SameName(const wchar_t* a, const wchar_t* b) {
    for (; *a != L'\0' && *b != L'\0'; ++a, ++b)
        if (std::towlower(static_cast<wint_t>(*a)) != std::towlower(static_cast<wint_t>(*b))) return false;
    return *a == *b;
}

}  // namespace

CommandLineFlags ParseCommandLine(LPCWSTR line) {
    CommandLineFlags flags;
    if (line == nullptr) return flags;
    const wchar_t* scan = line;
    for (;;) {
        while (*scan != L'\0' && *scan != L'-' && *scan != L'/') ++scan;
        if (*scan == L'\0') break;
        const wchar_t* start = scan + 1;
        wchar_t name[kNameBuffer] = {};
        size_t n = 0;
        for (const wchar_t* p = start; *p != L'\0' && *p != L' ' && *p != L'\t'; ++p)
            if (n < kNameBuffer - 1) name[n++] = *p;

        if (SameName(name, L"Embedding") || SameName(name, L"Automation")) {
            flags.bEmbedded = true;
            break;
        }
        if (SameName(name, L"Install") || SameName(name, L"RegServer"))
            flags.bInstall = true;
        else if (SameName(name, L"UnregServer") || SameName(name, L"Uninstall"))
            flags.bUninstall = true;
        else if (SameName(name, L"Clean"))
            flags.bClean = true;
        else if (SameName(name, L"TestMode"))
            flags.bTestmode = true;
        else if (SameName(name, L"Silent"))
            flags.bSilent = true;
        scan = start;
    }
    return flags;
}
