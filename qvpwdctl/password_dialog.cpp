#include "password_dialog.h"

#include <cwchar>
#include <cwctype>

namespace qvpwdctl {

std::wstring EncodeKeyCodes(std::span<const uint16_t> codes) {
    if (codes.empty()) return {};
    std::wstring text = L"<kbd/>";
    for (uint16_t code : codes) {
        wchar_t digits[3];
        std::swprintf(digits, 3, L"%02X", static_cast<unsigned>(code & 0xFF));
        text += digits;
    }
    return text;
}

std::wstring DialogPrompt(const std::wstring& prompt, const std::wstring& defaultPrompt) {
    size_t first = 0, last = prompt.size();
    while (first < last && std::iswspace(prompt[first])) ++first;
    while (last > first && std::iswspace(prompt[last - 1])) --last;
    return first == last ? defaultPrompt : prompt.substr(first, last - first);
}

PasswordDialogRules::~PasswordDialogRules() {
    volatile uint16_t* codes = last_.data();
    for (size_t i = 0; i < last_.size(); ++i) codes[i] = 0;
    volatile wchar_t* text = encoding_.data();
    for (size_t i = 0; i < encoding_.size(); ++i) text[i] = 0;
}

PasswordDialogRules::Change PasswordDialogRules::OnPasswordChange(std::span<const uint16_t> codes) {
    size_t n = codes.size();
    if (n == last_.size() + 2 && codes[n - 1] == codes[n - 2]) return {true, last_};
    encoding_ = EncodeKeyCodes(codes);
    last_.assign(codes.begin(), codes.end());
    return {};
}

}  // namespace qvpwdctl
