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
    bool serve = TakeSwitch(line, L"Automation") | TakeSwitch(line, L"Embedding");
    bool remove = TakeSwitch(line, L"uninstall") | TakeSwitch(line, L"unregserver");
    bool add = TakeSwitch(line, L"install") | TakeSwitch(line, L"regserver");
    if (serve) return RunMode::kServe;
    if (remove) return RunMode::kUnregister;
    if (add) return RunMode::kRegister;
    return RunMode::kStandAlone;
}

}  // namespace qvpwdctl
