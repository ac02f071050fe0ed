// Message boxes on a terminal (behaviour described in winuser.h).

#include "qv_system_root.h"
#include "windows.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <string>

namespace {

std::mutex box_mutex;
size_t answers_used = 0;  // preset answers consumed by this process

// The next preset answer ("" when none is left or none was given).
std::string NextPresetAnswer() {
    const char* preset = std::getenv("QV_MESSAGEBOX_ANSWERS");
    if (preset == nullptr) return {};
    std::string all = preset;
    size_t start = 0;
    for (size_t i = 0; i < answers_used; ++i) {
        size_t comma = all.find(',', start);
        if (comma == std::string::npos) return {};
        start = comma + 1;
    }
    if (start > all.size()) return {};
    size_t end = all.find(',', start);
    std::string answer = all.substr(start, end == std::string::npos ? std::string::npos : end - start);
    ++answers_used;
    for (auto& c : answer) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return answer;
}

int AnswerFromText(const std::string& text, UINT buttons) {
    if (text.empty()) return 0;
    char first = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    switch (buttons) {
    case MB_YESNO: return first == 'y' ? IDYES : first == 'n' ? IDNO : 0;
    case MB_OKCANCEL: return first == 'o' ? IDOK : first == 'c' ? IDCANCEL : 0;
    default: return first == 'o' ? IDOK : 0;
    }
}

int NegativeAnswer(UINT buttons) { return buttons == MB_YESNO ? IDNO : buttons == MB_OKCANCEL ? IDCANCEL : IDOK; }

}  // namespace

int MessageBoxW(HWND, LPCWSTR text, LPCWSTR caption, UINT type) {
    std::lock_guard lock(box_mutex);
    UINT buttons = type & MB_TYPEMASK;
    const char* prompt = buttons == MB_YESNO ? " [Yes/No]" : buttons == MB_OKCANCEL ? " [OK/Cancel]" : " [OK]";
    std::string line = "[" + qv::win::ToUtf8(caption != nullptr ? caption : L"Error") + "] " +
                       qv::win::ToUtf8(text != nullptr ? text : L"") + prompt;
    std::cerr << line << std::flush;

    int answer = AnswerFromText(NextPresetAnswer(), buttons);
    if (answer == 0 && buttons != MB_OK && ::isatty(STDIN_FILENO)) {
        std::cerr << " " << std::flush;
        std::string reply;
        while (answer == 0 && std::getline(std::cin, reply)) answer = AnswerFromText(reply, buttons);
        if (answer != 0) {
            std::cerr << std::endl;
            return answer;
        }
    }
    if (answer == 0) answer = NegativeAnswer(buttons);
    const char* name = answer == IDYES ? "Yes" : answer == IDNO ? "No" : answer == IDCANCEL ? "Cancel" : "OK";
    std::cerr << " " << name << std::endl;
    return answer;
}
