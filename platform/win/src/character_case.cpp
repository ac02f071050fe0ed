// Character case folding with Unicode's simple mappings.

#include "qv_module_unload.h"
#include "winuser.h"

#include <clocale>
#include <cwctype>
#include <locale.h>

namespace {

// The process locale may be "C", where towlower only knows ASCII; the C.UTF-8 locale carries the full tables.
locale_t UnicodeLocale() {
    static const locale_t locale = [] {
        locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
        if (l == static_cast<locale_t>(0)) l = newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(0));
        if (l != static_cast<locale_t>(0))
            qv::win::AtModuleUnloadRelease([](void* held) { freelocale(static_cast<locale_t>(held)); }, l);
        return l;
    }();
    return locale;
}

WCHAR Lower(WCHAR c) { return static_cast<WCHAR>(towlower_l(static_cast<wint_t>(c), UnicodeLocale())); }

}  // namespace

LPWSTR CharLowerW(LPWSTR text) {
    auto value = reinterpret_cast<ULONG_PTR>(text);
    if ((value >> 16) == 0) return reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(Lower(static_cast<WCHAR>(value))));
    for (LPWSTR p = text; *p != L'\0'; ++p) *p = Lower(*p);
    return text;
}

DWORD CharLowerBuffW(LPWSTR text, DWORD length) {
    if (text == nullptr) return 0;
    for (DWORD i = 0; i < length; ++i) text[i] = Lower(text[i]);
    return length;
}
