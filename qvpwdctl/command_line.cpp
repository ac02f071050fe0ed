#include "command_line.h"

#include <cwctype>

namespace qvpwdctl {

bool TakeSwitch(std::wstring& line, const wchar_t* name) {
    std::wstring wanted = name;
    size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && std::iswspace(line[at])) ++at;
        size_t end = at;
        while (end < line.size() && !std::iswspace(line[end])) ++end;
        if (end > at && (line[at] == L'-' || line[at] == L'/') && end - at - 1 >= wanted.size()) {
            bool same = true;
            for (size_t i = 0; i < wanted.size() && same; ++i)
                same = std::towlower(line[at + 1 + i]) == std::towlower(wanted[i]);
            if (same) {
                while (end < line.size() && std::iswspace(line[end])) ++end;
                line.erase(at, end - at);
                return true;
            }
        }
        at = end;
    }
    return false;
}

RunMode ParseCommandLine(std::wstring& line) {
    // Each name is looked for on its own, so "-unregserver" is never taken for "regserver".
    // Every name is taken out, also when another of the same meaning was found.
    auto take = [&](const wchar_t* first, const wchar_t* second) {
        bool found = TakeSwitch(line, first);
        return TakeSwitch(line, second) || found;
    };
    bool serve = take(L"Automation", L"Embedding");
    bool remove = take(L"uninstall", L"unregserver");
    bool add = take(L"install", L"regserver");
    if (serve) return RunMode::kServe;
    if (remove) return RunMode::kUnregister;
    if (add) return RunMode::kRegister;
    return RunMode::kStandAlone;
}

}  // namespace qvpwdctl
